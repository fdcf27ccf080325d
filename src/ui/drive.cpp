// The drive chooser: a modal dialog in which the user picks the destination
// drive from the local drives, seeing each one's free space against the space
// the installation needs.
#include <windows.h>
#include <strsafe.h>

#include "frame/frame.h"
#include "kiv_inst.h"
#include "resource.h"
#include "ui/ui.h"

// Every AskDrive sets it before its dialog opens, so nothing reads its value
// at load; zero keeps the module free of an initialised data section.
DWORD DriveRequiredMB = 0;
char DriveSelection[DRIVE_TEXT_BUFFER];
char DriveTitle[DRIVE_TEXT_BUFFER];
char DriveText[DRIVE_TEXT_BUFFER];
WCHAR DriveTitleW[DRIVE_TEXT_BUFFER];
WCHAR DriveTextW[DRIVE_TEXT_BUFFER];
int DriveWide = 0;
WCHAR DriveUnitText[DRIVE_UNIT_CHARS];

static const char STEP_DRIVE_LIST[] = "Getting drive list";
static const char STEP_ADD_DRIVE[] = "Adding drive to list";
static const char STEP_FREE_SPACE[] = "Getting drive free space";

static const char TRACE_VALID[] = "Valid:";
static const char TRACE_DRIVE[] = "Drive:";
static const char TRACE_LINE_END[] = "\n";
static const char TRACE_NOT_SHOWN[] = "No visible desktop or a quiet run: not shown.\n";
static const char TRACE_SCREEN_FORMAT[] = "Screen %d %d\n";
static const WCHAR MEGABYTES_FORMAT[] = L"%d %ls";
static const WCHAR DEFAULT_UNIT[] = L"MB";

// Results of the dialog, as the host reads them.
static const INT_PTR RESULT_NEXT = 1;
static const INT_PTR RESULT_BACK = 2;
static const INT_PTR RESULT_CANCEL = 3;
static const INT_PTR RESULT_NO_DRIVE = 4;
static const INT_PTR RESULT_NO_DIALOG = -1;

// Resource types by number: RT_DIALOG and RT_STRING.
static const WORD DIALOG_RESOURCE = 5;
static const WORD STRING_RESOURCE = 6;

// A command the dialog also takes as Cancel.
static const WORD COMMAND_CANCEL_TOO = 16;

// Room for a signed 32-bit number, " MB" and the NUL, or for the screen line.
static const size_t SHORT_TEXT = 64;

int FillDriveList(HWND list)
{
    char drives[DRIVE_TEXT_BUFFER];
    ZeroMemory(drives, sizeof(drives));
    int count = 0;

    if (GetLogicalDriveStringsA(sizeof(drives), drives) == 0)
        ReportLastErrorAs(DriveWide, 0, STEP_DRIVE_LIST);
    // Nothing written: no drives, or the strings did not fit.
    if (drives[0] == '\0')
        return 0;

    const char *end = drives + sizeof(drives);
    for (const char *root = drives; root < end && *root != '\0';) {
        size_t length = 0;
        // A block that fills the buffer to its last byte has no closing NUL
        // for its last string; that string is left out rather than overrun.
        if (FAILED(StringCchLengthA(root, (size_t)(end - root), &length)))
            break;
        UINT type = GetDriveTypeA(root);
        if (type != DRIVE_REMOTE && type != DRIVE_REMOVABLE && type != DRIVE_CDROM) {
            LRESULT added = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)root);
            if (added == LB_ERR || added == LB_ERRSPACE)
                ReportLastErrorAs(DriveWide, 0, STEP_ADD_DRIVE);
            // A drive the list refused still counts: it exists.
            count++;
            OutputDebugStringA(TRACE_VALID);
            OutputDebugStringA(root);
            OutputDebugStringA(TRACE_LINE_END);
        }
        root += length + 1;
    }
    return count;
}

DWORD GetDriveFreeMB(const char *rootPath)
{
    ULARGE_INTEGER available, total, totalFree;
    available.QuadPart = 0;
    total.QuadPart = 0;
    totalFree.QuadPart = 0;

    if (!GetDiskFreeSpaceExA(rootPath, &available, &total, &totalFree)) {
        ReportLastErrorAs(DriveWide, 0, STEP_FREE_SPACE);
        return 0;
    }
    // Only what the calling user may fill counts, quotas included.
    double bytes = (double)available.HighPart * 4294967296.0 + (double)available.LowPart;
    double megabytes = bytes * (1.0 / 1048576.0);
    return (DWORD)(ULONGLONG)megabytes;
}

