// kivhost check-script: reads an uninstall script with the hook's own rules,
// prints what a run would do and warns where the script says something else
// than its author probably meant.
#include "check_script.h"

#include <ctype.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "uninstall/uninstall.h"

static const char NOT_FOUND[] = "NOT_FOUND";
static const WCHAR NOT_FOUND_W[] = L"NOT_FOUND";
static const int LIST_LIMIT = 50;
static const int VALUE_SIZE = 512; // the hook reads values into this many bytes
static const int SECTION_BUFFER = 1 << 20;
static const int SECTION_LINE_BYTES = UNINST_ESCAPED_SIZE(VALUE_SIZE);

struct ListKind {
    const char *section;
    const char *keyWord;
    const char *action;
    bool command; // its values are command lines
};

static const ListKind LISTS[] = {
    {"ServiceDelete", "Service", "remove service", false},
    {"CustomCommand", "Command", "start command", true},
};

static int g_warnings;

// Every text here is UTF-8, whatever the script's encoding. A console gets it
// wide, so that it shows every character; a pipe or a file gets the UTF-8.
static void Print(const char *format, va_list args)
{
    char text[4 * SECTION_LINE_BYTES];
    vsnprintf(text, sizeof(text), format, args);
    text[sizeof(text) - 1] = '\0';
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) {
        fputs(text, stdout);
        return;
    }
    static WCHAR wide[4 * SECTION_LINE_BYTES];
    int chars = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 4 * SECTION_LINE_BYTES);
    DWORD written = 0;
    fflush(stdout);
    if (chars > 1)
        WriteConsoleW(out, wide, (DWORD)chars - 1, &written, NULL);
}

static void Out(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Print(format, args);
    va_end(args);
}

static void Warn(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Out("warning: ");
    Print(format, args);
    Out("\n");
    va_end(args);
    g_warnings++;
}

// The lines of a section (or, for no section, the section names) as the
// profile reader gives them, in UTF-8: texts that end in an empty one.
static void ReadUtf8List(char *buffer, const WCHAR *path, const WCHAR *section)
{
    static WCHAR wide[SECTION_BUFFER / 4];
    const DWORD count = SECTION_BUFFER / 4;
    DWORD n = section != NULL ? GetPrivateProfileSectionW(section, wide, count, path)
                              : GetPrivateProfileSectionNamesW(wide, count, path);
    int bytes = n > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, (int)n, buffer, SECTION_BUFFER - 2, NULL, NULL) : 0;
    buffer[bytes] = '\0';
    buffer[bytes + 1] = '\0';
}

// The index of a key named WORD followed by a decimal number without leading
// zeros, as the hook forms them; -1 for any other name. Case does not matter,
// as for the platform's reader.
static long KeyIndex(const char *key, size_t keyLength, const char *word)
{
    size_t wordLength = strlen(word);
    if (keyLength <= wordLength || _strnicmp(key, word, wordLength) != 0)
        return -1;
    const char *digits = key + wordLength;
    size_t count = keyLength - wordLength;
    if (count > 9 || (digits[0] == '0' && count > 1))
        return -1;
    long index = 0;
    for (size_t i = 0; i < count; i++) {
        if (!isdigit((unsigned char)digits[i]))
            return -1;
        index = index * 10 + (digits[i] - '0');
    }
    return index;
}

static void Trim(const char **start, size_t *length)
{
    while (*length > 0 && isspace((unsigned char)(*start)[0])) {
        (*start)++;
        (*length)--;
    }
    while (*length > 0 && isspace((unsigned char)(*start)[*length - 1]))
        (*length)--;
}

// Letters-only, lower-case form, so that "Service Delete" and "servicedelet"
// can be told apart from unrelated sections.
static void Squash(const char *in, char *out, size_t size)
{
    size_t n = 0;
    for (; *in != '\0' && n + 1 < size; in++)
        if (isalpha((unsigned char)*in))
            out[n++] = (char)tolower((unsigned char)*in);
    out[n] = '\0';
}

