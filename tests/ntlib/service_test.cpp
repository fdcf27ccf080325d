// Stopping and removing services under the database lock, and the state
// queries: the records each path writes, and that every handle and the lock
// are given back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "kiv_inst.h"
#include "nt_bench.h"
#include "ntlib/kiv_nt.h"

namespace {

// ---- a spy on the service control manager imports ----------------------

struct Spy {
    std::vector<std::string> calls;
    int openManagers = 0, closes = 0, openServices = 0, locks = 0, unlocks = 0;
    // Query: 0 passes through; otherwise the state to report (with waitHint),
    // or queryFails.
    DWORD fakeState = 0, waitHint = 0;
    bool queryFails = false;
    // Control: controlError nonzero refuses with that code; controlFills
    // says whether the refusal fills the status (with controlState).
    DWORD controlError = 0;
    bool controlFills = false;
    DWORD controlState = SERVICE_STOPPED;
    bool closeServiceFails = false, closeManagerFails = false;
} g_spy;

std::vector<std::unique_ptr<ImportHook>> g_hooks;
void *g_original[16];

enum { OPEN_MANAGER, CLOSE, OPEN_SERVICE, LOCK, UNLOCK, QUERY, CONTROL, REMOVE, SLEEP };

SC_HANDLE g_manager;

SC_HANDLE WINAPI SpyOpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access)
{
    g_spy.calls.push_back("OpenSCManager");
    SC_HANDLE h = ((SC_HANDLE(WINAPI *)(LPCSTR, LPCSTR, DWORD))g_original[OPEN_MANAGER])(machine, database, access);
    if (h != NULL) {
        g_spy.openManagers++;
        g_manager = h;
    }
    return h;
}

SC_HANDLE WINAPI SpyOpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access)
{
    g_spy.calls.push_back("OpenService");
    SC_HANDLE h = ((SC_HANDLE(WINAPI *)(SC_HANDLE, LPCSTR, DWORD))g_original[OPEN_SERVICE])(manager, name, access);
    if (h != NULL)
        g_spy.openServices++;
    return h;
}

