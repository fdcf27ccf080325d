// Child processes for tests: plain runs with captured output, and runs under
// the debugging API that collect the child's debugger lines (those written
// while a DLL loads and unloads included).
#ifndef KIV_TEST_PROCESS_H
#define KIV_TEST_PROCESS_H

#include <windows.h>

#include <string>
#include <vector>

// The folder of the running test program, with a closing backslash; the DLL,
// kivhost.exe and the fixtures lie there.
std::string BinDir();
std::string BinPath(const char *file);

struct ChildRun {
    bool started = false;
    DWORD exitCode = 0;
    std::string output;                    // standard output and error
    std::vector<std::string> debugStrings; // one per OutputDebugString call
};

// Runs commandLine (exactly as given) and waits up to timeoutMs.
ChildRun RunProcess(const std::string &commandLine, DWORD timeoutMs = 60000,
                    const char *currentDirectory = NULL);
// The same from a wide command line, passed on exactly.
ChildRun RunProcess(const std::wstring &commandLine, DWORD timeoutMs = 60000);

// Runs commandLine as a debuggee and records every OUTPUT_DEBUG_STRING_EVENT.
ChildRun RunUnderDebugger(const std::string &commandLine, DWORD timeoutMs = 60000);

// A folder of the test's own under the temporary folder, removed with all
// its files when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; } // ends with a backslash
    std::string file(const char *name) const { return path_ + name; }
private:
    std::string path_;
};

bool WriteFileBytes(const std::string &path, const std::string &bytes);
bool ReadFileBytes(const std::string &path, std::string *bytes);
bool WriteFileBytes(const std::wstring &path, const std::string &bytes);
bool ReadFileBytes(const std::wstring &path, std::string *bytes);

// Text in the ANSI code page made wide; wide text as the bytes of a file
// saved as UTF-16 LE with its byte-order mark.
std::wstring Wide(const std::string &text);
std::string Utf16File(const std::wstring &text);

#endif
