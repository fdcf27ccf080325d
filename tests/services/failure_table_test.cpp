// Every report site of the service exports, against a scripted stand-in
// for the service control manager: which calls are made, in which order and
// how often, what each failure reports (box or not, with which system text)
// and what the export returns. Pauses are recorded, never waited. Every row
// runs five times: as it is, quiet (KIV_INST_QUIET=1), on a window station
// whose flags cannot be read, in session 0, and where the session cannot be
// read; only the boxes go, in the second to the fourth.
#include <gtest/gtest.h>

#include <memory>

#include <functional>
#include <string>
#include <vector>

#include "import_hook.h"
#include "kiv_inst.h"
#include "scm_session.h"

namespace {

const char NAME[] = "KivFake";

// Codes that a scripted call fails with; each has its own system text, so a
// report shows which call it followed.
const DWORD CODE_ACCESS = ERROR_ACCESS_DENIED;
const DWORD CODE_HANDLE = ERROR_INVALID_HANDLE;
const DWORD CODE_MISSING = ERROR_SERVICE_DOES_NOT_EXIST;
const DWORD CODE_RUNNING = ERROR_SERVICE_ALREADY_RUNNING;
const DWORD CODE_DISABLED = ERROR_SERVICE_DISABLED;
const DWORD CODE_NOT_ACTIVE = ERROR_SERVICE_NOT_ACTIVE;
const DWORD CODE_CANNOT_ACCEPT = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
const DWORD CODE_MARKED = ERROR_SERVICE_MARKED_FOR_DELETE;
const DWORD CODE_EXISTS = ERROR_SERVICE_EXISTS;
// The code the test leaves before the call; a report that carries it was
// made after successful calls only.
const DWORD CODE_BEFORE = ERROR_FILE_NOT_FOUND;

// ---- expected traces ------------------------------------------------------

const std::string OPEN_SERVICE = OpenServiceEntry(NAME);

Trace Reported(const char *step, DWORD code)
{
    return {ReportEntry(step, code)};
}

Trace Boxed(const char *step, DWORD code)
{
    return {ReportEntry(step, code), BoxEntry(step, code)};
}

Trace ManagerFails()
{
    return Cat({{OPEN_MANAGER}, Boxed(OPEN_DATABASE, CODE_ACCESS)});
}

Trace ServiceOpenFails()
{
    return Cat({{OPEN_MANAGER, OPEN_SERVICE}, Reported(OPEN_HANDLE, CODE_MISSING), {CLOSE_MANAGER}});
}

// The closing steps of the normal path, each failure with its own report.
Trace Closes(const ScmScript &s, bool serviceCloseBoxed = true)
{
    Trace t = {CLOSE_SERVICE};
    if (s.closeServiceError != 0)
        t = Cat({t, serviceCloseBoxed ? Boxed(CLOSE_HANDLE, s.closeServiceError)
                                      : Reported(CLOSE_HANDLE, s.closeServiceError)});
    t.push_back(CLOSE_MANAGER);
    if (s.closeManagerError != 0)
        t = Cat({t, Boxed(CLOSE_DATABASE, s.closeManagerError)});
    return t;
}

ScmAnswer Ok(DWORD state)
{
    return ScmAnswer{0, state};
}

ScmAnswer Failed(DWORD error, DWORD state = 0)
{
    return ScmAnswer{error, state};
}

// ---- running a row --------------------------------------------------------

struct Row {
    const char *what;
    ScmScript script;
    std::function<int()> call;
    Trace expected;
    int result;
};

// KIV_INST_QUIET for one run of a row, removed again however the run ends.
struct QuietRun {
    explicit QuietRun(bool quiet) { SetEnvironmentVariableA("KIV_INST_QUIET", quiet ? "1" : NULL); }
    ~QuietRun() { SetEnvironmentVariableA("KIV_INST_QUIET", NULL); }
};

// The ways a row runs: boxes shown; quiet; on a window station whose flags
// cannot be read, which may be one nobody sees, so no box either; in session
// 0, which nobody sees however visible its station reads, so no box; and
// where the session cannot be read, which leaves the station to decide.
enum class BoxMode { Shown, Quiet, StationUnreadable, SessionZero, SessionUnreadable };

BOOL WINAPI InSessionZero(DWORD processId, DWORD *session)
{
    (void)processId;
    *session = 0;
    return TRUE;
}

void RunRowOnce(const Row &row, BoxMode mode)
{
    static const char *const names[] = {"boxes shown", "KIV_INST_QUIET=1", "station flags unreadable",
                                        "session 0", "session unreadable"};
    SCOPED_TRACE(names[(int)mode]);
    bool quiet = mode != BoxMode::Shown && mode != BoxMode::SessionUnreadable;
    QuietRun environment(mode == BoxMode::Quiet);
    std::unique_ptr<FailingImport> station;
    if (mode == BoxMode::StationUnreadable) {
        station.reset(new FailingImport(KivModule(), NULL, "GetUserObjectInformationA", 20, FALSE,
                                        ERROR_ACCESS_DENIED));
        ASSERT_TRUE(station->installed());
    }
    if (mode == BoxMode::SessionUnreadable) {
        station.reset(new FailingImport(KivModule(), NULL, "ProcessIdToSessionId", 8, FALSE, ERROR_ACCESS_DENIED));
        ASSERT_TRUE(station->installed());
    }
    std::unique_ptr<ImportHook> sessionZero;
    if (mode == BoxMode::SessionZero) {
        sessionZero.reset(new ImportHook(KivModule(), NULL, "ProcessIdToSessionId", (void *)InSessionZero));
        ASSERT_TRUE(sessionZero->installed());
    }
    // A quiet run is a run whose every box was answered with OK at once:
    // the same calls, lines, records and result, only the boxes left out.
    Trace expected;
    for (const std::string &entry : row.expected)
        if (!quiet || entry.compare(0, 4, "box ") != 0)
            expected.push_back(entry);
    ScmSession session(&row.script);
    ASSERT_TRUE(session.installed());
    SetLastError(CODE_BEFORE);
    EXPECT_EQ(row.result, row.call());
    Trace trace = session.trace();
    EXPECT_EQ(expected, trace);

    // The journal agrees with the trace: every pause is 1000 ms, every box a
    // warning, and every report (box or not) one information record.
    size_t pauses = 0, boxes = 0, reports = 0;
    for (const std::string &entry : expected) {
        pauses += entry == PAUSE;
        boxes += entry.compare(0, 4, "box ") == 0;
        reports += entry.compare(0, 7, "report ") == 0;
    }
    std::vector<JournalEntry> sleeps = OnThisThread(Outlet::Sleep);
    EXPECT_EQ(pauses, sleeps.size()) << "pauses";
    for (const JournalEntry &e : sleeps)
        EXPECT_EQ(1000u, e.milliseconds);
    std::vector<JournalEntry> shown = OnThisThread(Outlet::Box);
    EXPECT_EQ(boxes, shown.size()) << "boxes";
    for (const JournalEntry &e : shown)
        EXPECT_EQ((UINT)(MB_OK | MB_ICONWARNING), e.style);
    std::vector<JournalEntry> records = OnThisThread(Outlet::EventReport);
    EXPECT_EQ(reports, records.size()) << "event records";
    for (const JournalEntry &e : records) {
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, e.type);
        EXPECT_EQ(2u, e.strings.size());
    }
}

