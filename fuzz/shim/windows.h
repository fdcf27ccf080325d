// The few Win32 types and calls that the library's text routines use, for a
// native build of those routines with the fuzzer. Built with -fshort-wchar,
// so WCHAR and L"" texts are 16 bits wide as on Windows; the C library's wide
// functions assume 32 bits, so the ones the routines call are the shim's own.
#ifndef KIV_FUZZ_SHIM_WINDOWS_H
#define KIV_FUZZ_SHIM_WINDOWS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#define wcscmp kivshim_wcscmp
#define wcsspn kivshim_wcsspn
#define wcscspn kivshim_wcscspn
#define wcslen kivshim_wcslen
#define wprintf kivshim_wprintf

#define WINAPI
#define CALLBACK
#define CONST const
#define TRUE 1
#define FALSE 0

typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int BOOL;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef LONG HRESULT;
typedef LONG NTSTATUS;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef const WCHAR *LPCWSTR;
typedef WCHAR *LPWSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef void *HANDLE;
typedef void *HMODULE;
typedef void *HKEY;
typedef void *HLOCAL;
typedef void *PSID;
typedef struct _ACL *PACL;
typedef void *LSA_HANDLE;
typedef void *SC_HANDLE;
typedef void *SC_LOCK;
typedef DWORD REGSAM;
typedef BOOL *LPBOOL;

#define ZeroMemory(p, n) memset((p), 0, (n))
#define CopyMemory(d, s, n) memcpy((d), (s), (n))
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define IS_HIGH_SURROGATE(w) ((w) >= 0xd800 && (w) <= 0xdbff)
#define IS_LOW_SURROGATE(w) ((w) >= 0xdc00 && (w) <= 0xdfff)

#define ERROR_SUCCESS 0L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define CP_ACP 0
#define MB_PRECOMPOSED 1
#define LOAD_LIBRARY_AS_DATAFILE 0x2
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x8
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800
#define MAX_PATH 260
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x200
#define FORMAT_MESSAGE_FROM_HMODULE 0x800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000
#define EVENTLOG_ERROR_TYPE 0x1
#define EVENTLOG_WARNING_TYPE 0x2
#define EVENTLOG_INFORMATION_TYPE 0x4
#define EVENTLOG_AUDIT_SUCCESS 0x8
#define EVENTLOG_AUDIT_FAILURE 0x10
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)
#define KEY_QUERY_VALUE 0x1
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_DWORD 4

#ifdef __cplusplus
extern "C" {
#endif

// Character stepping and conversions in the code page the fuzzer selects.
LPSTR CharNextA(LPCSTR p);
LPSTR CharPrevA(LPCSTR start, LPCSTR p);
BOOL IsDBCSLeadByte(BYTE c);
int lstrlenA(LPCSTR text);
int lstrlenW(LPCWSTR text);
int MultiByteToWideChar(UINT cp, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int chars);
int WideCharToMultiByte(UINT cp, DWORD flags, LPCWSTR wide, int chars, LPSTR text, int bytes, LPCSTR fallback,
                        LPBOOL used);
UINT GetACP(void);

// Process and heap.
LPSTR GetCommandLineA(void);
DWORD GetCurrentProcessId(void);
DWORD GetLastError(void);
HLOCAL LocalFree(HLOCAL block);

// Message texts, answered from the fuzzer's input; no module is ever loaded.
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
void SetLastError(DWORD code);
BOOL FreeLibrary(HMODULE module);
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPWSTR buffer, DWORD size,
                     void *args);

// Event log and registry: refused; the targets never reach them.
HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source);
BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD id, PSID sid, WORD count, DWORD dataSize,
                  LPCSTR *strings, LPVOID data);
BOOL ReportEventW(HANDLE source, WORD type, WORD category, DWORD id, PSID sid, WORD count, DWORD dataSize,
                  LPCWSTR *strings, LPVOID data);
BOOL DeregisterEventSource(HANDLE source);
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, HKEY *result);
LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD *reserved, DWORD *type, BYTE *data, DWORD *size);
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, HKEY *result);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size);
LONG RegCloseKey(HKEY key);

#ifdef __cplusplus
}
#endif

#endif
