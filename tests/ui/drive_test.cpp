// The drive chooser driven as a user drives it: the real modal dialog, read
// and pressed by a helper thread, over a table of drives.
#include <gtest/gtest.h>

#include <objbase.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>

#include "capture.h"
#include "dialog_driver.h"
#include "drive_fakes.h"
#include "import_hook.h"
#include "kiv_inst.h"
#include "process.h"
#include "resource.h"

namespace {

const char FREE_SPACE_REPORT[] = "Getting drive free space";

// One fixed drive with plenty of room.
std::vector<FakeDrive> OneDrive(ULONGLONG bytes = 1000 * MB, bool readable = true)
{
    return {{"C:\\", DRIVE_FIXED, readable, bytes}};
}

int CountLines(const std::string &prefix)
{
    int n = 0;
    for (const std::string &line : journal::DebugLines())
        if (line.compare(0, prefix.size(), prefix) == 0)
            n++;
    return n;
}

bool BufferUntouched(const DriveRun &run)
{
    for (char c : run.buffer)
        if (c != BUFFER_FILL)
            return false;
    return true;
}

class DriveChooser : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, KivModule());
        journal::Clear();
    }
    DebugCapture debug_;
};

TEST_F(DriveChooser, EachWayOutEndsWithItsResult)
{
    struct Row {
        const char *how;
        DriveAction action;
        int result;
    } rows[] = {
        {"Next clicked", Click(IDC_DRIVE_NEXT), 1},
        {"Back clicked", Click(IDC_DRIVE_BACK), 2},
        {"Cancel clicked", Click(IDC_DRIVE_CANCEL), 3},
        {"Escape key", PressEscape(), 3},
        {"command IDCANCEL", Command(IDCANCEL), 3},
        {"command 16", Command(16), 3},
    };
    FakeDrives drives(OneDrive());
    ASSERT_TRUE(drives.installed());
    for (const Row &row : rows) {
        SCOPED_TRACE(row.how);
        journal::Clear();
        DriveRun run = RunAskDrive(500, "Setup", "Choose", row.action);
        ASSERT_TRUE(run.view.shown);
        EXPECT_FALSE(run.view.stillOpenAfterAction) << "the action should have ended the dialog";
        EXPECT_EQ(row.result, run.result);
        if (row.result == 1) {
            // The letter, the colon and a NUL; nothing beyond the third byte.
            EXPECT_EQ(0, memcmp(run.buffer, "C:\0", 3));
            for (size_t i = 3; i < sizeof(run.buffer); i++)
                EXPECT_EQ(BUFFER_FILL, run.buffer[i]) << "byte " << i;
            EXPECT_EQ(1, CountLines("Drive:C:\n"));
        } else {
            EXPECT_TRUE(BufferUntouched(run)) << "only Next hands a drive back";
            EXPECT_EQ(0, CountLines("Drive:"));
        }
    }
}

TEST_F(DriveChooser, ShowsTitleTextAndBothSpaces)
{
    FakeDrives drives(OneDrive(1234 * MB + 5));
    DriveRun run = RunAskDrive(500, "Kivelstrand Setup", "Where shall it go?", Click(IDC_DRIVE_CANCEL));
    ASSERT_TRUE(run.view.shown);
    EXPECT_TRUE(run.shownByHook);
    EXPECT_EQ("Kivelstrand Setup", run.view.caption);
    EXPECT_EQ("Where shall it go?", run.view.text);
    EXPECT_EQ("500 MB", run.view.required);
    EXPECT_EQ("1234 MB", run.view.free);
    EXPECT_TRUE(run.view.nextEnabled);
    EXPECT_EQ(0, run.view.selected) << "the first drive is selected";
}

std::wstring WideText(HWND window)
{
    wchar_t text[1024] = {0};
    GetWindowTextW(window, text, 1024);
    return text;
}

