// The animated status window: a modeless wait window with a looping clip on
// the left and one line of text on the right, centred on the screen; a text
// too wide for the screen's work area wraps onto more lines within it.
#include <string.h>
#include <windows.h>
#include <commctrl.h>
#include <strsafe.h>

#include "kiv_inst.h"
#include "frame/frame.h"
#include "ntlib/kiv_nt.h"
#include "ui/ui.h"
#include "resource.h"

HWND StatusWindow = NULL;
HWND StatusAnimation = NULL;
HWND StatusText = NULL;
// Whether the window's texts came from the wide export: they are then read
// and measured wide, otherwise as ANSI text, as ever.
static int StatusTextWide = 0;

// The entry point selects the default clip at process attach, before any
// export can read this; zero keeps the module free of an initialised data
// section.
int StatusClipId = 0;
char StatusClipPath[1024] = {0};
WCHAR StatusClipPathW[1024] = {0};
AVIFILEINFOA StatusClipInfo = {};

static_assert(sizeof(AVIFILEINFOA) == 108, "the clip information record is the platform's 108 bytes");

// The one-shot start-up timer, armed when the window is created.
static const UINT_PTR STARTUP_TIMER = 19980706;
static const UINT STARTUP_DELAY_MS = 1000;

static const char LINE_USING_BKW[] = "Using BKW AVI.\n";
static const char LINE_USING_FILECOPY[] = "Using FILECOPY AVI.\n";
static const char LINE_USING_SEARCH[] = "Using SEARCH AVI.\n";
static const char LINE_OPEN_FAILED[] = "AviFileOpen failed, using default AVI.\n";
static const char FORMAT_OPEN_SUCCEEDED[] = "AviFileOpen succeeded, using %s.\n";
static const WCHAR FORMAT_OPEN_SUCCEEDED_W[] = L"AviFileOpen succeeded, using %ls.\n";
static const char LINE_ANIMATE_OPEN_FILE_FAILED[] = "Animate_Open file failed.\n";
static const char LINE_ANIMATE_OPEN_RESOURCE_FAILED[] = "Animate_Open resource failed.\n";
static const char LINE_ANIMATE_PLAY_FAILED[] = "Animate_Play failed.\n";
static const char LINE_ANIMATE_STOP_FAILED[] = "Animate_Stop failed.\n";
static const char FORMAT_SCREEN[] = "Screen %d %d\n";
static const char FORMAT_MSG[] = "Msg %d %d\n";
static const char FORMAT_ANIM[] = "Anim %d %d\n";
static const char FORMAT_DLG[] = "Dlg %d %d\n";

// Sizes in pixels of a 96-DPI screen, scaled to the window's DPI: the space
// left of the clip, between clip and text, right of the text, above and
// below the clip, and the text control's room around its text. And, in
// pixels, the width wrapped text never gets narrower than, whatever the
// clip's width.
static const int STATUS_MARGIN = 40;
static const int STATUS_MIN_TEXT_WIDTH = 100;

// From 168 DPI (175 %) the built-in clips are shown from their drawings at
// twice the scale, resource id plus 100, rather than stretched or tiny.
static const UINT STATUS_LARGE_CLIP_DPI = 168;
static const int STATUS_LARGE_CLIP_OFFSET = IDR_AVI_BKW_2X - IDR_AVI_BKW;
static_assert(IDR_AVI_FILECOPY_2X - IDR_AVI_FILECOPY == STATUS_LARGE_CLIP_OFFSET &&
                  IDR_AVI_SEARCH_2X - IDR_AVI_SEARCH == STATUS_LARGE_CLIP_OFFSET,
              "every double-size clip sits at the same distance from its clip");

// The paint request: sent as WM_NULL with this wParam to the host's window,
// whose thread answers it, through a hook, with the private message to the
// status window. Each waits at most this long for the other.
static const WPARAM STATUS_PAINT_REQUEST = 0x4B495650;
static const UINT STATUS_PAINT_MESSAGE = WM_APP + 0x4B5;
static const UINT STATUS_PAINT_WAIT_MS = 1000;
// Set by the paint the host's thread asked for; and while the window is
// being painted at once.
static int StatusPaintedByHost = 0;
static int StatusPaintingNow = 0;
// What the paint the host's thread asks for redraws.
static UINT StatusHostPaint = 0;

