// The event log writer: records, the registration of the event source, and
// what reaches the diagnostic log when a record cannot be written.
#include <gtest/gtest.h>

#include "capture.h"
#include "nt_bench.h"
#include "ntlib/kiv_nt.h"

namespace {

const DWORD NO_TEXT_CODE = 0x2000FFFF;
const char QUOTED_SETUP[] = "\"C:\\Program Files\\Setup\\setup.exe\" -s";
const char LOST[] = "lost message";
const std::string LOST_LINE = "lost message error! (null)";

std::string RecordText(const std::string &process, const std::string &message, const std::string &errorText)
{
    return "Kivelstrand System\r\n\r\nProcess: " + process + " (PID: " + std::to_string(GetCurrentProcessId()) +
           ")\r\n\r\n" + message + "\r\n\r\n" + errorText + "\r\n";
}

std::vector<JournalEntry> Records()
{
    return journal::Of(Outlet::EventReport);
}

// Every test starts as in a freshly loaded library: nothing registered yet.
class WriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(drive_.ready()) << "no drive of the test's own";
        KIV_NT_EventSourceRegistered = 0;
        journal::Clear();
    }
    std::vector<std::string> LogLines() const { return Lines(drive_.Log()); }
    void ClearLog() const { DeleteFileA((drive_.folder() + "kiv.log").c_str()); }
    LogDrive drive_;
    ProductKeys keys_;
    CommandLine commandLine_{QUOTED_SETUP};
};

// A record of a service stop by a program started from a quoted path with
// blanks: the process name is the program's file name, not "Program".
TEST_F(WriterTest, RecordCarriesBannerProcessMessageAndEmptyErrorText)
{
    EventCapture events(Self());
    const char message[] = "KIV_NT_StopService: Service KivProcessStarter0 stopped.";
    ASSERT_EQ(1, KIV_NT_WriteEventLog(message, 0, EVENTLOG_INFORMATION_TYPE, 5));
    std::vector<JournalEntry> all = journal::Entries();
    ASSERT_EQ(3u, all.size());
    EXPECT_EQ(Outlet::EventRegister, all[0].outlet);
    EXPECT_EQ("Kivelstrand", all[0].text);
    ASSERT_EQ(Outlet::EventReport, all[1].outlet);
    EXPECT_EQ(EventCapture::FakeHandle(), all[1].handle);
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, all[1].type);
    EXPECT_EQ(5, all[1].category);
    EXPECT_EQ(21u, all[1].eventId);
    EXPECT_TRUE(all[1].hasSid);
    ASSERT_EQ(1u, all[1].strings.size());
    EXPECT_EQ(RecordText("setup.exe", message, ""), all[1].strings[0]);
    EXPECT_EQ(Outlet::EventDeregister, all[2].outlet);
    EXPECT_FALSE(drive_.LogExists());
}

TEST_F(WriterTest, ErrorCodeAddsItsWholeSystemText)
{
    EventCapture events(Self());
    std::string text = SystemText(ERROR_SERVICE_DOES_NOT_EXIST);
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(1, KIV_NT_WriteEventLog("open", ERROR_SERVICE_DOES_NOT_EXIST, EVENTLOG_ERROR_TYPE, 5));
    ASSERT_EQ(1u, Records().size());
    EXPECT_EQ(RecordText("setup.exe", "open", text), Records()[0].strings[0]);
}

TEST_F(WriterTest, EveryEventTypeIsWrittenWithIdentifier21AndItsCategory)
{
    EventCapture events(Self());
    const struct {
        WORD type, category;
    } rows[] = {{1, 5}, {2, 5}, {4, 0}, {8, 7}, {16, 5}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.type);
        journal::Clear();
        EXPECT_EQ(1, KIV_NT_WriteEventLog("typed", 0, row.type, row.category));
        ASSERT_EQ(1u, Records().size());
        EXPECT_EQ(row.type, Records()[0].type);
        EXPECT_EQ(row.category, Records()[0].category);
        EXPECT_EQ(21u, Records()[0].eventId);
    }
}

TEST_F(WriterTest, InvalidTypeIsRefusedWithTwoLogLines)
{
    EventCapture events(Self());
    for (WORD type : {0, 3, 32}) {
        SCOPED_TRACE(type);
        ClearLog();
        journal::Clear();
        EXPECT_EQ(0, KIV_NT_WriteEventLog(LOST, NO_TEXT_CODE, type, 5));
        EXPECT_TRUE(journal::Entries().empty());
        EXPECT_EQ((std::vector<std::string>{"KIV_NT_WriteEventLog: Invalid event type.", LOST_LINE}), LogLines());
    }
}

