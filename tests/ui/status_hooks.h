// Watches the status window from inside kiv_inst.dll: records the calls it
// makes to the animation control, the window manager, the text measurement,
// the loader, the AVI file library, the monitors and the DPI functions, with
// its debugger lines, in one ordered log, and can fake a measurement, make
// one animation message fail, the AVI file library go missing or a second
// monitor appear.
#ifndef KIV_TEST_STATUS_HOOKS_H
#define KIV_TEST_STATUS_HOOKS_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "clipart.h"
#include "import_hook.h"

struct StatusCall {
    std::string fn;   // "debug", "SendMessageA", "MoveWindow", "SetTimer", "AVIFileInit", ...
    std::string text; // debugger text, ACM_OPEN path, AVIFileOpenA or LoadLibraryExW name
    HWND hwnd = NULL;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0; // DrawTextA: the font selected into the context
    int x = 0, y = 0, w = 0, h = 0; // MoveWindow; DrawTextA: x, y the size measured, w the width given
    UINT_PTR timer = 0;
    LRESULT result = 0;
};

// Installs every hook while it lives. Only calls made on the thread that
// created it are logged: the animation control's own threads pass through
// the library's entry point too.
class StatusWatch {
public:
    StatusWatch();
    ~StatusWatch();
    StatusWatch(const StatusWatch &) = delete;
    StatusWatch &operator=(const StatusWatch &) = delete;

    std::vector<StatusCall> Calls() const;
    std::vector<StatusCall> Calls(const char *fn) const;
    // The debugger texts, one per OutputDebugStringA call: the status window
    // writes each of its lines whole.
    std::vector<std::string> Lines() const;
    std::vector<StatusCall> AnimateMessages() const; // ACM_OPEN, ACM_PLAY, ACM_STOP
    int Count(const char *fn) const { return (int)Calls(fn).size(); }
    void Clear();

    // DrawTextA answers with a rectangle of this size instead of measuring;
    // in any font but the device context's default one with the second size,
    // where one is given.
    void FakeMeasure(int width, int height, int fontWidth = 0, int fontHeight = 0);
    // SendMessageA of this animation message returns 0 without reaching the
    // control.
    void FailMessage(UINT msg);
    // AVIFileOpenA opens any name, AVIFileInfoA reports this frame size and
    // AVIFileRelease releases nothing: the real library is not reached.
    void FakeAviFile(int width, int height);
    // LoadLibraryExW with a LOAD_LIBRARY_SEARCH_ flag fails with this error
    // (ERROR_INVALID_PARAMETER: a system without those flags), unless 0;
    // GetProcAddress finds no function of this name.
    void RefuseSearchFlags(DWORD error, const char *missingFunction);
    // MonitorFromRect and GetMonitorInfoA know a second monitor with this
    // rectangle and work area, right of the real screen.
    void AddMonitor(const RECT &monitor, const RECT &work);
    // GetSystemMetricsForDpi answers this many pixels more than the system.
    void AddToMetricsForDpi(int pixels);

private:
    std::vector<std::unique_ptr<ImportHook>> hooks_;
};

// Dispatches this thread's messages for the given time.
void PumpMessages(DWORD milliseconds);

// "ACM_OPEN path", "ACM_OPEN #107", "ACM_OPEN close", "ACM_PLAY", "ACM_STOP"
// for each animation message, to compare whole sequences at once.
std::vector<std::string> Describe(const std::vector<StatusCall> &messages);

// The pictures drawn for built-in clip 102, 107 or 109, drawn once a run
// (drawing takes a second or more); empty frames for any other id.
const ClipPictures &DrawnClip(int resourceId);

#endif