// WM_DPICHANGED, which the headers hold back for the Windows versions the
// library is built for; older systems never send it.
static const UINT MESSAGE_DPI_CHANGED = 0x02E0;
// The window's own request to lay itself out again where the system
// suggested, once the dialog manager has given its controls their fonts for
// the new DPI.
static const UINT MESSAGE_RELAYOUT = WM_APP;

// The place the system suggested with the last DPI change.
static RECT StatusSuggested = {};

// Room for a copy of template 101 (under 200 bytes), in the DWORD alignment
// a template must have.
static const size_t STATUS_TEMPLATE_WORDS = 128;

// Bit 123 of a locale's Unicode subset bits: its script is laid out right to
// left.
static const DWORD LOCALE_RTL_LAYOUT_BIT = 0x08000000; // in lsUsb[3]

// The scale of the clip the control was last given: 1, or 2 for a
// double-size drawing.
static int StatusOpenScale = 0;

struct StatusKeyword {
    const char *name; // NULL matches only a null pointer
    const char *line;
    int clipId;
    DWORD width, height;
};

// Compared byte for byte, in this order; the first match wins.
static const StatusKeyword STATUS_KEYWORDS[] = {
    {NULL, LINE_USING_BKW, IDR_AVI_BKW, 235, 92},
    {"", LINE_USING_BKW, IDR_AVI_BKW, 235, 92},
    {":BKW", LINE_USING_BKW, IDR_AVI_BKW, 235, 92},
    {":FILECOPY", LINE_USING_FILECOPY, IDR_AVI_FILECOPY, 260, 40},
    {":SEARCH", LINE_USING_SEARCH, IDR_AVI_SEARCH, 80, 48},
};

// A keyword, compared character for character with a narrow name (byte for
// byte) or a wide one (which matches only the very same ASCII characters).
static bool StatusIsKeyword(const char *keyword, const void *name, int wide)
{
    for (int i = 0;; i++) {
        unsigned int c = wide ? ((const WCHAR *)name)[i] : (unsigned char)((const char *)name)[i];
        if (c != (unsigned char)keyword[i])
            return false;
        if (c == 0)
            return true;
    }
}

static const StatusKeyword *StatusFindKeyword(const void *name, int wide)
{
    for (size_t i = 0; i < sizeof(STATUS_KEYWORDS) / sizeof(STATUS_KEYWORDS[0]); i++) {
        const StatusKeyword *row = &STATUS_KEYWORDS[i];
        if (row->name == NULL ? name == NULL : (name != NULL && StatusIsKeyword(row->name, name, wide)))
            return row;
    }
    return NULL;
}

// The AVI file library is no import: it and what it brings in (OLE among
// them) would cost every host's first load, a clip file needs it only for
// the moment of the check, and a system DLL that Windows does not always map
// from its own folder must never be looked for beside the host program.
static const WCHAR AVI_FILE_LIBRARY[] = L"avifil32.dll";
// Taken in this order into StatusAviLibrary's pointers.
static const char *const AVI_FILE_FUNCTIONS[] = {"AVIFileInit",    "AVIFileOpenA", "AVIFileInfoA",
                                                 "AVIFileRelease", "AVIFileExit",  "AVIFileOpenW"};

struct StatusAviLibrary {
    HMODULE module;
    decltype(&AVIFileInit) init;
    decltype(&AVIFileOpenA) open;
    decltype(&AVIFileInfoA) info;
    decltype(&AVIFileRelease) release;
    decltype(&AVIFileExit) exit;
    decltype(&AVIFileOpenW) openW;
};

// Keeps the path of the file for the control and says it is used. A long
// path does not fit the line; the line is cut, the path is not, and the cut
// line still ends its line.
static void StatusKeepPath(const void *name, int wide)
{
    if (wide) {
        WCHAR line[256] = {0};
        StringCchCopyW(StatusClipPathW, ARRAYSIZE(StatusClipPathW), (const WCHAR *)name);
        if (StringCchPrintfW(line, ARRAYSIZE(line), FORMAT_OPEN_SUCCEEDED_W, StatusClipPathW) ==
            STRSAFE_E_INSUFFICIENT_BUFFER)
            line[ARRAYSIZE(line) - 2] = L'\n';
        OutputDebugStringW(line);
        return;
    }
    char line[256] = {0};
    StringCchCopyA(StatusClipPath, sizeof(StatusClipPath), (const char *)name);
    if (StringCchPrintfA(line, sizeof(line), FORMAT_OPEN_SUCCEEDED, StatusClipPath) == STRSAFE_E_INSUFFICIENT_BUFFER)
        line[sizeof(line) - 2] = '\n';
    OutputDebugStringA(line);
}

