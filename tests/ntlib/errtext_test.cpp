// Error texts and the diagnostic log file.
#include <gtest/gtest.h>

#include "capture.h"
#include "nt_bench.h"
#include "ntlib/kiv_nt.h"

namespace {

// Customer bit set: no message table anywhere has a text for it.
const DWORD NO_TEXT_CODE = 0x2000FFFF;

const std::wstring TWO_LINES = L"First line of the network text.\r\nSecond line.\r\n";

std::wstring Wide(const std::string &s)
{
    return std::wstring(s.begin(), s.end());
}

TEST(FormatError, NetworkRangeIsLookedUpInTheNetworkModuleFirst)
{
    FakeNetworkMessages fake({{2099, L"module 2099\r\n"},
                              {2100, L"module 2100\r\n"},
                              {2999, L"module 2999\r\n"},
                              {3000, L"module 3000\r\n"}});
    ASSERT_TRUE(fake.ready());
    const struct {
        DWORD code;
        bool inRange;
    } rows[] = {{2099, false}, {2100, true}, {2999, true}, {3000, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.code);
        fake.Clear();
        WCHAR text[512] = {0};
        BOOLEAN ok = KIV_NT_FormatError(row.code, text, 512);
        ASSERT_EQ(1u, fake.formats().size());
        if (row.inRange) {
            EXPECT_EQ(1, ok);
            EXPECT_EQ(L"module " + std::to_wstring(row.code) + L"\r\n", std::wstring(text));
            ASSERT_EQ(1u, fake.loads().size());
            EXPECT_EQ(L"netmsg.dll|2050", fake.loads()[0]); // LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_SEARCH_SYSTEM32
            EXPECT_EQ(0x1A00u, fake.formats()[0].flags);
            EXPECT_TRUE(fake.formats()[0].fromModule);
            EXPECT_EQ(1, fake.frees());
        } else {
            std::wstring system = SystemTextW(row.code);
            EXPECT_EQ(system.empty() ? 0 : 1, ok);
            if (ok) {
                EXPECT_EQ(system, std::wstring(text));
            }
            EXPECT_TRUE(fake.loads().empty());
            EXPECT_EQ(0x1200u, fake.formats()[0].flags);
            EXPECT_FALSE(fake.formats()[0].fromModule);
        }
    }
}

TEST(FormatError, WithoutTheNetworkModuleTheSystemTableAnswersAlone)
{
    std::wstring system = SystemTextW(2100);
    FakeNetworkMessages fake({{2100, L"module 2100\r\n"}});
    ASSERT_TRUE(fake.ready());
    FailingImport noModule(Self(), NULL, "LoadLibraryExW", 12, 0, ERROR_MOD_NOT_FOUND);
    ASSERT_TRUE(noModule.installed());
    WCHAR text[512] = {0};
    BOOLEAN ok = KIV_NT_FormatError(2100, text, 512);
    EXPECT_EQ(1, noModule.calls());
    EXPECT_EQ(system.empty() ? 0 : 1, ok);
    EXPECT_EQ(system, std::wstring(text));
    ASSERT_EQ(1u, fake.formats().size());
    EXPECT_EQ(0x1200u, fake.formats()[0].flags);
    EXPECT_EQ(0, fake.frees());
}

TEST(ErrorToText, SizeAndCodeDecideWhatIsWritten)
{
    const std::string untouched = "untouched";
    const struct {
        DWORD code;
        DWORD size;
        BOOLEAN ok;
        std::string text;
    } rows[] = {
        {ERROR_ACCESS_DENIED, 1024, 1, SystemText(ERROR_ACCESS_DENIED)},
        {ERROR_ACCESS_DENIED, 1025, 0, ""},
        {0, 1024, 0, ""},
        {ERROR_ACCESS_DENIED, 0, 0, untouched},   // no room even for a terminator
        {NO_TEXT_CODE, 1024, 0, untouched},       // formatting failed
        {ERROR_ACCESS_DENIED, 4, 0, ""},          // does not fit: left out
    };
    ASSERT_FALSE(rows[0].text.empty());
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        char buffer[1100];
        memset(buffer, 'u', sizeof(buffer));
        memcpy(buffer, untouched.c_str(), untouched.size() + 1);
        EXPECT_EQ(rows[i].ok, KIV_NT_ErrorToText(rows[i].code, buffer, rows[i].size));
        EXPECT_EQ(rows[i].text, std::string(buffer));
    }
    EXPECT_EQ(0, KIV_NT_ErrorToText(ERROR_ACCESS_DENIED, NULL, 1024));
}

