#include "status_hooks.h"

#include <commctrl.h>
#include <vfw.h>

#include <stdio.h>
#include <string.h>

#include <map>

namespace {

CRITICAL_SECTION g_lock;
struct LockInit {
    LockInit() { InitializeCriticalSection(&g_lock); }
} g_lockInit;

std::vector<StatusCall> g_calls;
DWORD g_thread = 0;
bool g_fakeMeasure = false;
int g_measureW = 0, g_measureH = 0;
int g_fontMeasureW = 0, g_fontMeasureH = 0;
UINT g_failMessage = 0;
bool g_fakeAvi = false;
int g_aviW = 0, g_aviH = 0;
PAVIFILE const FAKE_AVI_FILE = (PAVIFILE)(ULONG_PTR)0x4B1D0010;

// The real functions behind the patched slots.
void *g_real[32];
enum {
    REAL_DEBUG, REAL_SEND, REAL_MOVE, REAL_DRAW, REAL_SETTIMER, REAL_KILLTIMER,
    REAL_AVIINIT, REAL_AVIEXIT, REAL_AVIOPEN, REAL_AVIINFO, REAL_AVIRELEASE,
    REAL_LOAD, REAL_GETPROC, REAL_FREE, REAL_MONITOR_FROM_RECT, REAL_MONITOR_INFO, REAL_METRIC_FOR_DPI,
    REAL_DIALOG_DPI_BEHAVIOR,
};
// The second monitor, where a test adds one: its handle, its rectangle and
// its work area.
HMONITOR const SECOND_MONITOR = (HMONITOR)(ULONG_PTR)0x4B1D0020;
bool g_secondMonitor = false;
RECT g_secondRect = {}, g_secondWork = {};
int g_metricExtra = 0;
DWORD g_loadRefusal = 0;
std::string g_missingFunction;

void Log(StatusCall call)
{
    if (GetCurrentThreadId() != g_thread)
        return;
    EnterCriticalSection(&g_lock);
    g_calls.push_back(call);
    LeaveCriticalSection(&g_lock);
}

StatusCall Call(const char *fn)
{
    StatusCall c;
    c.fn = fn;
    return c;
}

bool IsAnimateMessage(UINT msg)
{
    return msg == ACM_OPENA || msg == ACM_PLAY || msg == ACM_STOP;
}

void WINAPI HookDebug(LPCSTR text)
{
    StatusCall c = Call("debug");
    c.text = text ? text : "(null)";
    Log(c);
}

LRESULT WINAPI HookSend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    typedef LRESULT(WINAPI * Fn)(HWND, UINT, WPARAM, LPARAM);
    LRESULT result = 0;
    if (!(g_failMessage != 0 && msg == g_failMessage))
        result = ((Fn)g_real[REAL_SEND])(hwnd, msg, wParam, lParam);
    StatusCall c = Call("SendMessageA");
    c.hwnd = hwnd;
    c.msg = msg;
    c.wParam = wParam;
    c.lParam = lParam;
    c.result = result;
    if (msg == ACM_OPENA && !IS_INTRESOURCE(lParam))
        c.text = (const char *)lParam;
    Log(c);
    return result;
}

BOOL WINAPI HookMove(HWND hwnd, int x, int y, int w, int h, BOOL repaint)
{
    typedef BOOL(WINAPI * Fn)(HWND, int, int, int, int, BOOL);
    StatusCall c = Call("MoveWindow");
    c.hwnd = hwnd;
    c.x = x;
    c.y = y;
    c.w = w;
    c.h = h;
    c.wParam = (WPARAM)repaint;
    Log(c);
    return ((Fn)g_real[REAL_MOVE])(hwnd, x, y, w, h, repaint);
}

int WINAPI HookDraw(HDC dc, LPCSTR text, int length, LPRECT rect, UINT format)
{
    typedef int(WINAPI * Fn)(HDC, LPCSTR, int, LPRECT, UINT);
    StatusCall c = Call("DrawTextA");
    c.text = text ? text : "(null)";
    c.msg = format;
    c.wParam = (WPARAM)length;
    c.lParam = (LPARAM)GetCurrentObject(dc, OBJ_FONT);
    c.w = rect->right - rect->left;
    int result = 0;
    if (g_fakeMeasure) {
        bool inFont = g_fontMeasureW != 0 && (HGDIOBJ)c.lParam != GetStockObject(SYSTEM_FONT);
        rect->right = rect->left + (inFont ? g_fontMeasureW : g_measureW);
        rect->bottom = rect->top + (inFont ? g_fontMeasureH : g_measureH);
        result = rect->bottom - rect->top;
    } else {
        result = ((Fn)g_real[REAL_DRAW])(dc, text, length, rect, format);
    }
    c.x = rect->right - rect->left;
    c.y = rect->bottom - rect->top;
    Log(c);
    return result;
}

