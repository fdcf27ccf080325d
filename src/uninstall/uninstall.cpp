// The uninstall hook: the uninstaller calls UninstInitialize once per run,
// and the script beside the library says which services to remove and which
// commands to start.
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <strsafe.h>

#include "frame/frame.h"
#include "kiv_inst.h"
#include "ntlib/kiv_nt.h"
#include "uninstall/uninstall.h"

// The open uninstall log of the run under way, or null, and whether it is
// UTF-8 (with its byte-order mark) rather than ANSI.
static FILE *UninstallLog = NULL;
static BOOL LogIsUtf8 = FALSE;

// The library's own module, whatever handle the host passes.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The hook's folder and file names are wide, so that a folder outside the
// ANSI code page works. An ANSI script's values are acted on in the ANSI
// code page; a Unicode script's values wide, exactly as written.
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
static const WCHAR NOT_FOUND_W[] = L"NOT_FOUND";
static const int LIST_LIMIT = 50;
// The reader hands over at most this many characters: a value that long may
// have been cut, and a cut name or command may name something else.
static const int VALUE_MAX_CHARS = UNINST_TEXT_SIZE - 1;

static const char STATUS_CAPTION[] = "Uninstall";
static const WCHAR STATUS_CAPTION_W[] = L"Uninstall";
// Room for the status formats, widened for a Unicode value.
static const int STATUS_FORMAT_CHARS = 64;
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
static const char LOG_UNSAFE_LINE[] = "Value has a control character or half a surrogate pair, skipped\n";
static const char LOG_NOT_ABSOLUTE_LINE[] = "Command does not name its program by an absolute path, skipped\n";
static const char LOG_SECTION_UNREAD_LINE[] = "Section cannot be read whole, its commands skipped\n";
static const char LOG_NO_SERVICE_LINE[] = "No service has this name (error 1060), nothing removed\n";
// Why the script of a folder given by "-c" is not read, with the folder.
static const char *const LOG_REFUSED_LINES[] = {
    NULL,
    "Script folder %s refused: its rights cannot be read\n",
    "Script folder %s refused: owned by another account\n",
    "Script folder %s refused: others may write it\n",
};

// A Unicode log: UTF-8 behind its byte-order mark, so that its ASCII lines
// are those of an ANSI log byte for byte.
static const char UTF8_MARK[] = "\xEF\xBB\xBF";
static const size_t UTF8_MARK_BYTES = 3;
static const size_t LOG_TEXT_SIZE = UNINST_ESCAPED_SIZE(UNINST_TEXT_SIZE);

// What one read of a list gave.
enum ListEntry { ENTRY_END, ENTRY_USE, ENTRY_SKIP };

static void LogText(const char *text)
{
    if (UninstallLog == NULL)
        return;
    fputs(text, UninstallLog);
}

// One line with one argument: ASCII, or a value or name given in its ANSI
// form, its wide form or both. An ANSI log takes the ANSI form as it always
// has; a wide form without one, or any wide form in a UTF-8 log, goes in
// exactly, escaped where the log cannot carry a character as it is.
static void LogLine(const char *format, const char *ansi, const WCHAR *wide)
{
    if (UninstallLog == NULL)
        return;
    char text[LOG_TEXT_SIZE];
    if (ansi == NULL || (LogIsUtf8 && wide != NULL)) {
        ToEscapedText(wide, text, LOG_TEXT_SIZE, LogIsUtf8);
        ansi = text;
    }
    fprintf(UninstallLog, format, ansi);
}