BOOL WINAPI SpyCloseServiceHandle(SC_HANDLE h)
{
    bool isManager = h == g_manager;
    g_spy.calls.push_back(isManager ? "CloseManager" : "CloseService");
    BOOL ok = ((BOOL(WINAPI *)(SC_HANDLE))g_original[CLOSE])(h);
    if (ok)
        g_spy.closes++;
    if ((isManager && g_spy.closeManagerFails) || (!isManager && g_spy.closeServiceFails)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return ok;
}

SC_LOCK WINAPI SpyLockServiceDatabase(SC_HANDLE manager)
{
    g_spy.calls.push_back("Lock");
    SC_LOCK lock = ((SC_LOCK(WINAPI *)(SC_HANDLE))g_original[LOCK])(manager);
    if (lock != NULL)
        g_spy.locks++;
    return lock;
}

BOOL WINAPI SpyUnlockServiceDatabase(SC_LOCK lock)
{
    g_spy.calls.push_back("Unlock");
    g_spy.unlocks++;
    return ((BOOL(WINAPI *)(SC_LOCK))g_original[UNLOCK])(lock);
}

BOOL WINAPI SpyQueryServiceStatus(SC_HANDLE service, SERVICE_STATUS *status)
{
    g_spy.calls.push_back("Query");
    if (g_spy.queryFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    BOOL ok = ((BOOL(WINAPI *)(SC_HANDLE, SERVICE_STATUS *))g_original[QUERY])(service, status);
    if (ok && g_spy.fakeState != 0) {
        status->dwCurrentState = g_spy.fakeState;
        status->dwWaitHint = g_spy.waitHint;
    }
    return ok;
}

BOOL WINAPI SpyControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS *status)
{
    g_spy.calls.push_back("Control");
    if (g_spy.controlError != 0) {
        if (g_spy.controlFills) {
            ZeroMemory(status, sizeof(*status));
            status->dwCurrentState = g_spy.controlState;
        }
        SetLastError(g_spy.controlError);
        return FALSE;
    }
    return ((BOOL(WINAPI *)(SC_HANDLE, DWORD, SERVICE_STATUS *))g_original[CONTROL])(service, control, status);
}

BOOL WINAPI SpyDeleteService(SC_HANDLE service)
{
    g_spy.calls.push_back("Delete");
    return ((BOOL(WINAPI *)(SC_HANDLE))g_original[REMOVE])(service);
}

void WINAPI SpySleep(DWORD ms)
{
    g_spy.calls.push_back("Sleep " + std::to_string(ms));
}

void Hook(int slot, const char *name, void *replacement)
{
    g_hooks.emplace_back(new ImportHook(Self(), NULL, name, replacement));
    g_original[slot] = g_hooks.back()->original();
}

// The test's own calls go straight to advapi32, past the spied imports that
// the support library shares with this program.
struct Direct {
    HMODULE dll = GetModuleHandleA("advapi32.dll");
    decltype(&OpenSCManagerA) openManager = (decltype(&OpenSCManagerA))(void *)GetProcAddress(dll, "OpenSCManagerA");
    decltype(&OpenServiceA) openService = (decltype(&OpenServiceA))(void *)GetProcAddress(dll, "OpenServiceA");
    decltype(&CreateServiceA) create = (decltype(&CreateServiceA))(void *)GetProcAddress(dll, "CreateServiceA");
    decltype(&DeleteService) remove = (decltype(&DeleteService))(void *)GetProcAddress(dll, "DeleteService");
    decltype(&CloseServiceHandle) close = (decltype(&CloseServiceHandle))(void *)GetProcAddress(dll, "CloseServiceHandle");
};

// A service of the test's own, created stopped and deleted again at the end.
class TestService {
public:
    explicit TestService(const char *tag)
    {
        name_ = "KivTestStop_" + std::to_string(GetCurrentProcessId()) + "_" + tag;
        SC_HANDLE manager = d_.openManager(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        std::string binary = "\"" + BinPath("kivhost.exe") + "\"";
        SC_HANDLE service = d_.create(manager, name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                           SERVICE_ERROR_NORMAL, binary.c_str(), NULL, NULL, NULL, NULL, NULL);
        created_ = service != NULL;
        if (service)
            d_.close(service);
        d_.close(manager);
    }
    ~TestService()
    {
        SC_HANDLE manager = d_.openManager(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = d_.openService(manager, name_.c_str(), SERVICE_ALL_ACCESS);
        if (service) {
            d_.remove(service);
            d_.close(service);
        }
        d_.close(manager);
    }
    bool created() const { return created_; }
    const char *name() const { return name_.c_str(); }
    bool Exists() const
    {
        SC_HANDLE manager = d_.openManager(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = d_.openService(manager, name_.c_str(), SERVICE_QUERY_STATUS);
        if (service)
            d_.close(service);
        d_.close(manager);
        return service != NULL;
    }
private:
    Direct d_;
    std::string name_;
    bool created_ = false;
};

struct Record {
    WORD type, category;
    DWORD id;
    std::string message, errorText;
};

// The message and error text out of the record text's seven lines.
std::vector<Record> Records()
{
    std::vector<Record> out;
    for (const JournalEntry &e : journal::Of(Outlet::EventReport)) {
        Record r{e.type, e.category, e.eventId, "", ""};
        const std::string &text = e.strings.empty() ? std::string() : e.strings[0];
        size_t a = text.find("\r\n\r\n");
        size_t b = a == std::string::npos ? a : text.find("\r\n\r\n", a + 4);
        size_t c = b == std::string::npos ? b : text.find("\r\n\r\n", b + 4);
        if (c != std::string::npos) {
            r.message = text.substr(b + 4, c - b - 4);
            r.errorText = text.substr(c + 4, text.size() - c - 4 - 2);
        }
        out.push_back(r);
    }
    return out;
}

class ServiceStopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(drive_.ready());
        g_spy = Spy();
        Hook(OPEN_MANAGER, "OpenSCManagerA", (void *)SpyOpenSCManagerA);
        Hook(OPEN_SERVICE, "OpenServiceA", (void *)SpyOpenServiceA);
        Hook(CLOSE, "CloseServiceHandle", (void *)SpyCloseServiceHandle);
        Hook(LOCK, "LockServiceDatabase", (void *)SpyLockServiceDatabase);
        Hook(UNLOCK, "UnlockServiceDatabase", (void *)SpyUnlockServiceDatabase);
        Hook(QUERY, "QueryServiceStatus", (void *)SpyQueryServiceStatus);
        Hook(CONTROL, "ControlService", (void *)SpyControlService);
        Hook(REMOVE, "DeleteService", (void *)SpyDeleteService);
        Hook(SLEEP, "Sleep", (void *)SpySleep);
        for (auto &h : g_hooks)
            ASSERT_TRUE(h->installed());
        journal::Clear();
    }
    void TearDown() override
    {
        g_hooks.clear();
        // Nothing is left behind on any path.
        EXPECT_EQ(g_spy.locks, g_spy.unlocks);
        EXPECT_EQ(g_spy.openManagers + g_spy.openServices, g_spy.closes);
    }
    LogDrive drive_;
    EventCapture events_{Self()};
};

TEST_F(ServiceStopTest, MissingServiceIsAnOpenServiceErrorRecord)
{
    std::string name = "KivTestMissing_" + std::to_string(GetCurrentProcessId());
    struct Row {
        BOOLEAN (*routine)(const char *);
        const char *format;
    } rows[] = {{KIV_NT_StopService, "KIV_NT_StopService(%s): OpenService"},
                {KIV_NT_RemoveService, "KIV_NT_RemoveService(%s): OpenService"}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.format);
        journal::Clear();
        g_spy.calls.clear();
        EXPECT_EQ(0, row.routine(name.c_str()));
        std::vector<Record> records = Records();
        ASSERT_EQ(1u, records.size());
        char expected[256];
        snprintf(expected, sizeof(expected), row.format, name.c_str());
        EXPECT_EQ(expected, records[0].message);
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, records[0].type);
        EXPECT_EQ(5, records[0].category);
        EXPECT_EQ(21u, records[0].id);
        EXPECT_EQ(SystemText(ERROR_SERVICE_DOES_NOT_EXIST), records[0].errorText);
        std::vector<std::string> order = {"OpenSCManager", "Lock", "OpenService", "Unlock", "CloseManager"};
        EXPECT_EQ(order, g_spy.calls);
    }
}

