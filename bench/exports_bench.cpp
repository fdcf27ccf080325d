// exports_bench: what the exports cost beside baselines that make the same
// system calls directly, with no library code around them. Each figure is the
// best of several timed batches; the ratio is library / baseline. The load
// figure has a second baseline, an empty DLL built like the library; `size`
// prints sizes, no times. `coldload` times the first load in fresh host
// processes (bench/coldload_host), the library's, a reference DLL's and the
// empty DLL's in turn. The reference (bench/reference_dll) makes only the
// entry point's required calls and imports the library's system DLLs: the
// library's first load is held to at most 1.10 times it.
//
// Run under Wine with a display, e.g. from the source tree (the session wants
// the build tree's absolute path), one group or several by name:
//   . cmake/wine-session.sh; wine_session_start "$PWD/build"
//   (cd build/bin && wine exports_bench.exe coldload); wine_session_stop
#include <windows.h>
#include <commctrl.h>
#include <ntsecapi.h>
#include <share.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "baseline_record.h"
#include "capture.h"
#include "entry_report.h"
#include "import_hook.h"
#include "kiv_inst.h"
#include "process.h"
#include "resource.h"

static const char MISSING[] = "KivBenchNoSuchService";

typedef void (*Work)(int count);

static double SecondsOf(Work work, int count)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    work(count);
    QueryPerformanceCounter(&end);
    return (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

// Batches of the two alternate, so a machine that slows down or speeds up
// midway weighs on both alike; each side keeps its best batch.
static void Compare(const char *label, Work library, Work baseline, int count)
{
    library(1);
    baseline(1);
    double lib = 1e30, base = 1e30;
    for (int batch = 0; batch < 7; batch++) {
        double l = SecondsOf(library, count) / count;
        double b = SecondsOf(baseline, count) / count;
        lib = l < lib ? l : lib;
        base = b < base ? b : base;
    }
    printf("%-44s library %9.1f us  baseline %9.1f us  ratio %.3f\n", label, lib * 1e6, base * 1e6, lib / base);
}

static int ByValue(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

// Rounds of the two alternate and each round gives a ratio of its own; the
// figure is the median round, which a burst of other work on a busy machine
// moves less than it moves either side's best batch.
static void CompareRounds(const char *label, Work library, Work baseline, int count)
{
    static const int ROUNDS = 25;
    double lib[ROUNDS], base[ROUNDS], ratio[ROUNDS];
    library(1);
    baseline(1);
    for (int round = 0; round < ROUNDS; round++) {
        lib[round] = SecondsOf(library, count) / count;
        base[round] = SecondsOf(baseline, count) / count;
        ratio[round] = lib[round] / base[round];
    }
    qsort(lib, ROUNDS, sizeof(double), ByValue);
    qsort(base, ROUNDS, sizeof(double), ByValue);
    qsort(ratio, ROUNDS, sizeof(double), ByValue);
    printf("%-44s library %9.1f us  baseline %9.1f us  ratio %.3f (medians of %d rounds)\n", label,
           lib[ROUNDS / 2] * 1e6, base[ROUNDS / 2] * 1e6, ratio[ROUNDS / 2], ROUNDS);
}

// ---- ServiceExists on a missing name --------------------------------------

static HANDLE BaselineSource;

static void LibraryExists(int count)
{
    for (int i = 0; i < count; i++)
        ServiceExists(MISSING);
}

// Open, failed open, the report (system text, four debugger writes, one
// record), close.
static void BaselineExists(int count)
{
    for (int i = 0; i < count; i++) {
        SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceA(manager, MISSING, SERVICE_ALL_ACCESS);
        if (service == NULL) {
            DWORD code = GetLastError();
            char *text = NULL;
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
            OutputDebugStringA("Opening service handle");
            OutputDebugStringA(": ");
            OutputDebugStringA(text ? text : "");
            OutputDebugStringA(" \n");
            const char *strings[2] = {"Opening service handle", text ? text : ""};
            ReportEventA(BaselineSource, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, strings, NULL);
            LocalFree(text);
        } else {
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
}

// ---- StopAllProcessStarters with none installed --------------------------

static void LibraryStopAll(int count)
{
    for (int i = 0; i < count; i++)
        StopAllProcessStarters();
}

// Lock, failed open with its record, unlock: what stopping or removing a
// missing service costs. `format` names the routine in the record.
static void BaselineMissingService(const char *name, const char *format)
{
    char message[1024];
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_LOCK lock = LockServiceDatabase(manager);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    DWORD code = GetLastError();
    if (service == NULL) {
        wsprintfA(message, format, name);
        BaselineRecord(message, code);
    } else {
        CloseServiceHandle(service);
    }
    UnlockServiceDatabase(lock);
    CloseServiceHandle(manager);
}

static void BaselineStopAll(int count)
{
    for (int i = 0; i < count; i++) {
        for (int n = 0; n < 100; n++) {
            char name[64];
            wsprintfA(name, "%s%d", "KivProcessStarter", n);
            BaselineMissingService(name, "KIV_NT_StopService(%s): OpenService");
        }
    }
}

// ---- an uninstall run on a script of 50 missing services -------------------

static HMODULE Library;
static char HookCommandLine[MAX_PATH + 16];
static char HookScript[MAX_PATH];
static char HookLog[MAX_PATH];

static void DispatchPending()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Each run ends with the host dispatching, which removes the run's window.
static void LibraryUninstall(int count)
{
    WideCommandLine commandLine(Library, HookCommandLine);
    for (int i = 0; i < count; i++) {
        UninstInitialize(0, Library);
        DispatchPending();
    }
}

static INT_PTR CALLBACK BaselineStatusProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE)
        DestroyWindow(dialog);
    return FALSE;
}

static void BaselineTrace(const char *format, int a, int b)
{
    char line[512];
    wsprintfA(line, format, a, b);
    OutputDebugStringA(line);
}

// The status window's calls for one step: hide, caption and text, layout
// (metrics, measured text, four trace lines, three moves), show.
static void BaselineStatusStep(HWND dialog, const char *text)
{
    HWND animation = GetDlgItem(dialog, IDC_STATUS_ANIMATE);
    HWND label = GetDlgItem(dialog, IDC_STATUS_TEXT);
    ShowWindow(dialog, SW_HIDE);
    SetWindowTextA(dialog, "Uninstall");
    SetWindowTextA(label, text);
    int cx = GetSystemMetrics(SM_CXFULLSCREEN), cy = GetSystemMetrics(SM_CYFULLSCREEN);
    BaselineTrace("Screen %d %d\n", cx, cy);
    char shown[512] = {0};
    GetWindowTextA(label, shown, sizeof(shown) - 1);
    RECT rect = {0, 0, 10, 10};
    HDC dc = GetWindowDC(label);
    DrawTextA(dc, shown, -1, &rect, DT_CALCRECT | DT_SINGLELINE);
    ReleaseDC(label, dc);
    BaselineTrace("Msg %d %d\n", rect.right + 40, rect.bottom + 40);
    BaselineTrace("Anim %d %d\n", 235, 92);
    int dlgH = GetSystemMetrics(SM_CYMIN) + 92 + 80;
    BaselineTrace("Dlg %d %d\n", 235 + rect.right + 160, dlgH);
    MoveWindow(animation, 40, 40, 235, 92, FALSE);
    MoveWindow(label, 315, 40, rect.right + 40, rect.bottom + 40, FALSE);
    MoveWindow(dialog, (cx - 395 - rect.right) / 2, (cy - dlgH) / 2, 395 + rect.right, dlgH, FALSE);
    ShowWindow(dialog, SW_SHOW);
}

// Reads one key into value and logs it, as the run does.
static bool BaselineListEntry(FILE *log, const char *section, const char *keyFormat, int index, char *value)
{
    char key[512];
    wsprintfA(key, keyFormat, index);
    GetPrivateProfileStringA(section, key, "NOT_FOUND", value, 512, HookScript);
    fprintf(log, "Key name is %s\n", key);
    fprintf(log, "Value is %s\n", value);
    return lstrcmpA(value, "NOT_FOUND") != 0;
}

// The run's calls made directly: command line, log, 50 reads each with a
// status step and a removal, the 51 fixed removals, the configuration file,
// the one command read, the log's end; then the host's dispatching.
static void BaselineUninstall(int count)
{
    for (int run = 0; run < count; run++) {
        GetCommandLineW();
        FILE *log = _fsopen(HookLog, "a", _SH_DENYNO);
        fputs("=====================================\n", log);
        fputs("BEGIN Kivelstrand UN-install log file\n", log);
        fprintf(log, "Log file name is %s\n", HookLog);
        fprintf(log, "Section is %s\n", "ServiceDelete");
        HWND dialog = NULL;
        char value[512];
        for (int i = 0; i < 50 && BaselineListEntry(log, "ServiceDelete", "Service%d", i, value); i++) {
            char status[512];
            wsprintfA(status, "Uninstalling %s service, please wait...", value);
            if (dialog == NULL) {
                dialog = CreateDialogParamA(Library, MAKEINTRESOURCEA(IDD_STATUS), NULL, BaselineStatusProc, 0);
                SetTimer(dialog, 1, 1000, NULL);
                HWND animation = GetDlgItem(dialog, IDC_STATUS_ANIMATE);
                SendMessageA(animation, ACM_OPENA, 0, (LPARAM)MAKEINTRESOURCEA(IDR_AVI_BKW));
                SendMessageA(animation, ACM_PLAY, (WPARAM)0xFFFFFFFF, (LPARAM)0xFFFFFFFF);
            }
            BaselineStatusStep(dialog, status);
            BaselineMissingService(value, "KIV_NT_RemoveService(%s): OpenService");
            HWND animation = GetDlgItem(dialog, IDC_STATUS_ANIMATE);
            SendMessageA(animation, ACM_STOP, 0, 0);
            SendMessageA(animation, ACM_OPENA, 0, 0);
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
        for (int n = 0; n < 50; n++) {
            char name[64];
            wsprintfA(name, "%s%d", "KivProcessStarter", n);
            BaselineMissingService(name, "KIV_NT_RemoveService(%s): OpenService");
        }
        BaselineMissingService("KIV Process Starter", "KIV_NT_RemoveService(%s): OpenService");
        char windows[512], config[512];
        GetWindowsDirectoryA(windows, sizeof(windows));
        wsprintfA(config, "%s\\kivcfg.ini", windows);
        DeleteFileA(config);
        fprintf(log, "Section is %s\n", "CustomCommand");
        BaselineListEntry(log, "CustomCommand", "Command%d", 0, value);
        fputs("END Kivelstrand UN-install log file\n", log);
        fputs("=====================================\n", log);
        fclose(log);
        DispatchPending();
    }
}

typedef BOOL(WINAPI *EntryPoint)(HINSTANCE, DWORD, LPVOID);

// A script of fifty services that do not exist, in a folder of its own; the
// run clears the module instance, so the entry point's attach restores it.
static void CompareUninstall()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    char folder[MAX_PATH], dir[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    wsprintfA(dir, "%skiv_bench_hook_%lu\\", folder, GetCurrentProcessId());
    CreateDirectoryA(dir, NULL);
    wsprintfA(HookCommandLine, "kivhost.exe -c\"%skiv_inst.dll\"", dir);
    wsprintfA(HookScript, "%skivunins.ini", dir);
    wsprintfA(HookLog, "%skivuninslog.txt", dir);
    FILE *script = fopen(HookScript, "w");
    if (script == NULL) {
        printf("cannot write %s; uninstall figure skipped\n", HookScript);
        return;
    }
    fputs("[ServiceDelete]\n", script);
    for (int i = 0; i < 50; i++)
        fprintf(script, "Service%d=KivBenchNoService%d\n", i, i);
    fclose(script);

    Compare("Uninstall run, 50 missing services", LibraryUninstall, BaselineUninstall, 2);

    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(Library, "DllMain");
    entry(Library, DLL_PROCESS_ATTACH, NULL);
    DeleteFileA(HookScript);
    DeleteFileA(HookLog);
    RemoveDirectoryA(dir);
}

// ---- GetWindowByTitle on a deep and a wide tree ---------------------------

static const char TARGET[] = "kiv bench target";
static HWND TreeRoot;
static HWND BaselineFound;

// One enumeration below the root reaches every descendant, each read once.
static BOOL CALLBACK BaselineVisit(HWND window, LPARAM title)
{
    char text[1024] = {0};
    GetWindowTextA(window, text, sizeof(text));
    if (lstrcmpA(text, (const char *)title) == 0) {
        BaselineFound = window;
        return FALSE;
    }
    return TRUE;
}

static void LibraryLookup(int count)
{
    for (int i = 0; i < count; i++)
        GetWindowByTitle(TreeRoot, TARGET);
}

static void BaselineLookup(int count)
{
    for (int i = 0; i < count; i++) {
        BaselineFound = NULL;
        EnumChildWindows(TreeRoot, BaselineVisit, (LPARAM)TARGET);
    }
}

// A chain `depth` windows deep, or `width` children side by side; the target
// is the last window either way.
static HWND BuildTree(int depth, int width)
{
    HWND root = CreateWindowExA(0, "STATIC", "root", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    HWND parent = root;
    for (int i = 0; i < depth; i++)
        parent = CreateWindowExA(0, "STATIC", i + 1 == depth ? TARGET : "level", WS_CHILD, 0, 0, 5, 5, parent,
                                 NULL, NULL, NULL);
    for (int i = 0; i < width; i++)
        CreateWindowExA(0, "STATIC", i + 1 == width ? TARGET : "leaf", WS_CHILD, 0, 0, 5, 5, root, NULL, NULL,
                        NULL);
    return root;
}

// ---- loading and unloading -----------------------------------------------

static char DllPath[MAX_PATH];
// A copy under another name: the linked DLL is loaded already, so loading it
// again would only count a reference. It is given a base of its own.
static char CopyPath[MAX_PATH];
// Built with the DLL's compile and link options and its entry shape, and
// nothing else (bench/empty_dll): what a load costs whatever the DLL does.
// Copied beside the library's copy.
static char EmptyPath[MAX_PATH];

// The file offset of an RVA in an image read whole, or null outside its raw data.
static BYTE *FileAt(BYTE *bytes, DWORD size, DWORD rva)
{
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(bytes + ((IMAGE_DOS_HEADER *)bytes)->e_lfanew);
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
        DWORD offset = rva - section->VirtualAddress + section->PointerToRawData;
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData &&
            offset + 4 <= size)
            return bytes + offset;
    }
    return NULL;
}

// The lowest free range of the process that holds `bytes`, on a 16 MB step.
static ULONG_PTR FreeBase(DWORD bytes)
{
    for (ULONG_PTR base = 0x10000000; base < 0x70000000; base += 0x01000000) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery((void *)base, &info, sizeof(info)) == sizeof(info) && info.State == MEM_FREE &&
            info.RegionSize >= bytes)
            return base;
    }
    return 0;
}

