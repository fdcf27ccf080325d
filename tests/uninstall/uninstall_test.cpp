// The uninstall hook end to end: kivhost started as the uninstaller beside a
// script, and in this process with the command line and outlets intercepted.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture.h"
#include "kiv_inst.h"
#include "process.h"
#include "resource.h"
#include "test_service.h"

namespace {

const std::string RULE = "=====================================\r\n";
const std::string UTF8_MARK = "\xEF\xBB\xBF";
// Behind the value of a listed service that the manager does not know.
const std::string NO_SERVICE = "\r\nNo service has this name (error 1060), nothing removed";

std::string Block(const std::string &logName, const std::vector<std::pair<std::string, std::string>> &services,
                  const std::vector<std::pair<std::string, std::string>> &commands)
{
    std::string text = RULE + "BEGIN Kivelstrand UN-install log file\r\n" + "Log file name is " + logName + "\r\n" +
                       "Section is ServiceDelete\r\n";
    for (const auto &kv : services)
        text += "Key name is " + kv.first + "\r\nValue is " + kv.second + "\r\n";
    text += "Section is CustomCommand\r\n";
    for (const auto &kv : commands)
        text += "Key name is " + kv.first + "\r\nValue is " + kv.second + "\r\n";
    return text + "END Kivelstrand UN-install log file\r\n" + RULE;
}

// A stopped service of the test's own; deleted at the end if the run did not.
class TestService {
public:
    explicit TestService(const std::string &name) : name_(name)
    {
        SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        std::string binary = "\"" + BinPath("kivhost.exe") + "\"";
        SC_HANDLE service = CreateServiceA(manager, name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                           binary.c_str(), NULL, NULL, NULL, NULL, NULL);
        created_ = service != NULL;
        if (service)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    ~TestService()
    {
        SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceA(manager, name_.c_str(), SERVICE_ALL_ACCESS);
        if (service) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    bool created() const { return created_; }
    bool Exists() const
    {
        SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceA(manager, name_.c_str(), SERVICE_QUERY_STATUS);
        if (service)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return service != NULL;
    }
    const std::string &name() const { return name_; }
private:
    std::string name_;
    bool created_ = false;
};

std::string Unique(const char *tag)
{
    static int serial = 0;
    return std::string("KivTestUninst_") + std::to_string(GetCurrentProcessId()) + "_" + tag + std::to_string(++serial);
}

// A hook folder with the library in it, a script, and a run of kivhost as
// the uninstaller.
class HookFolder {
public:
    HookFolder()
    {
        CopyFileA(BinPath("kiv_inst.dll").c_str(), dir_.file("kiv_inst.dll").c_str(), FALSE);
    }
    void Script(const std::string &text) { WriteFileBytes(dir_.file("kivunins.ini"), text); }
    ChildRun Run(bool quoted = true)
    {
        std::string library = dir_.file("kiv_inst.dll");
        std::string option = quoted ? "-c\"" + library + "\"" : "-c" + library;
        return RunProcess("\"" + BinPath("kivhost.exe") + "\" " + option, 120000);
    }
    std::string Log() const
    {
        std::string bytes;
        ReadFileBytes(dir_.file("kivuninslog.txt"), &bytes);
        return bytes;
    }
    std::string LogName() const { return dir_.file("kivuninslog.txt"); }
    const TempDir &dir() const { return dir_; }
private:
    TempDir dir_;
};

TEST(UninstallRun, GapEndsTheListAndTheLogHasEveryLineInOrder)
{
    TestService s0(Unique("a")), s1(Unique("b")), s3(Unique("d"));
    ASSERT_TRUE(s0.created() && s1.created() && s3.created());
    HookFolder hook;
    std::string marker = hook.dir().file("marker.txt");
    std::string command = "cmd.exe /c echo done>\"" + marker + "\"";
    hook.Script("[ServiceDelete]\r\nService0=" + s0.name() + "\r\nService1=" + s1.name() + "\r\nService3=" +
                s3.name() + "\r\n[CustomCommand]\r\nCommand0=" + command + "\r\n");
    ChildRun run = hook.Run();
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("UninstInitialize -> 0")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("UninstUnInitialize -> 0")) << run.output;

    EXPECT_FALSE(s0.Exists());
    EXPECT_FALSE(s1.Exists());
    EXPECT_TRUE(s3.Exists()) << "keys behind a gap are never read";
    EXPECT_EQ(Block(hook.LogName(), {{"Service0", s0.name()}, {"Service1", s1.name()}, {"Service2", "NOT_FOUND"}},
                    {{"Command0", command}, {"Command1", "NOT_FOUND"}}),
              hook.Log());

    // The command was started, not waited for.
    bool started = false;
    for (int i = 0; i < 100 && !started; i++, Sleep(100))
        started = GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_TRUE(started);
}

TEST(UninstallRun, UnquotedPathAndTwoRunsGiveTwoBlocks)
{
    HookFolder hook;
    ChildRun first = hook.Run(false);
    ChildRun second = hook.Run(true);
    EXPECT_EQ(0u, first.exitCode) << first.output;
    EXPECT_EQ(0u, second.exitCode) << second.output;
    std::string block = Block(hook.LogName(), {{"Service0", "NOT_FOUND"}}, {{"Command0", "NOT_FOUND"}});
    EXPECT_EQ(block + block, hook.Log()) << "a missing script gives two empty lists";
}

TEST(UninstallRun, AllFiftyKeysAreReadAndNoMore)
{
    HookFolder hook;
    std::string script = "[ServiceDelete]\r\n";
    std::vector<std::pair<std::string, std::string>> expected;
    for (int i = 0; i <= 50; i++) {
        std::string value = "KivTestNone_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(i);
        script += "Service" + std::to_string(i) + "=" + value + "\r\n";
        if (i < 50)
            expected.push_back({"Service" + std::to_string(i), value + NO_SERVICE});
    }
    hook.Script(script);
    ChildRun run = hook.Run();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(Block(hook.LogName(), expected, {{"Command0", "NOT_FOUND"}}), hook.Log());
}

TEST(UninstallRun, NotFoundEndsTheListButOtherCaseAndEmptyValuesDoNot)
{
    HookFolder hook;
    hook.Script("[CustomCommand]\r\nCommand0=not_found\r\nCommand1=\r\nCommand2=NOT_FOUND\r\nCommand3=never\r\n");
    ChildRun run = hook.Run();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(Block(hook.LogName(), {{"Service0", "NOT_FOUND"}},
                    {{"Command0", "not_found"}, {"Command1", ""}, {"Command2", "NOT_FOUND"}}),
              hook.Log());
}

TEST(UninstallRun, LogThatCannotBeOpenedSkipsOnlyTheLog)
{
    TestService s0(Unique("nolog"));
    ASSERT_TRUE(s0.created());
    HookFolder hook;
    ASSERT_TRUE(CreateDirectoryA(hook.LogName().c_str(), NULL));
    hook.Script("[ServiceDelete]\r\nService0=" + s0.name() + "\r\n");
    ChildRun run = hook.Run();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("UninstInitialize -> 0"));
    EXPECT_FALSE(s0.Exists());
}

TEST(UninstallRun, ConfigurationFileIsDeletedFromTheWindowsDirectory)
{
    char windows[MAX_PATH] = {0};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string config = std::string(windows) + "\\kivcfg.ini";
    ASSERT_TRUE(WriteFileBytes(config, "[Config]\r\n"));
    HookFolder hook;
    ChildRun run = hook.Run();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(config.c_str()));
    DeleteFileA(config.c_str());
}

