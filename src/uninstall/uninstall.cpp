// The uninstall hook: the uninstaller calls UninstInitialize once per run,
// and the script beside the library says which services to remove and which
// commands to start.
#include <stdio.h>
#include <string.h>
#include <strsafe.h>

#include "frame/frame.h"
#include "kiv_inst.h"
#include "ntlib/kiv_nt.h"
#include "uninstall/uninstall.h"

// The open uninstall log of the run under way, or null.
static FILE *UninstallLog = NULL;

// The library's own module, whatever handle the host passes.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The hook's folder and file names are wide, so that a folder outside the
// ANSI code page works; the script's values and the log's text stay ANSI.
static const WCHAR SCRIPT_FORMAT[] = L"%lskivunins.ini";
static const WCHAR LOG_FORMAT[] = L"%ls%ls";
static const WCHAR LOG_FILE_NAME[] = L"kivuninslog.txt";
static const char CONFIG_FORMAT[] = "%s\\kivcfg.ini";

static const char SERVICE_SECTION[] = "ServiceDelete";
static const WCHAR SERVICE_SECTION_W[] = L"ServiceDelete";
static const char SERVICE_KEY_FORMAT[] = "Service%d";
static const char COMMAND_SECTION[] = "CustomCommand";
static const WCHAR COMMAND_SECTION_W[] = L"CustomCommand";
static const char COMMAND_KEY_FORMAT[] = "Command%d";
static const char NOT_FOUND[] = "NOT_FOUND";
static const WCHAR NOT_FOUND_W[] = L"NOT_FOUND";
static const int LIST_LIMIT = 50;
// The reader hands over at most this many characters: a value that long may
// have been cut, and a cut name or command may name something else.
static const int VALUE_MAX_CHARS = UNINST_TEXT_SIZE - 1;

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
static const char LOG_CUT_LINE[] = "Value may be cut (511 characters or more), skipped\n";
static const char LOG_NOT_ANSI_LINE[] = "Value is not in the ANSI code page, skipped\n";

// What one read of a list gave.
enum ListEntry { ENTRY_END, ENTRY_USE, ENTRY_SKIP };

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

// A wide text in the ANSI code page, without best fit: a character the code
// page lacks is flagged, never turned into a look-alike (a fullwidth
// backslash into a real one). The bytes written, 0 when it does not fit.
static int ToAnsi(const WCHAR *wide, char *text, int size, BOOL *unrepresentable)
{
    *unrepresentable = FALSE;
    // UTF-8 as the ANSI code page holds every character and takes no flags.
    if (GetACP() == CP_UTF8)
        return WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, size, NULL, NULL);
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, text, size, NULL, unrepresentable);
}

// Reads one numbered key into value (UNINST_TEXT_SIZE bytes, ANSI); logs its
// name and value. A value the reader may have cut, or one the ANSI code page
// cannot hold, is logged and skipped: acted on, it could name another
// service or run another command.
static ListEntry ReadListEntry(const WCHAR *script, const WCHAR *section, const char *keyFormat, int index,
                               char *value)
{
    char key[UNINST_TEXT_SIZE] = {0};
    StringCchPrintfA(key, UNINST_TEXT_SIZE, keyFormat, index);
    WCHAR wideKey[UNINST_TEXT_SIZE] = {0};
    MultiByteToWideChar(CP_ACP, 0, key, -1, wideKey, UNINST_TEXT_SIZE);
    WCHAR wide[UNINST_TEXT_SIZE] = {0};
    DWORD length = GetPrivateProfileStringW(section, wideKey, NOT_FOUND_W, wide, UNINST_TEXT_SIZE, script);

    // Room for three bytes a character, so that a value whose ANSI form is
    // longer than the hook's buffer is still seen whole, and then skipped.
    char whole[3 * UNINST_TEXT_SIZE] = {0};
    BOOL unrepresentable = FALSE;
    int bytes = ToAnsi(wide, whole, sizeof(whole), &unrepresentable);
    ZeroMemory(value, UNINST_TEXT_SIZE);
    size_t copied = KIV_NT_CopyWholeChars(value, UNINST_TEXT_SIZE, whole, strlen(whole));
    bool cut = length >= (DWORD)VALUE_MAX_CHARS || bytes == 0 || copied < strlen(whole);

    LogLine(LOG_KEY_LINE, key);
    LogLine(LOG_VALUE_LINE, value);
    if (cut) {
        LogText(LOG_CUT_LINE);
        return ENTRY_SKIP;
    }
    if (unrepresentable) {
        LogText(LOG_NOT_ANSI_LINE);
        return ENTRY_SKIP;
    }
    return strcmp(value, NOT_FOUND) != 0 ? ENTRY_USE : ENTRY_END;
}

