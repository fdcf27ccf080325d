// coldload_host: a fresh GUI host process, as an installer is when it first
// loads the library: user32, gdi32, advapi32 and shell32 are loaded and
// initialised (a function of each has run), nothing else of the host's. It
// then times one LoadLibraryA of the DLL it is given and prints microseconds.
//   coldload_host.exe FULL-PATH-OF-DLL
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: coldload_host DLL\n");
        return 2;
    }
    GetSystemMetrics(SM_CXSCREEN);
    GetStockObject(WHITE_BRUSH);
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    char folder[MAX_PATH];
    SHGetFolderPathA(NULL, CSIDL_WINDOWS, NULL, 0, folder);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HMODULE module = LoadLibraryA(argv[1]);
    QueryPerformanceCounter(&end);
    if (module == NULL) {
        fprintf(stderr, "coldload_host: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    printf("%.1f\n", (double)(end.QuadPart - start.QuadPart) * 1e6 / (double)frequency.QuadPart);
    return 0;
}
