// Every import failing, one call at a time. For each scenario of normal use
// the program first counts the calls the DLL makes to its imports, then runs
// the scenario again once per call k that can fail, in a child process of its
// own, with that call failing as the function documents failure. Each point
// is judged on four counts: the child survived (it ended, in time); it left
// nothing behind (handles, windows, timers, the database lock, heap and
// runtime blocks, open files, AVI files and the AVI library's init count);
// the failing export gave its failure value where the failed step decides it
// and its usual result elsewhere; the report is the one the docs give.
// Run under Wine from the build's bin folder, in a session with a display:
//   faults.exe [--every N | --points N] [--ends N] [--scenario NAME]
// By default every point; --every N takes every Nth fallible call, --points N
// about N points per scenario spread evenly (the test run's short sweep);
// --ends N tries the first and last N fallible calls whatever the stride, where
// a long scenario's one-off steps lie (the repeated ones sit in between).
// Exit code 0 when every point tried passed all four.
#include <windows.h>
#include <commctrl.h>
#include <ntsecapi.h>
#include <vfw.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "dialog_driver.h"
#include "import_hook.h"
#include "kiv_inst.h"
#include "process.h"
#include "soak_run.h"
#include "test_service.h"

// ---- what each import does when it fails ------------------------------

enum Kind {
    NEVER,   // no failure to give: void, or nothing the system documents
    FAILS,   // not called; returns its failure value with the error set
    RELEASES // a release: done for real, then reported as failed
};

struct ImportRule {
    const char *name;
    Kind kind;
    int popBytes; // what the callee removes: the arguments of a stdcall import, 0 for the runtime's
    DWORD value;
    DWORD error;
};

const DWORD DENIED = ERROR_ACCESS_DENIED;
const DWORD MEMORY = ERROR_NOT_ENOUGH_MEMORY;
const DWORD BAD_HANDLE = ERROR_INVALID_HANDLE;
const DWORD MISSING = ERROR_FILE_NOT_FOUND;
const DWORD LSA_DENIED = 0xC0000022;
const DWORD LSA_BAD_HANDLE = 0xC0000008;
const DWORD AVI_OPEN_FAILED = 0x80044069;
const DWORD CRT_EOF = (DWORD)-1;

