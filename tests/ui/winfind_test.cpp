// GetWindowByTitle against window trees of the test's own: which window a
// lookup returns, and which windows it reads (GetWindowTextA intercepted in
// the DLL, counted and passed on).
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "import_hook.h"
#include "kiv_inst.h"
#include "process.h"

namespace {

const char WINDOW_CLASS[] = "KivWinfindTestWindow";

// A prefix no other window on the desktop carries, so that lookups without a
// parent find only what the test made.
std::string Unique(const std::string &text)
{
    static int serial = 0;
    char prefix[64];
    snprintf(prefix, sizeof(prefix), "kivfind-%lu-%d ", GetCurrentProcessId(), ++serial);
    return prefix + text;
}

// The windows one test makes; all destroyed when it ends, children first.
class Windows {
public:
    Windows()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = WINDOW_CLASS;
        RegisterClassA(&wc); // fails harmlessly when an earlier test registered it
    }
    ~Windows()
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            DestroyWindow(*it);
    }
    // Hidden windows: enumeration and text reads do not care about visibility.
    HWND TopLevel(const std::string &text) { return Make(NULL, WS_OVERLAPPEDWINDOW, text); }
    HWND Child(HWND parent, const std::string &text) { return Make(parent, WS_CHILD, text); }

private:
    HWND Make(HWND parent, DWORD style, const std::string &text)
    {
        HWND w = CreateWindowExA(0, WINDOW_CLASS, text.c_str(), style, 0, 0, 50, 20, parent, NULL,
                                 GetModuleHandleA(NULL), NULL);
        EXPECT_NE(nullptr, w) << "creating the window \"" << text << "\"";
        made_.push_back(w);
        return w;
    }
    std::vector<HWND> made_;
};

// Every GetWindowTextA call the DLL makes while the recorder lives.
struct TextRead {
    HWND window;
    int bufferSize;
};
std::vector<TextRead> g_reads;
void *g_realGetWindowText = nullptr;

int WINAPI RecordingGetWindowTextA(HWND window, LPSTR text, int size)
{
    g_reads.push_back({window, size});
    typedef int(WINAPI * Real)(HWND, LPSTR, int);
    return ((Real)g_realGetWindowText)(window, text, size);
}

class ReadRecorder {
public:
    ReadRecorder() : hook_(KivModule(), "user32.dll", "GetWindowTextA", (void *)RecordingGetWindowTextA)
    {
        g_realGetWindowText = hook_.original();
        g_reads.clear();
    }
    bool installed() const { return hook_.installed(); }
    std::vector<HWND> windows() const
    {
        std::vector<HWND> out;
        for (const TextRead &r : g_reads)
            out.push_back(r.window);
        return out;
    }

private:
    ImportHook hook_;
};

// The platform's own depth-first, pre-order walk below a window, built from
// the window links rather than from any enumeration the DLL uses.
void PreOrder(HWND parent, std::vector<HWND> *out)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        out->push_back(child);
        PreOrder(child, out);
    }
}

std::vector<HWND> PreOrderBelow(HWND parent)
{
    std::vector<HWND> out;
    PreOrder(parent, &out);
    return out;
}

// The walk up to and including `last`.
std::vector<HWND> WalkUpTo(const std::vector<HWND> &walk, HWND last)
{
    auto it = std::find(walk.begin(), walk.end(), last);
    return std::vector<HWND>(walk.begin(), it == walk.end() ? it : it + 1);
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM list)
{
    ((std::vector<HWND> *)list)->push_back(window);
    return TRUE;
}

// Where each of the given top-level windows stands in EnumWindows' order.
size_t TopLevelRank(HWND window)
{
    std::vector<HWND> all;
    EnumWindows(CollectTopLevel, (LPARAM)&all);
    return (size_t)(std::find(all.begin(), all.end(), window) - all.begin());
}

class WindowLookupTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, KivModule()); }
    Windows windows;
};

