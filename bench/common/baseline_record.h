// The calls the support library makes for one "Kivelstrand" error record,
// made directly: the baselines of the benchmark and the soak share them.
#ifndef KIV_BENCH_BASELINE_RECORD_H
#define KIV_BENCH_BASELINE_RECORD_H

#include <windows.h>

// Configuration lookup, source, system text, the user's SID, report.
void BaselineRecord(const char *message, DWORD code);

#endif
