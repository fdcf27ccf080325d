// kivhost: loads kiv_inst.dll and calls its exports from a shell, the way an
// installation engine and its uninstaller do.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "check_script.h"
#include "kiv_inst.h"

static HMODULE g_library = NULL;

// The command line as the system holds it, wide, and where the arguments of
// the call under way start in it: the W calls take their texts from here, so
// that they arrive exactly, whatever the ANSI code page.
static LPWSTR *g_wideArgs = NULL;
static int g_wideCount = 0;
static int g_argIndex = 0;

static const char USAGE[] =
    "usage: kivhost [--trace] [--dll PATH] CALL [ARGS...] [--pump MS] [CALL ...]\n"
    "\n"
    "Loads the library (kiv_inst.dll beside kivhost unless --dll says otherwise),\n"
    "then makes each call in order and prints its result. --pump MS after a call\n"
    "dispatches window messages for MS milliseconds. --trace runs the whole\n"
    "session as a debuggee and prints the library's debugger lines as \"debug: \".\n"
    "\n"
    "       kivhost -c\"PATH\\kiv_inst.dll\"   as the uninstaller: runs the uninstall hook\n"
    "       kivhost [--dll PATH] UninstInitialize   the hook as an uninstaller started without -c\n"
    "       kivhost check-script FILE       what an uninstall run on FILE would do\n"
    "\n"
    "calls:\n";

typedef int (*CommandHandler)(int argc, char **argv);

struct Command {
    const char *name;
    int minArgs;
    int maxArgs;
    const char *argHelp;
    CommandHandler handler;
};

static FARPROC LookUp(const char *name)
{
    FARPROC proc = GetProcAddress(g_library, name);
    if (proc == NULL)
        fprintf(stderr, "kivhost: the library has no export %s\n", name);
    return proc;
}

// load: the library is already loaded; this call shows its entry point.
static int CmdLoad(int, char **)
{
    if (LookUp("DllMain") == NULL)
        return 1;
    printf("load -> ok\n");
    return 0;
}

// A window handle in hex, read and shown at full width: it is pointer-sized
// on x64.
static HWND WindowArg(const char *text)
{
    return (HWND)(ULONG_PTR)strtoull(text, NULL, 16);
}

static void PrintWindow(const char *call, HWND found)
{
    printf("%s -> 0x%08llx\n", call, (unsigned long long)(ULONG_PTR)found);
}

// GetWindowByTitle PARENT TITLE: PARENT in hex (0 for all top-level
// windows); prints the handle found as at least eight hex digits, 0x00000000
// for none.
static int CmdGetWindowByTitle(int, char **argv)
{
    typedef HWND(KIV_API * Proc)(HWND, const char *);
    Proc proc = (Proc)(void *)LookUp("GetWindowByTitle");
    if (proc == NULL)
        return 1;
    PrintWindow("GetWindowByTitle", proc(WindowArg(argv[0]), argv[1]));
    return 0;
}

// StopAllProcessStarters: stops KivProcessStarter0 to 99; always 1.
static int CmdStopAllProcessStarters(int, char **)
{
    typedef BOOLEAN(KIV_API * Proc)(void);
    Proc proc = (Proc)(void *)LookUp("StopAllProcessStarters");
    if (proc == NULL)
        return 1;
    printf("StopAllProcessStarters -> %d\n", (int)proc());
    return 0;
}

// ServiceIsRunning NAME
static int CmdServiceIsRunning(int, char **argv)
{
    typedef int(KIV_API * Proc)(const char *);
    Proc proc = (Proc)(void *)LookUp("ServiceIsRunning");
    if (proc == NULL)
        return 1;
    printf("ServiceIsRunning -> %d\n", proc(argv[0]));
    return 0;
}

// AskDrive MB TITLE TEXT: runs the drive chooser; after Next the drive too.
static int CmdAskDrive(int, char **argv)
{
    typedef int(KIV_API * AskDriveProc)(DWORD, char *, const char *, const char *);
    AskDriveProc askDrive = (AskDriveProc)(void *)LookUp("AskDrive");
    if (askDrive == NULL)
        return 1;
    char drive[4] = {0};
    int result = askDrive((DWORD)strtoul(argv[0], NULL, 0), drive, argv[1], argv[2]);
    printf("AskDrive -> %d\n", result);
    if (result == 1)
        printf("drive: %s\n", drive);
    return 0;
}