static size_t Distance(const char *a, const char *b)
{
    size_t la = strlen(a), lb = strlen(b);
    if (la > 64 || lb > 64)
        return 99;
    size_t row[65];
    for (size_t j = 0; j <= lb; j++)
        row[j] = j;
    for (size_t i = 1; i <= la; i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= lb; j++) {
            size_t above = row[j];
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            size_t best = diagonal + cost;
            if (row[j] + 1 < best)
                best = row[j] + 1;
            if (row[j - 1] + 1 < best)
                best = row[j - 1] + 1;
            row[j] = best;
            diagonal = above;
        }
    }
    return row[lb];
}

static const ListKind *ListOfKey(const char *key, size_t keyLength, long *index)
{
    for (const ListKind &kind : LISTS) {
        *index = KeyIndex(key, keyLength, kind.keyWord);
        if (*index >= 0)
            return &kind;
    }
    return NULL;
}

// Warns about the keys of one section that the hook never reads. For a list
// section, returns the highest index of its own keys (or -1).
static long ScanSection(const WCHAR *path, const char *section, const ListKind *list, char *buffer)
{
    long highest = -1;
    // Room for a name as long as the list of names it came from: a converter
    // given too little room leaves its buffer without a terminator.
    static WCHAR wideSection[SECTION_BUFFER / 4];
    MultiByteToWideChar(CP_UTF8, 0, section, -1, wideSection, SECTION_BUFFER / 4);
    ReadUtf8List(buffer, path, wideSection);
    for (const char *line = buffer; *line != '\0'; line += strlen(line) + 1) {
        const char *equals = strchr(line, '=');
        const char *key = line;
        size_t keyLength = equals ? (size_t)(equals - line) : strlen(line);
        Trim(&key, &keyLength);
        char keyText[VALUE_SIZE];
        snprintf(keyText, sizeof(keyText), "%.*s", (int)keyLength, key);
        long index = -1;
        const ListKind *owner = ListOfKey(key, keyLength, &index);
        if (list == NULL) {
            if (owner != NULL)
                Warn("[%s] %s belongs in section [%s]; here it is never read", section, keyText,
                     owner->section);
            continue;
        }
        if (owner != list) {
            if (owner != NULL)
                Warn("[%s] %s belongs in section [%s]; here it is never read", section, keyText,
                     owner->section);
            else
                Warn("[%s] %s is not a key of this list (%s0 to %s49, no leading zeros); never read",
                     section, keyText, list->keyWord, list->keyWord);
            continue;
        }
        if (index >= LIST_LIMIT)
            Warn("[%s] %s: only %s0 to %s49 are read; this key never is", section, keyText,
                 list->keyWord, list->keyWord);
        else if (index > highest)
            highest = index;
    }
    return highest;
}

static bool EndsWithProgramExtension(const char *text, size_t length)
{
    static const char *const EXTENSIONS[] = {".exe", ".com", ".bat", ".cmd"};
    for (const char *extension : EXTENSIONS)
        if (length > 4 && _strnicmp(text + length - 4, extension, 4) == 0)
            return true;
    return false;
}