// Writes the copy with a base of its own and its fixups applied here: a host
// maps its one copy at the preferred base, and a copy relocated at every load
// would count work that no host's load does.
static bool WriteRebasedCopy()
{
    HANDLE file = CreateFileA(DllPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, NULL), done = 0;
    BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size);
    BOOL read = ReadFile(file, bytes, size, &done, NULL) && done == size;
    CloseHandle(file);
    if (!read) {
        HeapFree(GetProcessHeap(), 0, bytes);
        return false;
    }
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(bytes + ((IMAGE_DOS_HEADER *)bytes)->e_lfanew);
    ULONG_PTR base = FreeBase(nt->OptionalHeader.SizeOfImage);
    ULONG_PTR delta = base - (ULONG_PTR)nt->OptionalHeader.ImageBase;
    IMAGE_DATA_DIRECTORY fixups = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (DWORD at = 0; base != 0 && at < fixups.Size;) {
        IMAGE_BASE_RELOCATION *block = (IMAGE_BASE_RELOCATION *)FileAt(bytes, size, fixups.VirtualAddress + at);
        if (block == NULL || block->SizeOfBlock < sizeof(*block))
            break;
        WORD *entry = (WORD *)(block + 1);
        for (DWORD n = 0; n < (block->SizeOfBlock - sizeof(*block)) / 2; n++) {
            BYTE *target = FileAt(bytes, size, block->VirtualAddress + (entry[n] & 0xfff));
            if ((entry[n] >> 12) == IMAGE_REL_BASED_HIGHLOW && target != NULL)
                *(DWORD *)target += (DWORD)delta;
            else if ((entry[n] >> 12) == IMAGE_REL_BASED_DIR64 && target != NULL)
                *(ULONGLONG *)target += delta;
        }
        at += block->SizeOfBlock;
    }
    nt->OptionalHeader.ImageBase = base;
    bool written = false;
    file = base != 0 ? CreateFileA(CopyPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL) : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        written = WriteFile(file, bytes, size, &done, NULL) && done == size;
        CloseHandle(file);
    }
    HeapFree(GetProcessHeap(), 0, bytes);
    return written;
}