const ImportRule RULES[] = {
    // ADVAPI32
    {"CloseServiceHandle", RELEASES, 4, FALSE, BAD_HANDLE},
    {"ControlService", FAILS, 12, FALSE, DENIED},
    {"CreateServiceA", FAILS, 52, 0, DENIED},
    {"CreateServiceW", FAILS, 52, 0, DENIED},
    {"DeleteService", FAILS, 4, FALSE, DENIED},
    {"DeregisterEventSource", RELEASES, 4, FALSE, BAD_HANDLE},
    {"GetUserNameW", FAILS, 8, FALSE, MEMORY},
    {"LockServiceDatabase", FAILS, 4, 0, DENIED},
    {"LookupAccountNameW", FAILS, 28, FALSE, DENIED},
    {"LsaClose", RELEASES, 4, LSA_BAD_HANDLE, BAD_HANDLE},
    {"LsaOpenPolicy", FAILS, 16, LSA_DENIED, DENIED},
    {"OpenSCManagerA", FAILS, 12, 0, DENIED},
    {"OpenServiceA", FAILS, 12, 0, DENIED},
    {"OpenServiceW", FAILS, 12, 0, DENIED},
    {"QueryServiceStatus", FAILS, 8, FALSE, BAD_HANDLE},
    {"RegCloseKey", RELEASES, 4, ERROR_INVALID_HANDLE, BAD_HANDLE},
    {"RegCreateKeyA", FAILS, 12, ERROR_ACCESS_DENIED, DENIED},
    {"RegOpenKeyExA", FAILS, 20, ERROR_ACCESS_DENIED, DENIED},
    {"RegQueryValueExA", FAILS, 24, ERROR_FILE_NOT_FOUND, MISSING},
    {"RegSetValueExA", FAILS, 24, ERROR_ACCESS_DENIED, DENIED},
    {"RegisterEventSourceA", FAILS, 8, 0, DENIED},
    {"ReportEventA", FAILS, 36, FALSE, MEMORY},
    {"ReportEventW", FAILS, 36, FALSE, MEMORY},
    {"StartServiceA", FAILS, 12, FALSE, DENIED},
    {"StartServiceW", FAILS, 12, FALSE, DENIED},
    {"UnlockServiceDatabase", RELEASES, 4, FALSE, BAD_HANDLE},
    // AVIFIL32, loaded when a clip file is selected: not imports, handed out
    // by GetProcAddress
    {"AVIFileExit", NEVER, 0, 0, 0},
    {"AVIFileInfoA", FAILS, 12, AVI_OPEN_FAILED, MEMORY},
    {"AVIFileInit", NEVER, 0, 0, 0},
    {"AVIFileOpenA", FAILS, 16, AVI_OPEN_FAILED, MISSING},
    {"AVIFileOpenW", FAILS, 16, AVI_OPEN_FAILED, MISSING},
    {"AVIFileRelease", NEVER, 4, 0, 0},
    // KERNEL32
    {"CloseHandle", RELEASES, 4, FALSE, BAD_HANDLE},
    {"CreateFileW", FAILS, 28, (DWORD)-1, DENIED},
    {"DeleteCriticalSection", NEVER, 4, 0, 0},
    {"DeleteFileA", FAILS, 4, FALSE, DENIED},
    {"FindResourceExW", FAILS, 16, 0, MISSING},
    {"EnterCriticalSection", NEVER, 4, 0, 0},
    {"FormatMessageA", FAILS, 28, 0, MEMORY},
    {"FormatMessageW", FAILS, 28, 0, MEMORY},
    {"FreeLibrary", RELEASES, 4, FALSE, BAD_HANDLE},
    {"GetACP", NEVER, 0, 0, 0},
    {"GetCommandLineA", NEVER, 0, 0, 0},
    {"GetCommandLineW", NEVER, 0, 0, 0},
    {"GetCurrentProcessId", NEVER, 0, 0, 0},
    {"GetDiskFreeSpaceExA", FAILS, 16, FALSE, DENIED},
    {"GetDriveTypeA", FAILS, 4, DRIVE_NO_ROOT_DIR, MISSING},
    {"GetFileInformationByHandle", FAILS, 8, FALSE, DENIED},
    {"GetLastError", NEVER, 0, 0, 0},
    {"GetLogicalDriveStringsA", FAILS, 8, 0, DENIED},
    {"GetModuleFileNameW", FAILS, 12, 0, MEMORY},
    {"GetModuleHandleA", FAILS, 4, 0, MISSING},
    {"GetModuleHandleW", FAILS, 4, 0, MISSING},
    {"GetPrivateProfileStringW", FAILS, 24, 0, MISSING},
    {"GetProcAddress", FAILS, 8, 0, MISSING},
    {"GetProcessHeap", NEVER, 0, 0, 0},
    {"GetThreadLocale", NEVER, 0, 0, 0},
    {"GetUserDefaultLCID", NEVER, 0, 0, 0},
    {"GetUserDefaultUILanguage", NEVER, 0, 0, 0},
    {"GetSystemDirectoryW", FAILS, 8, 0, MEMORY},
    {"GetWindowsDirectoryA", FAILS, 8, 0, MEMORY},
    {"HeapAlloc", FAILS, 12, 0, MEMORY},
    {"HeapFree", RELEASES, 12, FALSE, BAD_HANDLE},
    {"HeapReAlloc", FAILS, 16, 0, MEMORY},
    {"InitializeCriticalSection", NEVER, 4, 0, 0},
    {"IsDBCSLeadByte", NEVER, 4, 0, 0},
    {"IsDBCSLeadByteEx", NEVER, 8, 0, 0},
    {"LeaveCriticalSection", NEVER, 4, 0, 0},
    {"LoadLibraryA", FAILS, 4, 0, MISSING},
    {"LoadLibraryExW", FAILS, 12, 0, MISSING},
    {"LoadResource", FAILS, 8, 0, MISSING},
    {"LockResource", FAILS, 4, 0, MISSING},
    {"LocalFree", RELEASES, 4, 1, BAD_HANDLE},
    {"MultiByteToWideChar", FAILS, 24, 0, MEMORY},
    {"OutputDebugStringA", NEVER, 4, 0, 0},
    {"OutputDebugStringW", NEVER, 4, 0, 0},
    {"SetEndOfFile", FAILS, 4, FALSE, DENIED},
    {"SetLastError", NEVER, 4, 0, 0},
    {"SizeofResource", FAILS, 8, 0, MISSING},
    {"Sleep", NEVER, 4, 0, 0},
    {"TlsGetValue", NEVER, 4, 0, 0},
    {"VirtualProtect", FAILS, 16, FALSE, DENIED},
    {"VirtualQuery", FAILS, 12, 0, DENIED},
    {"WideCharToMultiByte", FAILS, 32, 0, MEMORY},
    {"WinExec", FAILS, 8, ERROR_FILE_NOT_FOUND, MISSING},
    {"lstrlenA", NEVER, 4, 0, 0},
    {"lstrlenW", NEVER, 4, 0, 0},
    // msvcrt: the caller removes the arguments
    {"_close", RELEASES, 0, (DWORD)-1, BAD_HANDLE},
    {"_fdopen", FAILS, 0, 0, MEMORY},
    {"_open_osfhandle", FAILS, 0, (DWORD)-1, MEMORY},
    {"calloc", FAILS, 0, 0, MEMORY},
    {"malloc", FAILS, 0, 0, MEMORY},
    {"realloc", FAILS, 0, 0, MEMORY},
    {"fclose", RELEASES, 0, CRT_EOF, BAD_HANDLE},
    {"fputs", FAILS, 0, CRT_EOF, DENIED},
    {"fprintf", FAILS, 0, CRT_EOF, DENIED},
    {"wprintf", FAILS, 0, CRT_EOF, DENIED},
    {"_vsnprintf", FAILS, 0, CRT_EOF, MEMORY},
    {"_vsnwprintf", FAILS, 0, CRT_EOF, MEMORY},
    {"_amsg_exit", NEVER, 0, 0, 0},
    {"_errno", NEVER, 0, 0, 0},
    {"_initterm", NEVER, 0, 0, 0},
    {"_lock", NEVER, 0, 0, 0},
    {"_unlock", NEVER, 0, 0, 0},
    {"abort", NEVER, 0, 0, 0},
    {"atoi", NEVER, 0, 0, 0},
    {"free", NEVER, 0, 0, 0},
    {"localeconv", NEVER, 0, 0, 0},
    {"memcpy", NEVER, 0, 0, 0},
    {"memset", NEVER, 0, 0, 0},
    {"setlocale", NEVER, 0, 0, 0},
    {"strchr", NEVER, 0, 0, 0},
    {"strcmp", NEVER, 0, 0, 0},
    {"strerror", NEVER, 0, 0, 0},
    {"strlen", NEVER, 0, 0, 0},
    {"strncmp", NEVER, 0, 0, 0},
    {"wcscmp", NEVER, 0, 0, 0},
    {"wcscspn", NEVER, 0, 0, 0},
    {"wcslen", NEVER, 0, 0, 0},
    {"wcsspn", NEVER, 0, 0, 0},
    // USER32
    {"CharNextA", NEVER, 4, 0, 0},
    {"CreateDialogParamA", FAILS, 20, 0, MEMORY},
    {"CreateDialogParamW", FAILS, 20, 0, MEMORY},
    {"DestroyWindow", RELEASES, 4, FALSE, BAD_HANDLE},
    {"DialogBoxIndirectParamA", FAILS, 20, (DWORD)-1, MEMORY},
    {"DialogBoxIndirectParamW", FAILS, 20, (DWORD)-1, MEMORY},
    {"DlgDirSelectExA", FAILS, 16, FALSE, BAD_HANDLE},
    {"DrawTextA", FAILS, 20, 0, BAD_HANDLE},
    {"DrawTextW", FAILS, 20, 0, BAD_HANDLE},
    {"EnableWindow", NEVER, 8, 0, 0},
    {"EndDialog", RELEASES, 8, FALSE, BAD_HANDLE},
    {"EnumChildWindows", FAILS, 12, FALSE, BAD_HANDLE},
    {"EnumWindows", FAILS, 8, FALSE, BAD_HANDLE},
    {"GetClientRect", FAILS, 8, FALSE, BAD_HANDLE},
    {"GetDlgItem", FAILS, 8, 0, BAD_HANDLE},
    {"GetSystemMetrics", FAILS, 4, 0, BAD_HANDLE},
    {"GetWindowDC", FAILS, 4, 0, BAD_HANDLE},
    {"GetWindowTextA", FAILS, 12, 0, BAD_HANDLE},
    {"GetWindowTextW", FAILS, 12, 0, BAD_HANDLE},
    {"KillTimer", RELEASES, 8, FALSE, BAD_HANDLE},
    {"MessageBoxA", FAILS, 16, 0, MEMORY},
    {"MessageBoxW", FAILS, 16, 0, MEMORY},
    {"MoveWindow", FAILS, 24, FALSE, BAD_HANDLE},
    {"PostMessageA", FAILS, 16, FALSE, MEMORY},
    {"ReleaseDC", RELEASES, 8, 0, BAD_HANDLE},
    {"SendMessageA", FAILS, 16, 0, MEMORY},
    {"SendMessageW", FAILS, 16, 0, MEMORY},
    {"SetDlgItemTextA", FAILS, 12, FALSE, BAD_HANDLE},
    {"SetDlgItemTextW", FAILS, 12, FALSE, BAD_HANDLE},
    {"SetFocus", FAILS, 4, 0, BAD_HANDLE},
    {"SetRectEmpty", FAILS, 4, FALSE, BAD_HANDLE},
    {"SetTimer", FAILS, 16, 0, MEMORY},
    {"SetWindowPos", FAILS, 28, FALSE, BAD_HANDLE},
    {"SetWindowTextA", FAILS, 8, FALSE, BAD_HANDLE},
    {"SetWindowTextW", FAILS, 8, FALSE, BAD_HANDLE},
    {"ShowWindow", NEVER, 8, 0, 0},
};
const int RULE_COUNT = (int)(sizeof(RULES) / sizeof(RULES[0]));

