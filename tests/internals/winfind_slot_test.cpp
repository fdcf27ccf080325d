// The found-window slot and the enumeration callback of the window lookup,
// linked into the test program.
#include <gtest/gtest.h>

#include "kiv_inst.h"
#include "ui/ui.h"

namespace {

const char SLOT_WINDOW_CLASS[] = "KivWinfindSlotWindow";

class FoundWindowSlotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = SLOT_WINDOW_CLASS;
        RegisterClassA(&wc);
        parent_ = Make(NULL, WS_OVERLAPPEDWINDOW, "slot parent");
        child_ = Make(parent_, WS_CHILD, "slot child");
        grandchild_ = Make(child_, WS_CHILD, "slot grandchild");
        ASSERT_NE(nullptr, grandchild_);
    }
    void TearDown() override
    {
        DestroyWindow(parent_);
        FoundWindow = NULL;
    }
    static HWND Make(HWND parent, DWORD style, const char *text)
    {
        return CreateWindowExA(0, SLOT_WINDOW_CLASS, text, style, 0, 0, 10, 10, parent, NULL,
                               GetModuleHandleA(NULL), NULL);
    }
    HWND parent_ = NULL, child_ = NULL, grandchild_ = NULL;
};

TEST_F(FoundWindowSlotTest, NullTitleLeavesTheSlotUntouchedAndReturnsNull)
{
    const HWND rows[] = {NULL, parent_};
    for (size_t row = 0; row < 2; row++) {
        SCOPED_TRACE(row);
        FoundWindow = child_;
        EXPECT_EQ(nullptr, GetWindowByTitle(rows[row], nullptr)) << "the slot's old value came back";
        EXPECT_EQ(child_, FoundWindow) << "the slot was changed";
    }
}

TEST_F(FoundWindowSlotTest, SearchWithTitleResetsThenHoldsItsResult)
{
    FoundWindow = parent_;
    EXPECT_EQ(nullptr, GetWindowByTitle(parent_, "nothing like it"));
    EXPECT_EQ(nullptr, FoundWindow);
    EXPECT_EQ(grandchild_, GetWindowByTitle(parent_, "slot grandchild"));
    EXPECT_EQ(grandchild_, FoundWindow);
}

// The callback compares only the window it is given: the windows below come
// from the enumeration that called it, never from a descent of its own.
TEST_F(FoundWindowSlotTest, CallbackComparesOneWindowAndNeverDescends)
{
    FoundWindow = NULL;
    EXPECT_TRUE(WindowTitleEnumProc(child_, (LPARAM) "slot grandchild")) << "a miss goes on";
    EXPECT_EQ(nullptr, FoundWindow) << "the window below was searched";
    EXPECT_FALSE(WindowTitleEnumProc(child_, (LPARAM) "slot child")) << "a match stops";
    EXPECT_EQ(child_, FoundWindow);
}

} // namespace
