// The service exports against real services of the kivtestsvc fixture
// under the system's service control manager. Every call the library makes
// is traced (and passed through); boxes are captured, never shown. Pauses
// really wait in the tests named "...Waits..."; elsewhere they are recorded
// and return at once, which is safe where the outcome does not hang on
// timing (a service that never runs or never stops).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kiv_inst.h"
#include "process.h"
#include "scm_session.h"
#include "test_service.h"

namespace {

const bool REAL_PAUSES = false;

// What the manager says about a service, read past the library.
struct Config {
    bool found = false;
    std::string displayName, binaryPath;
    DWORD type = 0, start = 0, errorControl = 0;
};

Config ReadConfig(const std::string &name)
{
    Config c;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return c;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG);
    if (service != NULL) {
        DWORD needed = 0;
        QueryServiceConfigA(service, NULL, 0, &needed);
        std::vector<BYTE> buffer(needed + 1);
        QUERY_SERVICE_CONFIGA *config = (QUERY_SERVICE_CONFIGA *)buffer.data();
        if (needed && QueryServiceConfigA(service, config, needed, &needed)) {
            c.found = true;
            c.displayName = config->lpDisplayName ? config->lpDisplayName : "";
            c.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : "";
            c.type = config->dwServiceType;
            c.start = config->dwStartType;
            c.errorControl = config->dwErrorControl;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return c;
}

// Whether the name can still be opened, and with which error when not.
DWORD OpenError(const std::string &name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return GetLastError();
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    DWORD error = service ? 0 : GetLastError();
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

TEST(ServiceEndToEnd, CreateGivesTheNameAsDisplayNameAndDoesNotStart)
{
    TestService svc("normal", NULL, SERVICE_DEMAND_START, false);
    std::string command = TestServiceCommand("normal");
    ScmSession session(nullptr);
    EXPECT_EQ(1, ServiceCreate(svc.c_name(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                               command.c_str(), NULL, NULL));
    Trace expected = {OPEN_MANAGER,
                      "CreateServiceA(manager, " + svc.name() + ", " + svc.name() +
                          ", 0xf01ff, 0x10, 0x3, 0x1, " + command + ", null, null, null, null, null)",
                      CLOSE_SERVICE, CLOSE_MANAGER};
    EXPECT_EQ(expected, session.trace());

    Config config = ReadConfig(svc.name());
    ASSERT_TRUE(config.found);
    EXPECT_EQ(svc.name(), config.displayName);
    EXPECT_EQ(command, config.binaryPath);
    EXPECT_EQ((DWORD)SERVICE_WIN32_OWN_PROCESS, config.type);
    EXPECT_EQ((DWORD)SERVICE_DEMAND_START, config.start);
    EXPECT_EQ((DWORD)SERVICE_ERROR_NORMAL, config.errorControl);
    EXPECT_EQ((DWORD)SERVICE_STOPPED, svc.state()) << "created services are not started";
}

TEST(ServiceEndToEnd, CreateOfAnInstalledNameBoxesWithTheSystemText)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.installed());
    std::string command = TestServiceCommand("nostop");
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceCreate(svc.c_name(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                               command.c_str(), NULL, NULL));
    Trace trace = session.trace();
    ASSERT_EQ(5u, trace.size());
    EXPECT_EQ(ReportEntry(CREATING, ERROR_SERVICE_EXISTS), trace[2]);
    EXPECT_EQ(BoxEntry(CREATING, ERROR_SERVICE_EXISTS), trace[3]);
    EXPECT_EQ(CLOSE_MANAGER, trace[4]);
    // The installed service keeps its own configuration.
    EXPECT_EQ(TestServiceCommand("normal"), ReadConfig(svc.name()).binaryPath);
}

TEST(ServiceEndToEnd, StartWaitsOnePauseForAServiceThatRunsAtOnce)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.installed());
    ScmSession session(nullptr, REAL_PAUSES);
    EXPECT_EQ(1, ServiceStart(svc.c_name()));
    Trace expected = {OPEN_MANAGER, OpenServiceEntry(svc.name()), START, PAUSE, QUERY, LINE_RUNNING, CLOSE_SERVICE,
                      CLOSE_MANAGER};
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ((DWORD)SERVICE_RUNNING, svc.state());
}

