// The calls of one support-library error record, made directly.
#include "baseline_record.h"

#include <ntsecapi.h>

#include <stdio.h>

static const char CONFIG_KEY[] = "SOFTWARE\\Brackwen Technologies Inc.\\Kivelstrand\\Config";

// The SID of the current user, as each record carries it.
static PSID BaselineSid()
{
    LSA_OBJECT_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof(attributes));
    LSA_HANDLE policy = NULL;
    LsaOpenPolicy(NULL, &attributes, POLICY_ALL_ACCESS, &policy);
    WCHAR user[1025] = {0};
    DWORD userChars = 1024;
    GetUserNameW(user, &userChars);
    DWORD sidBytes = 0, domainChars = 0;
    SID_NAME_USE use;
    LookupAccountNameW(NULL, user, NULL, &sidBytes, NULL, &domainChars, &use);
    PSID sid = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sidBytes ? sidBytes : 1);
    WCHAR *domain = (WCHAR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (domainChars + 1) * sizeof(WCHAR));
    LookupAccountNameW(NULL, user, sid, &sidBytes, domain, &domainChars, &use);
    HeapFree(GetProcessHeap(), 0, domain);
    if (policy != NULL)
        LsaClose(policy);
    return sid;
}

// One error record: configuration lookup, source, system text, SID, report.
void BaselineRecord(const char *message, DWORD code)
{
    GetCommandLineA();
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CONFIG_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    HANDLE source = RegisterEventSourceA(NULL, "Kivelstrand");
    WCHAR wide[1024] = {0};
    char narrow[1024] = {0};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, wide, 1024, NULL);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), NULL, NULL);
    char record[4096];
    snprintf(record, sizeof(record), "Kivelstrand System\r\n\r\nProcess: bench (PID: %lu)\r\n\r\n%s\r\n\r\n%s\r\n",
             GetCurrentProcessId(), message, narrow);
    PSID sid = BaselineSid();
    const char *strings[1] = {record};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 5, 21, sid, 1, 0, strings, NULL);
    HeapFree(GetProcessHeap(), 0, sid);
    DeregisterEventSource(source);
}
