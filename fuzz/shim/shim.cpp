// The shim's Win32 calls: character stepping and conversions in two code
// pages, a heap on malloc, FormatMessageW answering with the fuzzer's text,
// and log files as one memory stream.
#include "shim_control.h"
#include "ntlib/kiv_nt.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>


namespace {

UINT g_codePage = 1252;
const WCHAR *g_systemText = NULL;
char *g_log = NULL;
size_t g_logLength = 0;
FILE *g_logStream = NULL;

// Code page 1252's characters at 80-9F; the rest of the bytes are their own
// code points.
const WCHAR CP1252_HIGH[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                               0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const WCHAR DBCS_FIRST = 0x4E00;
const WCHAR DBCS_INVALID = 0x30FB;
const int TRAILS = 188;

bool IsTrail(BYTE c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

int LeadIndex(BYTE c)
{
    return c <= 0x9F ? c - 0x81 : c - 0xE0 + 31;
}

int TrailIndex(BYTE c)
{
    return c <= 0x7E ? c - 0x40 : c - 0x80 + 63;
}

// One character of the narrow text at p (avail bytes, 0 meaning up to the
// NUL) as a wide character; *used gets its bytes.
WCHAR Decode(const BYTE *p, size_t avail, int *used)
{
    *used = 1;
    BYTE c = p[0];
    if (g_codePage != 932)
        return c >= 0x80 && c <= 0x9F ? CP1252_HIGH[c - 0x80] : (WCHAR)c;
    if (c < 0x80)
        return c;
    if (c >= 0xA1 && c <= 0xDF)
        return (WCHAR)(0xFF61 + (c - 0xA1));
    if (!ShimIsLead(c))
        return c == 0x80 ? 0x80 : c == 0xA0 ? 0xF8F0 : (WCHAR)(0xF8F1 + (c - 0xFD));
    if (avail >= 2 && IsTrail(p[1])) {
        *used = 2;
        return (WCHAR)(DBCS_FIRST + LeadIndex(c) * TRAILS + TrailIndex(p[1]));
    }
    return DBCS_INVALID;
}

// A wide character in the code page: 1 or 2 bytes into out, '?' when it has
// no form there.
int Encode(WCHAR w, BYTE *out)
{
    if (g_codePage != 932) {
        for (int i = 0; i < 32; i++)
            if (CP1252_HIGH[i] == w) {
                out[0] = (BYTE)(0x80 + i);
                return 1;
            }
        out[0] = w < 0x100 && !(w >= 0x80 && w <= 0x9F) ? (BYTE)w : '?';
        return 1;
    }
    if (w < 0x80 || w == 0x80) {
        out[0] = (BYTE)w;
        return 1;
    }
    if (w >= 0xFF61 && w <= 0xFF9F) {
        out[0] = (BYTE)(0xA1 + (w - 0xFF61));
        return 1;
    }
    if (w >= 0xF8F0 && w <= 0xF8F3) {
        out[0] = w == 0xF8F0 ? 0xA0 : (BYTE)(0xFD + (w - 0xF8F1));
        return 1;
    }
    if (w >= DBCS_FIRST && w < DBCS_FIRST + 60 * TRAILS) {
        int lead = (w - DBCS_FIRST) / TRAILS, trail = (w - DBCS_FIRST) % TRAILS;
        out[0] = (BYTE)(lead < 31 ? 0x81 + lead : 0xE0 + lead - 31);
        out[1] = (BYTE)(trail < 63 ? 0x40 + trail : 0x80 + trail - 63);
        return 2;
    }
    out[0] = '?';
    return 1;
}

} // namespace

void ShimSetCodePage(UINT codePage)
{
    g_codePage = codePage;
}

bool ShimIsLead(BYTE c)
{
    return g_codePage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

void ShimSetSystemText(const WCHAR *text)
{
    g_systemText = text;
}

const char *ShimLogBytes(size_t *length)
{
    *length = g_logLength;
    return g_log != NULL ? g_log : "";
}

void ShimClearLog(void)
{
    free(g_log);
    g_log = NULL;
    g_logLength = 0;
}

extern "C" {

LPSTR CharNextA(LPCSTR p)
{
    if (*p == '\0')
        return (LPSTR)p;
    if (IsDBCSLeadByte((BYTE)p[0]) && p[1] != '\0')
        return (LPSTR)p + 2;
    return (LPSTR)p + 1;
}

LPSTR CharPrevA(LPCSTR start, LPCSTR p)
{
    LPCSTR previous = start;
    for (LPCSTR q = start; q < p;) {
        previous = q;
        LPCSTR next = CharNextA(q);
        if (next == q)
            break;
        q = next;
    }
    return (LPSTR)previous;
}

BOOL IsDBCSLeadByte(BYTE c)
{
    return ShimIsLead(c) ? TRUE : FALSE;
}

UINT GetACP(void)
{
    return g_codePage;
}

int lstrlenA(LPCSTR text)
{
    return text != NULL ? (int)strlen(text) : 0;
}

int lstrlenW(LPCWSTR text)
{
    int n = 0;
    while (text != NULL && text[n] != 0)
        n++;
    return n;
}

// Like the system: the count includes the NUL when bytes is -1; a buffer
// that is too small gets what fits and the result is 0.
int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int bytes, LPWSTR wide, int chars)
{
    size_t total = bytes < 0 ? strlen(text) + 1 : (size_t)bytes;
    const BYTE *p = (const BYTE *)text;
    int count = 0;
    for (size_t at = 0; at < total;) {
        int used;
        WCHAR w = Decode(p + at, total - at, &used);
        if (wide != NULL && chars > 0) {
            if (count >= chars)
                return 0;
            wide[count] = w;
        }
        count++;
        at += (size_t)used;
    }
    return count;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int chars, LPSTR text, int bytes, LPCSTR, LPBOOL used)
{
    size_t total = 0;
    if (chars < 0) {
        while (wide[total] != 0)
            total++;
        total++;
    } else {
        total = (size_t)chars;
    }
    if (used != NULL)
        *used = FALSE;
    int count = 0;
    for (size_t i = 0; i < total; i++) {
        BYTE out[2];
        int n = Encode(wide[i], out);
        if (text != NULL && bytes > 0) {
            for (int k = 0; k < n; k++) {
                if (count + k >= bytes)
                    return 0;
                text[count + k] = (char)out[k];
            }
        }
        count += n;
    }
    return count;
}

LPSTR GetCommandLineA(void)
{
    return (LPSTR) "fuzz.exe";
}

DWORD GetCurrentProcessId(void)
{
    return 1234;
}

// The code the library reports after a failed step; the targets never
// reach one.
DWORD GetLastError(void)
{
    return ERROR_INSUFFICIENT_BUFFER;
}

HLOCAL LocalFree(HLOCAL block)
{
    free(block);
    return NULL;
}

HMODULE LoadLibraryExW(LPCWSTR, HANDLE, DWORD)
{
    return NULL;
}

BOOL FreeLibrary(HMODULE)
{
    return TRUE;
}

UINT GetSystemDirectoryW(LPWSTR, UINT)
{
    return 0;
}

void SetLastError(DWORD)
{
}

// A text too long for the caller's buffer is refused after filling the
// buffer with part of it, without terminator, as an unkind system may.
DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD, DWORD, LPWSTR buffer, DWORD size, void *)
{
    if (g_systemText == NULL)
        return 0;
    size_t length = 0;
    while (g_systemText[length] != 0)
        length++;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        WCHAR *block = (WCHAR *)malloc((length + 1) * sizeof(WCHAR));
        if (block == NULL)
            return 0;
        memcpy(block, g_systemText, (length + 1) * sizeof(WCHAR));
        *(WCHAR **)buffer = block;
        return (DWORD)length;
    }
    if (length + 1 > size) {
        memcpy(buffer, g_systemText, size * sizeof(WCHAR));
        return 0;
    }
    memcpy(buffer, g_systemText, (length + 1) * sizeof(WCHAR));
    return (DWORD)length;
}

HANDLE RegisterEventSourceA(LPCSTR, LPCSTR)
{
    return NULL;
}

BOOL ReportEventA(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR *, LPVOID)
{
    return FALSE;
}

BOOL ReportEventW(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR *, LPVOID)
{
    return FALSE;
}

BOOL DeregisterEventSource(HANDLE)
{
    return TRUE;
}

LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, HKEY *)
{
    return 2;
}

