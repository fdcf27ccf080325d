// kivhost as installer authors use it: argument errors, the call list, and
// check-script on clean and faulty uninstall scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "process.h"

namespace {

ChildRun Host(const std::string &arguments)
{
    return RunProcess("\"" + BinPath("kivhost.exe") + "\" " + arguments);
}

bool Has(const ChildRun &run, const std::string &text)
{
    return run.output.find(text) != std::string::npos;
}

TEST(Host, ArgumentErrorsExitWithTwoAndSayWhy)
{
    struct Row {
        const char *arguments;
        const char *message;
    } rows[] = {
        {"NoSuchExport", "unknown call NoSuchExport"},
        {"AskDrive 500", "AskDrive takes MB TITLE TEXT"},
        {"ServiceStart", "ServiceStart takes NAME"},
        {"load --pump", "--pump needs a time"},
        {"check-script", "check-script takes FILE"},
        {"", "usage:"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.arguments);
        ChildRun run = Host(row.arguments);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(2u, run.exitCode) << run.output;
        EXPECT_TRUE(Has(run, row.message)) << run.output;
    }
}

TEST(Host, HelpListsEveryCallableExport)
{
    ChildRun run = Host("--help");
    EXPECT_EQ(0u, run.exitCode);
    for (const char *name : {"FakeStatusOpen", "FakeStatusClose", "FakeStatusSetAvi", "ServiceStart", "ServiceDelete",
                             "ServiceStop", "ServiceCreate", "ServiceExists", "AskDrive", "GetWindowByTitle",
                             "StopAllProcessStarters", "ServiceIsRunning", "check-script", "-c"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(Has(run, std::string("  ") + name) || Has(run, std::string("kivhost ") + name)) << run.output;
    }
}

TEST(Host, SeveralCallsRunInOrderInOneProcess)
{
    ChildRun run = Host("FakeStatusSetAvi :SEARCH FakeStatusClose ServiceIsRunning KivTestNoSuchService");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    size_t a = run.output.find("FakeStatusSetAvi -> 1");
    size_t b = run.output.find("FakeStatusClose -> 1");
    size_t c = run.output.find("ServiceIsRunning -> 0");
    ASSERT_NE(std::string::npos, a) << run.output;
    ASSERT_NE(std::string::npos, b) << run.output;
    ASSERT_NE(std::string::npos, c) << run.output;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

class CheckScript : public ::testing::Test {
protected:
    ChildRun Check(const std::string &script)
    {
        WriteFileBytes(dir_.file("kivunins.ini"), script);
        return Host("check-script \"" + dir_.file("kivunins.ini") + "\"");
    }
    TempDir dir_;
};

TEST_F(CheckScript, CleanScriptPrintsTheRunAndNoWarning)
{
    ChildRun run = Check("[ServiceDelete]\r\nService0=KivRender\r\nService1=KivLicense\r\n"
                         "[CustomCommand]\r\nCommand0=C:\\kiv\\cleanup.exe /quiet\r\n"
                         "Command1=\"C:\\Program Files\\Kiv\\a.exe\" \"x y\" /q\r\nCommand2=\\\\srv\\k\\b.cmd\r\n"
                         "Command3=C:\\kiv\\tool.exe C:\\Program Files\\x.exe\r\n"
                         "Command4=C:\\kiv\\tool.exe " + std::string(494, 'x') + "\r\n"); // 510 bytes: read whole
    EXPECT_EQ(0u, run.exitCode) << run.output;
    size_t s0 = run.output.find("remove service: KivRender");
    size_t s1 = run.output.find("remove service: KivLicense");
    size_t starters = run.output.find("remove service: KivProcessStarter49 (always)");
    size_t config = run.output.find("kivcfg.ini");
    size_t command = run.output.find("start command: C:\\kiv\\cleanup.exe /quiet");
    ASSERT_NE(std::string::npos, s0) << run.output;
    ASSERT_NE(std::string::npos, command) << run.output;
    EXPECT_LT(s0, s1);
    EXPECT_LT(s1, starters);
    EXPECT_LT(starters, config);
    EXPECT_LT(config, command);
    EXPECT_TRUE(Has(run, "0 warnings")) << run.output;
}

// A Unicode script's names come out whole, in UTF-8 where the output is no
// console; the script lies in a folder of such a name, given by the wide
// command line.
TEST_F(CheckScript, UnicodeScriptPrintsItsNamesWhole)
{
    const std::wstring name = L"Kivelstrand \x141\xf3d\x17a \x6771\x4eac";
    std::wstring folder = Wide(dir_.path()) + name;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    std::wstring script = folder + L"\\kivunins.ini";
    ASSERT_TRUE(WriteFileBytes(script, Utf16File(L"[ServiceDelete]\r\nService0=" + name +
                                                 L"\r\n[CustomCommand]\r\nCommand0=\"C:\\" + name + L"\\a.exe\" /q\r\n")));
    ChildRun run = RunProcess(L"\"" + Wide(BinPath("kivhost.exe")) + L"\" check-script \"" + script + L"\"");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(Has(run, "remove service: " + Utf8(name) + "\r\n")) << run.output;
    EXPECT_TRUE(Has(run, "start command: \"C:\\" + Utf8(name) + "\\a.exe\" /q\r\n")) << run.output;
}

TEST_F(CheckScript, SampleScriptShippedWithTheDocsIsClean)
{
    std::string sample;
    ASSERT_TRUE(ReadFileBytes(BinDir() + "..\\..\\docs\\sample\\kivunins.ini", &sample));
    ChildRun run = Check(sample);
    EXPECT_EQ(0u, run.exitCode) << run.output;
}

TEST_F(CheckScript, EachMistakeIsWarnedAbout)
{
    struct Row {
        const char *what;
        std::string script;
        const char *warning;
        const char *notRun;
    } rows[] = {
        {"gap", "[ServiceDelete]\r\nService0=A\r\nService2=C\r\n", "Service1 is missing", "remove service: C\n"},
        {"NOT_FOUND value", "[ServiceDelete]\r\nService0=NOT_FOUND\r\nService1=B\r\n", "Service0 is NOT_FOUND",
         "remove service: B\n"},
        {"empty value", "[CustomCommand]\r\nCommand0=\r\n", "Command0 is empty", nullptr},
        // The reader cannot tell a value of 511 bytes from a cut one: both are skipped.
        {"value at the limit", "[CustomCommand]\r\nCommand0=C:\\k\\a.exe " + std::string(500, 'x') + "\r\n",
         "Command0: the value fills the reader's 511 characters and may be cut; the run skips it", "start command"},
        {"long value", "[ServiceDelete]\r\nService0=" + std::string(600, 'x') + "\r\nService1=B\r\n",
         "Service0: the value fills", "remove service: xxx"},
        {"control character in a Unicode script", Utf16File(L"[ServiceDelete]\r\nService0=Kiv\x7\r\nService1=B\r\n"),
         "Service0: the value holds a control character or half a surrogate pair; the run skips it",
         "remove service: Kiv<U+0007>"},
        {"UTF-8 script", "\xEF\xBB\xBF[ServiceDelete]\r\nService0=A\r\n", "a run reads it as ANSI", nullptr},
        {"bare program", "[CustomCommand]\r\nCommand0=cmd.exe /c del x\r\n",
         "the program cmd.exe is a bare name", nullptr},
        {"quoted bare program", "[CustomCommand]\r\nCommand0=\"notepad\" x.txt\r\n",
         "the program notepad is a bare name", nullptr},
        {"relative program", "[CustomCommand]\r\nCommand0=bin\\clean.exe /q\r\n",
         "the program bin\\clean.exe is a relative path", nullptr},
        {"blanks unquoted", "[CustomCommand]\r\nCommand0=C:\\Program Files\\X\\y.exe -a\r\n",
         "the program C:\\Program Files\\X\\y.exe holds blanks without quotes, so the system tries "
         "C:\\Program.exe first", nullptr},
        // The reader takes away quotes around the whole value: the run
        // starts a command as written, but removes a service without them.
        {"whole command quoted", "[CustomCommand]\r\nCommand0=\"C:\\Kiv Tools\\y.bat\"\r\n",
         "Command0: quotes around the whole value are taken off by the system's profile reader; the run starts "
         "the command as written", nullptr},
        {"whole command quoted with quoted arguments", "[CustomCommand]\r\nCommand0=\"C:\\k\\a.exe\" \"x\"\r\n",
         "Command0: quotes around the whole value", nullptr},
        {"whole service quoted", "[ServiceDelete]\r\nService0= \"Kiv Render\" \r\n",
         "Service0: quotes around the whole value are taken off by the system's profile reader; the run removes "
         "the service Kiv Render", nullptr},
        // Under WOW64 a 32-bit uninstaller reaches SysWOW64 by that name.
        {"System32 program", "[CustomCommand]\r\nCommand0=\"C:\\Windows\\System32\\sc.exe\" delete KivX\r\n",
         "Command0: the command names a System32 path, which a 32-bit uninstaller on 64-bit Windows reaches as "
         "SysWOW64 (the 32-bit tools); %windir%\\Sysnative\\ reaches the 64-bit ones", nullptr},
        {"System32 argument", "[CustomCommand]\r\nCommand0=C:\\k\\a.exe C:\\WINDOWS\\system32\r\n",
         "Command0: the command names a System32 path", nullptr},
        // A Unicode script's command must name its program by an absolute path.
        {"bare program in a Unicode script", Utf16File(L"[CustomCommand]\r\nCommand0=cmd.exe /c x\r\n"),
         "Command0: the command does not name its program by an absolute path (in quotes when it holds blanks); "
         "in a Unicode script the run skips it", nullptr},
        {"unquoted blanks in a Unicode script", Utf16File(L"[CustomCommand]\r\nCommand0=\"C:\\a b.exe\r\n"),
         "in a Unicode script the run skips it", nullptr},
        {"past 49", "[ServiceDelete]\r\nService50=Z\r\n", "Service50: only", "remove service: Z\n"},
        {"other section", "[Setup]\r\nService0=Q\r\n", "Service0 belongs in section [ServiceDelete]",
         "remove service: Q\n"},
        {"misspelt section", "[ServiceDelet]\r\nService0=M\r\n", "[ServiceDelet] looks like a misspelling",
         "remove service: M\n"},
        {"odd key", "[ServiceDelete]\r\nService01=P\r\n", "Service01 is not a key", "remove service: P\n"},
        // A section name longer than any value is read whole, not past its end.
        {"long section name", "[" + std::string(600, 's') + "]\r\nService0=L\r\n",
         "Service0 belongs in section [ServiceDelete]", "remove service: L\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ChildRun run = Check(row.script);
        EXPECT_EQ(1u, run.exitCode) << run.output;
        EXPECT_TRUE(Has(run, row.warning)) << run.output;
        if (row.notRun != nullptr) {
            std::string output = run.output;
            for (size_t p; (p = output.find('\r')) != std::string::npos;)
                output.erase(p, 1);
            EXPECT_EQ(std::string::npos, output.find(row.notRun)) << run.output;
        }
    }
}

TEST_F(CheckScript, MissingFileIsAnError)
{
    ChildRun run = Host("check-script \"" + dir_.file("none.ini") + "\"");
    EXPECT_EQ(2u, run.exitCode) << run.output;
    EXPECT_TRUE(Has(run, "cannot read")) << run.output;
}

} // namespace