const ImportRule *RuleFor(const char *name)
{
    for (int i = 0; i < RULE_COUNT; i++)
        if (strcmp(RULES[i].name, name) == 0)
            return &RULES[i];
    return NULL;
}

// ---- the thunks ----------------------------------------------------------

// One slot of the DLL's import address table, its original target and rule;
// or, without an address, a function the DLL takes by GetProcAddress, whose
// stub is handed out in its place.
const int MAX_SLOTS = 256;
struct Slot {
    void **address;
    const ImportRule *rule;
    std::string name;
};
const char *const LOOKED_UP[] = {"AVIFileInit", "AVIFileOpenA", "AVIFileInfoA", "AVIFileRelease", "AVIFileExit"};
Slot g_slots[MAX_SLOTS];
int g_slotCount = 0;
std::vector<std::string> g_unpatched;

// An argument or result as the stub sees it: one stack slot or register,
// pointer-sized.
typedef ULONG_PTR Arg;

extern "C" {
void *SweepOriginals[MAX_SLOTS];
DWORD SweepPops[MAX_SLOTS];
Arg SweepFailValue;
int SweepEnter(int slot, Arg *args);
Arg SweepLeave(int slot, Arg *args, Arg result, DWORD popped, int mode);
void SweepDispatch(void);
}

// A rule's failure value as the import returns it: a result of -1 or an
// NTSTATUS is a 32-bit value widened with its sign (INVALID_HANDLE_VALUE
// stays itself on x64).
Arg FailValue(DWORD value)
{
    return (Arg)(LONG_PTR)(LONG)value;
}

#ifdef _WIN64
// Each slot's stub puts its index in eax and jumps here. The four register
// arguments go to the home area the caller keeps for them, so that they and
// the arguments on the stack are one array. Enter decides: 0 call the import,
// 1 fail it now, 2 call it and report failure after (a release). A called
// import gets a copy of sixteen argument slots; the caller removes them, as
// every x64 call does.
const int STUB_BYTES = 32;
asm(R"(
    .text
    .globl SweepDispatch
SweepDispatch:
    movq %rcx, 8(%rsp)
    movq %rdx, 16(%rsp)
    movq %r8, 24(%rsp)
    movq %r9, 32(%rsp)
    pushq %rbp
    movq %rsp, %rbp
    pushq %rbx
    pushq %rsi
    pushq %rdi
    pushq %r12
    movl %eax, %r12d
    subq $48, %rsp
    movl %r12d, %ecx
    leaq 16(%rbp), %rdx
    call SweepEnter
    movl %eax, %ebx
    cmpl $1, %eax
    je 1f
    subq $128, %rsp
    leaq 16(%rbp), %rsi
    movq %rsp, %rdi
    movl $16, %ecx
    cld
    rep movsq
    movq 0(%rsp), %rcx
    movq 8(%rsp), %rdx
    movq 16(%rsp), %r8
    movq 24(%rsp), %r9
    leaq SweepOriginals(%rip), %rax
    call *(%rax,%r12,8)
    addq $128, %rsp
    movq %rbx, 32(%rsp)
    movl %r12d, %ecx
    leaq 16(%rbp), %rdx
    movq %rax, %r8
    xorl %r9d, %r9d
    call SweepLeave
    jmp 2f
1:
    movq SweepFailValue(%rip), %rax
2:
    addq $48, %rsp
    popq %r12
    popq %rdi
    popq %rsi
    popq %rbx
    popq %rbp
    ret
)");
#else
// Each slot's stub pushes its index and jumps here. Enter decides: 0 call the
// import, 1 fail it now, 2 call it and report failure after (a release). A
// called import gets a copy of 64 bytes of arguments; what it removed of them
// tells its argument size, which the return then removes from the caller's
// stack as the import itself would have.
const int STUB_BYTES = 16;
asm(R"(
    .text
    .globl _SweepDispatch
_SweepDispatch:
    pushl %ebp
    movl %esp, %ebp
    pushal
    leal 12(%ebp), %eax
    pushl %eax
    pushl 4(%ebp)
    call _SweepEnter
    addl $8, %esp
    movl %eax, -8(%ebp)
    cmpl $1, %eax
    je 1f
    subl $64, %esp
    movl %esp, %edi
    leal 12(%ebp), %esi
    movl $16, %ecx
    cld
    rep movsl
    movl 4(%ebp), %ecx
    call *_SweepOriginals(,%ecx,4)
    movl %eax, -4(%ebp)
    movl %edx, -12(%ebp)
    movl %esp, %ecx
    leal -96(%ebp), %eax
    subl %eax, %ecx
    leal -32(%ebp), %esp
    pushl -8(%ebp)
    pushl %ecx
    pushl -4(%ebp)
    leal 12(%ebp), %eax
    pushl %eax
    pushl 4(%ebp)
    call _SweepLeave
    addl $20, %esp
    movl %eax, -4(%ebp)
    jmp 2f
1:
    movl _SweepFailValue, %eax
    movl %eax, -4(%ebp)
2:
    popal
    popl %ebp
    movl (%esp), %ecx
    movl _SweepPops(,%ecx,4), %ecx
    addl $4, %esp
    pushl %eax
    movl 4(%esp), %eax
    movl %eax, 4(%esp,%ecx,1)
    popl %eax
    addl %ecx, %esp
    ret
)");

#endif

BYTE *g_stubs = NULL;

