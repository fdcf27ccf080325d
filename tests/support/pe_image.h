// Reads the headers, section names, export and import directories of a PE
// file on disk.
#ifndef KIV_TEST_PE_IMAGE_H
#define KIV_TEST_PE_IMAGE_H

#include <map>
#include <string>
#include <vector>

struct PeImage {
    bool valid = false;
    unsigned machine = 0;
    bool pe32Plus = false;                     // the 64-bit optional header
    bool isDll = false;
    std::string exportName;                    // the module name in the export directory
    std::map<std::string, unsigned> exports;   // name -> ordinal
    std::vector<std::string> imports;          // imported DLL names, as stored
    std::vector<std::string> importedNames;    // functions imported by name, any DLL
    std::map<std::string, unsigned> exportRvas; // name -> RVA of the code
    unsigned entryPoint = 0;                   // RVA
    unsigned dllCharacteristics = 0;           // IMAGE_DLLCHARACTERISTICS_* of the optional header
    unsigned relocationBytes = 0;              // size of the base relocation directory
    std::vector<std::string> sections;         // names, long ones resolved
    unsigned fileBytes = 0;                    // the file's size
    unsigned resourceSectionBytes = 0;         // the file bytes of the section holding the resources
};

PeImage ReadPeImage(const std::string &path);

#endif
