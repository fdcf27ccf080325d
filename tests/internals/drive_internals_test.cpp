// The drive chooser's routines linked into the test program: the conversion
// of free bytes to megabytes and the walk over the drive strings.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "capture.h"
#include "ui/ui.h"

namespace {

const ULONGLONG MB = 1ull << 20;

ULONGLONG g_available;
bool g_outputsZeroed;
std::string g_queried;

BOOL WINAPI FakeFreeSpace(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                          PULARGE_INTEGER totalFree)
{
    g_queried = path ? path : "(null)";
    g_outputsZeroed = available && total && totalFree && available->QuadPart == 0 &&
                      total->QuadPart == 0 && totalFree->QuadPart == 0;
    available->QuadPart = g_available;
    // Far larger than the caller's share: using either would show.
    total->QuadPart = g_available + 1000 * MB;
    totalFree->QuadPart = g_available + 500 * MB;
    return TRUE;
}

TEST(DriveFreeMB, CallersShareInWholeMegabytesLow32Bits)
{
    struct Row {
        ULONGLONG bytes;
        DWORD megabytes;
    } rows[] = {
        {0, 0},
        {MB - 1, 0},
        {MB, 1},
        {1572864, 1},
        {500 * MB, 500},
        {1ull << 32, 4096},
        {0xFFFFFFFFull * MB, 0xFFFFFFFFu},
        {(1ull << 52) + 3 * MB, 3}, // 2^32 MB wraps to 0
    };
    ImportHook hook(GetModuleHandleA(NULL), NULL, "GetDiskFreeSpaceExA", (void *)FakeFreeSpace);
    ASSERT_TRUE(hook.installed());
    for (const Row &row : rows) {
        SCOPED_TRACE(row.bytes);
        g_available = row.bytes;
        g_outputsZeroed = false;
        EXPECT_EQ(row.megabytes, GetDriveFreeMB("C:\\"));
        EXPECT_TRUE(g_outputsZeroed) << "outputs are zeroed before the call";
        EXPECT_EQ("C:\\", g_queried);
    }
}

TEST(DriveFreeMB, UnreadableDriveGivesZeroAndOneReport)
{
    DebugCapture debug(GetModuleHandleA(NULL));
    FailingImport fail(GetModuleHandleA(NULL), NULL, "GetDiskFreeSpaceExA", 16, FALSE, ERROR_NOT_READY);
    ASSERT_TRUE(fail.installed());
    journal::Clear();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, GetDriveFreeMB("Q:\\"));
    EXPECT_EQ(1, fail.calls());
    std::vector<JournalEntry> lines = journal::Of(Outlet::Debug);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Getting drive free space", lines[0].text);
    // The reported code is the failing call's, not the one set before it.
    char expected[512] = {0};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, ERROR_NOT_READY,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), expected, sizeof(expected), NULL);
    EXPECT_EQ(expected, lines[2].text);
}

// Drive strings that fill the whole 1024-byte buffer with no closing NUL.
DWORD WINAPI FullDriveStrings(DWORD length, LPSTR buffer)
{
    // "C:\" NUL, then one unterminated string up to the buffer's last byte.
    memset(buffer, 'Z', length);
    memcpy(buffer, "C:\\", 4);
    return length - 1;
}

UINT WINAPI AllFixed(LPCSTR)
{
    return DRIVE_FIXED;
}

TEST(DriveList, UnterminatedLastStringIsLeftOut)
{
    ImportHook strings(GetModuleHandleA(NULL), NULL, "GetLogicalDriveStringsA", (void *)FullDriveStrings);
    ImportHook types(GetModuleHandleA(NULL), NULL, "GetDriveTypeA", (void *)AllFixed);
    DebugCapture debug(GetModuleHandleA(NULL));
    ASSERT_TRUE(strings.installed());
    ASSERT_TRUE(types.installed());
    HWND list = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, list);
    journal::Clear();
    EXPECT_EQ(1, FillDriveList(list));
    EXPECT_EQ(1, (int)SendMessageA(list, LB_GETCOUNT, 0, 0));
    std::vector<std::string> expected = {"Valid:C:\\\n"};
    EXPECT_EQ(expected, journal::DebugLines());
    DestroyWindow(list);
}

} // namespace