void WriteSlot(void **slot, void *value)
{
    DWORD old = 0;
    VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof(void *), old, &old);
}

void MakeStub(int s)
{
    BYTE *stub = g_stubs + s * STUB_BYTES;
#ifdef _WIN64
    stub[0] = 0xB8; // mov eax, imm32
    *(DWORD *)(stub + 1) = (DWORD)s;
    stub[5] = 0x49; // mov r11, imm64: the dispatcher may lie beyond a rel32's reach
    stub[6] = 0xBB;
    *(void **)(stub + 7) = (void *)&SweepDispatch;
    stub[15] = 0x41; // jmp r11
    stub[16] = 0xFF;
    stub[17] = 0xE3;
#else
    stub[0] = 0x68; // push imm32
    *(DWORD *)(stub + 1) = (DWORD)s;
    stub[5] = 0xE9; // jmp rel32
    *(DWORD *)(stub + 6) = (DWORD)((BYTE *)&SweepDispatch - (stub + 10));
#endif
}

// Data imports (the runtime's _iob, __mb_cur_max) are no functions and stay.
void PatchAll(HMODULE module)
{
    g_stubs = (BYTE *)VirtualAlloc(NULL, MAX_SLOTS * STUB_BYTES, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    for (const char *name : LOOKED_UP) {
        int s = g_slotCount++;
        g_slots[s] = Slot{NULL, RuleFor(name), name};
        SweepOriginals[s] = NULL;
        SweepPops[s] = (DWORD)g_slots[s].rule->popBytes;
        MakeStub(s);
    }
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (IMAGE_IMPORT_DESCRIPTOR *desc = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); desc->Name != 0;
         desc++) {
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + desc->OriginalFirstThunk);
        void **slots = (void **)(base + desc->FirstThunk);
        for (size_t i = 0; names[i].u1.AddressOfData != 0 && g_slotCount < MAX_SLOTS; i++) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal))
                continue;
            const char *name = (const char *)((IMAGE_IMPORT_BY_NAME *)(base + names[i].u1.AddressOfData))->Name;
            const ImportRule *rule = RuleFor(name);
            if (rule == NULL) {
                g_unpatched.push_back(name);
                continue;
            }
            int s = g_slotCount++;
            g_slots[s] = Slot{&slots[i], rule, name};
            SweepOriginals[s] = slots[i];
            SweepPops[s] = (DWORD)rule->popBytes;
            MakeStub(s);
            WriteSlot(&slots[i], g_stubs + s * STUB_BYTES);
        }
    }
    FlushInstructionCache(GetCurrentProcess(), g_stubs, MAX_SLOTS * STUB_BYTES);
}

void UnpatchAll()
{
    for (int s = 0; s < g_slotCount; s++)
        if (g_slots[s].address != NULL)
            WriteSlot(g_slots[s].address, SweepOriginals[s]);
}

// ---- counting, failing and the ledger of what is held -----------------------

struct Call {
    int slot;
    int exportIndex;
};

bool g_armed = false;
// Only the scenario's own thread is counted: the entry point's thread
// notifications (the animation control plays on threads of its own) come
// whenever the system starts and ends them.
DWORD g_threadId = 0;
long g_failAt = 0; // 1-based position of the call to fail; 0 fails none
std::vector<Call> g_calls;
int g_exportIndex = -1;
bool g_failDone = false;
Call g_failed = {-1, -1};
bool g_failAfterFailedOpen = false;
Arg g_failArgs[8];
std::string g_popMismatch;

// Held resources by kind and value; a positive count at the end is left behind.
std::map<std::pair<std::string, Arg>, int> g_held;
int g_aviInit = 0;
// Whether the last open or creation of a service failed: the manager's close
// that follows it is unchecked.
bool g_serviceOpenFailed = false;

void Hold(const char *kind, Arg value, int delta)
{
    if (value == 0 && delta > 0)
        return;
    g_held[std::make_pair(std::string(kind), value)] += delta;
}

// Timers die with their window.
void DropTimersOf(Arg window)
{
    for (auto &held : g_held)
        if (held.first.first == "timer" && (held.first.second >> 16) == (window & 0xFFFF))
            held.second = 0;
}

extern "C" int SweepEnter(int slot, Arg *args)
{
    DWORD saved = GetLastError();
    if (!g_armed || GetCurrentThreadId() != g_threadId) {
        SetLastError(saved);
        return 0;
    }
    g_calls.push_back(Call{slot, g_exportIndex});
    const ImportRule *rule = g_slots[slot].rule;
    if ((long)g_calls.size() != g_failAt || rule->kind == NEVER) {
        SetLastError(saved);
        return 0;
    }
    g_failDone = true;
    g_failed = g_calls.back();
    g_failAfterFailedOpen = g_serviceOpenFailed;
    memcpy(g_failArgs, args, sizeof(g_failArgs));
    if (rule->kind == RELEASES)
        return 2;
    SweepFailValue = FailValue(rule->value);
    const std::string &name = g_slots[slot].name;
    // An unreadable script reads as missing: the reader hands back the default.
    if (name == "GetPrivateProfileStringA" && args[3] != 0 && args[4] != 0) {
        lstrcpynA((char *)args[3], args[2] ? (const char *)args[2] : "", (int)args[4]);
        SweepFailValue = (Arg)lstrlenA((char *)args[3]);
    }
    // A list box that is full says so with its own code.
    if (name == "SendMessageA" && args[1] == LB_ADDSTRING)
        SweepFailValue = FailValue((DWORD)LB_ERRSPACE);
    if (rule->popBytes == 0)
        errno = rule->error == MEMORY ? ENOMEM : EACCES;
    SetLastError(rule->error);
    return 1;
}

