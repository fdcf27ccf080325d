/* nsisprobe: what the engine tests must do or see from inside the session.
 *
 *   nsisprobe hold FILE SECONDS     opens FILE for reading, sharing reading and
 *                                   writing but not deletion, as a user's
 *                                   program may; prints "holding" and keeps it
 *                                   open for SECONDS
 *   nsisprobe owned CAPTION ID      waits for a shown dialog CAPTION that has
 *                                   an owner, prints the owner's title and
 *                                   whether it shows, sends it command ID
 *   nsisprobe wizard CAPTION ID     waits for a shown, enabled dialog CAPTION
 *                                   without an owner, sends it command ID
 *   nsisprobe dacl PATH             prints the access list of PATH as SDDL
 *
 * Texts are read and printed as UTF-8. Exit 0 when done, 1 when the file or
 * the dialog was not there (dialogs: after 20 s), 2 on bad use.
 */
#include <windows.h>
#include <sddl.h>
#include <aclapi.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static const DWORD WAIT_MS = 20000;
static const DWORD POLL_MS = 50;

static void PrintUtf8(const char *label, const wchar_t *text)
{
    char line[4096];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, line, (int)sizeof line, NULL, NULL) == 0)
        line[0] = 0;
    printf("%s%s\n", label, line);
}

static int Hold(const wchar_t *file, const wchar_t *seconds)
{
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "nsisprobe: cannot open %ls (%lu)\n", file, GetLastError());
        return 1;
    }
    printf("holding\n");
    fflush(stdout);
    Sleep((DWORD)wcstoul(seconds, NULL, 10) * 1000);
    CloseHandle(handle);
    return 0;
}

/* The first shown dialog CAPTION that is owned (or not, and enabled). */
struct Search {
    const wchar_t *caption;
    int owned;
    HWND found;
};

static BOOL CALLBACK Match(HWND window, LPARAM param)
{
    struct Search *search = (struct Search *)param;
    wchar_t name[16], title[1024];
    if (!IsWindowVisible(window) || GetClassNameW(window, name, 16) == 0 || lstrcmpW(name, L"#32770") != 0 ||
        GetWindowTextW(window, title, 1024) == 0 || lstrcmpW(title, search->caption) != 0)
        return TRUE;
    HWND owner = GetWindow(window, GW_OWNER);
    if (search->owned ? owner == NULL : owner != NULL || !IsWindowEnabled(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

static int Press(const wchar_t *caption, int owned, const wchar_t *id)
{
    struct Search search = { caption, owned, NULL };
    for (DWORD waited = 0; waited < WAIT_MS && search.found == NULL; waited += POLL_MS) {
        EnumWindows(Match, (LPARAM)&search);
        if (search.found == NULL)
            Sleep(POLL_MS);
    }
    if (search.found == NULL) {
        fprintf(stderr, "nsisprobe: no %s dialog \"%ls\" showed\n", owned ? "owned" : "unowned", caption);
        return 1;
    }
    if (owned) {
        HWND owner = GetWindow(search.found, GW_OWNER);
        wchar_t title[1024];
        if (GetWindowTextW(owner, title, 1024) == 0)
            title[0] = 0;
        PrintUtf8("owner: ", title);
        printf("owner shows: %d\n", IsWindowVisible(owner) ? 1 : 0);
    }
    WORD command = (WORD)wcstoul(id, NULL, 0);
    /* Posted: a page that opens a dialog of its own would hold a sent one. */
    PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                 (LPARAM)GetDlgItem(search.found, command));
    return 0;
}

static int PrintDacl(const wchar_t *path)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    LPWSTR sddl = NULL;
    DWORD error = GetNamedSecurityInfoW((LPWSTR)path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                                        NULL, NULL, &descriptor);
    if (error != ERROR_SUCCESS) {
        fprintf(stderr, "nsisprobe: no access list of %ls (%lu)\n", path, error);
        return 1;
    }
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &sddl, NULL)) {
        fprintf(stderr, "nsisprobe: cannot convert the access list of %ls (%lu)\n", path, GetLastError());
        LocalFree(descriptor);
        return 1;
    }
    PrintUtf8("", sddl);
    LocalFree(sddl);
    LocalFree(descriptor);
    return 0;
}

/* Arguments from the wide command line: file names outside the code page. */
int main(void)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int result = 2;
    if (argv == NULL)
        return 2;
    if (argc == 4 && lstrcmpW(argv[1], L"hold") == 0)
        result = Hold(argv[2], argv[3]);
    else if (argc == 4 && lstrcmpW(argv[1], L"owned") == 0)
        result = Press(argv[2], 1, argv[3]);
    else if (argc == 4 && lstrcmpW(argv[1], L"wizard") == 0)
        result = Press(argv[2], 0, argv[3]);
    else if (argc == 3 && lstrcmpW(argv[1], L"dacl") == 0)
        result = PrintDacl(argv[2]);
    else
        fprintf(stderr, "usage: nsisprobe hold FILE SECONDS | owned CAPTION ID | wizard CAPTION ID | dacl PATH\n");
    LocalFree(argv);
    return result;
}
