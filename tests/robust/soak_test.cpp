// A short soak: after a warm-up round (first-use registrations and caches),
// a few hundred more calls of each export must leave no handle, GDI or USER
// object behind and let private memory grow by no more than noise.
#include <gtest/gtest.h>

#include "soak_run.h"

namespace {

const int WARM_UP = 20;
const int ROUNDS = 300;
// Private bytes move with the system's own allocations (Wine's server
// replies, the heap's growth granule); a leak of even 64 bytes per call
// would pass it by far.
const SIZE_T MEMORY_SLACK = 256 * 1024;
const DWORD HEAP_BLOCK_SLACK = 16;

TEST(Soak, RepeatedCallsLeaveNothingBehind)
{
    ASSERT_TRUE(SoakServiceInstall()) << "expected the soak service to be created";
    bool warm = SoakExports(WARM_UP);
    ProcessCounts before = ReadProcessCounts();
    bool soaked = SoakExports(ROUNDS);
    ProcessCounts after = ReadProcessCounts();
    SoakServiceRemove();

    EXPECT_TRUE(warm && soaked) << "expected every call to give its documented result";
    EXPECT_LE(after.handles, before.handles) << "handles grew";
    EXPECT_LE(after.gdiObjects, before.gdiObjects) << "GDI objects grew";
    EXPECT_LE(after.userObjects, before.userObjects) << "USER objects grew";
    EXPECT_LE(after.windows, before.windows) << "windows grew";
    EXPECT_NE(0u, before.handles) << "expected the process's handles counted";
    EXPECT_NE(0u, before.privateBytes) << "expected the private bytes read";
    // Counted to the block: the system's profile reader keeps the few files
    // it read last, the hook's script among them, and nothing else may stay.
    EXPECT_LE(after.heapBlocks, before.heapBlocks + HEAP_BLOCK_SLACK) << "heap blocks grew";
    EXPECT_LE(after.privateBytes, before.privateBytes + MEMORY_SLACK)
        << "private bytes grew from " << before.privateBytes << " to " << after.privateBytes;
}

} // namespace