void RunRow(const Row &row)
{
    SCOPED_TRACE(row.what);
    RunRowOnce(row, BoxMode::Shown);
    RunRowOnce(row, BoxMode::Quiet);
    RunRowOnce(row, BoxMode::StationUnreadable);
    RunRowOnce(row, BoxMode::SessionZero);
    RunRowOnce(row, BoxMode::SessionUnreadable);
}

int Start()
{
    return ServiceStart(NAME);
}

int Delete()
{
    return ServiceDelete(NAME);
}

int Stop()
{
    return ServiceStop(NAME);
}

int Exists()
{
    return ServiceExists(NAME);
}

int Create()
{
    return ServiceCreate(NAME, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "C:\\svc.exe", NULL, NULL);
}

const std::string CREATE_CALL = std::string("CreateServiceA(manager, ") + NAME + ", " + NAME +
                                ", 0xf01ff, 0x10, 0x3, 0x1, C:\\svc.exe, null, null, null, null, null)";

ScmScript With(std::function<void(ScmScript &)> edit)
{
    ScmScript s;
    edit(s);
    return s;
}

// ---- the opening steps, shared by the exports ------------------------------

TEST(ServiceFailureTable, ManagerThatCannotBeOpenedBoxesAndGivesZeroInAllFour)
{
    ScmScript s = With([](ScmScript &x) { x.openManagerError = CODE_ACCESS; });
    const Row rows[] = {
        {"ServiceCreate", s, Create, ManagerFails(), 0},
        {"ServiceStart", s, Start, ManagerFails(), 0},
        {"ServiceDelete", s, Delete, ManagerFails(), 0},
        {"ServiceStop", s, Stop, ManagerFails(), 0},
        {"ServiceExists", s, Exists, ManagerFails(), 0},
    };
    for (const Row &row : rows)
        RunRow(row);
}