bool AppearsWithin(const std::string &path, int tenths)
{
    for (int i = 0; i < tenths; i++, Sleep(100))
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
    return false;
}

// An uninstaller started without -c: the hook reads the script beside the
// library and logs there, not in the Windows or the current directory. A
// command the reader may have cut is logged and never started.
TEST(UninstallRun, WithoutTheOptionTheHookWorksBesideTheLibrary)
{
    TestService s0(Unique("noopt"));
    ASSERT_TRUE(s0.created());
    HookFolder hook;
    TempDir current;
    std::string started = hook.dir().file("started.txt"), cut = hook.dir().file("cut.txt");
    std::string command = "cmd.exe /c echo x>\"" + started + "\"";
    std::string longCommand = "cmd.exe /c echo x>\"" + cut + "\" & rem " + std::string(600, 'k');
    hook.Script("[ServiceDelete]\r\nService0=" + s0.name() + "\r\n[CustomCommand]\r\nCommand0=" + longCommand +
                "\r\nCommand1=" + command + "\r\n");
    ChildRun run = RunProcess("\"" + BinPath("kivhost.exe") + "\" --dll \"" + hook.dir().file("kiv_inst.dll") +
                                  "\" UninstInitialize",
                              120000, current.path().c_str());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_FALSE(s0.Exists());
    std::string skipped = longCommand.substr(0, 511) + "\r\nValue may be cut (511 characters or more), skipped";
    EXPECT_EQ(Block(hook.LogName(), {{"Service0", s0.name()}, {"Service1", "NOT_FOUND"}},
                    {{"Command0", skipped}, {"Command1", command}, {"Command2", "NOT_FOUND"}}),
              hook.Log());
    EXPECT_TRUE(AppearsWithin(started, 100));
    EXPECT_FALSE(AppearsWithin(cut, 10)) << "a cut command must not run";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(current.file("kivuninslog.txt").c_str()));
}

