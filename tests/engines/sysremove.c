/* sysremove: removes an installed program as the system's list of programs
 * does. Reads the UninstallString of the program's uninstall entry, starts it
 * unchanged as a command line with CreateProcessA, accepts every question the
 * uninstaller asks, and waits until the uninstaller and every copy of itself
 * it started have ended (both engines hand the work to a copy in the
 * temporary folder; one of them starts it outside any job).
 *
 *   sysremove KEY     exit 0 when the uninstaller ran and ended, 1 otherwise */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <strsafe.h>

static const char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const DWORD WAIT_MS = 120000;
static const DWORD POLL_MS = 100;
enum { MAX_TRACKED = 64 };

static DWORD tracked[MAX_TRACKED];
static int trackedCount;

static BOOL ReadUninstallString(const char *name, char *command, DWORD size)
{
    static const HKEY roots[] = { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER };
    char path[512];
    if (FAILED(StringCchPrintfA(path, sizeof(path), "%s%s", UNINSTALL_KEY, name)))
        return FALSE;
    for (int i = 0; i < 2; i++) {
        DWORD length = size;
        if (RegGetValueA(roots[i], path, "UninstallString", RRF_RT_REG_SZ, NULL, command, &length) ==
            ERROR_SUCCESS)
            return TRUE;
    }
    return FALSE;
}

static BOOL IsTracked(DWORD pid)
{
    for (int i = 0; i < trackedCount; i++)
        if (tracked[i] == pid)
            return TRUE;
    return FALSE;
}

/* Adds the children of tracked processes; TRUE while one of them lives. */
static BOOL TrackedAlive(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return TRUE;
    BOOL alive = FALSE;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
        if (!IsTracked(entry.th32ProcessID) && IsTracked(entry.th32ParentProcessID) &&
            trackedCount < MAX_TRACKED)
            tracked[trackedCount++] = entry.th32ProcessID;
        if (IsTracked(entry.th32ProcessID))
            alive = TRUE;
    }
    CloseHandle(snapshot);
    return alive;
}

/* The answer of a user who accepts every question: Yes where a box asks
 * (even when No is the default), else OK (Uninstall, Next, Close). */
static HWND AcceptButton(HWND dialog)
{
    static const int answers[] = { IDYES, IDOK };
    for (int i = 0; i < 2; i++) {
        HWND button = GetDlgItem(dialog, answers[i]);
        if (button != NULL && IsWindowVisible(button) && IsWindowEnabled(button))
            return button;
    }
    return NULL;
}

static BOOL CALLBACK PressAccept(HWND window, LPARAM pressed)
{
    char cls[16];
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!IsWindowVisible(window) || !GetClassNameA(window, cls, sizeof(cls)) ||
        lstrcmpA(cls, "#32770") != 0 || !IsTracked(pid))
        return TRUE;
    HWND button = AcceptButton(window);
    if (button == NULL)
        return TRUE;
    char text[128] = "";
    GetWindowTextA(button, text, sizeof(text));
    printf("sysremove: pressing \"%s\"\n", text);
    fflush(stdout);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), (LPARAM)button);
    *(BOOL *)pressed = TRUE;
    return TRUE;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: sysremove KEY\n");
        return 2;
    }
    char command[1024];
    if (!ReadUninstallString(argv[1], command, sizeof(command))) {
        fprintf(stderr, "sysremove: no UninstallString for %s\n", argv[1]);
        return 1;
    }
    printf("sysremove: running %s\n", command);
    fflush(stdout);

    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "sysremove: cannot start it (error %lu)\n", GetLastError());
        return 1;
    }
    tracked[trackedCount++] = pi.dwProcessId;

    int status = 1;
    for (DWORD waited = 0; waited < WAIT_MS; waited += POLL_MS) {
        if (!TrackedAlive()) {
            status = 0;
            break;
        }
        BOOL pressed = FALSE;
        EnumWindows(PressAccept, (LPARAM)&pressed);
        /* A pressed button takes a moment to act: press it once. */
        Sleep(pressed ? 500 : POLL_MS);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("sysremove: %s, exit code %lu\n", status == 0 ? "ended" : "still running", code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return status;
}