// A number from the command line: decimal, or hexadecimal after "0x".
static bool ParseNumber(const char *text, DWORD *value)
{
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (*text == '\0' || *text == '-' || *text == '+')
        return false;
    char *end = NULL;
    unsigned long long number = strtoull(text, &end, base);
    if (*end != '\0' || number > 0xFFFFFFFFull)
        return false;
    *value = (DWORD)number;
    return true;
}

typedef int (*ServiceNameCall)(const char *);

static int CallWithServiceName(const char *exportName, const char *serviceName)
{
    ServiceNameCall call = (ServiceNameCall)(void *)LookUp(exportName);
    if (call == NULL)
        return 1;
    printf("%s -> %d\n", exportName, call(serviceName));
    return 0;
}

static int CmdServiceCreate(int argc, char **argv)
{
    typedef int (*CreateCall)(const char *, DWORD, DWORD, const char *, const char *, const char *);
    DWORD serviceType = 0, startType = 0;
    if (!ParseNumber(argv[1], &serviceType) || !ParseNumber(argv[2], &startType)) {
        fprintf(stderr, "kivhost: ServiceCreate takes numbers (decimal or 0x hex) for TYPE and START\n");
        return 2;
    }
    CreateCall call = (CreateCall)(void *)LookUp("ServiceCreate");
    if (call == NULL)
        return 1;
    // An absent account or password goes to the library as null.
    const char *account = argc >= 5 ? argv[4] : NULL;
    const char *password = argc >= 6 ? argv[5] : NULL;
    printf("ServiceCreate -> %d\n", call(argv[0], serviceType, startType, argv[3], account, password));
    return 0;
}

static int CmdServiceStart(int, char **argv)
{
    return CallWithServiceName("ServiceStart", argv[0]);
}

static int CmdServiceDelete(int, char **argv)
{
    return CallWithServiceName("ServiceDelete", argv[0]);
}

static int CmdServiceStop(int, char **argv)
{
    return CallWithServiceName("ServiceStop", argv[0]);
}

static int CmdServiceExists(int, char **argv)
{
    return CallWithServiceName("ServiceExists", argv[0]);
}

// ---- status window -----------------------------------------------------

typedef int(KIV_API *StatusOpenFn)(const char *, const char *);
typedef int(KIV_API *StatusCloseFn)(void);
typedef int(KIV_API *StatusSetAviFn)(const char *);

static int CmdFakeStatusOpen(int, char **argv)
{
    StatusOpenFn open = (StatusOpenFn)(void *)LookUp("FakeStatusOpen");
    if (open == NULL)
        return 1;
    printf("FakeStatusOpen -> %d\n", open(argv[0], argv[1]));
    return 0;
}

static int CmdFakeStatusClose(int, char **)
{
    StatusCloseFn close = (StatusCloseFn)(void *)LookUp("FakeStatusClose");
    if (close == NULL)
        return 1;
    printf("FakeStatusClose -> %d\n", close());
    return 0;
}

// Without NAME the call gets a null pointer.
static int CmdFakeStatusSetAvi(int argc, char **argv)
{
    StatusSetAviFn setAvi = (StatusSetAviFn)(void *)LookUp("FakeStatusSetAvi");
    if (setAvi == NULL)
        return 1;
    printf("FakeStatusSetAvi -> %d\n", setAvi(argc > 0 ? argv[0] : NULL));
    return 0;
}

// ---- wide siblings: texts from the wide command line --------------------

// Argument k of the call under way, wide; NULL when the wide command line
// does not have it.
static const WCHAR *WideArg(int k)
{
    int index = g_argIndex + k;
    return g_wideArgs != NULL && index < g_wideCount ? g_wideArgs[index] : NULL;
}

typedef int (*WideNameCall)(const WCHAR *);