// Loads the AVI file library from the system folder and takes its five
// functions; 0 with nothing held when the library or any function is missing.
static int StatusLoadAviLibrary(StatusAviLibrary *avi)
{
    ZeroMemory(avi, sizeof(*avi));
    HMODULE module = KIV_NT_LoadSystemLibrary(AVI_FILE_LIBRARY, 0);
    if (module == NULL)
        return 0;
    const int count = sizeof(AVI_FILE_FUNCTIONS) / sizeof(AVI_FILE_FUNCTIONS[0]);
    static_assert(count == 6, "one name per pointer of StatusAviLibrary");
    FARPROC found[count];
    for (int i = 0; i < count; i++) {
        found[i] = GetProcAddress(module, AVI_FILE_FUNCTIONS[i]);
        if (found[i] == NULL) {
            FreeLibrary(module);
            return 0;
        }
    }
    avi->module = module;
    avi->init = (decltype(avi->init))(void *)found[0];
    avi->open = (decltype(avi->open))(void *)found[1];
    avi->info = (decltype(avi->info))(void *)found[2];
    avi->release = (decltype(avi->release))(void *)found[3];
    avi->exit = (decltype(avi->exit))(void *)found[4];
    avi->openW = (decltype(avi->openW))(void *)found[5];
    return 1;
}

// Checks the file with the AVI file library and takes its frame size. The
// library (and with it OLE) is loaded and initialised only here: keyword
// selections run inside DllMain, under the loader lock, where initialising
// OLE can hang the loading process. A library that cannot be loaded counts
// as a file that does not open.
static void StatusSelectFile(const void *name, int wide)
{
    // The path buffer holds 1023 characters; a longer name is refused rather
    // than cut into the name of some other file. (strsafe's bounded length,
    // not strnlen: that one comes from the mingw runtime, not from msvcrt.)
    size_t length = 0;
    HRESULT measured = wide ? StringCchLengthW((const WCHAR *)name, ARRAYSIZE(StatusClipPathW), &length)
                            : StringCchLengthA((const char *)name, sizeof(StatusClipPath), &length);
    if (FAILED(measured)) {
        OutputDebugStringA(LINE_OPEN_FAILED);
        FakeStatusSetAvi("");
        return;
    }

    StatusAviLibrary avi;
    if (!StatusLoadAviLibrary(&avi)) {
        OutputDebugStringA(LINE_OPEN_FAILED);
        FakeStatusSetAvi("");
        return;
    }
    // One session of the library around the check and, for a file that does
    // not open, the fallback to the default clip.
    avi.init();
    PAVIFILE file = NULL;
    HRESULT openResult = wide ? avi.openW(&file, (const WCHAR *)name, OF_SHARE_DENY_WRITE, NULL)
                              : avi.open(&file, (const char *)name, OF_SHARE_DENY_WRITE, NULL);
    bool opened = openResult == 0;
    bool read = opened && avi.info(file, &StatusClipInfo, sizeof(StatusClipInfo)) == 0;
    if (read) {
        StatusKeepPath(name, wide);
    } else {
        OutputDebugStringA(LINE_OPEN_FAILED);
        FakeStatusSetAvi("");
    }
    if (opened)
        avi.release(file);
    avi.exit();
    FreeLibrary(avi.module);
}

// Makes a keyword or a file, by a narrow or a wide name, the current clip.
static void SelectAviAs(const void *name, int wide)
{
    ZeroMemory(StatusClipPath, sizeof(StatusClipPath));
    ZeroMemory(StatusClipPathW, sizeof(StatusClipPathW));
    ZeroMemory(&StatusClipInfo, sizeof(StatusClipInfo));

    const StatusKeyword *row = StatusFindKeyword(name, wide);
    if (row == NULL) {
        StatusSelectFile(name, wide);
        return;
    }
    OutputDebugStringA(row->line);
    StatusClipId = row->clipId;
    StatusClipInfo.dwWidth = row->width;
    StatusClipInfo.dwHeight = row->height;
}

void SelectAvi(const char *name)
{
    SelectAviAs(name, 0);
}

// The text control's text, read and measured in the kind it was set in: a
// buffer of 512 wide characters holds either (511 characters or bytes).
static void StatusReadText(WCHAR *text)
{
    if (StatusTextWide)
        GetWindowTextW(StatusText, text, 511);
    else
        GetWindowTextA(StatusText, (char *)text, 511);
}