TEST_F(WriterTest, MessageOf3072CharactersIsWrittenAndOf3073Refused)
{
    EventCapture events(Self());
    std::string longest(3072, 'm');
    EXPECT_EQ(1, KIV_NT_WriteEventLog(longest.c_str(), 0, EVENTLOG_ERROR_TYPE, 5));
    ASSERT_EQ(1u, Records().size());
    EXPECT_EQ(RecordText("setup.exe", longest, ""), Records()[0].strings[0]);
    EXPECT_FALSE(drive_.LogExists());

    // The lost-message line holds the first 1024 characters and is then cut
    // at the entry's 1024 characters.
    journal::Clear();
    EXPECT_EQ(0, KIV_NT_WriteEventLog((longest + "m").c_str(), NO_TEXT_CODE, EVENTLOG_ERROR_TYPE, 5));
    EXPECT_TRUE(journal::Entries().empty());
    EXPECT_EQ((std::vector<std::string>{"KIV_NT_WriteEventLog: Invalid msg (NULL or too long).",
                                        std::string(1023, 'm')}),
              LogLines());
}

TEST_F(WriterTest, MissingMessageIsRefused)
{
    EventCapture events(Self());
    EXPECT_EQ(0, KIV_NT_WriteEventLog(NULL, NO_TEXT_CODE, EVENTLOG_ERROR_TYPE, 5));
    EXPECT_TRUE(journal::Entries().empty());
    EXPECT_EQ((std::vector<std::string>{"KIV_NT_WriteEventLog: Invalid msg (NULL or too long).",
                                        "(null) error! (null)"}),
              LogLines());
}

TEST_F(WriterTest, NoProcessNameLosesTheMessage)
{
    EventCapture events(Self());
    CommandLine blank("  \"\" ");
    EXPECT_EQ(0, KIV_NT_WriteEventLog(LOST, NO_TEXT_CODE, EVENTLOG_ERROR_TYPE, 5));
    EXPECT_TRUE(journal::Entries().empty());
    EXPECT_EQ(std::vector<std::string>{LOST_LINE}, LogLines());
}

TEST_F(WriterTest, RefusedEventSourceLogsItsErrorAndTheMessage)
{
    EventCapture events(Self(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, KIV_NT_WriteEventLog(LOST, NO_TEXT_CODE, EVENTLOG_ERROR_TYPE, 5));
    EXPECT_EQ(1u, journal::Of(Outlet::EventRegister).size());
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ((std::vector<std::string>{"KIV_NT_WriteEventLog: RegisterEventSource error! " +
                                            FirstLine(SystemText(ERROR_ACCESS_DENIED)),
                                        LOST_LINE}),
              LogLines());
}

TEST_F(WriterTest, RefusedRecordLogsItsErrorAndTheMessageAndStillDeregisters)
{
    EventCapture events(Self(), 0, true);
    EXPECT_EQ(0, KIV_NT_WriteEventLog(LOST, NO_TEXT_CODE, EVENTLOG_ERROR_TYPE, 5));
    EXPECT_EQ(1u, Records().size());
    EXPECT_EQ(1u, journal::Of(Outlet::EventDeregister).size());
    EXPECT_EQ((std::vector<std::string>{"KIV_NT_WriteEventLog: ReportEvent failed. error! " +
                                            FirstLine(SystemText(ERROR_ACCESS_DENIED)),
                                        LOST_LINE}),
              LogLines());
}

TEST_F(WriterTest, RecordTextOver4095BytesIsCut)
{
    FakeNetworkMessages fake({{2100, std::wstring(1000, L'e') + L"\r\n"}});
    ASSERT_TRUE(fake.ready());
    EventCapture events(Self());
    std::string message(3072, 'm');
    std::string whole = RecordText("setup.exe", message, std::string(1000, 'e') + "\r\n");
    ASSERT_GT(whole.size(), 4095u);
    EXPECT_EQ(1, KIV_NT_WriteEventLog(message.c_str(), 2100, EVENTLOG_ERROR_TYPE, 5));
    ASSERT_EQ(1u, Records().size());
    EXPECT_EQ(whole.substr(0, 4095), Records()[0].strings[0]);
}

// ---- registration of the event source -----------------------------------------

struct SetValueCall {
    std::string name;
    DWORD type;
    std::string data;
};
std::vector<SetValueCall> g_setValues;
std::string g_failValue;
void *g_realSetValue;

typedef LONG(WINAPI *SetValueFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);

LONG WINAPI RecordedSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    g_setValues.push_back({name, type, std::string((const char *)data, size)});
    if (g_failValue == name)
        return ERROR_ACCESS_DENIED;
    return ((SetValueFn)g_realSetValue)(key, name, reserved, type, data, size);
}

class SetValueRecorder {
public:
    explicit SetValueRecorder(const std::string &failValue = "")
        : hook_(Self(), NULL, "RegSetValueExA", (void *)RecordedSetValue)
    {
        g_setValues.clear();
        g_failValue = failValue;
        g_realSetValue = hook_.original();
    }
    std::vector<SetValueCall> calls() const { return g_setValues; }

private:
    ImportHook hook_;
};