void Account(const std::string &name, Arg *args, Arg result)
{
    if (name == "OpenSCManagerA" || name == "OpenServiceA" || name == "CreateServiceA") {
        Hold("service handle", result, 1);
        if (name != "OpenSCManagerA")
            g_serviceOpenFailed = result == 0;
    }
    else if (name == "CloseServiceHandle")
        Hold("service handle", args[0], -1);
    else if (name == "LockServiceDatabase")
        Hold("database lock", result, 1);
    else if (name == "UnlockServiceDatabase")
        Hold("database lock", args[0], -1);
    else if (name == "RegisterEventSourceA")
        Hold("event source", result, 1);
    else if (name == "DeregisterEventSource")
        Hold("event source", args[0], -1);
    else if ((name == "RegOpenKeyExA" || name == "RegCreateKeyA") && result == ERROR_SUCCESS)
        Hold("registry key", *(Arg *)args[name == "RegOpenKeyExA" ? 4 : 2], 1);
    else if (name == "RegCloseKey")
        Hold("registry key", args[0], -1);
    else if (name == "LsaOpenPolicy" && result == 0)
        Hold("policy handle", *(Arg *)args[3], 1);
    else if (name == "LsaClose")
        Hold("policy handle", args[0], -1);
    else if (name == "LoadLibraryA" || name == "LoadLibraryExW")
        Hold("module", result, 1);
    else if (name == "FreeLibrary")
        Hold("module", args[0], -1);
    else if (name == "_fsopen" || name == "_wfsopen")
        Hold("open file", result, 1);
    else if (name == "fclose")
        Hold("open file", args[0], -1);
    else if (name == "HeapAlloc")
        Hold("heap block", result, 1);
    else if (name == "HeapReAlloc" && result != 0) {
        Hold("heap block", args[2], -1);
        Hold("heap block", result, 1);
    } else if (name == "HeapFree")
        Hold("heap block", args[2], -1);
    else if (name == "calloc" || name == "malloc")
        Hold("runtime block", result, 1);
    else if (name == "realloc" && result != 0) {
        Hold("runtime block", args[0], -1);
        Hold("runtime block", result, 1);
    } else if (name == "free" && args[0] != 0)
        Hold("runtime block", args[0], -1);
    else if ((name == "FormatMessageA" || name == "FormatMessageW") && result != 0 &&
             (args[0] & FORMAT_MESSAGE_ALLOCATE_BUFFER))
        Hold("local block", *(Arg *)args[4], 1);
    else if (name == "LocalFree")
        Hold("local block", args[0], -1);
    else if (name == "AVIFileInit")
        g_aviInit++;
    else if (name == "AVIFileExit")
        g_aviInit--;
    else if (name == "AVIFileOpenA" && result == 0)
        Hold("AVI file", *(Arg *)args[0], 1);
    else if (name == "AVIFileRelease")
        Hold("AVI file", args[0], -1);
    else if (name == "GetWindowDC")
        Hold("device context", result, 1);
    else if (name == "ReleaseDC")
        Hold("device context", args[1], -1);
    else if (name == "SetTimer" && result != 0)
        Hold("timer", ((args[0] & 0xFFFF) << 16) | (args[1] & 0xFFFF), 1);
    else if (name == "KillTimer")
        Hold("timer", ((args[0] & 0xFFFF) << 16) | (args[1] & 0xFFFF), -1);
    else if (name == "CreateDialogParamA")
        Hold("window", result, 1);
    else if (name == "DestroyWindow") {
        Hold("window", args[0], -1);
        DropTimersOf(args[0]);
    }
}

extern "C" Arg SweepLeave(int slot, Arg *args, Arg result, DWORD popped, int mode)
{
    DWORD saved = GetLastError();
    const Slot &s = g_slots[slot];
#ifndef _WIN64
    // On x64 the caller removes the arguments: there is nothing to compare.
    if (popped != SweepPops[slot] && g_popMismatch.empty())
        g_popMismatch = s.name + " removes " + std::to_string(popped) + " bytes";
    SweepPops[slot] = popped;
#else
    (void)popped;
#endif
    if (g_armed && GetCurrentThreadId() == g_threadId)
        Account(s.name, args, result);
    // A looked-up function is called through its stub, counted and failed
    // like an import.
    if (s.name == "GetProcAddress" && result != 0 && !IS_INTRESOURCE(args[1]))
        for (int k = 0; k < g_slotCount; k++)
            if (g_slots[k].address == NULL && g_slots[k].name == (const char *)args[1]) {
                SweepOriginals[k] = (void *)result;
                result = (Arg)(g_stubs + k * STUB_BYTES);
            }
    if (mode == 2) {
        result = FailValue(s.rule->value);
        saved = s.rule->error;
    }
    SetLastError(saved);
    return result;
}

std::string LeftBehind()
{
    std::string left;
    for (const auto &held : g_held)
        if (held.second > 0)
            left += " " + held.first.first;
    if (g_aviInit > 0)
        left += " AVI-library-init";
    return left;
}

// ---- what the docs say a failure gives --------------------------------------

enum Evidence {
    SILENT,    // no report carries the injected error
    ERROR_TEXT, // a debugger line, box, record or diagnostic-log entry carries its text
    DEBUG_LINE, // this debugger line
    RECORD,     // a record holding this text
    STDOUT      // the process's standard output holds this text
};

struct Expectation {
    Evidence evidence;
    const char *text;
    bool decides;   // the failing export gives `result`
    long result;
};

struct ExportCall {
    const char *name;
    long result;
};

const Expectation QUIET = {SILENT, NULL, false, 0};

Expectation Reported(long result, bool decides = true)
{
    return Expectation{ERROR_TEXT, NULL, decides, result};
}

Expectation Line(const char *line, long result)
{
    return Expectation{DEBUG_LINE, line, true, result};
}

bool IsFrameServiceExport(const std::string &e)
{
    return e == "ServiceCreate" || e == "ServiceStart" || e == "ServiceDelete" || e == "ServiceExists";
}

// The status window's calls, wherever they run (the hook opens it too).
// Whether the scenario plays a clip file rather than a built-in clip: a
// window that was not made fails to open the one or the other.
bool g_fileClip = false;

bool StatusExpectation(const std::string &f, const Arg *args, long failure, Expectation *out)
{
    const char *openFailed = g_fileClip ? "Animate_Open file failed.\n" : "Animate_Open resource failed.\n";
    // A clip file that does not open falls back to the default clip; the
    // selection itself still succeeds. So does an AVI file library, or one
    // of its functions, that cannot be had.
    bool aviLibrary = f == "LoadLibraryExW" && lstrcmpiW((LPCWSTR)args[0], L"avifil32.dll") == 0;
    bool aviFunction = f == "GetProcAddress" && !IS_INTRESOURCE(args[1]) &&
                       strncmp((const char *)args[1], "AVIFile", 7) == 0;
    if (f == "AVIFileOpenA" || f == "AVIFileInfoA" || aviLibrary || aviFunction) {
        *out = Line("AviFileOpen failed, using default AVI.\n", 1);
        return true;
    }
    const UINT message = (UINT)args[1];
    if (f == "CreateDialogParamA" || (f == "GetDlgItem" && args[1] == 102)) {
        *out = Line(openFailed, failure);
        return true;
    }
    if (f == "SendMessageA" && message == ACM_OPENA && args[3] != 0) {
        *out = Line(args[3] < 0x10000 ? "Animate_Open resource failed.\n" : "Animate_Open file failed.\n", failure);
        return true;
    }
    if (f == "SendMessageA" && message == ACM_PLAY) {
        *out = Line("Animate_Play failed.\n", failure);
        return true;
    }
    if (f == "SendMessageA" && message == ACM_STOP) {
        *out = Line("Animate_Stop failed.\n", failure);
        return true;
    }
    return false;
}