static void StatusMeasure(HDC dc, const WCHAR *text, RECT *rect, UINT format)
{
    if (StatusTextWide)
        DrawTextW(dc, text, -1, rect, format);
    else
        DrawTextA(dc, (const char *)text, -1, rect, format);
}

// The text's extent on one line (wrapWidth 0) or wrapped at wrapWidth: in
// the device context's default font, then grown where the control's font
// needs more. Wrapped, the control's font is measured at the width the first
// measure found, which the control will not be narrower than: a narrower
// font fills longer lines when it may, and would widen the window for
// nothing.
static void StatusMeasureText(HDC dc, HFONT font, const WCHAR *text, int wrapWidth, RECT *rect)
{
    UINT format = wrapWidth > 0 ? DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL : DT_CALCRECT | DT_SINGLELINE;
    SetRect(rect, 0, 0, wrapWidth > 0 ? wrapWidth : 10, 10);
    StatusMeasure(dc, text, rect, format);
    if (font == NULL)
        return;
    RECT drawn;
    SetRect(&drawn, 0, 0, wrapWidth > 0 ? rect->right - rect->left : 10, 10);
    HGDIOBJ previous = SelectObject(dc, font);
    StatusMeasure(dc, text, &drawn, format);
    SelectObject(dc, previous);
    if (drawn.right - drawn.left > rect->right - rect->left)
        rect->right = rect->left + drawn.right - drawn.left;
    if (drawn.bottom - drawn.top > rect->bottom - rect->top)
        rect->bottom = rect->top + drawn.bottom - drawn.top;
}

static void StatusTrace(const char *format, int a, int b)
{
    char line[512] = {0};
    StringCchPrintfA(line, sizeof(line), format, a, b);
    OutputDebugStringA(line);
}

// Keeps one extent of the window within [low, high): the window's start is
// moved just far enough, and a window longer than the range starts at low.
static int StatusClamp(int start, int length, int low, int high)
{
    if (start + length > high)
        start = high - length;
    return start < low ? low : start;
}

// Whether the window shows a built-in clip from its double-size drawing.
static int StatusLargeClip(UINT dpi)
{
    return StatusClipPath[0] == '\0' && StatusClipPathW[0] == L'\0' && dpi >= STATUS_LARGE_CLIP_DPI;
}

// The work area the window is kept in: that of the monitor the system's
// suggested place lies on, else the primary monitor's; the full screen when
// neither can be read.
static void StatusWorkArea(const RECT *suggested, int cx, int cy, RECT *work)
{
    MONITORINFO monitor;
    ZeroMemory(&monitor, sizeof(monitor));
    monitor.cbSize = sizeof(monitor);
    if (suggested != NULL && GetMonitorInfoA(MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST), &monitor)) {
        CopyRect(work, &monitor.rcWork);
        return;
    }
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, work, 0))
        SetRect(work, 0, 0, cx, cy);
}

