// The entry point as the loader and the host's threads drive it.
#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "process.h"

namespace {

typedef BOOL(WINAPI *EntryPoint)(HINSTANCE, DWORD, LPVOID);

const char ENTRY_MESSAGE[] = "Installation DLL main called";

EntryPoint Entry()
{
    return (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
}

// The four debugger pieces of one report.
void ExpectReportPieces(const std::vector<JournalEntry> &debug, size_t at, const std::string &message,
                        const std::string &text)
{
    ASSERT_LE(at + 4, debug.size());
    EXPECT_EQ(message, debug[at].text);
    EXPECT_EQ(": ", debug[at + 1].text);
    EXPECT_EQ(text, debug[at + 2].text);
    EXPECT_EQ(" \n", debug[at + 3].text);
}

DWORD WINAPI DoNothing(LPVOID)
{
    return 0;
}

class EntryPointTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, KivModule());
        ASSERT_NE(nullptr, Entry());
        journal::Clear();
    }
    // Puts the library back into its loaded state with a real event source.
    void TearDown() override
    {
        Entry()(KivModule(), DLL_PROCESS_DETACH, nullptr);
        Entry()(KivModule(), DLL_PROCESS_ATTACH, nullptr);
    }
};

TEST(EntryPointLoad, FirstReportReachesTheDebuggerOnlyInFourPieces)
{
    ChildRun run = RunUnderDebugger("\"" + BinPath("kivhost.exe") + "\" load");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ASSERT_GE(run.debugStrings.size(), 8u);
    // Attach, then (after whatever threads came and went) detach: each report
    // is the message, ": ", the system text and " \n".
    EXPECT_EQ(ENTRY_MESSAGE, run.debugStrings[0]);
    EXPECT_EQ(": ", run.debugStrings[1]);
    EXPECT_EQ(" \n", run.debugStrings[3]);
    size_t last = run.debugStrings.size() - 4;
    EXPECT_EQ(ENTRY_MESSAGE, run.debugStrings[last]);
    EXPECT_EQ(": ", run.debugStrings[last + 1]);
    EXPECT_EQ(" \n", run.debugStrings[last + 3]);
    EXPECT_NE(std::string::npos, run.output.find("load -> ok"));
}

TEST_F(EntryPointTest, AttachReportsBeforeRegisteringSoTheFirstReportHasNoRecord)
{
    Entry()(KivModule(), DLL_PROCESS_DETACH, nullptr);
    DebugCapture debug;
    EventCapture events;
    journal::Clear();
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Entry()(KivModule(), DLL_PROCESS_ATTACH, nullptr));

    std::vector<JournalEntry> all = journal::Entries();
    ASSERT_GE(all.size(), 5u);
    ExpectReportPieces(all, 0, ENTRY_MESSAGE, SystemText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Outlet::EventRegister, all[4].outlet);
    EXPECT_EQ("KIV Installation DLL", all[4].text);
    EXPECT_TRUE(journal::Of(Outlet::EventReport).empty());
}

TEST_F(EntryPointTest, ThreadStartedAfterLoadAddsLineAndInformationRecord)
{
    DebugCapture debug;
    EventCapture events;
    journal::Clear();
    HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    DWORD threadId = GetThreadId(thread);
    CloseHandle(thread);

    // The attach and the detach notification of that thread each report once.
    int reportsFromThread = 0;
    for (const JournalEntry &e : journal::Of(Outlet::EventReport)) {
        if (e.threadId != threadId)
            continue;
        reportsFromThread++;
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, e.type);
        EXPECT_EQ(0, e.category);
        EXPECT_EQ(0u, e.eventId);
        EXPECT_FALSE(e.hasSid);
        ASSERT_EQ(2u, e.strings.size());
        EXPECT_EQ(ENTRY_MESSAGE, e.strings[0]);
        EXPECT_NE(EventCapture::FakeHandle(), e.handle) << "the source registered at load is kept";
    }
    EXPECT_EQ(2, reportsFromThread);
    // The source was registered at load, so no new registration is made.
    EXPECT_TRUE(journal::Of(Outlet::EventRegister).empty());
}

