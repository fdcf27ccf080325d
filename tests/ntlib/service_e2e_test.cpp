// Stop, removal and the running test against real services of the test
// fixture, under the system's service control manager.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "kiv_inst.h"
#include "nt_bench.h"
#include "ntlib/kiv_nt.h"
#include "test_service.h"

namespace {

struct Record {
    WORD type;
    std::string message;
};

// The caller's message out of each record text (its fifth line).
std::vector<Record> RecordsWritten()
{
    std::vector<Record> out;
    for (const JournalEntry &e : journal::Of(Outlet::EventReport)) {
        const std::string text = e.strings.empty() ? std::string() : e.strings[0];
        size_t a = text.find("\r\n\r\n");
        size_t b = a == std::string::npos ? a : text.find("\r\n\r\n", a + 4);
        size_t c = b == std::string::npos ? b : text.find("\r\n\r\n", b + 4);
        out.push_back({e.type, c == std::string::npos ? text : text.substr(b + 4, c - b - 4)});
    }
    return out;
}

class ServiceEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(drive_.ready());
        journal::Clear();
    }
    LogDrive drive_;
    EventCapture events_{Self()};
};

TEST_F(ServiceEndToEnd, StopsARunningServiceThenCountsTheStoppedOneAsStopped)
{
    TestService service("normal");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.StartAndWaitFor(SERVICE_RUNNING));
    EXPECT_EQ(1, ServiceIsRunning(service.c_name()));

    EXPECT_EQ(1, KIV_NT_StopService(service.c_name()));
    ASSERT_TRUE(WaitForServiceState(service.name(), SERVICE_STOPPED, 10000));
    EXPECT_EQ(0, ServiceIsRunning(service.c_name()));

    // Stopped already: the manager refuses the control and says stopped.
    EXPECT_EQ(1, KIV_NT_StopService(service.c_name()));
    std::vector<Record> records = RecordsWritten();
    std::string stopped = "KIV_NT_StopService: Service " + service.name() + " stopped.";
    ASSERT_EQ(2u, records.size());
    for (const Record &r : records) {
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, r.type);
        EXPECT_EQ(stopped, r.message);
    }
}

TEST_F(ServiceEndToEnd, RemovesARunningServiceThatRefusesToStop)
{
    TestService service("nostop");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.StartAndWaitFor(SERVICE_RUNNING));
    EXPECT_EQ(1, KIV_NT_RemoveService(service.c_name()));
    std::vector<Record> records = RecordsWritten();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, records[0].type);
    EXPECT_EQ("KIV_NT_RemoveService(" + service.name() + "): ControlService", records[0].message);
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, records[1].type);
    EXPECT_EQ("KIV_NT_RemoveService: Removed service " + service.name() + ".\n", records[1].message);
}

TEST_F(ServiceEndToEnd, RemovesAStopPendingServiceWithoutAStopControl)
{
    TestService service("stoppending");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.StartAndWaitFor(SERVICE_RUNNING));
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE handle = OpenServiceA(manager, service.c_name(), SERVICE_STOP);
    SERVICE_STATUS status = {};
    ControlService(handle, SERVICE_CONTROL_STOP, &status);
    CloseServiceHandle(handle);
    CloseServiceHandle(manager);
    ASSERT_TRUE(WaitForServiceState(service.name(), SERVICE_STOP_PENDING, 10000));
    journal::Clear();

    EXPECT_EQ(1, KIV_NT_RemoveService(service.c_name()));
    // A stop control would have been refused (1061) and reported.
    std::vector<Record> records = RecordsWritten();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("KIV_NT_RemoveService: Removed service " + service.name() + ".\n", records[0].message);
}

// The service's own hint of 0xFFFFFFFF would hold the database lock for 49
// days; the stop waits 30 seconds (recorded, not waited) and goes on.
TEST_F(ServiceEndToEnd, StopWaitsAtMost30SecondsForAPendingServicesHint)
{
    TestService service("hugehint");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.StartAndWaitFor(SERVICE_START_PENDING));
    SleepCapture pauses(Self());
    KIV_NT_StopService(service.c_name());
    std::vector<JournalEntry> slept = journal::Of(Outlet::Sleep);
    ASSERT_EQ(1u, slept.size());
    EXPECT_EQ(30000u, slept[0].milliseconds);
    EXPECT_EQ(1u, RecordsWritten().size());
}

TEST_F(ServiceEndToEnd, RunningTestIsSilentForStoppedAndMissingServices)
{
    TestService service("normal");
    ASSERT_TRUE(service.installed());
    EXPECT_EQ(0, ServiceIsRunning(service.c_name()));
    EXPECT_EQ(0, ServiceIsRunning(UniqueServiceName().c_str()));
    EXPECT_TRUE(RecordsWritten().empty());
}

} // namespace