// A log name that is a second link to another file: that file is left as it
// was, and the run goes on without its log.
TEST(UninstallRun, LogHardLinkedToAnotherFileIsNotWritten)
{
    HookFolder hook;
    TempDir other;
    std::string victim = other.file("victim.txt"), marker = hook.dir().file("marker.txt");
    ASSERT_TRUE(WriteFileBytes(victim, "keep\r\n"));
    ASSERT_TRUE(CreateHardLinkA(hook.LogName().c_str(), victim.c_str(), NULL));
    hook.Script("[CustomCommand]\r\nCommand0=cmd.exe /c echo x>\"" + marker + "\"\r\n");
    ChildRun run = hook.Run();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(victim, &bytes));
    EXPECT_EQ("keep\r\n", bytes);
    EXPECT_TRUE(AppearsWithin(marker, 100)) << "the run's commands still run";
    DeleteFileA(hook.LogName().c_str());
}

// An installation folder outside the ANSI code page reaches the hook whole
// through the wide command line; its script is read and its log written.
TEST(UninstallRun, FolderOutsideTheAnsiCodePage)
{
    TestService s0(Unique("wide"));
    ASSERT_TRUE(s0.created());
    TempDir base;
    std::wstring folder = Wide(base.path()) + L"Kivelstrand \x141\xf3d\x17a \x6771\x4eac\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    std::wstring library = folder + L"kiv_inst.dll", script = folder + L"kivunins.ini",
                 log = folder + L"kivuninslog.txt";
    ASSERT_TRUE(CopyFileW(Wide(BinPath("kiv_inst.dll")).c_str(), library.c_str(), FALSE));
    std::string text = "[ServiceDelete]\r\nService0=" + s0.name() + "\r\n";
    HANDLE file = CreateFileW(script.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);

    std::wstring line = L"\"" + Wide(BinPath("kivhost.exe")) + L"\" -c\"" + library + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000));
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    EXPECT_EQ(0u, exitCode);
    EXPECT_FALSE(s0.Exists()) << "expected the script read from the wide folder";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(log.c_str())) << "expected the log in the wide folder";
    DeleteFileW(log.c_str());
    DeleteFileW(script.c_str());
    DeleteFileW(library.c_str());
    RemoveDirectoryW(folder.c_str());
}