// Without a parent, the controls of a top-level window are searched before
// the next top-level window: a control of the earlier window wins over a
// later top-level window with the same text, at any depth below it.
TEST_F(WindowLookupTest, ControlOfEarlierTopLevelWindowBeatsLaterTopLevelWindow)
{
    const std::string title = Unique("Setup");
    for (int depth = 1; depth <= 3; depth++) {
        SCOPED_TRACE(depth);
        Windows local;
        HWND a = local.TopLevel(Unique("first"));
        HWND b = local.TopLevel(Unique("second"));
        HWND earlier = TopLevelRank(a) < TopLevelRank(b) ? a : b;
        HWND later = earlier == a ? b : a;
        HWND control = earlier;
        for (int level = 1; level < depth; level++)
            control = local.Child(control, Unique("box"));
        control = local.Child(control, title);
        SetWindowTextA(later, title.c_str());

        EXPECT_EQ(control, GetWindowByTitle(NULL, title.c_str())) << "expected the control, not the later window";
    }
}

TEST_F(WindowLookupTest, TopLevelWindowItselfMatchesWithoutParent)
{
    const std::string title = Unique("Kivelstrand Setup");
    HWND top = windows.TopLevel(title);
    windows.Child(top, title);
    EXPECT_EQ(top, GetWindowByTitle(NULL, title.c_str())) << "a window comes before the windows below it";
}

// Each window is read at most once, whatever the walk crosses on the desktop.
TEST_F(WindowLookupTest, WithoutParentNoWindowIsReadTwice)
{
    HWND top = windows.TopLevel(Unique("top"));
    HWND w = top;
    for (int level = 0; level < 10; level++)
        w = windows.Child(w, Unique("level"));
    ReadRecorder reads;
    ASSERT_TRUE(reads.installed());
    EXPECT_EQ(nullptr, GetWindowByTitle(NULL, Unique("nowhere").c_str()));
    std::vector<HWND> read = reads.windows();
    std::set<HWND> distinct(read.begin(), read.end());
    EXPECT_EQ(distinct.size(), read.size()) << "some window was read more than once";
    for (HWND mine : PreOrderBelow(top))
        EXPECT_EQ(1u, (size_t)std::count(read.begin(), read.end(), mine)) << "every window below is read";
    EXPECT_EQ(1u, (size_t)std::count(read.begin(), read.end(), top));
}

// Below a parent, any depth can match and the parent's own text never counts.
TEST_F(WindowLookupTest, WithParentAnyDepthMatchesButNeverTheParent)
{
    const std::string title = Unique("Next");
    for (int depth = 1; depth <= 6; depth++) {
        SCOPED_TRACE(depth);
        Windows local;
        HWND parent = local.TopLevel(title);
        HWND w = parent;
        for (int level = 1; level < depth; level++)
            w = local.Child(w, "Back");
        HWND match = local.Child(w, title);
        ReadRecorder reads;
        EXPECT_EQ(match, GetWindowByTitle(parent, title.c_str()));
        std::vector<HWND> read = reads.windows();
        EXPECT_EQ(std::find(read.begin(), read.end(), parent), read.end()) << "the parent was read";
        EXPECT_EQ((size_t)depth, read.size()) << "one read per window down to the match";
    }
}

TEST_F(WindowLookupTest, ParentWithTheTitleAndNothingBelowIsNotFound)
{
    const std::string title = Unique("Cancel");
    HWND parent = windows.TopLevel(title);
    HWND box = windows.Child(parent, "Back");
    windows.Child(box, "Next");
    EXPECT_EQ(nullptr, GetWindowByTitle(parent, title.c_str()));
    EXPECT_EQ(nullptr, GetWindowByTitle(box, "Back")) << "a child parent is not compared either";
}

