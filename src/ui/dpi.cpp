// Sizes for the screen a window is drawn on: the library's layouts are
// written in pixels of a 96-DPI screen and scaled here, in one place, so a
// 96-DPI screen gets exactly the sizes the layouts name.
#include <windows.h>

#include "ui/ui.h"

// The screen density the layouts are written for (USER_DEFAULT_SCREEN_DPI).
static const int UI_BASE_DPI = 96;

static const WCHAR USER_LIBRARY[] = L"user32.dll";
static const char GET_DPI_FOR_WINDOW[] = "GetDpiForWindow";
static const char GET_SYSTEM_METRICS_FOR_DPI[] = "GetSystemMetricsForDpi";
static const char SET_DIALOG_DPI_CHANGE_BEHAVIOR[] = "SetDialogDpiChangeBehavior";

// DDC_DISABLE_RESIZE | DDC_DISABLE_CONTROL_RELAYOUT, which the headers hold
// back for the Windows versions the library is built for.
static const int UI_DIALOG_KEEPS_LAYOUT = 0x0002 | 0x0004;

// A function of the window manager that only newer systems have, or NULL.
static FARPROC UiUserFunction(const char *name)
{
    return GetProcAddress(GetModuleHandleW(USER_LIBRARY), name);
}

UINT UiWindowDpi(HWND window)
{
    // Taken by name: Windows before 10 has no DPI per window, and the library
    // must load there too. Where it has one, it is the DPI the window is
    // drawn at whatever the host declared (96 for a host that declared
    // nothing, which the system then stretches).
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    DpiForWindow perWindow = (DpiForWindow)(void *)UiUserFunction(GET_DPI_FOR_WINDOW);
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

int UiSystemMetric(int index, UINT dpi)
{
    // Windows 10 gives each DPI its own metrics; before it, a process sees
    // one set, the one its windows are drawn with.
    typedef int(WINAPI * MetricForDpi)(int, UINT);
    MetricForDpi forDpi = (MetricForDpi)(void *)UiUserFunction(GET_SYSTEM_METRICS_FOR_DPI);
    return forDpi != NULL ? forDpi(index, dpi) : GetSystemMetrics(index);
}

void UiKeepDialogLayout(HWND dialog)
{
    // A per-monitor host's dialog manager (Windows 10 1703 on) would resize
    // the dialog and move its controls in proportion, over a layout made for
    // the text; it still updates the fonts, which it alone makes per DPI.
    typedef BOOL(WINAPI * DialogDpiChangeBehavior)(HWND, int, int);
    DialogDpiChangeBehavior keep = (DialogDpiChangeBehavior)(void *)UiUserFunction(SET_DIALOG_DPI_CHANGE_BEHAVIOR);
    if (keep != NULL)
        keep(dialog, UI_DIALOG_KEEPS_LAYOUT, UI_DIALOG_KEEPS_LAYOUT);
}