static void LoadAndFree(const char *path, int count)
{
    for (int i = 0; i < count; i++)
        FreeLibrary(LoadLibraryA(path));
}

static void LibraryLoad(int count)
{
    LoadAndFree(CopyPath, count);
}

static void EmptyLoad(int count)
{
    LoadAndFree(EmptyPath, count);
}

// Imports by name, bound again by a baseline as the loader does.
static const int MAX_IMPORTS = 512;
// Names are copied: a list may outlive the image it was read from.
struct ImportList {
    char dll[MAX_IMPORTS][32];
    char name[MAX_IMPORTS][64];
    int count;
};
static ImportList LibraryImports;

static void ReadImports(HMODULE module, ImportList *list)
{
    list->count = 0;
    BYTE *base = (BYTE *)((ULONG_PTR)module & ~(ULONG_PTR)3);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + directory.VirtualAddress);
    for (; directory.VirtualAddress != 0 && d->Name != 0; d++) {
        IMAGE_THUNK_DATA *thunk = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        for (; thunk->u1.AddressOfData != 0 && list->count < MAX_IMPORTS; thunk++) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal))
                continue;
            lstrcpynA(list->dll[list->count], (const char *)(base + d->Name), sizeof(list->dll[0]));
            lstrcpynA(list->name[list->count],
                      (const char *)((IMAGE_IMPORT_BY_NAME *)(base + thunk->u1.AddressOfData))->Name,
                      sizeof(list->name[0]));
            list->count++;
        }
    }
}

