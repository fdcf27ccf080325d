/* wintext: waits for a top-level window whose title is the environment
 * variable KIV_WINDOW_TITLE (read wide, so any language arrives exactly),
 * shown or not, in any process of the session, and prints its title and the
 * text of each window below it as UTF-8 lines.
 *
 *   KIV_WINDOW_TITLE=... wintext SECONDS    exit 0 once found, 1 after SECONDS
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static void PrintUtf8(const wchar_t *text)
{
    char line[2048];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, (int)sizeof line, NULL, NULL);
    if (length > 0)
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

int main(int argc, char **argv)
{
    wchar_t title[1024];
    if (argc != 2 || GetEnvironmentVariableW(L"KIV_WINDOW_TITLE", title, 1024) - 1 >= 1023) {
        fprintf(stderr, "usage: KIV_WINDOW_TITLE=TITLE wintext SECONDS\n");
        return 2;
    }
    DWORD limit = (DWORD)strtoul(argv[1], NULL, 10) * 1000;
    for (DWORD waited = 0; waited < limit; waited += 20) {
        HWND window = FindWindowW(NULL, title);
        if (window != NULL) {
            PrintUtf8(title);
            EnumChildWindows(window, PrintChild, 0);
            return 0;
        }
        Sleep(20);
    }
    fprintf(stderr, "wintext: no window showed\n");
    return 1;
}