// A resource of the module in the language given, matched exactly, then by
// its primary language (Chinese of Singapore reads the simplified script);
// NULL when the module has none in that language.
static HRSRC FindInLanguage(WORD type, WORD id, LANGID language)
{
    LPCWSTR typeName = MAKEINTRESOURCEW(type);
    LPCWSTR name = MAKEINTRESOURCEW(id);
    HRSRC found = FindResourceExW(ModuleInstance, typeName, name, language);
    if (found != NULL)
        return found;
    WORD primary = PRIMARYLANGID(language);
    WORD sub = SUBLANG_DEFAULT;
    if (primary == LANG_CHINESE && SUBLANGID(language) == SUBLANG_CHINESE_SINGAPORE)
        sub = SUBLANG_CHINESE_SIMPLIFIED;
    return FindResourceExW(ModuleInstance, typeName, name, MAKELANGID(primary, sub));
}

typedef LANGID(WINAPI *ThreadUILanguageProc)(void);

// The language of the chooser's own words, as Windows picks a resource's:
// the thread's UI language where a program set one for the thread, then the
// thread locale's language where one was set (systems without a thread UI
// language, Wine among them, use that in its place), then the user's UI
// language, then English. The first for which the module has the dialog.
LANGID ChooseDriveLanguage(void)
{
    LANGID candidates[4] = {0, 0, GetUserDefaultUILanguage(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)};
    // Looked up: older systems have no thread UI language.
    ThreadUILanguageProc threadUi =
        (ThreadUILanguageProc)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadUILanguage");
    if (threadUi != NULL && threadUi() != candidates[2])
        candidates[0] = threadUi();
    if (GetThreadLocale() != GetUserDefaultLCID())
        candidates[1] = LANGIDFROMLCID(GetThreadLocale());
    for (int i = 0; i < 4; i++) {
        if (candidates[i] != 0 && FindInLanguage(DIALOG_RESOURCE, IDD_ASKDRIVE, candidates[i]) != NULL)
            return candidates[i];
    }
    return candidates[3];
}

// A resource in the language given, as FindInLanguage finds it: its bytes
// and their count, or NULL when it is missing.
static const void *LoadInLanguage(WORD type, WORD id, LANGID language, DWORD *size)
{
    HRSRC found = FindInLanguage(type, id, language);
    HGLOBAL loaded = found != NULL ? LoadResource(ModuleInstance, found) : NULL;
    *size = loaded != NULL ? SizeofResource(ModuleInstance, found) : 0;
    return loaded != NULL ? LockResource(loaded) : NULL;
}

// Takes the unit after the numbers in the chooser's language into
// DriveUnitText: string IDS_DRIVE_UNIT of its block, each entry a length and
// that many characters. "MB" where the language has none.
static void TakeDriveUnit(LANGID language)
{
    StringCchCopyW(DriveUnitText, DRIVE_UNIT_CHARS, DEFAULT_UNIT);
    DWORD size = 0;
    const WCHAR *entry = (const WCHAR *)LoadInLanguage(STRING_RESOURCE, IDS_DRIVE_UNIT / 16 + 1, language, &size);
    if (entry == NULL)
        return;
    const WCHAR *end = entry + size / sizeof(WCHAR);
    for (int i = 0; i < IDS_DRIVE_UNIT % 16 && entry < end; i++)
        entry += 1 + *entry;
    if (entry < end && *entry != 0 && entry + 1 + *entry <= end)
        StringCchCopyNW(DriveUnitText, DRIVE_UNIT_CHARS, entry + 1, *entry);
}

// Sets a label to a number of megabytes, written as a signed number, and the
// unit in the chooser's language.
static void SetMegabytesText(HWND dialog, int labelId, DWORD megabytes)
{
    WCHAR text[SHORT_TEXT];
    ZeroMemory(text, sizeof(text));
    StringCchPrintfW(text, SHORT_TEXT, MEGABYTES_FORMAT, (int)megabytes, DriveUnitText);
    SetDlgItemTextW(dialog, labelId, text);
}

