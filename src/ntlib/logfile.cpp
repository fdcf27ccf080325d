// Opening the library's log files. The library often runs elevated, and its
// logs lie where others may have write access (the root of a drive, an
// installation folder): a name that leads somewhere else must never make it
// write there.
#include "ntlib/kiv_nt.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

FILE *KIV_NT_OpenLogStream(const WCHAR *path, BOOLEAN append)
{
    if (path == NULL)
        return NULL;

    // A reparse point (a symbolic link, a junction, a mount point) is opened
    // as itself rather than followed, and then refused below. Shared, so that
    // other processes may read and write the log meanwhile. Readable, so that
    // a caller can tell the encoding of what the log already holds.
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;

    // A second name of the same file is a hard link to something that is not
    // ours to write. Nothing has been written or cut yet.
    BY_HANDLE_FILE_INFORMATION info;
    ZeroMemory(&info, sizeof(info));
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        info.nNumberOfLinks > 1) {
        CloseHandle(file);
        return NULL;
    }
    // Emptied only now that the file is known to be the one at the name.
    if (!append && !SetEndOfFile(file)) {
        CloseHandle(file);
        return NULL;
    }

    // Text mode, as before: every line feed is stored with its carriage return.
    int descriptor = _open_osfhandle((intptr_t)file, _O_TEXT | (append ? _O_APPEND : 0));
    if (descriptor == -1) {
        CloseHandle(file);
        return NULL;
    }
    FILE *stream = _fdopen(descriptor, append ? "at" : "wt");
    if (stream == NULL)
        _close(descriptor);
    return stream;
}
