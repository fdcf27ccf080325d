// Window automation for tests: finds a dialog that another thread of this
// process (or another process of the session) shows, reads its controls and
// presses its buttons, as a user would.
#ifndef KIV_TEST_DIALOG_DRIVER_H
#define KIV_TEST_DIALOG_DRIVER_H

#include <windows.h>

#include <string>
#include <vector>

// The first visible dialog (class #32770) of the thread, polled until it shows,
// stop is signalled or timeoutMs pass; NULL if none showed.
HWND WaitForThreadDialog(DWORD threadId, HANDLE stop, DWORD timeoutMs);

// A visible top-level dialog with exactly this caption, in any process.
HWND WaitForDialogByCaption(const char *caption, DWORD timeoutMs);

// True once the window no longer exists, false after timeoutMs.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

// Texts read with WM_GETTEXT, whatever their length.
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
std::vector<std::string> ListBoxItems(HWND list);

// The control's accessible name as a screen reader asks for it (oleacc, the
// client object's name); empty when it has none. COM must be initialised.
std::string AccessibleName(HWND control);

// Presses a button the way a mouse click does; a disabled button ignores it.
void ClickButton(HWND dialog, int id);

// Watches the calling thread's window procedures and notes whether any dialog
// was shown while the watch lived.
class ShowWatch {
public:
    ShowWatch();
    ~ShowWatch();
    ShowWatch(const ShowWatch &) = delete;
    ShowWatch &operator=(const ShowWatch &) = delete;
    bool dialogShown() const;
    bool installed() const { return hook_ != NULL; }
private:
    HHOOK hook_;
};

#endif