TEST(ServiceFailureTable, ServiceThatCannotBeOpenedReportsWithoutBoxAndClosesTheManagerUnchecked)
{
    // The manager's close fails too, and that failure goes unreported.
    ScmScript s = With([](ScmScript &x) {
        x.openServiceError = CODE_MISSING;
        x.closeManagerError = CODE_HANDLE;
    });
    const Row rows[] = {
        {"ServiceStart", s, Start, ServiceOpenFails(), 0},
        {"ServiceDelete", s, Delete, ServiceOpenFails(), 0},
        {"ServiceStop", s, Stop, ServiceOpenFails(), 0},
        {"ServiceExists", s, Exists, ServiceOpenFails(), 0},
    };
    for (const Row &row : rows)
        RunRow(row);
}

// ---- ServiceCreate ----------------------------------------------------------

TEST(ServiceFailureTable, Create)
{
    ScmScript exists = With([](ScmScript &x) {
        x.createError = CODE_EXISTS;
        x.closeManagerError = CODE_HANDLE; // unchecked on this path
    });
    ScmScript ok;
    ScmScript closeService = With([](ScmScript &x) { x.closeServiceError = CODE_HANDLE; });
    ScmScript closeManager = With([](ScmScript &x) { x.closeManagerError = CODE_ACCESS; });
    ScmScript closeBoth = With([](ScmScript &x) {
        x.closeServiceError = CODE_HANDLE;
        x.closeManagerError = CODE_ACCESS;
    });
    const Row rows[] = {
        {"created", ok, Create, Cat({{OPEN_MANAGER, CREATE_CALL}, Closes(ok)}), 1},
        {"name already installed", exists, Create,
         Cat({{OPEN_MANAGER, CREATE_CALL}, Boxed(CREATING, CODE_EXISTS), {CLOSE_MANAGER}}), 0},
        {"service handle close fails", closeService, Create,
         Cat({{OPEN_MANAGER, CREATE_CALL}, Closes(closeService)}), 0},
        {"manager close fails", closeManager, Create,
         Cat({{OPEN_MANAGER, CREATE_CALL}, Closes(closeManager)}), 0},
        {"both closes fail", closeBoth, Create, Cat({{OPEN_MANAGER, CREATE_CALL}, Closes(closeBoth)}), 0},
    };
    for (const Row &row : rows)
        RunRow(row);
}

