// The current user's SID: the lookup, its growing buffers, and the reports of
// its failures through the event log writer.
#include <gtest/gtest.h>

#include "capture.h"
#include "nt_bench.h"
#include "ntlib/kiv_nt.h"

namespace {

// The user's SID as the system looks it up, for comparison.
std::vector<BYTE> ReferenceSid()
{
    WCHAR user[1025] = {0};
    DWORD chars = 1024;
    if (!GetUserNameW(user, &chars))
        return {};
    std::vector<BYTE> sid(256);
    WCHAR domain[256];
    DWORD sidBytes = 256, domainChars = 256;
    SID_NAME_USE use;
    if (!LookupAccountNameW(NULL, user, sid.data(), &sidBytes, domain, &domainChars, &use))
        return {};
    sid.resize(GetLengthSid(sid.data()));
    return sid;
}

bool IsReferenceSid(PSID sid)
{
    std::vector<BYTE> reference = ReferenceSid();
    return sid != NULL && !reference.empty() && IsValidSid(sid) && EqualSid(sid, reference.data());
}

// ---- LsaClose, counted -----------------------------------------------------------

int g_closes;
void *g_realClose;

NTSTATUS NTAPI CountedClose(LSA_HANDLE handle)
{
    g_closes++;
    return ((NTSTATUS(NTAPI *)(LSA_HANDLE))g_realClose)(handle);
}

class CloseCounter {
public:
    CloseCounter() : hook_(Self(), NULL, "LsaClose", (void *)CountedClose)
    {
        g_closes = 0;
        g_realClose = hook_.original();
    }
    int closes() const { return g_closes; }

private:
    ImportHook hook_;
};

TEST(CurrentSid, IsTheUsersSidInTheProcessHeap)
{
    CloseCounter counter;
    PSID sid = KIV_NT_AllocCurrentSID();
    EXPECT_TRUE(IsReferenceSid(sid));
    EXPECT_NE((SIZE_T)-1, HeapSize(GetProcessHeap(), 0, sid));
    EXPECT_EQ(1, counter.closes());
    EXPECT_EQ(1, KIV_NT_FreeSID(sid));
    EXPECT_EQ(1, KIV_NT_FreeSID(NULL));
}

// A failed lookup reports through the writer, which asks for a SID of its
// own; that report must not look the SID up again. One call then writes
// exactly two records: the failure first, then the caller's own, neither
// with a SID.
TEST(CurrentSid, FailureIsReportedOnceAndTheRecordGoesOutWithoutSid)
{
    LogDrive drive;
    ASSERT_TRUE(drive.ready());
    CommandLine commandLine("D:\\setup\\setup.exe");
    const struct {
        const char *function;
        int argBytes;
        DWORD result, error;
        const char *message;
        DWORD code;
        int closes;
    } rows[] = {
        {"LsaOpenPolicy", 16, 0xC0000022, 0, "KIV_NT_AllocCurrentSID: OpenPolicy failed.", 0xC0000022, 0},
        {"GetUserNameW", 8, FALSE, ERROR_NOT_ENOUGH_MEMORY, "KIV_NT_AllocCurrentSID: GetUserName failed.",
         ERROR_NOT_ENOUGH_MEMORY, 1},
        {"LookupAccountNameW", 28, FALSE, ERROR_NONE_MAPPED, "KIV_NT_AllocCurrentSID: GetAccountSid failed.",
         ERROR_NONE_MAPPED, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.function);
        journal::Clear();
        EventCapture events(Self());
        CloseCounter counter;
        FailingImport failing(Self(), NULL, row.function, row.argBytes, row.result, row.error);
        ASSERT_TRUE(failing.installed());

        EXPECT_EQ(1, KIV_NT_WriteEventLog("own message", 0, EVENTLOG_INFORMATION_TYPE, 5));

        EXPECT_EQ(1, failing.calls());
        EXPECT_EQ(row.closes, counter.closes());
        std::vector<JournalEntry> records = journal::Of(Outlet::EventReport);
        ASSERT_EQ(2u, records.size());
        std::string pid = std::to_string(GetCurrentProcessId());
        std::string head = "Kivelstrand System\r\n\r\nProcess: setup.exe (PID: " + pid + ")\r\n\r\n";
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, records[0].type);
        EXPECT_EQ(5, records[0].category);
        EXPECT_EQ(21u, records[0].eventId);
        EXPECT_FALSE(records[0].hasSid);
        EXPECT_EQ(head + row.message + "\r\n\r\n" + SystemText(row.code) + "\r\n", records[0].strings[0]);
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, records[1].type);
        EXPECT_FALSE(records[1].hasSid);
        EXPECT_EQ(head + "own message\r\n\r\n\r\n", records[1].strings[0]);
        EXPECT_EQ(2u, journal::Of(Outlet::EventDeregister).size());
    }
    EXPECT_FALSE(drive.LogExists());
}

