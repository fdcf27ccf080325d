// Replaces one import of a module by patching its import address table, and
// puts the original back when the hook goes out of scope.
#ifndef KIV_TEST_IMPORT_HOOK_H
#define KIV_TEST_IMPORT_HOOK_H

#include <windows.h>

class ImportHook {
public:
    // dll is the imported DLL's name ("KERNEL32.dll", any case) or NULL for
    // whichever DLL the module imports the function from.
    ImportHook(HMODULE module, const char *dll, const char *function, void *replacement);
    ~ImportHook();
    ImportHook(const ImportHook &) = delete;
    ImportHook &operator=(const ImportHook &) = delete;

    bool installed() const { return slot_ != nullptr; }
    void *original() const { return original_; }

private:
    void **slot_ = nullptr;
    void *original_ = nullptr;
};

// The slot of a module's import address table that holds the named import, or
// NULL when the module does not import it by name.
void **FindImportSlot(HMODULE module, const char *dll, const char *function);

// The DLL under test, loaded from beside the test program if the program has
// not loaded it yet. Tests of internal routines linked into the test program
// hook GetModuleHandle(NULL) instead.
HMODULE KivModule();

#endif
