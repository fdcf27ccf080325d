// The service control exports: create, start, stop, delete and test Windows
// services by name for the installation engine. Each call opens its own
// connection to the service control manager and closes every handle before it
// returns; nothing is kept between calls. The narrow exports and their wide
// siblings share every step: a name travels with its kind (wide nonzero for
// UTF-16), and only the calls that take text differ, each in one place.
#include "frame/frame.h"
#include "kiv_inst.h"

// Indices into ServiceStepMessages.
enum ServiceStep {
    STEP_OPEN_DATABASE,
    STEP_CLOSE_DATABASE,
    STEP_CREATE_SERVICE,
    STEP_DELETE_SERVICE,
    STEP_OPEN_SERVICE,
    STEP_CLOSE_SERVICE,
    STEP_START_SERVICE,
    STEP_STOP_SERVICE,
    STEP_COUNT
};

// The step texts every report of this file carries, in index order.
static const char *const ServiceStepMessages[STEP_COUNT] = {
    "Opening service database",
    "Closing service database",
    "Creating service",
    "Deleting service",
    "Opening service handle",
    "Closing service handle",
    "Starting service",
    "Stopping service",
};

static const char LINE_RUNNING[] = "ssStatus.dwCurrentState == SERVICE_RUNNING\n";
static const char LINE_NOT_RUNNING[] = "ssStatus.dwCurrentState != SERVICE_RUNNING\n";

// The wait loops ignore the service's own wait hint: five passes of one
// second bound how long the installer is held.
static const int WAIT_PASSES = 5;
static const DWORD WAIT_PAUSE_MS = 1000;

static const int WITH_BOX = 1;
static const int NO_BOX = 0;

static void ReportStep(int wide, int showBox, ServiceStep step)
{
    ReportLastErrorAs(wide, showBox, ServiceStepMessages[step]);
}

static SC_HANDLE OpenNamedService(SC_HANDLE manager, const void *name, int wide)
{
    return wide ? OpenServiceW(manager, (const WCHAR *)name, SERVICE_ALL_ACCESS)
                : OpenServiceA(manager, (const char *)name, SERVICE_ALL_ACCESS);
}

// The key name doubles as the display name.
static SC_HANDLE CreateNamedService(SC_HANDLE manager, const void *const texts[4], int wide, DWORD serviceType,
                                    DWORD startType)
{
    if (wide) {
        const WCHAR *name = (const WCHAR *)texts[0];
        return CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, serviceType, startType,
                              SERVICE_ERROR_NORMAL, (const WCHAR *)texts[1], NULL, NULL, NULL,
                              (const WCHAR *)texts[2], (const WCHAR *)texts[3]);
    }
    const char *name = (const char *)texts[0];
    return CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, serviceType, startType, SERVICE_ERROR_NORMAL,
                          (const char *)texts[1], NULL, NULL, NULL, (const char *)texts[2],
                          (const char *)texts[3]);
}

// The manager of the local machine's active database, or null after the
// failure has been reported with a box.
static SC_HANDLE OpenManager(int wide)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL)
        ReportStep(wide, WITH_BOX, STEP_OPEN_DATABASE);
    return manager;
}

// The manager and the named service. On failure nothing is left open: a
// failed service open is reported without a box (for ServiceExists it is the
// ordinary "no" answer) and the manager handle closed unchecked.
static SC_HANDLE OpenManagerAndService(const void *serviceName, int wide, SC_HANDLE *manager)
{
    *manager = OpenManager(wide);
    if (*manager == NULL)
        return NULL;
    SC_HANDLE service = OpenNamedService(*manager, serviceName, wide);
    if (service == NULL) {
        ReportStep(wide, NO_BOX, STEP_OPEN_SERVICE);
        CloseServiceHandle(*manager);
        *manager = NULL;
    }
    return service;
}