// ---- GetAccountSid: growing buffers and the process heap ------------------------------

struct LookupCall {
    DWORD sidBytes, domainChars;
};
std::vector<LookupCall> g_lookups;
DWORD g_grownSid, g_grownDomain;
void *g_realLookup;

typedef BOOL(WINAPI *LookupFn)(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);

// The first lookup asks for bigger buffers, as a long domain name would.
BOOL WINAPI GrowingLookup(LPCWSTR system, LPCWSTR account, PSID sid, LPDWORD sidBytes, LPWSTR domain,
                          LPDWORD domainChars, PSID_NAME_USE use)
{
    g_lookups.push_back({*sidBytes, *domainChars});
    if (g_lookups.size() == 1) {
        *sidBytes = g_grownSid;
        *domainChars = g_grownDomain;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return ((LookupFn)g_realLookup)(system, account, sid, sidBytes, domain, domainChars, use);
}

class GrowingLookupHook {
public:
    GrowingLookupHook(DWORD sidBytes, DWORD domainChars)
        : hook_(Self(), NULL, "LookupAccountNameW", (void *)GrowingLookup)
    {
        g_lookups.clear();
        g_grownSid = sidBytes;
        g_grownDomain = domainChars;
        g_realLookup = hook_.original();
    }

private:
    ImportHook hook_;
};

std::wstring UserName()
{
    WCHAR user[1025] = {0};
    DWORD chars = 1024;
    GetUserNameW(user, &chars);
    return user;
}

TEST(AccountSid, BuffersGrowOnceToTheReportedSizes)
{
    std::wstring user = UserName();
    GrowingLookupHook grow(200, 300);
    PSID sid = NULL;
    ASSERT_TRUE(GetAccountSid(NULL, user.c_str(), &sid));
    ASSERT_EQ(2u, g_lookups.size());
    EXPECT_EQ(128u, g_lookups[0].sidBytes);
    EXPECT_EQ(256u, g_lookups[0].domainChars);
    EXPECT_EQ(200u, g_lookups[1].sidBytes);
    EXPECT_EQ(300u, g_lookups[1].domainChars);
    EXPECT_TRUE(IsReferenceSid(sid));
    EXPECT_EQ(200u, HeapSize(GetProcessHeap(), 0, sid));
    KIV_NT_FreeSID(sid);
}

TEST(AccountSid, LookupErrorEndsAtOnceWithItsCode)
{
    FailingImport failing(Self(), NULL, "LookupAccountNameW", 28, FALSE, ERROR_NONE_MAPPED);
    PSID sid = (PSID)&failing;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetAccountSid(NULL, L"nobody", &sid));
    EXPECT_EQ((DWORD)ERROR_NONE_MAPPED, GetLastError());
    EXPECT_EQ(NULL, sid);
    EXPECT_EQ(1, failing.calls());
}

