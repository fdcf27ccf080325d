// The diagnostic reporter of the exported functions.
#include "frame/frame.h"

static const char REPORT_SEPARATOR[] = ": ";
static const char REPORT_LINE_END[] = " \n";

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

    if (showBox)
        MessageBoxA(NULL, text, message, MB_OK | MB_ICONWARNING);

    if (LibraryEventSource != NULL) {
        const char *strings[2] = {message, text};
        ReportEventA(LibraryEventSource, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, strings, NULL);
    }

    if (systemText != NULL)
        LocalFree(systemText);
}