// The support library's event writer, under every export that reports through it.
bool WriterExpectation(const std::string &f, Expectation *out)
{
    if (f == "RegisterEventSourceA" || f == "ReportEventA" || f == "ReportEventW" || f == "GetUserNameW" ||
        f == "LookupAccountNameW" || f == "HeapAlloc" || f == "HeapReAlloc") {
        *out = Expectation{ERROR_TEXT, NULL, false, 0};
        return true;
    }
    if (f == "LsaOpenPolicy") {
        *out = Expectation{RECORD, "KIV_NT_AllocCurrentSID: OpenPolicy failed.", false, 0};
        return true;
    }
    if (f == "_wfsopen") {
        *out = Expectation{STDOUT, "KIV_NT_LogMessage: Could not open file", false, 0};
        return true;
    }
    return false;
}

Expectation Expect(const std::string &e, const std::string &f, const Arg *args, HWND target, HWND root)
{
    Expectation x = QUIET;
    // The hook's copy of its path (zeroed, unlike the SID lookup's blocks):
    // without it the directory counts as none.
    if (f == "HeapAlloc" && (args[1] & HEAP_ZERO_MEMORY))
        return QUIET;
    if (e == "FakeStatusOpen" || e == "FakeStatusSetAvi" || e == "FakeStatusClose" || e == "dispatch" ||
        e == "UninstInitialize") {
        if (StatusExpectation(f, args, 0, &x))
            return x;
    }
    if (IsFrameServiceExport(e)) {
        if (f == "CloseServiceHandle" && g_failAfterFailedOpen)
            return QUIET;
        if (f == "OpenSCManagerA" || f == "OpenServiceA" || f == "CreateServiceA" || f == "DeleteService" ||
            f == "CloseServiceHandle")
            return Reported(0);
        if (f == "StartServiceA" || f == "QueryServiceStatus" || f == "ControlService")
            return Reported(0, false);
        return QUIET;
    }
    if (WriterExpectation(f, &x))
        return x;
    if (e == "ServiceIsRunning") {
        if (f == "OpenSCManagerA" || f == "QueryServiceStatus")
            return Reported(0);
        if (f == "OpenServiceA")
            return Expectation{SILENT, NULL, true, 0};
        if (f == "CloseServiceHandle")
            return Reported(0, false);
        return QUIET;
    }
    if (e == "StopAllProcessStarters" || e == "UninstInitialize") {
        // The stop routine does not report its status query; removal does.
        bool removal = e == "UninstInitialize";
        if (f == "OpenSCManagerA" || f == "LockServiceDatabase" || f == "OpenServiceA" || f == "ControlService" ||
            f == "DeleteService" || (removal && f == "QueryServiceStatus"))
            return Reported(0, false);
        return QUIET;
    }
    if (e == "GetWindowByTitle") {
        bool decides = f == "EnumWindows" || (f == "EnumChildWindows" && (HWND)args[0] == root) ||
                       (f == "GetWindowTextA" && (HWND)args[0] == target);
        return Expectation{SILENT, NULL, decides, 0};
    }
    if (e == "AskDrive") {
        // The template in the chosen language is English where no other is
        // found, so only a failed load of the found one, or of the dialog,
        // ends the chooser unseen.
        if (f == "DialogBoxIndirectParamA" || f == "LoadResource" || f == "LockResource")
            return Expectation{SILENT, NULL, true, -1};
        if (f == "GetLogicalDriveStringsA")
            return Reported(4);
        if (f == "GetDiskFreeSpaceExA" || (f == "SendMessageA" && args[1] == LB_ADDSTRING))
            return Reported(1, false);
        return QUIET;
    }
    return QUIET;
}

// ---- the scenarios ------------------------------------------------------------

const char WINDOW_PARENT[] = "Kiv faults parent";
const char WINDOW_CHILD[] = "Kiv faults child";
const char STATUS_TEXT[] = "Sweeping, please wait...";
const char STATUS_CAPTION[] = "Kiv faults status";
const char MISSING_SERVICE[] = "KivFaultsNoSuchService";

std::vector<ExportCall> g_results;
std::string g_waitService; // the service whose pending state the pauses wait out
HWND g_target = NULL, g_root = NULL;

void Begin(const char *exportName)
{
    g_exportIndex = (int)g_results.size();
    g_results.push_back(ExportCall{exportName, 0});
}

void End(long result)
{
    g_results.back().result = result;
}

#define CALL(name, expr)                                                                                               \
    do {                                                                                                               \
        Begin(name);                                                                                                   \
        End((long)(expr));                                                                                             \
    } while (0)

// The DLL's pauses wait for the service to settle rather than for the time.
void WINAPI SettlingSleep(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        DWORD state = g_waitService.empty() ? 0 : QueryServiceState(g_waitService);
        if (state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING)
            return;
        Sleep(10);
    }
}