// The run hands a command line to the system without a program name, so the
// system finds the program from the line itself: the quoted text, or else the
// text before the first blank, searched for in the uninstaller's folder and
// the current folder first when it is no absolute path; an unquoted path with
// blanks is tried cut at each blank in turn. Warns where that finds another
// program than the one the author wrote.
static void CheckAnsiProgram(const char *section, const char *key, const char *command)
{
    const char *program = command;
    size_t length = 0;
    if (*program == '"') {
        program++;
        const char *close = strchr(program, '"');
        length = close != NULL ? (size_t)(close - program) : strlen(program);
    } else {
        length = strcspn(program, " \t");
        // A first cut that names no program of its own is the start of a longer path.
        for (size_t end = length; !EndsWithProgramExtension(program, length) && program[end] != '\0'; end++) {
            bool cut = program[end + 1] == '\0' || program[end + 1] == ' ' || program[end + 1] == '\t';
            if (!cut || !EndsWithProgramExtension(program, end + 1))
                continue;
            // The system adds ".exe" to a name without an extension of its own.
            const char *name = program + length;
            while (name > program && name[-1] != '\\' && name[-1] != '.')
                name--;
            bool hasExtension = name > program && name[-1] == '.';
            Warn("[%s] %s: the program %.*s holds blanks without quotes, so the system tries %.*s%s "
                 "first; put the path in quotes",
                 section, key, (int)(end + 1), program, (int)length, program, hasExtension ? "" : ".exe");
            return;
        }
    }
    if (length == 0)
        return;
    if (memchr(program, '\\', length) == NULL && memchr(program, ':', length) == NULL)
        Warn("[%s] %s: the program %.*s is a bare name, which the system looks for in the uninstaller's "
             "folder and the current folder first; give its absolute path, quoted",
             section, key, (int)length, program);
    else if (!(length >= 3 && isalpha((unsigned char)program[0]) && program[1] == ':' && program[2] == '\\') &&
             !(length >= 2 && program[0] == '\\' && program[1] == '\\'))
        Warn("[%s] %s: the program %.*s is a relative path, which the system looks for from the current "
             "folder; give its absolute path, quoted",
             section, key, (int)length, program);
}

// A Unicode script's command starts its program by the path it names, or
// not at all: nothing is searched for.
static void CheckUnicodeProgram(const char *section, const char *key, const WCHAR *command)
{
    const WCHAR *program = NULL;
    BOOL closed = FALSE;
    size_t length = CommandProgram(command, &program, &closed);
    if (closed && IsAbsoluteProgram(program, length))
        return;
    Warn("[%s] %s: the command does not name its program by an absolute path (in quotes when it holds "
         "blanks); in a Unicode script the run skips it",
         section, key);
}

// Under WOW64 a 32-bit uninstaller's System32 is SysWOW64, the 32-bit tools.
static void CheckSystemFolder(const char *section, const char *key, const char *command)
{
    static const char SYSTEM32[] = "\\system32";
    size_t length = strlen(SYSTEM32);
    for (const char *p = command; *p != '\0'; p++) {
        if (_strnicmp(p, SYSTEM32, length) != 0 || (p[length] != '\\' && p[length] != '"' && p[length] != '\0' &&
                                                      p[length] != ' '))
            continue;
        Warn("[%s] %s: the command names a System32 path, which a 32-bit uninstaller on 64-bit Windows "
             "reaches as SysWOW64 (the 32-bit tools); %%windir%%\\Sysnative\\ reaches the 64-bit ones",
             section, key);
        return;
    }
}

// Quotes around a whole value, which the system's profile reader takes off.
static void CheckOuterQuotes(const ListKind &kind, const char *key, const WCHAR *written, size_t length,
                             const char *value)
{
    if (length < 2 || written[0] != L'"' || written[length - 1] != L'"')
        return;
    if (kind.command)
        Warn("[%s] %s: quotes around the whole value are taken off by the system's profile reader; the run "
             "starts the command as written, but any other reader of the script sees it without them",
             kind.section, key);
    else
        Warn("[%s] %s: quotes around the whole value are taken off by the system's profile reader; the run "
             "removes the service %s",
             kind.section, key, value);
}

enum ValueState { VALUE_WHOLE, VALUE_CUT, VALUE_NOT_ANSI, VALUE_UNSAFE };

