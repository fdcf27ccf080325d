// The diagnostic reporter of the exported functions.
#include "frame/frame.h"

static const char REPORT_SEPARATOR[] = ": ";
static const char REPORT_LINE_END[] = " \n";
static const char QUIET_VARIABLE[] = "KIV_INST_QUIET";

int QuietRun(void)
{
    // Read at every call: a host may set it for one step only.
    char value[2] = {0};
    return GetEnvironmentVariableA(QUIET_VARIABLE, value, sizeof(value)) == 1 && value[0] == '1';
}

int CanShowBox(void)
{
    if (QuietRun())
        return 0;
    // A station whose flags cannot be read is taken as the visible one it
    // nearly always is.
    USEROBJECTFLAGS flags;
    ZeroMemory(&flags, sizeof(flags));
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (station == NULL || !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof(flags), &needed))
        return 1;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ReportLastError(int showBox, const char *message)
{
    // Read the code before any other call can change it.
    DWORD code = GetLastError();

    // Some system texts hold insert sequences; with no arguments to give
    // them they must stay unexpanded rather than be read from nowhere.
    char *systemText = NULL;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  (LPSTR)&systemText, 0, NULL);
    const char *text = (length != 0 && systemText != NULL) ? systemText : "";

    OutputDebugStringA(message);
    OutputDebugStringA(REPORT_SEPARATOR);
    OutputDebugStringA(text);
    OutputDebugStringA(REPORT_LINE_END);

    // Where nobody can answer, the report goes on as if OK had been clicked:
    // a box there would hold an unattended install for ever.
    if (showBox && CanShowBox())
        MessageBoxA(NULL, text, message, MB_OK | MB_ICONWARNING);

    if (LibraryEventSource != NULL) {
        const char *strings[2] = {message, text};
        ReportEventA(LibraryEventSource, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, strings, NULL);
    }

    if (systemText != NULL)
        LocalFree(systemText);
}
