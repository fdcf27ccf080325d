// The status window and the drive chooser on screens of 96, 144 and 192 DPI.
// Wine takes the density from the registry when a process starts, so each
// density runs the DisplaysChild cases in a child process of its own, with
// the user's LogPixels set for it and put back afterwards. Every text is
// measured in its own control's font against that control's rectangle.
#include <gtest/gtest.h>

#include <commctrl.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "dialog_driver.h"
#include "drive_fakes.h"
#include "kiv_inst.h"
#include "process.h"
#include "resource.h"
#include "status_hooks.h"

namespace {

const char DESKTOP_KEY[] = "Control Panel\\Desktop";
const char LOG_PIXELS[] = "LogPixels";
const char CHILD_DPI[] = "KIV_DISPLAYS_DPI";

// The density the child was started for; 0 outside such a child.
int ChildDpi()
{
    const char *value = getenv(CHILD_DPI);
    return value != nullptr ? atoi(value) : 0;
}

// The user's LogPixels, set for the life of this object, then put back as
// it was (or removed when it was not set).
class LogPixelsSetting {
public:
    explicit LogPixelsSetting(DWORD dpi)
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, DESKTOP_KEY, 0, NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &key_,
                        NULL);
        DWORD size = sizeof(old_);
        had_ = RegQueryValueExA(key_, LOG_PIXELS, NULL, NULL, (BYTE *)&old_, &size) == ERROR_SUCCESS;
        RegSetValueExA(key_, LOG_PIXELS, 0, REG_DWORD, (const BYTE *)&dpi, sizeof(dpi));
    }
    ~LogPixelsSetting()
    {
        if (had_)
            RegSetValueExA(key_, LOG_PIXELS, 0, REG_DWORD, (const BYTE *)&old_, sizeof(old_));
        else
            RegDeleteValueA(key_, LOG_PIXELS);
        RegCloseKey(key_);
    }

private:
    HKEY key_ = NULL;
    DWORD old_ = 0;
    bool had_ = false;
};

TEST(Displays, EveryTextShowsWholeAtEachDensity)
{
    for (int dpi : {96, 144, 192}) {
        SCOPED_TRACE(dpi);
        LogPixelsSetting setting((DWORD)dpi);
        SetEnvironmentVariableA(CHILD_DPI, std::to_string(dpi).c_str());
        // The keyboard walk and the fonts' sizes once, on the densest screen.
        std::string filter = dpi == 192 ? "DisplaysChild.*:DriveChooser.KeyboardAlone*:Fonts.*" : "DisplaysChild.*";
        ChildRun run = RunProcess("\"" + BinPath("test_ui.exe") + "\" --gtest_filter=" + filter, 120000);
        SetEnvironmentVariableA(CHILD_DPI, NULL);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode) << run.output;
        EXPECT_EQ(std::string::npos, run.output.find("[  SKIPPED ]")) << run.output;
    }
}

class DisplaysChild : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ChildDpi() == 0)
            GTEST_SKIP() << "runs in the child that Displays starts for each density";
        HDC screen = GetDC(NULL);
        int actual = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(NULL, screen);
        ASSERT_EQ(ChildDpi(), actual) << "the density did not take";
    }
};

// The text's extent in the control's own font: on one line, or wrapped at
// the control's width when the control wraps.
SIZE TextExtent(HWND control, bool wraps)
{
    RECT client = {};
    GetClientRect(control, &client);
    char text[1024] = {0};
    GetWindowTextA(control, text, sizeof(text));
    RECT r = {0, 0, wraps ? client.right : 10, 10};
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageA(control, WM_GETFONT, 0, 0));
    DrawTextA(dc, text, -1, &r, DT_CALCRECT | (wraps ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE));
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// Faults of one control whose text must show whole within room pixels less
// than its client rectangle on each side.
void CheckTextFits(HWND control, bool wraps, int room, std::vector<std::string> *faults)
{
    RECT client = {};
    GetClientRect(control, &client);
    SIZE extent = TextExtent(control, wraps);
    if (extent.cx > client.right - 2 * room || extent.cy > client.bottom)
        faults->push_back("control " + std::to_string(GetDlgCtrlID(control)) + ": text " +
                          std::to_string(extent.cx) + "x" + std::to_string(extent.cy) + " in " +
                          std::to_string(client.right) + "x" + std::to_string(client.bottom));
}