// Reads one value as the hook does: wide, at most 511 characters, a command
// as written in sectionText, a service name through the profile reader; from
// an ANSI script then into the ANSI code page without best fit and within
// the hook's 512 bytes. value (SECTION_LINE_BYTES) gets it in UTF-8 as a
// Unicode log shows it, wide (VALUE_SIZE) as read. def is the default.
static ValueState ReadValue(const WCHAR *path, const WCHAR *sectionText, bool unicode, const char *section,
                            const char *key, const WCHAR *def, char *value, WCHAR *wide)
{
    WCHAR wideSection[64], wideKey[32];
    MultiByteToWideChar(CP_ACP, 0, section, -1, wideSection, 64);
    MultiByteToWideChar(CP_ACP, 0, key, -1, wideKey, 32);
    DWORD length = 0;
    size_t written = 0;
    const WCHAR *found = sectionText != NULL ? FindSectionValue(sectionText, wideKey, &written) : NULL;
    if (sectionText == NULL) {
        length = GetPrivateProfileStringW(wideSection, wideKey, def, wide, VALUE_SIZE, path);
    } else if (found == NULL) {
        lstrcpynW(wide, def, VALUE_SIZE);
        length = (DWORD)lstrlenW(wide);
    } else {
        lstrcpynW(wide, found, (int)(written < (size_t)VALUE_SIZE - 1 ? written + 1 : VALUE_SIZE));
        length = (DWORD)written;
    }
    ToEscapedText(wide, value, SECTION_LINE_BYTES, TRUE);
    if (length >= (DWORD)VALUE_SIZE - 1)
        return VALUE_CUT;
    if (unicode)
        return HasUnsafeChar(wide) ? VALUE_UNSAFE : VALUE_WHOLE;
    char whole[3 * VALUE_SIZE] = {0};
    BOOL unrepresentable = FALSE;
    int bytes = GetACP() == CP_UTF8
                    ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, whole, sizeof(whole), NULL, NULL)
                    : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, whole, sizeof(whole), NULL,
                                          &unrepresentable);
    if (bytes == 0 || strlen(whole) > (size_t)VALUE_SIZE - 1)
        return VALUE_CUT;
    return unrepresentable ? VALUE_NOT_ANSI : VALUE_WHOLE;
}

static void CheckList(const WCHAR *path, bool unicode, const ListKind &kind, long highest)
{
    WCHAR wideSection[64];
    MultiByteToWideChar(CP_ACP, 0, kind.section, -1, wideSection, 64);
    // As written: the commands the run starts, and whole values in quotes.
    WCHAR *written = ReadScriptSection(path, wideSection);
    if (written == NULL && kind.command) {
        Warn("[%s] cannot be read whole; the run skips its commands", kind.section);
        return;
    }
    static WCHAR wide[VALUE_SIZE];
    static const char *const SKIP_REASONS[] = {
        NULL,
        "fills the reader's 511 characters and may be cut",
        "holds characters outside the ANSI code page",
        "holds a control character or half a surrogate pair",
    };
    char key[32];
    static char value[SECTION_LINE_BYTES];
    int index = 0;
    for (; index < LIST_LIMIT; index++) {
        snprintf(key, sizeof(key), "%s%d", kind.keyWord, index);
        // A cut name or command means something else, and a character the
        // code page lacks or a control character has no faithful stand-in:
        // the run skips them.
        ValueState state =
            ReadValue(path, kind.command ? written : NULL, unicode, kind.section, key, NOT_FOUND_W, value, wide);
        if (state != VALUE_WHOLE) {
            Warn("[%s] %s: the value %s; the run skips it", kind.section, key, SKIP_REASONS[state]);
            Out("skip: %s (%.40s...)\n", key, value);
            continue;
        }
        if (strcmp(value, NOT_FOUND) == 0)
            break;
        WCHAR wideKey[32];
        MultiByteToWideChar(CP_ACP, 0, key, -1, wideKey, 32);
        size_t writtenLength = 0;
        const WCHAR *asWritten = written != NULL ? FindSectionValue(written, wideKey, &writtenLength) : NULL;
        if (asWritten != NULL)
            CheckOuterQuotes(kind, key, asWritten, writtenLength, value);
        if (value[0] == '\0') {
            Warn("[%s] %s is empty: the run will %s with an empty name", kind.section, key,
                 kind.action);
        } else if (kind.command) {
            if (unicode)
                CheckUnicodeProgram(kind.section, key, wide);
            else
                CheckAnsiProgram(kind.section, key, value);
            CheckSystemFolder(kind.section, key, value);
        }
        Out("%s: %s\n", kind.action, value);
    }
    if (index < LIST_LIMIT) {
        // The list ends here: by a missing key, or by the value NOT_FOUND itself.
        ReadValue(path, kind.command ? written : NULL, unicode, kind.section, key, L"", value, wide);
        if (strcmp(value, NOT_FOUND) == 0)
            Warn("[%s] %s is NOT_FOUND, which ends the list", kind.section, key);
        else if (highest > index)
            Warn("[%s] %s is missing, so the keys after it are never read", kind.section, key);
    }
    FreeScriptSection(written);
}