void ShowDriveFreeSpace(HWND dialog, int listId, int freeLabelId)
{
    char root[DRIVE_TEXT_BUFFER];
    ZeroMemory(root, sizeof(root));
    DlgDirSelectExA(dialog, root, DRIVE_TEXT_BUFFER - 1, listId);

    SetMegabytesText(dialog, freeLabelId, GetDriveFreeMB(root));

    // The decision reads the drive afresh rather than trusting the label's
    // figure: space may have changed in between.
    DWORD free = GetDriveFreeMB(root);
    EnableWindow(GetDlgItem(dialog, IDC_DRIVE_NEXT), free >= DriveRequiredMB);
}

// Room a push button keeps round its text, in pixels of a 96-DPI screen: its
// edges and the focus rectangle on each side, and above and below.
static const int DRIVE_BUTTON_ROOM_X = 8;
static const int DRIVE_BUTTON_ROOM_Y = 4;

// The widest figure a megabyte label can show.
static const DWORD DRIVE_WIDEST_MEGABYTES = 0x80000000u;

// The controls in the order a screen reader reads them (the z-order): each
// label comes right before the list or value it names; the tab order stays
// list, Back, Next, Cancel.
static const int DRIVE_READING_ORDER[] = {IDC_DRIVE_GROUP,      IDC_DRIVE_LIST_LABEL,     IDC_DRIVE_LIST,
                                          IDC_DRIVE_BACK,       IDC_DRIVE_NEXT,           IDC_DRIVE_CANCEL,
                                          IDC_DRIVE_TEXT,       IDC_DRIVE_REQUIRED_LABEL, IDC_DRIVE_REQUIRED,
                                          IDC_DRIVE_FREE_LABEL, IDC_DRIVE_FREE};

// The controls fitted to their texts: two labels (one column), their two
// figures (the next column), the three buttons (one row) and the frame.
static const int DRIVE_FITTED[] = {IDC_DRIVE_REQUIRED_LABEL, IDC_DRIVE_FREE_LABEL, IDC_DRIVE_REQUIRED,
                                   IDC_DRIVE_FREE,           IDC_DRIVE_BACK,       IDC_DRIVE_NEXT,
                                   IDC_DRIVE_CANCEL,         IDC_DRIVE_GROUP};
static const int FIT_VALUES = 2, FIT_BUTTONS = 4, FIT_GROUP = 7, FIT_COUNT = 8;

static int DriveMax(int a, int b)
{
    return a > b ? a : b;
}

// The control's text on one line in the font the control draws with, and
// its rectangle in the dialog's client coordinates. Wide, so a translation
// outside the ANSI code page is measured as it is drawn.
static void DriveMeasureItem(HDC dc, HWND dialog, int id, SIZE *text, RECT *place)
{
    HWND control = GetDlgItem(dialog, id);
    WCHAR buffer[256];
    ZeroMemory(buffer, sizeof(buffer));
    GetWindowTextW(control, buffer, sizeof(buffer) / sizeof(buffer[0]));
    HFONT font = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    HGDIOBJ previous = font != NULL ? SelectObject(dc, font) : NULL;
    RECT r;
    SetRectEmpty(&r);
    DrawTextW(dc, buffer, -1, &r, DT_CALCRECT | DT_SINGLELINE);
    if (previous != NULL)
        SelectObject(dc, previous);
    text->cx = r.right;
    text->cy = r.bottom;
    GetWindowRect(control, place);
    MapWindowPoints(NULL, dialog, (POINT *)place, 2);
}

