// System DLLs that Windows does not always map from its own folder (the AVI
// file library, the network message module), loaded when needed and from
// that folder only: a DLL of the same name planted beside the host program or
// in the current folder is never taken.
#include "ntlib/kiv_nt.h"

#include <strsafe.h>

static const WCHAR PATH_SEPARATOR[] = L"\\";

HMODULE KIV_NT_LoadSystemLibrary(const WCHAR *name, DWORD flags)
{
    HMODULE module = LoadLibraryExW(name, NULL, flags | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A system without the search flags refuses them as a bad parameter;
    // there the full path of the system folder does the same.
    if (module != NULL || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;

    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return NULL;
    if (FAILED(StringCchCatW(path, MAX_PATH, PATH_SEPARATOR)) || FAILED(StringCchCatW(path, MAX_PATH, name))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    // Loaded by its full path, a DLL's own imports are looked for beside it,
    // in the system folder, rather than beside the host program. A data file
    // has no imports.
    if ((flags & LOAD_LIBRARY_AS_DATAFILE) == 0)
        flags |= LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExW(path, NULL, flags);
}
