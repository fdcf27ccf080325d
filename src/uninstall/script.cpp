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
