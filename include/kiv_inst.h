/*
 * kiv_inst.dll: installation support for the Kivelstrand animation system.
 *
 * Every export below uses the plain C calling convention (the caller removes
 * the arguments) and an undecorated name. Texts are narrow, zero-terminated
 * strings in the system's ANSI code page. Call from one thread at a time.
 *
 * The DLL's entry point DllMain is exported too (ordinal 1) with the system's
 * entry-point signature; hosts never call it, so it is not declared here.
 *
 * One header for both builds: the 32-bit kiv_inst.dll and the x64 one (x64/
 * in the release), with the same exports at the same ordinals. On x64 there
 * is one calling convention and __cdecl is that one; window handles are
 * pointer-sized there and pass through unchanged.
 */
#ifndef KIV_INST_H
#define KIV_INST_H

#include <windows.h>

#define KIV_API __cdecl

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Window lookup. Returns the first window whose text (as GetWindowTextA reads
 * it, first 1023 characters) equals title exactly, case-sensitively, in a
 * depth-first walk that takes each window before the windows below it: below
 * parent at any depth (parent itself is never compared), or, with a null
 * parent, among all top-level windows and everything below them. Null when
 * nothing matches or title is null.
 */
HWND KIV_API GetWindowByTitle(HWND parent, const char *title);

/*
 * Uninstall hook. The uninstaller, started with -c followed by this library's
 * path, calls UninstInitialize with the library's instance handle as second
 * argument: it runs kivunins.ini from the library's folder (services removed,
 * process starters removed, kivcfg.ini deleted from the Windows directory,
 * commands started) and appends a block to kivuninslog.txt there. Both
 * return 0.
 */
int KIV_API UninstInitialize(DWORD unused, HINSTANCE instance);
int KIV_API UninstUnInitialize(void);

/*
 * Stops every process-starter service the product may have installed
 * (KivProcessStarter0 to KivProcessStarter99), each under the service
 * database lock, with an event record per name. Always 1.
 */
BOOLEAN KIV_API StopAllProcessStarters(void);

/* 1 when the service exists and is running, else 0. */
int KIV_API ServiceIsRunning(const char *serviceName);

/*
 * Drive chooser: shows the modal dialog "Choose Destination Location" listing
 * the local drives (not network, removable or CD drives) with the selected
 * drive's free space beside requiredMB. Next is enabled while the free space
 * is at least requiredMB (unsigned). Returns 1 for Next, with the drive letter,
 * its colon and a NUL in drive (3 bytes at least); 2 for Back; 3 for Cancel or
 * Escape; 4 when no drive could be listed (nothing shown); -1 when the dialog
 * could not be created, or nobody could answer it (KIV_INST_QUIET is "1", or a
 * window station nobody sees). Other results leave drive untouched. title and text
 * are cut to 1023 characters.
 */
int KIV_API AskDrive(DWORD requiredMB, char *drive, const char *title, const char *text);

/* Service control: each call opens the service control manager of the local
 * machine with full access and closes every handle before it returns. Failed
 * steps are reported to the debugger, the event log and, for most steps, a
 * warning box that holds the caller until it is closed (none while the
 * environment variable KIV_INST_QUIET is "1" or on a window station nobody
 * sees). */

/* Registers a service whose display name is its name; does not start it.
 * serviceType and startType take the Win32 SERVICE_* values; accountName and
 * password may be NULL. Returns 1 when created, else 0. */
int KIV_API ServiceCreate(const char *serviceName, DWORD serviceType, DWORD startType,
                          const char *binaryPath, const char *accountName, const char *password);

/* Starts a service and waits up to five seconds for it to run. Returns 1
 * when it runs (also when it already ran), else 0. */
int KIV_API ServiceStart(const char *serviceName);

/* Stops a service, waits up to five seconds for it to stop, then deletes
 * it. Returns 1 when deleted; a service that will not stop stays installed
 * and gives 0. */
int KIV_API ServiceDelete(const char *serviceName);

/* Stops a service and waits up to five seconds for it to stop; it stays
 * installed with its settings (for an upgrade: stop, replace the program,
 * ServiceStart). Returns 1 when the service exists and is stopped at return,
 * also when it was stopped already (then at once, without a pause), else 0. */
int KIV_API ServiceStop(const char *serviceName);

/* Returns 1 when the service can be opened with full access, else 0. */
int KIV_API ServiceExists(const char *serviceName);
/* Status window. FakeStatusOpen shows a modeless wait window with a looping
 * clip, the caption title and the line text (creating the window when none is
 * open); the host must have registered the common controls' animation class
 * and must dispatch messages afterwards. FakeStatusSetAvi selects the clip:
 * NULL, "" or ":BKW" (the default), ":FILECOPY", ":SEARCH", or the path of an
 * RLE8 AVI file. FakeStatusClose stops the clip and posts the window's close.
 * Each returns 1, or 0 when the animation control refused a step. */
int KIV_API FakeStatusOpen(const char *text, const char *title);
int KIV_API FakeStatusClose(void);
int KIV_API FakeStatusSetAvi(const char *name);

/*
 * Wide siblings (ordinals 16 to 25). Each takes the same arguments with UTF-16
 * text, gives the same results, cuts at the same number of characters (1023)
 * and makes the same reports, through the wide system calls: every text
 * arrives exactly as passed, whatever the system's ANSI code page. A null text
 * counts as it does for the narrow export; nothing is ever replaced by a
 * look-alike. AskDriveW's drive receives L"C:" and the like (3 wchar_t).
 */
int KIV_API ServiceCreateW(const wchar_t *serviceName, DWORD serviceType, DWORD startType,
                           const wchar_t *binaryPath, const wchar_t *accountName, const wchar_t *password);
int KIV_API ServiceStartW(const wchar_t *serviceName);
int KIV_API ServiceStopW(const wchar_t *serviceName);
int KIV_API ServiceDeleteW(const wchar_t *serviceName);
int KIV_API ServiceExistsW(const wchar_t *serviceName);
int KIV_API ServiceIsRunningW(const wchar_t *serviceName);
int KIV_API FakeStatusOpenW(const wchar_t *text, const wchar_t *title);
int KIV_API FakeStatusSetAviW(const wchar_t *name);
int KIV_API AskDriveW(DWORD requiredMB, wchar_t *drive, const wchar_t *title, const wchar_t *text);
HWND KIV_API GetWindowByTitleW(HWND parent, const wchar_t *title);

#ifdef __cplusplus
}
#endif

#endif /* KIV_INST_H */