// The wide export: the caller's texts exactly, the chooser's own words in the
// language a program set for the thread (the thread locale, which is what
// Wine goes by), mirrored for right-to-left languages, English otherwise.
TEST_F(DriveChooser, WideShowsTextsExactlyInTheThreadsLanguage)
{
    FakeDrives drives(OneDrive());
    const std::wstring title = L"Kivelstrand \u0141\u00f3d\u017a \u6771\u4eac";
    const std::wstring prompt = L"Wybierz dysk \u2014 \u05d1\u05d7\u05e8 \u05db\u05d5\u05e0\u05df";
    struct Row {
        LANGID language;
        const wchar_t *next, *required;
        bool rightToLeft;
    } rows[] = {
        {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"&Weiter >", L"10 MB", false},
        {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN), L"&Suivant >", L"10 Mo", false}, // by its primary language
        {MAKELANGID(LANG_HEBREW, SUBLANG_DEFAULT), L"&\u05d4\u05d1\u05d0 >", L"10 MB", true},
        {MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_EGYPT), L"\u0627\u0644&\u062a\u0627\u0644\u064a >", L"10 MB", true},
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), L"&Next >", L"10 MB", false},
    };
    LCID before = GetThreadLocale();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.language);
        ASSERT_TRUE(SetThreadLocale(MAKELCID(row.language, SORT_DEFAULT)));
        std::wstring caption, text, next, required;
        LONG exStyle = 0;
        DriveRun run = RunAskDriveW(10, title.c_str(), prompt.c_str(), [&](HWND dialog, DriveView &) {
            caption = WideText(dialog);
            text = WideText(GetDlgItem(dialog, IDC_DRIVE_TEXT));
            next = WideText(GetDlgItem(dialog, IDC_DRIVE_NEXT));
            required = WideText(GetDlgItem(dialog, IDC_DRIVE_REQUIRED));
            exStyle = GetWindowLongW(dialog, GWL_EXSTYLE);
            ClickButton(dialog, IDC_DRIVE_NEXT);
        });
        SetThreadLocale(before);
        EXPECT_EQ(1, run.result);
        EXPECT_EQ(0, memcmp(run.buffer, L"C:", 3 * sizeof(wchar_t)));
        EXPECT_EQ(title, caption);
        EXPECT_EQ(prompt, text);
        EXPECT_EQ(row.next, next) << Utf8(next);
        EXPECT_EQ(row.required, required) << Utf8(required);
        EXPECT_EQ(row.rightToLeft, (exStyle & WS_EX_LAYOUTRTL) != 0);
    }
    EXPECT_EQ(5, CountLines("Drive:C:\n")) << "the trace names the drive once per Next, wide or not";
}

TEST_F(DriveChooser, EmptyOrMissingTitleAndTextStayEmpty)
{
    // The template's own caption must not survive an empty title.
    struct Row {
        const char *title;
        const char *text;
    } rows[] = {{"", ""}, {nullptr, nullptr}};
    FakeDrives drives(OneDrive());
    for (const Row &row : rows) {
        SCOPED_TRACE(row.title ? "empty" : "null");
        DriveRun run = RunAskDrive(1, row.title, row.text, Click(IDC_DRIVE_CANCEL));
        ASSERT_TRUE(run.view.shown);
        EXPECT_EQ("", run.view.caption);
        EXPECT_EQ("", run.view.text);
        EXPECT_EQ(3, run.result);
    }
}

TEST_F(DriveChooser, OverlongTitleAndTextAreCutTo1023Characters)
{
    std::string title(1500, 'T');
    std::string text(2000, 'e');
    title[1022] = 'L';
    text[1022] = 'L';
    FakeDrives drives(OneDrive());
    DriveRun run = RunAskDrive(1, title.c_str(), text.c_str(), Click(IDC_DRIVE_CANCEL));
    ASSERT_TRUE(run.view.shown);
    EXPECT_EQ(title.substr(0, 1023), run.view.caption);
    EXPECT_EQ(text.substr(0, 1023), run.view.text);

    // Wide: 1,023 characters too, but a pair the cut would split goes whole.
    std::wstring wideTitle(1500, L'T'), wideText(1500, L'e');
    wideTitle[1022] = 0xD83D; // a pair across the cut
    wideTitle[1023] = 0xDE00;
    wideText[1021] = 0xD83D; // a pair just inside it
    wideText[1022] = 0xDE00;
    std::wstring caption, prompt;
    run = RunAskDriveW(1, wideTitle.c_str(), wideText.c_str(), [&](HWND dialog, DriveView &) {
        caption = WideText(dialog);
        prompt = WideText(GetDlgItem(dialog, IDC_DRIVE_TEXT));
        ClickButton(dialog, IDC_DRIVE_CANCEL);
    });
    EXPECT_EQ(wideTitle.substr(0, 1022), caption);
    EXPECT_EQ(wideText.substr(0, 1023), prompt);
}

