// The status window as a host drives it: clip selection, layout, the
// animation control's messages, the start-up timer and the close that waits
// for the host to dispatch messages.
#include <gtest/gtest.h>

#include <commctrl.h>
#include <objbase.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture.h"
#include "dialog_driver.h"
#include "kiv_inst.h"
#include "process.h"
#include "status_hooks.h"

namespace {

const char TITLE[] = "Kiv status test";
const char LINE_BKW[] = "Using BKW AVI.\n";
const char LINE_OPEN_FAILED[] = "AviFileOpen failed, using default AVI.\n";
const UINT_PTR STARTUP_TIMER = 19980706;

HWND FindStatus(const char *title = TITLE)
{
    return FindWindowA("#32770", title);
}

SIZE ClientSize(HWND hwnd)
{
    RECT r = {};
    GetClientRect(hwnd, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

bool Contains(const std::vector<std::string> &lines, const std::string &line)
{
    for (const std::string &l : lines)
        if (l == line)
            return true;
    return false;
}

std::string Format(const char *format, int a, int b)
{
    char text[128];
    snprintf(text, sizeof(text), format, a, b);
    return text;
}

// Writes a clip with the generator's test options into the test's folder.
std::string MakeClip(const TempDir &dir, const std::string &name, const std::string &options)
{
    std::string path = dir.file(name.c_str());
    ChildRun run = RunProcess("\"" + BinPath("clipgen.exe") + "\" " + options + " \"" + path + "\"");
    EXPECT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    return path;
}

// The calls' names in order: loading the AVI file library, its functions and
// animation messages only.
std::vector<std::string> AviAndAnimateOrder(const std::vector<StatusCall> &calls)
{
    std::vector<std::string> out;
    for (const StatusCall &c : calls) {
        if (c.fn.compare(0, 7, "AVIFile") == 0 || c.fn == "LoadLibraryExW" || c.fn == "FreeLibrary")
            out.push_back(c.fn);
        else if (c.fn == "SendMessageA" && (c.msg == ACM_OPENA || c.msg == ACM_PLAY || c.msg == ACM_STOP))
            out.push_back(Describe({c})[0]);
        else if (c.fn == "debug")
            out.push_back(c.text);
    }
    return out;
}

class StatusWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The host's duty: the library does not register the control class.
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override { ASSERT_EQ(nullptr, FindStatus()) << "a status window was left open"; }
    // Back to Closed with the default clip, as after loading.
    void TearDown() override
    {
        FakeStatusClose();
        for (int i = 0; i < 50 && FindStatus() != NULL; i++)
            PumpMessages(20);
        PumpMessages(20);
        FakeStatusSetAvi("");
    }
};

// ---- clip selection ---------------------------------------------------

struct KeywordRow {
    const char *name;
    const char *line;
    int clipId;
    int width, height;
};

const KeywordRow KEYWORDS[] = {
    {nullptr, LINE_BKW, 107, 235, 92},
    {"", LINE_BKW, 107, 235, 92},
    {":BKW", LINE_BKW, 107, 235, 92},
    {":FILECOPY", "Using FILECOPY AVI.\n", 102, 260, 40},
    {":SEARCH", "Using SEARCH AVI.\n", 109, 80, 48},
};

TEST_F(StatusWindowTest, KeywordSelectsItsClipWithoutTouchingTheAviFileLibrary)
{
    for (const KeywordRow &row : KEYWORDS) {
        SCOPED_TRACE(row.name ? row.name : "(null)");
        // Start from another clip so that the row's selection shows.
        FakeStatusSetAvi(row.clipId == 109 ? ":FILECOPY" : ":SEARCH");
        StatusWatch watch;
        EXPECT_EQ(1, FakeStatusSetAvi(row.name));
        EXPECT_EQ(std::vector<std::string>{row.line}, watch.Lines());
        EXPECT_TRUE(watch.AnimateMessages().empty()) << "no window, so no control to talk to";

        ASSERT_EQ(1, FakeStatusOpen("Selecting", TITLE));
        std::vector<std::string> messages = Describe(watch.AnimateMessages());
        std::vector<std::string> expected = {"ACM_OPEN #" + std::to_string(row.clipId),
                                             "ACM_PLAY ffffffff ffffffff"};
        EXPECT_EQ(expected, messages);
        for (const StatusCall &c : watch.AnimateMessages()) {
            if (c.msg == ACM_OPENA) {
                EXPECT_EQ(0u, c.wParam) << "wParam 0: the resource comes from the control's module";
            }
        }
        EXPECT_TRUE(Contains(watch.Lines(), Format("Anim %d %d\n", row.width, row.height)));

        HWND dialog = FindStatus();
        ASSERT_NE(nullptr, dialog);
        SIZE clip = ClientSize(GetDlgItem(dialog, 102));
        EXPECT_EQ(row.width, clip.cx);
        EXPECT_EQ(row.height, clip.cy);
        for (const char *fn : {"LoadLibraryExW", "AVIFileInit", "AVIFileOpenA", "AVIFileExit"})
            EXPECT_EQ(0, watch.Count(fn)) << fn;
        TearDown();
    }
}

TEST_F(StatusWindowTest, WrongCaseKeywordIsAPathAndFallsBackToTheDefault)
{
    FakeStatusSetAvi(":SEARCH");
    StatusWatch watch;
    EXPECT_EQ(1, FakeStatusSetAvi(":filecopy"));
    std::vector<std::string> expected = {LINE_OPEN_FAILED, LINE_BKW};
    EXPECT_EQ(expected, watch.Lines());
    // One library session around the failed open and the nested fallback;
    // nothing was opened, so nothing is released; then the library goes.
    std::vector<std::string> order = {"LoadLibraryExW", "AVIFileInit", "AVIFileOpenA", LINE_OPEN_FAILED, LINE_BKW, "AVIFileExit", "FreeLibrary"};
    EXPECT_EQ(order, AviAndAnimateOrder(watch.Calls()));
    // From the system folder only, never along the host's search path.
    ASSERT_EQ(1, watch.Count("LoadLibraryExW"));
    EXPECT_EQ("avifil32.dll", watch.Calls("LoadLibraryExW")[0].text);
    EXPECT_EQ((UINT)LOAD_LIBRARY_SEARCH_SYSTEM32, watch.Calls("LoadLibraryExW")[0].msg);
    EXPECT_EQ(watch.Calls("LoadLibraryExW")[0].result, watch.Calls("FreeLibrary")[0].result);
    ASSERT_EQ(1, watch.Count("AVIFileOpenA"));
    EXPECT_EQ(":filecopy", watch.Calls("AVIFileOpenA")[0].text);
    EXPECT_EQ((UINT)OF_SHARE_DENY_WRITE, watch.Calls("AVIFileOpenA")[0].msg);

    watch.Clear();
    ASSERT_EQ(1, FakeStatusOpen("Default again", TITLE));
    EXPECT_EQ("ACM_OPEN #107", Describe(watch.AnimateMessages()).at(0));
    EXPECT_TRUE(Contains(watch.Lines(), "Anim 235 92\n"));
}

TEST_F(StatusWindowTest, LoadAndEntryPointSelectTheDefaultWithoutTheAviFileLibrary)
{
    // A fresh process: the default line follows the entry point's first
    // report.
    ChildRun run = RunUnderDebugger("\"" + BinPath("kivhost.exe") + "\" load");
    ASSERT_TRUE(run.started);
    ASSERT_GE(run.debugStrings.size(), 5u);
    EXPECT_EQ("Installation DLL main called", run.debugStrings[0]);
    EXPECT_EQ(LINE_BKW, run.debugStrings[4]);

    // Here, with the library's calls watched: attach as the loader makes it.
    typedef BOOL(WINAPI * EntryPoint)(HINSTANCE, DWORD, LPVOID);
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    ASSERT_NE(nullptr, entry);
    FakeStatusSetAvi(":SEARCH");
    StatusWatch watch;
    EXPECT_TRUE(entry(KivModule(), DLL_PROCESS_ATTACH, nullptr));
    EXPECT_TRUE(Contains(watch.Lines(), LINE_BKW));
    for (const char *fn :
         {"LoadLibraryExW", "AVIFileInit", "AVIFileOpenA", "AVIFileInfoA", "AVIFileRelease", "AVIFileExit"})
        EXPECT_EQ(0, watch.Count(fn)) << fn;
    ASSERT_EQ(1, FakeStatusOpen("After attach", TITLE));
    EXPECT_EQ("ACM_OPEN #107", Describe(watch.AnimateMessages()).at(0));
}

TEST_F(StatusWindowTest, NullAndEmptyNameSelectTheDefaultAlike)
{
    std::vector<std::vector<std::string>> seen;
    for (const char *name : {(const char *)nullptr, ""}) {
        SCOPED_TRACE(name ? "\"\"" : "null");
        FakeStatusSetAvi(":FILECOPY");
        ASSERT_EQ(1, FakeStatusOpen("Null or empty", TITLE));
        StatusWatch watch;
        EXPECT_EQ(1, FakeStatusSetAvi(name));
        std::vector<std::string> all = watch.Lines();
        for (const StatusCall &c : watch.AnimateMessages())
            all.push_back(Describe({c})[0]);
        seen.push_back(all);
        TearDown();
    }
    // Both switch an open window the same way: stop, close, select, open 107.
    std::vector<std::string> expected = {LINE_BKW, "Screen", "Msg", "Anim 235 92\n", "Dlg", "ACM_STOP",
                                         "ACM_OPEN close", "ACM_OPEN #107", "ACM_PLAY ffffffff ffffffff"};
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(seen[0], seen[1]);
    ASSERT_EQ(expected.size(), seen[0].size());
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_EQ(0u, seen[0][i].find(expected[i])) << i << ": " << seen[0][i];
}

TEST_F(StatusWindowTest, NameOf1024CharactersIsRefusedNot1023)
{
    for (size_t length : {(size_t)1023, (size_t)1024, (size_t)5000}) {
        SCOPED_TRACE(length);
        std::string name = "C:\\" + std::string(length - 3, 'k');
        FakeStatusSetAvi(":SEARCH");
        StatusWatch watch;
        EXPECT_EQ(1, FakeStatusSetAvi(name.c_str()));
        std::vector<std::string> expected = {LINE_OPEN_FAILED, LINE_BKW};
        EXPECT_EQ(expected, watch.Lines());
        if (length <= 1023) {
            ASSERT_EQ(1, watch.Count("AVIFileOpenA"));
            EXPECT_EQ(name, watch.Calls("AVIFileOpenA")[0].text) << "the whole name is tried";
        } else {
            EXPECT_EQ(0, watch.Count("AVIFileOpenA")) << "a cut name could open some other file";
        }
        EXPECT_EQ(watch.Count("AVIFileInit"), watch.Count("AVIFileExit"));
    }
}

// Copies what the control shows, so a test can tell that frames change:
// through its own device context, or from the screen, as the user sees it
// (a mirrored window's context reads its pixels mirrored back).
std::vector<COLORREF> Snapshot(HWND hwnd, bool fromScreen = false)
{
    RECT place = {};
    GetWindowRect(hwnd, &place);
    SIZE size = ClientSize(hwnd);
    std::vector<COLORREF> pixels((size_t)size.cx * size.cy);
    HWND source = fromScreen ? NULL : hwnd;
    HDC dc = GetDC(source);
    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, size.cx, size.cy, dc, fromScreen ? place.left : 0, fromScreen ? place.top : 0, SRCCOPY);
    GdiFlush();
    if (bits != nullptr)
        memcpy(pixels.data(), bits, pixels.size() * sizeof(COLORREF));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(source, dc);
    return pixels;
}

size_t DistinctColours(const std::vector<COLORREF> &pixels)
{
    std::vector<COLORREF> sorted(pixels);
    std::sort(sorted.begin(), sorted.end());
    return (size_t)(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

bool IsPicture(const std::vector<COLORREF> &pixels)
{
    return DistinctColours(pixels) > 4;
}

// Dispatches until `done` holds or the bound passes: a fixed pause can look
// too early on a busy machine.
template <typename Done>
void PumpUntil(Done done, DWORD boundMs = 5000)
{
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < boundMs)
        PumpMessages(20);
}

// The control draws from a thread of its own and the X server shows the
// window when it gets to it: look again until the wanted picture is there.
template <typename Wanted>
std::vector<COLORREF> WaitForPicture(HWND hwnd, Wanted wanted)
{
    std::vector<COLORREF> pixels;
    PumpUntil([&] {
        pixels = Snapshot(hwnd);
        return wanted(pixels);
    });
    return pixels;
}

// The drawn frames of a built-in clip as the screen shows them, 0x00RRGGBB.
std::vector<std::vector<COLORREF>> ScreenFrames(int resourceId)
{
    const ClipPictures &clip = DrawnClip(resourceId);
    std::vector<std::vector<COLORREF>> frames;
    for (const std::vector<uint8_t> &indices : clip.frames) {
        frames.emplace_back();
        for (uint8_t index : indices)
            frames.back().push_back(clip.palette[index]);
    }
    return frames;
}

// The control draws every frame over the one before: only when it decodes
// them in order does each picture it shows equal the frame drawn for it.
TEST_F(StatusWindowTest, EachBuiltInClipPlaysInARealAnimationControlFrameByFrame)
{
    struct Row {
        const char *keyword;
        int resourceId;
        DWORD frameMs;
    };
    static const Row rows[] = {{":BKW", 107, 200}, {":FILECOPY", 102, 100}, {":SEARCH", 109, 167}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.keyword);
        const std::vector<std::vector<COLORREF>> frames = ScreenFrames(row.resourceId);
        const int count = (int)frames.size();
        ASSERT_GT(count, 1);
        FakeStatusSetAvi(row.keyword);
        StatusWatch watch;
        ASSERT_EQ(1, FakeStatusOpen("Playing", TITLE));
        for (const StatusCall &c : watch.AnimateMessages())
            EXPECT_NE(0, c.result) << Describe({c})[0];
        HWND anim = GetDlgItem(FindStatus(), 102);

        // Watch until the clip has looped back to its key frame and most frames
        // were caught; a busy machine may hide a frame from the watcher, never
        // show one out of order or a picture that is no frame.
        int last = -1, wraps = 0;
        std::vector<bool> caught(count, false);
        std::string fault;
        PumpUntil(
            [&] {
                std::vector<COLORREF> now = Snapshot(anim);
                int at = (int)(std::find(frames.begin(), frames.end(), now) - frames.begin());
                if (at == count) {
                    if (last >= 0) // before the first frame the area is not drawn yet
                        fault = "a picture that is no frame after frame " + std::to_string(last);
                } else if (at != last) {
                    if (last >= 0 && (at - last + count) % count > count / 2)
                        fault = "frame " + std::to_string(at) + " after frame " + std::to_string(last);
                    wraps += last >= 0 && at < last;
                    last = at;
                    caught[at] = true;
                }
                return !fault.empty() || (wraps > 0 && std::count(caught.begin(), caught.end(), true) == count);
            },
            3 * count * row.frameMs + 5000);
        EXPECT_EQ("", fault);
        EXPECT_GT(wraps, 0) << "the clip did not loop back to its first frame";
        EXPECT_GT(std::count(caught.begin(), caught.end(), true), count / 2);
        TearDown();
    }
}

// ---- files --------------------------------------------------------------

TEST_F(StatusWindowTest, ExternalClipOf320By240SizesTheWindow)
{
    TempDir dir;
    std::string path = MakeClip(dir, "wide.avi", "--test-clip 320 240 8");
    StatusWatch watch;
    watch.FakeMeasure(150, 16);
    EXPECT_EQ(1, FakeStatusSetAvi(path.c_str()));
    EXPECT_EQ(std::vector<std::string>{"AviFileOpen succeeded, using " + path + ".\n"}, watch.Lines());
    std::vector<std::string> order = {"LoadLibraryExW", "AVIFileInit", "AVIFileOpenA", "AVIFileInfoA",
                                      "AviFileOpen succeeded, using " + path + ".\n", "AVIFileRelease",
                                      "AVIFileExit", "FreeLibrary"};
    EXPECT_EQ(order, AviAndAnimateOrder(watch.Calls()));
    ASSERT_EQ(1, watch.Count("AVIFileInfoA"));
    EXPECT_EQ(108u, watch.Calls("AVIFileInfoA")[0].wParam);

    watch.Clear();
    ASSERT_EQ(1, FakeStatusOpen("A clip from a file", TITLE));
    std::vector<std::string> messages = {"ACM_OPEN " + path, "ACM_PLAY ffffffff ffffffff"};
    EXPECT_EQ(messages, Describe(watch.AnimateMessages()));
    EXPECT_TRUE(Contains(watch.Lines(), "Anim 320 240\n"));
    int msgW = 150 + 40;
    EXPECT_TRUE(Contains(watch.Lines(), Format("Dlg %d %d\n", 440 + msgW, GetSystemMetrics(SM_CYMIN) + 320)));
    SIZE clip = ClientSize(GetDlgItem(FindStatus(), 102));
    EXPECT_EQ(320, clip.cx);
    EXPECT_EQ(240, clip.cy);
}

// A library or function that cannot be had counts as a file that does not
// open, with nothing of it left loaded; a system without the search flags
// gets the library by its full path in the system folder.
TEST_F(StatusWindowTest, AviFileLibraryThatCannotBeHadCountsAsAFileThatDoesNotOpen)
{
    TempDir dir;
    std::string path = MakeClip(dir, "c.avi", "--test-clip 64 48 2");
    char system[MAX_PATH] = {0};
    GetSystemDirectoryA(system, MAX_PATH);
    const struct {
        const char *what, *missing;
        DWORD refusal;
        int loads, frees;
    } rows[] = {{"no library", "", ERROR_MOD_NOT_FOUND, 1, 0},
                {"no AVIFileExit", "AVIFileExit", 0, 1, 1},
                {"old system", "", ERROR_INVALID_PARAMETER, 2, 1}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        FakeStatusSetAvi(":SEARCH");
        StatusWatch watch;
        watch.RefuseSearchFlags(row.refusal, row.missing);
        EXPECT_EQ(1, FakeStatusSetAvi(path.c_str()));
        bool opens = row.refusal == ERROR_INVALID_PARAMETER;
        std::vector<std::string> failed = {LINE_OPEN_FAILED, LINE_BKW};
        EXPECT_EQ(opens ? std::vector<std::string>{"AviFileOpen succeeded, using " + path + ".\n"} : failed,
                  watch.Lines());
        EXPECT_EQ(opens ? 1 : 0, watch.Count("AVIFileInit"));
        EXPECT_EQ(watch.Count("AVIFileInit"), watch.Count("AVIFileExit"));
        ASSERT_EQ(row.loads, watch.Count("LoadLibraryExW"));
        ASSERT_EQ(row.frees, watch.Count("FreeLibrary"));
        StatusCall last = watch.Calls("LoadLibraryExW").back();
        for (const StatusCall &free : watch.Calls("FreeLibrary"))
            EXPECT_EQ(last.result, free.result);
        if (opens) {
            EXPECT_EQ(std::string(system) + "\\avifil32.dll", last.text);
            EXPECT_EQ((UINT)LOAD_WITH_ALTERED_SEARCH_PATH, last.msg);
        }
    }
}

TEST_F(StatusWindowTest, SucceededLineIsCutToItsBufferButThePathIsKeptWhole)
{
    // The AVI file library is stood in for: the one under test here cannot
    // open a path this long (see the Wine notes in README.md).
    std::string path = "C:\\" + std::string(296, 'p') + ".avi";
    StatusWatch watch;
    watch.FakeAviFile(64, 32);
    EXPECT_EQ(1, FakeStatusSetAvi(path.c_str()));
    std::string full = "AviFileOpen succeeded, using " + path + ".\n";
    EXPECT_EQ(std::vector<std::string>{full.substr(0, 254) + "\n"}, watch.Lines())
        << "cut to the 256-byte line buffer, still ending its line";

    watch.Clear();
    EXPECT_EQ(0, FakeStatusOpen("Long path", TITLE)) << "no such file for the control";
    ASSERT_FALSE(watch.AnimateMessages().empty());
    EXPECT_EQ(path, watch.AnimateMessages()[0].text) << "the selection holds the whole path";
    EXPECT_TRUE(Contains(watch.Lines(), "Anim 64 32\n"));
    EXPECT_TRUE(Contains(watch.Lines(), "Animate_Open file failed.\n"));
}

TEST_F(StatusWindowTest, FileTheControlCannotPlayStaysSelectedAndOpenFails)
{
    TempDir dir;
    std::string path = MakeClip(dir, "mjpg.avi", "--unplayable");
    StatusWatch watch;
    EXPECT_EQ(1, FakeStatusSetAvi(path.c_str()));
    EXPECT_EQ(std::vector<std::string>{"AviFileOpen succeeded, using " + path + ".\n"}, watch.Lines());

    watch.Clear();
    EXPECT_EQ(0, FakeStatusOpen("Unplayable", TITLE));
    std::vector<std::string> lines = watch.Lines();
    EXPECT_TRUE(Contains(lines, "Animate_Open file failed.\n"));
    EXPECT_FALSE(Contains(lines, LINE_BKW)) << "no fallback to the default clip";
    EXPECT_TRUE(Contains(lines, "Anim 64 48\n")) << "the area is sized to the file's frame";
    ASSERT_NE(nullptr, FindStatus()) << "the window opens all the same";

    // Switching to it again while the window is open fails the same way.
    watch.Clear();
    EXPECT_EQ(0, FakeStatusSetAvi(path.c_str()));
    EXPECT_TRUE(Contains(watch.Lines(), "Animate_Open file failed.\n"));
    EXPECT_FALSE(Contains(watch.Lines(), LINE_BKW));
}

TEST_F(StatusWindowTest, UnopenableFileWhileOpenNestsTheDefaultSwitchInsideOneLibrarySession)
{
    ASSERT_EQ(1, FakeStatusOpen("Switching", TITLE));
    StatusWatch watch;
    EXPECT_EQ(1, FakeStatusSetAvi("Z:\\no\\such\\clip.avi"));
    std::vector<std::string> expected = {
        "ACM_STOP", "ACM_OPEN close", "LoadLibraryExW", "AVIFileInit", "AVIFileOpenA", LINE_OPEN_FAILED,
        // the fallback through the export switches the open window at once
        "ACM_STOP", "ACM_OPEN close", LINE_BKW, "ACM_OPEN #107", "ACM_PLAY ffffffff ffffffff",
        "AVIFileExit", "FreeLibrary",
        // then the outer call opens and plays the default once more
        "ACM_OPEN #107", "ACM_PLAY ffffffff ffffffff"};
    std::vector<std::string> seen;
    for (const std::string &s : AviAndAnimateOrder(watch.Calls()))
        if (s.compare(0, 6, "Screen") != 0 && s.compare(0, 3, "Msg") != 0 && s.compare(0, 4, "Anim") != 0 &&
            s.compare(0, 3, "Dlg") != 0)
            seen.push_back(s);
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(6, watch.Count("MoveWindow")) << "laid out by the fallback and by the outer call";
    HWND dialog = FindStatus();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(IsWindowVisible(dialog));
}

// ---- window and layout ------------------------------------------------

struct LayoutRow {
    const char *keyword;
    int measuredW, measuredH;
    int animW, animH;
    int textX, textY, msgW, msgH;
};

TEST_F(StatusWindowTest, LayoutPlacesClipTextAndWindowExactly)
{
    static const LayoutRow rows[] = {
        // A text taller than the clip: -17 / 2 truncates to -8, so y is 32.
        {":FILECOPY", 100, 17, 260, 40, 340, 32, 140, 57},
        // The default clip with a 200 by 16 text.
        {":BKW", 200, 16, 235, 92, 315, 58, 240, 56},
        // A tall text that is odd below zero the other way round.
        {":SEARCH", 10, 21, 80, 48, 160, 40 + (48 - 61) / 2, 50, 61},
    };
    int cx = GetSystemMetrics(SM_CXFULLSCREEN), cy = GetSystemMetrics(SM_CYFULLSCREEN);
    int cyMin = GetSystemMetrics(SM_CYMIN);
    for (const LayoutRow &row : rows) {
        SCOPED_TRACE(row.keyword);
        FakeStatusSetAvi(row.keyword);
        StatusWatch watch;
        watch.FakeMeasure(row.measuredW, row.measuredH);
        ASSERT_EQ(1, FakeStatusOpen("Measured text", TITLE));
        HWND dialog = FindStatus();
        ASSERT_NE(nullptr, dialog);

        int dlgW = row.animW + row.msgW + 120, dlgH = cyMin + row.animH + 80;
        std::vector<std::string> layoutLines;
        for (const std::string &l : watch.Lines())
            if (l.compare(0, 6, "Screen") == 0 || l.compare(0, 3, "Msg") == 0 || l.compare(0, 4, "Anim") == 0 ||
                l.compare(0, 3, "Dlg") == 0)
                layoutLines.push_back(l);
        std::vector<std::string> expectedLines = {Format("Screen %d %d\n", cx, cy),
                                                  Format("Msg %d %d\n", row.msgW, row.msgH),
                                                  Format("Anim %d %d\n", row.animW, row.animH),
                                                  Format("Dlg %d %d\n", dlgW, dlgH)};
        EXPECT_EQ(expectedLines, layoutLines);

        // The text control's own text, measured on one line: first in the
        // device context's default font, as 1.1.0 measured it, then in the
        // control's font, which may only grow the result.
        std::vector<StatusCall> measures = watch.Calls("DrawTextA");
        ASSERT_EQ(2u, measures.size());
        HFONT controlFont = (HFONT)SendMessageA(GetDlgItem(dialog, 1000), WM_GETFONT, 0, 0);
        EXPECT_EQ((LPARAM)GetStockObject(SYSTEM_FONT), measures[0].lParam) << "the default font";
        EXPECT_EQ((LPARAM)controlFont, measures[1].lParam) << "the control's font";
        for (const StatusCall &measure : measures) {
            EXPECT_EQ("Measured text", measure.text);
            EXPECT_EQ((UINT)(DT_CALCRECT | DT_SINGLELINE), measure.msg);
            EXPECT_EQ((WPARAM)-1, measure.wParam);
        }

        std::vector<StatusCall> moves = watch.Calls("MoveWindow");
        ASSERT_EQ(3u, moves.size());
        struct {
            HWND hwnd;
            int x, y, w, h;
        } expected[3] = {{GetDlgItem(dialog, 102), 40, 40, row.animW, row.animH},
                         {GetDlgItem(dialog, 1000), row.animW + 80, row.textY, row.msgW, row.msgH},
                         {dialog, (cx - dlgW) / 2, (cy - dlgH) / 2, dlgW, dlgH}};
        for (int i = 0; i < 3; i++) {
            SCOPED_TRACE(i);
            EXPECT_EQ(expected[i].hwnd, moves[i].hwnd);
            EXPECT_EQ(expected[i].x, moves[i].x);
            EXPECT_EQ(expected[i].y, moves[i].y);
            EXPECT_EQ(expected[i].w, moves[i].w);
            EXPECT_EQ(expected[i].h, moves[i].h);
            EXPECT_EQ(0u, moves[i].wParam) << "moved without repainting";
        }
        EXPECT_EQ(row.textX, moves[1].x);

        // Where the window really is: centred, exactly that size.
        RECT r = {};
        GetWindowRect(dialog, &r);
        EXPECT_EQ((cx - dlgW) / 2, r.left);
        EXPECT_EQ((cy - dlgH) / 2, r.top);
        EXPECT_EQ(dlgW, r.right - r.left);
        EXPECT_EQ(dlgH, r.bottom - r.top);
        TearDown();
    }
}

// The text area is the default font's measure, grown in each direction
// only where the control's font needs more: the one rule that keeps 1.1.0's
// figures at 96 DPI and the text whole where the control's font is larger.
TEST_F(StatusWindowTest, TextAreaGrowsOnlyWhereTheControlsFontNeedsMore)
{
    const struct {
        int fontW, fontH; // the control's font; the default font gives 100 by 16
        int msgW, msgH;
    } rows[] = {
        {80, 13, 140, 56},  // smaller both ways: the default font's figures
        {150, 13, 190, 56}, // wider only
        {80, 20, 140, 60},  // taller only
        {150, 20, 190, 60}, // larger both ways
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.fontW << " by " << row.fontH);
        StatusWatch watch;
        watch.FakeMeasure(100, 16, row.fontW, row.fontH);
        ASSERT_EQ(1, FakeStatusOpen("Grown", TITLE));
        EXPECT_TRUE(Contains(watch.Lines(), Format("Msg %d %d\n", row.msgW, row.msgH)));
        SIZE text = ClientSize(GetDlgItem(FindStatus(), 1000));
        EXPECT_EQ(row.msgW, text.cx);
        EXPECT_EQ(row.msgH, text.cy);
        TearDown();
    }
}