// Lays the window out for its DPI: centred on the screen, or, when the
// system suggests a place (the window moved to a screen of another density),
// centred on that place; within the work area either way.
static void StatusLayout(const RECT *suggested)
{
    int cx = GetSystemMetrics(SM_CXFULLSCREEN);
    int cy = GetSystemMetrics(SM_CYFULLSCREEN);
    StatusTrace(FORMAT_SCREEN, cx, cy);

    WCHAR text[512] = {0};
    StatusReadText(text);

    UINT dpi = UiWindowDpi(StatusWindow);
    int scale = StatusLargeClip(dpi) ? 2 : 1;
    int animW = (int)StatusClipInfo.dwWidth * scale;
    int animH = (int)StatusClipInfo.dwHeight * scale;
    int margin = UiScale(STATUS_MARGIN, dpi);

    RECT work;
    StatusWorkArea(suggested, cx, cy, &work);
    // The widest text whose window still fits the work area. The floor, for
    // a clip file that leaves no room, is in plain pixels: on a dense screen
    // a window that fits beats a wider text, and at 96 DPI it is 1.1.0's.
    int room = work.right - work.left - animW - 4 * margin;
    if (room < STATUS_MIN_TEXT_WIDTH)
        room = STATUS_MIN_TEXT_WIDTH;

    // Measured as ever in the device context's default font, which the
    // margins were made for, and grown where the control's own font at the
    // window's DPI needs more. A line wider than the room is measured again,
    // wrapped at that width, and the control, no narrower, breaks its lines
    // no later.
    RECT rect;
    HDC dc = GetWindowDC(StatusText);
    HFONT font = (HFONT)SendMessageA(StatusText, WM_GETFONT, 0, 0);
    StatusMeasureText(dc, font, text, 0, &rect);
    BOOL wrapped = rect.right - rect.left > room;
    if (wrapped)
        StatusMeasureText(dc, font, text, room, &rect);
    ReleaseDC(StatusText, dc);

    int msgW = rect.right - rect.left + margin;
    int msgH = rect.bottom - rect.top + margin;
    StatusTrace(FORMAT_MSG, msgW, msgH);
    StatusTrace(FORMAT_ANIM, animW, animH);

    int dlgW = animW + msgW + 3 * margin;
    int dlgH = UiSystemMetric(SM_CYMIN, dpi) + animH + 2 * margin;
    // Integer division truncates toward zero, so a text taller than the clip
    // rises by the truncated half.
    int animY = margin;
    int msgY = (animH - msgH) / 2 + margin;

    // The text control centres one line only; wrapped lines start at its
    // top, so the control starts where the lines' block is centred against
    // the clip, and the window grows when the lines are taller than the clip.
    LONG style = GetWindowLongA(StatusText, GWL_STYLE);
    LONG wanted = wrapped ? (style & ~SS_CENTERIMAGE) | SS_EDITCONTROL : (style | SS_CENTERIMAGE) & ~SS_EDITCONTROL;
    if (wanted != style)
        SetWindowLongA(StatusText, GWL_STYLE, wanted);
    if (wrapped) {
        int linesH = msgH - margin;
        int contentH = linesH > animH ? linesH : animH;
        dlgH += contentH - animH;
        animY = margin + (contentH - animH) / 2;
        msgY = margin + (contentH - linesH) / 2;
    }
    StatusTrace(FORMAT_DLG, dlgW, dlgH);

    int x = (cx - dlgW) / 2;
    int y = (cy - dlgH) / 2;
    if (suggested != NULL) {
        x = suggested->left + (suggested->right - suggested->left - dlgW) / 2;
        y = suggested->top + (suggested->bottom - suggested->top - dlgH) / 2;
    }
    x = StatusClamp(x, dlgW, work.left, work.right);
    y = StatusClamp(y, dlgH, work.top, work.bottom);

    MoveWindow(StatusAnimation, margin, animY, animW, animH, FALSE);
    MoveWindow(StatusText, animW + 2 * margin, msgY, msgW, msgH, FALSE);
    MoveWindow(StatusWindow, x, y, dlgW, dlgH, FALSE);
}

void LayoutStatusWindow(void)
{
    StatusLayout(NULL);
}

// Opens the current clip in the animation control and starts it looping.
// Every step runs even after a failure; the result says whether all worked.
static int StatusOpenClip(void)
{
    int result = 1;
    StatusOpenScale = StatusLargeClip(UiWindowDpi(StatusWindow)) ? 2 : 1;
    if (StatusClipPath[0] != '\0' || StatusClipPathW[0] != L'\0') {
        LRESULT opened = StatusClipPath[0] != '\0'
                             ? SendMessageA(StatusAnimation, ACM_OPENA, 0, (LPARAM)StatusClipPath)
                             : SendMessageW(StatusAnimation, ACM_OPENW, 0, (LPARAM)StatusClipPathW);
        if (opened == 0) {
            OutputDebugStringA(LINE_ANIMATE_OPEN_FILE_FAILED);
            result = 0;
        }
    } else {
        // wParam 0: the control finds the resource in the module that created
        // it, which is this library.
        int id = StatusClipId + (StatusOpenScale == 2 ? STATUS_LARGE_CLIP_OFFSET : 0);
        LPARAM resource = (LPARAM)MAKEINTRESOURCEA(id & 0xFFFF);
        if (SendMessageA(StatusAnimation, ACM_OPENA, 0, resource) == 0) {
            OutputDebugStringA(LINE_ANIMATE_OPEN_RESOURCE_FAILED);
            result = 0;
        }
    }
    // Whole clip, repeated until stopped.
    if (SendMessageA(StatusAnimation, ACM_PLAY, (WPARAM)0xFFFFFFFF, (LPARAM)0xFFFFFFFF) == 0) {
        OutputDebugStringA(LINE_ANIMATE_PLAY_FAILED);
        result = 0;
    }
    return result;
}

// Stops the clip and closes it in the control.
static int StatusStopClip(void)
{
    int result = 1;
    if (SendMessageA(StatusAnimation, ACM_STOP, 0, 0) == 0) {
        OutputDebugStringA(LINE_ANIMATE_STOP_FAILED);
        result = 0;
    }
    SendMessageA(StatusAnimation, ACM_OPENA, 0, 0);
    return result;
}