// The tree where order matters: a match deep in an earlier branch, a shallow
// one in a later branch, several windows with the same text, and non-matching
// subtrees before them that a search must not walk twice.
TEST_F(WindowLookupTest, FirstMatchOfPreOrderWalkEachWindowReadOnce)
{
    const char *T = "Install";
    HWND root = windows.TopLevel("root");
    HWND a = windows.Child(root, "a");              // a subtree without the title
    HWND a1 = windows.Child(a, "a1");
    HWND a11 = windows.Child(a1, "a11");
    windows.Child(a11, "a111");
    windows.Child(a1, "a12");
    windows.Child(a, "a2");
    HWND b = windows.Child(root, "b");              // the earlier branch with a deep match
    HWND b1 = windows.Child(b, "b1");
    HWND b11 = windows.Child(b1, "b11");
    HWND deep = windows.Child(b11, T);               // depth 4
    windows.Child(deep, T);                          // below the match: not reached
    windows.Child(b1, T);                            // later sibling at depth 3
    HWND shallow = windows.Child(root, T);          // depth 1, later branch
    windows.Child(shallow, T);

    std::vector<HWND> walk = PreOrderBelow(root);
    ASSERT_EQ(14u, walk.size());
    ASSERT_EQ(a, walk[0]) << "children are walked in creation order";
    ASSERT_EQ(b, walk[6]);

    ReadRecorder reads;
    ASSERT_TRUE(reads.installed());
    EXPECT_EQ(deep, GetWindowByTitle(root, T)) << "expected the deep window of the earlier branch";
    EXPECT_EQ(WalkUpTo(walk, deep), reads.windows()) << "each window up to the match read once, in walk order";
    EXPECT_EQ(10u, g_reads.size());
    for (const TextRead &r : g_reads)
        EXPECT_EQ(1024, r.bufferSize);

    // Below the earlier branch's top the same holds; below the later branch
    // only the windows under the shallow match remain.
    EXPECT_EQ(deep, GetWindowByTitle(b, T));
    EXPECT_EQ(GetWindow(shallow, GW_CHILD), GetWindowByTitle(shallow, T));
}

TEST_F(WindowLookupTest, NoMatchReadsEveryWindowBelowOnce)
{
    HWND root = windows.TopLevel("root");
    HWND w = root;
    for (int level = 0; level < 16; level++) { // a chain 16 windows deep...
        w = windows.Child(w, "link");
        windows.Child(w, "leaf");              // ...with a leaf at every level
    }
    ReadRecorder reads;
    EXPECT_EQ(nullptr, GetWindowByTitle(root, "absent"));
    EXPECT_EQ(PreOrderBelow(root), reads.windows());
    EXPECT_EQ(32u, g_reads.size());
}

TEST_F(WindowLookupTest, LetterCaseAndBlanksMatter)
{
    HWND parent = windows.TopLevel("parent");
    HWND target = windows.Child(parent, "Kivelstrand Setup");
    static const char *const misses[] = {
        "kivelstrand setup", "KIVELSTRAND SETUP", "Kivelstrand setup", "kivelstrand Setup",
        " Kivelstrand Setup", "Kivelstrand Setup ", "Kivelstrand  Setup", "Kivelstrand Setu",
        "Kivelstrand Setup!",
    };
    for (size_t row = 0; row < sizeof(misses) / sizeof(misses[0]); row++) {
        SCOPED_TRACE(row);
        EXPECT_EQ(nullptr, GetWindowByTitle(parent, misses[row])) << "\"" << misses[row] << "\" matched";
    }
    EXPECT_EQ(target, GetWindowByTitle(parent, "Kivelstrand Setup"));
}

// An empty title finds the first window without text, in walk order; the
// parent's own empty text does not count.
TEST_F(WindowLookupTest, EmptyTitleFindsFirstWindowWithoutText)
{
    HWND parent = windows.TopLevel("");
    HWND a = windows.Child(parent, "a");
    HWND a1 = windows.Child(a, "a1");
    HWND empty = windows.Child(a1, "");
    windows.Child(parent, "");
    EXPECT_EQ(empty, GetWindowByTitle(parent, ""));
}

