// Where the uninstall hook lives: the directory of the library path that the
// uninstaller passes behind its option "-c". The same rules read a narrow
// command line and a wide one: the hook reads the wide one, so that a folder
// outside the ANSI code page reaches it whole.
#include "uninstall/uninstall.h"

#include <strsafe.h>

#include "ntlib/kiv_nt.h"

static const char OPTION_LEAD = '-';
static const char OPTION_LETTER = 'c';
static const char QUOTE = '"';
static const char BACKSLASH = '\\';

// Whole characters: a narrow text may hold double-byte characters, whose
// trail byte must never be taken for a character of its own. A wide text is
// walked unit by unit: a quote, a blank or a backslash is never half of a
// surrogate pair.
static const char *NextChar(const char *p)
{
    return CharNextA(p);
}

static const WCHAR *NextChar(const WCHAR *p)
{
    return *p != L'\0' ? p + 1 : p;
}

static bool IsLead(char c)
{
    return IsDBCSLeadByte((BYTE)c) != 0;
}

static bool IsLead(WCHAR)
{
    return false;
}

static size_t TextLength(const char *text)
{
    return (size_t)lstrlenA(text);
}

static size_t TextLength(const WCHAR *text)
{
    return (size_t)lstrlenW(text);
}

static void CopyCount(char *buffer, size_t size, const char *text, size_t count)
{
    StringCchCopyNA(buffer, size, text, count);
}

static void CopyCount(WCHAR *buffer, size_t size, const WCHAR *text, size_t count)
{
    StringCchCopyNW(buffer, size, text, count);
}

template <typename Ch> static bool IsBlank(Ch c)
{
    return c == ' ' || c == '\t';
}

// The last character of a non-empty text, stepping whole characters so that a
// trail byte is never taken for a character of its own.
static const char *LastChar(const char *text)
{
    const char *last = text;
    for (;;) {
        const char *next = CharNextA(last);
        if (next == last || *next == '\0')
            return last;
        last = next;
    }
}

int EndsWithChar(const char *text, char ch)
{
    if (text == NULL || text[0] == '\0')
        return 0;
    const char *last = LastChar(text);
    if (IsDBCSLeadByte((BYTE)*last))
        return 0;
    return *last == ch ? 1 : 0;
}

// The last separator before end, found walking whole characters: lead bytes
// are never compared and trail bytes never visited on their own.
template <typename Ch> static const Ch *LastSeparator(const Ch *text, const Ch *end, char separator)
{
    const Ch *found = NULL;
    for (const Ch *p = text; p < end && *p != '\0';) {
        if (!IsLead(*p) && *p == separator)
            found = p;
        const Ch *next = NextChar(p);
        if (next == p)
            break;
        p = next;
    }
    return found;
}

// The directory part of a path, separator included. A cut directory would
// name another folder: one that does not fit gives none instead.
template <typename Ch>
static void CopyDirectory(Ch *directory, size_t directorySize, const Ch *path, const Ch *separator)
{
    size_t length = (size_t)(separator - path) + 1;
    if (length < directorySize)
        CopyCount(directory, directorySize, path, length);
}

void SplitAtLastChar(const char *path, char *directory, size_t directorySize, char *rest,
                     size_t restSize, char separator)
{
    if (directory != NULL && directorySize > 0)
        directory[0] = '\0';
    if (rest != NULL && restSize > 0)
        rest[0] = '\0';
    if (path == NULL || path[0] == '\0')
        return;

    size_t length = (size_t)lstrlenA(path);
    const char *split = LastSeparator(path, path + length, separator);

    // A rest over its buffer is cut at a whole character.
    if (split == NULL) {
        if (rest != NULL)
            KIV_NT_CopyWholeChars(rest, restSize, path, length);
        return;
    }
    if (directory != NULL)
        CopyDirectory(directory, directorySize, path, split);
    if (rest != NULL)
        KIV_NT_CopyWholeChars(rest, restSize, split + 1, (size_t)lstrlenA(split + 1));
}