static void BindImports(const ImportList &list)
{
    for (int n = 0; n < list.count; n++)
        GetProcAddress(GetModuleHandleA(list.dll[n]), list.name[n]);
}

// The same file mapped without its imports or entry point, then the import
// binding and the entry point's system calls made here. Attach:
// announcement, registration, default clip line. Detach: announcement with
// its record, deregistration.
static void BaselineLibraryLoad(int count)
{
    for (int i = 0; i < count; i++) {
        HMODULE module = LoadLibraryExA(CopyPath, NULL, DONT_RESOLVE_DLL_REFERENCES);
        BindImports(LibraryImports);
        EntryReport(NULL);
        HANDLE source = RegisterEventSourceA(NULL, ENTRY_REPORT_SOURCE);
        OutputDebugStringA(ENTRY_DEFAULT_CLIP_LINE);
        EntryReport(source);
        DeregisterEventSource(source);
        FreeLibrary(module);
    }
}

// The first ratio is the load's cost over the loader's own floor; the second
// shows how much of it is the entry point's work.
static void CompareLoads()
{
    // Loaded from the copy's folder, so both loads look up the same path.
    char beside[MAX_PATH];
    lstrcpyA(beside, DllPath);
    char *slash = strrchr(beside, '\\');
    lstrcpyA(slash != NULL ? slash + 1 : beside, "empty_dll.dll");
    if (!CopyFileA(beside, EmptyPath, FALSE)) {
        printf("empty_dll.dll not found beside the program; load figures skipped\n");
        return;
    }
    CompareRounds("LoadLibrary + FreeLibrary vs empty DLL", LibraryLoad, EmptyLoad, 50);
    CompareRounds("LoadLibrary + FreeLibrary vs its calls made", LibraryLoad, BaselineLibraryLoad, 50);
}