static int CallWithWideName(const char *exportName)
{
    WideNameCall call = (WideNameCall)(void *)LookUp(exportName);
    if (call == NULL)
        return 1;
    printf("%s -> %d\n", exportName, call(WideArg(0)));
    return 0;
}

static int CmdServiceStartW(int, char **)
{
    return CallWithWideName("ServiceStartW");
}

static int CmdServiceDeleteW(int, char **)
{
    return CallWithWideName("ServiceDeleteW");
}

static int CmdServiceStopW(int, char **)
{
    return CallWithWideName("ServiceStopW");
}

static int CmdServiceExistsW(int, char **)
{
    return CallWithWideName("ServiceExistsW");
}

static int CmdServiceIsRunningW(int, char **)
{
    return CallWithWideName("ServiceIsRunningW");
}

static int CmdServiceCreateW(int argc, char **argv)
{
    typedef int (*CreateCall)(const WCHAR *, DWORD, DWORD, const WCHAR *, const WCHAR *, const WCHAR *);
    DWORD serviceType = 0, startType = 0;
    if (!ParseNumber(argv[1], &serviceType) || !ParseNumber(argv[2], &startType)) {
        fprintf(stderr, "kivhost: ServiceCreateW takes numbers (decimal or 0x hex) for TYPE and START\n");
        return 2;
    }
    CreateCall call = (CreateCall)(void *)LookUp("ServiceCreateW");
    if (call == NULL)
        return 1;
    const WCHAR *account = argc >= 5 ? WideArg(4) : NULL;
    const WCHAR *password = argc >= 6 ? WideArg(5) : NULL;
    printf("ServiceCreateW -> %d\n", call(WideArg(0), serviceType, startType, WideArg(3), account, password));
    return 0;
}

static int CmdFakeStatusOpenW(int, char **)
{
    typedef int(KIV_API * Proc)(const WCHAR *, const WCHAR *);
    Proc open = (Proc)(void *)LookUp("FakeStatusOpenW");
    if (open == NULL)
        return 1;
    printf("FakeStatusOpenW -> %d\n", open(WideArg(0), WideArg(1)));
    return 0;
}

static int CmdFakeStatusSetAviW(int argc, char **)
{
    typedef int(KIV_API * Proc)(const WCHAR *);
    Proc setAvi = (Proc)(void *)LookUp("FakeStatusSetAviW");
    if (setAvi == NULL)
        return 1;
    printf("FakeStatusSetAviW -> %d\n", setAvi(argc > 0 ? WideArg(0) : NULL));
    return 0;
}

static int CmdAskDriveW(int, char **argv)
{
    typedef int(KIV_API * Proc)(DWORD, WCHAR *, const WCHAR *, const WCHAR *);
    Proc askDrive = (Proc)(void *)LookUp("AskDriveW");
    if (askDrive == NULL)
        return 1;
    WCHAR drive[4] = {0};
    int result = askDrive((DWORD)strtoul(argv[0], NULL, 0), drive, WideArg(1), WideArg(2));
    printf("AskDriveW -> %d\n", result);
    if (result == 1)
        printf("drive: %ls\n", drive);
    return 0;
}

static int CmdGetWindowByTitleW(int, char **argv)
{
    typedef HWND(KIV_API * Proc)(HWND, const WCHAR *);
    Proc proc = (Proc)(void *)LookUp("GetWindowByTitleW");
    if (proc == NULL)
        return 1;
    PrintWindow("GetWindowByTitleW", proc(WindowArg(argv[0]), WideArg(1)));
    return 0;
}

static int CmdUninstInitialize(int, char **);