TEST_F(ServiceStopTest, LockHeldElsewhereFailsAtOnce)
{
    FailingImport locked(Self(), NULL, "LockServiceDatabase", 4, 0, ERROR_SERVICE_DATABASE_LOCKED);
    ASSERT_TRUE(locked.installed());
    TestService service("lock");
    ASSERT_TRUE(service.created());
    EXPECT_EQ(0, KIV_NT_StopService(service.name()));
    EXPECT_EQ(0, KIV_NT_RemoveService(service.name()));
    EXPECT_EQ(2, locked.calls()) << "no retry";
    std::vector<Record> records = Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(std::string("KIV_NT_StopService(") + service.name() + "): LockServiceDatabase", records[0].message);
    EXPECT_EQ(std::string("KIV_NT_RemoveService(") + service.name() + "): LockServiceDatabase", records[1].message);
    EXPECT_EQ(SystemText(ERROR_SERVICE_DATABASE_LOCKED), records[0].errorText);
    EXPECT_EQ(0, g_spy.openServices);
    EXPECT_TRUE(service.Exists());
}

TEST_F(ServiceStopTest, StoppedServiceRefusesTheStopAndCountsAsStopped)
{
    TestService service("stopped");
    ASSERT_TRUE(service.created());
    EXPECT_EQ(1, KIV_NT_StopService(service.name()));
    std::vector<Record> records = Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, records[0].type);
    EXPECT_EQ(std::string("KIV_NT_StopService: Service ") + service.name() + " stopped.", records[0].message);
    EXPECT_EQ("", records[0].errorText);
    std::vector<std::string> order = {"OpenSCManager", "Lock", "OpenService", "Query", "Control",
                                      "CloseService", "Unlock", "CloseManager"};
    EXPECT_EQ(order, g_spy.calls);
}