TEST(ServiceEndToEnd, StartWaitsOnePauseForARunningServiceAndReportsTheRefusalWithoutBox)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.StartAndWaitFor(SERVICE_RUNNING));
    ScmSession session(nullptr, REAL_PAUSES);
    EXPECT_EQ(1, ServiceStart(svc.c_name()));
    Trace expected = {OPEN_MANAGER, OpenServiceEntry(svc.name()), START, ReportEntry(STARTING, ERROR_SERVICE_ALREADY_RUNNING),
                      PAUSE, QUERY, LINE_RUNNING, CLOSE_SERVICE, CLOSE_MANAGER};
    EXPECT_EQ(expected, session.trace());
}

TEST(ServiceEndToEnd, DeleteWaitsOnePauseToStopARunningServiceAndRemovesIt)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.StartAndWaitFor(SERVICE_RUNNING));
    ScmSession session(nullptr, REAL_PAUSES);
    EXPECT_EQ(1, ServiceDelete(svc.c_name()));
    Trace expected = {OPEN_MANAGER, OpenServiceEntry(svc.name()), STOP, PAUSE, QUERY, DELETE_CALL, CLOSE_SERVICE,
                      CLOSE_MANAGER};
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, OpenError(svc.name()));
}

TEST(ServiceEndToEnd, DeleteWaitsOnePauseForAStoppedServiceAndReportsTheRefusedStop)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.installed());
    ScmSession session(nullptr, REAL_PAUSES);
    EXPECT_EQ(1, ServiceDelete(svc.c_name()));
    Trace expected = {OPEN_MANAGER, OpenServiceEntry(svc.name()), STOP, ReportEntry(STOPPING, ERROR_SERVICE_NOT_ACTIVE),
                      PAUSE, QUERY, DELETE_CALL, CLOSE_SERVICE, CLOSE_MANAGER};
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, OpenError(svc.name()));
}

// An upgrade's stop: the service stays registered and starts again. A second
// stop finds it stopped and answers at once.
TEST(ServiceEndToEnd, StopWaitsOnePauseAndKeepsTheServiceForTheNextStart)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.StartAndWaitFor(SERVICE_RUNNING));
    {
        ScmSession session(nullptr, REAL_PAUSES);
        EXPECT_EQ(1, ServiceStop(svc.c_name()));
        Trace expected = {OPEN_MANAGER, OpenServiceEntry(svc.name()), QUERY, STOP, PAUSE, QUERY, CLOSE_SERVICE,
                          CLOSE_MANAGER};
        EXPECT_EQ(expected, session.trace());
    }
    EXPECT_EQ((DWORD)SERVICE_STOPPED, svc.state());
    EXPECT_EQ(1, ServiceExists(svc.c_name()));
    {
        ScmSession session(nullptr);
        EXPECT_EQ(1, ServiceStop(svc.c_name()));
        Trace expected = {OPEN_MANAGER, OpenServiceEntry(svc.name()), QUERY, CLOSE_SERVICE, CLOSE_MANAGER};
        EXPECT_EQ(expected, session.trace());
        EXPECT_TRUE(OnThisThread(Outlet::Sleep).empty()) << "no pause for a stopped service";
    }
    ScmSession session(nullptr, REAL_PAUSES);
    EXPECT_EQ(1, ServiceStart(svc.c_name()));
    EXPECT_EQ((DWORD)SERVICE_RUNNING, svc.state());
}

