// The event log writer: the one way the support library reports. A record
// that cannot be written goes, with the reason, to the diagnostic log.
#include "ntlib/kiv_nt.h"

#include <strsafe.h>

BOOLEAN KIV_NT_EventSourceRegistered = 0;

// Set while a record waits for the current user's SID. A failed SID lookup
// reports through this writer; its report must not look the SID up again,
// or a lasting failure would nest without end.
static BOOLEAN SidLookupPending = 0;

static const char EVENT_SOURCE[] = "Kivelstrand";
static const DWORD EVENT_ID = 21;
static const DWORD CATEGORY_COUNT = 20;
static const DWORD TYPES_SUPPORTED = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE |
                                     EVENTLOG_AUDIT_SUCCESS | EVENTLOG_AUDIT_FAILURE;
static const size_t MESSAGE_MAX = 3072;
static const size_t NAME_BYTES = 256;
// The record's texts, in bytes or wide characters.
static const size_t ERROR_TEXT_CHARS = 1024;
static const size_t RECORD_CHARS = 4096;
static const size_t KEY_PATH_BYTES = 1024;
static const size_t MESSAGE_FILE_BYTES = 256;

static const char RECORD_FORMAT[] = "Kivelstrand System\r\n\r\nProcess: %s (PID: %d)\r\n\r\n%s\r\n\r\n%s\r\n";
static const WCHAR RECORD_FORMAT_W[] = L"Kivelstrand System\r\n\r\nProcess: %ls (PID: %d)\r\n\r\n%ls\r\n\r\n%ls\r\n";
static const char MESSAGE_FILE_FORMAT[] = "%c:%s";
static const char MESSAGE_FILE_TAIL[] = "\\kiv\\nt\\bin\\kiv_msg.dll";
static const char CONFIG_KEY[] = "SOFTWARE\\Brackwen Technologies Inc.\\Kivelstrand\\Config";
static const char DISK_VALUE[] = "Disk";
// The product's configuration is written by its installer, a 32-bit program,
// into the 32-bit view of HKLM\SOFTWARE; the x64 library reads it there, so
// both builds see the one value. (The event source's key under HKLM\SYSTEM is
// the same in both views.)
#ifdef _WIN64
static const REGSAM CONFIG_VIEW = KEY_WOW64_32KEY;
#else
static const REGSAM CONFIG_VIEW = 0;
#endif
static const char SOURCE_KEY_FORMAT[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\%s";
static const char EVENT_MESSAGE_FILE[] = "EventMessageFile";
static const char CATEGORY_MESSAGE_FILE[] = "CategoryMessageFile";
static const char CATEGORY_COUNT_VALUE[] = "CategoryCount";
static const char TYPES_SUPPORTED_VALUE[] = "TypesSupported";

static const char INVALID_TYPE[] = "KIV_NT_WriteEventLog: Invalid event type.\n";
static const char INVALID_MESSAGE[] = "KIV_NT_WriteEventLog: Invalid msg (NULL or too long).\n";
static const char REGISTER_FAILED[] = "KIV_NT_WriteEventLog: RegisterEventSource";
static const char REPORT_FAILED[] = "KIV_NT_WriteEventLog: ReportEvent failed.";
static const int OWN_TEXT_LIMIT = 256;
static const int MESSAGE_LIMIT = 1024;

static BOOLEAN IsEventType(WORD type)
{
    return type == EVENTLOG_ERROR_TYPE || type == EVENTLOG_WARNING_TYPE || type == EVENTLOG_INFORMATION_TYPE ||
           type == EVENTLOG_AUDIT_SUCCESS || type == EVENTLOG_AUDIT_FAILURE;
}

// Registers the event source once per process. 0 only when the registration
// was attempted and failed; a disk that cannot be read skips it silently.
static BOOLEAN RegisterOnce(void)
{
    if (KIV_NT_EventSourceRegistered)
        return 1;

    char disk[NAME_BYTES];
    ZeroMemory(disk, sizeof(disk));
    if (!KIV_NT_GetInstallDisk(disk))
        return 1;

    // An empty disk value leaves no drive letter and so an empty path.
    char messageFile[MESSAGE_FILE_BYTES];
    ZeroMemory(messageFile, sizeof(messageFile));
    if (disk[0] != '\0')
        StringCchPrintfA(messageFile, MESSAGE_FILE_BYTES, MESSAGE_FILE_FORMAT, disk[0], MESSAGE_FILE_TAIL);

    if (!KIV_NT_InstallEventSource(EVENT_SOURCE, messageFile, CATEGORY_COUNT))
        return 0;
    KIV_NT_EventSourceRegistered = 1;
    return 1;
}

// The record's text, in the message's kind: a narrow message makes an ANSI
// record, as ever, a wide one a wide record with its text exact.
static void FormatRecord(const void *message, int wide, DWORD code, const char *processName, void *record)
{
    if (!wide) {
        char errorText[ERROR_TEXT_CHARS];
        ZeroMemory(errorText, sizeof(errorText));
        if (code != 0)
            KIV_NT_ErrorToText(code, errorText, ERROR_TEXT_CHARS);
        StringCchPrintfA((char *)record, RECORD_CHARS, RECORD_FORMAT, processName, (int)GetCurrentProcessId(),
                         (const char *)message, errorText);
        return;
    }
    WCHAR wideName[NAME_BYTES];
    WCHAR errorText[ERROR_TEXT_CHARS];
    ZeroMemory(wideName, sizeof(wideName));
    ZeroMemory(errorText, sizeof(errorText));
    MultiByteToWideChar(CP_ACP, 0, processName, -1, wideName, NAME_BYTES);
    // No text of a code, or none that fits: the record shows none.
    if (code != 0 && !KIV_NT_FormatError(code, errorText, ERROR_TEXT_CHARS))
        errorText[0] = L'\0';
    StringCchPrintfW((WCHAR *)record, RECORD_CHARS, RECORD_FORMAT_W, wideName, (int)GetCurrentProcessId(),
                     (const WCHAR *)message, errorText);
}

// The one writer, for a narrow or a wide message (wide nonzero).
static BOOLEAN WriteRecord(const void *message, int wide, DWORD code, WORD type, WORD category)
{
    size_t length = 0;
    BOOLEAN fits = message != NULL &&
                   SUCCEEDED(wide ? StringCchLengthW((const WCHAR *)message, MESSAGE_MAX + 1, &length)
                                  : StringCchLengthA((const char *)message, MESSAGE_MAX + 1, &length));
    BOOLEAN result = 0;
    char processName[NAME_BYTES];
    ZeroMemory(processName, sizeof(processName));
    HANDLE source = NULL;
    if (!IsEventType(type))
        KIV_NT_LogText(INVALID_TYPE, OWN_TEXT_LIMIT);
    else if (!fits)
        KIV_NT_LogText(INVALID_MESSAGE, OWN_TEXT_LIMIT);
    else if (KIV_NT_GetProcessName(processName) && RegisterOnce() &&
             (source = RegisterEventSourceA(NULL, EVENT_SOURCE)) == NULL)
        KIV_NT_LogError(REGISTER_FAILED, GetLastError(), OWN_TEXT_LIMIT);

    if (source != NULL) {
        // The record text is this call's own: a report nested in the SID
        // lookup below builds its own in its own frame. A text over the
        // buffer is cut.
        WCHAR record[RECORD_CHARS];
        ZeroMemory(record, sizeof(record));
        FormatRecord(message, wide, code, processName, record);

        PSID sid = NULL;
        if (!SidLookupPending) {
            SidLookupPending = 1;
            sid = KIV_NT_AllocCurrentSID();
            SidLookupPending = 0;
        }
        const void *strings[1] = {record};
        result = (wide ? ReportEventW(source, type, category, EVENT_ID, sid, 1, 0, (LPCWSTR *)strings, NULL)
                       : ReportEventA(source, type, category, EVENT_ID, sid, 1, 0, (LPCSTR *)strings, NULL))
                     ? 1
                     : 0;
        if (!result)
            KIV_NT_LogError(REPORT_FAILED, GetLastError(), MESSAGE_LIMIT);
        KIV_NT_FreeSID(sid);
        DeregisterEventSource(source);
    }
    // The caller's message in the diagnostic log, so that it is not lost.
    if (!result && wide)
        KIV_NT_LogErrorLine((const WCHAR *)message, code);
    else if (!result)
        KIV_NT_LogError((const char *)message, code, MESSAGE_LIMIT);
    return result;
}

BOOLEAN KIV_NT_WriteEventLog(const char *message, DWORD code, WORD type, WORD category)
{
    return WriteRecord(message, 0, code, type, category);
}

BOOLEAN KIV_NT_WriteEventLogW(const WCHAR *message, DWORD code, WORD type, WORD category)
{
    return WriteRecord(message, 1, code, type, category);
}

size_t KIV_NT_CopyWholeChars(char *buffer, size_t size, const char *text, size_t length)
{
    if (buffer == NULL || size == 0)
        return 0;
    // Whole characters only: a cut never keeps a lead byte without its trail.
    size_t kept = 0;
    while (kept < length && text[kept] != '\0') {
        size_t next = (size_t)(CharNextA(text + kept) - text);
        if (next <= kept || next > length || next > size - 1)
            break;
        kept = next;
    }
    CopyMemory(buffer, text, kept);
    buffer[kept] = '\0';
    return kept;
}

static BOOLEAN IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

BOOLEAN KIV_NT_ProcessNameFromLine(const char *commandLine, char *buffer)
{
    if (commandLine == NULL || buffer == NULL)
        return 0;

    // Leading blanks and quotes are skipped. A token that follows a quote is a
    // quoted path and runs to the closing quote, blanks and all; any other
    // token ends at the first blank or quote. A tab is a blank, as it is for
    // the uninstaller's option.
    const char *start = commandLine;
    BOOLEAN quoted = 0;
    while (IsBlank(*start) || *start == '"') {
        quoted = *start == '"';
        start++;
    }

    // Stepped by characters, so that the trail byte of a double-byte
    // character is never taken for a backslash, a blank or a quote.
    const char *name = start;
    const char *end = start;
    while (*end != '\0' && *end != '"' && (quoted || !IsBlank(*end))) {
        const char *next = CharNextA(end);
        if (*end == '\\')
            name = next;
        end = next;
    }
    if (end == start)
        return 0;
    KIV_NT_CopyWholeChars(buffer, NAME_BYTES, name, (size_t)(end - name));
    return 1;
}

BOOLEAN KIV_NT_GetProcessName(char *buffer)
{
    if (buffer == NULL)
        return 0;
    return KIV_NT_ProcessNameFromLine(GetCommandLineA(), buffer);
}

BOOLEAN KIV_NT_GetInstallDisk(char *buffer)
{
    if (buffer == NULL)
        return 0;

    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CONFIG_KEY, 0, KEY_QUERY_VALUE | CONFIG_VIEW, &key) != ERROR_SUCCESS)
        return 0;

    char disk[NAME_BYTES];
    ZeroMemory(disk, sizeof(disk));
    DWORD type = 0;
    DWORD size = NAME_BYTES;
    LONG status = RegQueryValueExA(key, DISK_VALUE, NULL, &type, (BYTE *)disk, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return 0;

    // A value stored without its terminator is cut to fit one in.
    StringCchCopyNA(buffer, NAME_BYTES, disk, NAME_BYTES - 1);
    return 1;
}

