// The fonts the two windows draw in: the templates' faces for texts that came
// through a narrow export, a face Windows links for every script for texts
// that came through a wide one, at the template's size either way; the linked
// font goes with its window. (Wine lends glyphs to any font, so what shows on
// the screen proves nothing here: the font each control holds does.)
#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "capture.h"
#include "dialog_driver.h"
#include "drive_fakes.h"
#include "kiv_inst.h"
#include "process.h"
#include "resource.h"
#include "status_hooks.h"

namespace {

const char BITMAP_FACE[] = "MS Sans Serif";
const char LINKED_FACE[] = "MS Shell Dlg";
const char STATUS_TITLE[] = "Kiv font test";

struct Face {
    std::string name;
    LONG height = 0;
    bool exists = false;
};

Face FaceOf(HFONT font)
{
    Face face;
    LOGFONTW logical = {};
    if (font == NULL || GetObjectW(font, sizeof(logical), &logical) == 0)
        return face;
    face.name = Utf8(logical.lfFaceName);
    face.height = logical.lfHeight;
    face.exists = true;
    return face;
}

HFONT FontOf(HWND control)
{
    return (HFONT)SendMessageW(control, WM_GETFONT, 0, 0);
}

// Both templates ask for 8 points; the screen under test has one DPI.
LONG TemplateHeight()
{
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    return -MulDiv(8, dpi, 72);
}

void PumpUntilGone(HWND window)
{
    for (int i = 0; i < 50 && IsWindow(window); i++)
        PumpMessages(20);
}

// The status window: narrow text in the template's face, wide text in the
// linked face, and back again when a narrow open follows on the same window;
// a linked font no control uses any more is deleted.
TEST(Fonts, StatusWindowTextFollowsTheKindOfItsText)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    ASSERT_EQ(1, FakeStatusOpen("Copying files...", STATUS_TITLE));
    HWND dialog = FindWindowA("#32770", STATUS_TITLE);
    ASSERT_NE(nullptr, dialog);
    HWND text = GetDlgItem(dialog, IDC_STATUS_TEXT);
    Face narrow = FaceOf(FontOf(text));
    EXPECT_EQ(BITMAP_FACE, narrow.name);
    EXPECT_EQ(TemplateHeight(), narrow.height);

    ASSERT_EQ(1, FakeStatusOpenW(L"\u041a\u043e\u043f\u0438\u0440\u043e\u0432\u0430\u043d\u0438\u0435...", L"Kiv font test"));
    HFONT linked = FontOf(text);
    Face wide = FaceOf(linked);
    EXPECT_EQ(LINKED_FACE, wide.name);
    EXPECT_EQ(TemplateHeight(), wide.height);
    EXPECT_NE(FontOf(dialog), linked) << "the dialog's own font stays the template's";

    ASSERT_EQ(1, FakeStatusOpen("Copying files...", STATUS_TITLE));
    EXPECT_EQ(BITMAP_FACE, FaceOf(FontOf(text)).name);
    EXPECT_FALSE(FaceOf(linked).exists) << "the linked font is deleted once unused";

    ASSERT_EQ(1, FakeStatusOpenW(L"\u6771\u4eac", L"Kiv font test"));
    linked = FontOf(text);
    EXPECT_EQ(LINKED_FACE, FaceOf(linked).name);
    ASSERT_EQ(1, FakeStatusOpenW(L"\u5927\u962a", L"Kiv font test"));
    EXPECT_EQ(linked, FontOf(text)) << "one linked font per window, however often it opens";
    FakeStatusClose();
    PumpUntilGone(dialog);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(FaceOf(linked).exists) << "the linked font goes with the window";
}

// Every control of the drive chooser that shows a text, the list's label
// included.
const int DRIVE_TEXT_CONTROLS[] = {IDC_DRIVE_LIST,       IDC_DRIVE_BACK,       IDC_DRIVE_NEXT,
                                   IDC_DRIVE_CANCEL,     IDC_DRIVE_TEXT,       IDC_DRIVE_FREE,
                                   IDC_DRIVE_GROUP,      IDC_DRIVE_FREE_LABEL, IDC_DRIVE_REQUIRED_LABEL,
                                   IDC_DRIVE_REQUIRED,   IDC_DRIVE_LIST_LABEL};

// The English dialog keeps "MS Sans Serif" for AskDrive and takes the linked
// face for AskDriveW; a translated dialog is in "MS Shell Dlg" already and
// keeps its own font. The size is the template's either way, and the linked
// font is gone when the dialog is.
TEST(Fonts, DriveChooserControlsFollowTheKindOfTheTexts)
{
    FakeDrives drives({{"C:\\", DRIVE_FIXED, true, 1000 * MB}});
    struct Row {
        const char *what;
        LANGID language;
        bool wide;
        const char *face;
        bool ownFont; // the dialog's own font rather than one of the library's
    } rows[] = {
        {"English, narrow", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), false, BITMAP_FACE, true},
        {"English, wide", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), true, LINKED_FACE, false},
        {"German, narrow", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), false, LINKED_FACE, true},
        {"Hebrew, wide", MAKELANGID(LANG_HEBREW, SUBLANG_DEFAULT), true, LINKED_FACE, true},
    };
    LCID before = GetThreadLocale();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(SetThreadLocale(MAKELCID(row.language, SORT_DEFAULT)));
        std::vector<std::string> faults;
        HFONT used = NULL;
        DriveAction read = [&](HWND dialog, DriveView &) {
            HFONT own = FontOf(dialog);
            for (int id : DRIVE_TEXT_CONTROLS) {
                HWND control = GetDlgItem(dialog, id);
                HFONT font = FontOf(control);
                Face face = FaceOf(font);
                std::string where = std::to_string(id) + ": ";
                if (control == NULL)
                    faults.push_back(where + "missing");
                else if (face.name != row.face || face.height != TemplateHeight())
                    faults.push_back(where + face.name + " " + std::to_string(face.height));
                else if ((font == own) != row.ownFont)
                    faults.push_back(where + (row.ownFont ? "not the dialog's font" : "the dialog's font"));
                used = font;
            }
            ClickButton(dialog, IDC_DRIVE_CANCEL);
        };
        DriveRun run = row.wide ? RunAskDriveW(1, L"Setup", L"\u05d1\u05d7\u05e8", read)
                                : RunAskDrive(1, "Setup", "Pick", read);
        SetThreadLocale(before);
        ASSERT_TRUE(run.view.shown);
        EXPECT_EQ(3, run.result);
        EXPECT_EQ(std::vector<std::string>{}, faults);
        if (!row.ownFont) {
            EXPECT_FALSE(FaceOf(used).exists) << "the linked font goes with the dialog";
        }
    }
}

} // namespace