// The whole window painted again, at its show; and only what is invalid,
// when its thread dispatches a paint.
static const UINT STATUS_PAINT_ALL = RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW;
static const UINT STATUS_PAINT_INVALID = RDW_ALLCHILDREN | RDW_UPDATENOW;

// Showing draws the frame and caption at once; the paint draws the rest.
// Meanwhile the window's own paint messages are answered by painting.
static void StatusShowAndPaint(HWND window, int show, UINT paint)
{
    StatusPaintingNow = 1;
    ShowWindow(window, show);
    RedrawWindow(window, NULL, NULL, paint);
    StatusPaintingNow = 0;
}

// A visible top-level window of this process on another thread: the host's
// own window (an NSIS wizard while its sections run on a worker thread).
static BOOL CALLBACK StatusFindHostWindow(HWND window, LPARAM found)
{
    DWORD process = 0;
    DWORD thread = GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || thread == GetCurrentThreadId() || window == StatusWindow ||
        !IsWindowVisible(window))
        return TRUE;
    *(HWND *)found = window;
    return FALSE;
}

// Runs on the host's thread, for the request StatusPaintWhileHostWaits sends
// it: the host's thread asks the status window's thread to show and paint
// the window and waits for the answer, so it draws nothing of its own
// meanwhile.
static LRESULT CALLBACK StatusHostHook(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && call->message == WM_NULL && call->wParam == STATUS_PAINT_REQUEST) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW((HWND)call->lParam, STATUS_PAINT_MESSAGE, StatusHostPaint, 0, SMTO_NORMAL,
                            STATUS_PAINT_WAIT_MS, &ignored);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

static HWND StatusHostWindow(void)
{
    HWND host = NULL;
    EnumWindows(StatusFindHostWindow, (LPARAM)&host);
    return host;
}

// Shows and paints the window while the host's other thread waits for it.
// Two threads shaping right-to-left text at once can corrupt the process
// heap where the system keeps one shaping cache per font for all threads
// (Wine does), and a thread that never dispatches cannot leave the paint to
// later. False when there is no such thread, or when it did not answer in
// time (busy, or not dispatching).
static int StatusPaintWhileHostWaits(HWND window, UINT paint)
{
    HWND host = StatusHostWindow();
    if (host == NULL)
        return 0;
    DWORD hostThread = GetWindowThreadProcessId(host, NULL);
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, StatusHostHook, ModuleInstance, hostThread);
    if (hook == NULL)
        return 0;
    StatusPaintedByHost = 0;
    StatusHostPaint = paint;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(host, WM_NULL, STATUS_PAINT_REQUEST, (LPARAM)window, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                        2 * STATUS_PAINT_WAIT_MS, &ignored);
    UnhookWindowsHookEx(hook);
    return StatusPaintedByHost;
}

static void StatusForgetWindow(void)
{
    StatusWindow = NULL;
    StatusAnimation = NULL;
    StatusText = NULL;
}

// Lays the window out again where the system suggested, with the clip's
// drawing for the new density.
static void StatusRelayout(HWND dialog)
{
    // The dialog manager gave the controls the template's font at the new
    // DPI: a wide text gets its linked face again, made from that font.
    if (StatusTextWide) {
        UiDropLinkedFont(dialog);
        UiUseLinkedFont(dialog, 1);
    }
    StatusLayout(&StatusSuggested);
    if ((StatusLargeClip(UiWindowDpi(dialog)) ? 2 : 1) != StatusOpenScale) {
        StatusStopClip();
        StatusOpenClip();
    }
}

// A window whose thread ended went with it, and its procedure never heard:
// the handles are dropped, so that the next open makes a new window rather
// than showing nothing.
static void StatusForgetGoneWindow(void)
{
    if (StatusWindow != NULL && !IsWindow(StatusWindow))
        StatusForgetWindow();
}