TEST_F(ServiceStopTest, PendingServiceSleepsOnceForItsHintUpTo30SecondsWithTheLockHeld)
{
    TestService service("pending");
    ASSERT_TRUE(service.created());
    // A hint over 30 seconds is cut to 30 seconds: the lock is held meanwhile.
    const struct {
        DWORD hint;
        const char *sleep;
    } hints[] = {{30000, "Sleep 30000"}, {29999, "Sleep 29999"}, {0, "Sleep 0"},
                 {30001, "Sleep 30000"}, {0xFFFFFFFF, "Sleep 30000"}};
    for (DWORD state : {(DWORD)SERVICE_START_PENDING, (DWORD)SERVICE_STOP_PENDING}) {
        for (const auto &row : hints) {
            SCOPED_TRACE(testing::Message() << "state " << state << ", hint " << row.hint);
            g_spy.calls.clear();
            g_spy.fakeState = state;
            g_spy.waitHint = row.hint;
            KIV_NT_StopService(service.name());
            std::vector<std::string> order = {"OpenSCManager", "Lock",         "OpenService", "Query", row.sleep,
                                              "Control",       "CloseService", "Unlock",      "CloseManager"};
            EXPECT_EQ(order, g_spy.calls);
        }
    }
    g_spy.calls.clear();
    g_spy.fakeState = SERVICE_RUNNING;
    KIV_NT_StopService(service.name());
    for (const std::string &call : g_spy.calls)
        EXPECT_NE(0u, call.find("Sleep")) << "a running service is not waited for";
}

TEST_F(ServiceStopTest, RefusedStopWithoutAnyStatusIsAFailure)
{
    TestService service("nostatus");
    ASSERT_TRUE(service.created());
    struct Row {
        bool queryFails;
        bool controlFills;
        DWORD state;
        BOOLEAN result;
    } rows[] = {
        {true, false, 0, 0},                        // no status at all
        {true, true, SERVICE_STOPPED, 1},           // the refusal says stopped
        {false, false, SERVICE_STOPPED, 1},         // the query said stopped
        {true, true, SERVICE_RUNNING, 0},           // the refusal says running
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        journal::Clear();
        g_spy.queryFails = rows[i].queryFails;
        g_spy.controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        g_spy.controlFills = rows[i].controlFills;
        g_spy.controlState = rows[i].state;
        EXPECT_EQ(rows[i].result, KIV_NT_StopService(service.name()));
        std::vector<Record> records = Records();
        ASSERT_EQ(1u, records.size());
        if (rows[i].result) {
            EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, records[0].type);
        } else {
            EXPECT_EQ(EVENTLOG_ERROR_TYPE, records[0].type);
            EXPECT_EQ(std::string("KIV_NT_StopService(") + service.name() + "): ControlService", records[0].message);
            EXPECT_EQ(SystemText(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), records[0].errorText);
        }
    }
}

TEST_F(ServiceStopTest, RemovalStopsOnlyARunningServiceAndNeverWaits)
{
    struct Row {
        DWORD state;
        DWORD controlError;
        bool stopSent;
        size_t records;
    } rows[] = {
        {SERVICE_STOPPED, 0, false, 1},
        {SERVICE_STOP_PENDING, 0, false, 1},
        {SERVICE_START_PENDING, 0, false, 1},
        {SERVICE_RUNNING, ERROR_INVALID_SERVICE_CONTROL, true, 2}, // refused stop: still removed
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        TestService service(("remove" + std::to_string(i)).c_str());
        ASSERT_TRUE(service.created());
        journal::Clear();
        g_spy.calls.clear();
        g_spy.fakeState = rows[i].state;
        g_spy.controlError = rows[i].controlError;
        EXPECT_EQ(1, KIV_NT_RemoveService(service.name()));
        EXPECT_FALSE(service.Exists());
        bool sent = false;
        for (const std::string &call : g_spy.calls) {
            sent = sent || call == "Control";
            EXPECT_NE(0u, call.find("Sleep"));
        }
        EXPECT_EQ(rows[i].stopSent, sent);
        std::vector<Record> records = Records();
        ASSERT_EQ(rows[i].records, records.size());
        if (rows[i].records == 2) {
            EXPECT_EQ(EVENTLOG_ERROR_TYPE, records[0].type);
            EXPECT_EQ(std::string("KIV_NT_RemoveService(") + service.name() + "): ControlService", records[0].message);
        }
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, records.back().type);
        EXPECT_EQ(std::string("KIV_NT_RemoveService: Removed service ") + service.name() + ".\n",
                  records.back().message);
    }
}

