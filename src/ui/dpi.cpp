// Sizes for the screen a window is drawn on: the library's layouts are
// written in pixels of a 96-DPI screen and scaled here, in one place, so a
// 96-DPI screen gets exactly the sizes the layouts name.
#include <windows.h>

#include "ui/ui.h"

// The screen density the layouts are written for (USER_DEFAULT_SCREEN_DPI).
static const int UI_BASE_DPI = 96;

static const WCHAR USER_LIBRARY[] = L"user32.dll";
static const char GET_DPI_FOR_WINDOW[] = "GetDpiForWindow";

UINT UiWindowDpi(HWND window)
{
    // Taken by name: Windows before 10 has no DPI per window, and the library
    // must load there too. Where it has one, it is the DPI the window is
    // drawn at whatever the host declared (96 for a host that declared
    // nothing, which the system then stretches).
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    DpiForWindow perWindow =
        (DpiForWindow)(void *)GetProcAddress(GetModuleHandleW(USER_LIBRARY), GET_DPI_FOR_WINDOW);
    UINT dpi = perWindow != NULL && window != NULL ? perWindow(window) : 0;
    if (dpi != 0)
        return dpi;
    // Older systems draw every window at the system's one DPI.
    HDC dc = GetDC(window);
    if (dc != NULL) {
        dpi = (UINT)GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(window, dc);
    }
    return dpi != 0 ? dpi : (UINT)UI_BASE_DPI;
}

int UiScale(int pixels, UINT dpi)
{
    return MulDiv(pixels, (int)dpi, UI_BASE_DPI);
}