// The first character after the program name, which may be quoted.
template <typename Ch> static const Ch *SkipProgramName(const Ch *line)
{
    const Ch *p = line;
    if (*p == QUOTE) {
        p = NextChar(p);
        while (*p != '\0' && *p != QUOTE)
            p = NextChar(p);
        if (*p == QUOTE)
            p = NextChar(p);
        return p;
    }
    while (*p != '\0' && !IsBlank(*p))
        p = NextChar(p);
    return p;
}

// The text right behind an argument that begins with "-c", or NULL. Only an
// argument start counts: blanks outside double quotes separate arguments. An
// argument quoted whole ("-cC:\Dir\kiv_inst.dll") is the option as well, its
// path then inside the quotes.
template <typename Ch> static const Ch *FindOption(const Ch *line, bool *quotedPath)
{
    // Whatever follows the program name begins an argument, also right
    // behind a closing quote.
    bool inQuotes = false;
    bool atArgumentStart = true;
    for (const Ch *p = SkipProgramName(line); *p != '\0'; p = NextChar(p)) {
        if (!inQuotes && IsBlank(*p)) {
            atArgumentStart = true;
            continue;
        }
        if (atArgumentStart && !inQuotes) {
            if (p[0] == OPTION_LEAD && p[1] == OPTION_LETTER) {
                *quotedPath = false;
                return p + 2;
            }
            if (p[0] == QUOTE && p[1] == OPTION_LEAD && p[2] == OPTION_LETTER) {
                *quotedPath = true;
                return p + 3;
            }
        }
        atArgumentStart = false;
        if (*p == QUOTE)
            inQuotes = !inQuotes;
    }
    return NULL;
}

template <typename Ch> static int FindUninstDirectory(const Ch *commandLine, Ch *directory, size_t directorySize)
{
    if (directory == NULL || directorySize == 0)
        return 0;
    directory[0] = '\0';
    if (commandLine == NULL)
        return 0;

    bool quoted = false;
    const Ch *path = FindOption(commandLine, &quoted);
    if (path == NULL)
        return 0;
    while (IsBlank(*path))
        path++;
    if (!quoted && *path == QUOTE) {
        path++;
        quoted = true;
    }

    // A quoted path ends at its closing quote; an unquoted one runs to the
    // end of the command line, so a last argument with blanks still works.
    const Ch *end;
    if (quoted) {
        end = path;
        while (*end != '\0' && *end != QUOTE)
            end = NextChar(end);
    } else {
        end = path + TextLength(path);
    }

    // The path is read where it stands, with no copy of it, so no length of
    // command line needs memory and none can fail. A quote that ends an
    // unquoted path is no backslash: it cannot move the split.
    const Ch *split = LastSeparator(path, end, BACKSLASH);
    if (split != NULL)
        CopyDirectory(directory, directorySize, path, split);
    return 1;
}

int GetUninstDirectory(const char *commandLine, char *directory, size_t directorySize)
{
    return FindUninstDirectory(commandLine, directory, directorySize);
}

int GetUninstDirectoryW(const WCHAR *commandLine, WCHAR *directory, size_t directorySize)
{
    return FindUninstDirectory(commandLine, directory, directorySize);
}

void GetDirectoryPartW(const WCHAR *path, WCHAR *directory, size_t directorySize)
{
    if (directory == NULL || directorySize == 0)
        return;
    directory[0] = L'\0';
    if (path == NULL)
        return;
    const WCHAR *split = LastSeparator(path, path + TextLength(path), BACKSLASH);
    if (split != NULL)
        CopyDirectory(directory, directorySize, path, split);
}

void ToNarrowName(const WCHAR *wide, char *text, size_t size)
{
    if (text == NULL || size == 0)
        return;
    text[0] = '\0';
    // Room for any name the hook forms, at three bytes a character: a
    // converter given too little room fills it without a terminator.
    char whole[3 * UNINST_TEXT_SIZE];
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, whole, (int)sizeof(whole), NULL, NULL);
    if (bytes <= 0)
        return;
    KIV_NT_CopyWholeChars(text, size, whole, (size_t)bytes - 1);
}
