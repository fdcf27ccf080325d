/* sysremove: removes an installed program as the system's list of programs
 * does. Reads the UninstallString of the program's uninstall entry, starts it
 * unchanged as a command line, answers every question with its default button
 * (as a user pressing Enter would), and waits until the uninstaller and every
 * copy of itself it started have ended.
 *
 *   sysremove KEY     exit 0 when the uninstaller ran and ended, 1 otherwise */
#include <windows.h>
#include <stdio.h>

static const char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const DWORD WAIT_MS = 120000;
static const DWORD POLL_MS = 100;

typedef struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
} ProcessIds;

static HANDLE job;

static BOOL ReadUninstallString(const char *name, char *command, DWORD size)
{
    static const HKEY roots[] = { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER };
    char path[512];
    _snprintf(path, sizeof(path) - 1, "%s%s", UNINSTALL_KEY, name);
    path[sizeof(path) - 1] = '\0';
    for (int i = 0; i < 2; i++) {
        DWORD length = size - 1;
        if (RegGetValueA(roots[i], path, "UninstallString", RRF_RT_REG_SZ, NULL, command, &length) ==
            ERROR_SUCCESS)
            return TRUE;
    }
    return FALSE;
}

static BOOL InJob(DWORD pid)
{
    ProcessIds ids;
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof(ids), NULL))
        return FALSE;
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; i++)
        if (ids.list.ProcessIdList[i] == pid)
            return TRUE;
    return FALSE;
}

/* The default button of a dialog of the uninstaller, pressed once it is
 * enabled. */
static BOOL CALLBACK PressDefault(HWND window, LPARAM pressed)
{
    char cls[16];
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!IsWindowVisible(window) || !GetClassNameA(window, cls, sizeof(cls)) ||
        lstrcmpA(cls, "#32770") != 0 || !InJob(pid))
        return TRUE;
    DWORD def = (DWORD)SendMessageA(window, DM_GETDEFID, 0, 0);
    if (HIWORD(def) != DC_HASDEFID)
        return TRUE;
    HWND button = GetDlgItem(window, LOWORD(def));
    if (button == NULL || !IsWindowEnabled(button) || !IsWindowVisible(button))
        return TRUE;
    char text[128] = "";
    GetWindowTextA(button, text, sizeof(text));
    printf("sysremove: pressing \"%s\"\n", text);
    fflush(stdout);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED), (LPARAM)button);
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

    job = CreateJobObjectA(NULL, NULL);
    if (job == NULL)
        return 1;
    STARTUPINFOA si = { sizeof(si) };
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "sysremove: cannot start it (error %lu)\n", GetLastError());
        CloseHandle(job);
        return 1;
    }
    AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);

    int status = 1;
    for (DWORD waited = 0; waited < WAIT_MS; waited += POLL_MS) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info;
        if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof(info), NULL))
            break;
        if (info.ActiveProcesses == 0) {
            status = 0;
            break;
        }
        BOOL pressed = FALSE;
        EnumWindows(PressDefault, (LPARAM)&pressed);
        Sleep(pressed ? 500 : POLL_MS);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("sysremove: %s, exit code %lu\n", status == 0 ? "ended" : "still running", code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(job);
    return status;
}
