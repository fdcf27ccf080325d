// Window lookup by title: the first window, in a depth-first walk that takes
// each window before the windows below it, whose text is exactly the title.
#include <windows.h>

#include <string.h>

#include "kiv_inst.h"
#include "ui.h"

// Each window's text is read into this many bytes, so only its first 1023
// characters take part and a longer title can never match.
#define WINDOW_TEXT_SIZE 1024

HWND FoundWindow = NULL;

// Exact, case-sensitive, byte for byte up to the terminating zero, no
// trimming. The read's result is not examined: a window without text, or one
// that went away under us, compares as the empty text of the zeroed buffer.
static BOOL WindowHasTitle(HWND window, const char *title)
{
    char text[WINDOW_TEXT_SIZE];
    ZeroMemory(text, sizeof(text));
    GetWindowTextA(window, text, WINDOW_TEXT_SIZE);
    return strcmp(text, title) == 0;
}

// EnumChildWindows already hands us every window below the root, each before
// its own children, so this callback never descends by itself: descending
// here as well would read a window k levels down 2^(k-1) times, and each read
// of one of the host's own windows is a sent message.
BOOL CALLBACK WindowTitleEnumProc(HWND window, LPARAM title)
{
    if (!WindowHasTitle(window, (const char *)title))
        return TRUE;
    FoundWindow = window;
    return FALSE;
}

// EnumWindows gives only the top-level windows: each one is compared, then
// everything below it is searched before the next top-level window.
static BOOL CALLBACK TopLevelTitleEnumProc(HWND window, LPARAM title)
{
    if (!WindowTitleEnumProc(window, title))
        return FALSE;
    EnumChildWindows(window, WindowTitleEnumProc, title);
    return FoundWindow == NULL;
}

extern "C" HWND KIV_API GetWindowByTitle(HWND parent, const char *title)
{
    if (title == NULL)
        return NULL;
    FoundWindow = NULL;
    // The enumerations' own results say nothing about a match: only the slot
    // does. The parent is the root of the walk, never a candidate.
    if (parent == NULL)
        EnumWindows(TopLevelTitleEnumProc, (LPARAM)title);
    else
        EnumChildWindows(parent, WindowTitleEnumProc, (LPARAM)title);
    return FoundWindow;
}