std::string Dword(DWORD value)
{
    return std::string((const char *)&value, 4);
}

const std::string MESSAGE_FILE = std::string("E:\\kiv\\nt\\bin\\kiv_msg.dll") + '\0';

const SetValueCall REGISTRATION[] = {
    {"EventMessageFile", REG_EXPAND_SZ, MESSAGE_FILE},
    {"CategoryMessageFile", REG_EXPAND_SZ, MESSAGE_FILE},
    {"CategoryCount", REG_DWORD, Dword(20)},
    {"TypesSupported", REG_DWORD, Dword(31)},
};

void ExpectCalls(const std::vector<SetValueCall> &calls, size_t count)
{
    ASSERT_EQ(count, calls.size());
    for (size_t i = 0; i < count; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(REGISTRATION[i].name, calls[i].name);
        EXPECT_EQ(REGISTRATION[i].type, calls[i].type);
        EXPECT_EQ(REGISTRATION[i].data, calls[i].data);
    }
}

TEST_F(WriterTest, DiskValueRegistersTheSourceOnceWithFourValuesInOrder)
{
    ASSERT_TRUE(keys_.SetDisk(REG_SZ, "E:\\Programs"));
    EventCapture events(Self());
    SetValueRecorder recorder;
    EXPECT_EQ(1, KIV_NT_WriteEventLog("first", 0, EVENTLOG_INFORMATION_TYPE, 5));
    EXPECT_EQ(1, KIV_NT_WriteEventLog("second", 0, EVENTLOG_INFORMATION_TYPE, 5));
    ExpectCalls(recorder.calls(), 4);
    EXPECT_EQ(2u, Records().size());
    EXPECT_EQ(1, KIV_NT_EventSourceRegistered);
    for (const SetValueCall &value : REGISTRATION) {
        SCOPED_TRACE(value.name);
        DWORD type = 0;
        std::string data;
        ASSERT_TRUE(ProductKeys::ReadSourceValue(value.name.c_str(), &type, &data));
        EXPECT_EQ(value.type, type);
        EXPECT_EQ(value.data, data);
    }
}

// On 64-bit Windows the 32-bit installer's value lives in the 32-bit view of
// HKLM\SOFTWARE: both builds read it there, and neither takes a value that
// only a 64-bit writer put in the 64-bit view.
TEST_F(WriterTest, DiskValueIsReadInThe32BitViewByBothBuilds)
{
    BOOL wow64 = FALSE;
#ifdef _WIN64
    wow64 = TRUE;
#else
    IsWow64Process(GetCurrentProcess(), &wow64);
#endif
    if (!wow64)
        GTEST_SKIP() << "32-bit Windows has one view of HKLM\\SOFTWARE";
    const struct {
        REGSAM view;
        bool registers;
    } rows[] = {{KEY_WOW64_32KEY, true}, {KEY_WOW64_64KEY, false}};
    EventCapture events(Self());
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        KIV_NT_EventSourceRegistered = 0;
        ProductKeys keys;
        ASSERT_TRUE(keys.SetDisk(REG_SZ, "E:\\Programs", rows[i].view));
        EXPECT_EQ(1, KIV_NT_WriteEventLog("record", 0, EVENTLOG_INFORMATION_TYPE, 5));
        EXPECT_EQ(rows[i].registers ? 1 : 0, KIV_NT_EventSourceRegistered);
        EXPECT_EQ(rows[i].registers, ProductKeys::SourceKeyExists());
    }
}

TEST_F(WriterTest, OnlyAStringDiskValueRegisters)
{
    const struct {
        bool present;
        DWORD type;
        std::string disk;
        bool registers;
        std::string path;
    } rows[] = {
        {true, REG_SZ, "", true, std::string(1, '\0')},
        {true, REG_SZ, "d", true, std::string("d:\\kiv\\nt\\bin\\kiv_msg.dll") + '\0'},
        {true, REG_EXPAND_SZ, "E:\\Programs", false, ""},
        {true, REG_MULTI_SZ, "E:\\Programs", false, ""},
        {false, REG_SZ, "", false, ""},
    };
    EventCapture events(Self());
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        KIV_NT_EventSourceRegistered = 0;
        journal::Clear();
        ProductKeys keys;
        if (rows[i].present) {
            ASSERT_TRUE(keys.SetDisk(rows[i].type, rows[i].disk));
        }
        SetValueRecorder recorder;
        // Two calls: an unregistered source is tried again by the next call.
        EXPECT_EQ(1, KIV_NT_WriteEventLog("record", 0, EVENTLOG_INFORMATION_TYPE, 5));
        EXPECT_EQ(1, KIV_NT_WriteEventLog("record", 0, EVENTLOG_INFORMATION_TYPE, 5));
        EXPECT_EQ(2u, Records().size());
        EXPECT_EQ(rows[i].registers ? 1 : 0, KIV_NT_EventSourceRegistered);
        EXPECT_EQ(rows[i].registers, ProductKeys::SourceKeyExists());
        ASSERT_EQ(rows[i].registers ? 4u : 0u, recorder.calls().size());
        if (rows[i].registers) {
            EXPECT_EQ(rows[i].path, recorder.calls()[0].data);
        }
        EXPECT_FALSE(drive_.LogExists());
    }
}