// The figures 1.1.0 (commit efc5914) gave at 96 DPI in the test session
// (Xvfb 1024x768, the fonts the dependencies install): its lines and its
// window's rectangle, for texts on one line, empty, wrapped and with a line
// break, under each built-in clip and a 320 by 240 clip file. The window
// must keep them exactly: installers' screenshots and scripted checks rely
// on them.
struct FiguresRow {
    const char *clip; // nullptr: the clip file
    int text;         // into the test's texts
    int msgW, msgH, dlgW, dlgH;
    RECT window;
};

const FiguresRow FIGURES_1_1_0[] = {
    {":BKW",      0, 124, 56, 479, 199, {272, 290,  751, 489}},
    {":BKW",      1, 244, 56, 599, 199, {212, 290,  811, 489}},
    {":BKW",      2,  61, 56, 416, 199, {304, 290,  720, 489}},
    {":BKW",      3,  40, 56, 395, 199, {314, 290,  709, 489}},
    {":BKW",      4, 665, 72, 1020, 199, {  2, 290, 1022, 489}},
    {":BKW",      5, 661, 72, 1016, 199, {  4, 290, 1020, 489}},
    {":BKW",      6, 207, 56, 562, 199, {231, 290,  793, 489}},
    {":FILECOPY", 0, 124, 56, 504, 147, {260, 316,  764, 463}},
    {":FILECOPY", 1, 244, 56, 624, 147, {200, 316,  824, 463}},
    {":FILECOPY", 2,  61, 56, 441, 147, {291, 316,  732, 463}},
    {":FILECOPY", 3,  40, 56, 420, 147, {302, 316,  722, 463}},
    {":FILECOPY", 4, 616, 72, 996, 147, { 14, 316, 1010, 463}},
    {":FILECOPY", 5, 598, 72, 978, 147, { 23, 316, 1001, 463}},
    {":FILECOPY", 6, 207, 56, 587, 147, {218, 316,  805, 463}},
    {":SEARCH",   0, 124, 56, 324, 155, {350, 312,  674, 467}},
    {":SEARCH",   1, 244, 56, 444, 155, {290, 312,  734, 467}},
    {":SEARCH",   2,  61, 56, 261, 155, {381, 312,  642, 467}},
    {":SEARCH",   3,  40, 56, 240, 155, {392, 312,  632, 467}},
    {":SEARCH",   4, 764, 56, 964, 155, { 30, 312,  994, 467}},
    {":SEARCH",   5, 780, 72, 980, 155, { 22, 312, 1002, 467}},
    {":SEARCH",   6, 207, 56, 407, 155, {308, 312,  715, 467}},
    {nullptr,     0, 124, 56, 564, 347, {230, 216,  794, 563}},
    {nullptr,     1, 244, 56, 684, 347, {170, 216,  854, 563}},
    {nullptr,     2,  61, 56, 501, 347, {261, 216,  762, 563}},
    {nullptr,     3,  40, 56, 480, 347, {272, 216,  752, 563}},
    {nullptr,     4, 483, 72, 923, 347, { 50, 216,  973, 563}},
    {nullptr,     5, 556, 72, 996, 347, { 14, 216, 1010, 563}},
    {nullptr,     6, 207, 56, 647, 347, {188, 216,  835, 563}},
};

