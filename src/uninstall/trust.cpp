// Whether the hook may act on a script outside the library's own folder:
// only when nobody but the accounts that could change the library itself,
// and the account running the hook, can write the folder or the script.
#include "uninstall/uninstall.h"

#include <aclapi.h>
#include <strsafe.h>

// A SID of up to six sub-authorities, laid out as the system lays one out.
struct FixedSid {
    BYTE revision;
    BYTE count;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD rids[6];
};

static const FixedSid SYSTEM_SID = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID}};
static const FixedSid ADMINISTRATORS_SID = {
    SID_REVISION, 2, {SECURITY_NT_AUTHORITY}, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
// The system's servicing account (TrustedInstaller) owns Program Files and
// keeps full control of every folder made in it; it is more than an
// administrator already.
static const FixedSid TRUSTED_INSTALLER_SID = {
    SID_REVISION, 6, {SECURITY_NT_AUTHORITY}, {80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u}};

// The rights with which an account could change what the hook reads.
static const ACCESS_MASK WRITE_RIGHTS = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_ADD_FILE |
                                        FILE_ADD_SUBDIRECTORY | DELETE | WRITE_DAC | WRITE_OWNER |
                                        GENERIC_WRITE | GENERIC_ALL;

// Room for the TOKEN_USER and the largest SID behind it.
static const size_t TOKEN_USER_BYTES = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;

static bool IsTrusted(PSID sid, PSID user)
{
    return EqualSid(sid, (PSID)&SYSTEM_SID) || EqualSid(sid, (PSID)&ADMINISTRATORS_SID) ||
           EqualSid(sid, (PSID)&TRUSTED_INSTALLER_SID) || (user != NULL && EqualSid(sid, user));
}

HookTrust JudgeSecurity(PSID owner, PACL dacl, PSID user)
{
    // The owner may always rewrite the access list.
    if (owner == NULL || !IsTrusted(owner, user))
        return TRUST_OTHER_OWNER;
    if (dacl == NULL)
        return TRUST_OTHERS_WRITE;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACE_HEADER *header = NULL;
        if (!GetAce(dacl, i, (LPVOID *)&header))
            return TRUST_UNREADABLE;
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
            ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
            if ((ace->Mask & WRITE_RIGHTS) != 0 && !IsTrusted((PSID)&ace->SidStart, user))
                return TRUST_OTHERS_WRITE;
        } else if (header->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                   header->AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
            // No file carries these; one that does is taken at its worst.
            if ((((ACCESS_ALLOWED_OBJECT_ACE *)header)->Mask & WRITE_RIGHTS) != 0)
                return TRUST_OTHERS_WRITE;
        }
    }
    return TRUST_KEPT;
}

// The account running the hook: the uninstaller's own.
static PSID CurrentUser(BYTE *buffer)
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return NULL;
    DWORD needed = 0;
    BOOL read = GetTokenInformation(token, TokenUser, buffer, (DWORD)TOKEN_USER_BYTES, &needed);
    CloseHandle(token);
    return read ? ((TOKEN_USER *)buffer)->User.Sid : NULL;
}

static HookTrust JudgeHandle(HANDLE object, PSID user)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        NULL, &dacl, NULL, &descriptor) != ERROR_SUCCESS)
        return TRUST_UNREADABLE;
    HookTrust trust = JudgeSecurity(owner, dacl, user);
    LocalFree(descriptor);
    return trust;
}

HookTrust CheckHookFolder(const WCHAR *directory, const WCHAR *script, HANDLE *pin)
{
    *pin = INVALID_HANDLE_VALUE;
    BYTE userBuffer[TOKEN_USER_BYTES];
    PSID user = CurrentUser(userBuffer);
    if (user == NULL)
        return TRUST_UNREADABLE;
    // The folder by its own name: a trailing backslash would ask for what a
    // link leads to rather than for the link. A root keeps its backslash.
    WCHAR name[UNINST_TEXT_SIZE] = {0};
    if (FAILED(StringCchCopyW(name, UNINST_TEXT_SIZE, directory)))
        return TRUST_UNREADABLE;
    size_t length = (size_t)lstrlenW(name);
    if (length > 3 && name[length - 1] == L'\\')
        name[length - 1] = L'\0';
    // The link itself, not what it leads to: a link somebody else made is
    // theirs. Without delete sharing the folder cannot be renamed or
    // replaced while the run reads from it.
    HANDLE folder = CreateFileW(name, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (folder == INVALID_HANDLE_VALUE)
        return TRUST_UNREADABLE;
    HookTrust trust = JudgeHandle(folder, user);
    if (trust == TRUST_KEPT) {
        HANDLE file = CreateFileW(script, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        // No script is nothing to judge: nobody else can put one there.
        if (file != INVALID_HANDLE_VALUE) {
            trust = JudgeHandle(file, user);
            CloseHandle(file);
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            trust = TRUST_UNREADABLE;
        }
    }
    if (trust != TRUST_KEPT) {
        CloseHandle(folder);
        return trust;
    }
    *pin = folder;
    return TRUST_KEPT;
}