TEST_F(DriveChooser, NextFollowsFreeAgainstRequiredComparedUnsigned)
{
    struct Row {
        const char *why;
        DWORD required;
        ULONGLONG available;
        bool readable;
        const char *requiredText;
        const char *freeText;
        bool next;
    } rows[] = {
        {"equal", 500, 500 * MB, true, "500 MB", "500 MB", true},
        {"one byte short of the required MB", 500, 500 * MB - 1, true, "500 MB", "499 MB", false},
        {"1.5 MB shows as 1", 1, 1572864, true, "1 MB", "1 MB", true},
        {"nothing required, free space unreadable", 0, 0, false, "0 MB", "0 MB", true},
        {"something required, free space unreadable", 1, 0, false, "1 MB", "0 MB", false},
        {"largest requirement", 0xFFFFFFFFu, 1ull << 40, true, "-1 MB", "1048576 MB", false},
        {"requirement above 2^31 is not negative", 0x80000000u, 100 * MB, true, "-2147483648 MB",
         "100 MB", false},
        {"free space above 2^31 MB", 0x80000000u, 0x80000000ull * MB, true, "-2147483648 MB",
         "-2147483648 MB", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        FakeDrives drives(OneDrive(row.available, row.readable));
        DriveRun run = RunAskDrive(row.required, "Setup", "", Click(IDC_DRIVE_CANCEL));
        ASSERT_TRUE(run.view.shown);
        EXPECT_EQ(row.requiredText, run.view.required);
        EXPECT_EQ(row.freeText, run.view.free);
        EXPECT_EQ(row.next, run.view.nextEnabled);
    }
}

TEST_F(DriveChooser, ListsAllButNetworkRemovableAndCdDrivesSorted)
{
    FakeDrives drives({
        {"Q:\\", DRIVE_FIXED, true, 10 * MB},
        {"A:\\", DRIVE_REMOVABLE, true, 1 * MB},
        {"N:\\", DRIVE_REMOTE, true, 10 * MB},
        {"D:\\", DRIVE_CDROM, true, 0},
        {"R:\\", DRIVE_RAMDISK, true, 10 * MB},
        {"U:\\", DRIVE_UNKNOWN, true, 10 * MB},
        {"K:\\", DRIVE_NO_ROOT_DIR, true, 10 * MB},
        {"C:\\", DRIVE_FIXED, true, 10 * MB},
    });
    DriveRun run = RunAskDrive(1, "Setup", "", Click(IDC_DRIVE_CANCEL));
    ASSERT_TRUE(run.view.shown);
    std::vector<std::string> expected = {"C:\\", "K:\\", "Q:\\", "R:\\", "U:\\"};
    EXPECT_EQ(expected, run.view.items);
    // One trace line per listed drive, in the order the system gave them.
    std::vector<std::string> valid;
    for (const std::string &line : journal::DebugLines())
        if (line.compare(0, 6, "Valid:") == 0)
            valid.push_back(line);
    std::vector<std::string> expectedValid = {"Valid:Q:\\\n", "Valid:R:\\\n", "Valid:U:\\\n",
                                              "Valid:K:\\\n", "Valid:C:\\\n"};
    EXPECT_EQ(expectedValid, valid);
}

TEST_F(DriveChooser, FreeSpaceIsReadTwicePerUpdateAndFollowsTheSelection)
{
    FakeDrives drives({
        {"C:\\", DRIVE_FIXED, true, 800 * MB},
        {"E:\\", DRIVE_FIXED, false, 0},
    });
    DriveRun run = RunAskDrive(300, "Setup", "", SelectThenCancel(1));
    ASSERT_TRUE(run.view.shown);
    // After the change to E:, whose space cannot be read.
    EXPECT_EQ(1, run.view.selected);
    EXPECT_EQ("0 MB", run.view.free);
    EXPECT_FALSE(run.view.nextEnabled);
    std::vector<std::string> queries = FakeDrives::FreeSpaceQueries();
    ASSERT_EQ(4u, queries.size());
    EXPECT_EQ('C', queries[0][0]);
    EXPECT_EQ('C', queries[1][0]);
    EXPECT_EQ('E', queries[2][0]);
    EXPECT_EQ('E', queries[3][0]);
    // Each failed read is reported, without a box.
    EXPECT_EQ(2, CountLines(FREE_SPACE_REPORT));
}

TEST_F(DriveChooser, DoubleClickAndOkChangeNothing)
{
    FakeDrives drives(OneDrive());
    bool stillOpen = false;
    size_t queriesBefore = 0, queriesAfter = 0;
    DriveRun run = RunAskDrive(1, "Setup", "", [&](HWND dialog, DriveView &) {
        HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
        queriesBefore = FakeDrives::FreeSpaceQueries().size();
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DRIVE_LIST, LBN_DBLCLK), (LPARAM)list);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        queriesAfter = FakeDrives::FreeSpaceQueries().size();
        stillOpen = IsWindow(dialog) && IsWindowVisible(dialog);
        ClickButton(dialog, IDC_DRIVE_CANCEL);
    });
    ASSERT_TRUE(run.view.shown);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(2u, queriesBefore);
    EXPECT_EQ(queriesBefore, queriesAfter);
    EXPECT_EQ(3, run.result);
}

