// The floor of the first-load figure: a DLL built with the library's compile
// and link options, entered at a DllMain of its own that makes the calls the
// library's entry point must make and nothing else, and importing the same
// system DLLs, so the loader maps, initialises and binds what it does for the
// library. What the library's load costs above this one is its own.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <stdlib.h>

#include "entry_report.h"
// Generated at build time from the library's import table: one
// REFERENCE_IMPORTS_<DLL> per system DLL it imports and their count.
#include "reference_imports.h"

// One function of each system DLL the library may import, never called: its
// import is what makes the loader map and bind the DLL. The link is told the
// table is required, so --gc-sections keeps it; no code reads it.
extern "C" const void *const ReferenceImports[] = {
#ifdef REFERENCE_IMPORTS_KERNEL32
    (const void *)&GetTickCount,
#endif
#ifdef REFERENCE_IMPORTS_USER32
    (const void *)&GetSystemMetrics,
#endif
#ifdef REFERENCE_IMPORTS_ADVAPI32
    (const void *)&RegCloseKey,
#endif
#ifdef REFERENCE_IMPORTS_MSVCRT
    (const void *)&free,
#endif
#ifdef REFERENCE_IMPORTS_GDI32
    (const void *)&GetStockObject,
#endif
#ifdef REFERENCE_IMPORTS_SHELL32
    (const void *)&DragFinish,
#endif
#ifdef REFERENCE_IMPORTS_SHLWAPI
    (const void *)&PathFileExistsA,
#endif
};
static_assert(sizeof(ReferenceImports) / sizeof(ReferenceImports[0]) == REFERENCE_IMPORTED_DLLS,
              "the library imports a system DLL this table lacks: add a function of it");

static HANDLE Source = NULL;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    EntryReport(Source);
    if (Source == NULL)
        Source = RegisterEventSourceA(NULL, ENTRY_REPORT_SOURCE);
    // Selecting the default clip at attach makes this one call, no more.
    if (reason == DLL_PROCESS_ATTACH)
        OutputDebugStringA(ENTRY_DEFAULT_CLIP_LINE);
    if (reason == DLL_PROCESS_DETACH && Source != NULL) {
        DeregisterEventSource(Source);
        Source = NULL;
    }
    return TRUE;
}
