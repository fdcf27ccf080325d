// The process-name token over thousands of random command lines with a fixed
// seed; bench/name_fuzz runs the same checks with any seed and count.
#include <gtest/gtest.h>

#include "name_fuzz.h"

namespace {

const uint32_t SEED = 20261207;
const int COUNT = 4000;

TEST(ProcessNameFuzz, EveryRandomCommandLineGivesAWellFormedName)
{
    uint32_t state = SEED;
    int failures = 0;
    for (int i = 0; i < COUNT && failures < 10; i++) {
        std::string line = RandomCommandLine(&state);
        std::string problem = CheckProcessName(line);
        if (!problem.empty()) {
            failures++;
            ADD_FAILURE() << "input " << i << " [" << line << "]: " << problem;
        }
    }
    EXPECT_EQ(0, failures);
}

// Lines the random ones reach only by chance: delimiters only (no token), a
// token ending in a backslash (empty name), quoted paths with blanks, and
// tokens far over 255 characters (cut).
TEST(ProcessNameFuzz, EdgeLines)
{
    const char *lines[] = {"", " ", "\"\"", " \" \" ", "\\", "a\\", "\\\\server\\share\\x.exe -c\\y",
                           "\"C:\\Program Files\\k.exe\" -c"};
    for (const char *line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ("", CheckProcessName(line));
    }
    EXPECT_EQ("", CheckProcessName(std::string(300, 'k')));
    EXPECT_EQ("", CheckProcessName("C:\\" + std::string(4096, 'k') + " arg"));
}

} // namespace