TEST_F(DriveChooser, NoListableDriveReturns4WithoutShowing)
{
    struct Row {
        const char *why;
        std::vector<FakeDrive> drives;
        DriveStrings strings;
        int listReports;
    } rows[] = {
        {"only removable, CD and network drives",
         {{"A:\\", DRIVE_REMOVABLE, true, MB}, {"D:\\", DRIVE_CDROM, true, 0},
          {"N:\\", DRIVE_REMOTE, true, MB}},
         DriveStrings::FromTable, 0},
        {"drive strings unavailable", OneDrive(), DriveStrings::Fail, 1},
        {"drive strings too long for the buffer", OneDrive(), DriveStrings::TooLong, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        journal::Clear();
        FakeDrives drives(row.drives, row.strings);
        DriveRun run = RunAskDrive(1, "Setup", "", Click(IDC_DRIVE_NEXT));
        EXPECT_EQ(4, run.result);
        EXPECT_FALSE(run.shownByHook);
        EXPECT_FALSE(run.view.shown);
        EXPECT_TRUE(BufferUntouched(run));
        EXPECT_EQ(row.listReports, CountLines("Getting drive list: "));
        EXPECT_EQ(0, CountLines("Screen "));
    }
}

// LB_ADDSTRING refusing every drive; all other messages pass.
void *g_realSendMessage = nullptr;
LRESULT WINAPI RefusingSendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == LB_ADDSTRING) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return LB_ERRSPACE;
    }
    return ((LRESULT(WINAPI *)(HWND, UINT, WPARAM, LPARAM))g_realSendMessage)(window, message, wParam,
                                                                              lParam);
}

TEST_F(DriveChooser, RefusedAddIsReportedAndTheDriveStillCounts)
{
    FakeDrives drives({{"C:\\", DRIVE_FIXED, true, MB}, {"E:\\", DRIVE_FIXED, true, MB}});
    ImportHook send(KivModule(), NULL, "SendMessageA", (void *)RefusingSendMessageA);
    ASSERT_TRUE(send.installed());
    g_realSendMessage = send.original();
    DriveRun run = RunAskDrive(1, "Setup", "", Click(IDC_DRIVE_CANCEL));
    EXPECT_TRUE(run.view.shown) << "counted drives keep the dialog up";
    EXPECT_TRUE(run.view.items.empty());
    EXPECT_EQ(2, CountLines("Adding drive to list: "));
    EXPECT_EQ(2, CountLines("Valid:"));
    EXPECT_EQ(3, run.result);
}

