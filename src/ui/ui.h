// What the installer user interface offers the other subsystems. Each window
// of this subsystem keeps its own block below.
#ifndef KIV_UI_H
#define KIV_UI_H

#include <windows.h>
#include <vfw.h>

// ---- Status window (status.cpp) -------------------------------------------

// The status window's handles: all three set on WM_INITDIALOG and cleared
// together when the window closes or is destroyed.
extern HWND StatusWindow;
extern HWND StatusAnimation;
extern HWND StatusText;

// The current clip: a resource of type "AVI" in this library unless
// StatusClipPath is non-empty, in which case it is that file. The animation
// size is always StatusClipInfo.dwWidth by dwHeight.
extern int StatusClipId;
extern char StatusClipPath[1024];
extern AVIFILEINFOA StatusClipInfo;

// Makes a keyword (null, "", ":BKW", ":FILECOPY", ":SEARCH") or an AVI file
// path the current clip; a file that does not open selects the default clip.
void SelectAvi(const char *name);

// Sizes the clip, the text and the window around them and centres the window
// on the screen.
void LayoutStatusWindow(void);

INT_PTR CALLBACK StatusDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