int CheckScript(const WCHAR *file)
{
    WCHAR path[MAX_PATH];
    DWORD n = GetFullPathNameW(file, MAX_PATH, path, NULL);
    if (n == 0 || n >= MAX_PATH || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        char shown[SECTION_LINE_BYTES];
        ToEscapedText(file, shown, SECTION_LINE_BYTES, TRUE);
        fprintf(stderr, "kivhost: cannot read the script %s\n", shown);
        return 2;
    }
    char *buffer = (char *)calloc(SECTION_BUFFER, 1);
    char *sections = (char *)calloc(SECTION_BUFFER, 1);
    if (buffer == NULL || sections == NULL) {
        free(buffer);
        free(sections);
        return 2;
    }
    g_warnings = 0;
    ToEscapedText(path, buffer, SECTION_LINE_BYTES, TRUE);
    Out("script: %s\n", buffer);

    DWORD head = ScriptHead(path);
    bool unicode = LOWORD(head) == SCRIPT_UTF16LE_MARK;
    if (LOWORD(head) == SCRIPT_UTF16BE_MARK || head == SCRIPT_UTF8_MARK)
        Warn("the script begins with the mark of UTF-8 or UTF-16 BE: a run reads it as ANSI, and the "
             "system's reader may take the mark for part of the first line; save it as UTF-16 LE or ANSI");
    ReadUtf8List(sections, path, NULL);
    long highest[2] = {-1, -1};
    for (const char *section = sections; *section != '\0'; section += strlen(section) + 1) {
        const ListKind *list = NULL;
        for (int k = 0; k < 2; k++)
            if (_stricmp(section, LISTS[k].section) == 0)
                list = &LISTS[k];
        if (list == NULL) {
            char squashed[128];
            Squash(section, squashed, sizeof(squashed));
            for (const ListKind &kind : LISTS) {
                char wanted[64];
                Squash(kind.section, wanted, sizeof(wanted));
                if (Distance(squashed, wanted) <= 3)
                    Warn("[%s] looks like a misspelling of [%s]; it is never read", section,
                         kind.section);
            }
        }
        long h = ScanSection(path, section, list, buffer);
        if (list != NULL && h > highest[list - LISTS])
            highest[list - LISTS] = h;
    }

    CheckList(path, unicode, LISTS[0], highest[0]);
    for (int i = 0; i < LIST_LIMIT; i++)
        Out("remove service: KivProcessStarter%d (always)\n", i);
    Out("remove service: KIV Process Starter (always)\n");
    Out("delete file: %%WINDIR%%\\kivcfg.ini (always)\n");
    CheckList(path, unicode, LISTS[1], highest[1]);

    Out("%d warning%s\n", g_warnings, g_warnings == 1 ? "" : "s");
    free(sections);
    free(buffer);
    return g_warnings > 0 ? 1 : 0;
}
