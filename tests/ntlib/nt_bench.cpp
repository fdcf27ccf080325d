#include "nt_bench.h"

#include <winioctl.h>

#include <string.h>

// ---- a drive of the test's own ------------------------------------------

namespace {

// Wine keeps its drive letters as links in the prefix, which DefineDosDevice
// does not reach; its mount manager makes and removes them.
struct UnixDriveRequest {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};
const DWORD DEFINE_UNIX_DRIVE = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
const WCHAR MOUNT_MANAGER[] = L"\\\\.\\MountPointManager";

typedef char *(CDECL *UnixFileName)(LPCWSTR);

UnixFileName WineUnixFileName()
{
    return (UnixFileName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
}

bool DefineWineDrive(char letter, const char *unixPath)
{
    HANDLE manager = CreateFileW(MOUNT_MANAGER, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> request(sizeof(UnixDriveRequest) + (unixPath ? strlen(unixPath) + 1 : 0));
    UnixDriveRequest *drive = (UnixDriveRequest *)request.data();
    drive->size = (ULONG)request.size();
    drive->letter = (WCHAR)(letter - 'A' + 'a');
    drive->type = unixPath ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
    if (unixPath) {
        drive->mountPointOffset = sizeof(UnixDriveRequest);
        strcpy(request.data() + sizeof(UnixDriveRequest), unixPath);
    }
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(manager, DEFINE_UNIX_DRIVE, request.data(), (DWORD)request.size(), NULL, 0, &returned,
                              NULL);
    CloseHandle(manager);
    return ok != FALSE;
}

const char PROBE_FILE[] = "kivdrive.probe";

} // namespace

LogDrive::LogDrive()
{
    if (dir_.path().empty())
        return;
    DWORD used = GetLogicalDrives();
    for (char c = 'Q'; c <= 'Y' && letter_ == 0; c++)
        if ((used & (1u << (c - 'A'))) == 0)
            letter_ = c;
    if (letter_ == 0)
        return;
    std::string target = dir_.path().substr(0, dir_.path().size() - 1);
    if (!Map(target.c_str()))
        return;

    char saved[MAX_PATH] = {0};
    GetCurrentDirectoryA(MAX_PATH, saved);
    savedDirectory_ = saved;
    if (!SetCurrentDirectoryA(root().c_str()))
        return;
    // The root must be our folder before anything may write "\kiv.log".
    bool probed = WriteFileBytes("\\" + std::string(PROBE_FILE), "x") &&
                  GetFileAttributesA(dir_.file(PROBE_FILE).c_str()) != INVALID_FILE_ATTRIBUTES;
    DeleteFileA(dir_.file(PROBE_FILE).c_str());
    ready_ = probed;
}

LogDrive::~LogDrive()
{
    if (!savedDirectory_.empty())
        SetCurrentDirectoryA(savedDirectory_.c_str());
    Unmap();
}

bool LogDrive::Map(const char *target)
{
    UnixFileName unixName = WineUnixFileName();
    if (unixName != NULL) {
        std::wstring wide(target, target + strlen(target));
        char *unixPath = unixName(wide.c_str());
        if (unixPath == NULL)
            return false;
        mapped_ = DefineWineDrive(letter_, unixPath);
        HeapFree(GetProcessHeap(), 0, unixPath);
        viaMountManager_ = true;
    } else {
        char device[3] = {letter_, ':', 0};
        mapped_ = DefineDosDeviceA(0, device, target) != FALSE;
    }
    return mapped_;
}

void LogDrive::Unmap()
{
    if (!mapped_)
        return;
    if (viaMountManager_) {
        DefineWineDrive(letter_, NULL);
    } else {
        char device[3] = {letter_, ':', 0};
        std::string target = dir_.path().substr(0, dir_.path().size() - 1);
        DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device, target.c_str());
    }
    mapped_ = false;
}

std::string LogDrive::Log() const
{
    std::string bytes;
    ReadFileBytes(dir_.file("kiv.log"), &bytes);
    return bytes;
}

bool LogDrive::LogExists() const
{
    return GetFileAttributesA(dir_.file("kiv.log").c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// ---- registry ------------------------------------------------------------

namespace {

const char *const CONFIG_CHAIN[] = {
    "SOFTWARE\\Brackwen Technologies Inc.",
    "SOFTWARE\\Brackwen Technologies Inc.\\Kivelstrand",
    "SOFTWARE\\Brackwen Technologies Inc.\\Kivelstrand\\Config",
};
const char SOURCE_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kivelstrand";

bool KeyExists(const char *path, REGSAM view)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The two views of HKLM\SOFTWARE on 64-bit Windows (one and the same on
// 32-bit Windows, where the flags are ignored).
const REGSAM VIEWS[2] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// Keys that existed before the first ProductKeys of the run are left alone.
bool g_existed[2][3];
bool g_sourceExisted = false;
bool g_checked = false;

} // namespace

ProductKeys::ProductKeys()
{
    if (g_checked)
        return;
    for (int v = 0; v < 2; v++)
        for (int i = 0; i < 3; i++)
            g_existed[v][i] = KeyExists(CONFIG_CHAIN[i], VIEWS[v]);
    g_sourceExisted = KeyExists(SOURCE_KEY, 0);
    g_checked = true;
}

ProductKeys::~ProductKeys()
{
    if (!g_sourceExisted)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, SOURCE_KEY);
    for (int v = 0; v < 2; v++)
        for (int i = 2; i >= 0; i--)
            if (!g_existed[v][i])
                RegDeleteKeyExA(HKEY_LOCAL_MACHINE, CONFIG_CHAIN[i], VIEWS[v], 0);
}

bool ProductKeys::SetDisk(DWORD type, const std::string &data, REGSAM view)
{
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, CONFIG_CHAIN[2], 0, NULL, 0, KEY_ALL_ACCESS | view, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, "Disk", 0, type, (const BYTE *)data.c_str(), (DWORD)data.size() + 1);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ProductKeys::SourceKeyExists()
{
    return KeyExists(SOURCE_KEY, 0);
}

bool ProductKeys::ReadSourceValue(const char *name, DWORD *type, std::string *data)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SOURCE_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char buffer[1024];
    DWORD size = sizeof(buffer);
    LONG status = RegQueryValueExA(key, name, NULL, type, (BYTE *)buffer, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    data->assign(buffer, size);
    return true;
}

// ---- system texts ---------------------------------------------------------

std::wstring SystemTextW(DWORD code)
{
    WCHAR buffer[2048] = {0};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, 2048, NULL);
    return std::wstring(buffer, n);
}

std::string FirstLine(const std::string &text)
{
    size_t start = text.find_first_not_of("\r\n");
    if (start == std::string::npos)
        return "(null)";
    return text.substr(start, text.find_first_of("\r\n", start) - start);
}

// ---- stand-in network message module -----------------------------------------

namespace {

std::wstring g_fakePath;
HMODULE g_fakeModule = NULL;
std::vector<std::wstring> g_loads;
std::vector<FakeNetworkMessages::FormatCall> g_formats;
int g_frees = 0;
void *g_realLoad, *g_realFormat, *g_realFree;

typedef HMODULE(WINAPI *LoadFn)(LPCWSTR, HANDLE, DWORD);
typedef DWORD(WINAPI *FormatFn)(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD, va_list *);
typedef BOOL(WINAPI *FreeFn)(HMODULE);

HMODULE WINAPI RedirectedLoad(LPCWSTR name, HANDLE file, DWORD flags)
{
    g_loads.push_back(std::wstring(name ? name : L"(null)") + L"|" + std::to_wstring(flags));
    if (name != NULL && _wcsicmp(name, L"netmsg.dll") == 0) {
        g_fakeModule = ((LoadFn)g_realLoad)(g_fakePath.c_str(), file, flags);
        return g_fakeModule;
    }
    return ((LoadFn)g_realLoad)(name, file, flags);
}

DWORD WINAPI RecordedFormat(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPWSTR buffer, DWORD size,
                            va_list *args)
{
    g_formats.push_back({flags, source != NULL && source == (LPCVOID)g_fakeModule, code});
    return ((FormatFn)g_realFormat)(flags, source, code, language, buffer, size, args);
}

BOOL WINAPI RecordedFree(HMODULE module)
{
    if (module != NULL && module == g_fakeModule)
        g_frees++;
    return ((FreeFn)g_realFree)(module);
}

// A message table resource: one block per code, Unicode entries.
std::string MessageTable(std::vector<FakeNetworkMessages::Message> messages)
{
    std::string blocks, entries;
    size_t entriesStart = 4 + 12 * messages.size();
    for (const FakeNetworkMessages::Message &m : messages) {
        DWORD block[3] = {m.code, m.code, (DWORD)(entriesStart + entries.size())};
        blocks.append((const char *)block, sizeof(block));
        std::wstring text = m.text + L'\0';
        while ((4 + text.size() * 2) % 4 != 0)
            text += L'\0';
        WORD header[2] = {(WORD)(4 + text.size() * 2), 1};
        entries.append((const char *)header, sizeof(header));
        entries.append((const char *)text.data(), text.size() * 2);
    }
    DWORD count = (DWORD)messages.size();
    return std::string((const char *)&count, 4) + blocks + entries;
}

} // namespace

FakeNetworkMessages::FakeNetworkMessages(const std::vector<Message> &messages)
{
    std::string path = dir_.file("netmsg.dll");
    if (!CopyFileA(BinPath("kivhost.exe").c_str(), path.c_str(), FALSE))
        return;
    g_fakePath.assign(path.begin(), path.end());
    std::string table = MessageTable(messages);
    HANDLE update = BeginUpdateResourceW(g_fakePath.c_str(), FALSE);
    if (update == NULL)
        return;
    BOOL added = UpdateResourceW(update, MAKEINTRESOURCEW(11), MAKEINTRESOURCEW(1),
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), (void *)table.data(),
                                 (DWORD)table.size());
    if (!EndUpdateResourceW(update, !added) || !added)
        return;
    Clear();
    load_.reset(new ImportHook(Self(), NULL, "LoadLibraryExW", (void *)RedirectedLoad));
    format_.reset(new ImportHook(Self(), NULL, "FormatMessageW", (void *)RecordedFormat));
    free_.reset(new ImportHook(Self(), NULL, "FreeLibrary", (void *)RecordedFree));
    g_realLoad = load_->original();
    g_realFormat = format_->original();
    g_realFree = free_->original();
    ready_ = load_->installed() && format_->installed() && free_->installed();
}

FakeNetworkMessages::~FakeNetworkMessages()
{
    load_.reset();
    format_.reset();
    free_.reset();
    g_fakeModule = NULL;
}

std::vector<std::wstring> FakeNetworkMessages::loads() const
{
    return g_loads;
}

std::vector<FakeNetworkMessages::FormatCall> FakeNetworkMessages::formats() const
{
    return g_formats;
}

int FakeNetworkMessages::frees() const
{
    return g_frees;
}

void FakeNetworkMessages::Clear()
{
    g_loads.clear();
    g_formats.clear();
    g_frees = 0;
}

// ---- command line and child runs -------------------------------------------

namespace {

std::string g_commandLine;

LPSTR WINAPI ChosenCommandLine()
{
    return &g_commandLine[0];
}

} // namespace

CommandLine::CommandLine(const std::string &text)
{
    g_commandLine = text;
    hook_.reset(new ImportHook(Self(), NULL, "GetCommandLineA", (void *)ChosenCommandLine));
}

CommandLine::~CommandLine()
{
    hook_.reset();
}

ChildRun RunChild(const std::string &action, const std::string &directory)
{
    char self[MAX_PATH] = {0};
    GetModuleFileNameA(NULL, self, MAX_PATH);
    SetEnvironmentVariableA("KIV_NT_CHILD", action.c_str());
    ChildRun run = RunProcess("\"" + std::string(self) + "\"", 60000, directory.c_str());
    SetEnvironmentVariableA("KIV_NT_CHILD", NULL);
    return run;
}