static const Command COMMANDS[] = {
    {"load", 0, 0, "", CmdLoad},
    {"GetWindowByTitle", 2, 2, "PARENT TITLE", CmdGetWindowByTitle},
    {"StopAllProcessStarters", 0, 0, "", CmdStopAllProcessStarters},
    {"ServiceIsRunning", 1, 1, "NAME", CmdServiceIsRunning},
    {"AskDrive", 3, 3, "MB TITLE TEXT", CmdAskDrive},
    {"ServiceCreate", 4, 6, "NAME TYPE START PATH [ACCOUNT [PASSWORD]]", CmdServiceCreate},
    {"ServiceStart", 1, 1, "NAME", CmdServiceStart},
    {"ServiceDelete", 1, 1, "NAME", CmdServiceDelete},
    {"ServiceStop", 1, 1, "NAME", CmdServiceStop},
    {"ServiceExists", 1, 1, "NAME", CmdServiceExists},
    {"FakeStatusOpen", 2, 2, "TEXT TITLE", CmdFakeStatusOpen},
    {"FakeStatusClose", 0, 0, "", CmdFakeStatusClose},
    {"FakeStatusSetAvi", 0, 1, "[NAME]   (no NAME: a null pointer)", CmdFakeStatusSetAvi},
    {"UninstInitialize", 0, 0, "   (then UninstUnInitialize)", CmdUninstInitialize},
    {"GetWindowByTitleW", 2, 2, "PARENT TITLE", CmdGetWindowByTitleW},
    {"ServiceIsRunningW", 1, 1, "NAME", CmdServiceIsRunningW},
    {"AskDriveW", 3, 3, "MB TITLE TEXT", CmdAskDriveW},
    {"ServiceCreateW", 4, 6, "NAME TYPE START PATH [ACCOUNT [PASSWORD]]", CmdServiceCreateW},
    {"ServiceStartW", 1, 1, "NAME", CmdServiceStartW},
    {"ServiceDeleteW", 1, 1, "NAME", CmdServiceDeleteW},
    {"ServiceStopW", 1, 1, "NAME", CmdServiceStopW},
    {"ServiceExistsW", 1, 1, "NAME", CmdServiceExistsW},
    {"FakeStatusOpenW", 2, 2, "TEXT TITLE", CmdFakeStatusOpenW},
    {"FakeStatusSetAviW", 0, 1, "[NAME]   (no NAME: a null pointer)", CmdFakeStatusSetAviW},
};

static const Command *FindCommand(const char *name)
{
    for (size_t i = 0; i < sizeof(COMMANDS) / sizeof(COMMANDS[0]); i++) {
        if (strcmp(COMMANDS[i].name, name) == 0)
            return &COMMANDS[i];
    }
    return NULL;
}

static void PrintUsage(FILE *out)
{
    fputs(USAGE, out);
    for (size_t i = 0; i < sizeof(COMMANDS) / sizeof(COMMANDS[0]); i++)
        fprintf(out, "  %s %s\n", COMMANDS[i].name, COMMANDS[i].argHelp);
}

