// Dialog template 112 as the module carries it: every field the drive
// chooser's users and its third-party host may rely on.
#include <gtest/gtest.h>

#include "dialog_resource.h"
#include "process.h"

namespace {

const WORD US_ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Predefined control classes, as the template stores them.
const WORD BUTTON = 0x0080, EDIT = 0x0081, STATIC = 0x0082, LISTBOX = 0x0083;

TEST(DriveTemplate, DialogHeader)
{
    DialogResource dialog = ReadDialogResource(BinPath("kiv_inst.dll"), 112, US_ENGLISH);
    ASSERT_TRUE(dialog.found) << "no template 112 in language 0x0409";
    ASSERT_FALSE(dialog.extended);
    EXPECT_EQ(0x80C000C0u, dialog.style) << "popup, caption, modal frame, font; no system menu";
    EXPECT_EQ(0u, dialog.exStyle);
    EXPECT_EQ("Choose Destination Location", dialog.caption);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("MS Sans Serif", dialog.typeface);
    EXPECT_EQ(0, dialog.x);
    EXPECT_EQ(0, dialog.y);
    EXPECT_EQ(232, dialog.cx);
    EXPECT_EQ(175, dialog.cy);
    EXPECT_FALSE(dialog.menu.isOrdinal);
    EXPECT_EQ("", dialog.menu.text);
    EXPECT_FALSE(dialog.windowClass.isOrdinal);
    EXPECT_EQ("", dialog.windowClass.text);
}

TEST(DriveTemplate, TenControlsInTabOrder)
{
    struct Row {
        WORD id;
        WORD windowClass;
        const char *text;
        DWORD style;
        short x, y, cx, cy;
    } rows[] = {
        {1011, LISTBOX, "", 0x50A10103, 28, 81, 40, 49},
        {1017, BUTTON, "< &Back", 0x50010001, 7, 154, 50, 14},
        {3, BUTTON, "&Next >", 0x50010001, 71, 154, 50, 14},
        {1018, BUTTON, "&Cancel", 0x50010000, 175, 154, 50, 14},
        {1015, EDIT, "", 0x50000804, 17, 14, 198, 40},
        {1013, STATIC, "", 0x50020000, 157, 111, 49, 12},
        {1016, BUTTON, "Selection", 0x50000007, 18, 66, 196, 72},
        {1019, STATIC, "Free space:", 0x50020000, 88, 111, 49, 13},
        {1020, STATIC, "Minimum Required:", 0x50020000, 88, 87, 61, 11},
        {1014, STATIC, "", 0x50020000, 157, 87, 49, 12},
    };
    DialogResource dialog = ReadDialogResource(BinPath("kiv_inst.dll"), 112, US_ENGLISH);
    ASSERT_TRUE(dialog.found);
    ASSERT_EQ(sizeof(rows) / sizeof(rows[0]), dialog.items.size());
    for (size_t i = 0; i < dialog.items.size(); i++) {
        SCOPED_TRACE(i);
        const Row &row = rows[i];
        const DialogItem &item = dialog.items[i];
        EXPECT_EQ(row.id, item.id);
        EXPECT_TRUE(item.windowClass.isOrdinal) << item.windowClass.text;
        EXPECT_EQ(row.windowClass, item.windowClass.ordinal);
        EXPECT_FALSE(item.title.isOrdinal);
        EXPECT_EQ(row.text, item.title.text);
        EXPECT_EQ(row.style, item.style);
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ(row.x, item.x);
        EXPECT_EQ(row.y, item.y);
        EXPECT_EQ(row.cx, item.cx);
        EXPECT_EQ(row.cy, item.cy);
        EXPECT_EQ(0, item.extraBytes);
    }
}

} // namespace