TEST(ServiceFailureTable, CreatePassesAccountAndPasswordOnUnchanged)
{
    ScmScript ok;
    ScmSession session(&ok);
    EXPECT_EQ(1, ServiceCreate("Svc", SERVICE_WIN32_SHARE_PROCESS, SERVICE_DISABLED, "p q.exe",
                               ".\\builder", "secret"));
    Trace trace = session.trace();
    ASSERT_EQ(4u, trace.size());
    EXPECT_EQ("CreateServiceA(manager, Svc, Svc, 0xf01ff, 0x20, 0x4, 0x1, p q.exe, null, null, null, "
              ".\\builder, secret)",
              trace[1]);
}

// ---- ServiceStart -----------------------------------------------------------

TEST(ServiceFailureTable, Start)
{
    ScmScript running;
    ScmScript already = With([](ScmScript &x) { x.startErrors = {CODE_RUNNING}; });
    ScmScript thirdPass = With([](ScmScript &x) {
        x.queries = {Ok(SERVICE_START_PENDING), Ok(SERVICE_START_PENDING), Ok(SERVICE_RUNNING)};
    });
    ScmScript neverRuns = With([](ScmScript &x) {
        x.queries = {Ok(SERVICE_START_PENDING)};
        x.closeServiceError = CODE_HANDLE; // the closes after the box are checked
    });
    ScmScript fallsBack = With([](ScmScript &x) { x.queries = {Ok(SERVICE_STOPPED)}; });
    ScmScript disabled = With([](ScmScript &x) {
        x.startErrors = {CODE_DISABLED};
        x.queries = {Ok(SERVICE_STOPPED)};
    });
    // Failed queries keep the preset pending state, whatever they wrote.
    ScmScript queryFails = With([](ScmScript &x) { x.queries = {Failed(CODE_HANDLE)}; });
    ScmScript closeService = With([](ScmScript &x) { x.closeServiceError = CODE_HANDLE; });
    ScmScript closeManager = With([](ScmScript &x) { x.closeManagerError = CODE_ACCESS; });

    const Trace opened = {OPEN_MANAGER, OPEN_SERVICE};
    const Trace cleanPass = {START, PAUSE, QUERY};
    const Row rows[] = {
        {"runs after the first pass", running, Start, Cat({opened, cleanPass, {LINE_RUNNING}, Closes(running)}), 1},
        {"already running", already, Start,
         Cat({opened, {START}, Reported(STARTING, CODE_RUNNING), {PAUSE, QUERY, LINE_RUNNING}, Closes(already)}), 1},
        {"runs in the third pass", thirdPass, Start,
         Cat({opened, Repeat(3, cleanPass), {LINE_RUNNING}, Closes(thirdPass)}), 1},
        {"stays start-pending", neverRuns, Start,
         Cat({opened, Repeat(5, cleanPass), Boxed(STARTING, CODE_BEFORE), {LINE_NOT_RUNNING}, Closes(neverRuns)}),
         0},
        {"stops again after each start", fallsBack, Start,
         Cat({opened, Repeat(5, cleanPass), Boxed(STARTING, CODE_BEFORE), {LINE_NOT_RUNNING}, Closes(fallsBack)}),
         0},
        {"disabled", disabled, Start,
         Cat({opened, Repeat(5, Cat({{START}, Reported(STARTING, CODE_DISABLED), {PAUSE, QUERY}})),
              Boxed(STARTING, CODE_DISABLED), {LINE_NOT_RUNNING}, Closes(disabled)}),
         0},
        {"status query fails in every pass", queryFails, Start,
         Cat({opened, Repeat(5, Cat({cleanPass, Reported(STARTING, CODE_HANDLE)})), Boxed(STARTING, CODE_HANDLE),
              {LINE_NOT_RUNNING}, Closes(queryFails)}),
         0},
        {"service handle close fails", closeService, Start,
         Cat({opened, cleanPass, {LINE_RUNNING}, Closes(closeService)}), 0},
        {"manager close fails", closeManager, Start,
         Cat({opened, cleanPass, {LINE_RUNNING}, Closes(closeManager)}), 0},
    };
    for (const Row &row : rows)
        RunRow(row);
}

