// The drive chooser: a modal dialog in which the user picks the destination
// drive from the local drives, seeing each one's free space against the space
// the installation needs.
#include <windows.h>
#include <strsafe.h>

#include "frame/frame.h"
#include "kiv_inst.h"
#include "resource.h"
#include "ui/ui.h"

DWORD DriveRequiredMB = 999;
char DriveSelection[DRIVE_TEXT_BUFFER];
char DriveTitle[DRIVE_TEXT_BUFFER];
char DriveText[DRIVE_TEXT_BUFFER];

static const char STEP_DRIVE_LIST[] = "Getting drive list";
static const char STEP_ADD_DRIVE[] = "Adding drive to list";
static const char STEP_FREE_SPACE[] = "Getting drive free space";

static const char TRACE_VALID[] = "Valid:";
static const char TRACE_DRIVE[] = "Drive:";
static const char TRACE_LINE_END[] = "\n";
static const char TRACE_NOT_SHOWN[] = "No visible desktop or a quiet run: not shown.\n";
static const char TRACE_SCREEN_FORMAT[] = "Screen %d %d\n";
static const char MEGABYTES_FORMAT[] = "%d MB";

// Results of the dialog, as the host reads them.
static const INT_PTR RESULT_NEXT = 1;
static const INT_PTR RESULT_BACK = 2;
static const INT_PTR RESULT_CANCEL = 3;
static const INT_PTR RESULT_NO_DRIVE = 4;
static const INT_PTR RESULT_NO_DIALOG = -1;

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
        ReportLastError(0, STEP_DRIVE_LIST);
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
                ReportLastError(0, STEP_ADD_DRIVE);
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
        ReportLastError(0, STEP_FREE_SPACE);
        return 0;
    }
    // Only what the calling user may fill counts, quotas included.
    double bytes = (double)available.HighPart * 4294967296.0 + (double)available.LowPart;
    double megabytes = bytes * (1.0 / 1048576.0);
    return (DWORD)(ULONGLONG)megabytes;
}

// Sets a label to a number of megabytes, written as a signed number.
static void SetMegabytesText(HWND dialog, int labelId, DWORD megabytes)
{
    char text[SHORT_TEXT];
    ZeroMemory(text, sizeof(text));
    StringCchPrintfA(text, sizeof(text), MEGABYTES_FORMAT, (int)megabytes);
    SetDlgItemTextA(dialog, labelId, text);
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

static INT_PTR InitDriveDialog(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
    SetFocus(list);

    if (FillDriveList(list) == 0) {
        // Ends before the modal loop shows anything.
        EndDialog(dialog, RESULT_NO_DRIVE);
        return FALSE;
    }
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    ShowDriveFreeSpace(dialog, IDC_DRIVE_LIST, IDC_DRIVE_FREE);
    SetMegabytesText(dialog, IDC_DRIVE_REQUIRED, DriveRequiredMB);
    if (DriveText[0] != '\0')
        SetDlgItemTextA(dialog, IDC_DRIVE_TEXT, DriveText);
    // The caller's title replaces the template's caption, even when empty.
    SendMessageA(dialog, WM_SETTEXT, 0, (LPARAM)DriveTitle);

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

extern "C" int KIV_API AskDrive(DWORD requiredMB, char *drive, const char *title, const char *text)
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
    DriveRequiredMB = requiredMB;
    // Longer texts are cut to the buffers; a null text counts as empty.
    if (title != NULL)
        StringCchCopyA(DriveTitle, sizeof(DriveTitle), title);
    if (text != NULL)
        StringCchCopyA(DriveText, sizeof(DriveText), text);

    INT_PTR result = DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ASKDRIVE), NULL,
                                     AskDriveDlgProc, 0);
    if (result != RESULT_NEXT)
        return (int)result;

    // The letter and its colon; a shorter selection leaves NULs behind.
    char chosen[3];
    ZeroMemory(chosen, sizeof(chosen));
    chosen[0] = DriveSelection[0];
    if (chosen[0] != '\0')
        chosen[1] = DriveSelection[1];
    if (drive != NULL)
        CopyMemory(drive, chosen, sizeof(chosen));
    OutputDebugStringA(TRACE_DRIVE);
    OutputDebugStringA(chosen);
    OutputDebugStringA(TRACE_LINE_END);
    return (int)RESULT_NEXT;
}