TEST(ServiceEndToEnd, ExistsOnAMissingNameWritesOneLineAndOneRecordWithoutBox)
{
    std::string name = UniqueServiceName();
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceExists(name.c_str()));
    Trace expected = {OPEN_MANAGER, OpenServiceEntry(name),
                      ReportEntry(OPEN_HANDLE, ERROR_SERVICE_DOES_NOT_EXIST), CLOSE_MANAGER};
    EXPECT_EQ(expected, session.trace());

    std::string line;
    for (const JournalEntry &e : OnThisThread(Outlet::Debug))
        line += e.text;
    EXPECT_EQ(std::string(OPEN_HANDLE) + ": " + SystemText(ERROR_SERVICE_DOES_NOT_EXIST) + " \n", line);
    EXPECT_TRUE(OnThisThread(Outlet::Box).empty());
    std::vector<JournalEntry> records = OnThisThread(Outlet::EventReport);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, records[0].type);
    EXPECT_EQ(0, records[0].category);
    EXPECT_EQ(0u, records[0].eventId);
    EXPECT_FALSE(records[0].hasSid);
    EXPECT_EQ((std::vector<std::string>{OPEN_HANDLE, SystemText(ERROR_SERVICE_DOES_NOT_EXIST)}),
              records[0].strings);
}

TEST(ServiceEndToEnd, ExistsOnAnInstalledServiceIsSilent)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.installed());
    ScmSession session(nullptr);
    EXPECT_EQ(1, ServiceExists(svc.c_name()));
    Trace expected = {OPEN_MANAGER, OpenServiceEntry(svc.name()), CLOSE_SERVICE, CLOSE_MANAGER};
    EXPECT_EQ(expected, session.trace());
    EXPECT_TRUE(OnThisThread(Outlet::Debug).empty());
    EXPECT_TRUE(OnThisThread(Outlet::EventReport).empty());
}

TEST(ServiceEndToEnd, NullNameIsRefusedWithoutCrashing)
{
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceExists(NULL));
    EXPECT_EQ(0, ServiceStart(NULL));
    EXPECT_EQ(0, ServiceDelete(NULL));
    EXPECT_EQ(0, ServiceStop(NULL));
    EXPECT_TRUE(OnThisThread(Outlet::Sleep).empty());
}

// ---- outcomes that do not hang on timing: pauses recorded only -------------

TEST(ServiceEndToEnd, StartOfAServiceThatStaysStartPendingGivesUpAfterFiveRequests)
{
    TestService svc("slowstart", "30000");
    ASSERT_TRUE(svc.installed());
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceStart(svc.c_name()));
    Trace refusedPass = {START, ReportEntry(STARTING, ERROR_SERVICE_ALREADY_RUNNING), PAUSE, QUERY};
    Trace expected = Cat({{OPEN_MANAGER, OpenServiceEntry(svc.name()), START, PAUSE, QUERY}, Repeat(4, refusedPass),
                          {ReportEntry(STARTING, ERROR_SERVICE_ALREADY_RUNNING),
                           BoxEntry(STARTING, ERROR_SERVICE_ALREADY_RUNNING), LINE_NOT_RUNNING, CLOSE_SERVICE,
                           CLOSE_MANAGER}});
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ(5u, OnThisThread(Outlet::Sleep).size());
    // No stop is sent: the service is still on its way up.
    EXPECT_EQ((DWORD)SERVICE_START_PENDING, svc.state());
}

TEST(ServiceEndToEnd, StartOfADisabledServiceReportsEveryRequest)
{
    TestService svc("normal", NULL, SERVICE_DISABLED);
    ASSERT_TRUE(svc.installed());
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceStart(svc.c_name()));
    Trace pass = {START, ReportEntry(STARTING, ERROR_SERVICE_DISABLED), PAUSE, QUERY};
    Trace expected = Cat({{OPEN_MANAGER, OpenServiceEntry(svc.name())}, Repeat(5, pass),
                          {ReportEntry(STARTING, ERROR_SERVICE_DISABLED), BoxEntry(STARTING, ERROR_SERVICE_DISABLED),
                           LINE_NOT_RUNNING, CLOSE_SERVICE, CLOSE_MANAGER}});
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ((DWORD)SERVICE_STOPPED, svc.state());
}

TEST(ServiceEndToEnd, DeleteOfAServiceThatRefusesTheStopLeavesItInstalled)
{
    TestService svc("nostop");
    ASSERT_TRUE(svc.StartAndWaitFor(SERVICE_RUNNING));
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceDelete(svc.c_name()));
    Trace pass = {STOP, ReportEntry(STOPPING, ERROR_INVALID_SERVICE_CONTROL), PAUSE, QUERY};
    Trace expected = Cat({{OPEN_MANAGER, OpenServiceEntry(svc.name())}, Repeat(5, pass),
                          {ReportEntry(STOPPING, ERROR_INVALID_SERVICE_CONTROL),
                           BoxEntry(STOPPING, ERROR_INVALID_SERVICE_CONTROL), CLOSE_SERVICE, CLOSE_MANAGER}});
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ((DWORD)SERVICE_RUNNING, svc.state());
    EXPECT_EQ(0u, OpenError(svc.name())) << "not deleted";
}

