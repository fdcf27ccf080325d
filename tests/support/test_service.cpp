#include "test_service.h"

#include "process.h"

namespace {

LONG g_serial = 0;

// Closes a service control handle when the scope ends.
struct ScHandle {
    SC_HANDLE h;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle()
    {
        if (h != NULL)
            CloseServiceHandle(h);
    }
    ScHandle(const ScHandle &) = delete;
    ScHandle &operator=(const ScHandle &) = delete;
};

std::wstring FromUtf8(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize((size_t)MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], (int)wide.size()) - 1);
    return wide;
}

SC_HANDLE OpenNamed(SC_HANDLE manager, const std::string &name, DWORD access)
{
    return OpenServiceW(manager, FromUtf8(name).c_str(), access);
}

DWORD StateOf(SC_HANDLE service, DWORD *processId)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)&status, sizeof(status), &needed))
        return 0;
    if (processId != NULL)
        *processId = status.dwProcessId;
    return status.dwCurrentState;
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (StateOf(service, NULL) == state)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
}

} // namespace

std::string UniqueServiceName()
{
    return "KivTest_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(InterlockedIncrement(&g_serial));
}

std::string TestServiceCommand(const char *mode, const char *argument)
{
    std::string command = "\"" + BinPath("kivtestsvc.exe") + "\" " + mode;
    if (argument != NULL)
        command += std::string(" ") + argument;
    return command;
}

DWORD QueryServiceState(const std::string &name)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (manager.h == NULL)
        return 0;
    ScHandle service(OpenNamed(manager.h, name, SERVICE_QUERY_STATUS));
    return service.h != NULL ? StateOf(service.h, NULL) : 0;
}

bool WaitForServiceState(const std::string &name, DWORD state, DWORD timeoutMs)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (manager.h == NULL)
        return false;
    ScHandle service(OpenNamed(manager.h, name, SERVICE_QUERY_STATUS));
    return service.h != NULL && WaitForState(service.h, state, timeoutMs);
}

bool RemoveTestService(const std::string &name)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    if (manager.h == NULL)
        return false;
    ScHandle service(OpenNamed(manager.h, name, SERVICE_ALL_ACCESS));
    if (service.h == NULL)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;

    DWORD processId = 0;
    if (StateOf(service.h, &processId) != SERVICE_STOPPED) {
        SERVICE_STATUS status = {};
        bool accepted = ControlService(service.h, SERVICE_CONTROL_STOP, &status) != FALSE;
        // A fixture that refuses the stop, or hangs in a pending state, is
        // told to quit through its event.
        if (!accepted || !WaitForState(service.h, SERVICE_STOPPED, 3000)) {
            HANDLE quit = OpenEventW(EVENT_MODIFY_STATE, FALSE, FromUtf8("Global\\kivtestsvc-quit-" + name).c_str());
            if (quit != NULL) {
                SetEvent(quit);
                CloseHandle(quit);
            }
            WaitForState(service.h, SERVICE_STOPPED, 5000);
        }
        // The last resort: the manager is left to notice the process end.
        if (StateOf(service.h, NULL) != SERVICE_STOPPED && processId != 0) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
            if (process != NULL) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
        }
    }
    return DeleteService(service.h) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

TestService::TestService(const char *mode, const char *argument, DWORD startType, bool install,
                         const char *utf8Name)
    : name_(utf8Name != NULL ? utf8Name : UniqueServiceName())
{
    if (utf8Name != NULL)
        RemoveTestService(name_);
    if (!install)
        return;
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    if (manager.h == NULL)
        return;
    std::string command = TestServiceCommand(mode, argument);
    std::wstring name = FromUtf8(name_);
    ScHandle service(CreateServiceW(manager.h, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                    Wide(command).c_str(), NULL, NULL, NULL, NULL, NULL));
    installed_ = service.h != NULL;
}

TestService::~TestService()
{
    RemoveTestService(name_);
}

bool TestService::StartAndWaitFor(DWORD state, DWORD timeoutMs) const
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (manager.h == NULL)
        return false;
    ScHandle service(OpenNamed(manager.h, name_, SERVICE_START | SERVICE_QUERY_STATUS));
    if (service.h == NULL)
        return false;
    if (!StartServiceA(service.h, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    return WaitForState(service.h, state, timeoutMs);
}
