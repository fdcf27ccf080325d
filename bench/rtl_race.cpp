// rtl_race: the status window opened with right-to-left text on a thread that
// dispatches no messages, while another thread draws right-to-left text, as
// an NSIS section opens it on the installer's worker thread while the wizard
// paints its pages. Each round starts a worker that opens the window with
// FakeStatusOpenW and then only waits; the main thread draws Hebrew and
// Arabic lines with DrawTextW and ExtTextOutW the whole time, and then closes
// the window from the worker or from itself. Prints the rounds, the time per
// round, the slowest round, and the process's handle, GDI and USER counts
// before and after; a round that does not end within the stall limit ends
// the program with exit code 3, leaving the threads as they are for a
// debugger (the soak's watchdog takes their stacks).
//
//   wine rtl_race.exe [ROUNDS [he|ar|de [worker|main|direct]]]
//
// ROUNDS 200 unless given; the language of the window's texts; who calls
// FakeStatusClose (the worker, which then ends without dispatching, or the
// main thread while the worker still waits), or the baseline without the
// library.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kiv_inst.h"

namespace {

struct Language {
    const char *name;
    const wchar_t *caption;
    const wchar_t *text;
};

const Language LANGUAGES[] = {
    {"he", L"\x05D4\x05EA\x05E7\x05E0\x05EA Kivelstrand",
     L"\x05DE\x05E2\x05EA\x05D9\x05E7 \x05E7\x05D1\x05E6\x05D9\x05DD, \x05E0\x05D0 \x05DC\x05D4\x05DE\x05EA\x05D9\x05DF..."},
    {"ar", L"\x062A\x062B\x0628\x064A\x062A Kivelstrand",
     L"\x062C\x0627\x0631\x064D \x0646\x0633\x062E \x0627\x0644\x0645\x0644\x0641\x0627\x062A\x060C "
     L"\x064A\x0631\x062C\x0649 \x0627\x0644\x0627\x0646\x062A\x0638\x0627\x0631..."},
    {"de", L"Kivelstrand-Installation", L"Dateien werden kopiert, bitte warten..."},
};

// What the wizard's thread keeps drawing: both scripts, mixed with digits
// and Latin, so that each call goes through bidirectional reordering.
const wchar_t WIZARD_LINES[][64] = {
    L"\x05D1\x05D7\x05E8 \x05EA\x05D9\x05E7\x05D9\x05D9\x05D4 12 (C:\\Kivelstrand)",
    L"\x0627\x062E\x062A\x0631 \x0627\x0644\x0645\x062C\x0644\x062F 34 Kivelstrand",
};

const DWORD STALL_LIMIT_MS = 60000;
const int STEPS = 4;
// The fonts a wizard draws its pages and caption in, and the status window's
// template font: the same faces as the status window's, so that both threads
// shape text in the same fonts.
HFONT WizardFonts[3];
const wchar_t WIZARD_CLASS[] = L"KivRtlRaceWizard";

// Who makes the status window and closes it: the library, closed by the
// worker or by the main thread; or the worker itself, making the same system
// calls directly (a popup with a caption and a static text, shown and
// painted at once), the baseline.
enum Mode { WORKER_CLOSES, MAIN_CLOSES, DIRECT };
const char *const MODE_NAMES[] = {"worker", "main", "direct"};

struct Round {
    const Language *language;
    Mode mode;
    HANDLE opened;  // set by the worker once FakeStatusOpenW returned
    HANDLE release; // set by the main thread: the worker may go on
    int result;
};

// The baseline's status window: what the library's makes of the same texts.
HWND OpenDirect(HWND window, const wchar_t *text, const wchar_t *caption)
{
    if (window == NULL) {
        window = CreateWindowExW(0, L"#32770", caption, WS_POPUP | WS_CAPTION, 100, 100, 500, 150, NULL, NULL, NULL,
                                 NULL);
        CreateWindowExW(0, L"Static", text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE, 20, 20, 440, 40, window,
                        (HMENU)1000, NULL, NULL);
    }
    ShowWindow(window, SW_HIDE);
    SetWindowTextW(window, caption);
    SetDlgItemTextW(window, 1000, text);
    ShowWindow(window, SW_SHOW);
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return window;
}

DWORD WINAPI Worker(void *parameter)
{
    Round *round = (Round *)parameter;
    // A section's steps, each with its own text, none dispatching.
    round->result = 1;
    HWND direct = NULL;
    for (int step = 0; step < STEPS; step++) {
        const wchar_t *text = step % 2 ? round->language->caption : round->language->text;
        if (round->mode == DIRECT)
            direct = OpenDirect(direct, text, round->language->caption);
        else if (FakeStatusOpenW(text, round->language->caption) != 1)
            round->result = 0;
    }
    SetEvent(round->opened);
    // A section's long step: waits without dispatching.
    WaitForSingleObject(round->release, STALL_LIMIT_MS);
    if (round->mode == WORKER_CLOSES)
        FakeStatusClose();
    if (direct != NULL)
        DestroyWindow(direct);
    return 0;
}

void DrawWizard(HWND wizard, int line)
{
    HDC dc = GetDC(wizard);
    RECT rect = {0, 0, 400, 40};
    const wchar_t *text = WIZARD_LINES[line % 2];
    HGDIOBJ previous = SelectObject(dc, WizardFonts[line % 3]);
    DrawTextW(dc, text, -1, &rect, DT_RTLREADING | DT_RIGHT | DT_SINGLELINE);
    ExtTextOutW(dc, 0, 40, ETO_RTLREADING, NULL, text, (UINT)wcslen(text), NULL);
    SelectObject(dc, previous);
    ReleaseDC(wizard, dc);
}

void Pump(void)
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Draws until the handle is signalled, dispatching between the lines; false
// when it is not signalled within the stall limit.
bool DrawUntil(HWND wizard, HANDLE handle)
{
    DWORD start = GetTickCount();
    for (int line = 0; WaitForSingleObject(handle, 0) != WAIT_OBJECT_0; line++) {
        if (GetTickCount() - start > STALL_LIMIT_MS)
            return false;
        DrawWizard(wizard, line);
        Pump();
    }
    return true;
}

void PrintCounts(const char *label)
{
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    printf("%-6s handles %lu  gdi %lu  user %lu\n", label, (unsigned long)handles,
           (unsigned long)GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS),
           (unsigned long)GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 200;
    const Language *language = &LANGUAGES[0];
    for (const Language &l : LANGUAGES)
        if (argc > 2 && strcmp(argv[2], l.name) == 0)
            language = &l;
    Mode mode = WORKER_CLOSES;
    for (int m = 0; m < 3; m++)
        if (argc > 3 && strcmp(argv[3], MODE_NAMES[m]) == 0)
            mode = (Mode)m;

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    WizardFonts[0] = CreateFontIndirectW(&metrics.lfCaptionFont);
    WizardFonts[1] = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif");
    WizardFonts[2] = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = WIZARD_CLASS;
    RegisterClassW(&wc);
    HWND wizard = CreateWindowExW(WS_EX_LAYOUTRTL, WIZARD_CLASS, WIZARD_LINES[0], WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 420, 120, NULL, NULL, wc.hInstance, NULL);
    Pump();
    PrintCounts("before");

    LARGE_INTEGER frequency, started, ended;
    QueryPerformanceFrequency(&frequency);
    double slowest = 0, total = 0;
    int failed = 0;
    for (int i = 0; i < rounds; i++) {
        Round round = {language, mode, CreateEventW(NULL, TRUE, FALSE, NULL),
                       CreateEventW(NULL, TRUE, FALSE, NULL), 0};
        QueryPerformanceCounter(&started);
        HANDLE worker = CreateThread(NULL, 0, Worker, &round, 0, NULL);
        bool ok = DrawUntil(wizard, round.opened);
        if (ok && mode == MAIN_CLOSES)
            FakeStatusClose();
        SetEvent(round.release);
        ok = ok && DrawUntil(wizard, worker);
        QueryPerformanceCounter(&ended);
        if (!ok) {
            printf("round %d: stalled for more than %lu s\n", i + 1, (unsigned long)(STALL_LIMIT_MS / 1000));
            fflush(stdout);
            return 3;
        }
        if (round.result != 1)
            failed++;
        double ms = (double)(ended.QuadPart - started.QuadPart) * 1000.0 / (double)frequency.QuadPart;
        total += ms;
        if (ms > slowest)
            slowest = ms;
        CloseHandle(worker);
        CloseHandle(round.release);
        CloseHandle(round.opened);
    }
    Pump();
    PrintCounts("after");
    printf("rounds %d  language %s  closed by %s  failed opens %d  ms per round %.1f  slowest %.1f\n", rounds,
           language->name, MODE_NAMES[mode], failed, rounds ? total / rounds : 0.0, slowest);
    DestroyWindow(wizard);
    for (HFONT font : WizardFonts)
        DeleteObject(font);
    return failed == 0 ? 0 : 1;
}