TEST(ServiceEndToEnd, DeleteOfAServiceThatStaysStopPendingLeavesItInstalled)
{
    TestService svc("stoppending", "30000");
    ASSERT_TRUE(svc.StartAndWaitFor(SERVICE_RUNNING));
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceDelete(svc.c_name()));
    Trace refusedPass = {STOP, ReportEntry(STOPPING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL), PAUSE, QUERY};
    Trace expected = Cat({{OPEN_MANAGER, OpenServiceEntry(svc.name()), STOP, PAUSE, QUERY}, Repeat(4, refusedPass),
                          {ReportEntry(STOPPING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL),
                           BoxEntry(STOPPING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL), CLOSE_SERVICE, CLOSE_MANAGER}});
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ((DWORD)SERVICE_STOP_PENDING, svc.state());
    EXPECT_EQ(0u, OpenError(svc.name())) << "not deleted";
}

TEST(ServiceEndToEnd, StopOfAServiceThatRefusesTheStopBoxesAndLeavesItRunning)
{
    TestService svc("nostop");
    ASSERT_TRUE(svc.StartAndWaitFor(SERVICE_RUNNING));
    ScmSession session(nullptr);
    EXPECT_EQ(0, ServiceStop(svc.c_name()));
    Trace pass = {STOP, ReportEntry(STOPPING, ERROR_INVALID_SERVICE_CONTROL), PAUSE, QUERY};
    Trace expected = Cat({{OPEN_MANAGER, OpenServiceEntry(svc.name()), QUERY}, Repeat(5, pass),
                          {ReportEntry(STOPPING, ERROR_INVALID_SERVICE_CONTROL),
                           BoxEntry(STOPPING, ERROR_INVALID_SERVICE_CONTROL), CLOSE_SERVICE, CLOSE_MANAGER}});
    EXPECT_EQ(expected, session.trace());
    EXPECT_EQ((DWORD)SERVICE_RUNNING, svc.state());
}

// ---- the one full five-pass wait ----------------------------------------------

TEST(ServiceEndToEnd, StartWaitsFivePausesForAServiceThatStopsAgainAfterEachStart)
{
    TestService svc("flapping");
    ASSERT_TRUE(svc.installed());
    ScmSession session(nullptr, REAL_PAUSES);
    EXPECT_EQ(0, ServiceStart(svc.c_name()));
    Trace trace = session.trace();
    // Every pass asks again and finds it stopped; the box carries whatever
    // the last query left. A request may itself fail (a loaded machine lets
    // the manager's own wait for the new process run out): that pass then
    // holds the report of that request, without a box.
    const std::string report = std::string("report ") + STARTING;
    Trace head = {OPEN_MANAGER, OpenServiceEntry(svc.name())};
    ASSERT_GE(trace.size(), head.size());
    EXPECT_EQ(head, Trace(trace.begin(), trace.begin() + head.size())) << ::testing::PrintToString(trace);
    size_t at = head.size();
    for (int pass = 0; pass < 5; pass++) {
        ASSERT_LT(at, trace.size()) << "pass " << pass << ": " << ::testing::PrintToString(trace);
        EXPECT_EQ(START, trace[at++]) << "pass " << pass;
        if (at < trace.size() && trace[at].rfind(report, 0) == 0)
            at++;
        ASSERT_LE(at + 2, trace.size()) << "pass " << pass << ": " << ::testing::PrintToString(trace);
        EXPECT_EQ(PAUSE, trace[at++]) << "pass " << pass;
        EXPECT_EQ(QUERY, trace[at++]) << "pass " << pass;
    }
    ASSERT_EQ(at + 5, trace.size()) << ::testing::PrintToString(trace);
    EXPECT_EQ(0u, trace[at].rfind(report, 0)) << trace[at];
    EXPECT_EQ(0u, trace[at + 1].rfind(std::string("box ") + STARTING, 0)) << trace[at + 1];
    EXPECT_EQ(LINE_NOT_RUNNING, trace[at + 2]);
    EXPECT_EQ(CLOSE_SERVICE, trace[at + 3]);
    EXPECT_EQ(CLOSE_MANAGER, trace[at + 4]);
}

