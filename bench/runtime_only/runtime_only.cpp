// A DLL built with the library's compiler, runtime and link options but none
// of its code: loading it shows what the runtime's own start-up and shut-down
// cost, apart from anything our entry point does.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
