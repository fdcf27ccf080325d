// Long soak: calls each export that does not block many times and prints the
// process's handle count, GDI and USER object counts and private bytes before
// and after; beside it, in a process of its own, a baseline loop that makes
// the same system calls directly (the status window from the DLL's template
// with its animation control, the service manager's opens and queries, the
// window enumeration, the records of the process starters and the hook run),
// so that growth reads as the library's or the system's. Run under Wine from
// the build's bin folder:
//   soak.exe [rounds]      (default 10000; both loops)
//   soak.exe rounds library|baseline
#include <windows.h>
#include <commctrl.h>
#include <ntsecapi.h>

#include <share.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "baseline_record.h"
#include "import_hook.h"
#include "process.h"
#include "resource.h"
#include "soak_run.h"

static void Print(const char *label, const ProcessCounts &c)
{
    printf("%-7s handles %5lu  gdi %4lu  user %4lu  windows %3lu  private bytes %10lu  heap blocks %6lu  heap "
           "bytes %9lu\n",
           label, (unsigned long)c.handles, (unsigned long)c.gdiObjects, (unsigned long)c.userObjects,
           (unsigned long)c.windows, (unsigned long)c.privateBytes, (unsigned long)c.heapBlocks,
           (unsigned long)c.heapBytes);
}

static void PrintGrowth(const ProcessCounts &before, const ProcessCounts &after)
{
    printf("growth  handles %+ld  windows %+ld  private bytes %+ld  heap blocks %+ld  heap bytes %+ld\n",
           (long)after.handles - (long)before.handles, (long)after.windows - (long)before.windows,
           (long)after.privateBytes - (long)before.privateBytes, (long)after.heapBlocks - (long)before.heapBlocks,
           (long)after.heapBytes - (long)before.heapBytes);
}

// ---- the baseline: the library's system calls, made directly ---------------

static const char MISSING[] = "KivRobustNoSuchService";
static const char WINDOW_TITLE[] = "Kiv robust soak window";
static HANDLE LibrarySource;
static HWND Found;

// The frame's report of a failed open: text, four debugger outputs, record.
static void Report(const char *step)
{
    DWORD code = GetLastError();
    char *text = NULL;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   NULL, code, 0, (LPSTR)&text, 0, NULL);
    OutputDebugStringA(step);
    OutputDebugStringA(": ");
    OutputDebugStringA(text ? text : "");
    OutputDebugStringA(" \n");
    const char *strings[2] = {step, text ? text : ""};
    ReportEventA(LibrarySource, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, strings, NULL);
    if (text != NULL)
        LocalFree(text);
}

static bool Exists(const char *name, bool report)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service == NULL && report)
        Report("Opening service handle");
    if (service != NULL)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != NULL;
}

static void IsRunning(const char *name)
{
    if (!Exists(name, false))
        return;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    SERVICE_STATUS status = {};
    QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

static BOOL CALLBACK Visit(HWND window, LPARAM title)
{
    char text[1024] = {0};
    GetWindowTextA(window, text, sizeof(text));
    if (strcmp(text, (const char *)title) != 0)
        return TRUE;
    Found = window;
    return FALSE;
}

static BOOL CALLBACK VisitTopLevel(HWND window, LPARAM title)
{
    if (!Visit(window, title))
        return FALSE;
    EnumChildWindows(window, Visit, title);
    return Found == NULL;
}

static INT_PTR CALLBACK StatusProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE) {
        KillTimer(dialog, 19980706);
        DestroyWindow(dialog);
    }
    return FALSE;
}

// Open (create, timer, clip, caption, text, layout, show), close, dispatch.
static void StatusWindow(HMODULE library, const char *text, const char *caption)
{
    HWND dialog = CreateDialogParamA(library, MAKEINTRESOURCEA(IDD_STATUS), NULL, StatusProc, 0);
    HWND animation = GetDlgItem(dialog, IDC_STATUS_ANIMATE);
    HWND label = GetDlgItem(dialog, IDC_STATUS_TEXT);
    SetTimer(dialog, 19980706, 1000, NULL);
    SendMessageA(animation, ACM_OPENA, 0, (LPARAM)MAKEINTRESOURCEA(107));
    SendMessageA(animation, ACM_PLAY, (WPARAM)-1, (LPARAM)-1);
    ShowWindow(dialog, SW_HIDE);
    SetWindowTextA(dialog, caption);
    SetWindowTextA(label, text);
    char shown[512] = {0};
    GetWindowTextA(label, shown, sizeof(shown) - 1);
    RECT rect = {0, 0, 10, 10};
    HDC dc = GetWindowDC(label);
    DrawTextA(dc, shown, -1, &rect, DT_CALCRECT | DT_SINGLELINE);
    ReleaseDC(label, dc);
    int cx = GetSystemMetrics(SM_CXFULLSCREEN), cy = GetSystemMetrics(SM_CYFULLSCREEN);
    MoveWindow(animation, 40, 40, 235, 92, FALSE);
    MoveWindow(label, 315, 40, rect.right + 40, rect.bottom + 40, FALSE);
    MoveWindow(dialog, cx / 4, cy / 4, 395 + rect.right, 250, FALSE);
    ShowWindow(dialog, SW_SHOW);
    SendMessageA(animation, ACM_STOP, 0, 0);
    SendMessageA(animation, ACM_OPENA, 0, 0);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    DispatchPending();
}

