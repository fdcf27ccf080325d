/* wintext: waits for a dialog whose title begins with the environment
 * variable KIV_WINDOW_PREFIX, shown or not, in any process of the session,
 * and prints its title and the text of each window below it as UTF-8 lines.
 * Texts are read wide, so any language arrives exactly as the window holds
 * it, and a title that lost characters on its way still shows, as it is.
 *
 *   KIV_WINDOW_PREFIX=... wintext SECONDS    exit 0 once found, 1 after SECONDS
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static wchar_t Prefix[256];
static HWND Found;

static void PrintUtf8(const wchar_t *text)
{
    char line[4096];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, line, (int)sizeof line, NULL, NULL) > 0)
        printf("%s\n", line);
}

static BOOL CALLBACK PrintChild(HWND window, LPARAM unused)
{
    wchar_t text[1024];
    (void)unused;
    if (GetWindowTextW(window, text, 1024) > 0)
        PrintUtf8(text);
    return TRUE;
}

static BOOL CALLBACK Match(HWND window, LPARAM unused)
{
    wchar_t name[16], title[1024];
    (void)unused;
    if (GetClassNameW(window, name, 16) == 0 || lstrcmpW(name, L"#32770") != 0 ||
        GetWindowTextW(window, title, 1024) == 0 || wcsncmp(title, Prefix, wcslen(Prefix)) != 0)
        return TRUE;
    Found = window;
    return FALSE;
}

int main(int argc, char **argv)
{
    DWORD length = GetEnvironmentVariableW(L"KIV_WINDOW_PREFIX", Prefix, 256);
    if (argc != 2 || length == 0 || length >= 256) {
        fprintf(stderr, "usage: KIV_WINDOW_PREFIX=TITLE wintext SECONDS\n");
        return 2;
    }
    DWORD limit = (DWORD)strtoul(argv[1], NULL, 10) * 1000;
    for (DWORD waited = 0; waited < limit; waited += 20) {
        EnumWindows(Match, 0);
        if (Found != NULL) {
            wchar_t title[1024];
            GetWindowTextW(Found, title, 1024);
            PrintUtf8(title);
            EnumChildWindows(Found, PrintChild, 0);
            return 0;
        }
        Sleep(20);
    }
    fprintf(stderr, "wintext: no dialog showed\n");
    return 1;
}