LONG RegQueryValueExA(HKEY, LPCSTR, DWORD *, DWORD *, BYTE *, DWORD *)
{
    return 2;
}

LONG RegCreateKeyA(HKEY, LPCSTR, HKEY *)
{
    return 5;
}

LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD)
{
    return 5;
}

LONG RegCloseKey(HKEY)
{
    return ERROR_SUCCESS;
}

int kivshim_wcscmp(const wchar_t *a, const wchar_t *b)
{
    while (*a != 0 && *a == *b) {
        a++;
        b++;
    }
    return (int)(unsigned short)*a - (int)(unsigned short)*b;
}

size_t kivshim_wcslen(const wchar_t *s)
{
    size_t n = 0;
    while (s[n] != 0)
        n++;
    return n;
}

static bool InSet(wchar_t c, const wchar_t *set)
{
    for (; *set != 0; set++)
        if (*set == c)
            return true;
    return false;
}

size_t kivshim_wcsspn(const wchar_t *s, const wchar_t *accept)
{
    size_t n = 0;
    while (s[n] != 0 && InSet(s[n], accept))
        n++;
    return n;
}

size_t kivshim_wcscspn(const wchar_t *s, const wchar_t *reject)
{
    size_t n = 0;
    while (s[n] != 0 && !InSet(s[n], reject))
        n++;
    return n;
}

int kivshim_wprintf(const wchar_t *, ...)
{
    return 0;
}

} // extern "C"

// Every file is the one memory stream, opened afresh per entry as the log
// opens its file. A line feed stays a line feed: the targets compare the
// text before the system's text mode would add its carriage returns.
FILE *KIV_NT_OpenLogStream(const WCHAR *, BOOLEAN)
{
    ShimClearLog();
    g_logStream = open_memstream(&g_log, &g_logLength);
    return g_logStream;
}

// The SID of a record: none.
PSID KIV_NT_AllocCurrentSID(void)
{
    return NULL;
}

BOOLEAN KIV_NT_FreeSID(PSID)
{
    return 1;
}