TEST_F(StatusWindowTest, LinesAndRectangleAt96DpiAreThoseOf110)
{
    ASSERT_EQ(1024, GetSystemMetrics(SM_CXSCREEN)) << "the figures were taken on a 1024x768 screen";
    ASSERT_EQ(768, GetSystemMetrics(SM_CYSCREEN));
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    ASSERT_EQ(96, dpi);

    std::string wrapped;
    while (wrapped.size() < 120)
        wrapped += "Copying the Kivelstrand render files, ";
    wrapped.resize(120);
    const std::string texts[] = {
        "Installing...", "Copying files, please wait...", "OK", "",
        "Uninstalling by custom call C:\\Program Files\\Kivelstrand\\bin\\kivclean.exe /all /quiet, please wait...",
        wrapped, "First line\r\nSecond line"};
    TempDir dir;
    std::string file = MakeClip(dir, "figures.avi", "--test-clip 320 240 8");
    for (const FiguresRow &row : FIGURES_1_1_0) {
        SCOPED_TRACE(std::string(row.clip != nullptr ? row.clip : "file") + " \"" + texts[row.text] + "\"");
        FakeStatusSetAvi(row.clip != nullptr ? row.clip : file.c_str());
        int animW = 320, animH = 240;
        for (const KeywordRow &keyword : KEYWORDS) {
            if (row.clip != nullptr && keyword.name != nullptr && strcmp(keyword.name, row.clip) == 0) {
                animW = keyword.width;
                animH = keyword.height;
            }
        }
        StatusWatch watch;
        ASSERT_EQ(1, FakeStatusOpen(texts[row.text].c_str(), TITLE));
        std::vector<std::string> expected = {"Screen 1024 779\n", Format("Msg %d %d\n", row.msgW, row.msgH),
                                             Format("Anim %d %d\n", animW, animH),
                                             Format("Dlg %d %d\n", row.dlgW, row.dlgH)};
        EXPECT_EQ(expected, watch.Lines());
        RECT r = {};
        GetWindowRect(FindStatus(), &r);
        EXPECT_EQ(row.window.left, r.left);
        EXPECT_EQ(row.window.top, r.top);
        EXPECT_EQ(row.window.right, r.right);
        EXPECT_EQ(row.window.bottom, r.bottom);
        TearDown();
    }
}