TEST_F(WindowLookupTest, OnlyTheFirst1023CharactersTakePart)
{
    const std::string text1024 = std::string(1023, 'k') + "x";
    const std::string text1500 = std::string(1023, 'q') + std::string(477, 'r');
    const std::string text1023(1023, 'm');
    HWND parent = windows.TopLevel("parent");
    HWND w1024 = windows.Child(parent, text1024);
    HWND w1500 = windows.Child(parent, text1500);
    HWND w1023 = windows.Child(parent, text1023);
    char check[2048] = {0};
    ASSERT_EQ(1500, (int)SendMessageA(w1500, WM_GETTEXT, sizeof(check), (LPARAM)check))
        << "the window keeps its whole text";

    struct Row {
        std::string title;
        HWND expected;
    };
    const Row rows[] = {
        {text1024, nullptr},               // 1024 characters never match, not even the window's own text
        {text1024.substr(0, 1023), w1024}, // a longer text matches on its first 1023
        {text1500.substr(0, 1023), w1500},
        {text1500.substr(0, 1024), nullptr},
        {text1500, nullptr},
        {text1023, w1023},                 // exactly 1023 characters
        {text1023.substr(0, 1022), nullptr},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++) {
        SCOPED_TRACE(row);
        EXPECT_EQ(rows[row].expected, GetWindowByTitle(parent, rows[row].title.c_str()));
    }
}

TEST_F(WindowLookupTest, NullTitleReturnsNullWithoutReadingAnyWindow)
{
    HWND parent = windows.TopLevel("parent");
    windows.Child(parent, "");
    ReadRecorder reads;
    EXPECT_EQ(nullptr, GetWindowByTitle(parent, nullptr));
    EXPECT_EQ(nullptr, GetWindowByTitle(NULL, nullptr));
    EXPECT_TRUE(g_reads.empty()) << g_reads.size() << " windows read";
}

TEST_F(WindowLookupTest, ParentWithoutChildrenOrGoneFindsNothing)
{
    HWND lonely = windows.TopLevel("lonely");
    EXPECT_EQ(nullptr, GetWindowByTitle(lonely, "lonely"));
    HWND gone;
    {
        Windows local;
        gone = local.TopLevel("gone");
        local.Child(gone, "child");
    }
    ASSERT_FALSE(IsWindow(gone));
    EXPECT_EQ(nullptr, GetWindowByTitle(gone, "child"));
    EXPECT_EQ(nullptr, GetWindowByTitle((HWND)(ULONG_PTR)0xdead0, ""));
}

std::string Hex(const char *format, HWND window)
{
    char text[32];
    snprintf(text, sizeof(text), format, (unsigned long)(ULONG_PTR)window);
    return text;
}

// The host program prints the handle found as eight hex digits, zeros for none.
TEST_F(WindowLookupTest, HostPrintsTheHandleInHex)
{
    const std::string title = Unique("Hosted");
    HWND parent = windows.TopLevel(Unique("frame"));
    HWND box = windows.Child(parent, "box");
    HWND match = windows.Child(box, title);
    const std::string parentHex = Hex("%lx", parent);
    const std::string found = "GetWindowByTitle -> ";

    struct Row {
        std::string args;
        std::string expected;
    };
    const Row rows[] = {
        {parentHex + " \"" + title + "\"", found + Hex("0x%08lx", match)},
        {"0 \"" + title + "\"", found + Hex("0x%08lx", match)},
        {"0x" + parentHex + " box", found + Hex("0x%08lx", box)},
        {parentHex + " \"" + Unique("absent") + "\"", found + "0x00000000"},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++) {
        SCOPED_TRACE(row);
        ChildRun run = RunProcess("\"" + BinPath("kivhost.exe") + "\" GetWindowByTitle " + rows[row].args);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode) << run.output;
        std::string output = run.output;
        output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
        EXPECT_NE(std::string::npos, output.find(rows[row].expected + "\n")) << run.output;
    }
}

} // namespace
