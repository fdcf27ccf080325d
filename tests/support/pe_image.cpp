#include "pe_image.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "process.h"

namespace {

struct View {
    const std::string &bytes;
    const IMAGE_SECTION_HEADER *sections;
    unsigned sectionCount;

    // File offset of an RVA, or 0 when no section holds it.
    size_t Offset(DWORD rva) const
    {
        for (unsigned i = 0; i < sectionCount; i++) {
            const IMAGE_SECTION_HEADER &s = sections[i];
            DWORD size = s.Misc.VirtualSize ? s.Misc.VirtualSize : s.SizeOfRawData;
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    }
    template <typename T> const T *At(DWORD rva) const
    {
        size_t off = Offset(rva);
        if (off == 0 || off + sizeof(T) > bytes.size())
            return nullptr;
        return (const T *)(bytes.data() + off);
    }
    std::string String(DWORD rva) const
    {
        size_t off = Offset(rva);
        if (off == 0 || off >= bytes.size())
            return std::string();
        size_t end = bytes.find('\0', off);
        return bytes.substr(off, end == std::string::npos ? std::string::npos : end - off);
    }
};

} // namespace

PeImage ReadPeImage(const std::string &path)
{
    PeImage image;
    std::string bytes;
    if (!ReadFileBytes(path, &bytes) || bytes.size() < sizeof(IMAGE_DOS_HEADER))
        return image;
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)bytes.data();
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS32) > bytes.size())
        return image;
    const IMAGE_NT_HEADERS32 *nt = (const IMAGE_NT_HEADERS32 *)(bytes.data() + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return image;
    // The optional header's fields up to the directories differ in width
    // between PE32 and PE32+ (and the directories' place with them).
    const IMAGE_DATA_DIRECTORY *directories = NULL;
    if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        image.entryPoint = nt->OptionalHeader.AddressOfEntryPoint;
        image.dllCharacteristics = nt->OptionalHeader.DllCharacteristics;
        directories = nt->OptionalHeader.DataDirectory;
    } else if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC &&
               (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64) <= bytes.size()) {
        const IMAGE_NT_HEADERS64 *nt64 = (const IMAGE_NT_HEADERS64 *)nt;
        image.pe32Plus = true;
        image.entryPoint = nt64->OptionalHeader.AddressOfEntryPoint;
        image.dllCharacteristics = nt64->OptionalHeader.DllCharacteristics;
        directories = nt64->OptionalHeader.DataDirectory;
    } else {
        return image;
    }
    image.machine = nt->FileHeader.Machine;
    image.isDll = (nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0;
    image.relocationBytes = directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size;
    image.fileBytes = (unsigned)bytes.size();
    View view{bytes, IMAGE_FIRST_SECTION(nt), nt->FileHeader.NumberOfSections};
    // A name longer than eight characters is "/offset" into the string table
    // that follows the symbol table.
    size_t stringTable = nt->FileHeader.PointerToSymbolTable + 18 * (size_t)nt->FileHeader.NumberOfSymbols;
    for (unsigned i = 0; i < view.sectionCount; i++) {
        std::string name((const char *)view.sections[i].Name, strnlen((const char *)view.sections[i].Name, 8));
        size_t at = name[0] == '/' ? stringTable + strtoul(name.c_str() + 1, NULL, 10) : bytes.size();
        if (at < bytes.size())
            name = bytes.c_str() + at;
        image.sections.push_back(name);
        const IMAGE_DATA_DIRECTORY &resources = directories[IMAGE_DIRECTORY_ENTRY_RESOURCE];
        const IMAGE_SECTION_HEADER &section = view.sections[i];
        if (resources.Size != 0 && resources.VirtualAddress >= section.VirtualAddress &&
            resources.VirtualAddress < section.VirtualAddress + section.SizeOfRawData)
            image.resourceSectionBytes = section.SizeOfRawData;
    }

    const IMAGE_DATA_DIRECTORY &exportDir = directories[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (const IMAGE_EXPORT_DIRECTORY *exp = view.At<IMAGE_EXPORT_DIRECTORY>(exportDir.VirtualAddress)) {
        image.exportName = view.String(exp->Name);
        for (DWORD i = 0; i < exp->NumberOfNames; i++) {
            const DWORD *nameRva = view.At<DWORD>(exp->AddressOfNames + 4 * i);
            const WORD *index = view.At<WORD>(exp->AddressOfNameOrdinals + 2 * i);
            const DWORD *code = index ? view.At<DWORD>(exp->AddressOfFunctions + 4 * *index) : nullptr;
            if (nameRva && index)
                image.exports[view.String(*nameRva)] = exp->Base + *index;
            if (nameRva && code)
                image.exportRvas[view.String(*nameRva)] = *code;
        }
    }

    const IMAGE_DATA_DIRECTORY &importDir = directories[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (DWORD rva = importDir.VirtualAddress; rva != 0; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const IMAGE_IMPORT_DESCRIPTOR *desc = view.At<IMAGE_IMPORT_DESCRIPTOR>(rva);
        if (desc == nullptr || desc->Name == 0)
            break;
        image.imports.push_back(view.String(desc->Name));
        // An entry is a pointer wide: by ordinal when its top bit is set,
        // else the RVA of a hint and a name.
        const DWORD width = image.pe32Plus ? 8 : 4;
        for (DWORD thunk = desc->OriginalFirstThunk; thunk != 0; thunk += width) {
            const ULONGLONG *wide = image.pe32Plus ? view.At<ULONGLONG>(thunk) : nullptr;
            const DWORD *narrow = image.pe32Plus ? nullptr : view.At<DWORD>(thunk);
            if (wide == nullptr && narrow == nullptr)
                break;
            ULONGLONG entry = wide ? *wide : *narrow;
            if (entry == 0)
                break;
            if (!(wide ? IMAGE_SNAP_BY_ORDINAL64(entry) : IMAGE_SNAP_BY_ORDINAL32((DWORD)entry)))
                image.importedNames.push_back(view.String((DWORD)entry + 2));
        }
    }
    image.valid = true;
    return image;
}