TEST_F(DriveChooser, CentredByClientAreaAndScreenTraced)
{
    FakeDrives drives(OneDrive());
    DriveRun run = RunAskDrive(1, "Setup", "", Click(IDC_DRIVE_CANCEL));
    ASSERT_TRUE(run.view.shown);
    int cx = GetSystemMetrics(SM_CXFULLSCREEN);
    int cy = GetSystemMetrics(SM_CYFULLSCREEN);
    int width = run.view.client.right - run.view.client.left;
    int height = run.view.client.bottom - run.view.client.top;
    EXPECT_EQ(cx / 2 - width / 2, run.view.window.left);
    EXPECT_EQ(cy / 2 - height / 2, run.view.window.top);
    char screen[64];
    snprintf(screen, sizeof(screen), "Screen %d %d\n", cx, cy);
    EXPECT_EQ(1, CountLines(screen));
}

BOOL WINAPI InSessionZero(DWORD processId, DWORD *session)
{
    (void)processId;
    *session = 0;
    return TRUE;
}

TEST_F(DriveChooser, MissingTemplateQuietRunOrSessionZeroReturnsMinusOne)
{
    // Detaching clears the module instance, so the template cannot be found;
    // a quiet run and a process in session 0, which nobody sees, show no
    // dialog that waits for a person.
    typedef BOOL(WINAPI * EntryPoint)(HINSTANCE, DWORD, LPVOID);
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    ASSERT_NE(nullptr, entry);
    FakeDrives drives(OneDrive());
    enum Case { NoTemplate, Quiet, SessionZero };
    for (Case c : {NoTemplate, Quiet, SessionZero}) {
        SCOPED_TRACE(c == NoTemplate ? "no template" : c == Quiet ? "KIV_INST_QUIET=1" : "session 0");
        journal::Clear();
        std::unique_ptr<ImportHook> session;
        if (c == Quiet)
            SetEnvironmentVariableA("KIV_INST_QUIET", "1");
        else if (c == NoTemplate)
            entry(KivModule(), DLL_PROCESS_DETACH, nullptr);
        else
            session.reset(new ImportHook(KivModule(), NULL, "ProcessIdToSessionId", (void *)InSessionZero));
        ASSERT_TRUE(session == nullptr || session->installed());
        DriveRun run = RunAskDrive(1, "Setup", "", Click(IDC_DRIVE_NEXT));
        if (c == Quiet)
            SetEnvironmentVariableA("KIV_INST_QUIET", NULL);
        else if (c == NoTemplate)
            entry(KivModule(), DLL_PROCESS_ATTACH, nullptr);
        session.reset();
        EXPECT_EQ(-1, run.result);
        EXPECT_FALSE(run.view.shown);
        EXPECT_FALSE(run.shownByHook);
        EXPECT_TRUE(BufferUntouched(run));
        // Counted by call, not by line: the helper thread's attach report may
        // land between the pieces of any line.
        int notShown = 0;
        for (const JournalEntry &e : journal::Of(Outlet::Debug))
            notShown += e.text == "No visible desktop or a quiet run: not shown.\n" ? 1 : 0;
        EXPECT_EQ(c == NoTemplate ? 0 : 1, notShown);
    }

    // A session that cannot be read leaves the decision to the station: the
    // dialog is shown.
    FailingImport unreadable(KivModule(), NULL, "ProcessIdToSessionId", 8, FALSE, ERROR_ACCESS_DENIED);
    ASSERT_TRUE(unreadable.installed());
    DriveRun run = RunAskDrive(1, "Setup", "", Click(IDC_DRIVE_NEXT));
    EXPECT_TRUE(run.view.shown);
    EXPECT_EQ(1, run.result);
    EXPECT_LT(0, unreadable.calls());
}

// ---- keyboard ------------------------------------------------------------

// The control that has the focus in the dialog's thread.
HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info) ? info.hwndFocus : NULL;
}

template <typename Done>
bool WaitUntil(Done done, DWORD boundMs = 3000)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(20))
        if (GetTickCount() - start > boundMs)
            return false;
    return true;
}

