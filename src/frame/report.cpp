// The diagnostic reporter of the exported functions.
#include "frame/frame.h"

static const char REPORT_SEPARATOR[] = ": ";
static const WCHAR REPORT_SEPARATOR_W[] = L": ";
static const char REPORT_LINE_END[] = " \n";
static const WCHAR REPORT_LINE_END_W[] = L" \n";
// Room for the longest step text.
static const int REPORT_MESSAGE_CHARS = 64;
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
    // Since Vista nobody sees session 0, yet a process there on the
    // interactive station (started by a service allowed to interact with
    // the desktop) reads that station as visible. A session that cannot be
    // read leaves the decision to the station.
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0)
        return 0;
    // A station whose flags cannot be read may be one nobody sees: no box,
    // since a box there would hold the install for ever.
    USEROBJECTFLAGS flags;
    ZeroMemory(&flags, sizeof(flags));
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (station == NULL || !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof(flags), &needed))
        return 0;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

static void DebugText(int wide, const void *text)
{
    if (wide)
        OutputDebugStringW((const WCHAR *)text);
    else
        OutputDebugStringA((const char *)text);
}

void ReportLastErrorAs(int wide, int showBox, const char *message)
{
    // Read the code before any other call can change it.
    DWORD code = GetLastError();

    // Every step text is ASCII: a wide report widens it character by
    // character.
    WCHAR wideMessage[REPORT_MESSAGE_CHARS] = {0};
    for (int i = 0; wide && i < REPORT_MESSAGE_CHARS - 1 && message[i] != '\0'; i++)
        wideMessage[i] = (unsigned char)message[i];
    const void *caption = wide ? (const void *)wideMessage : (const void *)message;

    // Some system texts hold insert sequences; with no arguments to give
    // them they must stay unexpanded rather than be read from nowhere.
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    void *systemText = NULL;
    DWORD length = wide ? FormatMessageW(flags, NULL, code, language, (LPWSTR)&systemText, 0, NULL)
                        : FormatMessageA(flags, NULL, code, language, (LPSTR)&systemText, 0, NULL);
    // Two zero bytes: the empty text of either kind.
    static const WCHAR empty[1] = {0};
    const void *text = (length != 0 && systemText != NULL) ? systemText : empty;

    DebugText(wide, caption);
    DebugText(wide, wide ? (const void *)REPORT_SEPARATOR_W : (const void *)REPORT_SEPARATOR);
    DebugText(wide, text);
    DebugText(wide, wide ? (const void *)REPORT_LINE_END_W : (const void *)REPORT_LINE_END);

    // Where nobody can answer, the report goes on as if OK had been clicked:
    // a box there would hold an unattended install for ever.
    if (showBox && CanShowBox()) {
        if (wide)
            MessageBoxW(NULL, (const WCHAR *)text, wideMessage, MB_OK | MB_ICONWARNING);
        else
            MessageBoxA(NULL, (const char *)text, message, MB_OK | MB_ICONWARNING);
    }

    if (LibraryEventSource != NULL) {
        const void *strings[2] = {caption, text};
        if (wide)
            ReportEventW(LibraryEventSource, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, (LPCWSTR *)strings, NULL);
        else
            ReportEventA(LibraryEventSource, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 2, 0, (LPCSTR *)strings, NULL);
    }

    if (systemText != NULL)
        LocalFree(systemText);
}

void ReportLastError(int showBox, const char *message)
{
    ReportLastErrorAs(0, showBox, message);
}
