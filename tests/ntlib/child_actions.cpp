// When KIV_NT_CHILD is set, this program runs one action in place of its
// tests and exits: for behaviour that needs a fresh process (the registered
// flag) or a process's standard output. The action runs before main, so it
// uses nothing of the test bench that needs its own start-up.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "import_hook.h"
#include "ntlib/kiv_nt.h"

namespace {

const char UNOPENABLE[] = "unopenable:";
const char WRITE_TWICE[] = "write-twice";

void *g_realSetValue;

typedef LONG(WINAPI *SetValueFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);

LONG WINAPI PrintedSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    printf("set %s %lu %lu\n", name ? name : "(default)", type, size);
    return ((SetValueFn)g_realSetValue)(key, name, reserved, type, data, size);
}

int RunChildAction()
{
    char action[1024] = {0};
    if (GetEnvironmentVariableA("KIV_NT_CHILD", action, sizeof(action)) == 0)
        return 0;
    std::string chosen = action;
    int code = 2;
    if (chosen.compare(0, sizeof(UNOPENABLE) - 1, UNOPENABLE) == 0) {
        std::string path = chosen.substr(sizeof(UNOPENABLE) - 1);
        std::wstring wide(path.begin(), path.end());
        KIV_NT_LogMessage(wide.c_str(), L"lost\n", L"a");
        code = 0;
    } else if (chosen == WRITE_TWICE) {
        // The system's event log functions are real here: Wine's accept all.
        ImportHook setValue(GetModuleHandleA(NULL), NULL, "RegSetValueExA", (void *)PrintedSetValue);
        g_realSetValue = setValue.original();
        for (int i = 0; i < 2; i++)
            printf("result %d\n", KIV_NT_WriteEventLog("child record", 0, EVENTLOG_INFORMATION_TYPE, 5));
        code = 0;
    }
    fflush(stdout);
    exit(code);
}

const int g_childAction = RunChildAction();

} // namespace