static BOOLEAN SetString(HKEY key, const char *name, const char *text)
{
    size_t length = 0;
    StringCchLengthA(text, STRSAFE_MAX_CCH, &length);
    return RegSetValueExA(key, name, 0, REG_EXPAND_SZ, (const BYTE *)text, (DWORD)(length + 1)) == ERROR_SUCCESS;
}

static BOOLEAN SetNumber(HKEY key, const char *name, DWORD number)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&number, sizeof(number)) == ERROR_SUCCESS;
}

BOOLEAN KIV_NT_InstallEventSource(const char *source, const char *messageFile, DWORD categoryCount)
{
    if (source == NULL || messageFile == NULL)
        return 0;

    char keyPath[KEY_PATH_BYTES];
    ZeroMemory(keyPath, sizeof(keyPath));
    StringCchPrintfA(keyPath, KEY_PATH_BYTES, SOURCE_KEY_FORMAT, source);

    HKEY key = NULL;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, keyPath, &key) != ERROR_SUCCESS)
        return 0;

    // In this order; the first value that cannot be written ends the run.
    BOOLEAN written = SetString(key, EVENT_MESSAGE_FILE, messageFile) &&
                      SetString(key, CATEGORY_MESSAGE_FILE, messageFile) &&
                      SetNumber(key, CATEGORY_COUNT_VALUE, categoryCount) &&
                      SetNumber(key, TYPES_SUPPORTED_VALUE, TYPES_SUPPORTED);
    RegCloseKey(key);
    return written;
}
