// The font of texts that came through a wide export. The templates' face
// "MS Sans Serif" is a bitmap font in the system's one ANSI code page and
// borrows no glyphs from other fonts, so Windows draws anything outside that
// page in it as boxes. "MS Shell Dlg" names the user interface face of the
// system's locale, which Windows links to faces for every other script.
#include <windows.h>
#include <strsafe.h>

#include "ui/ui.h"

static const WCHAR LINKED_FACE[] = L"MS Shell Dlg";
// Where a window keeps its linked font until it goes: the font belongs to
// the window, and the status window and the drive chooser may be up at once.
static const WCHAR LINKED_FONT_PROPERTY[] = L"KivLinkedFont";

static BOOL CALLBACK UiSetChildFont(HWND child, LPARAM font)
{
    SendMessageW(child, WM_SETFONT, (WPARAM)font, FALSE);
    return TRUE;
}

// The window's own font (its template's, at the DPI the dialog manager made
// it for) in the linked face; NULL when the window has no font, or its font
// already is that face.
static HFONT UiCreateLinkedFont(HWND window)
{
    HFONT own = (HFONT)SendMessageW(window, WM_GETFONT, 0, 0);
    LOGFONTW face;
    ZeroMemory(&face, sizeof(face));
    if (own == NULL || GetObjectW(own, sizeof(face), &face) == 0)
        return NULL;
    if (lstrcmpiW(face.lfFaceName, LINKED_FACE) == 0)
        return NULL;
    StringCchCopyW(face.lfFaceName, LF_FACESIZE, LINKED_FACE);
    face.lfCharSet = DEFAULT_CHARSET;
    return CreateFontIndirectW(&face);
}

void UiUseLinkedFont(HWND window, int wide)
{
    HFONT linked = (HFONT)GetPropW(window, LINKED_FONT_PROPERTY);
    if (!wide) {
        // Back to the template's font, as the narrow exports always drew.
        if (linked == NULL)
            return;
        EnumChildWindows(window, UiSetChildFont, (LPARAM)SendMessageW(window, WM_GETFONT, 0, 0));
        UiDropLinkedFont(window);
        return;
    }
    if (linked == NULL) {
        linked = UiCreateLinkedFont(window);
        if (linked == NULL)
            return;
        if (!SetPropW(window, LINKED_FONT_PROPERTY, linked)) {
            DeleteObject(linked);
            return;
        }
    }
    EnumChildWindows(window, UiSetChildFont, (LPARAM)linked);
}

void UiDropLinkedFont(HWND window)
{
    HFONT linked = (HFONT)RemovePropW(window, LINKED_FONT_PROPERTY);
    if (linked != NULL)
        DeleteObject(linked);
}