// The 120 characters that put a 1,285-pixel window at x = -130 when the
// text had to stay on one line.
TEST_F(StatusWindowTest, TextWiderThanTheWorkAreaWrapsWithinIt)
{
    std::string text;
    while (text.size() < 120)
        text += "Copying the Kivelstrand render files, ";
    text.resize(120);
    StatusWatch watch;
    ASSERT_EQ(1, FakeStatusOpen(text.c_str(), TITLE));
    HWND dialog = FindStatus();
    ASSERT_NE(nullptr, dialog);
    HWND control = GetDlgItem(dialog, 1000);

    RECT work = {}, window = {};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    GetWindowRect(dialog, &window);
    EXPECT_GE(window.left, work.left);
    EXPECT_GE(window.top, work.top);
    EXPECT_LE(window.right, work.right);
    EXPECT_LE(window.bottom, work.bottom);

    // Measured on one line, then wrapped at the width that fits, each time
    // in the default font and in the control's.
    std::vector<StatusCall> measures = watch.Calls("DrawTextA");
    ASSERT_EQ(4u, measures.size());
    EXPECT_EQ((UINT)(DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL), measures[2].msg);
    EXPECT_EQ((UINT)(DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL), measures[3].msg);
    // The default font wraps at the widest text that fits the work area; the
    // control's font at the width that gave, which the control is no
    // narrower than.
    EXPECT_EQ(work.right - work.left - 235 - 160, measures[2].w);
    EXPECT_EQ(measures[2].x, measures[3].w);
    // At least two lines of the control's font, plus the margins; and a
    // control style that wraps rather than centres one line.
    RECT line = {0, 0, 10, 10};
    HDC dc = GetWindowDC(control);
    HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageA(control, WM_GETFONT, 0, 0));
    DrawTextA(dc, "Xg", -1, &line, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    RECT textRect = {};
    GetWindowRect(control, &textRect);
    EXPECT_GE(textRect.bottom - textRect.top, 2 * (line.bottom - line.top) + 40);
    EXPECT_LE(textRect.right, window.right);
    EXPECT_EQ(0, GetWindowLongA(control, GWL_STYLE) & SS_CENTERIMAGE);

    // A text that fits again gets the template's one centred line back.
    ASSERT_EQ(1, FakeStatusOpen("Done", TITLE));
    EXPECT_EQ(SS_CENTERIMAGE, GetWindowLongA(control, GWL_STYLE) & (SS_CENTERIMAGE | SS_EDITCONTROL));
}

