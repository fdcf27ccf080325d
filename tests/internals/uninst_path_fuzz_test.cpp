// The uninstall hook's command-line search and path helpers over thousands of
// random texts with a fixed seed. Inputs sit in read-only pages against a
// no-access page and outputs end against one, so a read or write outside the
// texts faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "guarded.h"
#include "uninstall/uninstall.h"

namespace {

const uint32_t SEED = 20261207;
const int COUNT = 3000;
const size_t DIRECTORY_BYTES = 260;

uint32_t Next(uint32_t *state)
{
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

std::string RandomText(uint32_t *state)
{
    static const char ALPHABET[] = {' ', '"', '\\', '\\', '-', 'c', 'C', 'k', ':', '.', '\t', '\xe9', '\x82'};
    size_t length = Next(state) % 8 == 0 ? 200 + Next(state) % 400 : Next(state) % 30;
    std::string text;
    for (size_t i = 0; i < length; i++)
        text += ALPHABET[Next(state) % sizeof(ALPHABET)];
    return text;
}

bool EmptyOrEndsInBackslash(const std::string &text)
{
    return text.empty() || text.back() == '\\';
}

TEST(UninstPathFuzz, GetUninstDirectoryGivesADirectoryFromTheLine)
{
    uint32_t state = SEED;
    for (int i = 0; i < COUNT && !HasFailure(); i++) {
        std::string line = RandomText(&state);
        SCOPED_TRACE(testing::Message() << "input " << i << " [" << line << "]");
        GuardedText input(line);
        GuardedBuffer directory(DIRECTORY_BYTES);
        int found = GetUninstDirectory(input.get(), directory.get(), DIRECTORY_BYTES);
        size_t length = strnlen(directory.get(), DIRECTORY_BYTES);
        ASSERT_LT(length, DIRECTORY_BYTES) << "expected a terminated directory";
        std::string text(directory.get(), length);
        EXPECT_TRUE(EmptyOrEndsInBackslash(text)) << "directory [" << text << "]";
        if (found) {
            EXPECT_NE(std::string::npos, line.find("-c")) << "expected 1 only with the option present";
        } else {
            EXPECT_EQ("", text) << "expected no directory without the option";
        }
        if (!text.empty()) {
            EXPECT_NE(std::string::npos, line.find(text)) << "expected the directory taken from the line";
        }
        EXPECT_TRUE(directory.canariesIntact());
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(UninstPathFuzz, SplitAtLastCharRebuildsThePath)
{
    uint32_t state = SEED + 1;
    for (int i = 0; i < COUNT && !HasFailure(); i++) {
        std::string path = RandomText(&state);
        SCOPED_TRACE(testing::Message() << "input " << i << " [" << path << "]");
        GuardedText input(path);
        GuardedBuffer directory(DIRECTORY_BYTES);
        GuardedBuffer rest(1024);
        SplitAtLastChar(input.get(), directory.get(), DIRECTORY_BYTES, rest.get(), 1024, '\\');
        std::string dir(directory.get(), strnlen(directory.get(), DIRECTORY_BYTES));
        std::string tail(rest.get(), strnlen(rest.get(), 1024));
        EXPECT_TRUE(EmptyOrEndsInBackslash(dir)) << "directory [" << dir << "]";
        EXPECT_EQ(0u, path.compare(0, dir.size(), dir)) << "expected the directory to be a prefix";
        EXPECT_EQ(std::string::npos, tail.find('\\')) << "expected no separator behind the last one";
        size_t last = path.rfind('\\');
        if (last == std::string::npos) {
            EXPECT_EQ("", dir);
            EXPECT_EQ(path, tail);
        } else {
            EXPECT_EQ(path.substr(last + 1), tail);
            // A directory over its buffer comes back empty rather than cut.
            EXPECT_EQ(last + 1 < DIRECTORY_BYTES ? path.substr(0, last + 1) : std::string(), dir);
        }
        EXPECT_TRUE(directory.canariesIntact());
        EXPECT_TRUE(rest.canariesIntact());
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(UninstPathFuzz, EndsWithCharReadsOnlyTheText)
{
    uint32_t state = SEED + 2;
    for (int i = 0; i < COUNT && !HasFailure(); i++) {
        std::string text = RandomText(&state);
        SCOPED_TRACE(testing::Message() << "input " << i << " [" << text << "]");
        GuardedText input(text);
        int expected = !text.empty() && text.back() == '\\' ? 1 : 0;
        EXPECT_EQ(expected, EndsWithChar(input.get(), '\\'));
    }
}

} // namespace
