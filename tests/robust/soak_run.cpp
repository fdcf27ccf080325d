#include "soak_run.h"

#include <psapi.h>

#include "kiv_inst.h"

const char SOAK_SERVICE[] = "KivRobustSoak";

namespace {

const char SOAK_PATH[] = "C:\\windows\\system32\\kivsoak.exe";
const char MISSING_SERVICE[] = "KivRobustNoSuchService";
const char WINDOW_TITLE[] = "Kiv robust soak window";

} // namespace

// Handle values the process has open, found by asking for each one's flags.
// Used where the system keeps no count of its own (Wine answers 0).
static DWORD ProbedHandleCount()
{
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation((HANDLE)value, &flags))
            count++;
    }
    return count;
}

static BOOL CALLBACK CountWindow(HWND window, LPARAM counter)
{
    (*(DWORD *)counter)++;
    EnumChildWindows(window, CountWindow, counter);
    return TRUE;
}

ProcessCounts ReadProcessCounts()
{
    ProcessCounts counts;
    HANDLE self = GetCurrentProcess();
    if (!GetProcessHandleCount(self, &counts.handles) || counts.handles == 0)
        counts.handles = ProbedHandleCount();
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, (LPARAM)&counts.windows);
    counts.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
    counts.userObjects = GetGuiResources(self, GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory;
    ZeroMemory(&memory, sizeof(memory));
    if (GetProcessMemoryInfo(self, (PROCESS_MEMORY_COUNTERS *)&memory, sizeof(memory)))
        counts.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    return counts;
}

bool SoakServiceInstall()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL)
        return false;
    SC_HANDLE service = CreateServiceA(manager, SOAK_SERVICE, SOAK_SERVICE, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       SOAK_PATH, NULL, NULL, NULL, NULL, NULL);
    bool made = service != NULL;
    if (made)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return made;
}

void SoakServiceRemove()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL)
        return;
    SC_HANDLE service = OpenServiceA(manager, SOAK_SERVICE, SERVICE_ALL_ACCESS);
    if (service != NULL) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

bool SoakExports(int rounds)
{
    HWND window = CreateWindowExA(0, "STATIC", WINDOW_TITLE, WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    bool ok = window != NULL;
    for (int i = 0; ok && i < rounds; i++) {
        ok = ServiceExists(SOAK_SERVICE) == 1 && ServiceExists(MISSING_SERVICE) == 0 &&
             ServiceIsRunning(SOAK_SERVICE) == 0 && ServiceIsRunning(MISSING_SERVICE) == 0 &&
             GetWindowByTitle(NULL, WINDOW_TITLE) == window;
        if (ok && i % 100 == 0)
            ok = StopAllProcessStarters() == 1;
    }
    if (window != NULL)
        DestroyWindow(window);
    return ok;
}
