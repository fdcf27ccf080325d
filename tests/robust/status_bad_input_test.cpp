// The status window's exports with the same odd texts as every other export,
// in guarded memory, the heap checked after each call.
#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

#include "guarded.h"
#include "kiv_inst.h"

namespace {

struct Row {
    const char *label;
    bool null;
    std::string text;
};

const Row ROWS[] = {
    {"null", true, ""},
    {"empty", false, ""},
    {"1023 characters", false, std::string(1023, 's')},
    {"1024 characters", false, std::string(1024, 's')},
    {"4096 characters", false, std::string(4096, 's')},
    {"65536 characters", false, std::string(65536, 's')},
    {"high ANSI", false, "Kiv\xe9\xe8\xfc\xdf\xff\xa0\x80"},
    {"double-byte", false, "\x82\xa0\x82\xa2\x93\xfa\x96\x7b"},
};

void RegisterAnimationClass()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
}

// The close is posted: it happens only while messages are dispatched.
void Dispatch(DWORD milliseconds)
{
    DWORD end = GetTickCount() + milliseconds;
    MSG message;
    while ((LONG)(end - GetTickCount()) > 0) {
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
}

TEST(BadInput, FakeStatusOpenWithOddTextsAndTitles)
{
    RegisterAnimationClass();
    for (int argument = 0; argument < 2; argument++) {
        for (const Row &row : ROWS) {
            SCOPED_TRACE(std::string(argument == 0 ? "text: " : "title: ") + row.label);
            GuardedText odd(row.text);
            GuardedText plain("Robust");
            const char *oddPointer = row.null ? nullptr : odd.get();
            const char *text = argument == 0 ? oddPointer : plain.get();
            const char *title = argument == 1 ? oddPointer : plain.get();
            EXPECT_EQ(1, FakeStatusOpen(text, title)) << "expected the window opened";
            EXPECT_TRUE(ProcessHeapValid());
            EXPECT_EQ(1, FakeStatusClose()) << "expected the close accepted";
            Dispatch(50);
            EXPECT_TRUE(ProcessHeapValid());
        }
    }
}

TEST(BadInput, FakeStatusSetAviWithOddNamesWhileClosed)
{
    // With no window open a name is only remembered, so every one gives 1.
    for (const Row &row : ROWS) {
        SCOPED_TRACE(row.label);
        GuardedText name(row.text);
        EXPECT_EQ(1, FakeStatusSetAvi(row.null ? nullptr : name.get()));
        EXPECT_TRUE(ProcessHeapValid());
    }
    EXPECT_EQ(1, FakeStatusSetAvi(nullptr)) << "expected the default clip back";
}

} // namespace