// Grows the labels, the figures and the buttons to their texts in their own
// fonts, moves what stands right of a grown control along, and grows the
// dialog to hold it all: a translation or a screen's font may need more room
// than the template gives. Texts that fit change nothing.
static void FitDriveDialog(HWND dialog)
{
    HDC dc = GetDC(dialog);
    if (dc == NULL)
        return;
    // The figures measured at their widest; the real ones are set after.
    SetMegabytesText(dialog, IDC_DRIVE_REQUIRED, DRIVE_WIDEST_MEGABYTES);
    SetMegabytesText(dialog, IDC_DRIVE_FREE, DRIVE_WIDEST_MEGABYTES);
    SIZE text[FIT_COUNT];
    RECT r[FIT_COUNT];
    for (int i = 0; i < FIT_COUNT; i++)
        DriveMeasureItem(dc, dialog, DRIVE_FITTED[i], &text[i], &r[i]);
    ReleaseDC(dialog, dc);
    RECT client;
    SetRectEmpty(&client);
    GetClientRect(dialog, &client);
    const UINT dpi = UiWindowDpi(dialog);
    const int roomX = UiScale(DRIVE_BUTTON_ROOM_X, dpi), roomY = UiScale(DRIVE_BUTTON_ROOM_Y, dpi);
    // The template's distances: label to figure, figure to frame, button to
    // button, Cancel to the right edge.
    const int gap = r[FIT_VALUES].left - r[0].right;
    const int groupRoom = r[FIT_GROUP].right - DriveMax(r[FIT_VALUES].right, r[FIT_VALUES + 1].right);
    const int between = r[FIT_BUTTONS + 1].left - r[FIT_BUTTONS].right;
    const int rightRoom = client.right - r[FIT_GROUP - 1].right;

    // The labels, then the figures' column right of the wider label, then
    // the frame round the wider figure.
    int valuesLeft = r[FIT_VALUES].left, valuesRight = 0;
    for (int i = 0; i < FIT_BUTTONS; i++) {
        if (i >= FIT_VALUES)
            OffsetRect(&r[i], valuesLeft - r[i].left, 0);
        r[i].right = DriveMax(r[i].right, r[i].left + text[i].cx);
        r[i].bottom = DriveMax(r[i].bottom, r[i].top + text[i].cy);
        if (i < FIT_VALUES)
            valuesLeft = DriveMax(valuesLeft, r[i].right + gap);
        else
            valuesRight = DriveMax(valuesRight, r[i].right);
    }
    const int wider = DriveMax(0, valuesRight + groupRoom - r[FIT_GROUP].right);
    r[FIT_GROUP].right += wider;

    // The buttons all as wide and as high as the largest needs; Back and
    // Next keep their distance, Cancel its distance from the right edge.
    int width = 0, height = 0;
    for (int i = FIT_BUTTONS; i < FIT_GROUP; i++) {
        width = DriveMax(width, DriveMax(r[i].right - r[i].left, text[i].cx + 2 * roomX));
        height = DriveMax(height, DriveMax(r[i].bottom - r[i].top, text[i].cy + 2 * roomY));
    }
    const int taller = height - (r[FIT_BUTTONS].bottom - r[FIT_BUTTONS].top);
    const int clientWidth =
        DriveMax(client.right + wider, r[FIT_BUTTONS].left + 3 * width + 2 * between + rightRoom);
    for (int i = FIT_BUTTONS; i < FIT_GROUP; i++) {
        int left = i < FIT_GROUP - 1 ? r[FIT_BUTTONS].left + (i - FIT_BUTTONS) * (width + between)
                                     : clientWidth - rightRoom - width;
        SetRect(&r[i], left, r[i].top, left + width, r[i].top + height);
    }

    for (int i = 0; i < FIT_COUNT; i++)
        MoveWindow(GetDlgItem(dialog, DRIVE_FITTED[i]), r[i].left, r[i].top, r[i].right - r[i].left,
                   r[i].bottom - r[i].top, FALSE);
    if (clientWidth != client.right || taller > 0) {
        RECT window;
        SetRectEmpty(&window);
        GetWindowRect(dialog, &window);
        SetWindowPos(dialog, NULL, 0, 0, window.right - window.left + clientWidth - client.right,
                     window.bottom - window.top + DriveMax(taller, 0), SWP_NOMOVE | SWP_NOZORDER);
    }
}

