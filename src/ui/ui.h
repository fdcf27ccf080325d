// What the installer user interface offers the rest of the library: the
// status window, the drive chooser and the window lookup each keep a block of
// their own here.
#ifndef KIV_UI_H
#define KIV_UI_H

#include <windows.h>
#include <vfw.h>

// ---- Screen density (dpi.cpp) ----

// The DPI the window is drawn at: its own where the system keeps one per
// window, the system's otherwise; 96 when neither can be read.
UINT UiWindowDpi(HWND window);

// A size given in pixels of a 96-DPI screen, in pixels at dpi, rounded to
// the nearest; exactly the given size at 96.
int UiScale(int pixels, UINT dpi);

// A system metric (SM_...) as it is at dpi where the system keeps one set
// per DPI, the process's own otherwise.
int UiSystemMetric(int index, UINT dpi);

// Leaves a dialog's size and its controls' places on a DPI change to the
// dialog's own layout; the dialog manager still gives the controls fonts
// for the new DPI.
void UiKeepDialogLayout(HWND dialog);

// ---- Fonts (font.cpp) ----

// Draws every control of the window in "MS Shell Dlg", a face Windows links
// for every script, at the size and weight of the window's own font, when
// wide is nonzero: for texts that came through a wide export. The font is
// made once per window and kept with it. wide zero gives the controls the
// window's own font back and deletes the linked one.
void UiUseLinkedFont(HWND window, int wide);

// Deletes the window's linked font, if it has one: call it as the window
// goes.
void UiDropLinkedFont(HWND window);

// ---- Window lookup by title (winfind.cpp) ----

// The result of the lookup under way: null at the start of every lookup with
// a title, then the first window found.
extern HWND FoundWindow;

// The enumeration callback for the windows below the searched root; the
// caller's value is the title. Stores a matching window in FoundWindow and
// stops the enumeration; goes on otherwise.
BOOL CALLBACK WindowTitleEnumProc(HWND window, LPARAM title);
// The same for a wide title.
BOOL CALLBACK WindowTitleEnumProcW(HWND window, LPARAM title);

// ---- Drive chooser (drive.cpp) ----

// Size of each of the chooser's text buffers; they hold at most one less.
#define DRIVE_TEXT_BUFFER 1024

// Space the installation needs, in MB; set by every AskDrive.
extern DWORD DriveRequiredMB;
// The list item selected when the dialog ended, as DlgDirSelectExA gives it.
extern char DriveSelection[DRIVE_TEXT_BUFFER];
// Copies of the caller's caption and prompt, cut to fit.
extern char DriveTitle[DRIVE_TEXT_BUFFER];
extern char DriveText[DRIVE_TEXT_BUFFER];
// The same from the wide export, which sets DriveWide; the dialog shows the
// one pair or the other.
extern WCHAR DriveTitleW[DRIVE_TEXT_BUFFER];
extern WCHAR DriveTextW[DRIVE_TEXT_BUFFER];
extern int DriveWide;
// The unit after the numbers ("MB") in the language of the chooser's
// dialog, taken as it opens.
#define DRIVE_UNIT_CHARS 16
extern WCHAR DriveUnitText[DRIVE_UNIT_CHARS];

// The language of the chooser's own words for the calling thread, one the
// module carries; the status window mirrors when it reads right to left.
LANGID ChooseDriveLanguage(void);

INT_PTR CALLBACK AskDriveDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Adds every drive that is not remote, removable or a CD drive to the list;
// returns how many were found, whether or not each add succeeded.
int FillDriveList(HWND list);
// Space the calling user may fill on the drive, in MB, low 32 bits; 0 when
// it cannot be read.
DWORD GetDriveFreeMB(const char *rootPath);
// Shows the selected drive's free space and enables Next when it suffices.
void ShowDriveFreeSpace(HWND dialog, int listId, int freeLabelId);
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
// The path of a clip file chosen through the wide export, in its place.
extern WCHAR StatusClipPathW[1024];
extern AVIFILEINFOA StatusClipInfo;

// Makes a keyword (null, "", ":BKW", ":FILECOPY", ":SEARCH") or an AVI file
// path the current clip; a file that does not open selects the default clip.
void SelectAvi(const char *name);

// Sizes the clip, the text and the window around them and centres the window
// on the screen.
void LayoutStatusWindow(void);

INT_PTR CALLBACK StatusDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