// ---- first load in a fresh host ---------------------------------------------

// The microseconds one fresh host process took to load the DLL, or a negative
// number when it could not.
static double ColdLoadOnce(const char *host, const char *dll)
{
    char line[3 * MAX_PATH];
    wsprintfA(line, "\"%s\" \"%s\"", host, dll);
    ChildRun run = RunProcess(line, 60000);
    if (!run.started || run.exitCode != 0) {
        printf("  %s: %s", dll, run.output.c_str());
        return -1;
    }
    return atof(run.output.c_str());
}

// One DLL's first loads, in the order the hosts ran, and what it is printed as.
struct ColdLoads {
    const char *name;
    char path[MAX_PATH];
    double us[41];
};
static const int COLD_PROCESSES = sizeof(ColdLoads::us) / sizeof(double);

// Medians and quartiles of each side, and the medians of the pairs: a
// library host and the baseline host that ran next to it saw the same spell
// of a busy machine, so their ratio and their difference scatter less than
// either side does. The quartiles show how much the machine scattered them;
// other work only ever adds time, so the lower quartiles are the nearest to
// what a quiet machine gives.
static void PrintColdRatio(const ColdLoads &lib, const ColdLoads &base)
{
    double l[COLD_PROCESSES], b[COLD_PROCESSES], ratio[COLD_PROCESSES], extra[COLD_PROCESSES];
    for (int i = 0; i < COLD_PROCESSES; i++) {
        l[i] = lib.us[i];
        b[i] = base.us[i];
        ratio[i] = lib.us[i] / base.us[i];
        extra[i] = lib.us[i] - base.us[i];
    }
    double *all[] = {l, b, ratio, extra};
    for (double *values : all)
        qsort(values, COLD_PROCESSES, sizeof(double), ByValue);
    const int mid = COLD_PROCESSES / 2, low = COLD_PROCESSES / 4, high = COLD_PROCESSES - 1 - COLD_PROCESSES / 4;
    printf("%-44s library %9.1f us  %-9s %9.1f us  ratio %.3f (pairs: %.3f, %+.1f us)\n",
           "First LoadLibrary in a fresh GUI host", l[mid], base.name, b[mid], l[mid] / b[mid], ratio[mid], extra[mid]);
    printf("%-44s quartiles %.1f-%.1f us  %-9s %.1f-%.1f us  lower quartiles' ratio %.3f\n", "", l[low], l[high],
           base.name, b[low], b[high], l[low] / b[low]);
}

