// Test bench of the support library: a drive of the test's own for the
// diagnostic log, the product's registry keys, a stand-in network message
// module, a command line of the test's choosing and child runs of this very
// program.
#ifndef KIV_TEST_NT_BENCH_H
#define KIV_TEST_NT_BENCH_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "import_hook.h"
#include "process.h"

// The test program itself: the support library is linked into it.
inline HMODULE Self()
{
    return GetModuleHandleA(NULL);
}

// A free drive letter mapped to a temporary folder and made the current
// drive, so that "\kiv.log" lands in that folder and never in the machine's
// real root. Puts the previous current directory back and unmaps the letter.
class LogDrive {
public:
    LogDrive();
    ~LogDrive();
    bool ready() const { return ready_; }
    std::string root() const { return std::string(1, letter_) + ":\\"; }
    std::string folder() const { return dir_.path(); }
    // The bytes of "\kiv.log"; empty when there is none.
    std::string Log() const;
    bool LogExists() const;
private:
    bool Map(const char *target);
    void Unmap();
    TempDir dir_;
    char letter_ = 0;
    bool viaMountManager_ = false;
    bool mapped_ = false;
    bool ready_ = false;
    std::string savedDirectory_;
};

// Splits a file's text at "\r\n"; each line is returned without it, and a
// last piece without one is a line too.
std::vector<std::string> Lines(const std::string &text);

// The product's Config key with its "Disk" value and the event source key.
// Whatever of them the test leads to is removed again when it ends.
class ProductKeys {
public:
    ProductKeys();
    ~ProductKeys();
    // Written as the product's 32-bit installer writes it: in the 32-bit view
    // of HKLM\SOFTWARE, unless another view is asked for.
    bool SetDisk(DWORD type, const std::string &data, REGSAM view = KEY_WOW64_32KEY);
    static bool SourceKeyExists();
    // The event source key's value: its type and raw data, or false.
    static bool ReadSourceValue(const char *name, DWORD *type, std::string *data);
};

// The system's own text for a code, and its first line.
std::wstring SystemTextW(DWORD code);
std::string FirstLine(const std::string &text);

// Stands in for "netmsg.dll": a copy of a program of ours given a message
// table, loaded in its place while this object lives. Records the library's
// loads and what each FormatMessageW call asked for.
class FakeNetworkMessages {
public:
    struct Message {
        DWORD code;
        std::wstring text;
    };
    struct FormatCall {
        DWORD flags;
        bool fromModule; // the source was the stand-in module
        DWORD code;
    };
    explicit FakeNetworkMessages(const std::vector<Message> &messages);
    ~FakeNetworkMessages();
    bool ready() const { return ready_; }
    std::vector<std::wstring> loads() const;
    std::vector<FormatCall> formats() const;
    int frees() const;
    void Clear();
private:
    TempDir dir_;
    bool ready_ = false;
    std::unique_ptr<ImportHook> load_, format_, free_;
};

// GetCommandLineA answers with the given text while the object lives.
class CommandLine {
public:
    explicit CommandLine(const std::string &text);
    ~CommandLine();
private:
    std::unique_ptr<ImportHook> hook_;
};

// Runs this test program with KIV_NT_CHILD set to action, in directory; the
// child performs the action (see child_actions.cpp) instead of its tests.
ChildRun RunChild(const std::string &action, const std::string &directory);

#endif
