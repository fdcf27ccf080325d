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


// ---- the vocabulary of expected traces ---------------------------------------

typedef std::vector<std::string> Trace;

// The step texts of the exports' reports.
const char OPEN_DATABASE[] = "Opening service database";
const char CLOSE_DATABASE[] = "Closing service database";
const char CREATING[] = "Creating service";
const char DELETING[] = "Deleting service";
const char OPEN_HANDLE[] = "Opening service handle";
const char CLOSE_HANDLE[] = "Closing service handle";
const char STARTING[] = "Starting service";
const char STOPPING[] = "Stopping service";

// Calls as the library makes them on its two handles.
const std::string OPEN_MANAGER = "OpenSCManagerA(null, null, 0xf003f)";
const std::string START = "StartServiceA(service, 0, null)";
const std::string STOP = "ControlService(service, 1)";
const std::string PAUSE = "Sleep(1000)";
const std::string QUERY = "QueryServiceStatus(service)";
const std::string DELETE_CALL = "DeleteService(service)";
const std::string CLOSE_SERVICE = "CloseServiceHandle(service)";
const std::string CLOSE_MANAGER = "CloseServiceHandle(manager)";
const std::string LINE_RUNNING = "line ssStatus.dwCurrentState == SERVICE_RUNNING\n";
const std::string LINE_NOT_RUNNING = "line ssStatus.dwCurrentState != SERVICE_RUNNING\n";

std::string OpenServiceEntry(const std::string &name);
std::string ReportEntry(const char *step, DWORD code);
std::string BoxEntry(const char *step, DWORD code);

Trace Cat(std::initializer_list<Trace> parts);
Trace Repeat(int times, const Trace &part);

#endif