// Opens the log for appending, never through a link, and learns its
// encoding, which it keeps, so that one file never mixes two: a log that
// begins with the UTF-8 byte-order mark is UTF-8, any other is ANSI, and a
// Unicode run that finds none makes a UTF-8 one.
static void OpenLog(const WCHAR *logName, BOOL unicode)
{
    UninstallLog = KIV_NT_OpenLogStream(logName, 1);
    if (UninstallLog == NULL)
        return;
    DWORD head = 0;
    DWORD read = 0;
    // Nothing read from a readable log: it is empty, and the run's to begin.
    BOOL readable = ReadFile((HANDLE)_get_osfhandle(_fileno(UninstallLog)), &head, UTF8_MARK_BYTES, &read, NULL);
    LogIsUtf8 = head == SCRIPT_UTF8_MARK;
    if (unicode && readable && read == 0) {
        fputs(UTF8_MARK, UninstallLog);
        LogIsUtf8 = TRUE;
    }
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

// A command's value as written (its first VALUE_MAX_CHARS characters, or
// NOT_FOUND for a missing key), so that quotes around the whole of it stay;
// its whole length.
static DWORD CopySectionValue(const WCHAR *sectionText, const WCHAR *key, WCHAR *wide)
{
    size_t length = 0;
    const WCHAR *value = FindSectionValue(sectionText, key, &length);
    if (value == NULL) {
        StringCchCopyW(wide, UNINST_TEXT_SIZE, NOT_FOUND_W);
        return (DWORD)lstrlenW(NOT_FOUND_W);
    }
    StringCchCopyNW(wide, UNINST_TEXT_SIZE, value, length < (size_t)VALUE_MAX_CHARS ? length : VALUE_MAX_CHARS);
    return (DWORD)length;
}

// Reads one numbered key: through the profile reader, from the section as
// written when sectionText is given, from nothing when there is no script.
// wide gets the value as read, and for an ANSI script value its ANSI form
// (both UNINST_TEXT_SIZE). Logs the key and the value. A value the reader
// may have cut is logged and skipped, and so is, in an ANSI script, one the
// ANSI code page cannot hold, and in a Unicode one, one with a character no
// name or command has: acted on, it could name another service or run
// another command.
static ListEntry ReadListEntry(const WCHAR *script, const WCHAR *sectionText, BOOL unicode, const WCHAR *section,
                               const char *keyFormat, int index, char *value, WCHAR *wide)
{
    char key[UNINST_TEXT_SIZE] = {0};
    StringCchPrintfA(key, UNINST_TEXT_SIZE, keyFormat, index);
    WCHAR wideKey[UNINST_TEXT_SIZE] = {0};
    MultiByteToWideChar(CP_ACP, 0, key, -1, wideKey, UNINST_TEXT_SIZE);
    ZeroMemory(wide, UNINST_TEXT_SIZE * sizeof(WCHAR));
    DWORD length;
    if (script[0] == L'\0')
        length = CopySectionValue(L"", wideKey, wide);
    else if (sectionText != NULL)
        length = CopySectionValue(sectionText, wideKey, wide);
    else
        length = GetPrivateProfileStringW(section, wideKey, NOT_FOUND_W, wide, UNINST_TEXT_SIZE, script);
    bool cut = length >= (DWORD)VALUE_MAX_CHARS;

    ZeroMemory(value, UNINST_TEXT_SIZE);
    BOOL unusable = FALSE;
    if (unicode) {
        unusable = HasUnsafeChar(wide);
    } else {
        // Room for three bytes a character, so that a value whose ANSI form is
        // longer than the hook's buffer is still seen whole, and then skipped.
        char whole[3 * UNINST_TEXT_SIZE] = {0};
        int bytes = ToAnsi(wide, whole, sizeof(whole), &unusable);
        size_t copied = KIV_NT_CopyWholeChars(value, UNINST_TEXT_SIZE, whole, strlen(whole));
        cut = cut || bytes == 0 || copied < strlen(whole);
    }

    LogLine(LOG_KEY_LINE, key, NULL);
    LogLine(LOG_VALUE_LINE, unicode ? NULL : value, wide);
    if (cut) {
        LogText(LOG_CUT_LINE);
        return ENTRY_SKIP;
    }
    if (unusable) {
        LogText(unicode ? LOG_UNSAFE_LINE : LOG_NOT_ANSI_LINE);
        return ENTRY_SKIP;
    }
    return wcscmp(wide, NOT_FOUND_W) != 0 ? ENTRY_USE : ENTRY_END;
}

// The status window around one step, unless the run is to be quiet: with
// the ANSI value, or with the wide one when there is no ANSI form.
static void StatusOpen(const char *format, const char *value, const WCHAR *wide)
{
    if (QuietRun())
        return;
    if (value != NULL) {
        char status[UNINST_TEXT_SIZE] = {0};
        StringCchPrintfA(status, UNINST_TEXT_SIZE, format, value);
        FakeStatusOpen(status, STATUS_CAPTION);
        return;
    }
    // The formats are ASCII; msvcrt's wide printf takes %s as wide.
    WCHAR wideFormat[STATUS_FORMAT_CHARS] = {0};
    MultiByteToWideChar(CP_ACP, 0, format, -1, wideFormat, STATUS_FORMAT_CHARS);
    WCHAR status[UNINST_TEXT_SIZE] = {0};
    StringCchPrintfW(status, UNINST_TEXT_SIZE, wideFormat, wide);
    FakeStatusOpenW(status, STATUS_CAPTION_W);
}

static void StatusClose(void)
{
    if (!QuietRun())
        FakeStatusClose();
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

// A listed service that failed to go: whether the manager knows no service
// by that name, which a name turned into a look-alike by an encoding gives.
static bool ServiceMissing(const char *name, const WCHAR *wide)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return false;
    SC_HANDLE service = wide != NULL ? OpenServiceW(manager, wide, SERVICE_QUERY_STATUS)
                                     : OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    bool missing = service == NULL && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (service != NULL)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return missing;
}

// The program of a Unicode command line, when it names one by an absolute
// path: program (UNINST_TEXT_SIZE) gets it. Nothing is searched for, so no
// copy in the uninstaller's or the current folder can stand in for it.
static bool AbsoluteProgram(const WCHAR *commandLine, WCHAR *program)
{
    const WCHAR *start = NULL;
    BOOL closed = FALSE;
    size_t length = CommandProgram(commandLine, &start, &closed);
    if (!closed || !IsAbsoluteProgram(start, length))
        return false;
    return SUCCEEDED(StringCchCopyNW(program, UNINST_TEXT_SIZE, start, length));
}

// Starts a command line as WinExec does with SW_HIDE: hidden, nothing
// inherited; but not waited for at all, and its program given by name.
// CreateProcessW may write into the line, which is the caller's own buffer.
static void StartWide(const WCHAR *program, WCHAR *commandLine)
{
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessW(program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// One list of the script: each usable value under the status window,
// removed as a service or started as a command, in the script's own form.
// Commands (sectionText given) are read as written, services through the
// profile reader.
static void RunList(const WCHAR *script, const WCHAR *sectionText, BOOL unicode, const WCHAR *section,
                    const char *keyFormat, const char *statusFormat)
{
    BOOL commands = sectionText != NULL;
    char value[UNINST_TEXT_SIZE];
    WCHAR wide[UNINST_TEXT_SIZE];
    WCHAR program[UNINST_TEXT_SIZE];
    for (int i = 0; i < LIST_LIMIT; i++) {
        ListEntry entry = ReadListEntry(script, sectionText, unicode, section, keyFormat, i, value, wide);
        if (entry == ENTRY_END)
            break;
        if (entry == ENTRY_SKIP)
            continue;
        if (commands && unicode && !AbsoluteProgram(wide, program)) {
            LogText(LOG_NOT_ABSOLUTE_LINE);
            continue;
        }
        StatusOpen(statusFormat, unicode ? NULL : value, wide);
        // An ANSI script acts through the ANSI calls, as ever; a Unicode one
        // by the very names it holds.
        BOOL removed = TRUE;
        if (commands && unicode)
            StartWide(program, wide);
        else if (commands)
            WinExec(value, SW_HIDE);
        else if (unicode)
            removed = KIV_NT_RemoveServiceW(wide);
        else
            removed = KIV_NT_RemoveService(value);
        StatusClose();
        if (!removed && ServiceMissing(value, unicode ? wide : NULL))
            LogText(LOG_NO_SERVICE_LINE);
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

// Beside the library itself; bare names (an empty directory) only when
// even the library's folder does not fit.
static void UseLibraryFolder(WCHAR *script, WCHAR *logName)
{
    WCHAR directory[UNINST_TEXT_SIZE] = {0};
    LibraryDirectory(directory);
    if (!FormFileNames(directory, script, logName))
        FormFileNames(L"", script, logName);
}

// The hook's files: in the directory of the path behind "-c"; without one
// (no option, an empty path, no backslash, a folder too long for the names)
// beside the library itself, so that an uninstaller started without the
// option still finds the product's script. True when the files are those of
// a folder other than the library's, which must be judged before use.
static bool FindHookFiles(WCHAR *directory, WCHAR *script, WCHAR *logName)
{
    GetUninstDirectoryW(GetCommandLineW(), directory, UNINST_TEXT_SIZE);
    if (directory[0] != L'\0' && FormFileNames(directory, script, logName)) {
        WCHAR own[UNINST_TEXT_SIZE] = {0};
        LibraryDirectory(own);
        return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, directory, -1, own, -1) != CSTR_EQUAL;
    }
    UseLibraryFolder(script, logName);
    return false;
}

extern "C" int KIV_API UninstInitialize(DWORD unused, HINSTANCE instance)
{
    (void)unused;
    ModuleInstance = instance;

    WCHAR directory[UNINST_TEXT_SIZE] = {0};
    WCHAR script[UNINST_TEXT_SIZE] = {0};
    WCHAR logName[UNINST_TEXT_SIZE] = {0};
    HANDLE pin = INVALID_HANDLE_VALUE;
    HookTrust trust = TRUST_KEPT;
    if (FindHookFiles(directory, script, logName))
        trust = CheckHookFolder(directory, script, &pin);
    // A folder others could write gives no script to act on; the run logs
    // why beside the library, whose folder the engine chose.
    if (trust != TRUST_KEPT) {
        UseLibraryFolder(script, logName);
        script[0] = L'\0';
    }

    // Any script but one saved as UTF-16 LE is read as ANSI, as always.
    BOOL unicode = script[0] != L'\0' && LOWORD(ScriptHead(script)) == SCRIPT_UTF16LE_MARK;
    OpenLog(logName, unicode);
    char narrowName[UNINST_TEXT_SIZE] = {0};
    ToNarrowName(logName, narrowName, UNINST_TEXT_SIZE);
    LogText(LOG_RULE);
    LogText(LOG_BEGIN);
    LogLine(LOG_NAME_LINE, unicode ? NULL : narrowName, logName);
    if (trust != TRUST_KEPT) {
        ToNarrowName(directory, narrowName, UNINST_TEXT_SIZE);
        LogLine(LOG_REFUSED_LINES[trust], narrowName, directory);
    }
    LogLine(LOG_SECTION_LINE, SERVICE_SECTION, NULL);

    RunList(script, NULL, unicode, SERVICE_SECTION_W, SERVICE_KEY_FORMAT, SERVICE_STATUS_FORMAT);
    // The commands as written, read before the folder is let go: a command
    // may remove it.
    WCHAR *commands = script[0] != L'\0' ? ReadScriptSection(script, COMMAND_SECTION_W) : NULL;
    if (pin != INVALID_HANDLE_VALUE)
        CloseHandle(pin);
    RemoveProcessStarters();
    DeleteConfigFile();

    LogLine(LOG_SECTION_LINE, COMMAND_SECTION, NULL);
    if (commands != NULL || script[0] == L'\0')
        RunList(script, commands != NULL ? commands : L"", unicode, COMMAND_SECTION_W, COMMAND_KEY_FORMAT,
                COMMAND_STATUS_FORMAT);
    else
        LogText(LOG_SECTION_UNREAD_LINE);
    FreeScriptSection(commands);

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