// Heap calls of the module, recorded; the nth allocation or reallocation
// (counting from 1) can be refused.
const int MAX_BLOCKS = 16;
void *g_live[MAX_BLOCKS];
int g_allocs, g_reallocs, g_failAlloc, g_failRealloc;
void *g_realAlloc, *g_realReAlloc, *g_realFree;

void Track(void *block, bool live)
{
    for (int i = 0; i < MAX_BLOCKS; i++) {
        if (live && g_live[i] == NULL) {
            g_live[i] = block;
            return;
        }
        if (!live && g_live[i] == block) {
            g_live[i] = NULL;
            return;
        }
    }
}

LPVOID WINAPI TrackedAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (++g_allocs == g_failAlloc)
        return NULL;
    void *block = ((LPVOID(WINAPI *)(HANDLE, DWORD, SIZE_T))g_realAlloc)(heap, flags, bytes);
    Track(block, true);
    return block;
}

LPVOID WINAPI TrackedReAlloc(HANDLE heap, DWORD flags, LPVOID old, SIZE_T bytes)
{
    if (++g_reallocs == g_failRealloc) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    void *block = ((LPVOID(WINAPI *)(HANDLE, DWORD, LPVOID, SIZE_T))g_realReAlloc)(heap, flags, old, bytes);
    if (block != NULL) {
        Track(old, false);
        Track(block, true);
    }
    return block;
}

BOOL WINAPI TrackedFree(HANDLE heap, DWORD flags, LPVOID block)
{
    Track(block, false);
    return ((BOOL(WINAPI *)(HANDLE, DWORD, LPVOID))g_realFree)(heap, flags, block);
}

class HeapTracker {
public:
    HeapTracker(int failAlloc, int failRealloc)
        : alloc_(Self(), NULL, "HeapAlloc", (void *)TrackedAlloc),
          realloc_(Self(), NULL, "HeapReAlloc", (void *)TrackedReAlloc),
          free_(Self(), NULL, "HeapFree", (void *)TrackedFree)
    {
        memset(g_live, 0, sizeof(g_live));
        g_allocs = g_reallocs = 0;
        g_failAlloc = failAlloc;
        g_failRealloc = failRealloc;
        g_realAlloc = alloc_.original();
        g_realReAlloc = realloc_.original();
        g_realFree = free_.original();
    }
    bool installed() const { return alloc_.installed() && realloc_.installed() && free_.installed(); }
    int live() const
    {
        int n = 0;
        for (void *block : g_live)
            n += block != NULL;
        return n;
    }

private:
    ImportHook alloc_, realloc_, free_;
};

TEST(AccountSid, RefusedAllocationLeavesNoBlockBehind)
{
    std::wstring user = UserName();
    const struct {
        int failAlloc, failRealloc;
        size_t lookups;
    } rows[] = {
        {1, 0, 0}, // the SID buffer
        {2, 0, 0}, // the domain buffer
        {0, 1, 1}, // growing the SID buffer
        {0, 2, 1}, // growing the domain buffer
        {0, 0, 2}, // nothing refused: the SID is handed out
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.failAlloc * 10 + row.failRealloc);
        GrowingLookupHook grow(200, 300);
        PSID sid = NULL;
        BOOL found;
        int live;
        {
            HeapTracker heap(row.failAlloc, row.failRealloc);
            ASSERT_TRUE(heap.installed());
            found = GetAccountSid(NULL, user.c_str(), &sid);
            live = heap.live();
        }
        EXPECT_EQ(row.lookups, g_lookups.size());
        if (row.lookups == 2) {
            EXPECT_TRUE(found);
            EXPECT_EQ(1, live) << "only the SID handed out";
            EXPECT_TRUE(IsReferenceSid(sid));
            KIV_NT_FreeSID(sid);
        } else {
            EXPECT_FALSE(found);
            EXPECT_EQ(0, live);
            EXPECT_EQ(NULL, sid);
        }
    }
}

} // namespace
