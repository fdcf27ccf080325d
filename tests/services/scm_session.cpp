#include "scm_session.h"

#include <stdio.h>
#include <string.h>

namespace {

SC_HANDLE const FAKE_MANAGER = (SC_HANDLE)(ULONG_PTR)0x5C0000A0;
SC_HANDLE const FAKE_SERVICE = (SC_HANDLE)(ULONG_PTR)0x5C0000B0;

const char *const STEP_TEXTS[] = {OPEN_DATABASE, CLOSE_DATABASE, CREATING, DELETING,
                                  OPEN_HANDLE,   CLOSE_HANDLE,   STARTING, STOPPING};

// One session at a time: the hooks are plain functions.
const ScmScript *g_script = nullptr;
std::vector<std::string> g_trace;
SC_HANDLE g_manager = NULL, g_service = NULL;
size_t g_starts = 0, g_controls = 0, g_queries = 0;
std::string g_pendingStep; // a report whose system text is still to come
bool g_sawSeparator = false;
// Only the thread that opened the session is traced; the entry point writes
// lines for other threads as they start and end.
DWORD g_thread = 0;

struct Originals {
    void *openManager, *openService, *createService, *startService, *controlService, *queryStatus,
        *deleteService, *closeHandle, *sleep, *debug, *box;
} g_real;

std::string Hex(DWORD value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%lx", (unsigned long)value);
    return text;
}

std::string Text(const char *s)
{
    return s ? s : "null";
}

std::string HandleName(SC_HANDLE h)
{
    if (h == NULL)
        return "null";
    if (h == g_manager)
        return "manager";
    if (h == g_service)
        return "service";
    return "other";
}

template <typename T> T Answer(const std::vector<T> &list, size_t index, T fallback)
{
    if (list.empty())
        return fallback;
    return index < list.size() ? list[index] : list.back();
}

bool Fail(DWORD error)
{
    if (error == 0)
        return false;
    SetLastError(error);
    return true;
}

SC_HANDLE WINAPI HookOpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access)
{
    g_trace.push_back("OpenSCManagerA(" + Text(machine) + ", " + Text(database) + ", " + Hex(access) + ")");
    if (g_script == nullptr) {
        typedef SC_HANDLE(WINAPI * Fn)(LPCSTR, LPCSTR, DWORD);
        return g_manager = ((Fn)g_real.openManager)(machine, database, access);
    }
    return Fail(g_script->openManagerError) ? NULL : (g_manager = FAKE_MANAGER);
}

SC_HANDLE WINAPI HookOpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access)
{
    g_trace.push_back("OpenServiceA(" + HandleName(manager) + ", " + Text(name) + ", " + Hex(access) + ")");
    if (g_script == nullptr) {
        typedef SC_HANDLE(WINAPI * Fn)(SC_HANDLE, LPCSTR, DWORD);
        return g_service = ((Fn)g_real.openService)(manager, name, access);
    }
    return Fail(g_script->openServiceError) ? NULL : (g_service = FAKE_SERVICE);
}

SC_HANDLE WINAPI HookCreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR display, DWORD access,
                                    DWORD type, DWORD start, DWORD errorControl, LPCSTR path,
                                    LPCSTR group, LPDWORD tag, LPCSTR dependencies, LPCSTR account,
                                    LPCSTR password)
{
    g_trace.push_back("CreateServiceA(" + HandleName(manager) + ", " + Text(name) + ", " + Text(display) +
                      ", " + Hex(access) + ", " + Hex(type) + ", " + Hex(start) + ", " + Hex(errorControl) +
                      ", " + Text(path) + ", " + Text(group) + ", " + (tag ? "tag" : "null") + ", " +
                      Text(dependencies) + ", " + Text(account) + ", " + Text(password) + ")");
    if (g_script == nullptr) {
        typedef SC_HANDLE(WINAPI * Fn)(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR,
                                       LPCSTR, LPDWORD, LPCSTR, LPCSTR, LPCSTR);
        return g_service = ((Fn)g_real.createService)(manager, name, display, access, type, start,
                                                      errorControl, path, group, tag, dependencies,
                                                      account, password);
    }
    return Fail(g_script->createError) ? NULL : (g_service = FAKE_SERVICE);
}

