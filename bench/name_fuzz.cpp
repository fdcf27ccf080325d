// Long run of the process-name fuzz: the same generator and checks as the
// fixed-seed test, with any seed and count.
//   name_fuzz.exe [seed] [count]     (defaults 1 and 1000000)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "name_fuzz.h"

int main(int argc, char **argv)
{
    uint32_t seed = argc > 1 ? (uint32_t)strtoul(argv[1], NULL, 0) : 1;
    long count = argc > 2 ? atol(argv[2]) : 1000000;
    uint32_t state = seed;
    long failures = 0;
    for (long i = 0; i < count; i++) {
        std::string line = RandomCommandLine(&state);
        std::string problem = CheckProcessName(line);
        if (!problem.empty() && failures++ < 20)
            printf("input %ld [%s]: %s\n", i, line.c_str(), problem.c_str());
    }
    printf("seed %lu: %ld inputs, %ld failed\n", (unsigned long)seed, count, failures);
    return failures == 0 ? 0 : 1;
}