INT_PTR CALLBACK StatusDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        StatusWindow = dialog;
        StatusAnimation = GetDlgItem(dialog, IDC_STATUS_ANIMATE);
        StatusText = GetDlgItem(dialog, IDC_STATUS_TEXT);
        UiKeepDialogLayout(dialog);
        break;
    case WM_TIMER:
        if (wParam == STARTUP_TIMER) {
            KillTimer(dialog, STARTUP_TIMER);
            EnableWindow(dialog, TRUE);
            ShowWindow(StatusWindow, SW_SHOW);
        }
        break;
    case WM_CLOSE:
        KillTimer(dialog, STARTUP_TIMER);
        StatusForgetWindow();
        DestroyWindow(dialog);
        break;
    case WM_DESTROY:
        KillTimer(dialog, STARTUP_TIMER);
        StatusForgetWindow();
        UiDropLinkedFont(dialog);
        break;
    case WM_PAINT:
        // A paint when the window's thread dispatches (the window uncovered):
        // made while the host's other thread waits, as at the show.
        if (!StatusPaintingNow && StatusPaintWhileHostWaits(dialog, STATUS_PAINT_INVALID))
            return TRUE;
        break;
    case WM_MOUSEACTIVATE:
        // Beside a host's window of another thread, a click leaves the
        // activation where it is: a window that gains or loses it redraws its
        // caption, and the host's would at that moment.
        if (StatusHostWindow() == NULL)
            break;
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, MA_NOACTIVATE);
        return TRUE;
    case STATUS_PAINT_MESSAGE:
        // Sent by the host's thread, which waits meanwhile. Shown without
        // taking the activation from the host's window: a window that loses
        // it redraws its caption, and the host's thread would do so now,
        // beside this paint, from within its wait.
        StatusShowAndPaint(dialog, SW_SHOWNA, (UINT)wParam);
        StatusPaintedByHost = 1;
        return TRUE;
    case MESSAGE_DPI_CHANGED:
        // Only a host aware of each screen's DPI gets this: the window moved
        // to a screen of another density. Not handled here, so the dialog
        // manager gives the controls fonts for that density first; the
        // layout, measured in them, follows from the queue.
        if (StatusAnimation == NULL)
            break;
        CopyRect(&StatusSuggested, (const RECT *)lParam);
        if (!PostMessageA(dialog, MESSAGE_RELAYOUT, 0, 0))
            StatusRelayout(dialog);
        break;
    case MESSAGE_RELAYOUT:
        StatusRelayout(dialog);
        break;
    default:
        break;
    }
    return FALSE;
}

// Shows the window and paints it at once: a host that runs a long step
// right after showing it dispatches no messages, and the window would stay
// blank until it did. Where another thread of the host shows windows, the
// paint is made while that thread waits; should it not answer, the window is
// painted all the same rather than left blank.
static void StatusShow(void)
{
    if (StatusWindow != NULL && StatusPaintWhileHostWaits(StatusWindow, STATUS_PAINT_ALL))
        return;
    StatusShowAndPaint(StatusWindow, SW_SHOW, STATUS_PAINT_ALL);
}

static void StatusSetText(HWND window, const void *text, int wide)
{
    if (wide)
        SetWindowTextW(window, (const WCHAR *)text);
    else
        SetWindowTextA(window, (const char *)text);
}

// Whether the language the library speaks to the calling thread in, the
// drive chooser's, is written right to left (Hebrew, Arabic).
static int StatusReadsRightToLeft(void)
{
    LOCALESIGNATURE signature;
    ZeroMemory(&signature, sizeof(signature));
    LCID locale = MAKELCID(ChooseDriveLanguage(), SORT_DEFAULT);
    // A binary record, not text: the wide call counts it in WCHARs and
    // converts nothing, where the ANSI one would be asked for a string.
    if (GetLocaleInfoW(locale, LOCALE_FONTSIGNATURE, (LPWSTR)&signature, sizeof(signature) / sizeof(WCHAR)) == 0)
        return 0;
    return (signature.lsUsb[3] & LOCALE_RTL_LAYOUT_BIT) != 0;
}

// A copy of template 101 that makes a mirrored window, in copy; 0 when the
// language reads left to right or the template cannot be had.
static int StatusMirroredTemplate(DWORD *copy, size_t words)
{
    if (!StatusReadsRightToLeft())
        return 0;
    HRSRC found = FindResourceA(ModuleInstance, MAKEINTRESOURCEA(IDD_STATUS), RT_DIALOG);
    HGLOBAL loaded = found != NULL ? LoadResource(ModuleInstance, found) : NULL;
    const void *bytes = loaded != NULL ? LockResource(loaded) : NULL;
    DWORD size = bytes != NULL ? SizeofResource(ModuleInstance, found) : 0;
    if (size == 0 || size > words * sizeof(DWORD))
        return 0;
    CopyMemory(copy, bytes, size);
    ((DLGTEMPLATE *)copy)->dwExtendedStyle |= WS_EX_LAYOUTRTL;
    return 1;
}

