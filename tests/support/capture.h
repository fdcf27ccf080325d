// Capture of what the module under test sends to its outlets: debugger lines,
// message boxes, event records and pauses. Each capture patches the module's
// imports while it lives; all of them write into one journal, so a test can
// check the order in which outlets were reached.
#ifndef KIV_TEST_CAPTURE_H
#define KIV_TEST_CAPTURE_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "guarded.h"
#include "import_hook.h"

enum class Outlet { Debug, Box, EventRegister, EventReport, EventDeregister, Sleep };

struct JournalEntry {
    Outlet outlet;
    std::string text;                 // debugger text, box text, event source name
    std::string caption;              // box caption
    UINT style = 0;                   // box style
    WORD type = 0, category = 0;      // event record
    DWORD eventId = 0;
    bool hasSid = false;
    HANDLE handle = NULL;             // event source handle used
    std::vector<std::string> strings; // event record strings
    DWORD milliseconds = 0;           // pause
    DWORD threadId = 0;
    bool wide = false;                // came through the wide call; texts in UTF-8
};

namespace journal {
void Clear();
std::vector<JournalEntry> Entries();
std::vector<JournalEntry> Of(Outlet outlet);
// All debugger output concatenated, and split into lines (each keeps its
// closing "\n"; a last piece without one is a line too).
std::string DebugText();
std::vector<std::string> DebugLines();
} // namespace journal

// The system's text for an error code, as the reporters look it up: the
// user's default language, inserts left unexpanded; empty when there is none.
std::string SystemText(DWORD code);

// UTF-16 as UTF-8, for comparing wide texts in tests.
std::string Utf8(const std::wstring &text);

// OutputDebugStringA and OutputDebugStringW: recorded, not passed on.
class DebugCapture {
public:
    explicit DebugCapture(HMODULE module = KivModule());
private:
    ImportHook hook_, hookW_;
};

// MessageBoxA and MessageBoxW: recorded and answered with `answer`, never
// shown.
class BoxCapture {
public:
    explicit BoxCapture(HMODULE module = KivModule(), int answer = IDOK);
private:
    ImportHook hook_, hookW_;
};

// RegisterEventSourceA, ReportEventA and ReportEventW, DeregisterEventSource:
// recorded.
// Registration hands out a fake handle, or fails with failError when that is
// nonzero; reports succeed unless failReports is set. Handles that did not
// come from the capture are passed to the real DeregisterEventSource.
class EventCapture {
public:
    explicit EventCapture(HMODULE module = KivModule(), DWORD failRegisterError = 0,
                          bool failReports = false);
    ~EventCapture();
    static HANDLE FakeHandle();
private:
    ImportHook register_, report_, reportW_, deregister_;
};

// Sleep: recorded, returns at once.
class SleepCapture {
public:
    explicit SleepCapture(HMODULE module = KivModule());
private:
    ImportHook hook_;
};

// Makes the named import fail: returns `result` after setting `error` as the
// last error code. Works for imports with up to eight 32-bit arguments that
// use the system's calling convention (the callee removes `argBytes`).
class FailingImport {
public:
    FailingImport(HMODULE module, const char *dll, const char *function, int argBytes,
                  DWORD result, DWORD error);
    ~FailingImport();
    bool installed() const { return hook_ && hook_->installed(); }
    // How often the import was called while failing.
    int calls() const;
private:
    int index_ = -1;
    std::unique_ptr<ImportHook> hook_;
};

// GetCommandLineW answers with `line`, given in the ANSI code page or wide,
// from guarded memory: a read past the line's end faults at once. One at a
// time; the uninstall hook reads its folder from the wide command line.
class WideCommandLine {
public:
    WideCommandLine(HMODULE module, const std::string &line);
    WideCommandLine(HMODULE module, const std::wstring &line);
    ~WideCommandLine();
    bool installed() const { return hook_ && hook_->installed(); }
private:
    void Install(HMODULE module, const std::wstring &line);
    std::unique_ptr<GuardedText> text_;
    std::unique_ptr<ImportHook> hook_;
};

#endif
