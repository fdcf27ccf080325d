// Error texts and the diagnostic log file: the end of the support library's
// reporting chain. Nothing here reports to the event log, so a failure of the
// event log can always land here.
#include "ntlib/kiv_nt.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <strsafe.h>

WCHAR KIV_NT_ErrorText[KIV_NT_ERROR_TEXT_CHARS];

static const WCHAR NETWORK_MESSAGE_MODULE[] = L"netmsg.dll";
static const DWORD NETWORK_CODE_FIRST = 2100;
static const DWORD NETWORK_CODE_LAST = 2999;
static const DWORD SYSTEM_TEXT_FLAGS = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
static const DWORD LANGUAGE_USER_DEFAULT = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

static const WCHAR DIAGNOSTIC_LOG[] = L"\\kiv.log";
static const WCHAR MODE_APPEND[] = L"a";
static const WCHAR MODE_WRITE[] = L"w";
// %ls: the path is wide whichever printf family the runtime supplies.
static const WCHAR LOG_OPEN_FAILED[] = L"KIV_NT_LogMessage: Could not open file %ls.\n";

static const int ERROR_LINE_TEXT_CHARS = 512;
static const int ERROR_LINE_CHARS = 1024;
static const WCHAR ERROR_LINE_FORMAT[] = L"%ls error! %ls\n";
static const WCHAR NO_TEXT[] = L"(null)";
static const WCHAR LINE_BREAKS[] = L"\r\n";

// Results of KIV_NT_LogMessage; no caller reads them, they only tell the
// cases apart when stepping through.
enum { LOG_NOTHING_GIVEN = 0, LOG_WRITTEN = 1, LOG_BAD_MODE = -1, LOG_NOT_OPENED = -2, LOG_NO_MEMORY = -3 };

// FormatMessageW for a code, from the network message module first when the
// code is in its range; with FORMAT_MESSAGE_ALLOCATE_BUFFER among the flags
// buffer receives the address of a local block. The characters written.
static DWORD SystemText(DWORD code, DWORD flags, WCHAR *buffer, DWORD size)
{
    HMODULE networkMessages = NULL;
    if (code >= NETWORK_CODE_FIRST && code <= NETWORK_CODE_LAST)
        networkMessages = KIV_NT_LoadSystemLibrary(NETWORK_MESSAGE_MODULE, LOAD_LIBRARY_AS_DATAFILE);

    // With the module as source, a code it lacks still finds the system text.
    DWORD length;
    if (networkMessages != NULL)
        length = FormatMessageW(SYSTEM_TEXT_FLAGS | FORMAT_MESSAGE_FROM_HMODULE | flags, networkMessages, code,
                                LANGUAGE_USER_DEFAULT, buffer, size, NULL);
    else
        length = FormatMessageW(SYSTEM_TEXT_FLAGS | flags, NULL, code, LANGUAGE_USER_DEFAULT, buffer, size, NULL);

    if (networkMessages != NULL)
        FreeLibrary(networkMessages);
    return length;
}

BOOLEAN KIV_NT_FormatError(DWORD code, WCHAR *buffer, DWORD size)
{
    if (buffer == NULL || size == 0)
        return 0;
    return SystemText(code, 0, buffer, size) != 0 ? 1 : 0;
}

BOOLEAN KIV_NT_ErrorToText(DWORD code, char *buffer, DWORD size)
{
    // Without room for a terminator there is nothing we may write.
    if (buffer == NULL || size == 0)
        return 0;
    if (size > KIV_NT_ERROR_TEXT_CHARS || code == 0) {
        buffer[0] = '\0';
        return 0;
    }

    ZeroMemory(KIV_NT_ErrorText, sizeof(KIV_NT_ErrorText));
    if (!KIV_NT_FormatError(code, KIV_NT_ErrorText, KIV_NT_ERROR_TEXT_CHARS))
        return 0;

    // A text whose narrow form does not fit is left out rather than cut in
    // the middle of a double-byte character.
    if (WideCharToMultiByte(CP_ACP, 0, KIV_NT_ErrorText, -1, buffer, (int)size, NULL, NULL) == 0) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

int KIV_NT_LogMessage(const WCHAR *path, const WCHAR *text, const WCHAR *mode)
{
    if (path == NULL || text == NULL || mode == NULL)
        return LOG_NOTHING_GIVEN;

    BOOLEAN append;
    if (wcscmp(mode, MODE_APPEND) == 0)
        append = 1;
    else if (wcscmp(mode, MODE_WRITE) == 0)
        append = 0;
    else
        return LOG_BAD_MODE;

    // The file holds the ANSI code page, so that a narrow text passed in by a
    // caller comes out as it went in, characters above 255 included.
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
    if (bytes <= 0)
        return LOG_NO_MEMORY;
    char *narrow = (char *)calloc((size_t)bytes, 1);
    if (narrow == NULL)
        return LOG_NO_MEMORY;
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, bytes, NULL, NULL);

    // Opened per entry and shared, so that other processes can write their
    // entries into the same file between ours; never through a link.
    FILE *file = KIV_NT_OpenLogStream(path, append);
    if (file == NULL) {
        wprintf(LOG_OPEN_FAILED, path);
        free(narrow);
        return LOG_NOT_OPENED;
    }
    // The text is data, never a format.
    fputs(narrow, file);
    fclose(file);
    free(narrow);
    return LOG_WRITTEN;
}