// Dispatches messages on this thread for the given time, as a host must after
// opening or closing the status window.
static void Pump(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

static bool IsOption(const char *arg, const char *option)
{
    return strcmp(arg, option) == 0;
}

// From here on DLLs that anything in this process loads by name come from the
// system folder only, never from kivhost's folder or the current one, where a
// planted copy of a system DLL could wait. Systems without the call keep
// their search order; the library loads its own system DLLs safely anyway.
static void RestrictDllSearch(void)
{
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDirectories set =
        kernel != NULL ? (SetDirectories)(void *)GetProcAddress(kernel, "SetDefaultDllDirectories") : NULL;
    if (set != NULL)
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The library by its full path: with the search restricted to the system
// folder, a bare or relative name would not be found, or not be ours.
static HMODULE LoadLibraryByFullPath(const char *path)
{
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path, MAX_PATH, full, NULL);
    return LoadLibraryA(n > 0 && n < MAX_PATH ? full : path);
}

// The same for a wide path.
static HMODULE LoadLibraryByFullPathW(const WCHAR *path)
{
    WCHAR full[MAX_PATH];
    DWORD n = GetFullPathNameW(path, MAX_PATH, full, NULL);
    return LoadLibraryW(n > 0 && n < MAX_PATH ? full : path);
}

// The hook's two calls on a loaded library, as an uninstaller makes them.
static int RunHook(HMODULE library)
{
    typedef int(KIV_API * Initialize)(DWORD, HINSTANCE);
    typedef int(KIV_API * UnInitialize)(void);
    Initialize initialize = (Initialize)(void *)GetProcAddress(library, "UninstInitialize");
    UnInitialize unInitialize = (UnInitialize)(void *)GetProcAddress(library, "UninstUnInitialize");
    if (initialize == NULL || unInitialize == NULL) {
        fprintf(stderr, "kivhost: the library has no uninstall hook\n");
        return 1;
    }
    printf("UninstInitialize -> %d\n", initialize(0, library));
    fflush(stdout);
    // Lets the status window's posted close requests do their work.
    Pump(200);
    printf("UninstUnInitialize -> %d\n", unInitialize());
    return 0;
}

static int CmdUninstInitialize(int, char **)
{
    return RunHook(g_library);
}

// As the uninstaller: -c followed by the library's path. The hook finds its
// folder from this very command line. The path is taken from the wide
// command line, so that a folder outside the ANSI code page loads too.
static int RunUninstaller(void)
{
    int count = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == NULL || count < 2) {
        fprintf(stderr, "kivhost: cannot read the command line\n");
        if (args != NULL)
            LocalFree(args);
        return 1;
    }
    const WCHAR *path = args[1][2] != L'\0' ? args[1] + 2 : (count > 2 ? args[2] : L"");
    HMODULE library = LoadLibraryByFullPathW(path);
    if (library == NULL) {
        fprintf(stderr, "kivhost: cannot load %ls (error %lu)\n", path, GetLastError());
        LocalFree(args);
        return 1;
    }
    LocalFree(args);
    int status = RunHook(library);
    FreeLibrary(library);
    return status;
}

// Prints one debugger text; the library writes lines in pieces, so a piece
// without a line end continues the current line.
static void PrintDebugText(const char *text, bool *atLineStart)
{
    for (const char *p = text; *p != '\0'; p++) {
        if (*atLineStart) {
            fputs("debug: ", stdout);
            *atLineStart = false;
        }
        if (*p == '\r')
            continue;
        fputc(*p, stdout);
        if (*p == '\n')
            *atLineStart = true;
    }
}

// Runs this program again, without --trace, as a debuggee, so that the lines
// the library writes while it loads and unloads are seen too.
static int RunTraced()
{
    // The wide command line, so that the W calls' texts reach the session
    // exactly.
    const WCHAR *line = GetCommandLineW();
    const WCHAR *trace = wcsstr(line, L"--trace");
    if (trace == NULL)
        return 2;
    size_t length = wcslen(line);
    WCHAR *childLine = (WCHAR *)calloc(length + 1, sizeof(WCHAR));
    if (childLine == NULL)
        return 1;
    memcpy(childLine, line, (size_t)(trace - line) * sizeof(WCHAR));
    wcscat(childLine, trace + wcslen(L"--trace"));

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(NULL, childLine, NULL, NULL, TRUE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "kivhost: cannot start the traced session (error %lu)\n", GetLastError());
        free(childLine);
        return 1;
    }
    bool atLineStart = true;
    for (bool done = false; !done;) {
        DEBUG_EVENT ev;
        if (!WaitForDebugEvent(&ev, INFINITE))
            break;
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            char text[4096];
            SIZE_T want = ev.u.DebugString.nDebugStringLength;
            if (want > sizeof(text) - 1)
                want = sizeof(text) - 1;
            SIZE_T got = 0;
            ReadProcessMemory(pi.hProcess, ev.u.DebugString.lpDebugStringData, text, want, &got);
            text[got] = '\0';
            fflush(stdout);
            PrintDebugText(text, &atLineStart);
            fflush(stdout);
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case CREATE_PROCESS_DEBUG_EVENT:
            if (ev.u.CreateProcessInfo.hFile)
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile)
                CloseHandle(ev.u.LoadDll.hFile);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            done = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    free(childLine);
    return (int)exitCode;
}

