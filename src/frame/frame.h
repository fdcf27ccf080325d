// What the library frame offers the other subsystems: the module-wide handles
// and the diagnostic reporter.
#ifndef KIV_FRAME_H
#define KIV_FRAME_H

#include <windows.h>

// Where dialog templates and clips are loaded from; null before process
// attach and after the uninstall hook has run.
extern HINSTANCE ModuleInstance;

// The library's own event source, or null while none is registered.
extern HANDLE LibraryEventSource;

// Reports the calling thread's last error code under a step text: a debugger
// line, a warning box when showBox is nonzero and CanShowBox() says someone
// can answer it, an information record while the event source is registered.
// Call it right after the failing system call.
void ReportLastError(int showBox, const char *message);

// The same report for either kind of export: wide nonzero sends the same
// texts through the wide calls (OutputDebugStringW, MessageBoxW,
// ReportEventW), as the wide siblings of the exports report.
void ReportLastErrorAs(int wide, int showBox, const char *message);

// Nonzero while the environment variable KIV_INST_QUIET is "1": a silent
// install, or a deployment that asked for no window that waits for a person.
int QuietRun(void);

// Nonzero when a message box can be answered: not a quiet run, not a
// process in session 0, and the process's window station is visible (a
// service or a deployment running as SYSTEM has one that nobody sees, where a
// box would wait for ever).
int CanShowBox(void);

#endif