void KIV_NT_LogAppend(const WCHAR *text)
{
    KIV_NT_LogMessage(DIAGNOSTIC_LOG, text, MODE_APPEND);
}

// A cut that would keep the first half of a surrogate pair drops it too.
static void DropHalfPair(WCHAR *text, size_t length)
{
    if (length > 0 && IS_HIGH_SURROGATE(text[length - 1]))
        text[length - 1] = L'\0';
}

void KIV_NT_LogErrorLine(const WCHAR *text, DWORD code)
{
    // The system allocates the text, so one of any length is found; its
    // first line, cut at the entry's limit, keeps the entry one line.
    WCHAR *allocated = NULL;
    BOOLEAN found = SystemText(code, FORMAT_MESSAGE_ALLOCATE_BUFFER, (WCHAR *)&allocated, 0) != 0 &&
                    allocated != NULL;
    WCHAR systemText[ERROR_LINE_TEXT_CHARS];
    ZeroMemory(systemText, sizeof(systemText));
    if (found) {
        const WCHAR *first = allocated + wcsspn(allocated, LINE_BREAKS);
        size_t length = wcscspn(first, LINE_BREAKS);
        bool cut = length > ERROR_LINE_TEXT_CHARS - 1;
        if (cut)
            length = ERROR_LINE_TEXT_CHARS - 1;
        StringCchCopyNW(systemText, ERROR_LINE_TEXT_CHARS, first, length);
        if (cut)
            DropHalfPair(systemText, length);
    }
    if (allocated != NULL)
        LocalFree(allocated);

    WCHAR line[ERROR_LINE_CHARS + 1];
    ZeroMemory(line, sizeof(line));
    HRESULT hr = StringCchPrintfW(line, ERROR_LINE_CHARS + 1, ERROR_LINE_FORMAT, text ? text : NO_TEXT,
                                  found ? systemText : NO_TEXT);
    // An entry cut at the buffer's end still closes its line, so the next
    // entry does not run on in it.
    if (hr == STRSAFE_E_INSUFFICIENT_BUFFER) {
        line[ERROR_LINE_CHARS - 1] = L'\0';
        DropHalfPair(line, ERROR_LINE_CHARS - 1);
        StringCchCatW(line, ERROR_LINE_CHARS + 1, L"\n");
    }
    KIV_NT_LogAppend(line);
}

// The narrow text in a heap buffer of limit + 1 wide characters, cut after
// limit characters; NULL when the heap refuses.
static WCHAR *NarrowToWide(const char *text, int limit)
{
    if (limit < 0)
        return NULL;
    WCHAR *wide = (WCHAR *)calloc((size_t)limit + 1, sizeof(WCHAR));
    if (wide == NULL)
        return NULL;
    if (text == NULL)
        return wide;

    int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, NULL, 0);
    if (needed <= limit + 1) {
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide, limit + 1);
        return wide;
    }
    WCHAR *whole = (WCHAR *)calloc((size_t)needed, sizeof(WCHAR));
    if (whole == NULL) {
        free(wide);
        return NULL;
    }
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, whole, needed);
    StringCchCopyNW(wide, (size_t)limit + 1, whole, (size_t)limit);
    free(whole);
    return wide;
}

void KIV_NT_LogText(const char *text, int limit)
{
    WCHAR *wide = NarrowToWide(text, limit);
    if (wide == NULL)
        return;
    KIV_NT_LogAppend(wide);
    free(wide);
}

void KIV_NT_LogError(const char *text, DWORD code, int limit)
{
    WCHAR *wide = NarrowToWide(text, limit);
    if (wide == NULL)
        return;
    // A missing text shows as "(null)", like a missing system text.
    KIV_NT_LogErrorLine(text != NULL ? wide : NULL, code);
    free(wide);
}