// The closing steps of the normal path: service handle first, then the
// manager. Each failed close is reported and turns the result to 0.
static int CloseBoth(int wide, SC_HANDLE service, SC_HANDLE manager, int serviceCloseBox, int result)
{
    if (!CloseServiceHandle(service)) {
        ReportStep(wide, serviceCloseBox, STEP_CLOSE_SERVICE);
        result = 0;
    }
    if (!CloseServiceHandle(manager)) {
        ReportStep(wide, WITH_BOX, STEP_CLOSE_DATABASE);
        result = 0;
    }
    return result;
}

// A failed query leaves the last known state in place rather than whatever
// a half-done call might have written.
static BOOL QueryInto(SC_HANDLE service, SERVICE_STATUS *ssStatus)
{
    SERVICE_STATUS fresh;
    ZeroMemory(&fresh, sizeof(fresh));
    if (!QueryServiceStatus(service, &fresh))
        return FALSE;
    *ssStatus = fresh;
    return TRUE;
}

// The stop step's bounded wait: up to five passes of stop control, pause and
// query, until the service says stopped. With readFirst a service found
// stopped needs no control and no pause; without, the state is preset to
// running, so the first pass always sends the stop. A service that does not
// stop in time gets the box; the caller then closes its handles unchecked.
static BOOL StopAndWait(int wide, SC_HANDLE service, BOOL readFirst)
{
    SERVICE_STATUS ssStatus;
    ZeroMemory(&ssStatus, sizeof(ssStatus));
    ssStatus.dwCurrentState = SERVICE_RUNNING;
    if (readFirst && !QueryInto(service, &ssStatus))
        ReportStep(wide, NO_BOX, STEP_STOP_SERVICE);
    for (int pass = 0; ssStatus.dwCurrentState != SERVICE_STOPPED && pass < WAIT_PASSES; pass++) {
        if (!ControlService(service, SERVICE_CONTROL_STOP, &ssStatus))
            ReportStep(wide, NO_BOX, STEP_STOP_SERVICE);
        Sleep(WAIT_PAUSE_MS);
        if (!QueryInto(service, &ssStatus))
            ReportStep(wide, NO_BOX, STEP_STOP_SERVICE);
    }
    if (ssStatus.dwCurrentState == SERVICE_STOPPED)
        return TRUE;
    ReportStep(wide, WITH_BOX, STEP_STOP_SERVICE);
    return FALSE;
}

// The manager and the named service, stopped by the stop step's bounded
// wait. On failure nothing is left open: a service that will not stop gets
// the box, and both handles are closed unchecked.
static SC_HANDLE OpenAndStop(const void *serviceName, int wide, BOOL readFirst, SC_HANDLE *manager)
{
    SC_HANDLE service = OpenManagerAndService(serviceName, wide, manager);
    if (service == NULL)
        return NULL;
    if (!StopAndWait(wide, service, readFirst)) {
        CloseServiceHandle(service);
        CloseServiceHandle(*manager);
        *manager = NULL;
        return NULL;
    }
    return service;
}

static int CreateAs(const void *const texts[4], int wide, DWORD serviceType, DWORD startType)
{
    SC_HANDLE manager = OpenManager(wide);
    if (manager == NULL)
        return 0;

    SC_HANDLE service = CreateNamedService(manager, texts, wide, serviceType, startType);
    if (service == NULL) {
        ReportStep(wide, WITH_BOX, STEP_CREATE_SERVICE);
        CloseServiceHandle(manager);
        return 0;
    }
    return CloseBoth(wide, service, manager, WITH_BOX, 1);
}

