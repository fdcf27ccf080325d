/* wintext: waits for a window whose title begins with the environment
 * variable KIV_WINDOW_PREFIX, in any process of the session, then:
 * - without a command: a dialog, shown or not; prints its title and the text
 *   of each window below it as UTF-8 lines;
 * - "owner": the same, and last a line "owner: <title>" with the title of
 *   the window that owns it ("owner: none" for none);
 * - "click TEXT": any visible window that takes input (a wizard, say) with a
 *   button whose text is TEXT, enabled; posts it a click, as a user's, and
 *   returns at once, so that a modal dialog the click opens cannot block it.
 * Texts are read wide, so any language arrives exactly as the window holds
 * it, and a title that lost characters on its way still shows, as it is.
 *
 *   KIV_WINDOW_PREFIX=... wintext SECONDS [owner | click TEXT]
 *   exit 0 once found, 1 after SECONDS
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static wchar_t Prefix[256];
static wchar_t ButtonText[256];
static int Clicking;
static HWND Found;
static HWND Button;

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

static BOOL CALLBACK MatchButton(HWND window, LPARAM unused)
{
    wchar_t text[256];
    (void)unused;
    if (!IsWindowVisible(window) || !IsWindowEnabled(window) || GetWindowTextW(window, text, 256) == 0 ||
        lstrcmpW(text, ButtonText) != 0)
        return TRUE;
    Button = window;
    return FALSE;
}

static BOOL CALLBACK Match(HWND window, LPARAM unused)
{
    wchar_t name[16], title[1024];
    (void)unused;
    if (GetWindowTextW(window, title, 1024) == 0 || wcsncmp(title, Prefix, wcslen(Prefix)) != 0)
        return TRUE;
    if (Clicking) {
        // A window disabled by a modal dialog of its own takes no click yet.
        if (!IsWindowVisible(window) || !IsWindowEnabled(window))
            return TRUE;
        Button = NULL;
        EnumChildWindows(window, MatchButton, 0);
        if (Button == NULL)
            return TRUE;
    } else if (GetClassNameW(window, name, 16) == 0 || lstrcmpW(name, L"#32770") != 0) {
        return TRUE;
    }
    Found = window;
    return FALSE;
}

int main(int argc, char **argv)
{
    DWORD length = GetEnvironmentVariableW(L"KIV_WINDOW_PREFIX", Prefix, 256);
    int owner = argc == 3 && strcmp(argv[2], "owner") == 0;
    Clicking = argc == 4 && strcmp(argv[2], "click") == 0;
    if ((argc != 2 && !owner && !Clicking) || length == 0 || length >= 256 ||
        (Clicking && MultiByteToWideChar(CP_UTF8, 0, argv[3], -1, ButtonText, 256) == 0)) {
        fprintf(stderr, "usage: KIV_WINDOW_PREFIX=TITLE wintext SECONDS [owner | click TEXT]\n");
        return 2;
    }
    DWORD limit = (DWORD)strtoul(argv[1], NULL, 10) * 1000;
    for (DWORD waited = 0; waited < limit; waited += 20) {
        EnumWindows(Match, 0);
        if (Found != NULL && Clicking) {
            PostMessageW(Button, BM_CLICK, 0, 0);
            return 0;
        }
        if (Found != NULL) {
            wchar_t title[1024];
            GetWindowTextW(Found, title, 1024);
            PrintUtf8(title);
            EnumChildWindows(Found, PrintChild, 0);
            if (owner) {
                HWND ownerWindow = GetWindow(Found, GW_OWNER);
                title[0] = L'\0';
                if (ownerWindow != NULL)
                    GetWindowTextW(ownerWindow, title, 1024);
                printf("owner: ");
                PrintUtf8(ownerWindow != NULL ? title : L"none");
            }
            return 0;
        }
        Sleep(20);
    }
    fprintf(stderr, "wintext: no window showed\n");
    return 1;
}