// Names the list by the frame's text, in whatever language the template is.
// Windows' screen readers ignore a list's own text and name it from the
// static text right before it in the z-order; the frame is a group box,
// which does not count. So a static of no size, which shows nothing, carries
// the frame's text there; readers that do go by the list's text (Wine's)
// find the same words in it.
static void LabelDriveList(HWND dialog)
{
    WCHAR name[64];
    ZeroMemory(name, sizeof(name));
    GetDlgItemTextW(dialog, IDC_DRIVE_GROUP, name, sizeof(name) / sizeof(name[0]));
    SetDlgItemTextW(dialog, IDC_DRIVE_LIST, name);
    HWND label = CreateWindowExW(0, L"Static", name, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0, 0, dialog,
                                 (HMENU)(INT_PTR)IDC_DRIVE_LIST_LABEL, ModuleInstance, NULL);
    if (label != NULL)
        SendMessageW(label, WM_SETFONT, (WPARAM)SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
}

// Puts the controls in reading order without changing the tab order.
static void OrderDriveDialog(HWND dialog)
{
    HWND after = HWND_TOP;
    for (size_t i = 0; i < sizeof(DRIVE_READING_ORDER) / sizeof(DRIVE_READING_ORDER[0]); i++) {
        HWND control = GetDlgItem(dialog, DRIVE_READING_ORDER[i]);
        SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = control;
    }
}

static INT_PTR InitDriveDialog(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
    SetFocus(list);

    if (FillDriveList(list) == 0) {
        // Ends before the modal loop shows anything.
        EndDialog(dialog, RESULT_NO_DRIVE);
        return FALSE;
    }
    LabelDriveList(dialog);
    // Before the fitting, which measures each text in its control's font.
    if (DriveWide)
        UiUseLinkedFont(dialog, 1);
    OrderDriveDialog(dialog);
    FitDriveDialog(dialog);
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    ShowDriveFreeSpace(dialog, IDC_DRIVE_LIST, IDC_DRIVE_FREE);
    SetMegabytesText(dialog, IDC_DRIVE_REQUIRED, DriveRequiredMB);
    // The caller's title replaces the template's caption, even when empty.
    if (DriveWide) {
        if (DriveTextW[0] != L'\0')
            SetDlgItemTextW(dialog, IDC_DRIVE_TEXT, DriveTextW);
        SendMessageW(dialog, WM_SETTEXT, 0, (LPARAM)DriveTitleW);
    } else {
        if (DriveText[0] != '\0')
            SetDlgItemTextA(dialog, IDC_DRIVE_TEXT, DriveText);
        SendMessageA(dialog, WM_SETTEXT, 0, (LPARAM)DriveTitle);
    }

    int cx = GetSystemMetrics(SM_CXFULLSCREEN);
    int cy = GetSystemMetrics(SM_CYFULLSCREEN);
    char screen[SHORT_TEXT];
    ZeroMemory(screen, sizeof(screen));
    StringCchPrintfA(screen, sizeof(screen), TRACE_SCREEN_FORMAT, cx, cy);
    OutputDebugStringA(screen);

    // Centred by the client area, so frame and caption push the dialog a
    // little right of and below the exact centre.
    RECT client;
    SetRectEmpty(&client);
    GetClientRect(dialog, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    SetWindowPos(dialog, NULL, cx / 2 - width / 2, cy / 2 - height / 2, 0, 0, SWP_NOZORDER | SWP_NOSIZE);

    // FALSE keeps the focus on the list box.
    return FALSE;
}

// Whichever button ends the dialog, the selection is read first.
static INT_PTR EndDriveDialog(HWND dialog, INT_PTR result)
{
    DlgDirSelectExA(dialog, DriveSelection, DRIVE_TEXT_BUFFER - 1, IDC_DRIVE_LIST);
    EndDialog(dialog, result);
    return TRUE;
}

INT_PTR CALLBACK AskDriveDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG)
        return InitDriveDialog(dialog);
    if (message == WM_DESTROY)
        UiDropLinkedFont(dialog);
    if (message != WM_COMMAND)
        return FALSE;

    switch (LOWORD(wParam)) {
    case IDC_DRIVE_NEXT:
        return EndDriveDialog(dialog, RESULT_NEXT);
    case IDC_DRIVE_BACK:
        return EndDriveDialog(dialog, RESULT_BACK);
    case IDC_DRIVE_CANCEL:
    case IDCANCEL:
    case COMMAND_CANCEL_TOO:
        return EndDriveDialog(dialog, RESULT_CANCEL);
    case IDC_DRIVE_LIST:
        if (HIWORD(wParam) != LBN_SELCHANGE)
            return FALSE;
        ShowDriveFreeSpace(dialog, IDC_DRIVE_LIST, IDC_DRIVE_FREE);
        return TRUE;
    default:
        // IDOK included: Enter alone does not pick a drive.
        return FALSE;
    }
}

