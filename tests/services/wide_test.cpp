// The wide siblings of the text exports with text outside every ANSI code
// page: each text arrives exactly as passed, and each report goes out through
// the wide calls with the same step texts as the narrow export's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "kiv_inst.h"
#include "process.h"

namespace {

const std::wstring UNICODE_NAME = L"Kivelstrand \u0141\u00f3d\u017a \u6771\u4eac";

std::wstring Wide(const std::string &narrow)
{
    return std::wstring(narrow.begin(), narrow.end());
}

// A service's settings as its registry key holds them, read wide.
std::wstring ServiceValue(const std::wstring &name, const wchar_t *value)
{
    std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    wchar_t data[1024] = {0};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                         RRF_NOEXPAND, NULL, data, &size) != ERROR_SUCCESS)
        return L"(none)";
    return data;
}

// A copy of the test service in a folder named like the service, so that the
// path the manager starts is outside the ANSI code page too.
std::wstring CopyServiceInto(const std::wstring &folder)
{
    CreateDirectoryW(folder.c_str(), NULL);
    std::wstring exe = folder + L"\\kivtestsvc.exe";
    CopyFileW(Wide(BinPath("kivtestsvc.exe")).c_str(), exe.c_str(), FALSE);
    return exe;
}

TEST(WideExports, UnicodeServiceLivesItsWholeLifeExactly)
{
    SleepCapture pauses; // the fixture runs and stops within the first pass
    wchar_t temp[MAX_PATH] = {0};
    GetTempPathW(MAX_PATH, temp);
    std::wstring name = UNICODE_NAME + L" " + std::to_wstring(GetCurrentProcessId());
    std::wstring folder = std::wstring(temp) + UNICODE_NAME;
    std::wstring command = L"\"" + CopyServiceInto(folder) + L"\" normal";

    ASSERT_EQ(1, ServiceCreateW(name.c_str(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, command.c_str(),
                                NULL, NULL));
    EXPECT_EQ(command, ServiceValue(name, L"ImagePath"));
    EXPECT_EQ(name, ServiceValue(name, L"DisplayName"));
    EXPECT_EQ(1, ServiceExistsW(name.c_str()));
    EXPECT_EQ(0, ServiceIsRunningW(name.c_str()));

    EXPECT_EQ(1, ServiceStartW(name.c_str()));
    for (int i = 0; i < 100 && ServiceIsRunningW(name.c_str()) != 1; i++)
        Sleep(50);
    EXPECT_EQ(1, ServiceIsRunningW(name.c_str()));
    // The look-alike that a conversion to the ANSI code page would make is
    // another service, which does not exist.
    std::string lookAlike(name.size(), '?');
    EXPECT_EQ(0, ServiceIsRunning(lookAlike.c_str()));

    EXPECT_EQ(1, ServiceStopW(name.c_str()));
    EXPECT_EQ(0, ServiceIsRunningW(name.c_str()));
    EXPECT_EQ(1, ServiceDeleteW(name.c_str()));
    EXPECT_EQ(0, ServiceExistsW(name.c_str()));

    DeleteFileW((folder + L"\\kivtestsvc.exe").c_str());
    RemoveDirectoryW(folder.c_str());
}

// A failed step of a wide export: the narrow export's line, box and record,
// each through the wide call, each once.
TEST(WideExports, ReportsGoThroughTheWideCalls)
{
    journal::Clear();
    DebugCapture lines;
    BoxCapture boxes;
    EventCapture records;
    std::wstring missing = UNICODE_NAME + L" missing";
    EXPECT_EQ(0, ServiceStartW(missing.c_str()));
    EXPECT_EQ(0, ServiceDeleteW(missing.c_str()));

    std::string text = SystemText(ERROR_SERVICE_DOES_NOT_EXIST);
    std::vector<JournalEntry> debug = journal::Of(Outlet::Debug);
    ASSERT_EQ(8u, debug.size());
    for (size_t i = 0; i < debug.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(debug[i].wide);
    }
    EXPECT_EQ("Opening service handle: " + text + " \n", journal::DebugText().substr(0, 26 + text.size()));
    // Records of thread notifications (narrow, from the entry point) may
    // come between; the exports' own are wide.
    std::vector<JournalEntry> reports;
    for (const JournalEntry &r : journal::Of(Outlet::EventReport))
        if (r.strings.size() != 2 || r.strings[0] != "Installation DLL main called")
            reports.push_back(r);
    ASSERT_EQ(2u, reports.size());
    for (const JournalEntry &r : reports) {
        EXPECT_TRUE(r.wide);
        EXPECT_EQ((std::vector<std::string>{"Opening service handle", text}), r.strings);
    }
    EXPECT_TRUE(journal::Of(Outlet::Box).empty()) << "a missing service is no box";
}

// Odd wide input is handled as the narrow export handles its own: nothing
// crashes, nothing is cut into another name, nothing becomes a look-alike.
TEST(WideExports, OddTextIsTakenExactlyOrRefused)
{
    SleepCapture pauses;
    journal::Clear();
    DebugCapture lines;
    EXPECT_EQ(0, ServiceExistsW(NULL));
    EXPECT_EQ(0, ServiceExistsW(L""));
    EXPECT_EQ(0, ServiceIsRunningW(NULL));
    EXPECT_EQ(NULL, GetWindowByTitleW(NULL, NULL));

    struct Row {
        const char *what;
        std::wstring name;
    } rows[] = {
        {"lone high surrogate", L"KivWide\xD800x" + std::to_wstring(GetCurrentProcessId())},
        {"lone low surrogate", L"KivWide\xDC00y" + std::to_wstring(GetCurrentProcessId())},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        // The manager takes the name as given or refuses it; either way the
        // same name finds it, and the replacement character does not.
        if (ServiceCreateW(row.name.c_str(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, L"x.exe", NULL, NULL)) {
            EXPECT_EQ(1, ServiceExistsW(row.name.c_str()));
            std::wstring replaced = row.name;
            replaced[7] = 0xFFFD;
            EXPECT_EQ(0, ServiceExistsW(replaced.c_str()));
            EXPECT_EQ(1, ServiceDeleteW(row.name.c_str()));
        }
    }

    // A clip path of 1,024 characters or more is refused, never cut.
    std::wstring longPath(1024, L'\u6771');
    EXPECT_EQ(1, FakeStatusSetAviW(longPath.c_str()));
    EXPECT_NE(std::string::npos, journal::DebugText().find("AviFileOpen failed, using default AVI.\n"));
    FakeStatusSetAviW(NULL);
}

} // namespace