// One log never mixes encodings: it keeps the one it has. A Unicode run
// writes an ANSI log's text in ASCII with <U+XXXX> for the rest; an ANSI run
// goes on in UTF-8 where a Unicode run made the log so. A script with the
// UTF-8 mark is an ANSI script, as it always was.
TEST(UninstallRun, LogKeepsItsEncodingAcrossRuns)
{
    struct Row {
        const char *what;
        std::string script, log;
        std::string value; // as logged
    } rows[] = {
        {"Unicode run, ANSI log", Utf16File(L"[ServiceDelete]\r\nService0=caf\xe9 \x141\r\n"), "x\xE9\r\n",
         "caf<U+00E9> <U+0141>"},
        {"ANSI run, Unicode log", "[ServiceDelete]\r\nService0=caf\xE9\r\n", UTF8_MARK + "x\r\n", "caf\xC3\xA9"},
        {"UTF-8 script, no log", UTF8_MARK + "[ServiceDelete]\r\nService0=KivTestNone\r\n", "", "KivTestNone"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        HookFolder hook;
        hook.Script(row.script);
        if (!row.log.empty()) {
            ASSERT_TRUE(WriteFileBytes(hook.LogName(), row.log));
        }
        ChildRun run = hook.Run();
        EXPECT_EQ(0u, run.exitCode) << run.output;
        EXPECT_EQ(row.log + Block(hook.LogName(), {{"Service0", row.value + NO_SERVICE}, {"Service1", "NOT_FOUND"}},
                                  {{"Command0", "NOT_FOUND"}}),
                  hook.Log());
    }
}

// ---- in this process ------------------------------------------------------

std::vector<std::string> g_windowTexts;
void *g_realSetWindowText;
BOOL WINAPI RecordSetWindowText(HWND window, LPCSTR text)
{
    g_windowTexts.push_back(text ? text : "(null)");
    return ((BOOL(WINAPI *)(HWND, LPCSTR))g_realSetWindowText)(window, text);
}

typedef BOOL(WINAPI *EntryPoint)(HINSTANCE, DWORD, LPVOID);

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

TEST(UninstallInProcess, StatusAroundEachStepStartersRemovedAndModuleInstanceCleared)
{
    HookFolder hook;
    hook.Script("[ServiceDelete]\r\nService0=KivTestNone_x\r\nService1=\r\n[CustomCommand]\r\nCommand0=kivnone_"
                "nothing.exe\r\n");
    std::string line = "kivhost.exe -c\"" + hook.dir().file("kiv_inst.dll") + "\"";
    g_windowTexts.clear();
    journal::Clear();
    {
        WideCommandLine commandLine(KivModule(), line);
        ImportHook texts(KivModule(), NULL, "SetWindowTextA", (void *)RecordSetWindowText);
        g_realSetWindowText = texts.original();
        EventCapture events;
        ASSERT_TRUE(commandLine.installed());
        EXPECT_EQ(0, UninstInitialize(0, KivModule()));
        EXPECT_EQ(0, UninstUnInitialize());
        // Once the posted close has removed the run's window, none can be
        // made: the module instance is cleared.
        PumpMessages();
        EXPECT_EQ(0, FakeStatusOpen("after", "run"));
        g_windowTexts.resize(std::min<size_t>(g_windowTexts.size(), 6));
    }

    std::vector<std::string> expectedTexts = {
        "Uninstall", "Uninstalling KivTestNone_x service, please wait...",
        "Uninstall", "Uninstalling  service, please wait...",
        "Uninstall", "Uninstalling by custom call kivnone_nothing.exe, please wait...",
    };
    EXPECT_EQ(expectedTexts, g_windowTexts);

    // Listed services, then the fifty process starters and the old one.
    // The support library's records; the entry point's own reports of
    // threads coming and going are not part of the run.
    std::vector<JournalEntry> records;
    for (const JournalEntry &e : journal::Of(Outlet::EventReport))
        if (!e.strings.empty() && e.strings[0].compare(0, 18, "Kivelstrand System") == 0)
            records.push_back(e);
    std::vector<std::string> names = {"KivTestNone_x", ""};
    for (int i = 0; i < 50; i++)
        names.push_back("KivProcessStarter" + std::to_string(i));
    names.push_back("KIV Process Starter");
    ASSERT_EQ(names.size(), records.size());
    for (size_t i = 0; i < names.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_NE(std::string::npos,
                  records[i].strings[0].find("KIV_NT_RemoveService(" + names[i] + "): OpenService"));
    }
    EXPECT_EQ(Block(hook.LogName(),
                    {{"Service0", "KivTestNone_x" + NO_SERVICE}, {"Service1", ""}, {"Service2", "NOT_FOUND"}},
                    {{"Command0", "kivnone_nothing.exe"}, {"Command1", "NOT_FOUND"}}),
              hook.Log());

    // Back to the loaded state for whatever runs next.
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    entry(KivModule(), DLL_PROCESS_ATTACH, NULL);
}

// A quiet run shows no status window; the log and the removals are as usual.
TEST(UninstallInProcess, QuietRunShowsNoStatusWindow)
{
    HookFolder hook;
    hook.Script("[ServiceDelete]\r\nService0=KivTestNone_q\r\n[CustomCommand]\r\nCommand0=kivnone_nothing.exe\r\n");
    g_windowTexts.clear();
    ASSERT_TRUE(SetEnvironmentVariableA("KIV_INST_QUIET", "1"));
    {
        WideCommandLine commandLine(KivModule(), "kivhost.exe -c\"" + hook.dir().file("kiv_inst.dll") + "\"");
        ImportHook texts(KivModule(), NULL, "SetWindowTextA", (void *)RecordSetWindowText);
        g_realSetWindowText = texts.original();
        EventCapture events;
        EXPECT_EQ(0, UninstInitialize(0, KivModule()));
    }
    SetEnvironmentVariableA("KIV_INST_QUIET", NULL);
    EXPECT_TRUE(g_windowTexts.empty()) << "expected no status window, first text: "
                                       << (g_windowTexts.empty() ? "" : g_windowTexts[0]);
    EXPECT_EQ(Block(hook.LogName(), {{"Service0", "KivTestNone_q" + NO_SERVICE}, {"Service1", "NOT_FOUND"}},
                    {{"Command0", "kivnone_nothing.exe"}, {"Command1", "NOT_FOUND"}}),
              hook.Log());
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    entry(KivModule(), DLL_PROCESS_ATTACH, NULL);
}

// A script saved as UTF-16 is acted on exactly: a service and a program
// outside the ANSI code page are removed and started by their names, the
// status text and the event record carry them whole, a value with a control
// character or half a surrogate pair is skipped, and the new log is UTF-8
// behind its byte-order mark.
TEST(UninstallInProcess, UnicodeScriptActsOnNamesOutsideTheAnsiCodePage)
{
    const std::wstring name = L"Kivelstrand \x141\xf3d\x17a \x6771\x4eac";
    ::TestService service("normal", NULL, SERVICE_DEMAND_START, true, Utf8(name).c_str());
    ASSERT_TRUE(service.installed());
    TempDir base;
    const std::wstring folder = Wide(base.path()) + name + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    ASSERT_TRUE(CopyFileW(Wide(BinPath("kivmark.exe")).c_str(), (folder + L"kivmark.exe").c_str(), FALSE));
    const std::wstring command = L"\"" + folder + L"kivmark.exe\" " + name;
    ASSERT_TRUE(WriteFileBytes(folder + L"kivunins.ini",
                               Utf16File(L"[ServiceDelete]\r\nService0=" + name + L"\r\nService1=Kiv\x1b[1m\r\n"
                                         L"Service2=Kiv\xd800\r\n[CustomCommand]\r\nCommand0=" + command + L"\r\n")));

    journal::Clear();
    WCHAR shown[1024] = {0};
    {
        WideCommandLine commandLine(KivModule(), L"kivhost.exe -c\"" + folder + L"kiv_inst.dll\"");
        EventCapture events;
        EXPECT_EQ(0, UninstInitialize(0, KivModule()));
        GetDlgItemTextW(FindWindowW(NULL, L"Uninstall"), IDC_STATUS_TEXT, shown, 1024);
    }
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    entry(KivModule(), DLL_PROCESS_ATTACH, NULL);
    PumpMessages();

    EXPECT_EQ(0u, QueryServiceState(service.name())) << "expected the service removed";
    EXPECT_EQ(L"Uninstalling by custom call " + command + L", please wait...", std::wstring(shown));
    std::vector<std::string> named;
    for (const JournalEntry &e : journal::Of(Outlet::EventReport))
        if (e.wide && e.strings.at(0).find(Utf8(name)) != std::string::npos)
            named.push_back(e.strings[0]);
    std::string tail = " (PID: " + std::to_string(GetCurrentProcessId()) +
                       ")\r\n\r\nKIV_NT_RemoveService: Removed service " + Utf8(name) + ".\n\r\n\r\n\r\n";
    ASSERT_EQ(1u, named.size());
    EXPECT_EQ(0u, named[0].find("Kivelstrand System\r\n\r\nProcess: ")) << named[0];
    EXPECT_EQ(named[0].size() - tail.size(), named[0].rfind(tail)) << named[0];

    const std::string skipped = "\r\nValue has a control character or half a surrogate pair, skipped";
    std::string log;
    ASSERT_TRUE(ReadFileBytes(folder + L"kivuninslog.txt", &log));
    EXPECT_EQ(UTF8_MARK +
                  Block(Utf8(folder + L"kivuninslog.txt"),
                        {{"Service0", Utf8(name)}, {"Service1", "Kiv<U+001B>[1m" + skipped},
                         {"Service2", "Kiv<U+D800>" + skipped}, {"Service3", "NOT_FOUND"}},
                        {{"Command0", Utf8(command)}, {"Command1", "NOT_FOUND"}}),
              log);

    // The program got its command line whole.
    std::string marker;
    for (int i = 0; i < 100 && marker.empty(); i++, Sleep(100))
        ReadFileBytes(folder + L"kivmark.txt", &marker);
    EXPECT_EQ(std::string((const char *)command.data(), command.size() * sizeof(wchar_t)), marker);
}

// ---- commands as written, and folders the hook may trust ------------------

std::vector<std::string> g_winExecLines;
UINT WINAPI RecordWinExec(LPCSTR line, UINT)
{
    g_winExecLines.push_back(line);
    return 33;
}

// What CreateProcessW was given; nothing is started.
std::vector<std::pair<std::wstring, std::wstring>> g_processes;
BOOL WINAPI RecordCreateProcessW(LPCWSTR program, LPWSTR line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                 DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    g_processes.push_back({program ? program : L"(null)", line ? line : L"(null)"});
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

// One quiet run in this process for the library path given, with its
// commands recorded instead of started.
void RunRecordingCommands(const std::string &library)
{
    g_winExecLines.clear();
    g_processes.clear();
    {
        WideCommandLine commandLine(KivModule(), "kivhost.exe -c\"" + library + "\"");
        ImportHook winExec(KivModule(), NULL, "WinExec", (void *)RecordWinExec);
        ImportHook create(KivModule(), NULL, "CreateProcessW", (void *)RecordCreateProcessW);
        EventCapture events;
        ASSERT_TRUE(winExec.installed() && create.installed());
        ASSERT_TRUE(SetEnvironmentVariableA("KIV_INST_QUIET", "1"));
        EXPECT_EQ(0, UninstInitialize(0, KivModule()));
        SetEnvironmentVariableA("KIV_INST_QUIET", NULL);
    }
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    entry(KivModule(), DLL_PROCESS_ATTACH, NULL);
}

// The profile reader takes quotes around a whole value away; the hook reads
// commands as written, so the line its author quoted starts so.
TEST(UninstallCommands, AnsiCommandsStartExactlyAsWritten)
{
    HookFolder hook;
    hook.Script("[CustomCommand]\r\nCommand0=\"C:\\dir x\\prog.exe\"\r\nCommand1=  \"C:\\a.exe\" \"arg\"  \r\n"
                "command2=\"x\" y \"z\"\r\nCommand3=\"NOT_FOUND\"\r\nCommand4=NOT_FOUND\r\n");
    RunRecordingCommands(hook.dir().file("kiv_inst.dll"));
    std::vector<std::string> expected = {"\"C:\\dir x\\prog.exe\"", "\"C:\\a.exe\" \"arg\"", "\"x\" y \"z\"",
                                         "\"NOT_FOUND\""};
    EXPECT_EQ(expected, g_winExecLines);
    EXPECT_TRUE(g_processes.empty()) << "expected an ANSI script's commands through WinExec only";
    EXPECT_EQ(Block(hook.LogName(), {{"Service0", "NOT_FOUND"}},
                    {{"Command0", expected[0]}, {"Command1", expected[1]}, {"Command2", expected[2]},
                     {"Command3", expected[3]}, {"Command4", "NOT_FOUND"}}),
              hook.Log());
}

// A Unicode script's command names its program by an absolute path, which
// is handed over as the program; anything the system would search for is
// skipped with a line that says so.
TEST(UninstallCommands, UnicodeCommandsNameTheirProgramByAbsolutePath)
{
    const struct {
        const wchar_t *command;
        const wchar_t *program; // NULL: skipped
    } rows[] = {
        {L"\"C:\\dir x\\prog.exe\" \"arg\"", L"C:\\dir x\\prog.exe"},
        {L"\"C:\\dir x\\prog.exe\"", L"C:\\dir x\\prog.exe"},
        {L"C:\\kiv\\clean.exe /q", L"C:\\kiv\\clean.exe"},
        {L"\\\\srv\\share\\clean.cmd", L"\\\\srv\\share\\clean.cmd"},
        {L"cmd.exe /c del x", NULL},
        {L"\"notepad\" x.txt", NULL},
        {L"bin\\clean.exe", NULL},
        {L"\\kiv\\clean.exe", NULL},
        {L"C:clean.exe", NULL},
        {L"\\\\\\x.exe", NULL},
        {L"\"C:\\dir x\\prog.exe", NULL},
    };
    std::wstring script = L"[CustomCommand]\r\n";
    std::vector<std::pair<std::string, std::string>> logged;
    std::vector<std::pair<std::wstring, std::wstring>> started;
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        std::string key = "Command" + std::to_string(i);
        script += Wide(key) + L"=" + rows[i].command + L"\r\n";
        std::string value = Utf8(rows[i].command);
        if (rows[i].program == NULL)
            value += "\r\nCommand does not name its program by an absolute path, skipped";
        else
            started.push_back({rows[i].program, rows[i].command});
        logged.push_back({key, value});
    }
    logged.push_back({"Command" + std::to_string(logged.size()), "NOT_FOUND"});
    HookFolder hook;
    hook.Script(Utf16File(script));
    RunRecordingCommands(hook.dir().file("kiv_inst.dll"));
    EXPECT_EQ(started, g_processes);
    EXPECT_TRUE(g_winExecLines.empty());
    EXPECT_EQ(UTF8_MARK + Block(hook.LogName(), {{"Service0", "NOT_FOUND"}}, logged), hook.Log());
}

// A quoted program path with a blank and nothing behind it: started, and
// given its command line with the quotes its author wrote.
TEST(UninstallCommands, QuotedPathWithBlanksReachesTheProgramWhole)
{
    HookFolder hook;
    std::string folder = hook.dir().file("dir x");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    ASSERT_TRUE(CopyFileA(BinPath("kivmark.exe").c_str(), (folder + "\\kivmark.exe").c_str(), FALSE));
    std::string command = "\"" + folder + "\\kivmark.exe\"";
    hook.Script("[CustomCommand]\r\nCommand0=" + command + "\r\n");
    ChildRun run = hook.Run();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    std::string marker;
    for (int i = 0; i < 100 && marker.empty(); i++, Sleep(100))
        ReadFileBytes(folder + "\\kivmark.txt", &marker);
    std::wstring wide = Wide(command);
    EXPECT_EQ(std::string((const char *)wide.data(), wide.size() * sizeof(wchar_t)), marker);
    DeleteFileA((folder + "\\kivmark.txt").c_str());
    DeleteFileA((folder + "\\kivmark.exe").c_str());
    RemoveDirectoryA(folder.c_str());
}

// The security a test gives each handle the hook asks about, in turn: the
// folder's, then the script's. An empty text makes the call fail.
std::vector<std::string> g_descriptors;
size_t g_descriptorCalls;
DWORD WINAPI FakeGetSecurityInfo(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID *owner, PSID *group,
                                 PACL *dacl, PACL *sacl, PSECURITY_DESCRIPTOR *descriptor)
{
    size_t call = g_descriptorCalls++;
    const std::string &text = g_descriptors.at(call < g_descriptors.size() ? call : g_descriptors.size() - 1);
    if (text.empty())
        return ERROR_ACCESS_DENIED;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, descriptor, NULL))
        return GetLastError();
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    if (!present)
        *dacl = NULL;
    if (group != NULL)
        *group = NULL;
    if (sacl != NULL)
        *sacl = NULL;
    return ERROR_SUCCESS;
}