static int StartAs(const void *serviceName, int wide)
{
    SC_HANDLE manager = NULL;
    SC_HANDLE service = OpenManagerAndService(serviceName, wide, &manager);
    if (service == NULL)
        return 0;

    // Preset to pending so the first pass always asks for the start, even
    // for a service that already runs.
    SERVICE_STATUS ssStatus;
    ZeroMemory(&ssStatus, sizeof(ssStatus));
    ssStatus.dwCurrentState = SERVICE_START_PENDING;
    for (int pass = 0; ssStatus.dwCurrentState != SERVICE_RUNNING && pass < WAIT_PASSES; pass++) {
        // Asked again in every pass: a service that fell back to stopped
        // gets another chance.
        if (!(wide ? StartServiceW(service, 0, NULL) : StartServiceA(service, 0, NULL)))
            ReportStep(wide, NO_BOX, STEP_START_SERVICE);
        Sleep(WAIT_PAUSE_MS);
        if (!QueryInto(service, &ssStatus))
            ReportStep(wide, NO_BOX, STEP_START_SERVICE);
    }

    int result = 1;
    if (ssStatus.dwCurrentState == SERVICE_RUNNING) {
        OutputDebugStringA(LINE_RUNNING);
    } else {
        // Carries whatever code the last call of the last pass left.
        ReportStep(wide, WITH_BOX, STEP_START_SERVICE);
        OutputDebugStringA(LINE_NOT_RUNNING);
        result = 0;
    }
    return CloseBoth(wide, service, manager, WITH_BOX, result);
}

static int DeleteAs(const void *serviceName, int wide)
{
    // The stop goes out even to a service that is already stopped. One that
    // will not stop is left installed rather than marked for a deletion that
    // would only happen once it stops by itself.
    SC_HANDLE manager = NULL;
    SC_HANDLE service = OpenAndStop(serviceName, wide, FALSE, &manager);
    if (service == NULL)
        return 0;

    int result = 1;
    if (!DeleteService(service)) {
        ReportStep(wide, WITH_BOX, STEP_DELETE_SERVICE);
        result = 0;
    }
    return CloseBoth(wide, service, manager, WITH_BOX, result);
}

static int StopAs(const void *serviceName, int wide)
{
    // An upgrade asks this of a service that may well be stopped already:
    // that answer needs neither a control nor a pause. A failed first read
    // is reported and the passes start as if it ran.
    SC_HANDLE manager = NULL;
    SC_HANDLE service = OpenAndStop(serviceName, wide, TRUE, &manager);
    if (service == NULL)
        return 0;
    return CloseBoth(wide, service, manager, WITH_BOX, 1);
}

static int ExistsAs(const void *serviceName, int wide)
{
    // Refused access counts as absent too: the installer only asks whether
    // it can work with the service.
    SC_HANDLE manager = NULL;
    SC_HANDLE service = OpenManagerAndService(serviceName, wide, &manager);
    if (service == NULL)
        return 0;
    return CloseBoth(wide, service, manager, NO_BOX, 1);
}

extern "C" int KIV_API ServiceCreate(const char *serviceName, DWORD serviceType, DWORD startType,
                                     const char *binaryPath, const char *accountName,
                                     const char *password)
{
    const void *const texts[4] = {serviceName, binaryPath, accountName, password};
    return CreateAs(texts, 0, serviceType, startType);
}

extern "C" int KIV_API ServiceCreateW(const wchar_t *serviceName, DWORD serviceType, DWORD startType,
                                      const wchar_t *binaryPath, const wchar_t *accountName,
                                      const wchar_t *password)
{
    const void *const texts[4] = {serviceName, binaryPath, accountName, password};
    return CreateAs(texts, 1, serviceType, startType);
}

extern "C" int KIV_API ServiceStart(const char *serviceName)
{
    return StartAs(serviceName, 0);
}

extern "C" int KIV_API ServiceStartW(const wchar_t *serviceName)
{
    return StartAs(serviceName, 1);
}

extern "C" int KIV_API ServiceDelete(const char *serviceName)
{
    return DeleteAs(serviceName, 0);
}

extern "C" int KIV_API ServiceDeleteW(const wchar_t *serviceName)
{
    return DeleteAs(serviceName, 1);
}

extern "C" int KIV_API ServiceStop(const char *serviceName)
{
    return StopAs(serviceName, 0);
}

extern "C" int KIV_API ServiceStopW(const wchar_t *serviceName)
{
    return StopAs(serviceName, 1);
}

extern "C" int KIV_API ServiceExists(const char *serviceName)
{
    return ExistsAs(serviceName, 0);
}

extern "C" int KIV_API ServiceExistsW(const wchar_t *serviceName)
{
    return ExistsAs(serviceName, 1);
}