TEST(ErrorToText, KeepsEveryLineOfAMultiLineText)
{
    FakeNetworkMessages fake({{2100, TWO_LINES}});
    ASSERT_TRUE(fake.ready());
    char buffer[1024];
    ASSERT_EQ(1, KIV_NT_ErrorToText(2100, buffer, sizeof(buffer)));
    EXPECT_EQ("First line of the network text.\r\nSecond line.\r\n", std::string(buffer));
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(drive_.ready()) << "no drive of the test's own"; }
    std::wstring FileInFolder(const char *name) const { return Wide(drive_.folder() + name); }
    LogDrive drive_;
};

TEST_F(LogTest, AppendAddsAndWriteStartsAfresh)
{
    std::wstring path = FileInFolder("entries.log");
    KIV_NT_LogMessage(path.c_str(), L"one\n", L"a");
    KIV_NT_LogMessage(path.c_str(), L"two\n", L"a");
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(drive_.folder() + "entries.log", &bytes));
    EXPECT_EQ("one\r\ntwo\r\n", bytes);
    KIV_NT_LogMessage(path.c_str(), L"three\n", L"w");
    ASSERT_TRUE(ReadFileBytes(drive_.folder() + "entries.log", &bytes));
    EXPECT_EQ("three\r\n", bytes);
}

TEST_F(LogTest, OnlyTheModesAAndWTouchTheFile)
{
    std::wstring fresh = FileInFolder("fresh.log");
    std::wstring kept = FileInFolder("kept.log");
    ASSERT_TRUE(WriteFileBytes(drive_.folder() + "kept.log", "before\r\n"));
    for (const wchar_t *mode : {L"A", L"a+", L"W", L"w+", L"r", L"", L"at"}) {
        SCOPED_TRACE(std::string(mode, mode + wcslen(mode)));
        EXPECT_NE(0, KIV_NT_LogMessage(fresh.c_str(), L"x\n", mode));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(fresh.c_str()));
        KIV_NT_LogMessage(kept.c_str(), L"x\n", mode);
        std::string bytes;
        ASSERT_TRUE(ReadFileBytes(drive_.folder() + "kept.log", &bytes));
        EXPECT_EQ("before\r\n", bytes);
    }
}

// A log name that is a second link to another file is written neither in
// mode "a" nor in mode "w": the other file keeps its bytes.
TEST_F(LogTest, HardLinkedNamesAreNotWritten)
{
    std::string victim = drive_.folder() + "victim.txt", link = drive_.folder() + "linked.log";
    ASSERT_TRUE(WriteFileBytes(victim, "keep\r\n"));
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), victim.c_str(), NULL));
    for (const wchar_t *mode : {L"a", L"w"}) {
        SCOPED_TRACE(std::string(mode, mode + wcslen(mode)));
        KIV_NT_LogMessage(Wide(link).c_str(), L"lost\n", mode);
        std::string bytes;
        ASSERT_TRUE(ReadFileBytes(victim, &bytes));
        EXPECT_EQ("keep\r\n", bytes);
    }
    DeleteFileA(link.c_str());
}

