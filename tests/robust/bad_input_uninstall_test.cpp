// The uninstall hook with input no careful uninstaller would give it: instance
// handles that name no module, "-c" paths far longer than any path, script
// values longer than the hook's buffers. The hook runs in this process with
// its command line intercepted; the command line sits in guarded memory, so a
// read past its end faults.
#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "capture.h"
#include "guarded.h"
#include "kiv_inst.h"
#include "process.h"
#include "resource.h"
#include "soak_run.h"

namespace {

const char LOG_NAME[] = "kivuninslog.txt";
const char SCRIPT_NAME[] = "kivunins.ini";
const char HOOK_CAPTION[] = "Uninstall";
const char MISSING_SCRIPT_SERVICE[] = "KivRobustHookNoService";
const char NO_SERVICE_LINE[] = "No service has this name (error 1060), nothing removed\r\n";

// The script names the hook reads from, in order, in the ANSI code page:
// a value at a time (services), a section at a time (commands).
std::vector<std::string> g_scriptNames;
void *g_realProfileRead;
void *g_realSectionRead;
void RecordScriptName(LPCWSTR file)
{
    char name[2048] = "(null)";
    if (file != NULL)
        WideCharToMultiByte(CP_ACP, 0, file, -1, name, sizeof(name), NULL, NULL);
    g_scriptNames.push_back(name);
}
DWORD WINAPI RecordProfileRead(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR value, DWORD size,
                               LPCWSTR file)
{
    RecordScriptName(file);
    typedef DWORD(WINAPI * Read)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    return ((Read)g_realProfileRead)(section, key, fallback, value, size, file);
}
DWORD WINAPI RecordSectionRead(LPCWSTR section, LPWSTR text, DWORD size, LPCWSTR file)
{
    RecordScriptName(file);
    typedef DWORD(WINAPI * Read)(LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    return ((Read)g_realSectionRead)(section, text, size, file);
}

typedef BOOL(WINAPI *EntryPoint)(HINSTANCE, DWORD, LPVOID);

// What one run left behind before the host dispatched again.
struct HookRun {
    int result = -1;
    std::vector<std::string> scriptNames;
    bool windowShown = false;
    std::string windowText;
};

// One run with the given command line (kept in guarded memory) and instance;
// debugger lines and records are captured, not sent. Afterwards the entry
// point's attach gives the module its instance back and the run's window is
// dispatched away.
HookRun RunHook(const std::string &commandLine, HINSTANCE instance)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    g_scriptNames.clear();
    HookRun run;
    {
        DebugCapture debug;
        EventCapture events;
        WideCommandLine command(KivModule(), commandLine);
        ImportHook profile(KivModule(), NULL, "GetPrivateProfileStringW", (void *)RecordProfileRead);
        ImportHook sections(KivModule(), NULL, "GetPrivateProfileSectionW", (void *)RecordSectionRead);
        g_realProfileRead = profile.original();
        g_realSectionRead = sections.original();
        EXPECT_TRUE(command.installed() && profile.installed() && sections.installed())
            << "expected the imports intercepted";
        run.result = UninstInitialize(0, instance);
        HWND window = FindWindowA(NULL, HOOK_CAPTION);
        run.windowShown = window != NULL;
        if (window != NULL) {
            char text[2048] = {0};
            GetDlgItemTextA(window, IDC_STATUS_TEXT, text, sizeof(text));
            run.windowText = text;
        }
    }
    run.scriptNames = g_scriptNames;
    EntryPoint entry = (EntryPoint)(void *)GetProcAddress(KivModule(), "DllMain");
    entry(KivModule(), DLL_PROCESS_ATTACH, NULL);
    DispatchPending();
    return run;
}

std::string HookLine(const std::string &libraryPath)
{
    return "kivhost.exe -c\"" + libraryPath + "\"";
}

// The part of a log block between the section line and the next section.
std::string ServiceSection(const std::string &log)
{
    size_t start = log.find("Section is ServiceDelete\r\n");
    size_t end = log.find("Section is CustomCommand\r\n");
    if (start == std::string::npos || end == std::string::npos)
        return "";
    return log.substr(start, end - start);
}

// Instance handles that name no module give no status window; every other
// step runs, and the result stays 0.
TEST(BadInputUninstall, InstanceHandlesThatNameNoModule)
{
    struct Row {
        const char *label;
        HINSTANCE instance;
        bool window;
    } rows[] = {
        {"null", NULL, false},
        {"1", (HINSTANCE)(ULONG_PTR)1, false},
        {"0xFFFFFFFF", (HINSTANCE)(ULONG_PTR)0xFFFFFFFF, false},
        {"the host program, which has no template", GetModuleHandleA(NULL), false},
        {"the library", KivModule(), true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        TempDir dir;
        ASSERT_TRUE(WriteFileBytes(dir.file(SCRIPT_NAME),
                                   std::string("[ServiceDelete]\r\nService0=") + MISSING_SCRIPT_SERVICE + "\r\n"));
        HookRun run = RunHook(HookLine(dir.file("kiv_inst.dll")), row.instance);
        EXPECT_EQ(0, run.result) << "expected 0 always";
        EXPECT_EQ(row.window, run.windowShown) << "expected a status window only from the library's template";
        std::string log;
        ASSERT_TRUE(ReadFileBytes(dir.file(LOG_NAME), &log)) << "expected the log written whatever the instance";
        EXPECT_EQ(std::string("Section is ServiceDelete\r\nKey name is Service0\r\nValue is ") +
                      MISSING_SCRIPT_SERVICE + "\r\n" + NO_SERVICE_LINE + "Key name is Service1\r\nValue is NOT_FOUND\r\n",
                  ServiceSection(log));
        EXPECT_TRUE(ProcessHeapValid());
    }
}

// A "-c" path longer than the hook's 512-character directory gives no
// directory from the option at all, never a cut one: the hook works beside
// the library itself.
TEST(BadInputUninstall, OverLongLibraryPathsFallBackToTheLibrarysFolder)
{
    const std::string script = BinPath(SCRIPT_NAME), logName = BinPath(LOG_NAME);
    const size_t lengths[] = {1023, 1024, 4096, 65536};
    for (size_t length : lengths) {
        SCOPED_TRACE(testing::Message() << "path of " << length << " characters");
        const std::string tail = "\\kiv_inst.dll";
        std::string path = "C:\\" + std::string(length - 3 - tail.size(), 'k') + tail;
        ASSERT_EQ(length, path.size());
        DeleteFileA(logName.c_str());
        HookRun run = RunHook(HookLine(path), KivModule());

        EXPECT_EQ(0, run.result);
        ASSERT_EQ(2u, run.scriptNames.size()) << "expected one read in each section of a missing script";
        // The second is the commands' section, read whole.
        EXPECT_EQ(script, run.scriptNames[0]) << "expected the script beside the library";
        EXPECT_EQ(script, run.scriptNames[1]);
        std::string log;
        ASSERT_TRUE(ReadFileBytes(logName, &log)) << "expected the log beside the library";
        EXPECT_NE(std::string::npos, log.find("Log file name is " + logName + "\r\n"));
        DeleteFileA(logName.c_str());
        EXPECT_TRUE(ProcessHeapValid());
    }
}

// Values of 511 characters and more may have been cut by the profile reader:
// the log shows the 511 it handed over and says the value is skipped; no
// service is removed and no command started under a cut name.
TEST(BadInputUninstall, ScriptValuesOf511CharactersAndMoreAreSkipped)
{
    const size_t lengths[] = {510, 511, 512, 1000, 4096};
    for (size_t length : lengths) {
        SCOPED_TRACE(testing::Message() << "value of " << length << " characters");
        std::string value(length, 'k');
        TempDir dir;
        ASSERT_TRUE(WriteFileBytes(dir.file(SCRIPT_NAME), "[ServiceDelete]\r\nService0=" + value +
                                                               "\r\n[CustomCommand]\r\nCommand0=" + value + "\r\n"));
        HookRun run = RunHook(HookLine(dir.file("kiv_inst.dll")), KivModule());
        EXPECT_EQ(0, run.result);
        bool cut = length >= 511;
        std::string lines = "Value is " + value.substr(0, 511) + "\r\n" +
                            (cut ? "Value may be cut (511 characters or more), skipped\r\n" : "");
        std::string log;
        ASSERT_TRUE(ReadFileBytes(dir.file(LOG_NAME), &log));
        EXPECT_EQ("Section is ServiceDelete\r\nKey name is Service0\r\n" + lines + (cut ? "" : NO_SERVICE_LINE) +
                      "Key name is Service1\r\nValue is NOT_FOUND\r\n",
                  ServiceSection(log));
        EXPECT_NE(std::string::npos, log.find("Key name is Command0\r\n" + lines + "Key name is Command1\r\n"));
        EXPECT_EQ(!cut, run.windowShown) << "expected a status window only for a value that was used";
        if (!cut) {
            EXPECT_EQ(("Uninstalling by custom call " + value).substr(0, 511), run.windowText)
                << "expected the status text cut to 511 characters";
        }
        EXPECT_TRUE(ProcessHeapValid());
    }
}

// Commands are read with their whole section, as written: a section far
// longer than the reader's first buffer is read whole, the command behind
// its many other lines is found, and values with stray quotes go as written.
TEST(BadInputUninstall, LongCommandSectionIsReadWhole)
{
    std::string script = "[CustomCommand]\r\n";
    for (int i = 0; i < 3000; i++)
        script += "Other" + std::to_string(i) + "=" + std::string(100, 'o') + "\r\n";
    const std::string commands[] = {"kivnone_a.exe \"", "\"kivnone b.exe", "\"\"", "kivnone_c.exe \"x\"\"y\""};
    for (int i = 0; i < 4; i++)
        script += "Command" + std::to_string(i) + "=" + commands[i] + "\r\n";
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file(SCRIPT_NAME), script));
    HookRun run = RunHook(HookLine(dir.file("kiv_inst.dll")), KivModule());
    EXPECT_EQ(0, run.result);
    std::string log;
    ASSERT_TRUE(ReadFileBytes(dir.file(LOG_NAME), &log));
    std::string expected = "Section is CustomCommand\r\n";
    for (int i = 0; i < 4; i++)
        expected += "Key name is Command" + std::to_string(i) + "\r\nValue is " + commands[i] + "\r\n";
    EXPECT_NE(std::string::npos, log.find(expected + "Key name is Command4\r\nValue is NOT_FOUND\r\n")) << log;
    EXPECT_TRUE(ProcessHeapValid());
}

} // namespace
