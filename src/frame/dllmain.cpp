// The entry point and the module-wide state it owns.
#include "frame/frame.h"
#include "ui/ui.h"

HINSTANCE ModuleInstance = NULL;
HANDLE LibraryEventSource = NULL;

static const char ENTRY_MESSAGE[] = "Installation DLL main called";
static const char LIBRARY_SOURCE_NAME[] = "KIV Installation DLL";

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;

    // Every call is announced first; at the first attach no source is
    // registered yet, so that report reaches the debugger only.
    ReportLastError(0, ENTRY_MESSAGE);

    // A failed registration is retried by every later notification.
    if (LibraryEventSource == NULL)
        LibraryEventSource = RegisterEventSourceA(NULL, LIBRARY_SOURCE_NAME);

    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ModuleInstance = instance;
        SelectAvi("");
        break;
    case DLL_PROCESS_DETACH:
        ModuleInstance = NULL;
        if (LibraryEventSource != NULL) {
            DeregisterEventSource(LibraryEventSource);
            LibraryEventSource = NULL;
        }
        break;
    default:
        break;
    }
    return TRUE;
}