void CheckWithinWorkArea(HWND window, std::vector<std::string> *faults)
{
    RECT work = {}, r = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(window, &r);
    if (r.left < work.left || r.top < work.top || r.right > work.right || r.bottom > work.bottom)
        faults->push_back("window outside the work area");
}

// Faults of the status window: its text cut, or the window beyond the work
// area.
std::vector<std::string> StatusFaults(HWND dialog)
{
    HWND control = GetDlgItem(dialog, 1000);
    std::vector<std::string> faults;
    CheckTextFits(control, (GetWindowLongA(control, GWL_STYLE) & SS_CENTERIMAGE) == 0, 0, &faults);
    CheckWithinWorkArea(dialog, &faults);
    return faults;
}

// The host's duty done (the animation class registered), the status
// window's texts: one line, and one that wraps on every screen.
std::vector<std::string> StatusTexts()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    std::string longText;
    while (longText.size() < 160)
        longText += "Copying the Kivelstrand render files, ";
    return {"Copying files, please wait...", longText};
}

TEST_F(DisplaysChild, StatusTextShowsWholeAndTheClipIsDrawnForTheDensity)
{
    const int scale = ChildDpi() >= 168 ? 2 : 1;
    const struct {
        const char *keyword;
        int id, width, height; // of the 96-DPI drawing
    } clips[] = {{":BKW", 107, 235, 92}, {":FILECOPY", 102, 260, 40}, {":SEARCH", 109, 80, 48}};
    for (const auto &row : clips) {
        for (const std::string &text : StatusTexts()) {
            SCOPED_TRACE(std::string(row.keyword) + " " + text.substr(0, 20));
            FakeStatusSetAvi(row.keyword);
            StatusWatch watch;
            ASSERT_EQ(1, FakeStatusOpen(text.c_str(), "Displays"));
            HWND dialog = FindWindowA("#32770", "Displays");
            ASSERT_NE(nullptr, dialog);
            if (text.size() > 100) {
                EXPECT_EQ(0, GetWindowLongA(GetDlgItem(dialog, 1000), GWL_STYLE) & SS_CENTERIMAGE) << "wraps";
            }
            EXPECT_EQ(std::vector<std::string>{}, StatusFaults(dialog));

            // The double-size drawing on the dense screen, reported and shown
            // at its own size.
            std::vector<StatusCall> messages = watch.AnimateMessages();
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ("ACM_OPEN #" + std::to_string(row.id + 100 * (scale - 1)), Describe(messages)[0]);
            RECT clip = {};
            GetClientRect(GetDlgItem(dialog, 102), &clip);
            char anim[64];
            snprintf(anim, sizeof(anim), "Anim %ld %ld\n", clip.right, clip.bottom);
            bool reported = false;
            for (const std::string &line : watch.Lines())
                reported = reported || line == anim;
            EXPECT_TRUE(reported) << anim;
            EXPECT_EQ(row.width * scale, clip.right);
            EXPECT_EQ(row.height * scale, clip.bottom);
            FakeStatusClose();
            PumpMessages(100);
        }
    }
    FakeStatusSetAvi("");
}

