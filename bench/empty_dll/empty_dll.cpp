// A DLL built with the library's compile and link options and entered the
// same way, at a DllMain of its own, with nothing to do: loading it is the
// floor of what loading the library can cost.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