// A wide text cut to the buffer never leaves half of a surrogate pair
// behind; a null text counts as empty.
static void KeepWholeWide(WCHAR *to, const WCHAR *from)
{
    if (from == NULL)
        return;
    StringCchCopyW(to, DRIVE_TEXT_BUFFER, from);
    WCHAR *last = &to[DRIVE_TEXT_BUFFER - 2];
    if (IS_HIGH_SURROGATE(*last) && IS_LOW_SURROGATE(from[DRIVE_TEXT_BUFFER - 1]))
        *last = L'\0';
}

static int AskDriveAs(DWORD requiredMB, void *drive, const void *title, const void *text, int wide)
{
    // A modal dialog nobody can answer would hold the install for ever: end
    // as a dialog that could not be made, so a script can take its default.
    if (!CanShowBox()) {
        OutputDebugStringA(TRACE_NOT_SHOWN);
        return (int)RESULT_NO_DIALOG;
    }
    ZeroMemory(DriveSelection, sizeof(DriveSelection));
    ZeroMemory(DriveTitle, sizeof(DriveTitle));
    ZeroMemory(DriveText, sizeof(DriveText));
    ZeroMemory(DriveTitleW, sizeof(DriveTitleW));
    ZeroMemory(DriveTextW, sizeof(DriveTextW));
    DriveRequiredMB = requiredMB;
    DriveWide = wide;
    // Longer texts are cut to the buffers; a null text counts as empty.
    if (wide) {
        KeepWholeWide(DriveTitleW, (const WCHAR *)title);
        KeepWholeWide(DriveTextW, (const WCHAR *)text);
    } else {
        if (title != NULL)
            StringCchCopyA(DriveTitle, sizeof(DriveTitle), (const char *)title);
        if (text != NULL)
            StringCchCopyA(DriveText, sizeof(DriveText), (const char *)text);
    }

    // The template in the chooser's language; English is always there.
    LANGID language = ChooseDriveLanguage();
    DWORD size = 0;
    const DLGTEMPLATE *dialogTemplate =
        (const DLGTEMPLATE *)LoadInLanguage(DIALOG_RESOURCE, IDD_ASKDRIVE, language, &size);
    if (dialogTemplate == NULL)
        return (int)RESULT_NO_DIALOG;
    TakeDriveUnit(language);
    // Modal to the caller's active window (an installer's wizard), which
    // takes no input meanwhile; no owner when the thread has none.
    HWND owner = GetActiveWindow();
    INT_PTR result = wide ? DialogBoxIndirectParamW(ModuleInstance, dialogTemplate, owner, AskDriveDlgProc, 0)
                          : DialogBoxIndirectParamA(ModuleInstance, dialogTemplate, owner, AskDriveDlgProc, 0);
    if (result != RESULT_NEXT)
        return (int)result;

    // The letter and its colon; a shorter selection leaves NULs behind.
    WCHAR chosen[3];
    ZeroMemory(chosen, sizeof(chosen));
    chosen[0] = (unsigned char)DriveSelection[0];
    if (chosen[0] != L'\0')
        chosen[1] = (unsigned char)DriveSelection[1];
    OutputDebugStringA(TRACE_DRIVE);
    if (wide) {
        if (drive != NULL)
            CopyMemory(drive, chosen, sizeof(chosen));
        OutputDebugStringW(chosen);
    } else {
        char narrow[3] = {DriveSelection[0], chosen[0] != L'\0' ? DriveSelection[1] : '\0', '\0'};
        if (drive != NULL)
            CopyMemory(drive, narrow, sizeof(narrow));
        OutputDebugStringA(narrow);
    }
    OutputDebugStringA(TRACE_LINE_END);
    return (int)RESULT_NEXT;
}

extern "C" int KIV_API AskDrive(DWORD requiredMB, char *drive, const char *title, const char *text)
{
    return AskDriveAs(requiredMB, drive, title, text, 0);
}

extern "C" int KIV_API AskDriveW(DWORD requiredMB, wchar_t *drive, const wchar_t *title, const wchar_t *text)
{
    return AskDriveAs(requiredMB, drive, title, text, 1);
}