UINT_PTR WINAPI HookSetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc)
{
    typedef UINT_PTR(WINAPI * Fn)(HWND, UINT_PTR, UINT, TIMERPROC);
    StatusCall c = Call("SetTimer");
    c.hwnd = hwnd;
    c.timer = id;
    c.msg = ms;
    c.lParam = (LPARAM)proc;
    Log(c);
    return ((Fn)g_real[REAL_SETTIMER])(hwnd, id, ms, proc);
}

BOOL WINAPI HookKillTimer(HWND hwnd, UINT_PTR id)
{
    typedef BOOL(WINAPI * Fn)(HWND, UINT_PTR);
    StatusCall c = Call("KillTimer");
    c.hwnd = hwnd;
    c.timer = id;
    Log(c);
    return ((Fn)g_real[REAL_KILLTIMER])(hwnd, id);
}

void WINAPI HookAviInit()
{
    Log(Call("AVIFileInit"));
    ((void(WINAPI *)())g_real[REAL_AVIINIT])();
}

void WINAPI HookAviExit()
{
    Log(Call("AVIFileExit"));
    ((void(WINAPI *)())g_real[REAL_AVIEXIT])();
}

HRESULT WINAPI HookAviOpen(PAVIFILE *file, LPCSTR name, UINT mode, LPCLSID handler)
{
    typedef HRESULT(WINAPI * Fn)(PAVIFILE *, LPCSTR, UINT, LPCLSID);
    HRESULT hr = S_OK;
    if (g_fakeAvi)
        *file = FAKE_AVI_FILE;
    else
        hr = ((Fn)g_real[REAL_AVIOPEN])(file, name, mode, handler);
    StatusCall c = Call("AVIFileOpenA");
    c.text = name ? name : "(null)";
    c.msg = mode;
    c.result = hr;
    Log(c);
    return hr;
}

HRESULT WINAPI HookAviInfo(PAVIFILE file, LPAVIFILEINFOA info, LONG size)
{
    typedef HRESULT(WINAPI * Fn)(PAVIFILE, LPAVIFILEINFOA, LONG);
    HRESULT hr = S_OK;
    if (file == FAKE_AVI_FILE) {
        ZeroMemory(info, (size_t)size);
        info->dwStreams = 1;
        info->dwWidth = (DWORD)g_aviW;
        info->dwHeight = (DWORD)g_aviH;
    } else {
        hr = ((Fn)g_real[REAL_AVIINFO])(file, info, size);
    }
    StatusCall c = Call("AVIFileInfoA");
    c.wParam = (WPARAM)size;
    c.result = hr;
    Log(c);
    return hr;
}

ULONG WINAPI HookAviRelease(PAVIFILE file)
{
    Log(Call("AVIFileRelease"));
    if (file == FAKE_AVI_FILE)
        return 0;
    return ((ULONG(WINAPI *)(PAVIFILE))g_real[REAL_AVIRELEASE])(file);
}

// The library's loads: the name as ASCII text, the flags, the module.
HMODULE WINAPI HookLoad(LPCWSTR name, HANDLE file, DWORD flags)
{
    HMODULE module = NULL;
    if (g_loadRefusal != 0 && (flags & 0x1F00) != 0) // a LOAD_LIBRARY_SEARCH_ flag
        SetLastError(g_loadRefusal);
    else
        module = ((HMODULE(WINAPI *)(LPCWSTR, HANDLE, DWORD))g_real[REAL_LOAD])(name, file, flags);
    DWORD error = GetLastError();
    StatusCall c = Call("LoadLibraryExW");
    for (const WCHAR *p = name; *p != 0; p++)
        c.text += (char)*p;
    c.msg = flags;
    c.result = (LRESULT)module;
    Log(c);
    SetLastError(error);
    return module;
}

BOOL WINAPI HookFree(HMODULE module)
{
    StatusCall c = Call("FreeLibrary");
    c.result = (LRESULT)module;
    Log(c);
    return ((BOOL(WINAPI *)(HMODULE))g_real[REAL_FREE])(module);
}