TEST_F(LogTest, MissingPathOrTextWritesNothing)
{
    std::wstring path = FileInFolder("none.log");
    EXPECT_EQ(0, KIV_NT_LogMessage(NULL, L"x\n", L"a"));
    EXPECT_EQ(0, KIV_NT_LogMessage(path.c_str(), NULL, L"a"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

TEST_F(LogTest, PercentSignsAreStoredAsTheyCame)
{
    KIV_NT_LogAppend(L"100% done %s %d %n\n");
    EXPECT_EQ("100% done %s %d %n\r\n", drive_.Log());
}

TEST_F(LogTest, DiagnosticLogLiesInTheRootOfTheCurrentDrive)
{
    ASSERT_TRUE(CreateDirectoryA((drive_.root() + "sub").c_str(), NULL));
    ASSERT_TRUE(SetCurrentDirectoryA((drive_.root() + "sub").c_str()));
    KIV_NT_LogAppend(L"from below\n");
    SetCurrentDirectoryA(drive_.root().c_str());
    EXPECT_EQ("from below\r\n", drive_.Log());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((drive_.folder() + "sub\\kiv.log").c_str()));
}

// An entry used to end before the first character above 255, losing its
// line break; the file now holds the ANSI code page.
TEST_F(LogTest, CharactersOfTheCodePageAbove255AreKept)
{
    ASSERT_EQ(1252u, GetACP()) << "the expected bytes are those of code page 1252";
    KIV_NT_LogText("Price: 5 \x80 each\n", 256);
    KIV_NT_LogAppend(L"Wide: 7 \x20AC\n");
    KIV_NT_LogError("Step \x80", NO_TEXT_CODE, 1024);
    KIV_NT_LogText("next\n", 256);
    EXPECT_EQ("Price: 5 \x80 each\r\nWide: 7 \x80\r\nStep \x80 error! (null)\r\nnext\r\n", drive_.Log());
}

TEST_F(LogTest, UnopenableFileIsReportedOnStandardOutput)
{
    std::string path = drive_.folder() + "no such folder\\x.log";
    ChildRun run = RunChild("unopenable:" + path, drive_.root());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("KIV_NT_LogMessage: Could not open file " + path + ".\r\n", run.output);
    EXPECT_FALSE(drive_.LogExists());
}

TEST_F(LogTest, ErrorEntryCarriesTheFirstLineOfTheSystemText)
{
    const struct {
        const char *text;
        DWORD code;
        std::string line;
    } rows[] = {
        {"KIV_NT_StopService(KivProcessStarter3): OpenService", ERROR_SERVICE_DOES_NOT_EXIST,
         "KIV_NT_StopService(KivProcessStarter3): OpenService error! " +
             FirstLine(SystemText(ERROR_SERVICE_DOES_NOT_EXIST))},
        {"KIV_NT_WriteEventLog: RegisterEventSource", NO_TEXT_CODE,
         "KIV_NT_WriteEventLog: RegisterEventSource error! (null)"},
        {"zero", 0, "zero error! " + FirstLine(SystemText(0))},
        {NULL, NO_TEXT_CODE, "(null) error! (null)"},
    };
    ASSERT_NE("(null)", FirstLine(SystemText(0))) << "code 0 has the success text";
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        DeleteFileA((drive_.folder() + "kiv.log").c_str());
        KIV_NT_LogError(rows[i].text, rows[i].code, 1024);
        EXPECT_EQ(rows[i].line + "\r\n", drive_.Log());
    }
}

TEST_F(LogTest, EntryEndingInALineFeedGivesTwoLines)
{
    KIV_NT_LogError("first\n", NO_TEXT_CODE, 1024);
    EXPECT_EQ("first\r\n error! (null)\r\n", drive_.Log());
}

TEST_F(LogTest, OnlyTheFirstLineOfAMultiLineTextEntersTheLog)
{
    FakeNetworkMessages fake({{2100, L"\r\n" + TWO_LINES}});
    ASSERT_TRUE(fake.ready());
    KIV_NT_LogError("step", 2100, 1024);
    EXPECT_EQ("step error! First line of the network text.\r\n", drive_.Log());
}

// A first line over 511 characters is cut there; it used to leave "(null)".
TEST_F(LogTest, LongSystemTextIsCutAt511Characters)
{
    FakeNetworkMessages fake({{2100, std::wstring(600, L'w') + L"\r\n"}});
    ASSERT_TRUE(fake.ready());
    KIV_NT_LogError("step", 2100, 1024);
    EXPECT_EQ("step error! " + std::string(511, 'w') + "\r\n", drive_.Log());
}

TEST_F(LogTest, NarrowTextIsCutAtItsLimit)
{
    const struct {
        int limit;
        size_t length;
        size_t kept;
    } rows[] = {{256, 255, 255}, {256, 256, 256}, {256, 257, 256}, {1024, 1025, 1024}, {0, 5, 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.length);
        DeleteFileA((drive_.folder() + "kiv.log").c_str());
        KIV_NT_LogText(std::string(row.length, 'x').c_str(), row.limit);
        EXPECT_EQ(std::string(row.kept, 'x'), drive_.Log());
    }
}

// " error! (null)" and the line feed add 15 characters to the entry text.
TEST_F(LogTest, ErrorEntryIsCutAt1024CharactersAndStillEndsItsLine)
{
    const struct {
        size_t length;
        std::string line;
    } rows[] = {
        {1009, std::string(1009, 'e') + " error! (null)"},
        {1010, (std::string(1010, 'e') + " error! (null)").substr(0, 1023)},
        {3000, std::string(1023, 'e')},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.length);
        DeleteFileA((drive_.folder() + "kiv.log").c_str());
        KIV_NT_LogError(std::string(row.length, 'e').c_str(), NO_TEXT_CODE, 4000);
        KIV_NT_LogText("next\n", 256);
        EXPECT_EQ(row.line + "\r\nnext\r\n", drive_.Log());
    }
}

} // namespace
