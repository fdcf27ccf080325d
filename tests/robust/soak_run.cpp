#include "soak_run.h"

#include <commctrl.h>
#include <psapi.h>

#include <string>

#include "capture.h"
#include "import_hook.h"
#include "kiv_inst.h"
#include "process.h"

const char SOAK_SERVICE[] = "KivRobustSoak";

namespace {

const char SOAK_PATH[] = "C:\\windows\\system32\\kivsoak.exe";
const char MISSING_SERVICE[] = "KivRobustNoSuchService";
const char WINDOW_TITLE[] = "Kiv robust soak window";
const char STATUS_TEXT[] = "Soaking, please wait...";
const char STATUS_CAPTION[] = "Kiv robust soak status";
// The caption the uninstall hook gives its status window.
const char HOOK_CAPTION[] = "Uninstall";
// One service to remove that is not there and one command that cannot start:
// every step of the run is taken, nothing on the machine changes.
const char HOOK_SCRIPT[] = "[ServiceDelete]\r\nService0=KivRobustSoakNoService\r\n"
                           "[CustomCommand]\r\nCommand0=kivrobust_no_such_program.exe\r\n";
// StopAllProcessStarters and the uninstall hook stop a hundred and fifty-one
// names each: they run once every this many rounds.
const int SLOW_EVERY = 100;

typedef BOOL(WINAPI *EntryPoint)(HINSTANCE, DWORD, LPVOID);

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

static void CountHeapBlocks(ProcessCounts *counts)
{
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < n && i < 64; i++) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                counts->heapBlocks++;
                counts->heapBytes += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
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
    CountHeapBlocks(&counts);
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

void DispatchPending()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Open and close as a host does, then dispatch: the posted close must have
// removed the window.
static bool SoakStatusWindow()
{
    bool ok = FakeStatusOpen(STATUS_TEXT, STATUS_CAPTION) == 1 && FakeStatusClose() == 1;
    DispatchPending();
    return ok && FindWindowA(NULL, STATUS_CAPTION) == NULL;
}

static LONGLONG FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return ((LONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// One uninstall run in this process, as the uninstaller makes it: the
// library's command line names a library in `hookDir`, beside the script.
// The run must return 0, append to its log and leave no status window once
// messages are dispatched. It clears the module instance at its end; the
// entry point's attach sets it again for the calls that follow.
static bool SoakUninstallRun(const TempDir &hookDir)
{
    std::string line = "kivhost.exe -c\"" + hookDir.file("kiv_inst.dll") + "\"";
    std::string log = hookDir.file("kivuninslog.txt");
    LONGLONG logBefore = FileSize(log);
    bool ok;
    {
        WideCommandLine commandLine(KivModule(), line);
        ok = commandLine.installed() && UninstInitialize(0, KivModule()) == 0 && UninstUnInitialize() == 0;
    }
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    if (entry != NULL)
        entry(KivModule(), DLL_PROCESS_ATTACH, NULL);
    DispatchPending();
    return ok && entry != NULL && FileSize(log) > logBefore && FindWindowA(NULL, HOOK_CAPTION) == NULL;
}

bool SoakExports(int rounds)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    TempDir hookDir;
    bool ok = !hookDir.path().empty() && WriteFileBytes(hookDir.file("kivunins.ini"), HOOK_SCRIPT);
    HWND window = CreateWindowExA(0, "STATIC", WINDOW_TITLE, WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    ok = ok && window != NULL;
    for (int i = 0; ok && i < rounds; i++) {
        ok = ServiceExists(SOAK_SERVICE) == 1 && ServiceExists(MISSING_SERVICE) == 0 &&
             ServiceIsRunning(SOAK_SERVICE) == 0 && ServiceIsRunning(MISSING_SERVICE) == 0 &&
             GetWindowByTitle(NULL, WINDOW_TITLE) == window && SoakStatusWindow();
        if (ok && i % SLOW_EVERY == 0)
            ok = StopAllProcessStarters() == 1 && SoakUninstallRun(hookDir);
    }
    if (window != NULL)
        DestroyWindow(window);
    return ok;
}
