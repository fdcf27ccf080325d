// Interception of everything the service exports of kiv_inst.dll reach: the
// service control manager calls, the pauses, the debugger lines and the boxes
// all land in one ordered trace. With a script the manager is a stand-in that
// never touches the real one; without, every call goes through to the real
// manager and is only recorded.
#ifndef KIV_TEST_SCM_SESSION_H
#define KIV_TEST_SCM_SESSION_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "capture.h"

// One scripted answer: an error code (0 for success) and, for status calls,
// the state written into the caller's SERVICE_STATUS.
struct ScmAnswer {
    DWORD error;
    DWORD state;
};

struct ScmScript {
    DWORD openManagerError = 0;
    DWORD openServiceError = 0;
    DWORD createError = 0;
    // Answers per call in order; once they run out the last one repeats, and
    // an empty list means success (for queries: running).
    std::vector<DWORD> startErrors;
    std::vector<ScmAnswer> controls;
    std::vector<ScmAnswer> queries;
    DWORD deleteError = 0;
    DWORD closeServiceError = 0;
    DWORD closeManagerError = 0;
};

class ScmSession {
public:
    // script == nullptr: the real manager. interceptSleep: pauses are
    // recorded and return at once; otherwise they really wait.
    explicit ScmSession(const ScmScript *script, bool interceptSleep = true);
    ~ScmSession();
    ScmSession(const ScmSession &) = delete;
    ScmSession &operator=(const ScmSession &) = delete;

    bool installed() const;
    // Calls as "Name(args)", pauses as "Sleep(ms)", reports as
    // "report <step>: <system text>", boxes as "box <caption>: <text>" and
    // the two direct debugger lines as "line <text>".
    std::vector<std::string> trace() const;

private:
    DebugCapture debug_;
    BoxCapture boxes_;
    EventCapture events_;
    std::unique_ptr<SleepCapture> sleep_;
    std::vector<std::unique_ptr<ImportHook>> hooks_;
};

// The journal entries of one outlet written on the calling thread: the
// library's entry point reports the host's other threads as they come and go.
std::vector<JournalEntry> OnThisThread(Outlet outlet);

// The system's text for an error code, as the reporter shows it.
std::string SystemText(DWORD code);

// Expected trace entries.
std::string ReportEntry(const char *step, DWORD code);
std::string BoxEntry(const char *step, DWORD code);

#endif
