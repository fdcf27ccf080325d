// winfind_bench: GetWindowByTitle against the literal lookup, in which every
// window that does not match enumerates the windows below it once more,
// although the enumeration that reached it walks them anyway.
//
// Run under Wine with a display, e.g. from a build tree:
//   . cmake/wine-session.sh; wine_session_start build
//   wine build/bin/winfind_bench.exe; wine_session_stop
//
// Both lookups search windows of this program, so each text read is a sent
// WM_GETTEXT that the window procedure counts.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "kiv_inst.h"

static const char BENCH_CLASS[] = "KivWinfindBench";
static const char ABSENT[] = "no window carries this text";

static long g_textReads = 0;

static LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETTEXT)
        g_textReads++;
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- The baseline: the lookup as first written, descending on every miss.

static HWND g_literalFound = NULL;

static BOOL CALLBACK LiteralEnumProc(HWND window, LPARAM title)
{
    char text[1024];
    ZeroMemory(text, sizeof(text));
    GetWindowTextA(window, text, sizeof(text));
    if (strcmp(text, (const char *)title) == 0) {
        g_literalFound = window;
        return FALSE;
    }
    EnumChildWindows(window, LiteralEnumProc, title);
    return g_literalFound == NULL;
}

static HWND LiteralGetWindowByTitle(HWND parent, const char *title)
{
    if (title == NULL)
        return NULL;
    g_literalFound = NULL;
    if (parent == NULL)
        EnumWindows(LiteralEnumProc, (LPARAM)title);
    else
        EnumChildWindows(parent, LiteralEnumProc, (LPARAM)title);
    return g_literalFound;
}

// ---- Trees of windows.

static int g_windowCount = 0;

static HWND Make(HWND parent, const char *text)
{
    HWND w = CreateWindowExA(0, BENCH_CLASS, text, parent ? WS_CHILD : WS_OVERLAPPEDWINDOW, 0, 0, 40, 20,
                             parent, NULL, GetModuleHandleA(NULL), NULL);
    if (w == NULL) {
        fprintf(stderr, "winfind_bench: CreateWindowExA failed (error %lu)\n", GetLastError());
        ExitProcess(1);
    }
    if (parent != NULL)
        g_windowCount++;
    return w;
}

// A top-level window with `depth` windows nested below it, one per level.
static HWND MakeChain(int depth, HWND *last)
{
    HWND root = Make(NULL, "chain root");
    HWND w = root;
    char text[32];
    for (int level = 1; level <= depth; level++) {
        snprintf(text, sizeof(text), "level %d", level);
        w = Make(w, text);
    }
    *last = w;
    return root;
}

// A top-level window with `groups` group windows below it, each holding
// `perGroup` controls.
static HWND MakeWide(int groups, int perGroup, HWND *last)
{
    HWND root = Make(NULL, "wide root");
    char text[32];
    for (int g = 0; g < groups; g++) {
        snprintf(text, sizeof(text), "group %d", g);
        HWND group = Make(root, text);
        for (int c = 0; c < perGroup; c++) {
            snprintf(text, sizeof(text), "control %d.%d", g, c);
            *last = Make(group, text);
        }
    }
    return root;
}

// ---- Timing.

typedef HWND (*Lookup)(HWND parent, const char *title);

struct Figures {
    double microseconds; // per call
    long reads;          // text reads per call
    HWND result;
};

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

// At least three calls and at least half a second, at most 5000 calls.
static Figures Measure(Lookup lookup, HWND parent, const char *title)
{
    Figures f = {0, 0, NULL};
    g_textReads = 0;
    f.result = lookup(parent, title); // warm-up, and the reads of one call
    f.reads = g_textReads;
    int calls = 0;
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    do {
        lookup(parent, title);
        calls++;
        QueryPerformanceCounter(&now);
    } while ((calls < 3 || Seconds(start, now) < 0.5) && calls < 5000);
    f.microseconds = Seconds(start, now) * 1e6 / calls;
    return f;
}

static int Compare(const char *tree, const char *search, HWND parent, const char *title)
{
    Figures ours = Measure(GetWindowByTitle, parent, title);
    Figures literal = Measure(LiteralGetWindowByTitle, parent, title);
    printf("%-22s %-24s %12.1f %9ld %14.1f %9ld %9.1fx\n", tree, search, ours.microseconds, ours.reads,
           literal.microseconds, literal.reads, literal.microseconds / ours.microseconds);
    fflush(stdout);
    if (ours.result != literal.result) {
        fprintf(stderr, "winfind_bench: the lookups disagree (%p against %p)\n", (void *)ours.result,
                (void *)literal.result);
        return 1;
    }
    return 0;
}

int main()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = BENCH_CLASS;
    if (!RegisterClassA(&wc)) {
        fprintf(stderr, "winfind_bench: RegisterClassA failed (error %lu)\n", GetLastError());
        return 1;
    }

    printf("GetWindowByTitle against the literal lookup (each miss enumerates its children again)\n");
    printf("%-22s %-24s %12s %9s %14s %9s %10s\n", "tree", "search", "ours us/call", "reads", "literal us/call",
           "reads", "ratio");

    int failures = 0;
    HWND chainLast = NULL;
    g_windowCount = 0;
    HWND chain = MakeChain(16, &chainLast);
    char chainName[48];
    snprintf(chainName, sizeof(chainName), "chain, %d nested", g_windowCount);
    char lastText[32];
    GetWindowTextA(chainLast, lastText, sizeof(lastText));
    failures += Compare(chainName, "below root, absent", chain, ABSENT);
    failures += Compare(chainName, "below root, deepest", chain, lastText);
    failures += Compare(chainName, "all windows, absent", NULL, ABSENT);
    DestroyWindow(chain);

    HWND wideLast = NULL;
    g_windowCount = 0;
    HWND wide = MakeWide(40, 49, &wideLast);
    char wideName[48];
    snprintf(wideName, sizeof(wideName), "wide, %d windows", g_windowCount);
    GetWindowTextA(wideLast, lastText, sizeof(lastText));
    failures += Compare(wideName, "below root, absent", wide, ABSENT);
    failures += Compare(wideName, "below root, last", wide, lastText);
    failures += Compare(wideName, "all windows, absent", NULL, ABSENT);
    DestroyWindow(wide);
    return failures ? 1 : 0;
}
