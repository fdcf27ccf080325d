// Where the uninstall hook lives: the directory of the library path that the
// uninstaller passes behind its option "-c".
#include "uninstall/uninstall.h"

#include <strsafe.h>

#include "ntlib/kiv_nt.h"

static const char OPTION_LEAD = '-';
static const char OPTION_LETTER = 'c';
static const char QUOTE = '"';
static const char BACKSLASH = '\\';

static bool IsBlank(char c)
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

void SplitAtLastChar(const char *path, char *directory, size_t directorySize, char *rest,
                     size_t restSize, char separator)
{
    if (directory != NULL && directorySize > 0)
        directory[0] = '\0';
    if (rest != NULL && restSize > 0)
        rest[0] = '\0';
    if (path == NULL || path[0] == '\0')
        return;

    // The last separator, found walking whole characters: lead bytes are
    // never compared and trail bytes never visited on their own.
    const char *split = NULL;
    for (const char *p = path; *p != '\0';) {
        if (!IsDBCSLeadByte((BYTE)*p) && *p == separator)
            split = p;
        const char *next = CharNextA(p);
        if (next == p)
            break;
        p = next;
    }

    // A rest over its buffer is cut at a whole character.
    if (split == NULL) {
        if (rest != NULL)
            KIV_NT_CopyWholeChars(rest, restSize, path, (size_t)lstrlenA(path));
        return;
    }
    size_t directoryLength = (size_t)(split - path) + 1;
    // A cut directory would name another folder: give none instead.
    if (directory != NULL && directoryLength < directorySize)
        StringCchCopyNA(directory, directorySize, path, directoryLength);
    if (rest != NULL)
        KIV_NT_CopyWholeChars(rest, restSize, split + 1, (size_t)lstrlenA(split + 1));
}

// The first character after the program name, which may be quoted.
static const char *SkipProgramName(const char *line)
{
    const char *p = line;
    if (*p == QUOTE) {
        p = CharNextA(p);
        while (*p != '\0' && *p != QUOTE)
            p = CharNextA(p);
        if (*p == QUOTE)
            p = CharNextA(p);
        return p;
    }
    while (*p != '\0' && !IsBlank(*p))
        p = CharNextA(p);
    return p;
}

// The text right behind an argument that begins with "-c", or NULL. Only an
// argument start counts: blanks outside double quotes separate arguments. An
// argument quoted whole ("-cC:\Dir\kiv_inst.dll") is the option as well, its
// path then inside the quotes.
static const char *FindOption(const char *line, bool *quotedPath)
{
    // Whatever follows the program name begins an argument, also right
    // behind a closing quote.
    bool inQuotes = false;
    bool atArgumentStart = true;
    for (const char *p = SkipProgramName(line); *p != '\0'; p = CharNextA(p)) {
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

int GetUninstDirectory(const char *commandLine, char *directory, size_t directorySize)
{
    if (directory == NULL || directorySize == 0)
        return 0;
    directory[0] = '\0';
    if (commandLine == NULL)
        return 0;

    bool quoted = false;
    const char *path = FindOption(commandLine, &quoted);
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
    const char *end;
    if (quoted) {
        end = path;
        while (*end != '\0' && *end != QUOTE)
            end = CharNextA(end);
    } else {
        end = path + lstrlenA(path);
    }

    size_t length = (size_t)(end - path);
    char *text = (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length + 1);
    if (text == NULL)
        return 1;
    CopyMemory(text, path, length);
    if (EndsWithChar(text, QUOTE))
        text[length - 1] = '\0';
    SplitAtLastChar(text, directory, directorySize, NULL, 0, BACKSLASH);
    HeapFree(GetProcessHeap(), 0, text);
    return 1;
}
