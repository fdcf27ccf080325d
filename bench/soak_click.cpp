// soak_click: the user of the hang soak. Clicks an installer's wizard, with
// the mouse through the display, whenever a status window of the same
// process is up: on the wizard's caption (which takes the activation from the
// status window) and inside the wizard, in turns. Ends when the wizard has
// gone, or after SECONDS; prints the clicks.
//
//   wine soak_click.exe WIZARD_CAPTION [SECONDS]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD CLICK_EVERY_MS = 150;

struct Search {
    const char *caption;
    DWORD process;
    HWND wizard;
    HWND status;
};

BOOL CALLBACK FindWizard(HWND window, LPARAM parameter)
{
    Search *search = (Search *)parameter;
    char text[256] = {0};
    if (!IsWindowVisible(window) || GetWindowTextA(window, text, sizeof(text)) == 0 ||
        strncmp(text, search->caption, strlen(search->caption)) != 0)
        return TRUE;
    search->wizard = window;
    return FALSE;
}

// A visible window of the wizard's process other than the wizard: the
// status window.
BOOL CALLBACK FindStatus(HWND window, LPARAM parameter)
{
    Search *search = (Search *)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || window == search->wizard || !IsWindowVisible(window))
        return TRUE;
    search->status = window;
    return FALSE;
}

void Click(int x, int y)
{
    SetCursorPos(x, y);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: soak_click WIZARD_CAPTION [SECONDS]\n");
        return 2;
    }
    DWORD limitMs = (argc > 2 ? (DWORD)strtoul(argv[2], NULL, 10) : 120) * 1000;
    int clicks = 0;
    bool seen = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < limitMs; Sleep(CLICK_EVERY_MS)) {
        Search search = {argv[1], 0, NULL, NULL};
        EnumWindows(FindWizard, (LPARAM)&search);
        if (search.wizard == NULL) {
            if (seen)
                break;
            continue;
        }
        seen = true;
        GetWindowThreadProcessId(search.wizard, &search.process);
        EnumWindows(FindStatus, (LPARAM)&search);
        if (search.status == NULL)
            continue;
        RECT frame;
        if (!GetWindowRect(search.wizard, &frame))
            continue;
        // The caption, then the middle of the page.
        int y = clicks % 2 == 0 ? frame.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2 : (frame.top + frame.bottom) / 2;
        Click((frame.left + frame.right) / 2, y);
        clicks++;
    }
    printf("clicks %d\n", clicks);
    return 0;
}
