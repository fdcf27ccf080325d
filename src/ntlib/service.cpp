// Stopping and removing services under the service database lock, and the
// two state queries; every failure and every stop or removal is an event
// record.
#include <strsafe.h>

#include "kiv_inst.h"
#include "ntlib/kiv_nt.h"

// Each stop or removal formats its report into this many bytes.
#define SERVICE_MESSAGE_SIZE 1024
#define STARTER_NAME_SIZE 256
// Room for the longest step format, widened for a wide name.
#define SERVICE_FORMAT_CHARS 64

static const WORD SERVICE_CATEGORY = 5;

// The longest wait for a pending service's own hint. The database lock is
// held meanwhile, and with it every other program that needs the manager.
static const DWORD PENDING_WAIT_MAX_MS = 30000;

static const char STOP_OPEN_MANAGER[] = "KIV_NT_StopService(%s): OpenSCManager";
static const char STOP_LOCK[] = "KIV_NT_StopService(%s): LockServiceDatabase";
static const char STOP_OPEN_SERVICE[] = "KIV_NT_StopService(%s): OpenService";
static const char STOP_CONTROL[] = "KIV_NT_StopService(%s): ControlService";
static const char STOP_DONE[] = "KIV_NT_StopService: Service %s stopped.";

static const char REMOVE_OPEN_MANAGER[] = "KIV_NT_RemoveService(%s): OpenSCManager";
static const char REMOVE_LOCK[] = "KIV_NT_RemoveService(%s): LockServiceDatabase";
static const char REMOVE_OPEN_SERVICE[] = "KIV_NT_RemoveService(%s): OpenService";
static const char REMOVE_QUERY[] = "KIV_NT_RemoveService(%s): QueryServiceStatus";
static const char REMOVE_CONTROL[] = "KIV_NT_RemoveService(%s): ControlService";
static const char REMOVE_DELETE[] = "KIV_NT_RemoveService(%s): DeleteService";
static const char REMOVE_DONE[] = "KIV_NT_RemoveService: Removed service %s.\n";

static const char QUERY_OPEN_MANAGER[] = "Opening service database";
static const char QUERY_CLOSE_MANAGER[] = "Closing service database";
static const char QUERY_CLOSE_SERVICE[] = "Closing service handle";
static const char QUERY_STATUS[] = "Querying service configuration";

static const char STARTER_FORMAT[] = "%s%d";
static const char STARTER_PREFIX[] = "KivProcessStarter";
static const int STARTER_COUNT = 100;

// Stopping and removing take a narrow or a wide name (wide nonzero), as the
// queries below do: the manager is asked by the very name given, and the
// record carries it. This and OpenLocked hold the whole A/W difference.

// Reports a step with the name; failures carry the code the caller read
// right after the step, successes code 0.
static void Report(const char *format, const void *name, int wide, DWORD code, WORD type)
{
    if (!wide) {
        char message[SERVICE_MESSAGE_SIZE] = {0};
        StringCchPrintfA(message, SERVICE_MESSAGE_SIZE, format, (const char *)name);
        KIV_NT_WriteEventLog(message, code, type, SERVICE_CATEGORY);
        return;
    }
    // The formats are ASCII; msvcrt's wide printf takes %s as wide.
    WCHAR wideFormat[SERVICE_FORMAT_CHARS] = {0};
    MultiByteToWideChar(CP_ACP, 0, format, -1, wideFormat, SERVICE_FORMAT_CHARS);
    WCHAR message[SERVICE_MESSAGE_SIZE] = {0};
    StringCchPrintfW(message, SERVICE_MESSAGE_SIZE, wideFormat, (const WCHAR *)name);
    KIV_NT_WriteEventLogW(message, code, type, SERVICE_CATEGORY);
}

static void ReportStep(const char *format, const void *name, int wide, DWORD code)
{
    Report(format, name, wide, code, EVENTLOG_ERROR_TYPE);
}