TEST_F(WriterTest, UnwrittenRegistrationValueLosesTheRecordAndIsTriedAgain)
{
    ASSERT_TRUE(keys_.SetDisk(REG_SZ, "E:\\Programs"));
    EventCapture events(Self());
    for (size_t failing = 0; failing < 4; failing++) {
        SCOPED_TRACE(REGISTRATION[failing].name);
        ClearLog();
        journal::Clear();
        SetValueRecorder recorder(REGISTRATION[failing].name);
        EXPECT_EQ(0, KIV_NT_WriteEventLog(LOST, NO_TEXT_CODE, EVENTLOG_ERROR_TYPE, 5));
        EXPECT_EQ(0, KIV_NT_WriteEventLog(LOST, NO_TEXT_CODE, EVENTLOG_ERROR_TYPE, 5));
        EXPECT_TRUE(journal::Entries().empty());
        EXPECT_EQ(0, KIV_NT_EventSourceRegistered);
        std::vector<SetValueCall> calls = recorder.calls();
        ASSERT_EQ(2 * (failing + 1), calls.size());
        calls.resize(failing + 1);
        ExpectCalls(calls, failing + 1);
        EXPECT_EQ((std::vector<std::string>{LOST_LINE, LOST_LINE}), LogLines());
        // The values before the failing one stay written.
        for (size_t i = 0; i < 4; i++) {
            DWORD type;
            std::string data;
            EXPECT_EQ(i < failing, ProductKeys::ReadSourceValue(REGISTRATION[i].name.c_str(), &type, &data)) << i;
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kivelstrand");
    }
}

// The flag lives as long as the process: each new process registers anew,
// once, however many records it writes.
TEST_F(WriterTest, EveryProcessRegistersOnce)
{
    ASSERT_TRUE(keys_.SetDisk(REG_SZ, "E:\\Programs"));
    const std::string once = "set EventMessageFile 2 26\r\nset CategoryMessageFile 2 26\r\n"
                             "set CategoryCount 4 4\r\nset TypesSupported 4 4\r\nresult 1\r\nresult 1\r\n";
    for (int run = 0; run < 2; run++) {
        SCOPED_TRACE(run);
        ChildRun child = RunChild("write-twice", drive_.root());
        ASSERT_TRUE(child.started);
        EXPECT_EQ(0u, child.exitCode);
        EXPECT_EQ(once, child.output);
    }
    EXPECT_TRUE(ProductKeys::SourceKeyExists());
}

// ---- process name -----------------------------------------

TEST(ProcessName, FirstTokenOfTheCommandLineAfterItsLastBackslash)
{
    const struct {
        std::string commandLine;
        BOOLEAN ok;
        std::string name;
    } rows[] = {
        {QUOTED_SETUP, 1, "setup.exe"},
        {"\"C:\\Program Files\\Setup\\setup.exe\"", 1, "setup.exe"},
        {"C:\\Program Files\\Setup\\setup.exe -s", 1, "Program"},
        {"setup.exe -s", 1, "setup.exe"},
        {"   D:\\setup\\setup.exe", 1, "setup.exe"},
        {"D:\\setup\\setup.exe\"-s\"", 1, "setup.exe"},
        {"\"D:\\my dir\\x y.exe\" -s", 1, "x y.exe"},
        {"C:\\" + std::string(300, 'n'), 1, std::string(255, 'n')},
        // A tab ends the token, as it ends the uninstaller's option.
        {"setup.exe\t-s", 1, "setup.exe"},
        {"\t\"D:\\my dir\\x\ty.exe\"\t-s", 1, "x\ty.exe"},
        {"", 0, ""},
        {"   ", 0, ""},
        {" \"\" ", 0, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.commandLine);
        CommandLine commandLine(row.commandLine);
        char name[256];
        memset(name, 0, sizeof(name));
        EXPECT_EQ(row.ok, KIV_NT_GetProcessName(name));
        EXPECT_EQ(row.name, std::string(name));
        EXPECT_EQ(row.commandLine, std::string(GetCommandLineA())) << "the command line stays as it was";
    }
    EXPECT_EQ(0, KIV_NT_GetProcessName(NULL));
}

} // namespace
