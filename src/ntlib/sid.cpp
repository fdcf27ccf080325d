// The current user's SID, which tags every record of the event log writer.
// Looked up anew for every record; the blocks come from the process heap.
#include "ntlib/kiv_nt.h"

static const WORD REPORT_CATEGORY = 5;
static const DWORD USER_NAME_CHARS = 1024;
static const DWORD FIRST_SID_BYTES = 128;
static const DWORD FIRST_DOMAIN_CHARS = 256;

static const char OPEN_POLICY_FAILED[] = "KIV_NT_AllocCurrentSID: OpenPolicy failed.";
static const char GET_USER_NAME_FAILED[] = "KIV_NT_AllocCurrentSID: GetUserName failed.";
static const char GET_ACCOUNT_SID_FAILED[] = "KIV_NT_AllocCurrentSID: GetAccountSid failed.";

NTSTATUS OpenPolicy(DWORD desiredAccess, LSA_HANDLE *policy)
{
    LSA_OBJECT_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof(attributes));
    return LsaOpenPolicy(NULL, &attributes, desiredAccess, policy);
}

PSID KIV_NT_AllocCurrentSID(void)
{
    PSID sid = NULL;

    // The LSA status goes into the report as it came; it seldom has a text.
    LSA_HANDLE policy = NULL;
    NTSTATUS status = OpenPolicy(POLICY_LOOKUP_NAMES, &policy);
    if (status != 0) {
        KIV_NT_WriteEventLog(OPEN_POLICY_FAILED, (DWORD)status, EVENTLOG_ERROR_TYPE, REPORT_CATEGORY);
        return NULL;
    }

    WCHAR user[USER_NAME_CHARS + 1];
    ZeroMemory(user, sizeof(user));
    DWORD userChars = USER_NAME_CHARS;
    if (!GetUserNameW(user, &userChars))
        KIV_NT_WriteEventLog(GET_USER_NAME_FAILED, GetLastError(), EVENTLOG_ERROR_TYPE, REPORT_CATEGORY);
    else if (!GetAccountSid(NULL, user, &sid))
        KIV_NT_WriteEventLog(GET_ACCOUNT_SID_FAILED, GetLastError(), EVENTLOG_ERROR_TYPE, REPORT_CATEGORY);

    LsaClose(policy);
    return sid;
}

BOOLEAN KIV_NT_FreeSID(PSID sid)
{
    if (sid != NULL)
        HeapFree(GetProcessHeap(), 0, sid);
    return 1;
}

BOOL GetAccountSid(LPCWSTR systemName, LPCWSTR accountName, PSID *sid)
{
    if (sid == NULL)
        return FALSE;

    HANDLE heap = GetProcessHeap();
    DWORD sidBytes = FIRST_SID_BYTES;
    DWORD domainChars = FIRST_DOMAIN_CHARS;
    WCHAR *domain = NULL;
    BOOL found = FALSE;

    // The caller's place holds the SID block from the start, so that the
    // clean-up below finds it whichever step fails.
    *sid = HeapAlloc(heap, 0, sidBytes);
    if (*sid != NULL)
        domain = (WCHAR *)HeapAlloc(heap, 0, domainChars * sizeof(WCHAR));

    while (domain != NULL) {
        DWORD triedSid = sidBytes, triedDomain = domainChars;
        SID_NAME_USE use;
        if (LookupAccountNameW(systemName, accountName, *sid, &sidBytes, domain, &domainChars, &use)) {
            found = TRUE;
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        // Sizes that did not grow would fail the same way again.
        if (sidBytes <= triedSid && domainChars <= triedDomain)
            break;

        // A refused reallocation leaves the old block where it was, so the
        // clean-up still frees it.
        PSID grownSid = HeapReAlloc(heap, 0, *sid, sidBytes);
        if (grownSid == NULL)
            break;
        *sid = grownSid;
        WCHAR *grownDomain = (WCHAR *)HeapReAlloc(heap, 0, domain, domainChars * sizeof(WCHAR));
        if (grownDomain == NULL)
            break;
        domain = grownDomain;
    }

    // The caller reads the lookup's error code right after this call.
    DWORD error = GetLastError();
    if (domain != NULL)
        HeapFree(heap, 0, domain);
    if (!found && *sid != NULL) {
        HeapFree(heap, 0, *sid);
        *sid = NULL;
    }
    SetLastError(error);
    return found;
}
