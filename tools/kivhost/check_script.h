#ifndef KIVHOST_CHECK_SCRIPT_H
#define KIVHOST_CHECK_SCRIPT_H

#include <windows.h>

// Prints what an uninstall run on the script would do and warns about what it
// would not; 0 when clean, 1 on any warning, 2 when the file cannot be read.
int CheckScript(const WCHAR *file);

#endif
