// The calls the library's entry point must make, made directly with no
// library code around them: shared by the load baseline of exports_bench and
// by the reference DLL of the first-load figure, so both floors make the same
// calls.
#ifndef KIV_BENCH_ENTRY_REPORT_H
#define KIV_BENCH_ENTRY_REPORT_H

#include <windows.h>

static const char ENTRY_REPORT_MESSAGE[] = "Installation DLL main called";
static const char ENTRY_REPORT_SOURCE[] = "KIV Installation DLL";
// The one line the default clip's selection writes at attach.
static const char ENTRY_DEFAULT_CLIP_LINE[] = "Using BKW AVI.\n";

// The announcement at one notification: the system text of the last error,
// four debugger writes, a record while a source is registered.
static inline void EntryReport(HANDLE source)
{
    DWORD code = GetLastError();
    char *text = NULL;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
    const char *shown = length != 0 && text != NULL ? text : "";
    OutputDebugStringA(ENTRY_REPORT_MESSAGE);
    OutputDebugStringA(": ");
    OutputDebugStringA(shown);
    OutputDebugStringA(" \n");
    if (source != NULL) {
        const char *strings[2] = {ENTRY_REPORT_MESSAGE, shown};
        ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, strings, NULL);
    }
    if (text != NULL)
        LocalFree(text);
}

#endif