// A host's first load pays for every DLL the library brings in that the host
// has not loaded yet; a warm load pays for none of them. The processes
// alternate, library, reference, empty DLL, so a busier spell of the machine
// weighs on all alike.
static void CompareColdLoads()
{
    char host[MAX_PATH];
    lstrcpyA(host, DllPath);
    char *slash = strrchr(host, '\\');
    char *name = slash != NULL ? slash + 1 : host;
    ColdLoads lib = {"library", {0}, {0}}, ref = {"reference", {0}, {0}}, empty = {"empty DLL", {0}, {0}};
    lstrcpyA(lib.path, DllPath);
    lstrcpyA(ref.path, host);
    lstrcpyA(ref.path + (name - host), "reference_dll.dll");
    lstrcpyA(empty.path, host);
    lstrcpyA(empty.path + (name - host), "empty_dll.dll");
    lstrcpyA(name, "coldload_host.exe");
    for (int i = 0; i < COLD_PROCESSES; i++) {
        lib.us[i] = ColdLoadOnce(host, lib.path);
        ref.us[i] = ColdLoadOnce(host, ref.path);
        empty.us[i] = ColdLoadOnce(host, empty.path);
        if (lib.us[i] < 0 || ref.us[i] < 0 || empty.us[i] < 0) {
            printf("first load figures skipped\n");
            return;
        }
    }
    printf("First loads: medians of %d fresh hosts each; the reference's ratio is held to at most 1.10\n",
           COLD_PROCESSES);
    PrintColdRatio(lib, empty);
    PrintColdRatio(lib, ref);
}