// Mirrored for a language read right to left (Wine follows the thread
// locale), the text shows whole and the window stays on the work area.
TEST_F(DisplaysChild, MirroredStatusTextShowsWhole)
{
    const LCID before = GetThreadLocale();
    for (const std::string &text : StatusTexts()) {
        SCOPED_TRACE(text.substr(0, 20));
        ASSERT_TRUE(SetThreadLocale(MAKELCID(MAKELANGID(LANG_HEBREW, SUBLANG_DEFAULT), SORT_DEFAULT)));
        int opened = FakeStatusOpen(text.c_str(), "Displays");
        SetThreadLocale(before);
        ASSERT_EQ(1, opened);
        HWND dialog = FindWindowA("#32770", "Displays");
        ASSERT_NE(nullptr, dialog);
        EXPECT_NE(0, GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
        EXPECT_EQ(std::vector<std::string>{}, StatusFaults(dialog));
        FakeStatusClose();
        PumpMessages(100);
    }
}

// Two controls that must not share a pixel.
void CheckApart(HWND dialog, int a, int b, std::vector<std::string> *faults)
{
    RECT ra = {}, rb = {}, both = {};
    GetWindowRect(GetDlgItem(dialog, a), &ra);
    GetWindowRect(GetDlgItem(dialog, b), &rb);
    if (IntersectRect(&both, &ra, &rb))
        faults->push_back(std::to_string(a) + " overlaps " + std::to_string(b));
}

// Inner lies wholly within outer.
void CheckInside(HWND dialog, int inner, int outer, std::vector<std::string> *faults)
{
    RECT ri = {}, ro = {}, both = {};
    GetWindowRect(GetDlgItem(dialog, inner), &ri);
    GetWindowRect(outer == 0 ? dialog : GetDlgItem(dialog, outer), &ro);
    if (!IntersectRect(&both, &ri, &ro) || !EqualRect(&both, &ri))
        faults->push_back(std::to_string(inner) + " outside " + std::to_string(outer));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found)
{
    ((std::vector<WORD> *)found)->push_back(language);
    return TRUE;
}

// In every language the library carries, chosen as a host does, through the
// calling thread's locale.
TEST_F(DisplaysChild, DriveChooserShowsEveryTextWholeWithoutOverlapsInEveryLanguage)
{
    std::vector<WORD> languages;
    EnumResourceLanguagesW(KivModule(), (LPCWSTR)RT_DIALOG, MAKEINTRESOURCEW(IDD_ASKDRIVE), CollectLanguage,
                           (LONG_PTR)&languages);
    ASSERT_GE(languages.size(), 2u);
    // The widest figures the labels can hold.
    FakeDrives drives({{"C:\\", DRIVE_FIXED, true, 0x80000000ull * MB}});
    const LCID before = GetThreadLocale();
    for (WORD language : languages) {
        SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << language);
        ASSERT_TRUE(SetThreadLocale(MAKELCID(language, SORT_DEFAULT)));
        std::vector<std::string> faults;
        DriveRun run = RunAskDrive(0x80000000u, "Setup", "Choose the drive", [&](HWND dialog, DriveView &) {
            // Labels show their text on one line; buttons leave room for
            // their edges and the focus rectangle.
            for (int id : {IDC_DRIVE_REQUIRED_LABEL, IDC_DRIVE_FREE_LABEL, IDC_DRIVE_REQUIRED, IDC_DRIVE_FREE})
                CheckTextFits(GetDlgItem(dialog, id), false, 0, &faults);
            for (int id : {IDC_DRIVE_BACK, IDC_DRIVE_NEXT, IDC_DRIVE_CANCEL})
                CheckTextFits(GetDlgItem(dialog, id), false, GetSystemMetrics(SM_CXEDGE) + 1, &faults);
            const int inGroup[] = {IDC_DRIVE_LIST, IDC_DRIVE_REQUIRED_LABEL, IDC_DRIVE_REQUIRED, IDC_DRIVE_FREE_LABEL,
                                   IDC_DRIVE_FREE};
            for (size_t i = 0; i < sizeof(inGroup) / sizeof(inGroup[0]); i++) {
                CheckInside(dialog, inGroup[i], IDC_DRIVE_GROUP, &faults);
                for (size_t j = i + 1; j < sizeof(inGroup) / sizeof(inGroup[0]); j++)
                    CheckApart(dialog, inGroup[i], inGroup[j], &faults);
            }
            const int outside[] = {IDC_DRIVE_TEXT, IDC_DRIVE_GROUP, IDC_DRIVE_BACK, IDC_DRIVE_NEXT, IDC_DRIVE_CANCEL};
            for (size_t i = 0; i < sizeof(outside) / sizeof(outside[0]); i++) {
                CheckInside(dialog, outside[i], 0, &faults);
                for (size_t j = i + 1; j < sizeof(outside) / sizeof(outside[0]); j++)
                    CheckApart(dialog, outside[i], outside[j], &faults);
            }
            CheckWithinWorkArea(dialog, &faults);
            ClickButton(dialog, IDC_DRIVE_CANCEL);
        });
        EXPECT_TRUE(run.view.shown);
        EXPECT_EQ(std::vector<std::string>{}, faults);
    }
    SetThreadLocale(before);
}

} // namespace
