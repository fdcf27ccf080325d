// The uninstall hook: the uninstaller calls UninstInitialize once per run,
// and the script beside the library says which services to remove and which
// commands to start.
#include <share.h>
#include <stdio.h>
#include <string.h>
#include <strsafe.h>

#include "frame/frame.h"
#include "kiv_inst.h"
#include "ntlib/kiv_nt.h"
#include "uninstall/uninstall.h"

// The open uninstall log of the run under way, or null.
static FILE *UninstallLog = NULL;

static const char SCRIPT_FORMAT[] = "%skivunins.ini";
static const char LOG_FORMAT[] = "%s%s";
static const char LOG_FILE_NAME[] = "kivuninslog.txt";
static const char CONFIG_FORMAT[] = "%s\\kivcfg.ini";

static const char SERVICE_SECTION[] = "ServiceDelete";
static const char SERVICE_KEY_FORMAT[] = "Service%d";
static const char COMMAND_SECTION[] = "CustomCommand";
static const char COMMAND_KEY_FORMAT[] = "Command%d";
static const char NOT_FOUND[] = "NOT_FOUND";
static const int LIST_LIMIT = 50;

static const char STATUS_CAPTION[] = "Uninstall";
static const char SERVICE_STATUS_FORMAT[] = "Uninstalling %s service, please wait...";
static const char COMMAND_STATUS_FORMAT[] = "Uninstalling by custom call %s, please wait...";

static const char STARTER_FORMAT[] = "%s%d";
static const char STARTER_PREFIX[] = "KivProcessStarter";
static const int STARTER_COUNT = 50;
static const char STARTER_SERVICE[] = "KIV Process Starter";

static const char LOG_RULE[] = "=====================================\n";
static const char LOG_BEGIN[] = "BEGIN Kivelstrand UN-install log file\n";
static const char LOG_NAME_LINE[] = "Log file name is %s\n";
static const char LOG_SECTION_LINE[] = "Section is %s\n";
static const char LOG_KEY_LINE[] = "Key name is %s\n";
static const char LOG_VALUE_LINE[] = "Value is %s\n";
static const char LOG_END[] = "END Kivelstrand UN-install log file\n";

static void LogText(const char *text)
{
    if (UninstallLog == NULL)
        return;
    fputs(text, UninstallLog);
}

static void LogLine(const char *format, const char *argument)
{
    if (UninstallLog == NULL)
        return;
    fprintf(UninstallLog, format, argument);
}

// Reads one numbered key; logs its name and value. Returns false when the
// list ends here.
static bool ReadListEntry(const char *script, const char *section, const char *keyFormat, int index,
                          char *value)
{
    char key[UNINST_TEXT_SIZE] = {0};
    StringCchPrintfA(key, UNINST_TEXT_SIZE, keyFormat, index);
    ZeroMemory(value, UNINST_TEXT_SIZE);
    GetPrivateProfileStringA(section, key, NOT_FOUND, value, UNINST_TEXT_SIZE, script);
    LogLine(LOG_KEY_LINE, key);
    LogLine(LOG_VALUE_LINE, value);
    return strcmp(value, NOT_FOUND) != 0;
}

static void RemoveListedServices(const char *script)
{
    char value[UNINST_TEXT_SIZE];
    for (int i = 0; i < LIST_LIMIT; i++) {
        if (!ReadListEntry(script, SERVICE_SECTION, SERVICE_KEY_FORMAT, i, value))
            break;
        char status[UNINST_TEXT_SIZE] = {0};
        StringCchPrintfA(status, UNINST_TEXT_SIZE, SERVICE_STATUS_FORMAT, value);
        FakeStatusOpen(status, STATUS_CAPTION);
        KIV_NT_RemoveService(value);
        FakeStatusClose();
    }
}

static void RemoveProcessStarters()
{
    for (int i = 0; i < STARTER_COUNT; i++) {
        char name[UNINST_TEXT_SIZE] = {0};
        StringCchPrintfA(name, UNINST_TEXT_SIZE, STARTER_FORMAT, STARTER_PREFIX, i);
        KIV_NT_RemoveService(name);
    }
    KIV_NT_RemoveService(STARTER_SERVICE);
}

static void DeleteConfigFile()
{
    char windowsDirectory[UNINST_TEXT_SIZE] = {0};
    UINT length = GetWindowsDirectoryA(windowsDirectory, UNINST_TEXT_SIZE);
    // Without the Windows directory the name would point at the root folder.
    if (length == 0 || length >= UNINST_TEXT_SIZE)
        return;
    char config[UNINST_TEXT_SIZE] = {0};
    if (FAILED(StringCchPrintfA(config, UNINST_TEXT_SIZE, CONFIG_FORMAT, windowsDirectory)))
        return;
    DeleteFileA(config);
}

static void StartListedCommands(const char *script)
{
    char value[UNINST_TEXT_SIZE];
    for (int i = 0; i < LIST_LIMIT; i++) {
        if (!ReadListEntry(script, COMMAND_SECTION, COMMAND_KEY_FORMAT, i, value))
            break;
        char status[UNINST_TEXT_SIZE] = {0};
        StringCchPrintfA(status, UNINST_TEXT_SIZE, COMMAND_STATUS_FORMAT, value);
        FakeStatusOpen(status, STATUS_CAPTION);
        WinExec(value, SW_HIDE);
        FakeStatusClose();
    }
}

// Forms the script and log names; a directory too long for them counts as
// none, so that no cut name points somewhere else.
static void FormFileNames(const char *directory, char *script, char *logName)
{
    if (SUCCEEDED(StringCchPrintfA(script, UNINST_TEXT_SIZE, SCRIPT_FORMAT, directory)) &&
        SUCCEEDED(StringCchPrintfA(logName, UNINST_TEXT_SIZE, LOG_FORMAT, directory, LOG_FILE_NAME)))
        return;
    StringCchPrintfA(script, UNINST_TEXT_SIZE, SCRIPT_FORMAT, "");
    StringCchPrintfA(logName, UNINST_TEXT_SIZE, LOG_FORMAT, "", LOG_FILE_NAME);
}

extern "C" int KIV_API UninstInitialize(DWORD unused, HINSTANCE instance)
{
    (void)unused;
    ModuleInstance = instance;

    char directory[UNINST_TEXT_SIZE] = {0};
    GetUninstDirectory(GetCommandLineA(), directory, UNINST_TEXT_SIZE);
    char script[UNINST_TEXT_SIZE] = {0};
    char logName[UNINST_TEXT_SIZE] = {0};
    FormFileNames(directory, script, logName);

    // Shared, so that others may read the log while the run writes it.
    UninstallLog = _fsopen(logName, "a", _SH_DENYNO);
    LogText(LOG_RULE);
    LogText(LOG_BEGIN);
    LogLine(LOG_NAME_LINE, logName);
    LogLine(LOG_SECTION_LINE, SERVICE_SECTION);

    RemoveListedServices(script);
    RemoveProcessStarters();
    DeleteConfigFile();

    LogLine(LOG_SECTION_LINE, COMMAND_SECTION);
    StartListedCommands(script);

    ModuleInstance = NULL;
    if (UninstallLog != NULL) {
        LogText(LOG_END);
        LogText(LOG_RULE);
        fclose(UninstallLog);
        UninstallLog = NULL;
    }
    return 0;
}

extern "C" int KIV_API UninstUnInitialize(void)
{
    return 0;
}