// ---- ServiceDelete ----------------------------------------------------------

TEST(ServiceFailureTable, Delete)
{
    ScmScript stops = With([](ScmScript &x) { x.queries = {Ok(SERVICE_STOPPED)}; });
    // The manager refuses the control to a stopped service and says so.
    ScmScript alreadyStopped = With([](ScmScript &x) {
        x.controls = {Failed(CODE_NOT_ACTIVE, SERVICE_STOPPED)};
        x.queries = {Ok(SERVICE_STOPPED)};
    });
    ScmScript thirdPass = With([](ScmScript &x) {
        x.controls = {Ok(SERVICE_STOP_PENDING), Failed(CODE_CANNOT_ACCEPT, SERVICE_STOP_PENDING)};
        x.queries = {Ok(SERVICE_STOP_PENDING), Ok(SERVICE_STOP_PENDING), Ok(SERVICE_STOPPED)};
    });
    // Gives up: box, both closes unchecked (they fail here, unreported), no
    // deletion.
    ScmScript neverStops = With([](ScmScript &x) {
        x.controls = {Failed(ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING)};
        x.queries = {Ok(SERVICE_RUNNING)};
        x.closeServiceError = CODE_HANDLE;
        x.closeManagerError = CODE_HANDLE;
    });
    // A failed query keeps the state that the stop control returned.
    ScmScript queryFailsAfterStop = With([](ScmScript &x) {
        x.controls = {Ok(SERVICE_STOPPED)};
        x.queries = {Failed(CODE_HANDLE)};
    });
    ScmScript queryAlwaysFails = With([](ScmScript &x) {
        x.controls = {Ok(SERVICE_STOP_PENDING), Failed(CODE_CANNOT_ACCEPT, SERVICE_STOP_PENDING)};
        x.queries = {Failed(CODE_HANDLE)};
    });
    ScmScript deleteFails = With([](ScmScript &x) {
        x.queries = {Ok(SERVICE_STOPPED)};
        x.deleteError = CODE_MARKED;
    });
    ScmScript deleteAndClosesFail = With([](ScmScript &x) {
        x.queries = {Ok(SERVICE_STOPPED)};
        x.deleteError = CODE_MARKED;
        x.closeServiceError = CODE_HANDLE;
        x.closeManagerError = CODE_ACCESS;
    });
    ScmScript closeService = With([](ScmScript &x) {
        x.queries = {Ok(SERVICE_STOPPED)};
        x.closeServiceError = CODE_HANDLE;
    });
    ScmScript closeManager = With([](ScmScript &x) {
        x.queries = {Ok(SERVICE_STOPPED)};
        x.closeManagerError = CODE_ACCESS;
    });

    const Trace opened = {OPEN_MANAGER, OPEN_SERVICE};
    const Trace cleanPass = {STOP, PAUSE, QUERY};
    const Trace refusedPass = Cat({{STOP}, Reported(STOPPING, CODE_CANNOT_ACCEPT), {PAUSE, QUERY}});
    const Row rows[] = {
        {"stops in the first pass", stops, Delete, Cat({opened, cleanPass, {DELETE_CALL}, Closes(stops)}), 1},
        {"already stopped", alreadyStopped, Delete,
         Cat({opened, {STOP}, Reported(STOPPING, CODE_NOT_ACTIVE), {PAUSE, QUERY, DELETE_CALL},
              Closes(alreadyStopped)}),
         1},
        {"stops in the third pass", thirdPass, Delete,
         Cat({opened, cleanPass, refusedPass, refusedPass, {DELETE_CALL}, Closes(thirdPass)}), 1},
        {"never stops", neverStops, Delete,
         Cat({opened,
              Repeat(5, Cat({{STOP}, Reported(STOPPING, ERROR_INVALID_SERVICE_CONTROL), {PAUSE, QUERY}})),
              Boxed(STOPPING, ERROR_INVALID_SERVICE_CONTROL), {CLOSE_SERVICE, CLOSE_MANAGER}}),
         0},
        {"query fails after an accepted stop", queryFailsAfterStop, Delete,
         Cat({opened, cleanPass, Reported(STOPPING, CODE_HANDLE), {DELETE_CALL}, Closes(queryFailsAfterStop)}), 1},
        {"query fails in every pass", queryAlwaysFails, Delete,
         Cat({opened, cleanPass, Reported(STOPPING, CODE_HANDLE),
              Repeat(4, Cat({refusedPass, Reported(STOPPING, CODE_HANDLE)})), Boxed(STOPPING, CODE_HANDLE),
              {CLOSE_SERVICE, CLOSE_MANAGER}}),
         0},
        {"deletion fails", deleteFails, Delete,
         Cat({opened, cleanPass, {DELETE_CALL}, Boxed(DELETING, CODE_MARKED), Closes(deleteFails)}), 0},
        {"deletion and both closes fail", deleteAndClosesFail, Delete,
         Cat({opened, cleanPass, {DELETE_CALL}, Boxed(DELETING, CODE_MARKED), Closes(deleteAndClosesFail)}), 0},
        {"service handle close fails", closeService, Delete,
         Cat({opened, cleanPass, {DELETE_CALL}, Closes(closeService)}), 0},
        {"manager close fails", closeManager, Delete,
         Cat({opened, cleanPass, {DELETE_CALL}, Closes(closeManager)}), 0},
    };
    for (const Row &row : rows)
        RunRow(row);
}

