// A machine's drives as the drive chooser sees them: the DLL's imports of
// GetLogicalDriveStringsA, GetDriveTypeA and GetDiskFreeSpaceExA answer from a
// table, so drive types and free space are exact. And the chooser run from a
// test: a helper thread waits for the modal dialog, reads it and acts on it.
#ifndef KIV_TEST_DRIVE_FAKES_H
#define KIV_TEST_DRIVE_FAKES_H

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "import_hook.h"

const ULONGLONG MB = 1ull << 20;

struct FakeDrive {
    std::string root;         // "C:\\"
    UINT type;                // DRIVE_FIXED, ...
    bool readable;            // GetDiskFreeSpaceExA succeeds
    ULONGLONG availableBytes; // bytes available to the caller
};

// GetLogicalDriveStringsA answers: from the table, or fails with an error, or
// claims a size larger than the buffer and writes nothing.
enum class DriveStrings { FromTable, Fail, TooLong };

class FakeDrives {
public:
    explicit FakeDrives(std::vector<FakeDrive> drives, DriveStrings strings = DriveStrings::FromTable);
    ~FakeDrives();
    bool installed() const;
    // Paths passed to GetDiskFreeSpaceExA, in call order.
    static std::vector<std::string> FreeSpaceQueries();
private:
    std::unique_ptr<ImportHook> strings_, type_, free_;
};

// What the helper thread saw of the dialog.
struct DriveView {
    bool shown = false;
    HWND dialog = NULL;
    std::string caption, text, required, free;
    std::vector<std::string> items;
    int selected = -1;
    bool nextEnabled = false;
    RECT window = {};
    RECT client = {};
    bool stillOpenAfterAction = false; // the action did not end the dialog
};

DriveView ReadDriveDialog(HWND dialog);

// Acts on the open dialog; may update the view after acting.
typedef std::function<void(HWND dialog, DriveView &view)> DriveAction;

struct DriveRun {
    int result = 0;
    char buffer[8];
    DriveView view;
    bool shownByHook = false;
};

const char BUFFER_FILL = 'x';

// Calls AskDrive on this thread with a buffer of BUFFER_FILL bytes while a
// helper thread applies action to the dialog; a dialog that the action leaves
// open is ended with Cancel so the test never hangs.
DriveRun RunAskDrive(DWORD requiredMB, const char *title, const char *text, DriveAction action);
// The same through AskDriveW; the buffer then holds wide characters.
DriveRun RunAskDriveW(DWORD requiredMB, const wchar_t *title, const wchar_t *text, DriveAction action);

// Actions.
DriveAction Click(int id);
DriveAction Command(WORD id);
DriveAction PressEscape();
// Selects item index with a selection change notification, reads the view
// again, then ends with Cancel.
DriveAction SelectThenCancel(int index);

#endif