int main(int argc, char **argv)
{
    RestrictDllSearch();
    const char *dllPath = NULL;
    int i = 1;
    if (i < argc && (IsOption(argv[i], "--help") || IsOption(argv[i], "-h"))) {
        PrintUsage(stdout);
        return 0;
    }
    if (i < argc && IsOption(argv[i], "--trace"))
        return RunTraced();
    if (i < argc && IsOption(argv[i], "check-script")) {
        if (i + 2 != argc) {
            fprintf(stderr, "kivhost: check-script takes FILE\n");
            return 2;
        }
        // The file's name from the wide command line, so that a folder
        // outside the ANSI code page is found too.
        int count = 0;
        LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
        if (wide == NULL || count != argc) {
            fprintf(stderr, "kivhost: cannot read the command line\n");
            if (wide != NULL)
                LocalFree(wide);
            return 2;
        }
        int status = CheckScript(wide[i + 1]);
        LocalFree(wide);
        return status;
    }
    if (i < argc && strncmp(argv[i], "-c", 2) == 0) {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
        InitCommonControlsEx(&controls);
        return RunUninstaller();
    }
    if (i + 1 < argc && IsOption(argv[i], "--dll")) {
        dllPath = argv[i + 1];
        i += 2;
    }
    if (i >= argc) {
        PrintUsage(stderr);
        return 2;
    }

    // Check the whole command line before loading anything.
    for (int j = i; j < argc;) {
        if (IsOption(argv[j], "--pump")) {
            if (j + 1 >= argc) {
                fprintf(stderr, "kivhost: --pump needs a time in milliseconds\n");
                return 2;
            }
            j += 2;
            continue;
        }
        const Command *command = FindCommand(argv[j]);
        if (command == NULL) {
            fprintf(stderr, "kivhost: unknown call %s (see kivhost --help)\n", argv[j]);
            return 2;
        }
        int count = 0;
        while (j + 1 + count < argc && !IsOption(argv[j + 1 + count], "--pump") &&
               (count < command->minArgs || FindCommand(argv[j + 1 + count]) == NULL) &&
               count < command->maxArgs)
            count++;
        if (count < command->minArgs) {
            fprintf(stderr, "kivhost: %s takes %s\n", command->name, command->argHelp);
            return 2;
        }
        j += 1 + count;
    }

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);

    char defaultPath[MAX_PATH] = "kiv_inst.dll";
    if (dllPath == NULL) {
        DWORD n = GetModuleFileNameA(NULL, defaultPath, MAX_PATH);
        char *slash = (n > 0 && n < MAX_PATH) ? strrchr(defaultPath, '\\') : NULL;
        if (slash != NULL && (size_t)(slash + 1 - defaultPath) + sizeof("kiv_inst.dll") <= MAX_PATH)
            strcpy(slash + 1, "kiv_inst.dll");
        else
            strcpy(defaultPath, "kiv_inst.dll");
        dllPath = defaultPath;
    }
    g_library = LoadLibraryByFullPath(dllPath);
    if (g_library == NULL) {
        fprintf(stderr, "kivhost: cannot load %s (error %lu)\n", dllPath, GetLastError());
        return 1;
    }

    // The same command line split by the system's rules, for the W calls; a
    // count that differs from argv's would put texts on the wrong calls.
    g_wideArgs = CommandLineToArgvW(GetCommandLineW(), &g_wideCount);
    if (g_wideArgs != NULL && g_wideCount != argc) {
        LocalFree(g_wideArgs);
        g_wideArgs = NULL;
    }
    int status = 0;
    while (i < argc && status == 0) {
        if (IsOption(argv[i], "--pump")) {
            Pump((DWORD)strtoul(argv[i + 1], NULL, 0));
            i += 2;
            continue;
        }
        const Command *command = FindCommand(argv[i]);
        int count = 0;
        while (i + 1 + count < argc && !IsOption(argv[i + 1 + count], "--pump") &&
               (count < command->minArgs || FindCommand(argv[i + 1 + count]) == NULL) &&
               count < command->maxArgs)
            count++;
        g_argIndex = i + 1;
        status = command->handler(count, argv + i + 1);
        fflush(stdout);
        i += 1 + count;
    }

    FreeLibrary(g_library);
    if (g_wideArgs != NULL)
        LocalFree(g_wideArgs);
    return status;
}