// A per-monitor-aware host's window moved to a screen of another density:
// laid out again on the monitor of the place the system suggests, within
// that monitor's work area, once the dialog manager has had the message.
// Wine sends no WM_DPICHANGED and has one screen: the message is sent here,
// and a second monitor right of the screen, with a taskbar at its top, is
// made up through the imports.
TEST_F(StatusWindowTest, DpiChangeLaysTheWindowOutOnTheSuggestedMonitorsWorkArea)
{
    const RECT second = {1024, 0, 2304, 1024}, secondWork = {1024, 40, 2304, 1024};
    RECT primaryWork = {};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &primaryWork, 0));
    ASSERT_EQ(1, FakeStatusOpen("Moved", TITLE));
    HWND dialog = FindStatus();
    ASSERT_NE(nullptr, dialog);
    RECT before = {};
    GetWindowRect(dialog, &before);
    const int w = before.right - before.left, h = before.bottom - before.top;
    const struct {
        const char *what;
        int left, top;         // of the suggested place, as large as the window
        bool onSecond;
        int expectX, expectY;
    } rows[] = {
        {"on the primary screen", 100, 120, false, 100, 120},
        {"on the second monitor", 1400, 300, true, 1400, 300},
        {"past its right edge", 2304 - w / 2, 300, true, 2304 - w, 300},
        {"above its taskbar", 1400, 10, true, 1400, 40},
        {"across both, mostly on the second", 1024 - w / 4, 200, true, 1024, 200},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        StatusWatch watch;
        watch.AddMonitor(second, secondWork);
        RECT suggested = {row.left, row.top, row.left + w, row.top + h};
        SendMessageA(dialog, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(96, 96), (LPARAM)&suggested);
        EXPECT_EQ(0, watch.Count("MoveWindow")) << "laid out only after the dialog manager's turn";
        PumpMessages(50);
        ASSERT_EQ(3, watch.Count("MoveWindow"));
        std::vector<StatusCall> asked = watch.Calls("MonitorFromRect");
        ASSERT_EQ(1u, asked.size());
        EXPECT_EQ(row.left, asked[0].x);
        EXPECT_EQ(row.top, asked[0].y);
        EXPECT_EQ(w, asked[0].w);
        EXPECT_EQ(h, asked[0].h);
        EXPECT_EQ((UINT)MONITOR_DEFAULTTONEAREST, asked[0].msg);
        ASSERT_EQ(1, watch.Count("GetMonitorInfoA"));
        EXPECT_EQ(asked[0].result, watch.Calls("GetMonitorInfoA")[0].lParam);
        EXPECT_EQ(row.onSecond, (HMONITOR)asked[0].result == (HMONITOR)(ULONG_PTR)0x4B1D0020);

        StatusCall moved = watch.Calls("MoveWindow")[2];
        EXPECT_EQ(dialog, moved.hwnd);
        EXPECT_EQ(row.expectX, moved.x);
        EXPECT_EQ(row.expectY, moved.y);
        EXPECT_EQ(w, moved.w);
        EXPECT_EQ(h, moved.h);
        const RECT &work = row.onSecond ? secondWork : primaryWork;
        EXPECT_GE(moved.x, work.left);
        EXPECT_LE(moved.x + moved.w, work.right);
        EXPECT_GE(moved.y, work.top);
        EXPECT_LE(moved.y + moved.h, work.bottom);
        // The fonts are the dialog manager's to scale; the library sets none.
        for (const StatusCall &c : watch.Calls("SendMessageA"))
            EXPECT_NE((UINT)WM_SETFONT, c.msg);
        EXPECT_TRUE(watch.AnimateMessages().empty()) << "the clip's drawing still suits the density";
    }
}

// The dialog manager of a per-monitor host keeps scaling the fonts but
// leaves size and places to the layout; the caption and frame allowance is
// the metric for the window's DPI. Both calls are looked up by name, and a
// system without them gets the plain metric.
TEST_F(StatusWindowTest, DialogManagerKeepsTheFontsAndTheMetricIsTheWindowsDpis)
{
    const int cyMin = GetSystemMetrics(SM_CYMIN);
    for (bool newer : {true, false}) {
        SCOPED_TRACE(newer ? "Windows 10" : "older Windows");
        StatusWatch watch;
        watch.AddToMetricsForDpi(3);
        if (!newer)
            watch.RefuseSearchFlags(0, "GetSystemMetricsForDpi");
        ASSERT_EQ(1, FakeStatusOpen("Metrics", TITLE));
        HWND dialog = FindStatus();
        std::vector<StatusCall> behaviour = watch.Calls("SetDialogDpiChangeBehavior");
        ASSERT_EQ(1u, behaviour.size());
        EXPECT_EQ(dialog, behaviour[0].hwnd);
        EXPECT_EQ(6u, behaviour[0].wParam) << "DDC_DISABLE_RESIZE | DDC_DISABLE_CONTROL_RELAYOUT";
        EXPECT_EQ(6, behaviour[0].lParam);

        std::vector<StatusCall> metrics = watch.Calls("GetSystemMetricsForDpi");
        ASSERT_EQ(newer ? 1u : 0u, metrics.size());
        if (newer) {
            EXPECT_EQ((UINT)SM_CYMIN, metrics[0].msg);
            EXPECT_EQ(96u, metrics[0].wParam);
        }
        std::string dlg;
        for (const std::string &line : watch.Lines())
            if (line.compare(0, 4, "Dlg ") == 0)
                dlg = line;
        RECT r = {};
        GetWindowRect(dialog, &r);
        EXPECT_EQ(Format("Dlg %d %d\n", r.right - r.left, cyMin + (newer ? 3 : 0) + 92 + 80), dlg);
        TearDown();
    }
}