// A key as the dialog's own loop gets it: posted to the focused control. A
// letter with Alt comes as the system character it makes.
void PressKey(HWND dialog, UINT key, bool alt = false)
{
    HWND focus = FocusOf(dialog);
    if (alt) {
        PostMessageA(focus, WM_SYSCHAR, key, 0x20000001);
        return;
    }
    PostMessageA(focus, WM_KEYDOWN, key, 0x00000001);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

// One way through the dialog by keyboard alone, over a drive with room (C:)
// and one without (E:); 0 for a way that must leave the dialog open.
TEST_F(DriveChooser, KeyboardAloneReachesEveryControlAndEveryWayOut)
{
    struct Row {
        const char *way;
        std::vector<UINT> keys; // 'B', 'N', 'C' with Alt; anything else as a key
        int result;
    } rows[] = {
        {"Enter on the list with Next enabled", {VK_RETURN}, 1},
        {"Enter with Next disabled does nothing", {VK_DOWN, VK_RETURN}, 0},
        {"arrows down and up again, then Enter", {VK_DOWN, VK_UP, VK_RETURN}, 1},
        {"Alt+N", {'N'}, 1},
        {"Alt+B", {'B'}, 2},
        {"Alt+C", {'C'}, 3},
        {"Escape", {VK_ESCAPE}, 3},
    };
    FakeDrives drives({{"C:\\", DRIVE_FIXED, true, 800 * MB}, {"E:\\", DRIVE_FIXED, true, 10 * MB}});
    for (const Row &row : rows) {
        SCOPED_TRACE(row.way);
        std::vector<std::string> faults;
        bool open = false;
        DriveRun run = RunAskDrive(300, "Setup", "", [&](HWND dialog, DriveView &view) {
            HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
            if (FocusOf(dialog) != list)
                faults.push_back("the focus does not start on the drive list");
            if (SendMessageA(dialog, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)
                faults.push_back("the focus is hidden");
            for (UINT key : row.keys) {
                bool letter = key >= 'A' && key <= 'Z';
                PressKey(dialog, letter ? key + 'a' - 'A' : key, letter);
                if (key == VK_DOWN || key == VK_UP) {
                    int wanted = key == VK_DOWN ? 1 : 0;
                    if (!WaitUntil([&] { return SendMessageA(list, LB_GETCURSEL, 0, 0) == wanted; }))
                        faults.push_back("the arrow did not move the selection");
                    WaitUntil([&] { return ItemText(dialog, IDC_DRIVE_FREE) == (wanted ? "10 MB" : "800 MB"); });
                    view = ReadDriveDialog(dialog);
                    if (view.free != (wanted ? "10 MB" : "800 MB") || view.nextEnabled != (wanted == 0))
                        faults.push_back("free space or Next not updated: " + view.free);
                }
            }
            open = !WaitForWindowGone(dialog, row.result == 0 ? 500 : 3000);
            if (open)
                ClickButton(dialog, IDC_DRIVE_CANCEL);
        });
        ASSERT_TRUE(run.view.shown);
        EXPECT_EQ(std::vector<std::string>{}, faults);
        EXPECT_EQ(row.result == 0, open);
        EXPECT_EQ(row.result == 0 ? 3 : row.result, run.result);
    }

    // Tab goes round the buttons in order and back to the list.
    std::vector<int> visited;
    FakeDrives one(OneDrive());
    RunAskDrive(1, "Setup", "", [&](HWND dialog, DriveView &) {
        for (int i = 0; i < 4; i++) {
            HWND before = FocusOf(dialog);
            PressKey(dialog, VK_TAB);
            WaitUntil([&] { return FocusOf(dialog) != before; });
            visited.push_back(GetDlgCtrlID(FocusOf(dialog)));
        }
        ClickButton(dialog, IDC_DRIVE_CANCEL);
    });
    std::vector<int> order = {IDC_DRIVE_BACK, IDC_DRIVE_NEXT, IDC_DRIVE_CANCEL, IDC_DRIVE_LIST};
    EXPECT_EQ(order, visited);
}

// ---- owner --------------------------------------------------------------

// An installer's wizard active on the calling thread owns the dialog and
// takes no input while it is open; without one the dialog has no owner.
TEST_F(DriveChooser, CallersActiveWindowOwnsTheDialogAndWaitsForIt)
{
    FakeDrives drives(OneDrive());
    for (bool wizard : {true, false}) {
        SCOPED_TRACE(wizard ? "an active wizard" : "no active window");
        HWND window = NULL;
        if (wizard) {
            window = CreateWindowExA(0, "STATIC", "Wizard", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, NULL,
                                     NULL, NULL, NULL);
            ASSERT_NE(nullptr, window);
            SetActiveWindow(window);
            ASSERT_EQ(window, GetActiveWindow());
        }
        HWND owner = (HWND)-1;
        bool enabled = true;
        DriveRun run = RunAskDrive(1, "Setup", "", [&](HWND dialog, DriveView &) {
            owner = GetWindow(dialog, GW_OWNER);
            enabled = window != NULL && IsWindowEnabled(window);
            ClickButton(dialog, IDC_DRIVE_CANCEL);
        });
        ASSERT_TRUE(run.view.shown);
        EXPECT_EQ(window, owner);
        EXPECT_FALSE(enabled) << "the wizard takes no input meanwhile";
        if (window != NULL) {
            EXPECT_TRUE(IsWindowEnabled(window)) << "and takes it again afterwards";
            DestroyWindow(window);
        }
    }
}

// ---- screen readers -----------------------------------------------------

// The buttons, labels and figures are named by their texts; a figure comes
// right after the label that names it, and the list right after the label
// that carries the frame's text, which it carries as its own text too. (The
// prompt's edit has no label: a reader gives its text as its value, which
// Wine's oleacc does not.)
TEST_F(DriveChooser, EveryControlHasAnAccessibleNameAndLabelsComeFirst)
{
    CoInitialize(NULL);
    FakeDrives drives(OneDrive(1234 * MB));
    struct Row {
        int id;
        const char *name;
        int namedBy; // the control right before it, 0 for none to check
    } rows[] = {
        {IDC_DRIVE_LIST, "Selection", IDC_DRIVE_LIST_LABEL},
        {IDC_DRIVE_BACK, "< Back", 0},
        {IDC_DRIVE_NEXT, "Next >", 0},
        {IDC_DRIVE_CANCEL, "Cancel", 0},
        {IDC_DRIVE_REQUIRED_LABEL, "Minimum Required:", 0},
        {IDC_DRIVE_REQUIRED, "500 MB", IDC_DRIVE_REQUIRED_LABEL},
        {IDC_DRIVE_FREE_LABEL, "Free space:", 0},
        {IDC_DRIVE_FREE, "1234 MB", IDC_DRIVE_FREE_LABEL},
    };
    std::vector<std::string> names, before;
    DriveRun run = RunAskDrive(500, "Setup", "Where shall it go?", [&](HWND dialog, DriveView &) {
        for (const Row &row : rows) {
            HWND control = GetDlgItem(dialog, row.id);
            names.push_back(AccessibleName(control));
            before.push_back(row.namedBy == 0 ? "" : std::to_string(GetDlgCtrlID(GetWindow(control, GW_HWNDPREV))));
        }
        ClickButton(dialog, IDC_DRIVE_CANCEL);
    });
    ASSERT_TRUE(run.view.shown);
    ASSERT_EQ(sizeof(rows) / sizeof(rows[0]), names.size());
    for (size_t i = 0; i < names.size(); i++) {
        SCOPED_TRACE(rows[i].id);
        EXPECT_EQ(rows[i].name, names[i]);
        EXPECT_EQ(rows[i].namedBy == 0 ? "" : std::to_string(rows[i].namedBy), before[i]);
    }
    CoUninitialize();
}

// Windows names a list, as Wine's oleacc does not, from the static text
// right before it in the z-order, and ignores the list's own text and a group
// box there; a static is named by its own text. So right before the list
// stands a static with the frame's text, of no size so it shows nothing, and
// right before each figure the static label that says what it is, in every
// language, mirrored or not, narrow or wide.
TEST_F(DriveChooser, ListAndFiguresHaveTheirLabelRightBeforeThemInZOrder)
{
    FakeDrives drives(OneDrive());
    struct Row {
        const char *what;
        LANGID language;
        bool wide;
    } rows[] = {
        {"English, narrow", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), false},
        {"German, wide", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), true},
        {"Arabic, narrow", MAKELANGID(LANG_ARABIC, SUBLANG_DEFAULT), false},
    };
    // Each named control, and the control whose text its label carries.
    const int named[][2] = {{IDC_DRIVE_LIST, IDC_DRIVE_GROUP},
                            {IDC_DRIVE_REQUIRED, IDC_DRIVE_REQUIRED_LABEL},
                            {IDC_DRIVE_FREE, IDC_DRIVE_FREE_LABEL}};
    LCID before = GetThreadLocale();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(SetThreadLocale(MAKELCID(row.language, SORT_DEFAULT)));
        std::vector<std::string> faults;
        auto check = [&](HWND dialog, DriveView &) {
            for (const auto &pair : named) {
                std::string where = std::to_string(pair[0]) + ": ";
                HWND label = GetWindow(GetDlgItem(dialog, pair[0]), GW_HWNDPREV);
                char className[32] = {0};
                GetClassNameA(label, className, sizeof(className));
                std::wstring text = WideText(label), wanted = WideText(GetDlgItem(dialog, pair[1]));
                if (_stricmp(className, "Static") != 0)
                    faults.push_back(where + "the window before is a " + className);
                if ((GetWindowLongW(label, GWL_STYLE) & (WS_VISIBLE | SS_TYPEMASK)) != (WS_VISIBLE | SS_LEFT))
                    faults.push_back(where + "the label is no visible text");
                if (wanted.empty() || text != wanted)
                    faults.push_back(where + "the label reads " + Utf8(text) + ", not " + Utf8(wanted));
            }
            // The list's label shows nothing: the dialog looks as it did.
            RECT r = {};
            HWND listLabel = GetDlgItem(dialog, IDC_DRIVE_LIST_LABEL);
            GetWindowRect(listLabel, &r);
            if (listLabel == NULL || !IsRectEmpty(&r) || (GetWindowLongW(listLabel, GWL_STYLE) & WS_TABSTOP))
                faults.push_back("the list's label takes room or a tab stop");
            ClickButton(dialog, IDC_DRIVE_CANCEL);
        };
        DriveRun run = row.wide ? RunAskDriveW(500, L"Setup", L"", check) : RunAskDrive(500, "Setup", "", check);
        SetThreadLocale(before);
        ASSERT_TRUE(run.view.shown);
        EXPECT_EQ(std::vector<std::string>{}, faults);
    }
}

