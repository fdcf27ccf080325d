/* A C host of kiv_inst.dll that links against the import library and needs
 * no C runtime, so it links the same with Microsoft's linker or lld-link
 * (entry HostEntry) and with mingw-w64 (main). Exit 0 when every call gave
 * what the library documents. */
#include <windows.h>
#include <commctrl.h>
#include "kiv_inst.h"

static int failures;

static void Say(const char *line)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)lstrlenA(line), &written, NULL);
}

static void Expect(const char *call, long got, long wanted)
{
    char line[160];
    wsprintfA(line, "%s -> %ld%s\r\n", call, got, got == wanted ? "" : " (unexpected)");
    Say(line);
    if (got != wanted)
        failures++;
}

static void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

static int Run(void)
{
    static const char caption[] = "kiv_inst consumer";
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_ANIMATE_CLASS };
    InitCommonControlsEx(&icc);

    Expect("ServiceExists", ServiceExists("KivNoSuchService"), 0);
    /* A one-byte result: only the low byte is defined. */
    Expect("StopAllProcessStarters", StopAllProcessStarters(), 1);
    Expect("FakeStatusOpen", FakeStatusOpen("Linked through the import library", caption), 1);
    Pump(300);
    Expect("GetWindowByTitle (status window)", GetWindowByTitle(NULL, caption) != NULL, 1);
    Expect("FakeStatusClose", FakeStatusClose(), 1);
    Pump(300);
    Expect("GetWindowByTitle (after the close)", GetWindowByTitle(NULL, caption) != NULL, 0);
    return failures == 0 ? 0 : 1;
}

void __cdecl HostEntry(void)
{
    ExitProcess((UINT)Run());
}

#ifndef KIV_HOST_NO_CRT
int main(void)
{
    return Run();
}
#endif