// ---- size -----------------------------------------------------------------

// The file's size, without the resource section's bytes, and each clip as
// the resource loader finds it.
static void PrintSize(HMODULE module)
{
    HANDLE file = CreateFileA(DllPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD size = GetFileSize(file, NULL);
    CloseHandle(file);
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    DWORD resources = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    DWORD resourceBytes = 0;
    for (int i = 0; i < nt->FileHeader.NumberOfSections; i++, section++)
        if (resources >= section->VirtualAddress && resources < section->VirtualAddress + section->SizeOfRawData)
            resourceBytes = section->SizeOfRawData;
    printf("kiv_inst.dll: %lu bytes, %lu without resources\n", size, size - resourceBytes);

    DWORD clips = 0;
    const int ids[] = {102, 107, 109};
    for (int id : ids) {
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), "AVI");
        DWORD bytes = resource != NULL ? SizeofResource(module, resource) : 0;
        printf("  clip %d: %lu bytes\n", id, bytes);
        clips += bytes;
    }
    printf("  clips together: %lu bytes\n", clips);
}

static bool Wanted(int argc, char **argv, const char *group)
{
    if (argc < 2)
        return true;
    for (int i = 1; i < argc; i++)
        if (lstrcmpiA(argv[i], group) == 0)
            return true;
    return false;
}

// Groups: exists, stopall, lookup, uninstall, load, coldload, size; none given: all.
int main(int argc, char **argv)
{
    Library = GetModuleHandleA("kiv_inst.dll");
    GetModuleFileNameA(Library, DllPath, MAX_PATH);
    BaselineSource = RegisterEventSourceA(NULL, "KIV Installation DLL");
    ReadImports(Library, &LibraryImports);

    if (Wanted(argc, argv, "exists"))
        Compare("ServiceExists, missing name", LibraryExists, BaselineExists, 200);
    if (Wanted(argc, argv, "stopall"))
        Compare("StopAllProcessStarters, none installed", LibraryStopAll, BaselineStopAll, 3);
    if (Wanted(argc, argv, "lookup")) {
        TreeRoot = BuildTree(200, 0);
        Compare("GetWindowByTitle, 200 deep", LibraryLookup, BaselineLookup, 50);
        DestroyWindow(TreeRoot);
        TreeRoot = BuildTree(0, 2000);
        Compare("GetWindowByTitle, 2000 wide", LibraryLookup, BaselineLookup, 20);
        DestroyWindow(TreeRoot);
    }
    if (Wanted(argc, argv, "uninstall"))
        CompareUninstall();
    if (Wanted(argc, argv, "load")) {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        wsprintfA(CopyPath, "%skiv_bench_copy.dll", folder);
        wsprintfA(EmptyPath, "%skiv_bench_empty.dll", folder);
        if (WriteRebasedCopy())
            CompareLoads();
        else
            printf("cannot write %s; load figures skipped\n", CopyPath);
        DeleteFileA(CopyPath);
        DeleteFileA(EmptyPath);
    }
    if (Wanted(argc, argv, "coldload"))
        CompareColdLoads();
    if (Wanted(argc, argv, "size"))
        PrintSize(Library);
    DeregisterEventSource(BaselineSource);
    return 0;
}