TEST_F(ServiceStopTest, RemovalWithoutStatusDeletesNothing)
{
    TestService service("noquery");
    ASSERT_TRUE(service.created());
    g_spy.queryFails = true;
    EXPECT_EQ(0, KIV_NT_RemoveService(service.name()));
    EXPECT_TRUE(service.Exists());
    std::vector<Record> records = Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(std::string("KIV_NT_RemoveService(") + service.name() + "): QueryServiceStatus", records[0].message);
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), records[0].errorText);
}

TEST_F(ServiceStopTest, StopAllProcessStartersWritesOneRecordPerNameInRisingOrder)
{
    EXPECT_EQ(1, StopAllProcessStarters());
    std::vector<Record> records = Records();
    ASSERT_EQ(100u, records.size());
    for (int i = 0; i < 100; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ("KIV_NT_StopService(KivProcessStarter" + std::to_string(i) + "): OpenService", records[i].message);
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, records[i].type);
    }
    EXPECT_EQ(100, g_spy.locks);
}

TEST_F(ServiceStopTest, QueriesAreSilentForMissingAndStoppedServices)
{
    TestService service("query");
    ASSERT_TRUE(service.created());
    std::string missing = "KivTestMissing_" + std::to_string(GetCurrentProcessId());
    EXPECT_EQ(1, KIV_NT_ServiceExists(service.name()));
    EXPECT_EQ(0, KIV_NT_ServiceExists(missing.c_str()));
    EXPECT_EQ(0, KIV_NT_ServiceIsRunning(service.name()));
    EXPECT_EQ(0, KIV_NT_ServiceIsRunning(missing.c_str()));
    EXPECT_EQ(0, ServiceIsRunning(service.name()));
    EXPECT_EQ(0, ServiceIsRunning(missing.c_str()));
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(0, g_spy.locks) << "the queries take no lock";
    g_spy.fakeState = SERVICE_RUNNING;
    EXPECT_EQ(1, ServiceIsRunning(service.name()));
}

TEST_F(ServiceStopTest, QueryFailuresAreErrorRecords)
{
    TestService service("queryfail");
    ASSERT_TRUE(service.created());
    struct Row {
        bool queryFails, closeServiceFails, closeManagerFails;
        std::vector<std::string> messages;
    } rows[] = {
        {true, false, false, {"Querying service configuration"}},
        {false, true, false, {"Closing service handle"}},
        {false, false, true, {"Closing service database"}},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        journal::Clear();
        g_spy.queryFails = rows[i].queryFails;
        g_spy.closeServiceFails = rows[i].closeServiceFails;
        g_spy.closeManagerFails = rows[i].closeManagerFails;
        EXPECT_EQ(0, KIV_NT_ServiceIsRunning(service.name()));
        std::vector<Record> records = Records();
        ASSERT_EQ(rows[i].messages.size(), records.size());
        for (size_t r = 0; r < records.size(); r++) {
            EXPECT_EQ(rows[i].messages[r], records[r].message);
            EXPECT_EQ(EVENTLOG_ERROR_TYPE, records[r].type);
        }
    }
    g_spy = Spy();
    g_spy.closeServiceFails = true;
    journal::Clear();
    EXPECT_EQ(1, KIV_NT_ServiceExists(service.name())) << "a failed close keeps the answer";
    ASSERT_EQ(1u, Records().size());
    EXPECT_EQ("Closing service handle", Records()[0].message);
}

TEST_F(ServiceStopTest, UnopenableManagerIsReportedByEveryRoutine)
{
    FailingImport refused(Self(), NULL, "OpenSCManagerA", 12, 0, ERROR_ACCESS_DENIED);
    ASSERT_TRUE(refused.installed());
    EXPECT_EQ(0, KIV_NT_StopService("x"));
    EXPECT_EQ(0, KIV_NT_RemoveService("x"));
    EXPECT_EQ(0, KIV_NT_ServiceExists("x"));
    EXPECT_EQ(0, KIV_NT_ServiceIsRunning("x"));
    std::vector<Record> records = Records();
    std::vector<std::string> expected = {"KIV_NT_StopService(x): OpenSCManager", "KIV_NT_RemoveService(x): OpenSCManager",
                                         "Opening service database", "Opening service database"};
    ASSERT_EQ(expected.size(), records.size());
    for (size_t i = 0; i < records.size(); i++) {
        EXPECT_EQ(expected[i], records[i].message);
        EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), records[i].errorText);
    }
}

} // namespace