// Creates the window from template 101 in the caller's kind: an ANSI window
// would hand a wide caption to its window procedure in the ANSI code page.
// For a language read right to left the window is mirrored, as a dialog is,
// through its template: its caption, clip and text change sides and the text
// reads right to left. The clip's pictures, letters among them, keep their
// own way round.
static void StatusCreate(int wide)
{
    DWORD mirrored[STATUS_TEMPLATE_WORDS];
    if (!StatusMirroredTemplate(mirrored, STATUS_TEMPLATE_WORDS)) {
        if (wide)
            CreateDialogParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_STATUS), NULL, StatusDlgProc, 0);
        else
            CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_STATUS), NULL, StatusDlgProc, 0);
        return;
    }
    if (wide)
        CreateDialogIndirectParamW(ModuleInstance, (const DLGTEMPLATE *)mirrored, NULL, StatusDlgProc, 0);
    else
        CreateDialogIndirectParamA(ModuleInstance, (const DLGTEMPLATE *)mirrored, NULL, StatusDlgProc, 0);
    if (StatusWindow == NULL)
        return;
    SetWindowLongA(StatusText, GWL_EXSTYLE, GetWindowLongA(StatusText, GWL_EXSTYLE) | WS_EX_RTLREADING);
    SetWindowLongA(StatusAnimation, GWL_EXSTYLE, GetWindowLongA(StatusAnimation, GWL_EXSTYLE) & ~WS_EX_LAYOUTRTL);
}

static int StatusOpenAs(const void *text, const void *title, int wide)
{
    int result = 1;
    StatusForgetGoneWindow();
    if (StatusWindow == NULL) {
        // Created hidden: the caller's caption, text and layout go in first,
        // then the window is shown.
        StatusCreate(wide);
        // A failed creation leaves no window to own the timer; a timer on no
        // window would be a thread timer that nobody ever kills.
        if (StatusWindow != NULL)
            SetTimer(StatusWindow, STARTUP_TIMER, STARTUP_DELAY_MS, NULL);
        result = StatusOpenClip();
    }
    ShowWindow(StatusWindow, SW_HIDE);
    StatusTextWide = wide;
    UiUseLinkedFont(StatusWindow, wide);
    StatusSetText(StatusWindow, title, wide);
    StatusSetText(StatusText, text, wide);
    LayoutStatusWindow();
    StatusShow();
    return result;
}

static int StatusSetAviAs(const void *name, int wide)
{
    StatusForgetGoneWindow();
    if (StatusAnimation == NULL) {
        // Only the selection: the next window to be created plays it.
        SelectAviAs(name, wide);
        return 1;
    }
    ShowWindow(StatusWindow, SW_HIDE);
    int result = StatusStopClip();
    SelectAviAs(name, wide);
    LayoutStatusWindow();
    if (StatusOpenClip() == 0)
        result = 0;
    StatusShow();
    return result;
}

extern "C" int KIV_API FakeStatusOpen(const char *text, const char *title)
{
    return StatusOpenAs(text, title, 0);
}

extern "C" int KIV_API FakeStatusOpenW(const wchar_t *text, const wchar_t *title)
{
    return StatusOpenAs(text, title, 1);
}

extern "C" int KIV_API FakeStatusSetAvi(const char *name)
{
    return StatusSetAviAs(name, 0);
}

extern "C" int KIV_API FakeStatusSetAviW(const wchar_t *name)
{
    return StatusSetAviAs(name, 1);
}

extern "C" int KIV_API FakeStatusClose(void)
{
    StatusForgetGoneWindow();
    if (StatusWindow == NULL)
        return 1;
    // From another thread than the window's, only the posted close: a message
    // sent to the clip would wait for as long as the window's thread does not
    // dispatch, and the control stops its clip as it is destroyed.
    if (GetWindowThreadProcessId(StatusWindow, NULL) != GetCurrentThreadId()) {
        PostMessageA(StatusWindow, WM_CLOSE, 0, 0);
        return 1;
    }
    int result = 1;
    if (StatusAnimation != NULL)
        result = StatusStopClip();
    // Posted, not sent: the window goes when the host next dispatches
    // messages, so a host that opens again before that keeps one window. A
    // close that cannot be posted (a full queue) would leave the window and
    // its timer for good, so it is destroyed at once instead.
    if (!PostMessageA(StatusWindow, WM_CLOSE, 0, 0))
        DestroyWindow(StatusWindow);
    return result;
}