BOOL WINAPI HookStartServiceA(SC_HANDLE service, DWORD argc, LPCSTR *argv)
{
    g_trace.push_back("StartServiceA(" + HandleName(service) + ", " + std::to_string(argc) + ", " +
                      (argv ? "args" : "null") + ")");
    if (g_script == nullptr) {
        typedef BOOL(WINAPI * Fn)(SC_HANDLE, DWORD, LPCSTR *);
        return ((Fn)g_real.startService)(service, argc, argv);
    }
    return !Fail(Answer<DWORD>(g_script->startErrors, g_starts++, 0));
}

BOOL WINAPI HookControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status)
{
    g_trace.push_back("ControlService(" + HandleName(service) + ", " + std::to_string(control) + ")");
    if (g_script == nullptr) {
        typedef BOOL(WINAPI * Fn)(SC_HANDLE, DWORD, LPSERVICE_STATUS);
        return ((Fn)g_real.controlService)(service, control, status);
    }
    ScmAnswer a = Answer<ScmAnswer>(g_script->controls, g_controls++, ScmAnswer{0, SERVICE_STOP_PENDING});
    if (status != NULL)
        status->dwCurrentState = a.state;
    return !Fail(a.error);
}

BOOL WINAPI HookQueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    g_trace.push_back("QueryServiceStatus(" + HandleName(service) + ")");
    if (g_script == nullptr) {
        typedef BOOL(WINAPI * Fn)(SC_HANDLE, LPSERVICE_STATUS);
        return ((Fn)g_real.queryStatus)(service, status);
    }
    ScmAnswer a = Answer<ScmAnswer>(g_script->queries, g_queries++, ScmAnswer{0, SERVICE_RUNNING});
    if (a.error != 0) {
        // What a failed call leaves behind must not count as a state.
        if (status != NULL)
            status->dwCurrentState = 0xBAD;
        return !Fail(a.error);
    }
    if (status != NULL)
        status->dwCurrentState = a.state;
    return TRUE;
}

BOOL WINAPI HookDeleteService(SC_HANDLE service)
{
    g_trace.push_back("DeleteService(" + HandleName(service) + ")");
    if (g_script == nullptr) {
        typedef BOOL(WINAPI * Fn)(SC_HANDLE);
        return ((Fn)g_real.deleteService)(service);
    }
    return !Fail(g_script->deleteError);
}

BOOL WINAPI HookCloseServiceHandle(SC_HANDLE handle)
{
    std::string which = HandleName(handle);
    g_trace.push_back("CloseServiceHandle(" + which + ")");
    if (g_script == nullptr) {
        typedef BOOL(WINAPI * Fn)(SC_HANDLE);
        return ((Fn)g_real.closeHandle)(handle);
    }
    DWORD error = which == "manager" ? g_script->closeManagerError
                : which == "service" ? g_script->closeServiceError
                                     : ERROR_INVALID_HANDLE;
    return !Fail(error);
}

void WINAPI HookSleep(DWORD milliseconds)
{
    if (GetCurrentThreadId() == g_thread)
        g_trace.push_back("Sleep(" + std::to_string(milliseconds) + ")");
    ((void(WINAPI *)(DWORD))g_real.sleep)(milliseconds);
}