// The status window around one step, unless the run is to be quiet.
static void StatusOpen(const char *format, const char *value)
{
    if (QuietRun())
        return;
    char status[UNINST_TEXT_SIZE] = {0};
    StringCchPrintfA(status, UNINST_TEXT_SIZE, format, value);
    FakeStatusOpen(status, STATUS_CAPTION);
}

static void StatusClose(void)
{
    if (!QuietRun())
        FakeStatusClose();
}

static void RemoveListedServices(const WCHAR *script)
{
    char value[UNINST_TEXT_SIZE];
    for (int i = 0; i < LIST_LIMIT; i++) {
        ListEntry entry = ReadListEntry(script, SERVICE_SECTION_W, SERVICE_KEY_FORMAT, i, value);
        if (entry == ENTRY_END)
            break;
        if (entry == ENTRY_SKIP)
            continue;
        StatusOpen(SERVICE_STATUS_FORMAT, value);
        KIV_NT_RemoveService(value);
        StatusClose();
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

static void StartListedCommands(const WCHAR *script)
{
    char value[UNINST_TEXT_SIZE];
    for (int i = 0; i < LIST_LIMIT; i++) {
        ListEntry entry = ReadListEntry(script, COMMAND_SECTION_W, COMMAND_KEY_FORMAT, i, value);
        if (entry == ENTRY_END)
            break;
        if (entry == ENTRY_SKIP)
            continue;
        StatusOpen(COMMAND_STATUS_FORMAT, value);
        WinExec(value, SW_HIDE);
        StatusClose();
    }
}

// Forms the script and log names in a directory; false when they do not fit,
// since a cut name points somewhere else.
static bool FormFileNames(const WCHAR *directory, WCHAR *script, WCHAR *logName)
{
    return SUCCEEDED(StringCchPrintfW(script, UNINST_TEXT_SIZE, SCRIPT_FORMAT, directory)) &&
           SUCCEEDED(StringCchPrintfW(logName, UNINST_TEXT_SIZE, LOG_FORMAT, directory, LOG_FILE_NAME));
}

// The folder of the library itself, or empty when its path does not fit.
static void LibraryDirectory(WCHAR *directory)
{
    directory[0] = L'\0';
    WCHAR path[UNINST_TEXT_SIZE] = {0};
    DWORD length = GetModuleFileNameW((HMODULE)&__ImageBase, path, UNINST_TEXT_SIZE);
    if (length == 0 || length >= (DWORD)UNINST_TEXT_SIZE)
        return;
    GetDirectoryPartW(path, directory, UNINST_TEXT_SIZE);
}

// The hook's files: in the directory of the path behind "-c"; without one
// (no option, an empty path, no backslash, a folder too long for the names)
// beside the library itself, so that an uninstaller started without the
// option still finds the product's script. Bare names only when even the
// library's folder does not fit.
static void FindHookFiles(WCHAR *script, WCHAR *logName)
{
    WCHAR directory[UNINST_TEXT_SIZE] = {0};
    GetUninstDirectoryW(GetCommandLineW(), directory, UNINST_TEXT_SIZE);
    if (directory[0] != L'\0' && FormFileNames(directory, script, logName))
        return;
    LibraryDirectory(directory);
    if (directory[0] != L'\0' && FormFileNames(directory, script, logName))
        return;
    FormFileNames(L"", script, logName);
}

extern "C" int KIV_API UninstInitialize(DWORD unused, HINSTANCE instance)
{
    (void)unused;
    ModuleInstance = instance;

    WCHAR script[UNINST_TEXT_SIZE] = {0};
    WCHAR logName[UNINST_TEXT_SIZE] = {0};
    FindHookFiles(script, logName);

    // Never through a link: the log may lie where others can write.
    UninstallLog = KIV_NT_OpenLogStream(logName, 1);
    char narrowLogName[UNINST_TEXT_SIZE] = {0};
    WideCharToMultiByte(CP_ACP, 0, logName, -1, narrowLogName, UNINST_TEXT_SIZE, NULL, NULL);
    LogText(LOG_RULE);
    LogText(LOG_BEGIN);
    LogLine(LOG_NAME_LINE, narrowLogName);
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