static void ReportDone(const char *format, const void *name, int wide)
{
    Report(format, name, wide, 0, EVENTLOG_INFORMATION_TYPE);
}

static void ReportQueryStep(const char *message)
{
    DWORD code = GetLastError();
    KIV_NT_WriteEventLog(message, code, EVENTLOG_ERROR_TYPE, SERVICE_CATEGORY);
}

// Opens the manager, locks the database and opens the service, reporting the
// step that fails with the given texts. On success all three are held.
struct ServiceStepTexts {
    const char *openManager;
    const char *lock;
    const char *openService;
};

static bool OpenLocked(const void *name, int wide, const ServiceStepTexts &texts, SC_HANDLE *manager,
                       SC_LOCK *lock, SC_HANDLE *service)
{
    *manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (*manager == NULL) {
        ReportStep(texts.openManager, name, wide, GetLastError());
        return false;
    }
    *lock = LockServiceDatabase(*manager);
    if (*lock == NULL) {
        ReportStep(texts.lock, name, wide, GetLastError());
        CloseServiceHandle(*manager);
        return false;
    }
    *service = wide ? OpenServiceW(*manager, (const WCHAR *)name, SERVICE_ALL_ACCESS)
                    : OpenServiceA(*manager, (const char *)name, SERVICE_ALL_ACCESS);
    if (*service == NULL) {
        ReportStep(texts.openService, name, wide, GetLastError());
        UnlockServiceDatabase(*lock);
        CloseServiceHandle(*manager);
        return false;
    }
    return true;
}

static void CloseLocked(SC_HANDLE manager, SC_LOCK lock, SC_HANDLE service)
{
    CloseServiceHandle(service);
    UnlockServiceDatabase(lock);
    CloseServiceHandle(manager);
}

static BOOLEAN StopService(const void *name, int wide)
{
    static const ServiceStepTexts texts = {STOP_OPEN_MANAGER, STOP_LOCK, STOP_OPEN_SERVICE};
    SC_HANDLE manager, service;
    SC_LOCK lock;
    if (!OpenLocked(name, wide, texts, &manager, &lock, &service))
        return 0;

    // A pending service gets one wait of its own hint, with the lock held.
    SERVICE_STATUS queried = {};
    BOOL haveQueried = QueryServiceStatus(service, &queried);
    if (haveQueried && (queried.dwCurrentState == SERVICE_START_PENDING ||
                        queried.dwCurrentState == SERVICE_STOP_PENDING))
        Sleep(queried.dwWaitHint < PENDING_WAIT_MAX_MS ? queried.dwWaitHint : PENDING_WAIT_MAX_MS);

    // State 0 is no state: it tells whether the manager filled the status
    // when it refused the control.
    SERVICE_STATUS controlled = {};
    BOOL accepted = ControlService(service, SERVICE_CONTROL_STOP, &controlled);
    DWORD code = GetLastError();
    DWORD lastState = controlled.dwCurrentState;
    if (lastState == 0 && haveQueried)
        lastState = queried.dwCurrentState;

    BOOLEAN result = 0;
    if (accepted || lastState == SERVICE_STOPPED) {
        ReportDone(STOP_DONE, name, wide);
        result = 1;
    } else {
        ReportStep(STOP_CONTROL, name, wide, code);
    }
    CloseLocked(manager, lock, service);
    return result;
}

