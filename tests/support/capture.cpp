#include "capture.h"

#include <utility>

namespace {

CRITICAL_SECTION g_lock;
std::vector<JournalEntry> *g_entries;
int g_boxAnswer = IDOK;
DWORD g_failRegisterError = 0;
bool g_failReports = false;
void *g_realDeregister = nullptr;

struct LockInit {
    LockInit()
    {
        InitializeCriticalSection(&g_lock);
        g_entries = new std::vector<JournalEntry>();
    }
} g_lockInit;

void Append(JournalEntry entry)
{
    entry.threadId = GetCurrentThreadId();
    EnterCriticalSection(&g_lock);
    g_entries->push_back(std::move(entry));
    LeaveCriticalSection(&g_lock);
}

JournalEntry Entry(Outlet outlet)
{
    JournalEntry e;
    e.outlet = outlet;
    return e;
}

HANDLE const FAKE_SOURCE = (HANDLE)(ULONG_PTR)0x4B1D0000;

void WINAPI CapturedOutputDebugStringA(LPCSTR text)
{
    JournalEntry e = Entry(Outlet::Debug);
    e.text = text ? text : "";
    Append(e);
}

void WINAPI CapturedOutputDebugStringW(LPCWSTR text)
{
    JournalEntry e = Entry(Outlet::Debug);
    e.text = Utf8(text ? text : L"");
    e.wide = true;
    Append(e);
}

int WINAPI CapturedMessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT style)
{
    JournalEntry e = Entry(Outlet::Box);
    e.text = text ? Utf8(text) : "(null)";
    e.caption = caption ? Utf8(caption) : "(null)";
    e.style = style;
    e.wide = true;
    Append(e);
    return g_boxAnswer;
}

int WINAPI CapturedMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style)
{
    JournalEntry e = Entry(Outlet::Box);
    e.text = text ? text : "(null)";
    e.caption = caption ? caption : "(null)";
    e.style = style;
    Append(e);
    return g_boxAnswer;
}

HANDLE WINAPI CapturedRegisterEventSourceA(LPCSTR server, LPCSTR source)
{
    (void)server;
    JournalEntry e = Entry(Outlet::EventRegister);
    e.text = source ? source : "(null)";
    Append(e);
    if (g_failRegisterError != 0) {
        SetLastError(g_failRegisterError);
        return NULL;
    }
    return FAKE_SOURCE;
}

// Keeps one record, its strings already as the journal holds them, and
// answers as the capture was told to.
BOOL RecordReport(HANDLE source, WORD type, WORD category, DWORD id, PSID sid, bool wide,
                  std::vector<std::string> strings)
{
    JournalEntry e = Entry(Outlet::EventReport);
    e.handle = source;
    e.type = type;
    e.category = category;
    e.eventId = id;
    e.hasSid = sid != NULL;
    e.wide = wide;
    e.strings = std::move(strings);
    Append(e);
    if (g_failReports) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CapturedReportEventA(HANDLE source, WORD type, WORD category, DWORD id, PSID sid,
                                 WORD count, DWORD, LPCSTR *strings, LPVOID)
{
    std::vector<std::string> kept;
    for (WORD i = 0; i < count && strings != NULL; i++)
        kept.push_back(strings[i] ? strings[i] : "(null)");
    return RecordReport(source, type, category, id, sid, false, std::move(kept));
}

BOOL WINAPI CapturedReportEventW(HANDLE source, WORD type, WORD category, DWORD id, PSID sid,
                                 WORD count, DWORD, LPCWSTR *strings, LPVOID)
{
    std::vector<std::string> kept;
    for (WORD i = 0; i < count && strings != NULL; i++)
        kept.push_back(strings[i] ? Utf8(strings[i]) : "(null)");
    return RecordReport(source, type, category, id, sid, true, std::move(kept));
}

BOOL WINAPI CapturedDeregisterEventSource(HANDLE source)
{
    JournalEntry e = Entry(Outlet::EventDeregister);
    e.handle = source;
    Append(e);
    if (source == FAKE_SOURCE)
        return TRUE;
    typedef BOOL(WINAPI * Deregister)(HANDLE);
    return g_realDeregister ? ((Deregister)g_realDeregister)(source) : TRUE;
}

void WINAPI CapturedSleep(DWORD milliseconds)
{
    JournalEntry e = Entry(Outlet::Sleep);
    e.milliseconds = milliseconds;
    Append(e);
}

} // namespace

std::string Utf8(const std::wstring &text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string out((size_t)bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], bytes, NULL, NULL);
    return out;
}