// The reporter writes a step, ": ", the system text and " \n"; the two
// direct lines come in one piece.
void WINAPI HookOutputDebugStringA(LPCSTR text)
{
    DWORD error = GetLastError();
    std::string piece = Text(text);
    if (GetCurrentThreadId() != g_thread) {
        // not traced
    } else if (!g_pendingStep.empty() && g_sawSeparator) {
        g_trace.push_back("report " + g_pendingStep + ": " + piece);
        g_pendingStep.clear();
        g_sawSeparator = false;
    } else if (!g_pendingStep.empty() && piece == ": ") {
        g_sawSeparator = true;
    } else if ("line " + piece == LINE_RUNNING || "line " + piece == LINE_NOT_RUNNING) {
        g_trace.push_back("line " + piece);
    } else {
        for (const char *step : STEP_TEXTS)
            if (piece == step)
                g_pendingStep = piece;
    }
    ((void(WINAPI *)(LPCSTR))g_real.debug)(text);
    SetLastError(error);
}

int WINAPI HookMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    if (GetCurrentThreadId() == g_thread)
        g_trace.push_back("box " + Text(caption) + ": " + Text(text));
    return ((int(WINAPI *)(HWND, LPCSTR, LPCSTR, UINT))g_real.box)(owner, text, caption, style);
}

} // namespace

ScmSession::ScmSession(const ScmScript *script, bool interceptSleep)
{
    g_script = script;
    g_thread = GetCurrentThreadId();
    g_trace.clear();
    g_manager = g_service = NULL;
    g_starts = g_controls = g_queries = 0;
    g_pendingStep.clear();
    g_sawSeparator = false;
    journal::Clear();
    if (interceptSleep)
        sleep_.reset(new SleepCapture());

    struct {
        const char *name;
        void *hook;
        void **original;
    } const table[] = {
        {"OpenSCManagerA", (void *)HookOpenSCManagerA, &g_real.openManager},
        {"OpenServiceA", (void *)HookOpenServiceA, &g_real.openService},
        {"CreateServiceA", (void *)HookCreateServiceA, &g_real.createService},
        {"StartServiceA", (void *)HookStartServiceA, &g_real.startService},
        {"ControlService", (void *)HookControlService, &g_real.controlService},
        {"QueryServiceStatus", (void *)HookQueryServiceStatus, &g_real.queryStatus},
        {"DeleteService", (void *)HookDeleteService, &g_real.deleteService},
        {"CloseServiceHandle", (void *)HookCloseServiceHandle, &g_real.closeHandle},
        {"Sleep", (void *)HookSleep, &g_real.sleep},
        {"OutputDebugStringA", (void *)HookOutputDebugStringA, &g_real.debug},
        {"MessageBoxA", (void *)HookMessageBoxA, &g_real.box},
    };
    // Installed over the captures, so pauses, lines and boxes still reach
    // the journal (and never the screen) after being traced.
    for (const auto &row : table) {
        hooks_.emplace_back(new ImportHook(KivModule(), NULL, row.name, row.hook));
        *row.original = hooks_.back()->original();
    }
}

ScmSession::~ScmSession()
{
    // Reverse order: the trace hooks come off before the captures below them.
    while (!hooks_.empty())
        hooks_.pop_back();
    g_script = nullptr;
}

bool ScmSession::installed() const
{
    for (const auto &hook : hooks_)
        if (!hook->installed())
            return false;
    return true;
}

std::vector<std::string> ScmSession::trace() const
{
    return g_trace;
}

std::vector<JournalEntry> OnThisThread(Outlet outlet)
{
    std::vector<JournalEntry> mine;
    for (const JournalEntry &e : journal::Of(outlet))
        if (e.threadId == GetCurrentThreadId())
            mine.push_back(e);
    return mine;
}

std::string ReportEntry(const char *step, DWORD code)
{
    return std::string("report ") + step + ": " + SystemText(code);
}

std::string BoxEntry(const char *step, DWORD code)
{
    return std::string("box ") + step + ": " + SystemText(code);
}

std::string OpenServiceEntry(const std::string &name)
{
    return "OpenServiceA(manager, " + name + ", 0xf01ff)";
}

Trace Cat(std::initializer_list<Trace> parts)
{
    Trace all;
    for (const Trace &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Trace Repeat(int times, const Trace &part)
{
    Trace all;
    for (int i = 0; i < times; i++)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