void RoundTrip(bool)
{
    TestService service("normal", NULL, SERVICE_DEMAND_START, false);
    std::string command = TestServiceCommand("normal");
    g_waitService = service.name();
    CALL("ServiceCreate",
         ServiceCreate(service.c_name(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, command.c_str(), NULL, NULL));
    CALL("ServiceStart", ServiceStart(service.c_name()));
    CALL("ServiceExists", ServiceExists(service.c_name()));
    CALL("ServiceIsRunning", ServiceIsRunning(service.c_name()));
    CALL("ServiceDelete", ServiceDelete(service.c_name()));
    g_waitService.clear();
}

void Missing(bool)
{
    CALL("ServiceExists", ServiceExists(MISSING_SERVICE));
    CALL("ServiceIsRunning", ServiceIsRunning(MISSING_SERVICE));
}

void Starters(bool)
{
    CALL("StopAllProcessStarters", StopAllProcessStarters());
}

// A clip file of the build's own, copied beside the child: the AVI file
// library only comes into play for a file.
std::string g_clipFile;

void Status(bool)
{
    g_fileClip = true;
    CALL("FakeStatusSetAvi", FakeStatusSetAvi(g_clipFile.c_str()));
    CALL("FakeStatusOpen", FakeStatusOpen(STATUS_TEXT, STATUS_CAPTION));
    CALL("dispatch", (DispatchPending(), 0));
    CALL("FakeStatusClose", FakeStatusClose());
    CALL("dispatch", (DispatchPending(), 0));
}

void Lookup(bool)
{
    CALL("GetWindowByTitle", GetWindowByTitle(NULL, WINDOW_CHILD) == g_target);
    CALL("GetWindowByTitle", GetWindowByTitle(g_root, WINDOW_CHILD) == g_target);
}

// Presses Next until the dialog has gone; the sweep's thread shows it.
struct DriveDriver {
    DWORD threadId;
    HANDLE stop;
};

DWORD WINAPI DriveNext(LPVOID param)
{
    DriveDriver *d = (DriveDriver *)param;
    for (int i = 0; i < 200; i++) {
        HWND dialog = WaitForThreadDialog(d->threadId, d->stop, 100);
        if (dialog != NULL)
            ClickButton(dialog, 3);
        if (WaitForSingleObject(d->stop, 50) == WAIT_OBJECT_0)
            return 0;
    }
    return 0;
}

void Drive(bool)
{
    DriveDriver driver = {GetCurrentThreadId(), CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE thread = CreateThread(NULL, 0, DriveNext, &driver, 0, NULL);
    char drive[3] = {0};
    CALL("AskDrive", AskDrive(0, drive, "Kiv faults", "Pick a drive"));
    SetEvent(driver.stop);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(driver.stop);
}

void Uninstall(bool)
{
    TempDir dir;
    TestService service("normal");
    std::string script = "[ServiceDelete]\r\nService0=" + service.name() +
                         "\r\n[CustomCommand]\r\nCommand0=cmd.exe /c exit\r\n";
    WriteFileBytes(dir.file("kivunins.ini"), script);
    // Over the sweep's own patch of GetCommandLineW, which never fails.
    WideCommandLine commandLine(KivModule(), "kivhost.exe -c\"" + dir.file("kiv_inst.dll") + "\"");
    CALL("UninstInitialize", UninstInitialize(0, KivModule()));
    CALL("UninstUnInitialize", UninstUnInitialize());
    // The run clears the module handle; the entry point's attach sets it again.
    // Its report carries the thread's last error, which a failure injected at
    // the run's end would still hold: that report is not the run's.
    SetLastError(0);
    bool armed = g_armed;
    g_armed = false;
    typedef BOOL(WINAPI * EntryPoint)(HINSTANCE, DWORD, LPVOID);
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    entry(KivModule(), DLL_PROCESS_ATTACH, NULL);
    g_armed = armed;
    DispatchPending();
}

struct Scenario {
    const char *name;
    void (*run)(bool);
};

const Scenario SCENARIOS[] = {
    {"roundtrip", RoundTrip}, {"missing", Missing},   {"starters", Starters}, {"status", Status},
    {"lookup", Lookup},       {"askdrive", Drive},    {"uninstall", Uninstall},
};

// ---- the child: one run of one scenario ------------------------------------

std::string JournalText()
{
    std::string text;
    for (const JournalEntry &e : journal::Entries()) {
        text += e.text + "\x1f" + e.caption + "\x1f";
        for (const std::string &s : e.strings)
            text += s + "\x1f";
    }
    return text;
}

std::string FirstLine(const std::string &text)
{
    size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

std::string ReadTail(const std::string &path, LONGLONG from)
{
    std::string bytes;
    if (!ReadFileBytes(path, &bytes) || (LONGLONG)bytes.size() < from)
        return std::string();
    return bytes.substr((size_t)from);
}

int RunChild(const Scenario &scenario, long failAt)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    TempDir home;
    SetCurrentDirectoryA(home.path().c_str());
    const std::string diagnosticLog = home.path().substr(0, 2) + "\\kiv.log";
    g_clipFile = home.file("s.avi");
    CopyFileA(BinPath("..\\clips\\clip109.avi").c_str(), g_clipFile.c_str(), FALSE);

    HMODULE module = KivModule();
    DebugCapture debug(module);
    BoxCapture boxes(module);
    EventCapture events(module);
    ImportHook sleep(module, NULL, "Sleep", (void *)SettlingSleep);
    PatchAll(module);

    if (scenario.run == Lookup) {
        g_root = CreateWindowExA(0, "STATIC", WINDOW_PARENT, WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
        g_target = CreateWindowExA(0, "STATIC", WINDOW_CHILD, WS_CHILD, 0, 0, 5, 5, g_root, NULL, NULL, NULL);
    }

    // A first run unwatched: first-use caches of the system are not ours.
    scenario.run(false);
    DispatchPending();
    std::vector<ExportCall> usual = g_results;
    g_results.clear();

    ProcessCounts before = ReadProcessCounts();
    WIN32_FILE_ATTRIBUTE_DATA logData = {};
    LONGLONG logBefore = GetFileAttributesExA(diagnosticLog.c_str(), GetFileExInfoStandard, &logData)
                             ? ((LONGLONG)logData.nFileSizeHigh << 32 | logData.nFileSizeLow)
                             : 0;
    journal::Clear();
    g_calls.clear();
    g_held.clear();
    g_aviInit = 0;
    g_failAt = failAt;
    g_threadId = GetCurrentThreadId();
    g_armed = true;
    scenario.run(true);
    DispatchPending();
    g_armed = false;
    ProcessCounts after = ReadProcessCounts();

    if (failAt == 0) {
        // Counting: every call in order, the fallible ones marked.
        printf("COUNT %zu\n", g_calls.size());
        for (const Call &c : g_calls)
            printf("CALL %s %s %d\n", g_slots[c.slot].name.c_str(), g_results[c.exportIndex].name,
                   g_slots[c.slot].rule->kind != NEVER);
        for (const ExportCall &r : g_results)
            printf("RESULT %s %ld\n", r.name, r.result);
        for (const std::string &name : g_unpatched)
            printf("UNPATCHED %s\n", name.c_str());
        if (!g_popMismatch.empty())
            printf("MISMATCH %s\n", g_popMismatch.c_str());
        printf("LEFT%s\n", LeftBehind().c_str());
        fflush(stdout);
        UnpatchAll();
        return 0;
    }

    // Judged against the unwatched run's results, which had no failure.
    std::string left = LeftBehind();
    if (after.handles > before.handles)
        left += " handles(" + std::to_string(before.handles) + "->" + std::to_string(after.handles) + ")";
    if (after.windows > before.windows)
        left += " windows";

    std::string function = g_failDone ? g_slots[g_failed.slot].name : "none";
    std::string exportName = g_failDone ? g_results[g_failed.exportIndex].name : "none";
    Expectation x = Expect(exportName, function, g_failArgs, g_target, g_root);
    bool resultOk = true;
    if (g_failDone) {
        long got = g_results[g_failed.exportIndex].result;
        long want = x.decides ? x.result : usual[g_failed.exportIndex].result;
        resultOk = got == want;
    }

    std::string reports = JournalText() + "\x1f" + ReadTail(diagnosticLog, logBefore);
    const ImportRule *rule = g_failDone ? g_slots[g_failed.slot].rule : NULL;
    std::string errorText = rule ? FirstLine(SystemText(rule->error)) : std::string();
    bool carriesError = !errorText.empty() && reports.find(errorText) != std::string::npos;
    bool reportedOk = true;
    switch (x.evidence) {
    case SILENT: reportedOk = !carriesError; break;
    case ERROR_TEXT: reportedOk = carriesError; break;
    case DEBUG_LINE: reportedOk = journal::DebugText().find(x.text) != std::string::npos; break;
    case RECORD: reportedOk = reports.find(x.text) != std::string::npos; break;
    case STDOUT: printf("EXPECT-STDOUT %s\n", x.text); break;
    }
    // Where a report went wrong, the report that carries the error shows why.
    std::string why;
    if (!reportedOk && carriesError) {
        size_t at = reports.find(errorText);
        why = " near: " + reports.substr(at > 120 ? at - 120 : 0, 200);
        for (char &c : why)
            if (c == '\r' || c == '\n' || c == '\x1f')
                c = '|';
    }
    printf("POINT %ld %s %s left=%s result=%d reported=%d%s\n", failAt, function.c_str(), exportName.c_str(),
           left.empty() ? "-" : left.c_str() + 1, resultOk, reportedOk, why.c_str());
    fflush(stdout);
    if (scenario.run == Lookup) {
        DestroyWindow(g_root);
        g_root = g_target = NULL;
    }
    UnpatchAll();
    return 0;
}

// ---- the host: counts, runs each point in a child, prints the figures --------

struct Figures {
    int points = 0, survived = 0, clean = 0, results = 0, reported = 0;
};

std::vector<std::string> Lines(const std::string &text, const char *prefix)
{
    std::vector<std::string> lines;
    size_t start = 0;
    size_t n = strlen(prefix);
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, n, prefix) == 0)
            lines.push_back(line.substr(n));
        start = end + 1;
    }
    return lines;
}