// Stop or removal of a name that is not installed: lock, failed open, record.
static void MissingUnderLock(const char *format, const char *name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_LOCK lock = LockServiceDatabase(manager);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    DWORD code = GetLastError();
    char message[1024];
    snprintf(message, sizeof(message), format, name);
    if (service == NULL)
        BaselineRecord(message, code);
    else
        CloseServiceHandle(service);
    UnlockServiceDatabase(lock);
    CloseServiceHandle(manager);
}

// The hook run on the soak's script: log, one removal with its window, the
// fifty-one starters, the configuration file, one command with its window.
static void HookRun(HMODULE library, const std::string &dir)
{
    std::string script = dir + "kivunins.ini";
    FILE *log = _fsopen((dir + "kivuninslog.txt").c_str(), "a", _SH_DENYNO);
    char value[512];
    GetPrivateProfileStringA("ServiceDelete", "Service0", "NOT_FOUND", value, sizeof(value), script.c_str());
    fprintf(log, "Key name is Service0\nValue is %s\n", value);
    StatusWindow(library, value, "Uninstall");
    MissingUnderLock("KIV_NT_RemoveService(%s): OpenService", value);
    GetPrivateProfileStringA("ServiceDelete", "Service1", "NOT_FOUND", value, sizeof(value), script.c_str());
    for (int i = 0; i < 51; i++) {
        char name[64];
        snprintf(name, sizeof(name), "KivProcessStarter%d", i);
        MissingUnderLock("KIV_NT_RemoveService(%s): OpenService", i < 50 ? name : "KIV Process Starter");
    }
    char windows[512] = {0};
    GetWindowsDirectoryA(windows, sizeof(windows));
    DeleteFileA((std::string(windows) + "\\kivcfg.ini").c_str());
    GetPrivateProfileStringA("CustomCommand", "Command0", "NOT_FOUND", value, sizeof(value), script.c_str());
    StatusWindow(library, value, "Uninstall");
    WinExec(value, SW_HIDE);
    GetPrivateProfileStringA("CustomCommand", "Command1", "NOT_FOUND", value, sizeof(value), script.c_str());
    if (log != NULL)
        fclose(log);
}

// Set up per call as the library's loop is: a hook folder of its own with
// the script, and the window to find.
static bool BaselineRounds(HMODULE library, int rounds)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    TempDir dir;
    WriteFileBytes(dir.file("kivunins.ini"), "[ServiceDelete]\r\nService0=KivRobustSoakNoService\r\n"
                                             "[CustomCommand]\r\nCommand0=kivrobust_no_such_program.exe\r\n");
    HWND window = CreateWindowExA(0, "STATIC", WINDOW_TITLE, WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    for (int i = 0; i < rounds; i++) {
        Exists(SOAK_SERVICE, true);
        Exists(MISSING, true);
        IsRunning(SOAK_SERVICE);
        IsRunning(MISSING);
        Found = NULL;
        EnumWindows(VisitTopLevel, (LPARAM)WINDOW_TITLE);
        StatusWindow(library, "Soaking, please wait...", "Kiv robust soak status");
        if (i % 100 == 0) {
            for (int n = 0; n < 100; n++) {
                char name[64];
                snprintf(name, sizeof(name), "KivProcessStarter%d", n);
                MissingUnderLock("KIV_NT_StopService(%s): OpenService", name);
            }
            HookRun(library, dir.path());
        }
    }
    DestroyWindow(window);
    return Found == window;
}

static bool Baseline(int rounds)
{
    // The template and clips come from the DLL, loaded as the library's host
    // would load it; none of its code runs in the loop.
    HMODULE library = LoadLibraryExA("kiv_inst.dll", NULL, LOAD_LIBRARY_AS_DATAFILE);
    LibrarySource = RegisterEventSourceA(NULL, "KIV Installation DLL");
    BaselineRounds(library, 20);
    ProcessCounts before = ReadProcessCounts();
    bool ok = BaselineRounds(library, rounds);
    ProcessCounts after = ReadProcessCounts();
    DeregisterEventSource(LibrarySource);
    printf("baseline: %d rounds of the same system calls%s\n", rounds, ok ? "" : " - THE WINDOW WAS NOT FOUND");
    Print("before", before);
    Print("after", after);
    PrintGrowth(before, after);
    return ok;
}

static bool Library(int rounds)
{
    SoakExports(20);
    ProcessCounts before = ReadProcessCounts();
    bool ok = SoakExports(rounds);
    ProcessCounts after = ReadProcessCounts();
    printf("library: %d rounds (ServiceExists x2, ServiceIsRunning x2, GetWindowByTitle, status window open, close "
           "and dispatch each round; StopAllProcessStarters and an uninstall run every 100th)%s\n",
           rounds, ok ? "" : " - A RESULT WAS WRONG");
    Print("before", before);
    Print("after", after);
    PrintGrowth(before, after);
    return ok;
}

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 10000;
    const char *mode = argc > 2 ? argv[2] : NULL;
    if (mode == NULL) {
        // Each loop in a process of its own, so neither inherits the other's heap.
        bool ok = true;
        for (const char *m : {"library", "baseline"}) {
            ChildRun run = RunProcess("\"" + BinPath("soak.exe") + "\" " + std::to_string(rounds) + " " + m, INFINITE);
            printf("%s", run.output.c_str());
            ok = ok && run.started && run.exitCode == 0;
        }
        return ok ? 0 : 1;
    }
    if (!SoakServiceInstall()) {
        printf("cannot create the soak service %s\n", SOAK_SERVICE);
        return 1;
    }
    bool ok = strcmp(mode, "baseline") == 0 ? Baseline(rounds) : Library(rounds);
    SoakServiceRemove();
    return ok ? 0 : 1;
}
