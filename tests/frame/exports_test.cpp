// The built DLL as a host and a loader see it: export names and ordinals,
// imported DLLs, resources.
#include <gtest/gtest.h>

#include <ctype.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "pe_image.h"
#include "process.h"

namespace {

std::string Lower(std::string s)
{
    for (char &c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

const std::map<std::string, unsigned> EXPECTED_EXPORTS = {
    {"DllMain", 1},
    {"FakeStatusOpen", 2},
    {"FakeStatusClose", 3},
    {"FakeStatusSetAvi", 4},
    {"ServiceStart", 5},
    {"ServiceDelete", 6},
    {"ServiceCreate", 7},
    {"ServiceExists", 8},
    {"UninstInitialize", 9},
    {"UninstUnInitialize", 10},
    {"AskDrive", 11},
    {"GetWindowByTitle", 12},
    {"StopAllProcessStarters", 13},
    {"ServiceIsRunning", 14},
    {"ServiceStop", 15},
};

TEST(Exports, NamesAndOrdinalsAreExactlyTheTable)
{
    PeImage image = ReadPeImage(BinPath("kiv_inst.dll"));
    ASSERT_TRUE(image.valid);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, image.machine);
    EXPECT_TRUE(image.isDll);
    EXPECT_EQ("kiv_inst.dll", image.exportName);
    EXPECT_EQ(EXPECTED_EXPORTS, image.exports);
}

TEST(Exports, ImportsOnlyWindowsSystemDlls)
{
    static const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                                  "avifil32.dll", "gdi32.dll",  "msvcrt.dll",
                                                  "ntdll.dll"};
    PeImage image = ReadPeImage(BinPath("kiv_inst.dll"));
    ASSERT_TRUE(image.valid);
    ASSERT_FALSE(image.imports.empty());
    for (const std::string &dll : image.imports) {
        SCOPED_TRACE(dll);
        EXPECT_EQ(1u, allowed.count(Lower(dll))) << "imports a DLL a bare Windows may not have";
    }
}

// The loader enters the DLL at its own DllMain: no runtime start-up runs TLS
// callbacks or constructor tables, registers unwind frames, or leaves exit
// handlers for the process to call after the DLL is gone.
TEST(Exports, EnteredAtItsOwnDllMainWithNoRuntimeStartUp)
{
    PeImage image = ReadPeImage(BinPath("kiv_inst.dll"));
    ASSERT_TRUE(image.valid);
    ASSERT_EQ(1u, image.exportRvas.count("DllMain"));
    EXPECT_EQ(image.exportRvas.at("DllMain"), image.entryPoint);
    ASSERT_FALSE(image.sections.empty());
    // A stripped image cuts section names to eight characters.
    for (const char *section : {".tls", ".CRT", ".eh_fram"}) {
        SCOPED_TRACE(section);
        EXPECT_EQ(0, std::count_if(image.sections.begin(), image.sections.end(),
                                   [&](const std::string &name) { return name.compare(0, 8, section) == 0; }));
    }
    ASSERT_FALSE(image.importedNames.empty());
    for (const char *handler : {"atexit", "_onexit", "__dllonexit", "_register_onexit_function"}) {
        SCOPED_TRACE(handler);
        EXPECT_EQ(0, std::count(image.importedNames.begin(), image.importedNames.end(), handler));
    }
}

TEST(Exports, ExportsResolveThroughTheLoader)
{
    HMODULE dll = LoadLibraryA(BinPath("kiv_inst.dll").c_str());
    ASSERT_NE(nullptr, dll);
    for (const auto &row : EXPECTED_EXPORTS) {
        SCOPED_TRACE(row.first);
        FARPROC byName = GetProcAddress(dll, row.first.c_str());
        FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(row.second));
        EXPECT_NE(nullptr, byName);
        EXPECT_EQ(byName, byOrdinal);
    }
    FreeLibrary(dll);
}

TEST(Resources, StringOneInUsEnglish)
{
    HMODULE dll = LoadLibraryExA(BinPath("kiv_inst.dll").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, dll);
    // String 1 lives in block 1 of the string table.
    EXPECT_NE(nullptr, FindResourceExA(dll, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(1),
                                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
    char text[128] = {0};
    EXPECT_EQ(26, LoadStringA(dll, 1, text, sizeof(text)));
    EXPECT_STREQ("KIV Installation DLL error", text);
    FreeLibrary(dll);
}

std::string VersionString(const std::vector<char> &block, const char *name)
{
    char query[128];
    snprintf(query, sizeof(query), "\\StringFileInfo\\040904B0\\%s", name);
    char *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, (void **)&value, &length) || value == nullptr)
        return "(missing)";
    return value;
}

TEST(Resources, VersionNamesMakerAndProduct)
{
    std::string path = BinPath("kiv_inst.dll");
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_NE(0u, size);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    EXPECT_EQ("Brackwen Technologies Inc.", VersionString(block, "CompanyName"));
    EXPECT_EQ("Kivelstrand", VersionString(block, "ProductName"));
    EXPECT_EQ("kiv_inst.dll", VersionString(block, "OriginalFilename"));
    EXPECT_NE("(missing)", VersionString(block, "FileDescription"));
    EXPECT_NE("(missing)", VersionString(block, "FileVersion"));
    EXPECT_NE("(missing)", VersionString(block, "ProductVersion"));
}

} // namespace
