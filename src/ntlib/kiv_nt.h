// What the NT support library offers the rest of the module: the event log
// writer, the error texts and diagnostic log behind it, the current user's
// SID that tags every record, and the loading of system DLLs. Yes/no results
// are one-byte booleans, 1 for true and 0 for false.
#ifndef KIV_NT_H
#define KIV_NT_H

#include <windows.h>
#include <ntsecapi.h>
#include <stdio.h>

// ---- system DLLs loaded when needed (syslib.cpp) ---------------------------

// Loads a DLL of the system folder by its bare name, from that folder only,
// with LoadLibraryExW's flags (0, LOAD_LIBRARY_AS_DATAFILE); NULL with the
// last error set when it cannot. Release it with FreeLibrary.
HMODULE KIV_NT_LoadSystemLibrary(const WCHAR *name, DWORD flags);

// ---- error text and diagnostic log (errtext.cpp) -------------------------

// Size in wide characters of the module-wide buffer that error codes are
// formatted into before they are handed out as narrow text.
#define KIV_NT_ERROR_TEXT_CHARS 1024

// Every call of KIV_NT_ErrorToText overwrites it.
extern WCHAR KIV_NT_ErrorText[KIV_NT_ERROR_TEXT_CHARS];

// The system text of an error code; codes of the network-management range
// are looked up in the network message module first.
BOOLEAN KIV_NT_FormatError(DWORD code, WCHAR *buffer, DWORD size);

// The whole system text of an error code in the ANSI code page; size is the
// buffer's size in bytes, at most 1024.
BOOLEAN KIV_NT_ErrorToText(DWORD code, char *buffer, DWORD size);

// Opens a log file for appending or afresh, in text mode and shared, without
// following a reparse point; NULL when it cannot be opened, or when the name
// is a reparse point or one of several hard links to its file (logfile.cpp).
FILE *KIV_NT_OpenLogStream(const WCHAR *path, BOOLEAN append);

// Appends (mode "a") or writes afresh (mode "w") one entry to a log file.
int KIV_NT_LogMessage(const WCHAR *path, const WCHAR *text, const WCHAR *mode);

// Appends one entry to the diagnostic log "\kiv.log" of the current drive.
void KIV_NT_LogAppend(const WCHAR *text);

// Appends "<text> error! <first line of the code's system text>".
void KIV_NT_LogErrorLine(const WCHAR *text, DWORD code);

// Narrow entries: at most limit characters of text are kept.
void KIV_NT_LogText(const char *text, int limit);
void KIV_NT_LogError(const char *text, DWORD code, int limit);

// ---- event log writer (eventlog.cpp) ------------------------------------

// Set once the product's event source has been registered by this process;
// never cleared.
extern BOOLEAN KIV_NT_EventSourceRegistered;

// Writes one record under the product's event source; 1 when it was written.
BOOLEAN KIV_NT_WriteEventLog(const char *message, DWORD code, WORD type, WORD category);

// The same with a wide message, so that a name outside the ANSI code page
// reaches the event log exactly: the record goes out through the wide call.
BOOLEAN KIV_NT_WriteEventLogW(const WCHAR *message, DWORD code, WORD type, WORD category);

// The program's file name from the command line, into a buffer of 256 bytes.
BOOLEAN KIV_NT_GetProcessName(char *buffer);

// The same from a given command line: the text part of the above.
BOOLEAN KIV_NT_ProcessNameFromLine(const char *commandLine, char *buffer);

// Copies the longest run of whole characters of text[0..length) that fits
// size bytes with its terminator; the bytes copied. Nothing for size 0.
size_t KIV_NT_CopyWholeChars(char *buffer, size_t size, const char *text, size_t length);

// The product's installation disk from the registry, into 256 bytes.
BOOLEAN KIV_NT_GetInstallDisk(char *buffer);

// Registers an event source with its message file and category count.
BOOLEAN KIV_NT_InstallEventSource(const char *source, const char *messageFile, DWORD categoryCount);

// ---- current user's SID (sid.cpp) ----------------------------------------

// The current user's SID in the process heap, or NULL; release it with
// KIV_NT_FreeSID.
PSID KIV_NT_AllocCurrentSID(void);
BOOLEAN KIV_NT_FreeSID(PSID sid);

// Looks an account name up; *sid receives a block of the process heap.
BOOL GetAccountSid(LPCWSTR systemName, LPCWSTR accountName, PSID *sid);

// An LSA policy handle of the local computer; the LSA status, 0 on success.
NTSTATUS OpenPolicy(DWORD desiredAccess, LSA_HANDLE *policy);

// ---- service stop, removal and state queries (service.cpp) -------------

// Each stops or removes a service under the service database lock and
// reports every failure and every stop or removal as an event record.
BOOLEAN KIV_NT_StopService(const char *name);
BOOLEAN KIV_NT_RemoveService(const char *name);
// The same by a wide name, with wide records.
BOOLEAN KIV_NT_RemoveServiceW(const WCHAR *name);

// Whether the service can be opened, and whether it runs; a service that
// cannot be opened gives 0 without a report.
BOOLEAN KIV_NT_ServiceExists(const char *name);
BOOLEAN KIV_NT_ServiceIsRunning(const char *name);

#endif
