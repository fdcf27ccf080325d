// What the uninstall hook offers: its command-line and path helpers, for the
// host's script checker and the tests.
#ifndef KIV_UNINSTALL_H
#define KIV_UNINSTALL_H

#include <windows.h>

// Size of the hook's text buffers: value, key, directory, file names, status.
#define UNINST_TEXT_SIZE 512

// Fills directory (directorySize bytes) with the directory of the path given
// by the option "-c" of commandLine: empty, or ending with a backslash.
// Returns 1 when the option was found, 0 otherwise.
int GetUninstDirectory(const char *commandLine, char *directory, size_t directorySize);

// The same from a wide command line, by the same rules; directorySize in
// wide characters. The hook reads the wide command line.
int GetUninstDirectoryW(const WCHAR *commandLine, WCHAR *directory, size_t directorySize);

// The directory part of a wide path, its last backslash included; empty when
// it has none or the part does not fit.
void GetDirectoryPartW(const WCHAR *path, WCHAR *directory, size_t directorySize);

// 1 when text is not empty and its last character (double-byte aware) is the
// single-byte character ch.
int EndsWithChar(const char *text, char ch);

// Splits path at the last separator that is a character of its own (never
// the trail byte of a double-byte character): directory gets the part up to
// and including it, rest the part behind it. Without a separator the
// directory is empty and rest is the whole path. A directory that does not
// fit its buffer comes back empty rather than cut; a rest that does not fit
// is cut after its last whole character. rest may be NULL.
void SplitAtLastChar(const char *path, char *directory, size_t directorySize, char *rest,
                     size_t restSize, char separator);

// The first three bytes of the script as a little-endian number, 0 when it
// cannot be read (script.cpp). FF FE, the mark of UTF-16 LE, makes it a
// Unicode script; anything else is an ANSI script, the marks of UTF-8 and
// UTF-16 BE included, which readers take differently: the script checker
// warns about those.
DWORD ScriptHead(const WCHAR *script);

// Byte-order marks read so (the UTF-8 one also begins a Unicode log).
#define SCRIPT_UTF16LE_MARK 0xFEFF
#define SCRIPT_UTF16BE_MARK 0xFFFE
#define SCRIPT_UTF8_MARK 0xBFBBEF

// The UTF-16 units of the character at text: 2 for a surrogate pair, 1 for
// another, 0 for a control character (not a tab) or half a surrogate pair,
// which a Unicode run never acts on.
int UnicodeCharUnits(const WCHAR *text);

// 1 when text holds a character of which UnicodeCharUnits gives 0.
int HasUnsafeChar(const WCHAR *text);

// The wide text as the log and the script checker show a value, exactly:
// in UTF-8 when utf8 is set, else in ASCII; any other character, and one of
// which UnicodeCharUnits gives 0, written <U+XXXX>, unit by unit. A buffer of
// UNINST_ESCAPED_SIZE(n) bytes holds any text of n - 1 units whole; a longer
// one is cut after a whole character.
#define UNINST_ESCAPED_SIZE(units) (8 * (units) + 1)
void ToEscapedText(const WCHAR *wide, char *text, size_t size, BOOL utf8);

// A section of the script as written, "key=value" lines that end in an empty
// one, from the process heap; NULL when it cannot be read whole. Freed with
// FreeScriptSection.
WCHAR *ReadScriptSection(const WCHAR *script, const WCHAR *section);
void FreeScriptSection(WCHAR *text);

// The value of the first line whose key matches key (in any letter case),
// as written: blanks around it trimmed, quotes kept. NULL for no such key;
// length gets the value's length in characters.
const WCHAR *FindSectionValue(const WCHAR *section, const WCHAR *key, size_t *length);

// The program a command line names: the text inside its leading quotes, or
// up to its first blank. program gets its start; closed is FALSE for an
// opening quote without its closing one. Returns its length.
size_t CommandProgram(const WCHAR *line, const WCHAR **program, BOOL *closed);

// 1 for a path the system takes as it is: a drive and its root, or a share.
int IsAbsoluteProgram(const WCHAR *program, size_t length);

// The wide name in the ANSI code page, always terminated within size bytes
// and cut after a whole character when its ANSI form is longer.
void ToNarrowName(const WCHAR *wide, char *text, size_t size);

// Whether the security of a folder or file leaves it to the hook's trusted
// accounts: administrators, SYSTEM, the installer service of Windows and
// user, the account running the hook. Inherit-only entries do not apply to
// the object itself; a missing or null DACL lets everybody write.
enum HookTrust { TRUST_KEPT, TRUST_UNREADABLE, TRUST_OTHER_OWNER, TRUST_OTHERS_WRITE };
HookTrust JudgeSecurity(PSID owner, PACL dacl, PSID user);

// Judges a hook folder and its script from handles opened on them without
// following links. While the folder is trusted, pin gets a handle that keeps
// it from being renamed or deleted (close it with CloseHandle), else
// INVALID_HANDLE_VALUE.
HookTrust CheckHookFolder(const WCHAR *directory, const WCHAR *script, HANDLE *pin);

#endif
