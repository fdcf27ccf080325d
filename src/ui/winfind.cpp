// Window lookup by title: the first window, in a depth-first walk that takes
// each window before the windows below it, whose text is exactly the title.
#include <windows.h>

#include <string.h>
#include <wchar.h>

#include "kiv_inst.h"
#include "ui.h"

// Each window's text is read into this many bytes, so only its first 1023
// characters take part and a longer title can never match.
#define WINDOW_TEXT_SIZE 1024

HWND FoundWindow = NULL;

// Exact, case-sensitive, character for character up to the terminating zero,
// no trimming. The read's result is not examined: a window without text, or
// one that went away under us, compares as the empty text of the zeroed
// buffer. A narrow title is compared with the narrow text, a wide one with
// the wide text.
static BOOL WindowHasTitle(HWND window, const void *title, int wide)
{
    WCHAR text[WINDOW_TEXT_SIZE];
    ZeroMemory(text, sizeof(text));
    if (wide) {
        GetWindowTextW(window, text, WINDOW_TEXT_SIZE);
        return wcscmp(text, (const WCHAR *)title) == 0;
    }
    GetWindowTextA(window, (char *)text, WINDOW_TEXT_SIZE);
    return strcmp((const char *)text, (const char *)title) == 0;
}

// EnumChildWindows already hands us every window below the root, each before
// its own children, so this callback never descends by itself: descending
// here as well would read a window k levels down 2^(k-1) times, and each read
// of one of the host's own windows is a sent message.
static BOOL TitleEnumStep(HWND window, LPARAM title, int wide)
{
    if (!WindowHasTitle(window, (const void *)title, wide))
        return TRUE;
    FoundWindow = window;
    return FALSE;
}

BOOL CALLBACK WindowTitleEnumProc(HWND window, LPARAM title)
{
    return TitleEnumStep(window, title, 0);
}

BOOL CALLBACK WindowTitleEnumProcW(HWND window, LPARAM title)
{
    return TitleEnumStep(window, title, 1);
}

// EnumWindows gives only the top-level windows: each one is compared, then
// everything below it is searched before the next top-level window.
static BOOL TopLevelStep(HWND window, LPARAM title, WNDENUMPROC below)
{
    if (!below(window, title))
        return FALSE;
    EnumChildWindows(window, below, title);
    return FoundWindow == NULL;
}

static BOOL CALLBACK TopLevelTitleEnumProc(HWND window, LPARAM title)
{
    return TopLevelStep(window, title, WindowTitleEnumProc);
}

static BOOL CALLBACK TopLevelTitleEnumProcW(HWND window, LPARAM title)
{
    return TopLevelStep(window, title, WindowTitleEnumProcW);
}

static HWND FindByTitle(HWND parent, const void *title, int wide)
{
    if (title == NULL)
        return NULL;
    FoundWindow = NULL;
    // The enumerations' own results say nothing about a match: only the slot
    // does. The parent is the root of the walk, never a candidate.
    if (parent == NULL)
        EnumWindows(wide ? TopLevelTitleEnumProcW : TopLevelTitleEnumProc, (LPARAM)title);
    else
        EnumChildWindows(parent, wide ? WindowTitleEnumProcW : WindowTitleEnumProc, (LPARAM)title);
    return FoundWindow;
}

extern "C" HWND KIV_API GetWindowByTitle(HWND parent, const char *title)
{
    return FindByTitle(parent, title, 0);
}

extern "C" HWND KIV_API GetWindowByTitleW(HWND parent, const wchar_t *title)
{
    return FindByTitle(parent, title, 1);
}