// Wine enforces no access rights, so the rights are given through the
// hook's import: a folder or script others may write is never read, and the
// run logs why beside the library.
TEST(UninstallTrust, FolderOthersMayWriteIsNotActedOn)
{
    const char *const PROTECTED = "O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
    const char *const WRITABLE = "others may write it";
    const struct {
        const char *what;
        std::vector<std::string> descriptors; // folder, script
        const char *reason;                   // NULL: acted on
    } rows[] = {
        {"protected folder and script", {PROTECTED, PROTECTED}, NULL},
        {"inherit-only write for users", {"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", PROTECTED}, NULL},
        {"users may add files to the folder", {"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x2;;;BU)", PROTECTED},
         WRITABLE},
        {"users may write the script", {PROTECTED, "O:BAD:(A;;FA;;;BA)(A;;FW;;;BU)"}, WRITABLE},
        {"everyone has it all", {"O:BAD:(A;;GA;;;WD)", PROTECTED}, WRITABLE},
        // A descriptor without an access list: as a null one, it lets everybody in.
        {"no access list", {"O:BA", PROTECTED}, WRITABLE},
        {"owned by users", {"O:BUD:(A;;FA;;;BA)", PROTECTED}, "owned by another account"},
        {"rights unreadable", {""}, "its rights cannot be read"},
    };
    const std::string libraryLog = BinPath("kivuninslog.txt");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        HookFolder hook;
        hook.Script("[ServiceDelete]\r\nService0=KivTestNone_t\r\n[CustomCommand]\r\nCommand0=C:\\kiv\\x.exe\r\n");
        DeleteFileA(libraryLog.c_str());
        g_descriptors = row.descriptors;
        g_descriptorCalls = 0;
        {
            ImportHook security(KivModule(), NULL, "GetSecurityInfo", (void *)FakeGetSecurityInfo);
            ASSERT_TRUE(security.installed());
            RunRecordingCommands(hook.dir().file("kiv_inst.dll"));
        }
        if (row.reason == NULL) {
            EXPECT_EQ(2u, g_descriptorCalls) << "expected the folder and the script judged";
            EXPECT_EQ(std::vector<std::string>{"C:\\kiv\\x.exe"}, g_winExecLines);
            EXPECT_EQ(Block(hook.LogName(), {{"Service0", "KivTestNone_t" + NO_SERVICE}, {"Service1", "NOT_FOUND"}},
                            {{"Command0", "C:\\kiv\\x.exe"}, {"Command1", "NOT_FOUND"}}),
                      hook.Log());
            continue;
        }
        EXPECT_TRUE(g_winExecLines.empty()) << "expected no command started";
        EXPECT_EQ("", hook.Log()) << "expected no log in the refused folder";
        std::string log;
        ASSERT_TRUE(ReadFileBytes(libraryLog, &log)) << "expected the log beside the library";
        std::string block = Block(libraryLog, {{"Service0", "NOT_FOUND"}}, {{"Command0", "NOT_FOUND"}});
        std::string refused = "Script folder " + hook.dir().path() + " refused: " + row.reason + "\r\n";
        block.insert(block.find("Section is ServiceDelete"), refused);
        EXPECT_EQ(block, log);
        DeleteFileA(libraryLog.c_str());
    }
}