// The second monitor lies right of the real screen and is the nearest for
// every rectangle whose centre lies right of its left edge.
HMONITOR WINAPI HookMonitorFromRect(LPCRECT rect, DWORD flags)
{
    POINT centre = {(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2};
    HMONITOR monitor = g_secondMonitor && centre.x >= g_secondRect.left
                           ? SECOND_MONITOR
                           : ((HMONITOR(WINAPI *)(LPCRECT, DWORD))g_real[REAL_MONITOR_FROM_RECT])(rect, flags);
    StatusCall c = Call("MonitorFromRect");
    c.x = rect->left;
    c.y = rect->top;
    c.w = rect->right - rect->left;
    c.h = rect->bottom - rect->top;
    c.msg = flags;
    c.result = (LRESULT)monitor;
    Log(c);
    return monitor;
}

BOOL WINAPI HookMonitorInfo(HMONITOR monitor, LPMONITORINFO info)
{
    StatusCall c = Call("GetMonitorInfoA");
    c.lParam = (LPARAM)monitor;
    Log(c);
    if (monitor != SECOND_MONITOR)
        return ((BOOL(WINAPI *)(HMONITOR, LPMONITORINFO))g_real[REAL_MONITOR_INFO])(monitor, info);
    info->rcMonitor = g_secondRect;
    info->rcWork = g_secondWork;
    info->dwFlags = 0;
    return TRUE;
}

// Newer systems' DPI functions, which the DLL looks up by name: handed out
// even where the system under test lacks them.
int WINAPI HookMetricForDpi(int index, UINT dpi)
{
    typedef int(WINAPI * Fn)(int, UINT);
    int value = g_real[REAL_METRIC_FOR_DPI] != NULL ? ((Fn)g_real[REAL_METRIC_FOR_DPI])(index, dpi)
                                                    : GetSystemMetrics(index);
    StatusCall c = Call("GetSystemMetricsForDpi");
    c.msg = (UINT)index;
    c.wParam = dpi;
    c.result = value + g_metricExtra;
    Log(c);
    return value + g_metricExtra;
}

BOOL WINAPI HookDialogDpiBehavior(HWND dialog, int mask, int values)
{
    StatusCall c = Call("SetDialogDpiChangeBehavior");
    c.hwnd = dialog;
    c.wParam = (WPARAM)mask;
    c.lParam = (LPARAM)values;
    Log(c);
    return TRUE;
}

struct HookRow {
    const char *function;
    void *replacement;
    int real;
};

// The AVI file library is no import of the DLL: its functions are watched
// by handing these out for them when the DLL asks for them.
const HookRow AVI_HOOKS[] = {
    {"AVIFileInit", (void *)HookAviInit, REAL_AVIINIT},
    {"AVIFileExit", (void *)HookAviExit, REAL_AVIEXIT},
    {"AVIFileOpenA", (void *)HookAviOpen, REAL_AVIOPEN},
    {"AVIFileInfoA", (void *)HookAviInfo, REAL_AVIINFO},
    {"AVIFileRelease", (void *)HookAviRelease, REAL_AVIRELEASE},
};

const HookRow DPI_HOOKS[] = {
    {"GetSystemMetricsForDpi", (void *)HookMetricForDpi, REAL_METRIC_FOR_DPI},
    {"SetDialogDpiChangeBehavior", (void *)HookDialogDpiBehavior, REAL_DIALOG_DPI_BEHAVIOR},
};

FARPROC WINAPI HookGetProc(HMODULE module, LPCSTR name)
{
    FARPROC proc = ((FARPROC(WINAPI *)(HMODULE, LPCSTR))g_real[REAL_GETPROC])(module, name);
    if (IS_INTRESOURCE(name))
        return proc;
    if (g_missingFunction == name) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    for (const HookRow &row : DPI_HOOKS) {
        if (strcmp(row.function, name) == 0) {
            g_real[row.real] = (void *)proc;
            return (FARPROC)row.replacement;
        }
    }
    for (const HookRow &row : AVI_HOOKS) {
        if (proc != NULL && strcmp(row.function, name) == 0) {
            g_real[row.real] = (void *)proc;
            return (FARPROC)row.replacement;
        }
    }
    return proc;
}

const HookRow HOOKS[] = {
    {"OutputDebugStringA", (void *)HookDebug, REAL_DEBUG},
    {"SendMessageA", (void *)HookSend, REAL_SEND},
    {"MoveWindow", (void *)HookMove, REAL_MOVE},
    {"DrawTextA", (void *)HookDraw, REAL_DRAW},
    {"SetTimer", (void *)HookSetTimer, REAL_SETTIMER},
    {"KillTimer", (void *)HookKillTimer, REAL_KILLTIMER},
    {"LoadLibraryExW", (void *)HookLoad, REAL_LOAD},
    {"GetProcAddress", (void *)HookGetProc, REAL_GETPROC},
    {"FreeLibrary", (void *)HookFree, REAL_FREE},
    {"MonitorFromRect", (void *)HookMonitorFromRect, REAL_MONITOR_FROM_RECT},
    {"GetMonitorInfoA", (void *)HookMonitorInfo, REAL_MONITOR_INFO},
};

} // namespace

