// Calls each export that does not block, many times over, and reads what the
// process holds before and after. The short soak in the test run and the long
// one in bench/soak share it.
#ifndef KIV_TEST_SOAK_RUN_H
#define KIV_TEST_SOAK_RUN_H

#include <windows.h>

struct ProcessCounts {
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    // Windows of this thread, at any depth: the USER objects this library
    // makes, countable where the system gives no USER count (Wine).
    DWORD windows = 0;
    SIZE_T privateBytes = 0;
    // Busy blocks of every heap of the process and their bytes: what is held,
    // to the byte, where private bytes move by whole pages.
    DWORD heapBlocks = 0;
    SIZE_T heapBytes = 0;
};

ProcessCounts ReadProcessCounts();

// One service the soak can find: created at the start, removed at the end.
bool SoakServiceInstall();
void SoakServiceRemove();
extern const char SOAK_SERVICE[];

// `rounds` calls of each export on present and missing names and `rounds`
// status windows opened, closed and dispatched away, plus one call of
// StopAllProcessStarters (a hundred names) and one uninstall run on a small
// script (fifty-two removals) every hundred rounds, starting with the first.
// False as soon as an export gives a result other than its documented one.
bool SoakExports(int rounds);

// Dispatches the thread's pending messages, as a host does between calls.
void DispatchPending();

#endif