// The library's own folder is the engine's choice and is not judged, nor is
// a folder the running account made (every other test here runs in one).
TEST(UninstallTrust, LibrarysOwnFolderIsNotJudged)
{
    const std::string script = BinPath("kivunins.ini"), log = BinPath("kivuninslog.txt");
    ASSERT_TRUE(WriteFileBytes(script, "[CustomCommand]\r\nCommand0=C:\\kiv\\own.exe\r\n"));
    g_descriptors = {"O:BUD:(A;;GA;;;WD)"};
    g_descriptorCalls = 0;
    {
        ImportHook security(KivModule(), NULL, "GetSecurityInfo", (void *)FakeGetSecurityInfo);
        RunRecordingCommands(BinPath("kiv_inst.dll"));
    }
    DeleteFileA(script.c_str());
    DeleteFileA(log.c_str());
    EXPECT_EQ(0u, g_descriptorCalls);
    EXPECT_EQ(std::vector<std::string>{"C:\\kiv\\own.exe"}, g_winExecLines);
}

// The folder and the script are opened as themselves, never through a
// link, and the folder without delete sharing, so that it cannot be moved
// away and replaced while the run reads its script. (Wine lets a folder be
// renamed all the same: the test checks how the hook opens it.)
struct FileOpen {
    std::wstring name;
    DWORD share, flags;
};
std::vector<FileOpen> g_opens;
void *g_realCreateFile;
HANDLE WINAPI RecordCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE model)
{
    g_opens.push_back({name, share, flags});
    typedef HANDLE(WINAPI * Open)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    return ((Open)g_realCreateFile)(name, access, share, security, disposition, flags, model);
}