static BOOLEAN RemoveService(const void *name, int wide)
{
    static const ServiceStepTexts texts = {REMOVE_OPEN_MANAGER, REMOVE_LOCK, REMOVE_OPEN_SERVICE};
    SC_HANDLE manager, service;
    SC_LOCK lock;
    if (!OpenLocked(name, wide, texts, &manager, &lock, &service))
        return 0;

    BOOLEAN result = 0;
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status)) {
        ReportStep(REMOVE_QUERY, name, wide, GetLastError());
        CloseLocked(manager, lock, service);
        return 0;
    }
    // Only a running service is asked to stop; there is no wait for it.
    if (status.dwCurrentState == SERVICE_RUNNING &&
        !ControlService(service, SERVICE_CONTROL_STOP, &status))
        ReportStep(REMOVE_CONTROL, name, wide, GetLastError());

    if (DeleteService(service)) {
        ReportDone(REMOVE_DONE, name, wide);
        result = 1;
    } else {
        ReportStep(REMOVE_DELETE, name, wide, GetLastError());
    }
    CloseLocked(manager, lock, service);
    return result;
}

BOOLEAN KIV_NT_StopService(const char *name)
{
    return StopService(name, 0);
}

BOOLEAN KIV_NT_RemoveService(const char *name)
{
    return RemoveService(name, 0);
}

BOOLEAN KIV_NT_RemoveServiceW(const WCHAR *name)
{
    return RemoveService(name, 1);
}

// The two queries take no lock. Opens the manager (a failure is reported)
// and tries the service (a failure is not: it just does not exist for us).
// A narrow or a wide name (wide nonzero): the exports' wide siblings query
// by the very name they were given.
static bool OpenForQuery(const void *name, int wide, SC_HANDLE *manager, SC_HANDLE *service)
{
    *service = NULL;
    *manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (*manager == NULL) {
        ReportQueryStep(QUERY_OPEN_MANAGER);
        return false;
    }
    *service = wide ? OpenServiceW(*manager, (const WCHAR *)name, SERVICE_ALL_ACCESS)
                    : OpenServiceA(*manager, (const char *)name, SERVICE_ALL_ACCESS);
    return true;
}

static void CloseQueried(SC_HANDLE manager, SC_HANDLE service)
{
    if (service != NULL && !CloseServiceHandle(service))
        ReportQueryStep(QUERY_CLOSE_SERVICE);
    if (!CloseServiceHandle(manager))
        ReportQueryStep(QUERY_CLOSE_MANAGER);
}

static BOOLEAN ServiceExistsAs(const void *name, int wide)
{
    SC_HANDLE manager, service;
    if (!OpenForQuery(name, wide, &manager, &service))
        return 0;
    BOOLEAN result = service != NULL ? 1 : 0;
    CloseQueried(manager, service);
    return result;
}

static BOOLEAN ServiceIsRunningAs(const void *name, int wide)
{
    SC_HANDLE manager, service;
    if (!OpenForQuery(name, wide, &manager, &service))
        return 0;
    BOOLEAN result = 0;
    if (service != NULL) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status))
            result = status.dwCurrentState == SERVICE_RUNNING ? 1 : 0;
        else
            ReportQueryStep(QUERY_STATUS);
    }
    CloseQueried(manager, service);
    return result;
}

BOOLEAN KIV_NT_ServiceExists(const char *name)
{
    return ServiceExistsAs(name, 0);
}

BOOLEAN KIV_NT_ServiceIsRunning(const char *name)
{
    return ServiceIsRunningAs(name, 0);
}

extern "C" BOOLEAN KIV_API StopAllProcessStarters(void)
{
    for (int i = 0; i < STARTER_COUNT; i++) {
        char name[STARTER_NAME_SIZE] = {0};
        StringCchPrintfA(name, STARTER_NAME_SIZE, STARTER_FORMAT, STARTER_PREFIX, i);
        KIV_NT_StopService(name);
    }
    return 1;
}

static int ServiceIsRunningExport(const void *name, int wide)
{
    if (!ServiceExistsAs(name, wide))
        return 0;
    return ServiceIsRunningAs(name, wide) ? 1 : 0;
}

extern "C" int KIV_API ServiceIsRunning(const char *name)
{
    return ServiceIsRunningExport(name, 0);
}

extern "C" int KIV_API ServiceIsRunningW(const wchar_t *name)
{
    return ServiceIsRunningExport(name, 1);
}
