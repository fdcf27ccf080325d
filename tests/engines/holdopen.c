/* holdopen: holds a file open as a user without rights to it could: read
 * access, sharing read and write but not delete, so that nobody can delete,
 * rename or replace it meanwhile. Prints "held" once it holds the file.
 *
 *   holdopen FILE SECONDS    exit 0 after SECONDS, 1 when FILE cannot be opened
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: holdopen FILE SECONDS\n");
        return 2;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "holdopen: cannot open %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)strtoul(argv[2], NULL, 10) * 1000);
    CloseHandle(file);
    return 0;
}
