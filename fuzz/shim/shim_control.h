// What the fuzz targets set and read in the shim: the code page, the system
// text FormatMessageW answers with, and the bytes written to the log file.
#ifndef KIV_FUZZ_SHIM_CONTROL_H
#define KIV_FUZZ_SHIM_CONTROL_H

#include <stddef.h>

#include "windows.h"

// 1252 (single byte) or 932 (double byte: leads 81-9F and E0-FC, trails
// 40-7E and 80-FC; a valid pair maps to one character of its own).
void ShimSetCodePage(UINT codePage);

// Lead byte test of the selected code page, written apart from the stepping.
bool ShimIsLead(BYTE c);

// The text FormatMessageW gives for every code; NULL: no text.
void ShimSetSystemText(const WCHAR *text);

// The bytes written to files since the last clear, and the clear.
const char *ShimLogBytes(size_t *length);
void ShimClearLog(void);

#endif
