// How the uninstall script's encoding is told and which characters of a
// Unicode value are never acted on: one rule for the hook and for the host's
// script checker, which compiles this file too.
#include "uninstall/uninstall.h"

#include <string.h>
#include <strsafe.h>

static const char ESCAPE_FORMAT[] = "<U+%04X>";
static const size_t ESCAPE_BYTES = 8;

DWORD ScriptHead(const WCHAR *script)
{
    // The profile reader tells the encoding by the same first bytes. A
    // missing script reads as empty either way.
    DWORD head = 0;
    HANDLE file = CreateFileW(script, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return head;
    DWORD read = 0;
    ReadFile(file, &head, 3, &read, NULL);
    CloseHandle(file);
    return head;
}

int UnicodeCharUnits(const WCHAR *text)
{
    WCHAR c = text[0];
    if (IS_HIGH_SURROGATE(c) && IS_LOW_SURROGATE(text[1]))
        return 2;
    // A tab is a blank, as in an ANSI script; other control characters and
    // half a surrogate pair have no business in a name or a command line.
    if (IS_HIGH_SURROGATE(c) || IS_LOW_SURROGATE(c) || (c < 0x20 && c != L'\t') || (c >= 0x7F && c <= 0x9F))
        return 0;
    return 1;
}

int HasUnsafeChar(const WCHAR *text)
{
    for (int units; *text != L'\0'; text += units)
        if ((units = UnicodeCharUnits(text)) == 0)
            return 1;
    return 0;
}

void ToEscapedText(const WCHAR *wide, char *text, size_t size, BOOL utf8)
{
    size_t used = 0;
    text[0] = '\0';
    for (int units; *wide != L'\0' && size - used > ESCAPE_BYTES; wide += units, used += strlen(text + used)) {
        units = UnicodeCharUnits(wide);
        if (units != 0 && (utf8 || *wide < 0x80)) {
            text[used + WideCharToMultiByte(CP_UTF8, 0, wide, units, text + used, (int)(size - used - 1), NULL,
                                            NULL)] = '\0';
            continue;
        }
        // Each unit on its own: a pair outside UTF-8 shows as its two halves.
        StringCchPrintfA(text + used, size - used, ESCAPE_FORMAT, (unsigned)*wide);
        units = 1;
    }
}

// A section as the reader hands it over whole: starting at this many
// characters and doubling, up to the last size tried.
static const DWORD SECTION_FIRST_CHARS = 16 * 1024;
static const DWORD SECTION_LAST_CHARS = 4 * 1024 * 1024;

WCHAR *ReadScriptSection(const WCHAR *script, const WCHAR *section)
{
    HANDLE heap = GetProcessHeap();
    for (DWORD chars = SECTION_FIRST_CHARS; chars <= SECTION_LAST_CHARS; chars *= 2) {
        WCHAR *text = (WCHAR *)HeapAlloc(heap, HEAP_ZERO_MEMORY, chars * sizeof(WCHAR));
        if (text == NULL)
            return NULL;
        // A section that fills the buffer to its last two characters may
        // have been cut, and a cut line may hold a cut command.
        DWORD read = GetPrivateProfileSectionW(section, text, chars, script);
        if (read < chars - 2)
            return text;
        HeapFree(heap, 0, text);
    }
    return NULL;
}

void FreeScriptSection(WCHAR *text)
{
    if (text != NULL)
        HeapFree(GetProcessHeap(), 0, text);
}

static bool IsBlankW(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

// The text between start and end without the blanks around it.
static void TrimBlanks(const WCHAR **start, const WCHAR **end)
{
    while (*start < *end && IsBlankW(**start))
        (*start)++;
    while (*end > *start && IsBlankW((*end)[-1]))
        (*end)--;
}

const WCHAR *FindSectionValue(const WCHAR *section, const WCHAR *key, size_t *length)
{
    size_t keyLength = (size_t)lstrlenW(key);
    for (const WCHAR *line = section; *line != L'\0'; line += lstrlenW(line) + 1) {
        const WCHAR *equals = line + wcscspn(line, L"=");
        // Windows hands over comment lines in a section too.
        if (*equals == L'\0' || *line == L';')
            continue;
        const WCHAR *name = line, *nameEnd = equals;
        TrimBlanks(&name, &nameEnd);
        if ((size_t)(nameEnd - name) != keyLength ||
            CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, (int)keyLength, key, (int)keyLength) != CSTR_EQUAL)
            continue;
        const WCHAR *value = equals + 1, *valueEnd = value + lstrlenW(value);
        TrimBlanks(&value, &valueEnd);
        *length = (size_t)(valueEnd - value);
        return value;
    }
    return NULL;
}

size_t CommandProgram(const WCHAR *line, const WCHAR **program, BOOL *closed)
{
    *closed = TRUE;
    if (*line != L'"') {
        *program = line;
        const WCHAR *end = line;
        while (*end != L'\0' && !IsBlankW(*end))
            end++;
        return (size_t)(end - line);
    }
    *program = line + 1;
    size_t length = wcscspn(line + 1, L"\"");
    *closed = line[1 + length] == L'"';
    return length;
}

int IsAbsoluteProgram(const WCHAR *program, size_t length)
{
    // A drive letter and its root, or a share: nothing the system would
    // look for along its search path or below the current folder.
    WCHAR letter = (WCHAR)(program[0] | 0x20);
    bool drive = length > 3 && letter >= L'a' && letter <= L'z' && program[1] == L':' && program[2] == L'\\';
    bool share = length > 2 && program[0] == L'\\' && program[1] == L'\\' && program[2] != L'\\';
    return drive || share;
}
