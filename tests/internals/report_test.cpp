// The diagnostic reporter, linked into the test program: the order of its
// outlets and what each receives.
#include <gtest/gtest.h>

#include "capture.h"
#include "frame/frame.h"

namespace {

class ReporterTest : public ::testing::Test {
protected:
    void SetUp() override { journal::Clear(); }
    void TearDown() override { LibraryEventSource = NULL; }
    HMODULE self_ = GetModuleHandleA(NULL);
};

TEST_F(ReporterTest, BoxComesAfterTheDebuggerLineAndBeforeTheRecord)
{
    DebugCapture debug(self_);
    BoxCapture boxes(self_);
    EventCapture events(self_);
    LibraryEventSource = EventCapture::FakeHandle();
    SetLastError(ERROR_SERVICE_EXISTS);
    ReportLastError(1, "Creating service");

    std::vector<JournalEntry> all = journal::Entries();
    ASSERT_EQ(6u, all.size());
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(Outlet::Debug, all[i].outlet) << i;
    EXPECT_EQ("Creating service", all[0].text);
    ASSERT_EQ(Outlet::Box, all[4].outlet);
    EXPECT_EQ("Creating service", all[4].caption);
    EXPECT_EQ(all[2].text, all[4].text);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONWARNING), all[4].style);
    ASSERT_EQ(Outlet::EventReport, all[5].outlet);
    EXPECT_EQ(EventCapture::FakeHandle(), all[5].handle);
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, all[5].type);
    ASSERT_EQ(2u, all[5].strings.size());
    EXPECT_EQ("Creating service", all[5].strings[0]);
    EXPECT_EQ(all[2].text, all[5].strings[1]);
    EXPECT_NE(std::string::npos, all[2].text.find("exists")) << all[2].text;
}

// Only the exact value "1" makes a quiet run, and it takes only the box away.
TEST_F(ReporterTest, QuietRunLeavesOutOnlyTheBox)
{
    const struct {
        const char *value; // NULL: not set
        size_t boxes;
    } rows[] = {{NULL, 1}, {"1", 0}, {"0", 1}, {"", 1}, {"11", 1}, {" 1", 1}};
    DebugCapture debug(self_);
    BoxCapture boxes(self_);
    EventCapture events(self_);
    LibraryEventSource = EventCapture::FakeHandle();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.value ? std::string("KIV_INST_QUIET=\"") + row.value + "\"" : "unset");
        journal::Clear();
        SetEnvironmentVariableA("KIV_INST_QUIET", row.value);
        SetLastError(ERROR_SERVICE_EXISTS);
        ReportLastError(1, "Creating service");
        SetEnvironmentVariableA("KIV_INST_QUIET", NULL);
        EXPECT_EQ(4u, journal::Of(Outlet::Debug).size());
        EXPECT_EQ(row.boxes, journal::Of(Outlet::Box).size());
        ASSERT_EQ(1u, journal::Of(Outlet::EventReport).size());
        EXPECT_EQ(Outlet::EventReport, journal::Entries().back().outlet) << "the record comes last";
    }
}

TEST_F(ReporterTest, NoBoxWhenNotAskedAndNoRecordWithoutSource)
{
    DebugCapture debug(self_);
    BoxCapture boxes(self_);
    EventCapture events(self_);
    LibraryEventSource = NULL;
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError(0, "Opening service database");
    EXPECT_EQ(4u, journal::Of(Outlet::Debug).size());
    EXPECT_TRUE(journal::Of(Outlet::Box).empty());
    EXPECT_TRUE(journal::Of(Outlet::EventReport).empty());
}

TEST_F(ReporterTest, CodeWithoutSystemTextReportsAnEmptyText)
{
    DebugCapture debug(self_);
    BoxCapture boxes(self_);
    EventCapture events(self_);
    LibraryEventSource = EventCapture::FakeHandle();
    SetLastError(0x2000FFFF);
    ReportLastError(1, "Starting service");
    std::vector<JournalEntry> lines = journal::Of(Outlet::Debug);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("", lines[2].text);
    ASSERT_EQ(1u, journal::Of(Outlet::Box).size());
    EXPECT_EQ("", journal::Of(Outlet::Box)[0].text);
    ASSERT_EQ(1u, journal::Of(Outlet::EventReport).size());
    EXPECT_EQ("", journal::Of(Outlet::EventReport)[0].strings[1]);
}

TEST_F(ReporterTest, InsertSequencesStayUnexpanded)
{
    // ERROR_BAD_EXE_FORMAT's text holds "%1".
    DebugCapture debug(self_);
    SetLastError(ERROR_BAD_EXE_FORMAT);
    ReportLastError(0, "Starting service");
    std::vector<JournalEntry> lines = journal::Of(Outlet::Debug);
    ASSERT_EQ(4u, lines.size());
    EXPECT_NE(std::string::npos, lines[2].text.find("%1")) << lines[2].text;
}

} // namespace
