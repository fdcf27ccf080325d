#include "drive_fakes.h"

#include <string.h>

#include <mutex>
#include <thread>

#include "dialog_driver.h"
#include "kiv_inst.h"
#include "resource.h"

namespace {

std::mutex g_lock;
std::vector<FakeDrive> g_drives;
DriveStrings g_strings = DriveStrings::FromTable;
std::vector<std::string> g_freeQueries;

const FakeDrive *Lookup(const char *path)
{
    // The chooser passes what DlgDirSelectExA gave back ("C:\." under Wine),
    // so drives are told apart by their letter.
    if (path == NULL || path[0] == '\0')
        return NULL;
    for (const FakeDrive &d : g_drives)
        if (_strnicmp(d.root.c_str(), path, 1) == 0)
            return &d;
    return NULL;
}

DWORD WINAPI FakeGetLogicalDriveStringsA(DWORD length, LPSTR buffer)
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_strings == DriveStrings::Fail) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    std::string block;
    for (const FakeDrive &d : g_drives)
        block += d.root + '\0';
    if (g_strings == DriveStrings::TooLong)
        return length + 1000;
    if (block.size() + 1 > length)
        return (DWORD)block.size() + 1;
    memcpy(buffer, block.data(), block.size());
    buffer[block.size()] = '\0';
    return (DWORD)block.size();
}

UINT WINAPI FakeGetDriveTypeA(LPCSTR root)
{
    std::lock_guard<std::mutex> lock(g_lock);
    const FakeDrive *d = Lookup(root);
    return d ? d->type : DRIVE_NO_ROOT_DIR;
}

BOOL WINAPI FakeGetDiskFreeSpaceExA(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                    PULARGE_INTEGER totalFree)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_freeQueries.push_back(path ? path : "(null)");
    const FakeDrive *d = Lookup(path);
    if (d == NULL || !d->readable) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    // Total and free differ from the caller's share, so using either shows.
    if (available)
        available->QuadPart = d->availableBytes;
    if (total)
        total->QuadPart = d->availableBytes * 4 + 7 * MB;
    if (totalFree)
        totalFree->QuadPart = d->availableBytes * 2 + 3 * MB;
    return TRUE;
}

} // namespace

FakeDrives::FakeDrives(std::vector<FakeDrive> drives, DriveStrings strings)
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_drives = std::move(drives);
        g_strings = strings;
        g_freeQueries.clear();
    }
    strings_.reset(new ImportHook(KivModule(), NULL, "GetLogicalDriveStringsA",
                                  (void *)FakeGetLogicalDriveStringsA));
    type_.reset(new ImportHook(KivModule(), NULL, "GetDriveTypeA", (void *)FakeGetDriveTypeA));
    free_.reset(new ImportHook(KivModule(), NULL, "GetDiskFreeSpaceExA", (void *)FakeGetDiskFreeSpaceExA));
}

FakeDrives::~FakeDrives()
{
    free_.reset();
    type_.reset();
    strings_.reset();
    std::lock_guard<std::mutex> lock(g_lock);
    g_drives.clear();
    g_strings = DriveStrings::FromTable;
}

bool FakeDrives::installed() const
{
    return strings_->installed() && type_->installed() && free_->installed();
}

std::vector<std::string> FakeDrives::FreeSpaceQueries()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_freeQueries;
}

DriveView ReadDriveDialog(HWND dialog)
{
    DriveView view;
    view.shown = true;
    view.dialog = dialog;
    view.caption = WindowText(dialog);
    view.text = ItemText(dialog, IDC_DRIVE_TEXT);
    view.required = ItemText(dialog, IDC_DRIVE_REQUIRED);
    view.free = ItemText(dialog, IDC_DRIVE_FREE);
    HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
    view.items = ListBoxItems(list);
    view.selected = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    view.nextEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_DRIVE_NEXT)) != FALSE;
    GetWindowRect(dialog, &view.window);
    GetClientRect(dialog, &view.client);
    return view;
}

namespace {

DriveRun RunChooser(const std::function<int(DriveRun &)> &call, DriveAction action)
{
    DriveRun run;
    memset(run.buffer, BUFFER_FILL, sizeof(run.buffer));
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD self = GetCurrentThreadId();

    std::thread helper([&]() {
        HWND dialog = WaitForThreadDialog(self, done, 10000);
        if (dialog == NULL)
            return;
        run.view = ReadDriveDialog(dialog);
        action(dialog, run.view);
        if (!WaitForWindowGone(dialog, 3000)) {
            run.view.stillOpenAfterAction = true;
            SendMessageA(dialog, WM_COMMAND, IDC_DRIVE_CANCEL, 0);
        }
    });
    {
        ShowWatch watch;
        run.result = call(run);
        run.shownByHook = watch.dialogShown();
    }
    SetEvent(done);
    helper.join();
    CloseHandle(done);
    return run;
}

} // namespace

DriveRun RunAskDrive(DWORD requiredMB, const char *title, const char *text, DriveAction action)
{
    return RunChooser([&](DriveRun &run) { return AskDrive(requiredMB, run.buffer, title, text); }, action);
}

DriveRun RunAskDriveW(DWORD requiredMB, const wchar_t *title, const wchar_t *text, DriveAction action)
{
    return RunChooser(
        [&](DriveRun &run) { return AskDriveW(requiredMB, (wchar_t *)run.buffer, title, text); }, action);
}

DriveAction Click(int id)
{
    return [id](HWND dialog, DriveView &) { ClickButton(dialog, id); };
}

DriveAction Command(WORD id)
{
    return [id](HWND dialog, DriveView &) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, 0), 0); };
}

DriveAction PressEscape()
{
    // Posted to the focused list box, so the dialog's own loop translates it.
    return [](HWND dialog, DriveView &) {
        HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
        PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(list, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    };
}

DriveAction SelectThenCancel(int index)
{
    return [index](HWND dialog, DriveView &view) {
        HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
        SendMessageA(list, LB_SETCURSEL, (WPARAM)index, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DRIVE_LIST, LBN_SELCHANGE), (LPARAM)list);
        view = ReadDriveDialog(dialog);
        ClickButton(dialog, IDC_DRIVE_CANCEL);
    };
}
