#include "process.h"

#include <stdio.h>

std::string BinDir()
{
    char path[MAX_PATH] = {0};
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string dir(path, n);
    size_t slash = dir.find_last_of('\\');
    return slash == std::string::npos ? std::string(".\\") : dir.substr(0, slash + 1);
}

std::string BinPath(const char *file)
{
    return BinDir() + file;
}

static void ReadAll(HANDLE pipe, std::string *out)
{
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &n, NULL) && n > 0)
        out->append(buffer, n);
}

struct ReaderArgs {
    HANDLE pipe;
    std::string *out;
};

static DWORD WINAPI ReaderThread(LPVOID param)
{
    ReaderArgs *args = (ReaderArgs *)param;
    ReadAll(args->pipe, args->out);
    return 0;
}

// A wide command line, when given, is started as it is; otherwise the narrow
// one in the ANSI code page.
static ChildRun Run(const std::string &commandLine, DWORD timeoutMs, const char *currentDirectory,
                    bool debug, const std::wstring *wideLine = NULL)
{
    ChildRun run;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    HANDLE readPipe = NULL, writePipe = NULL;
    if (!CreatePipe(&readPipe, &writePipe, &sa, 0))
        return run;
    SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writePipe;
    si.hStdError = writePipe;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    DWORD flags = debug ? DEBUG_ONLY_THIS_PROCESS : 0;
    std::vector<wchar_t> wide;
    if (wideLine != NULL)
        wide.assign(wideLine->c_str(), wideLine->c_str() + wideLine->size() + 1);
    STARTUPINFOW siW = {};
    siW.cb = sizeof(siW);
    siW.dwFlags = si.dwFlags;
    siW.hStdInput = si.hStdInput;
    siW.hStdOutput = si.hStdOutput;
    siW.hStdError = si.hStdError;
    BOOL created = wideLine != NULL
                       ? CreateProcessW(NULL, wide.data(), NULL, NULL, TRUE, flags, NULL, NULL, &siW, &pi)
                       : CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, flags, NULL, currentDirectory, &si, &pi);
    if (!created) {
        CloseHandle(writePipe);
        CloseHandle(readPipe);
        return run;
    }
    run.started = true;
    CloseHandle(writePipe);

    ReaderArgs args = {readPipe, &run.output};
    HANDLE reader = CreateThread(NULL, 0, ReaderThread, &args, 0, NULL);

    if (debug) {
        DWORD start = GetTickCount();
        bool done = false;
        while (!done && GetTickCount() - start < timeoutMs) {
            DEBUG_EVENT ev;
            if (!WaitForDebugEvent(&ev, 500))
                continue;
            DWORD status = DBG_CONTINUE;
            switch (ev.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT: {
                OUTPUT_DEBUG_STRING_INFO &info = ev.u.DebugString;
                std::string text(info.nDebugStringLength, '\0');
                SIZE_T read = 0;
                ReadProcessMemory(pi.hProcess, info.lpDebugStringData, &text[0], text.size(), &read);
                text.resize(read);
                if (!text.empty() && text.back() == '\0')
                    text.pop_back();
                run.debugStrings.push_back(text);
                break;
            }
            case EXCEPTION_DEBUG_EVENT:
                if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                    status = DBG_EXCEPTION_NOT_HANDLED;
                break;
            case CREATE_PROCESS_DEBUG_EVENT:
                if (ev.u.CreateProcessInfo.hFile)
                    CloseHandle(ev.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (ev.u.LoadDll.hFile)
                    CloseHandle(ev.u.LoadDll.hFile);
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                done = true;
                break;
            default:
                break;
            }
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
        }
    }
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 259);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    WaitForSingleObject(reader, 10000);
    CloseHandle(reader);
    CloseHandle(readPipe);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

ChildRun RunProcess(const std::string &commandLine, DWORD timeoutMs, const char *currentDirectory)
{
    return Run(commandLine, timeoutMs, currentDirectory, false);
}

ChildRun RunProcess(const std::wstring &commandLine, DWORD timeoutMs)
{
    return Run(std::string(), timeoutMs, NULL, false, &commandLine);
}

ChildRun RunUnderDebugger(const std::string &commandLine, DWORD timeoutMs)
{
    return Run(commandLine, timeoutMs, NULL, true);
}

// Wide, so that a folder a test made outside the ANSI code page goes too.
static void RemoveTree(const std::wstring &dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = dir + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full + L"\\");
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

TempDir::TempDir()
{
    char base[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, base);
    static LONG counter = 0;
    char name[MAX_PATH];
    for (int attempt = 0; attempt < 1000; attempt++) {
        snprintf(name, sizeof(name), "%skivtest-%lu-%ld\\", base, GetCurrentProcessId(),
                 InterlockedIncrement(&counter));
        if (CreateDirectoryA(name, NULL)) {
            path_ = name;
            return;
        }
    }
}

TempDir::~TempDir()
{
    if (!path_.empty())
        RemoveTree(Wide(path_));
}

std::wstring Wide(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize((size_t)MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], (int)wide.size()) - 1);
    return wide;
}

std::string Utf16File(const std::wstring &text)
{
    std::string bytes = "\xFF\xFE";
    bytes.append((const char *)text.data(), text.size() * sizeof(wchar_t));
    return bytes;
}

bool WriteFileBytes(const std::string &path, const std::string &bytes)
{
    return WriteFileBytes(Wide(path), bytes);
}

bool ReadFileBytes(const std::string &path, std::string *bytes)
{
    return ReadFileBytes(Wide(path), bytes);
}

bool WriteFileBytes(const std::wstring &path, const std::string &bytes)
{
    FILE *f = _wfopen(path.c_str(), L"wb");
    if (f == NULL)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadFileBytes(const std::wstring &path, std::string *bytes)
{
    FILE *f = _wfopen(path.c_str(), L"rb");
    if (f == NULL)
        return false;
    bytes->clear();
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        bytes->append(buffer, n);
    fclose(f);
    return true;
}