TEST_F(StatusWindowTest, OpenShowsCaptionTextAndNoSystemMenu)
{
    ASSERT_EQ(1, FakeStatusOpen("Copying files, please wait...", TITLE));
    HWND dialog = FindStatus();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(nullptr, GetParent(dialog)) << "a top-level window without owner";
    EXPECT_EQ(TITLE, WindowText(dialog));
    EXPECT_EQ("Copying files, please wait...", WindowText(GetDlgItem(dialog, 1000)));
    // What a screen reader reads.
    CoInitialize(NULL);
    EXPECT_EQ("Copying files, please wait...", AccessibleName(GetDlgItem(dialog, 1000)));
    CoUninitialize();
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(0, style & WS_SYSMENU);
    EXPECT_NE(0, style & WS_CAPTION);
}

// The wide export shows caption and text exactly, whatever the ANSI code
// page, and the wide lookup finds the window, and its text, by them.
TEST_F(StatusWindowTest, WideOpenShowsTextOutsideTheCodePageExactlyAndIsFoundByIt)
{
    const std::wstring title = L"Kivelstrand \u0141\u00f3d\u017a \u6771\u4eac";
    const std::wstring text = L"Kopiowanie plik\u00f3w \u2014 \u6771\u4eac, \u05e2\u05d1\u05e8\u05d9\u05ea...";
    ASSERT_EQ(1, FakeStatusOpenW(text.c_str(), title.c_str()));
    HWND dialog = GetWindowByTitleW(NULL, title.c_str());
    ASSERT_NE(nullptr, dialog);
    wchar_t read[512] = {0};
    GetDlgItemTextW(dialog, 1000, read, 512);
    EXPECT_EQ(text, read);
    EXPECT_EQ(GetDlgItem(dialog, 1000), GetWindowByTitleW(dialog, text.c_str()));
    // The narrow lookup of the look-alike finds nothing.
    EXPECT_EQ(nullptr, GetWindowByTitle(NULL, std::string(title.size(), '?').c_str()));
}

// A Hebrew or Arabic installer mirrors its wizard; its status window is
// mirrored too, chosen as the drive chooser chooses its language (Wine
// follows the thread locale), through either export: clip on the right,
// text right to left, the clip's pictures their own way round, and the
// layout's figures those of the unmirrored window.
TEST_F(StatusWindowTest, WindowMirrorsForALanguageReadRightToLeft)
{
    const struct {
        WORD language;
        bool mirrored;
    } rows[] = {{LANG_ENGLISH, false}, {LANG_HEBREW, true}, {LANG_ARABIC, true}, {LANG_GERMAN, false}};
    const LCID before = GetThreadLocale();
    const std::vector<std::vector<COLORREF>> frames = ScreenFrames(107);
    std::vector<std::string> englishLines;
    for (const auto &row : rows) {
        for (bool wide : {false, true}) {
            SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << row.language << (wide ? " W" : " A"));
            ASSERT_TRUE(SetThreadLocale(MAKELCID(MAKELANGID(row.language, SUBLANG_DEFAULT), SORT_DEFAULT)));
            StatusWatch watch;
            ASSERT_EQ(1, wide ? FakeStatusOpenW(L"Copying files, please wait...", L"Kiv status test")
                              : FakeStatusOpen("Copying files, please wait...", TITLE));
            SetThreadLocale(before);
            HWND dialog = FindStatus();
            ASSERT_NE(nullptr, dialog);
            HWND text = GetDlgItem(dialog, 1000), anim = GetDlgItem(dialog, 102);
            EXPECT_EQ(row.mirrored, (GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0);
            EXPECT_EQ(row.mirrored, (GetWindowLongA(text, GWL_EXSTYLE) & WS_EX_RTLREADING) != 0);
            EXPECT_EQ(0, GetWindowLongA(anim, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) << "the clip is not drawn mirrored";
            RECT textRect = {}, animRect = {};
            GetWindowRect(text, &textRect);
            GetWindowRect(anim, &animRect);
            EXPECT_EQ(row.mirrored, animRect.left > textRect.left) << "the clip on the right";

            std::vector<std::string> lines = watch.Lines();
            if (englishLines.empty())
                englishLines = lines;
            EXPECT_EQ(englishLines, lines);
            std::vector<COLORREF> shown;
            PumpUntil([&] {
                shown = Snapshot(anim, true);
                return std::find(frames.begin(), frames.end(), shown) != frames.end();
            });
            EXPECT_NE(frames.end(), std::find(frames.begin(), frames.end(), shown)) << "a frame as drawn";
            TearDown();
        }
    }
}

TEST_F(StatusWindowTest, SecondOpenChangesCaptionAndTextAndKeepsTheClipRunning)
{
    ASSERT_EQ(1, FakeStatusOpen("First step", TITLE));
    HWND dialog = FindStatus();
    ASSERT_NE(nullptr, dialog);
    HWND anim = GetDlgItem(dialog, 102);
    StatusWatch watch;
    ASSERT_EQ(1, FakeStatusOpen("Second step", "Kiv status test 2"));
    EXPECT_EQ(dialog, FindStatus("Kiv status test 2")) << "the same window";
    EXPECT_EQ("Second step", WindowText(GetDlgItem(dialog, 1000)));
    EXPECT_TRUE(watch.AnimateMessages().empty()) << "the clip is left playing, untouched";
    EXPECT_EQ(0, watch.Count("SetTimer"));
    EXPECT_EQ(3, watch.Count("MoveWindow")) << "laid out again for the new text";
    EXPECT_TRUE(IsWindowVisible(dialog));
    std::vector<COLORREF> before = WaitForPicture(anim, IsPicture);
    std::vector<COLORREF> after =
        WaitForPicture(anim, [&](const std::vector<COLORREF> &now) { return now != before; });
    EXPECT_NE(before, after) << "the clip still moves";
    FakeStatusClose();
    PumpMessages(50);
    EXPECT_FALSE(IsWindow(dialog));
}

// An uninstaller runs its step right after the open and dispatches nothing:
// the text and the clip are on the screen all the same.
TEST_F(StatusWindowTest, OpenPaintsTextAndClipWithoutTheHostDispatching)
{
    ASSERT_EQ(1, FakeStatusOpen("Uninstalling the render service, please wait...", TITLE));
    HWND dialog = FindStatus();
    ASSERT_NE(nullptr, dialog);
    EXPECT_GT(DistinctColours(Snapshot(GetDlgItem(dialog, 1000))), 1u) << "the text is drawn";
    EXPECT_TRUE(IsPicture(Snapshot(GetDlgItem(dialog, 102)))) << "the clip's frame is drawn";
}

TEST_F(StatusWindowTest, CloseWithNoWindowDoesNothing)
{
    StatusWatch watch;
    EXPECT_EQ(1, FakeStatusClose());
    EXPECT_EQ(1, FakeStatusClose());
    EXPECT_TRUE(watch.Calls().empty());
}

TEST_F(StatusWindowTest, CloseStopsTheClipAndTheWindowGoesAtTheNextDispatch)
{
    ASSERT_EQ(1, FakeStatusOpen("Closing", TITLE));
    HWND dialog = FindStatus();
    StatusWatch watch;
    EXPECT_EQ(1, FakeStatusClose());
    std::vector<std::string> expected = {"ACM_STOP", "ACM_OPEN close"};
    EXPECT_EQ(expected, Describe(watch.AnimateMessages()));
    EXPECT_TRUE(IsWindow(dialog)) << "the close is posted, not sent";
    PumpMessages(50);
    EXPECT_FALSE(IsWindow(dialog));
    // WM_CLOSE and then WM_DESTROY each kill the start-up timer.
    for (const StatusCall &c : watch.Calls("KillTimer"))
        EXPECT_EQ(STARTUP_TIMER, c.timer);
    EXPECT_EQ(2, watch.Count("KillTimer"));
    // Closed: the handles are gone, so a close finds nothing to stop.
    watch.Clear();
    EXPECT_EQ(1, FakeStatusClose());
    EXPECT_TRUE(watch.Calls().empty());
}

TEST_F(StatusWindowTest, OpenCloseOpenWithoutDispatchingKeepsOneWindowWithoutAnimation)
{
    ASSERT_EQ(1, FakeStatusOpen("Step 1", TITLE));
    HWND dialog = FindStatus();
    ASSERT_NE(nullptr, dialog);
    StatusWatch watch;
    for (int step = 2; step <= 4; step++) {
        SCOPED_TRACE(step);
        EXPECT_EQ(1, FakeStatusClose());
        std::string text = "Step " + std::to_string(step);
        EXPECT_EQ(1, FakeStatusOpen(text.c_str(), TITLE));
        EXPECT_EQ(text, WindowText(GetDlgItem(dialog, 1000)));
        EXPECT_TRUE(IsWindowVisible(dialog));
    }
    // Only the stops and closes: the reused window gets no clip again.
    for (const StatusCall &c : watch.AnimateMessages())
        EXPECT_TRUE(c.msg == ACM_STOP || (c.msg == ACM_OPENA && c.lParam == 0)) << Describe({c})[0];
    EXPECT_EQ(0, watch.Count("SetTimer"));
    // No dispatching here, or the posted close would end the window.
    HWND anim = GetDlgItem(dialog, 102);
    std::vector<COLORREF> before = Snapshot(anim);
    Sleep(600);
    EXPECT_EQ(before, Snapshot(anim)) << "nothing plays in the reused window";
    // The first posted close removes it; the later ones find no window.
    EXPECT_EQ(1, FakeStatusClose());
    PumpMessages(50);
    EXPECT_FALSE(IsWindow(dialog));
    watch.Clear();
    EXPECT_EQ(1, FakeStatusClose());
    EXPECT_TRUE(watch.AnimateMessages().empty());
}

TEST_F(StatusWindowTest, SwitchWhileClosingPlaysInTheWindowAboutToClose)
{
    ASSERT_EQ(1, FakeStatusOpen("Closing soon", TITLE));
    HWND dialog = FindStatus();
    HWND anim = GetDlgItem(dialog, 102);
    EXPECT_EQ(1, FakeStatusClose());
    StatusWatch watch;
    EXPECT_EQ(1, FakeStatusSetAvi(":SEARCH"));
    std::vector<std::string> expected = {"ACM_STOP", "ACM_OPEN close", "ACM_OPEN #109", "ACM_PLAY ffffffff ffffffff"};
    EXPECT_EQ(expected, Describe(watch.AnimateMessages()));
    for (const StatusCall &c : watch.AnimateMessages())
        EXPECT_EQ(anim, c.hwnd);
    PumpMessages(50);
    EXPECT_FALSE(IsWindow(dialog)) << "the pending close still ends the window";
}

TEST_F(StatusWindowTest, StartupTimerFiresOnceThenIsKilled)
{
    StatusWatch watch;
    DWORD opened = GetTickCount();
    ASSERT_EQ(1, FakeStatusOpen("Timer", TITLE));
    HWND dialog = FindStatus();
    std::vector<StatusCall> armed = watch.Calls("SetTimer");
    ASSERT_EQ(1u, armed.size());
    EXPECT_EQ(dialog, armed[0].hwnd);
    EXPECT_EQ(STARTUP_TIMER, armed[0].timer);
    EXPECT_EQ(1000u, armed[0].msg);
    EXPECT_EQ(0, armed[0].lParam) << "no timer procedure: WM_TIMER reaches the dialog";
    EXPECT_EQ(0, watch.Count("KillTimer"));

    PumpUntil([&] { return watch.Count("KillTimer") != 0; });
    EXPECT_GE(GetTickCount() - opened, 950u) << "not before its second is up";
    ASSERT_EQ(1, watch.Count("KillTimer"));
    EXPECT_EQ(STARTUP_TIMER, watch.Calls("KillTimer")[0].timer);
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog));
    PumpMessages(1200);
    EXPECT_EQ(1, watch.Count("KillTimer")) << "fired once";
}