// ---- the host program ------------------------------------------------------------

TEST(ServiceEndToEnd, HostCreatesStartsTestsAndDeletesAService)
{
    TestService svc("normal", NULL, SERVICE_DEMAND_START, false);
    std::string host = "\"" + BinPath("kivhost.exe") + "\"";
    std::string command = TestServiceCommand("normal");
    // The path goes through kivhost's own command line, quotes escaped.
    std::string quotedPath = "\"";
    for (char c : command)
        quotedPath += c == '"' ? std::string("\\\"") : std::string(1, c);
    quotedPath += "\"";
    ChildRun run = RunProcess(host + " --trace ServiceCreate " + svc.name() + " 0x10 3 " + quotedPath +
                              " ServiceExists " + svc.name() + " ServiceStart " + svc.name() +
                              " ServiceDelete " + svc.name() + " ServiceExists " + svc.name());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    const char *const results[] = {"ServiceCreate -> 1\n", "ServiceExists -> 1\n",
                                   "debug: ssStatus.dwCurrentState == SERVICE_RUNNING\n", "ServiceStart -> 1\n",
                                   "ServiceDelete -> 1\n", "debug: Opening service handle: ",
                                   "ServiceExists -> 0\n"};
    size_t at = 0;
    std::string output;
    for (char c : run.output)
        if (c != '\r')
            output += c;
    for (const char *expected : results) {
        SCOPED_TRACE(expected);
        size_t found = output.find(expected, at);
        ASSERT_NE(std::string::npos, found) << output;
        at = found + 1;
    }
    // Started from the path as given, so it reached the library whole.
    EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, OpenError(svc.name()));
}

// A deployment running as SYSTEM: a window station that nobody sees. The
// failing create reports as if its box had been answered, and the drive
// chooser ends as a dialog that could not be made, both at once; a box on that
// station would hold kivhost until kivstation's time-out.
TEST(ServiceEndToEnd, HostOnAnInvisibleStationShowsNoBoxAndNoDialog)
{
    TestService svc("normal");
    ASSERT_TRUE(svc.installed());
    std::string station = "\"" + BinPath("kivstation.exe") + "\" 20000 ";
    std::string host = "\"" + BinPath("kivhost.exe") + "\"";
    ChildRun run = RunProcess(station + host + " --trace ServiceCreate " + svc.name() +
                              " 0x10 3 C:\\svc.exe AskDrive 1 Setup Pick");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    for (const char *expected : {"debug: Creating service: ", "ServiceCreate -> 0", "AskDrive -> -1"})
        EXPECT_NE(std::string::npos, run.output.find(expected)) << expected << "\n" << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("timed out")) << run.output;
}

TEST(ServiceEndToEnd, HostRefusesTypesThatAreNotNumbersAndCreatesNothing)
{
    std::string name = UniqueServiceName();
    std::string host = "\"" + BinPath("kivhost.exe") + "\"";
    const char *const badNumbers[][2] = {{"sixteen", "3"}, {"0x10", "3x"}, {"-16", "3"}, {"0x", "3"},
                                         {"16", "0x100000000"}};
    for (const auto &numbers : badNumbers) {
        SCOPED_TRACE(std::string(numbers[0]) + " " + numbers[1]);
        ChildRun run = RunProcess(host + " ServiceCreate " + name + " " + numbers[0] + " " + numbers[1] +
                                  " C:\\svc.exe");
        ASSERT_TRUE(run.started);
        EXPECT_EQ(2u, run.exitCode) << run.output;
        EXPECT_EQ(std::string::npos, run.output.find("ServiceCreate ->")) << run.output;
    }
    EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, OpenError(name));
}

} // namespace