bool SweepScenario(const Scenario &scenario, int every, int points, int ends, Figures *total)
{
    std::string self = "\"" + BinPath("faults.exe") + "\" --child " + scenario.name + " ";
    ChildRun count = RunProcess(self + "0", 300000);
    std::vector<std::string> calls = Lines(count.output, "CALL ");
    if (!count.started || count.exitCode != 0 || calls.empty()) {
        printf("%-10s the counting run failed (exit %lu)\n%s\n", scenario.name, (unsigned long)count.exitCode,
               count.output.c_str());
        return false;
    }
    for (const std::string &line : Lines(count.output, "UNPATCHED "))
        printf("%-10s not patched: %s\n", scenario.name, line.c_str());
    for (const std::string &line : Lines(count.output, "MISMATCH "))
        printf("%-10s argument size differs from the table: %s\n", scenario.name, line.c_str());
    std::vector<std::string> left = Lines(count.output, "LEFT");
    if (!left.empty() && !left[0].empty())
        printf("%-10s the run without failure left behind:%s\n", scenario.name, left[0].c_str());

    int fallibleCalls = 0;
    for (const std::string &call : calls)
        fallibleCalls += call.back() == '1';
    // A budget of points is spread evenly over the fallible calls.
    if (points > 0)
        every = fallibleCalls > points ? (fallibleCalls + points - 1) / points : 1;
    Figures f;
    int fallible = 0, shown = 0;
    DWORD start = GetTickCount();
    for (size_t k = 1; k <= calls.size(); k++) {
        const std::string &call = calls[k - 1];
        if (call.back() != '1')
            continue;
        int index = fallible++;
        bool atEnd = index < ends || index >= fallibleCalls - ends;
        if (index % every != 0 && !atEnd)
            continue;
        f.points++;
        ChildRun run = RunProcess(self + std::to_string(k), 120000);
        std::vector<std::string> point = Lines(run.output, "POINT ");
        bool survived = run.started && run.exitCode == 0 && point.size() == 1;
        std::string verdict = survived ? point[0] : "k=" + std::to_string(k) + " " + call + " exit " +
                                                        std::to_string(run.exitCode);
        bool clean = survived && verdict.find(" left=- ") != std::string::npos;
        bool result = survived && verdict.find(" result=1") != std::string::npos;
        bool reported = survived && verdict.find(" reported=1") != std::string::npos;
        for (const std::string &want : Lines(run.output, "EXPECT-STDOUT ")) {
            size_t first = run.output.find(want);
            reported = reported && first != std::string::npos && run.output.find(want, first + 1) != std::string::npos;
        }
        f.survived += survived;
        f.clean += clean;
        f.results += result;
        f.reported += reported;
        if (!(survived && clean && result && reported) && shown++ < 12)
            printf("%-10s point %s\n", scenario.name, verdict.c_str());
    }
    printf("%-10s calls %4zu  fallible %4d  points tried %4d  survived %4d  left nothing %4d  result as documented "
           "%4d  reported as documented %4d  (%.0f s)\n",
           scenario.name, calls.size(), fallible, f.points, f.survived, f.clean, f.results, f.reported,
           (GetTickCount() - start) / 1000.0);
    fflush(stdout);
    total->points += f.points;
    total->survived += f.survived;
    total->clean += f.clean;
    total->results += f.results;
    total->reported += f.reported;
    return f.points == f.survived && f.points == f.clean && f.points == f.results && f.points == f.reported;
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--child") == 0) {
        for (const Scenario &s : SCENARIOS)
            if (strcmp(s.name, argv[2]) == 0)
                return RunChild(s, atol(argv[3]));
        return 2;
    }
    int every = 1, points = 0, ends = 0;
    const char *only = NULL;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--every") == 0)
            every = atoi(argv[i + 1]) > 0 ? atoi(argv[i + 1]) : 1;
        else if (strcmp(argv[i], "--ends") == 0)
            ends = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--points") == 0)
            points = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--scenario") == 0)
            only = argv[i + 1];
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    bool ok = true;
    Figures total;
    for (const Scenario &s : SCENARIOS)
        if (only == NULL || strcmp(only, s.name) == 0)
            ok = SweepScenario(s, every, points, ends, &total) && ok;
    printf("all        points tried %d  survived %d  left nothing %d  result as documented %d  reported as "
           "documented %d\n",
           total.points, total.survived, total.clean, total.results, total.reported);
    return ok ? 0 : 1;
}