TEST_F(StatusWindowTest, WindowThatCannotBeCreatedFailsAndTheNextOpenRetries)
{
    // From the template, and, for a language read right to left, from its
    // mirrored copy.
    const struct {
        WORD language;
        const char *creation;
    } rows[] = {{LANG_ENGLISH, "CreateDialogParamA"}, {LANG_HEBREW, "CreateDialogIndirectParamA"}};
    const LCID before = GetThreadLocale();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.creation);
        ASSERT_TRUE(SetThreadLocale(MAKELCID(MAKELANGID(row.language, SUBLANG_DEFAULT), SORT_DEFAULT)));
        {
            StatusWatch watch;
            FailingImport refuse(KivModule(), NULL, row.creation, 20, 0, ERROR_RESOURCE_TYPE_NOT_FOUND);
            ASSERT_TRUE(refuse.installed());
            EXPECT_EQ(0, FakeStatusOpen("No window", TITLE));
            EXPECT_EQ(1, refuse.calls());
            std::vector<std::string> lines = watch.Lines();
            EXPECT_TRUE(Contains(lines, "Animate_Open resource failed.\n"));
            EXPECT_TRUE(Contains(lines, "Animate_Play failed.\n"));
            EXPECT_EQ(0, watch.Count("SetTimer")) << "no window to own the start-up timer";
            EXPECT_EQ(nullptr, FindStatus());
            // Still Closed.
            watch.Clear();
            EXPECT_EQ(1, FakeStatusClose());
            EXPECT_TRUE(watch.AnimateMessages().empty());
        }
        EXPECT_EQ(1, FakeStatusOpen("Window at last", TITLE));
        SetThreadLocale(before);
        EXPECT_NE(nullptr, FindStatus());
        TearDown();
    }
}

TEST_F(StatusWindowTest, RefusedAnimationMessagesAreReportedAndDoNotStopTheSequence)
{
    struct Row {
        UINT msg;
        const char *line;
    };
    static const Row rows[] = {
        {ACM_OPENA, "Animate_Open resource failed.\n"},
        {ACM_PLAY, "Animate_Play failed.\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        StatusWatch watch;
        watch.FailMessage(row.msg);
        EXPECT_EQ(0, FakeStatusOpen("Refused", TITLE));
        EXPECT_TRUE(Contains(watch.Lines(), row.line));
        EXPECT_EQ(2u, watch.AnimateMessages().size()) << "open and play are both sent";
        EXPECT_TRUE(IsWindowVisible(FindStatus()));
        TearDown();
    }

    // A refused stop fails the switch and the close, which still go on.
    ASSERT_EQ(1, FakeStatusOpen("Stop refused", TITLE));
    HWND dialog = FindStatus();
    StatusWatch watch;
    watch.FailMessage(ACM_STOP);
    EXPECT_EQ(0, FakeStatusSetAvi(":FILECOPY"));
    EXPECT_TRUE(Contains(watch.Lines(), "Animate_Stop failed.\n"));
    EXPECT_EQ("ACM_OPEN #102", Describe(watch.AnimateMessages()).at(2));
    watch.Clear();
    EXPECT_EQ(0, FakeStatusClose());
    EXPECT_EQ(std::vector<std::string>{"Animate_Stop failed.\n"}, watch.Lines());
    PumpMessages(50);
    EXPECT_FALSE(IsWindow(dialog));
}

// ---- threads: a worker that never dispatches, a host that draws --------

const wchar_t HEBREW_TITLE[] = L"\x05D4\x05EA\x05E7\x05E0\x05EA Kiv status test";
const wchar_t HEBREW_TEXT[] = L"\x05DE\x05E2\x05EA\x05D9\x05E7 \x05E7\x05D1\x05E6\x05D9\x05DD, "
                              L"\x05E0\x05D0 \x05DC\x05D4\x05DE\x05EA\x05D9\x05DF...";
const wchar_t WIZARD_TEXT[] = L"\x0627\x062E\x062A\x0631 \x05D1\x05D7\x05E8 12 (C:\\Kivelstrand)";

// Set by the host's thread while it draws right-to-left text; read by the
// library's paints on the worker.
volatile LONG HostDrawing = 0;
volatile LONG PaintsWhileHostDrew = 0;
volatile LONG WorkerPaints = 0;
DWORD WorkerThread = 0;

BOOL WINAPI RecordingRedrawWindow(HWND window, const RECT *rect, HRGN region, UINT flags)
{
    if ((flags & RDW_UPDATENOW) && GetCurrentThreadId() == WorkerThread) {
        InterlockedIncrement(&WorkerPaints);
        if (HostDrawing)
            InterlockedIncrement(&PaintsWhileHostDrew);
    }
    BOOL painted = RedrawWindow(window, rect, region, flags);
    // Drawing that started during the paint counts as much as drawing
    // before it.
    if ((flags & RDW_UPDATENOW) && GetCurrentThreadId() == WorkerThread && HostDrawing)
        InterlockedIncrement(&PaintsWhileHostDrew);
    return painted;
}

// An installer's section: opens the window in steps, each with its text,
// then waits for `release` without dispatching, and ends.
struct Section {
    HANDLE opened;
    HANDLE release;
    int results;
    bool dispatchesAtEnd; // as the engines' macros do after each call
};

DWORD WINAPI RunSection(void *parameter)
{
    Section *section = (Section *)parameter;
    WorkerThread = GetCurrentThreadId();
    section->results = 0;
    for (int step = 0; step < 3; step++)
        section->results += FakeStatusOpenW(step % 2 ? HEBREW_TITLE : HEBREW_TEXT, HEBREW_TITLE);
    SetEvent(section->opened);
    WaitForSingleObject(section->release, 10000);
    if (section->dispatchesAtEnd)
        PumpMessages(20);
    return 0;
}

// A section on a thread of its own.
struct SectionRun {
    Section section;
    HANDLE thread;
};

void StartSection(SectionRun *run, bool dispatchesAtEnd)
{
    run->section = {CreateEventW(NULL, TRUE, FALSE, NULL), CreateEventW(NULL, TRUE, FALSE, NULL), 0, dispatchesAtEnd};
    run->thread = CreateThread(NULL, 0, RunSection, &run->section, 0, NULL);
}

// Starts a section and waits, without dispatching, for its opens; the
// window they made, or NULL.
HWND OpenInSection(SectionRun *run, bool dispatchesAtEnd)
{
    StartSection(run, dispatchesAtEnd);
    if (WaitForSingleObject(run->section.opened, 20000) != WAIT_OBJECT_0)
        return NULL;
    return FindWindowW(L"#32770", HEBREW_TITLE);
}

// Lets the section go on and waits for its thread to end; true when it did.
bool EndSection(SectionRun *run)
{
    SetEvent(run->section.release);
    bool ended = WaitForSingleObject(run->thread, 10000) == WAIT_OBJECT_0;
    CloseHandle(run->thread);
    CloseHandle(run->section.release);
    CloseHandle(run->section.opened);
    return ended;
}

// The host's wizard: a visible window of the test's thread that draws
// right-to-left text in its own font and the dialog font.
HWND MakeWizard()
{
    HWND wizard = CreateWindowExW(0, L"Static", WIZARD_TEXT, WS_OVERLAPPEDWINDOW | WS_VISIBLE | SS_RIGHT, 0, 0, 420,
                                  120, NULL, NULL, NULL, NULL);
    PumpMessages(20);
    return wizard;
}

void DrawWizard(HWND wizard, int line)
{
    HDC dc = GetDC(wizard);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(line % 2 ? DEFAULT_GUI_FONT : SYSTEM_FONT));
    RECT rect = {0, 0, 400, 40};
    InterlockedExchange(&HostDrawing, 1);
    DrawTextW(dc, WIZARD_TEXT, -1, &rect, DT_RTLREADING | DT_RIGHT | DT_SINGLELINE);
    ExtTextOutW(dc, 0, 40, ETO_RTLREADING, NULL, WIZARD_TEXT, (UINT)wcslen(WIZARD_TEXT), NULL);
    InterlockedExchange(&HostDrawing, 0);
    SelectObject(dc, previous);
    ReleaseDC(wizard, dc);
}

