// Sharing modes of _wfsopen; the shim's file is a memory stream.
#define _SH_DENYNO 0x40

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif
// Opens a memory stream that the fuzz targets read back as the log file.
FILE *kivshim_wfsopen(const wchar_t *path, const wchar_t *mode, int share);
#ifdef __cplusplus
}
#endif
