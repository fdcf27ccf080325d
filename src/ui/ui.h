// What the installer user interface offers the rest of the library: the
// status window, the drive chooser and the window lookup each keep a block of
// their own here.
#ifndef KIV_UI_H
#define KIV_UI_H

#include <windows.h>

// ---- Window lookup by title (winfind.cpp) ----

// The result of the lookup under way: null at the start of every lookup with
// a title, then the first window found.
extern HWND FoundWindow;

// The enumeration callback for the windows below the searched root; the
// caller's value is the title. Stores a matching window in FoundWindow and
// stops the enumeration; goes on otherwise.
BOOL CALLBACK WindowTitleEnumProc(HWND window, LPARAM title);

#endif