// Draws and dispatches, as a wizard does, until the handle is signalled.
bool DrawUntil(HWND wizard, HANDLE handle, DWORD boundMs = 10000)
{
    DWORD start = GetTickCount();
    for (int line = 0; WaitForSingleObject(handle, 0) != WAIT_OBJECT_0; line++) {
        if (GetTickCount() - start > boundMs)
            return false;
        DrawWizard(wizard, line);
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    return true;
}

// Handles open in the process, counted by probing their values: the
// system's count is missing under Wine.
DWORD CountHandles()
{
    DWORD count = 0, flags = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
        if (GetHandleInformation((HANDLE)value, &flags))
            count++;
    return count;
}

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
        ++*(int *)count;
    return TRUE;
}

int CountProcessWindows()
{
    int count = 0;
    EnumWindows(CountOwnWindow, (LPARAM)&count);
    return count;
}

// The first paint of a window opened on a thread that dispatches nothing is
// made while the host's drawing thread waits, and so is a later one when the
// thread dispatches: two threads shaping right-to-left text at once can
// corrupt the heap (Wine shares one shaping cache per font between threads),
// and the window must not stay blank.
TEST_F(StatusWindowTest, FirstPaintOnAWorkerIsMadeWhileTheDrawingHostWaits)
{
    HWND wizard = MakeWizard();
    ImportHook redraw(KivModule(), "USER32.dll", "RedrawWindow", (void *)RecordingRedrawWindow);
    ASSERT_TRUE(redraw.installed());
    PaintsWhileHostDrew = 0;
    WorkerPaints = 0;
    for (int round = 0; round < 5; round++) {
        SCOPED_TRACE(round);
        SectionRun run;
        StartSection(&run, true);
        ASSERT_TRUE(DrawUntil(wizard, run.section.opened)) << "the worker's opens returned";
        EXPECT_EQ(3, run.section.results);
        HWND dialog = FindWindowW(L"#32770", HEBREW_TITLE);
        ASSERT_NE(nullptr, dialog);
        EXPECT_GT(DistinctColours(Snapshot(GetDlgItem(dialog, 1000))), 1u) << "the text is drawn";
        // Uncovered, the window is painted when the worker dispatches: that
        // paint too waits for the host.
        LONG before = WorkerPaints;
        RedrawWindow(dialog, NULL, NULL, RDW_INVALIDATE | RDW_ALLCHILDREN);
        SetEvent(run.section.release);
        EXPECT_TRUE(DrawUntil(wizard, run.thread));
        EXPECT_GT(WorkerPaints, before) << "the dispatched paint went through the host";
        EXPECT_TRUE(EndSection(&run));
    }
    EXPECT_GE(WorkerPaints, 20) << "each open paints at once, and each dispatch";
    EXPECT_EQ(0, PaintsWhileHostDrew) << "no paint while the host drew";
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, NULL));
    DestroyWindow(wizard);
}

// A host thread that does not answer (busy, or waiting itself) does not hold
// the worker for long, and the window is still painted.
TEST_F(StatusWindowTest, HostThatDoesNotAnswerGetsTheWindowPaintedAllTheSame)
{
    HWND wizard = MakeWizard();
    DWORD started = GetTickCount();
    SectionRun run;
    HWND dialog = OpenInSection(&run, false);
    DWORD took = GetTickCount() - started;
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(3, run.section.results);
    EXPECT_LT(took, 12000u) << "each open waits at most 2 s for the host";
    EXPECT_GT(DistinctColours(Snapshot(GetDlgItem(dialog, 1000))), 1u) << "the text is drawn";
    EXPECT_TRUE(EndSection(&run));
    DestroyWindow(wizard);
}

// FakeStatusClose from another thread than the window's returns at once: a
// message sent to the clip would wait for the window's thread to dispatch.
// The window goes when its thread dispatches, and nothing is left behind.
TEST_F(StatusWindowTest, CloseFromAnotherThreadReturnsAtOnceAndLeavesNothing)
{
    int windowsBefore = CountProcessWindows();
    DWORD handlesBefore = CountHandles();
    DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    for (int round = 0; round < 10; round++) {
        SCOPED_TRACE(round);
        SectionRun run;
        HWND dialog = OpenInSection(&run, true);
        ASSERT_NE(nullptr, dialog);
        DWORD started = GetTickCount();
        EXPECT_EQ(1, FakeStatusClose());
        EXPECT_LT(GetTickCount() - started, 500u) << "the close does not wait for the window's thread";
        EXPECT_TRUE(IsWindow(dialog)) << "the window goes when its thread dispatches, not before";
        EXPECT_TRUE(EndSection(&run));
        EXPECT_FALSE(IsWindow(dialog));
    }
    EXPECT_EQ(windowsBefore, CountProcessWindows());
    EXPECT_EQ(handlesBefore, CountHandles());
    EXPECT_EQ(gdiBefore, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    EXPECT_EQ(userBefore, GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
}

// A thread that ends with the window still open takes the window with it;
// the library then forgets it, and the next open makes a new window.
TEST_F(StatusWindowTest, WindowGoneWithItsThreadIsForgottenAndTheNextOpenMakesANewOne)
{
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        SectionRun run;
        HWND dialog = OpenInSection(&run, false);
        ASSERT_NE(nullptr, dialog) << "a new window each round";
        if (round == 1) {
            EXPECT_EQ(1, FakeStatusClose()) << "closed from here, the close never dispatched";
        }
        EXPECT_TRUE(EndSection(&run));
        EXPECT_FALSE(IsWindow(dialog));
    }
    EXPECT_EQ(1, FakeStatusClose()) << "nothing left to close";
    ASSERT_EQ(1, FakeStatusOpen("After the worker", TITLE));
    EXPECT_TRUE(IsWindowVisible(FindStatus()));
}

} // namespace