namespace journal {

void Clear()
{
    EnterCriticalSection(&g_lock);
    g_entries->clear();
    LeaveCriticalSection(&g_lock);
}

std::vector<JournalEntry> Entries()
{
    EnterCriticalSection(&g_lock);
    std::vector<JournalEntry> copy = *g_entries;
    LeaveCriticalSection(&g_lock);
    return copy;
}

std::vector<JournalEntry> Of(Outlet outlet)
{
    std::vector<JournalEntry> out;
    for (const JournalEntry &e : Entries())
        if (e.outlet == outlet)
            out.push_back(e);
    return out;
}

std::string DebugText()
{
    std::string text;
    for (const JournalEntry &e : Of(Outlet::Debug))
        text += e.text;
    return text;
}

std::vector<std::string> DebugLines()
{
    std::vector<std::string> lines;
    std::string text = DebugText();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

} // namespace journal

std::string SystemText(DWORD code)
{
    char *text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
    std::string s = (n != 0 && text != nullptr) ? text : "";
    if (text != nullptr)
        LocalFree(text);
    return s;
}

DebugCapture::DebugCapture(HMODULE module)
    : hook_(module, NULL, "OutputDebugStringA", (void *)CapturedOutputDebugStringA),
      hookW_(module, NULL, "OutputDebugStringW", (void *)CapturedOutputDebugStringW)
{
}

BoxCapture::BoxCapture(HMODULE module, int answer)
    : hook_(module, NULL, "MessageBoxA", (void *)CapturedMessageBoxA),
      hookW_(module, NULL, "MessageBoxW", (void *)CapturedMessageBoxW)
{
    g_boxAnswer = answer;
}

EventCapture::EventCapture(HMODULE module, DWORD failRegisterError, bool failReports)
    : register_(module, NULL, "RegisterEventSourceA", (void *)CapturedRegisterEventSourceA),
      report_(module, NULL, "ReportEventA", (void *)CapturedReportEventA),
      reportW_(module, NULL, "ReportEventW", (void *)CapturedReportEventW),
      deregister_(module, NULL, "DeregisterEventSource", (void *)CapturedDeregisterEventSource)
{
    g_failRegisterError = failRegisterError;
    g_failReports = failReports;
    g_realDeregister = deregister_.original();
}

EventCapture::~EventCapture()
{
    g_failRegisterError = 0;
    g_failReports = false;
}

HANDLE EventCapture::FakeHandle()
{
    return FAKE_SOURCE;
}

SleepCapture::SleepCapture(HMODULE module)
    : hook_(module, NULL, "Sleep", (void *)CapturedSleep)
{
}

// ---- failing imports ---------------------------------------------------

namespace {

const int FAIL_SLOTS = 8;
const int FAIL_MAX_ARGS = 8;

struct FailSlot {
    bool used;
    DWORD result;
    DWORD error;
    LONG calls;
};
FailSlot g_failSlots[FAIL_SLOTS];

template <size_t> using Arg = DWORD;

template <int S, size_t... I> DWORD WINAPI FailWith(Arg<I>...)
{
    InterlockedIncrement(&g_failSlots[S].calls);
    SetLastError(g_failSlots[S].error);
    return g_failSlots[S].result;
}

template <int S, size_t... I> void *FailFunction(std::index_sequence<I...>)
{
    return (void *)&FailWith<S, I...>;
}

template <int S> void *FailFunctionFor(int args)
{
    switch (args) {
    case 0: return FailFunction<S>(std::make_index_sequence<0>());
    case 1: return FailFunction<S>(std::make_index_sequence<1>());
    case 2: return FailFunction<S>(std::make_index_sequence<2>());
    case 3: return FailFunction<S>(std::make_index_sequence<3>());
    case 4: return FailFunction<S>(std::make_index_sequence<4>());
    case 5: return FailFunction<S>(std::make_index_sequence<5>());
    case 6: return FailFunction<S>(std::make_index_sequence<6>());
    case 7: return FailFunction<S>(std::make_index_sequence<7>());
    case 8: return FailFunction<S>(std::make_index_sequence<8>());
    }
    return nullptr;
}

void *FailFunctionForSlot(int slot, int args)
{
    switch (slot) {
    case 0: return FailFunctionFor<0>(args);
    case 1: return FailFunctionFor<1>(args);
    case 2: return FailFunctionFor<2>(args);
    case 3: return FailFunctionFor<3>(args);
    case 4: return FailFunctionFor<4>(args);
    case 5: return FailFunctionFor<5>(args);
    case 6: return FailFunctionFor<6>(args);
    case 7: return FailFunctionFor<7>(args);
    }
    return nullptr;
}

} // namespace

FailingImport::FailingImport(HMODULE module, const char *dll, const char *function, int argBytes,
                             DWORD result, DWORD error)
{
    int args = argBytes / 4;
    if (args < 0 || args > FAIL_MAX_ARGS)
        return;
    for (int s = 0; s < FAIL_SLOTS; s++) {
        if (g_failSlots[s].used)
            continue;
        g_failSlots[s] = FailSlot{true, result, error, 0};
        index_ = s;
        hook_.reset(new ImportHook(module, dll, function, FailFunctionForSlot(s, args)));
        return;
    }
}

FailingImport::~FailingImport()
{
    hook_.reset();
    if (index_ >= 0)
        g_failSlots[index_].used = false;
}

int FailingImport::calls() const
{
    return index_ >= 0 ? (int)g_failSlots[index_].calls : 0;
}

namespace {
const WCHAR *g_wideCommandLine;
LPWSTR WINAPI AnswerWideCommandLine()
{
    return (LPWSTR)g_wideCommandLine;
}
} // namespace

WideCommandLine::WideCommandLine(HMODULE module, const std::string &line)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, line.c_str(), (int)line.size(), NULL, 0);
    std::wstring wide((size_t)chars, L'\0');
    MultiByteToWideChar(CP_ACP, 0, line.c_str(), (int)line.size(), &wide[0], chars);
    Install(module, wide);
}

WideCommandLine::WideCommandLine(HMODULE module, const std::wstring &line)
{
    Install(module, line);
}

void WideCommandLine::Install(HMODULE module, const std::wstring &line)
{
    // The guarded text adds one zero byte: with one of our own it ends the
    // wide text exactly at the guard page.
    std::string bytes((const char *)line.c_str(), line.size() * sizeof(WCHAR));
    bytes.push_back('\0');
    text_.reset(new GuardedText(bytes));
    g_wideCommandLine = (const WCHAR *)text_->get();
    hook_.reset(new ImportHook(module, NULL, "GetCommandLineW", (void *)AnswerWideCommandLine));
}

// The hook goes before the text it answers with.
WideCommandLine::~WideCommandLine()
{
    hook_.reset();
}