StatusWatch::StatusWatch()
{
    Clear();
    g_thread = GetCurrentThreadId();
    g_fakeMeasure = false;
    g_failMessage = 0;
    g_fakeAvi = false;
    g_loadRefusal = 0;
    g_secondMonitor = false;
    g_metricExtra = 0;
    g_missingFunction.clear();
    for (const HookRow &row : HOOKS) {
        hooks_.emplace_back(new ImportHook(KivModule(), NULL, row.function, row.replacement));
        g_real[row.real] = hooks_.back()->original();
    }
}

StatusWatch::~StatusWatch()
{
    hooks_.clear();
    g_fakeMeasure = false;
    g_failMessage = 0;
    g_fakeAvi = false;
    g_loadRefusal = 0;
    g_secondMonitor = false;
    g_metricExtra = 0;
    g_missingFunction.clear();
}

std::vector<StatusCall> StatusWatch::Calls() const
{
    EnterCriticalSection(&g_lock);
    std::vector<StatusCall> copy = g_calls;
    LeaveCriticalSection(&g_lock);
    return copy;
}

std::vector<StatusCall> StatusWatch::Calls(const char *fn) const
{
    std::vector<StatusCall> out;
    for (const StatusCall &c : Calls())
        if (c.fn == fn)
            out.push_back(c);
    return out;
}

std::vector<std::string> StatusWatch::Lines() const
{
    std::vector<std::string> lines;
    for (const StatusCall &c : Calls("debug"))
        lines.push_back(c.text);
    return lines;
}

std::vector<StatusCall> StatusWatch::AnimateMessages() const
{
    std::vector<StatusCall> out;
    for (const StatusCall &c : Calls("SendMessageA"))
        if (IsAnimateMessage(c.msg))
            out.push_back(c);
    return out;
}

void StatusWatch::Clear()
{
    EnterCriticalSection(&g_lock);
    g_calls.clear();
    LeaveCriticalSection(&g_lock);
}

void StatusWatch::FakeMeasure(int width, int height, int fontWidth, int fontHeight)
{
    g_measureW = width;
    g_measureH = height;
    g_fontMeasureW = fontWidth;
    g_fontMeasureH = fontHeight;
    g_fakeMeasure = true;
}

void StatusWatch::FailMessage(UINT msg)
{
    g_failMessage = msg;
}

void StatusWatch::FakeAviFile(int width, int height)
{
    g_aviW = width;
    g_aviH = height;
    g_fakeAvi = true;
}

void StatusWatch::RefuseSearchFlags(DWORD error, const char *missingFunction)
{
    g_loadRefusal = error;
    g_missingFunction = missingFunction;
}

void StatusWatch::AddMonitor(const RECT &monitor, const RECT &work)
{
    g_secondRect = monitor;
    g_secondWork = work;
    g_secondMonitor = true;
}

void StatusWatch::AddToMetricsForDpi(int pixels)
{
    g_metricExtra = pixels;
}

void PumpMessages(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

std::vector<std::string> Describe(const std::vector<StatusCall> &messages)
{
    std::vector<std::string> out;
    for (const StatusCall &c : messages) {
        char text[64];
        if (c.msg == ACM_PLAY) {
            snprintf(text, sizeof(text), "ACM_PLAY %lx %lx", (unsigned long)c.wParam, (unsigned long)c.lParam);
            out.push_back(text);
        } else if (c.msg == ACM_STOP) {
            out.push_back("ACM_STOP");
        } else if (c.lParam == 0) {
            out.push_back("ACM_OPEN close");
        } else if (IS_INTRESOURCE(c.lParam)) {
            snprintf(text, sizeof(text), "ACM_OPEN #%u", (unsigned)c.lParam);
            out.push_back(text);
        } else {
            out.push_back("ACM_OPEN " + c.text);
        }
    }
    return out;
}

const ClipPictures &DrawnClip(int resourceId)
{
    static std::map<int, ClipPictures> drawn;
    auto found = drawn.find(resourceId);
    if (found == drawn.end()) {
        found = drawn.emplace(resourceId, ClipPictures()).first;
        DrawClip(resourceId, &found->second);
    }
    return found->second;
}
