// Replays the saved inputs of a fuzz target without the fuzzer: each file
// given (or each file in a folder given) goes to the target once in code
// page 1252 and once in 932, under the address and undefined-behaviour
// checks. A broken property aborts, so the exit status tells.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "shim_control.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static bool ReadAll(const std::string &path, std::vector<uint8_t> *bytes)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (file == NULL)
        return false;
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    fclose(file);
    return true;
}

static void Collect(const std::string &path, std::vector<std::string> *files)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        files->push_back(path);
        return;
    }
    DIR *dir = opendir(path.c_str());
    if (dir == NULL)
        return;
    for (struct dirent *entry = readdir(dir); entry != NULL; entry = readdir(dir))
        if (entry->d_name[0] != '.')
            files->push_back(path + "/" + entry->d_name);
    closedir(dir);
}

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++)
        Collect(argv[i], &files);
    if (files.empty()) {
        fprintf(stderr, "no inputs\n");
        return 1;
    }
    for (const std::string &file : files) {
        std::vector<uint8_t> bytes;
        if (!ReadAll(file, &bytes)) {
            fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        for (UINT codePage : {1252u, 932u}) {
            fprintf(stderr, "%s (code page %u)\n", file.c_str(), codePage);
            ShimSetCodePage(codePage);
            LLVMFuzzerTestOneInput(bytes.empty() ? NULL : bytes.data(), bytes.size());
        }
    }
    printf("%zu inputs, each in code pages 1252 and 932: all properties hold\n", files.size());
    return 0;
}