// ---- ServiceStop ------------------------------------------------------------

// The passes are ServiceDelete's (and the real-service tests show a stopped
// service answered at once); here the first read and the closes.
TEST(ServiceFailureTable, Stop)
{
    ScmScript firstReadFails = With([](ScmScript &x) { x.queries = {Failed(CODE_HANDLE), Ok(SERVICE_STOPPED)}; });
    ScmScript closeService = With([](ScmScript &x) {
        x.queries = {Ok(SERVICE_STOPPED)};
        x.closeServiceError = CODE_HANDLE;
    });
    const Trace opened = {OPEN_MANAGER, OPEN_SERVICE, QUERY};
    const Row rows[] = {
        {"first read fails: the passes follow", firstReadFails, Stop,
         Cat({opened, Reported(STOPPING, CODE_HANDLE), {STOP, PAUSE, QUERY}, Closes(firstReadFails)}), 1},
        {"service handle close fails", closeService, Stop, Cat({opened, Closes(closeService)}), 0},
    };
    for (const Row &row : rows)
        RunRow(row);
}

// ---- ServiceExists ----------------------------------------------------------

TEST(ServiceFailureTable, Exists)
{
    ScmScript ok;
    ScmScript refused = With([](ScmScript &x) { x.openServiceError = CODE_ACCESS; });
    ScmScript closeService = With([](ScmScript &x) { x.closeServiceError = CODE_HANDLE; });
    ScmScript closeManager = With([](ScmScript &x) { x.closeManagerError = CODE_ACCESS; });
    ScmScript closeBoth = With([](ScmScript &x) {
        x.closeServiceError = CODE_HANDLE;
        x.closeManagerError = CODE_ACCESS;
    });
    const Trace opened = {OPEN_MANAGER, OPEN_SERVICE};
    const Row rows[] = {
        {"exists", ok, Exists, Cat({opened, Closes(ok, false)}), 1},
        {"access refused counts as absent", refused, Exists,
         Cat({opened, Reported(OPEN_HANDLE, CODE_ACCESS), {CLOSE_MANAGER}}), 0},
        {"service handle close fails without a box", closeService, Exists, Cat({opened, Closes(closeService, false)}),
         0},
        {"manager close fails with a box", closeManager, Exists, Cat({opened, Closes(closeManager, false)}), 0},
        {"both closes fail", closeBoth, Exists, Cat({opened, Closes(closeBoth, false)}), 0},
    };
    for (const Row &row : rows)
        RunRow(row);
}

} // namespace