TEST(UninstallTrust, FolderAndScriptAreOpenedAsThemselves)
{
    HookFolder hook;
    hook.Script("[ServiceDelete]\r\nService0=KivTestNone_p\r\n");
    g_opens.clear();
    {
        ImportHook open(KivModule(), NULL, "CreateFileW", (void *)RecordCreateFileW);
        g_realCreateFile = open.original();
        ASSERT_TRUE(open.installed());
        RunRecordingCommands(hook.dir().file("kiv_inst.dll"));
    }
    std::wstring folder = Wide(hook.dir().path());
    folder.pop_back();
    const FileOpen *folderOpen = NULL, *scriptOpen = NULL;
    for (const FileOpen &open : g_opens) {
        if (open.name == folder && folderOpen == NULL)
            folderOpen = &open;
        if (open.name == Wide(hook.dir().file("kivunins.ini")) && scriptOpen == NULL)
            scriptOpen = &open;
    }
    ASSERT_NE(nullptr, folderOpen) << "expected the folder opened by its name without a trailing backslash";
    ASSERT_NE(nullptr, scriptOpen);
    EXPECT_EQ((DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE), folderOpen->share);
    EXPECT_EQ((DWORD)(FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT), folderOpen->flags);
    EXPECT_NE(0u, scriptOpen->flags & FILE_FLAG_OPEN_REPARSE_POINT);
    EXPECT_LT(folderOpen, scriptOpen) << "expected the folder judged first";
}

} // namespace
