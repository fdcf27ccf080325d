#include "import_hook.h"

#include <string.h>

static void WriteSlot(void **slot, void *value)
{
    DWORD oldProtect = 0;
    VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &oldProtect);
    *slot = value;
    VirtualProtect(slot, sizeof(void *), oldProtect, &oldProtect);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void *));
}

void **FindImportSlot(HMODULE module, const char *dll, const char *function)
{
    if (module == NULL)
        return NULL;
    BYTE *base = (BYTE *)module;
    IMAGE_DOS_HEADER *dos = (IMAGE_DOS_HEADER *)base;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *desc = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress);
         desc->Name != 0; desc++) {
        if (dll != NULL && _stricmp((const char *)(base + desc->Name), dll) != 0)
            continue;
        DWORD lookup = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + lookup);
        void **slots = (void **)(base + desc->FirstThunk);
        for (size_t i = 0; names[i].u1.AddressOfData != 0; i++) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names[i].u1.AddressOfData);
            if (strcmp((const char *)byName->Name, function) == 0)
                return &slots[i];
        }
    }
    return NULL;
}

ImportHook::ImportHook(HMODULE module, const char *dll, const char *function, void *replacement)
{
    slot_ = FindImportSlot(module, dll, function);
    if (slot_ == nullptr)
        return;
    original_ = *slot_;
    WriteSlot(slot_, replacement);
}

ImportHook::~ImportHook()
{
    if (slot_ != nullptr)
        WriteSlot(slot_, original_);
}

HMODULE KivModule()
{
    HMODULE module = GetModuleHandleA("kiv_inst.dll");
    if (module != NULL)
        return module;
    // Loaded from beside the test program and kept for the whole run.
    char path[MAX_PATH] = {0};
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    char *slash = strrchr(path, '\\');
    if (n == 0 || n >= MAX_PATH || slash == NULL || (size_t)(slash - path) + 14 > MAX_PATH)
        return LoadLibraryA("kiv_inst.dll");
    strcpy(slash + 1, "kiv_inst.dll");
    return LoadLibraryA(path);
}
