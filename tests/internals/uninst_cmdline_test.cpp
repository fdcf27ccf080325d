// The hook directory from the uninstaller's command line, and the two path
// helpers it rests on.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "ntlib/kiv_nt.h"
#include "process.h"
#include "uninstall/uninstall.h"

namespace {

struct DirectoryRow {
    const char *commandLine;
    const char *directory;
    int found;
};

// Each row is one way an uninstaller may be started.
const DirectoryRow DIRECTORY_ROWS[] = {
    {"\"C:\\Prog\\kivhost.exe\" -c\"C:\\Dir\\kiv_inst.dll\"", "C:\\Dir\\", 1},
    {"kivhost.exe -cC:\\Dir\\kiv_inst.dll", "C:\\Dir\\", 1},
    // Blanks between the option and the path are skipped, quoted or not.
    {"kivhost.exe -c C:\\Dir\\kiv_inst.dll", "C:\\Dir\\", 1},
    {"kivhost.exe -c  \"C:\\Dir\\kiv_inst.dll\"", "C:\\Dir\\", 1},
    // A quoted path ends at its closing quote, whatever follows.
    {"kivhost.exe -c\"C:\\Dir\\kiv_inst.dll\" /S", "C:\\Dir\\", 1},
    {"kivhost.exe -c\"C:\\Dir\\kiv_inst.dll\" D:\\Other\\x", "C:\\Dir\\", 1},
    {"kivhost.exe -c\"C:\\Program Files\\Kiv\\kiv_inst.dll\" -x", "C:\\Program Files\\Kiv\\", 1},
    // An argument quoted whole is the option too, its path ending at the quote.
    {"kivhost.exe \"-cC:\\Program Files\\Kiv\\kiv_inst.dll\"", "C:\\Program Files\\Kiv\\", 1},
    {"kivhost.exe \"-c C:\\Dir\\kiv_inst.dll\" D:\\Other\\x", "C:\\Dir\\", 1},
    {"kivhost.exe \"-cD:\\a\\b\" -cC:\\Dir\\kiv_inst.dll", "D:\\a\\", 1},
    {"kivhost.exe /S \"-c", "", 1},
    // An unquoted path runs to the end of the line.
    {"kivhost.exe -cC:\\Dir\\kiv_inst.dll /S", "C:\\Dir\\", 1},
    {"kivhost.exe -cC:\\Program Files\\Kiv\\kiv_inst.dll", "C:\\Program Files\\Kiv\\", 1},
    // "-c" inside the program path or another argument is not the option.
    {"\"C:\\my-cdir\\kivhost.exe\" -c\"C:\\Dir\\kiv_inst.dll\"", "C:\\Dir\\", 1},
    {"C:\\my-cdir\\kivhost.exe -cC:\\Dir\\kiv_inst.dll", "C:\\Dir\\", 1},
    {"kivhost.exe /x-c\"D:\\a\\b\" -cC:\\Dir\\kiv_inst.dll", "C:\\Dir\\", 1},
    {"kivhost.exe \"foo -cD:\\a\\b\" -cC:\\Dir\\kiv_inst.dll", "C:\\Dir\\", 1},
    {"\"C:\\Prog\\kivhost.exe\"-cC:\\Dir\\kiv_inst.dll", "C:\\Dir\\", 1},
    {"C:\\my-cdir\\kivhost.exe /S", "", 0},
    {"kivhost.exe -CC:\\Dir\\kiv_inst.dll", "", 0},
    {"kivhost.exe", "", 0},
    {"", "", 0},
    // Nothing usable behind the option.
    {"kivhost.exe -c", "", 1},
    {"kivhost.exe -c\"", "", 1},
    {"kivhost.exe -c\"\"", "", 1},
    {"kivhost.exe -cC:/Dir/kiv_inst.dll", "", 1},
    {"kivhost.exe -cC:\\Dir\\", "C:\\Dir\\", 1},
    {"kivhost.exe -c\\kiv_inst.dll", "\\", 1},
};

TEST(UninstDirectory, CommandLineTable)
{
    for (size_t row = 0; row < sizeof(DIRECTORY_ROWS) / sizeof(DIRECTORY_ROWS[0]); row++) {
        const DirectoryRow &r = DIRECTORY_ROWS[row];
        SCOPED_TRACE(testing::Message() << "row " << row << ": " << r.commandLine);
        char directory[UNINST_TEXT_SIZE];
        memset(directory, 'x', sizeof(directory));
        EXPECT_EQ(r.found, GetUninstDirectory(r.commandLine, directory, sizeof(directory)));
        EXPECT_STREQ(r.directory, directory);

        // The hook reads the wide command line by the same rules.
        std::wstring line(r.commandLine, r.commandLine + strlen(r.commandLine));
        WCHAR wide[UNINST_TEXT_SIZE];
        wmemset(wide, L'x', UNINST_TEXT_SIZE);
        EXPECT_EQ(r.found, GetUninstDirectoryW(line.c_str(), wide, UNINST_TEXT_SIZE));
        EXPECT_EQ(std::wstring(r.directory, r.directory + strlen(r.directory)), std::wstring(wide));
    }
}

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

TEST(UninstDirectory, LongCommandLinesNeverOverflow)
{
    // Program name padded so the whole line has the given length; the
    // directory itself is short.
    const std::string tail = " -c\"C:\\Dir\\kiv_inst.dll\"";
    for (size_t length : {259u, 260u, 261u, 5000u}) {
        SCOPED_TRACE(length);
        std::string line = "C:\\" + Repeat('p', length - 3 - tail.size()) + tail;
        ASSERT_EQ(length, line.size());
        char directory[UNINST_TEXT_SIZE + 8];
        memset(directory, 'x', sizeof(directory));
        EXPECT_EQ(1, GetUninstDirectory(line.c_str(), directory, UNINST_TEXT_SIZE));
        EXPECT_STREQ("C:\\Dir\\", directory);
        EXPECT_EQ(std::string(8, 'x'), std::string(directory + UNINST_TEXT_SIZE, 8));
    }
}

TEST(UninstDirectory, DirectoryThatDoesNotFitCountsAsNone)
{
    // "C:\" + n letters + "\" is a directory of n + 4 characters.
    for (size_t letters : {507u, 508u, 5000u}) {
        SCOPED_TRACE(letters);
        std::string directory = "C:\\" + Repeat('d', letters) + "\\";
        std::string line = "kivhost.exe -c\"" + directory + "kiv_inst.dll\"";
        char out[UNINST_TEXT_SIZE + 8];
        memset(out, 'x', sizeof(out));
        EXPECT_EQ(1, GetUninstDirectory(line.c_str(), out, UNINST_TEXT_SIZE));
        if (directory.size() < UNINST_TEXT_SIZE)
            EXPECT_EQ(directory, out);
        else
            EXPECT_STREQ("", out);
        EXPECT_EQ(std::string(8, 'x'), std::string(out + UNINST_TEXT_SIZE, 8));
    }
}

TEST(EndsWithChar, EmptyLastAndOtherCharacters)
{
    EXPECT_EQ(0, EndsWithChar("", '"'));
    EXPECT_EQ(0, EndsWithChar(NULL, '"'));
    EXPECT_EQ(1, EndsWithChar("\"", '"'));
    EXPECT_EQ(1, EndsWithChar("abc\"", '"'));
    EXPECT_EQ(0, EndsWithChar("ab\"c", '"'));
    EXPECT_EQ(1, EndsWithChar("C:\\Dir\\", '\\'));
}

struct SplitRow {
    const char *path;
    const char *directory;
    const char *rest;
};

TEST(SplitAtLastChar, Table)
{
    static const SplitRow rows[] = {
        {"C:\\Dir\\kiv_inst.dll", "C:\\Dir\\", "kiv_inst.dll"},
        {"C:\\Dir\\", "C:\\Dir\\", ""},
        {"kiv_inst.dll", "", "kiv_inst.dll"},
        {"", "", ""},
        {"\\a", "\\", "a"},
        {"C:/Dir/x", "", "C:/Dir/x"},
        {"\\\\server\\share\\f", "\\\\server\\share\\", "f"},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++) {
        SCOPED_TRACE(testing::Message() << "row " << row << ": " << rows[row].path);
        char directory[UNINST_TEXT_SIZE], rest[UNINST_TEXT_SIZE];
        memset(directory, 'x', sizeof(directory));
        memset(rest, 'x', sizeof(rest));
        SplitAtLastChar(rows[row].path, directory, sizeof(directory), rest, sizeof(rest), '\\');
        EXPECT_STREQ(rows[row].directory, directory);
        EXPECT_STREQ(rows[row].rest, rest);
    }
}

// Double-byte code page 932: 0x95 0x5C is one character whose trail byte has
// the value of a backslash, and 0x81 0x22 one whose trail byte is a quote.
// These checks need the process's ANSI code page to be 932: the test entry
// internals_cp932 runs them in a Wine process started in a Japanese locale.
bool InDoubleByteChild()
{
    return GetEnvironmentVariableA("KIV_DBCS_CHILD", NULL, 0) != 0;
}

TEST(DoubleByteChild, TrailBytesNeverSplitOrClose)
{
    if (!InDoubleByteChild())
        GTEST_SKIP() << "runs in its own test entry, in code page 932";
    ASSERT_EQ(932u, GetACP()) << "the test entry starts Wine with LC_ALL=ja_JP.UTF-8";
    char directory[UNINST_TEXT_SIZE], rest[UNINST_TEXT_SIZE];
    SplitAtLastChar("C:\\ab\x95\x5C" "cd", directory, sizeof(directory), rest, sizeof(rest), '\\');
    EXPECT_STREQ("C:\\", directory);
    EXPECT_STREQ("ab\x95\x5C" "cd", rest);
    EXPECT_EQ(0, EndsWithChar("C:\\Dir\\\x95\x5C", '\\'));
    EXPECT_EQ(0, EndsWithChar("abc\x81\x22", '"'));
    EXPECT_EQ(1, GetUninstDirectory("kivhost.exe -cC:\\D\x95\x5C\\kiv_inst.dll", directory, sizeof(directory)));
    EXPECT_STREQ("C:\\D\x95\x5C\\", directory);
    EXPECT_EQ(1, GetUninstDirectory("kivhost.exe -cC:\\Dir\\\x95\x5C", directory, sizeof(directory)));
    EXPECT_STREQ("C:\\Dir\\", directory);
    // A rest over its buffer is cut before a double-byte character, not in it.
    char small[5];
    SplitAtLastChar("C:\\abc\x88\x9F", directory, sizeof(directory), small, sizeof(small), '\\');
    EXPECT_STREQ("abc", small);
    SplitAtLastChar("abc\x88\x9F", directory, sizeof(directory), small, sizeof(small), '\\');
    EXPECT_STREQ("abc", small);
}

TEST(DoubleByteChild, ProcessNameStepsByCharacters)
{
    if (!InDoubleByteChild())
        GTEST_SKIP() << "runs in its own test entry, in code page 932";
    const struct {
        std::string commandLine;
        std::string name;
    } rows[] = {
        {"C:\\dir\\\x95\x5C.exe", "\x95\x5C.exe"},
        {"\x84\x5C", "\x84\x5C"},
        {std::string(254, 'a') + "\x88\x9F", std::string(254, 'a')},
        {std::string(253, 'a') + "\x88\x9F", std::string(253, 'a') + "\x88\x9F"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.commandLine);
        char name[256];
        EXPECT_EQ(1, KIV_NT_ProcessNameFromLine(row.commandLine.c_str(), name));
        EXPECT_EQ(row.name, name);
    }
}

} // namespace
