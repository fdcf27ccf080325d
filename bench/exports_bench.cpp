// exports_bench: what the exports cost beside baselines that make the same
// system calls directly, with no library code around them. Each figure is the
// best of several timed batches; the ratio is library / baseline.
//
// Run under Wine with a display, e.g. from a build tree:
//   . cmake/wine-session.sh; wine_session_start build
//   wine build/bin/exports_bench.exe; wine_session_stop
#include <windows.h>
#include <ntsecapi.h>

#include <stdio.h>

#include "kiv_inst.h"

static const char MISSING[] = "KivBenchNoSuchService";
static const char CONFIG_KEY[] = "SOFTWARE\\Brackwen Technologies Inc.\\Kivelstrand\\Config";

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

// The SID of the current user, as each record carries it.
static PSID BaselineSid()
{
    LSA_OBJECT_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof(attributes));
    LSA_HANDLE policy = NULL;
    LsaOpenPolicy(NULL, &attributes, POLICY_ALL_ACCESS, &policy);
    WCHAR user[1025] = {0};
    DWORD userChars = 1024;
    GetUserNameW(user, &userChars);
    DWORD sidBytes = 0, domainChars = 0;
    SID_NAME_USE use;
    LookupAccountNameW(NULL, user, NULL, &sidBytes, NULL, &domainChars, &use);
    PSID sid = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sidBytes ? sidBytes : 1);
    WCHAR *domain = (WCHAR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (domainChars + 1) * sizeof(WCHAR));
    LookupAccountNameW(NULL, user, sid, &sidBytes, domain, &domainChars, &use);
    HeapFree(GetProcessHeap(), 0, domain);
    if (policy != NULL)
        LsaClose(policy);
    return sid;
}

// One error record: configuration lookup, source, system text, SID, report.
static void BaselineRecord(const char *message, DWORD code)
{
    GetCommandLineA();
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CONFIG_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    HANDLE source = RegisterEventSourceA(NULL, "Kivelstrand");
    WCHAR wide[1024] = {0};
    char narrow[1024] = {0};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, wide, 1024, NULL);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), NULL, NULL);
    char record[4096];
    wsprintfA(record, "Kivelstrand System\r\n\r\nProcess: bench (PID: %lu)\r\n\r\n%s\r\n\r\n%s\r\n",
              GetCurrentProcessId(), message, narrow);
    PSID sid = BaselineSid();
    const char *strings[1] = {record};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 5, 21, sid, 1, 0, strings, NULL);
    HeapFree(GetProcessHeap(), 0, sid);
    DeregisterEventSource(source);
}

static void BaselineStopAll(int count)
{
    for (int i = 0; i < count; i++) {
        for (int n = 0; n < 100; n++) {
            char name[64], message[1024];
            wsprintfA(name, "%s%d", "KivProcessStarter", n);
            SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
            SC_LOCK lock = LockServiceDatabase(manager);
            SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
            DWORD code = GetLastError();
            if (service == NULL) {
                wsprintfA(message, "KIV_NT_StopService(%s): OpenService", name);
                BaselineRecord(message, code);
            } else {
                CloseServiceHandle(service);
            }
            UnlockServiceDatabase(lock);
            CloseServiceHandle(manager);
        }
    }
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
// again would only count a reference.
static char CopyPath[MAX_PATH];

static void LibraryLoad(int count)
{
    for (int i = 0; i < count; i++)
        FreeLibrary(LoadLibraryA(CopyPath));
}

// The DLL's imports by name, bound again by the baseline as the loader does.
static const int MAX_IMPORTS = 512;
static const char *ImportDll[MAX_IMPORTS];
static const char *ImportName[MAX_IMPORTS];
static int ImportCount;

static void ReadImports(HMODULE module)
{
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + directory.VirtualAddress);
    for (; directory.VirtualAddress != 0 && d->Name != 0; d++) {
        IMAGE_THUNK_DATA *thunk = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        for (; thunk->u1.AddressOfData != 0 && ImportCount < MAX_IMPORTS; thunk++) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal))
                continue;
            ImportDll[ImportCount] = (const char *)(base + d->Name);
            ImportName[ImportCount] = (const char *)((IMAGE_IMPORT_BY_NAME *)(base + thunk->u1.AddressOfData))->Name;
            ImportCount++;
        }
    }
}

// What the entry point does at attach and at detach, made directly.
static void BaselineEntryReport()
{
    char *text = NULL;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   NULL, GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
    OutputDebugStringA("Installation DLL main called");
    OutputDebugStringA(": ");
    OutputDebugStringA(text ? text : "");
    OutputDebugStringA(" \n");
    LocalFree(text);
}

// The same file mapped without its imports or entry point, then the import
// binding and the entry point's system calls made here.
static void BaselineLoad(int count)
{
    for (int i = 0; i < count; i++) {
        HMODULE module = LoadLibraryExA(CopyPath, NULL, DONT_RESOLVE_DLL_REFERENCES);
        for (int n = 0; n < ImportCount; n++)
            GetProcAddress(GetModuleHandleA(ImportDll[n]), ImportName[n]);
        BaselineEntryReport();
        HANDLE source = RegisterEventSourceA(NULL, "KIV Installation DLL");
        BaselineEntryReport();
        const char *strings[2] = {"Installation DLL main called", ""};
        ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, strings, NULL);
        DeregisterEventSource(source);
        FreeLibrary(module);
    }
}

// ---- size -----------------------------------------------------------------

static void PrintSize(HMODULE module)
{
    HANDLE file = CreateFileA(DllPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD size = GetFileSize(file, NULL);
    CloseHandle(file);
    DWORD clips = 0;
    const int ids[] = {102, 107, 109};
    for (int id : ids) {
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), "AVI");
        if (resource != NULL)
            clips += SizeofResource(module, resource);
    }
    printf("kiv_inst.dll size: %lu bytes with the clips, %lu without (clips %lu)\n", size, size - clips, clips);
}

int main()
{
    HMODULE self = GetModuleHandleA("kiv_inst.dll");
    GetModuleFileNameA(self, DllPath, MAX_PATH);
    BaselineSource = RegisterEventSourceA(NULL, "KIV Installation DLL");
    ReadImports(self);

    Compare("ServiceExists, missing name", LibraryExists, BaselineExists, 200);
    Compare("StopAllProcessStarters, none installed", LibraryStopAll, BaselineStopAll, 3);

    TreeRoot = BuildTree(200, 0);
    Compare("GetWindowByTitle, 200 deep", LibraryLookup, BaselineLookup, 50);
    DestroyWindow(TreeRoot);
    TreeRoot = BuildTree(0, 2000);
    Compare("GetWindowByTitle, 2000 wide", LibraryLookup, BaselineLookup, 20);
    DestroyWindow(TreeRoot);

    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    wsprintfA(CopyPath, "%skiv_bench_copy.dll", folder);
    if (CopyFileA(DllPath, CopyPath, FALSE)) {
        Compare("LoadLibrary + FreeLibrary", LibraryLoad, BaselineLoad, 200);
        DeleteFileA(CopyPath);
    }
    PrintSize(self);
    DeregisterEventSource(BaselineSource);
    return 0;
}