TEST(DriveChooserReal, ListsTheMachinesLocalDrives)
{
    // No interception: the list holds exactly the drives the system calls
    // neither remote, removable nor CD.
    char strings[1024] = {0};
    ASSERT_NE(0u, GetLogicalDriveStringsA(sizeof(strings), strings));
    std::vector<std::string> expected;
    for (const char *root = strings; *root; root += strlen(root) + 1) {
        UINT type = GetDriveTypeA(root);
        if (type != DRIVE_REMOTE && type != DRIVE_REMOVABLE && type != DRIVE_CDROM)
            expected.push_back(root);
    }
    ASSERT_FALSE(expected.empty());
    std::sort(expected.begin(), expected.end(), [](const std::string &a, const std::string &b) {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    });
    DebugCapture debug;
    DriveRun run = RunAskDrive(0, "Setup", "", Click(IDC_DRIVE_NEXT));
    ASSERT_TRUE(run.view.shown);
    EXPECT_EQ(expected, run.view.items);
    EXPECT_TRUE(run.view.nextEnabled);
    EXPECT_EQ(1, run.result);
    EXPECT_EQ(0, _strnicmp(run.buffer, expected[0].c_str(), 2));
    EXPECT_EQ('\0', run.buffer[2]);
}

TEST(DriveChooserHost, KivhostPrintsResultAndDrive)
{
    const char caption[] = "kivhost drive chooser test";
    HWND pressed = NULL;
    std::thread presser([&]() {
        HWND dialog = WaitForDialogByCaption(caption, 20000);
        if (dialog == NULL)
            return;
        pressed = dialog;
        ClickButton(dialog, IDC_DRIVE_NEXT);
    });
    ChildRun child = RunProcess("\"" + BinPath("kivhost.exe") + "\" AskDrive 0 \"" + caption + "\" Pick");
    presser.join();
    ASSERT_TRUE(child.started);
    ASSERT_NE(nullptr, pressed) << child.output;
    EXPECT_EQ(0u, child.exitCode);
    EXPECT_NE(std::string::npos, child.output.find("AskDrive -> 1")) << child.output;
    EXPECT_NE(std::string::npos, child.output.find("drive: C:")) << child.output;
}

} // namespace