TEST_F(EntryPointTest, ReportCarriesMessageThenSystemTextAndCodeZeroToo)
{
    static const DWORD codes[] = {0, ERROR_ACCESS_DENIED, ERROR_SERVICE_DOES_NOT_EXIST};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        DebugCapture debug;
        EventCapture events;
        journal::Clear();
        SetLastError(code);
        EXPECT_TRUE(Entry()(KivModule(), DLL_THREAD_ATTACH, nullptr));
        std::string text = SystemText(code);
        ASSERT_FALSE(text.empty());
        std::vector<JournalEntry> all = journal::Entries();
        ASSERT_EQ(5u, all.size());
        ExpectReportPieces(all, 0, ENTRY_MESSAGE, text);
        ASSERT_EQ(Outlet::EventReport, all[4].outlet);
        ASSERT_EQ(2u, all[4].strings.size());
        EXPECT_EQ(ENTRY_MESSAGE, all[4].strings[0]);
        EXPECT_EQ(text, all[4].strings[1]);
    }
}

TEST_F(EntryPointTest, FailedRegistrationLeavesNoRecordsAndALaterCallRegisters)
{
    Entry()(KivModule(), DLL_PROCESS_DETACH, nullptr);
    DebugCapture debug;
    {
        EventCapture refusing(KivModule(), ERROR_ACCESS_DENIED);
        journal::Clear();
        EXPECT_TRUE(Entry()(KivModule(), DLL_PROCESS_ATTACH, nullptr));
        EXPECT_TRUE(Entry()(KivModule(), DLL_THREAD_ATTACH, nullptr));
        // Each call reported to the debugger and tried to register again;
        // the attach also selected the default clip.
        EXPECT_EQ(9u, journal::Of(Outlet::Debug).size());
        EXPECT_EQ("Using BKW AVI.\n", journal::Of(Outlet::Debug)[4].text);
        EXPECT_EQ(2u, journal::Of(Outlet::EventRegister).size());
        EXPECT_TRUE(journal::Of(Outlet::EventReport).empty());
    }
    EventCapture allowing;
    journal::Clear();
    EXPECT_TRUE(Entry()(KivModule(), DLL_THREAD_DETACH, nullptr));
    ASSERT_EQ(1u, journal::Of(Outlet::EventRegister).size());
    EXPECT_TRUE(journal::Of(Outlet::EventReport).empty()) << "the report came before the registration";
    journal::Clear();
    EXPECT_TRUE(Entry()(KivModule(), DLL_THREAD_ATTACH, nullptr));
    std::vector<JournalEntry> reports = journal::Of(Outlet::EventReport);
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(EventCapture::FakeHandle(), reports[0].handle);
    EXPECT_TRUE(journal::Of(Outlet::EventRegister).empty());
    // Leave through a detach while the fake source is still in place.
    Entry()(KivModule(), DLL_PROCESS_DETACH, nullptr);
}

TEST_F(EntryPointTest, ReasonAboveThreeOnlyReports)
{
    static const DWORD reasons[] = {4, 7, 0xFFFFFFFF};
    for (DWORD reason : reasons) {
        SCOPED_TRACE(reason);
        DebugCapture debug;
        EventCapture events;
        journal::Clear();
        EXPECT_TRUE(Entry()(KivModule(), reason, nullptr));
        EXPECT_EQ(4u, journal::Of(Outlet::Debug).size());
        EXPECT_EQ(1u, journal::Of(Outlet::EventReport).size());
        EXPECT_TRUE(journal::Of(Outlet::EventRegister).empty());
        EXPECT_TRUE(journal::Of(Outlet::EventDeregister).empty());
    }
}

TEST_F(EntryPointTest, DetachReportsThenDeregisters)
{
    DebugCapture debug;
    EventCapture events;
    journal::Clear();
    EXPECT_TRUE(Entry()(KivModule(), DLL_PROCESS_DETACH, nullptr));
    std::vector<JournalEntry> all = journal::Entries();
    ASSERT_EQ(6u, all.size());
    ExpectReportPieces(all, 0, ENTRY_MESSAGE, all[2].text);
    EXPECT_EQ(Outlet::EventReport, all[4].outlet);
    EXPECT_EQ(Outlet::EventDeregister, all[5].outlet);
    EXPECT_EQ(all[4].handle, all[5].handle);
    // The next call finds no source and registers anew.
    journal::Clear();
    EXPECT_TRUE(Entry()(KivModule(), DLL_THREAD_ATTACH, nullptr));
    EXPECT_TRUE(journal::Of(Outlet::EventReport).empty());
    EXPECT_EQ(1u, journal::Of(Outlet::EventRegister).size());
    Entry()(KivModule(), DLL_PROCESS_DETACH, nullptr);
}

} // namespace
