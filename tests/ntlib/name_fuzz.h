// Randomised command lines for the process-name token, and the properties its
// result must have. Shared by the fixed-seed test and the longer run in bench/.
#ifndef KIV_TEST_NAME_FUZZ_H
#define KIV_TEST_NAME_FUZZ_H

#include <cstdint>
#include <string>

// A command line built from blanks, quotes, backslashes, letters, a colon and
// high-ANSI bytes; sometimes past 255 characters so the copy is cut.
std::string RandomCommandLine(uint32_t *state);

// Calls KIV_NT_GetProcessName on `commandLine` (in guarded read-only memory,
// answered through an intercepted GetCommandLineA) into a guarded 256-byte
// buffer, and checks the result. Empty when every property holds, else what
// failed.
std::string CheckProcessName(const std::string &commandLine);

#endif
