#include "dialog_driver.h"

#include <oleacc.h>
#include <string.h>

namespace {

const DWORD POLL_MS = 10;

bool IsDialogClass(HWND window)
{
    char name[16] = {0};
    GetClassNameA(window, name, sizeof(name));
    return strcmp(name, "#32770") == 0;
}

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM param)
{
    if (IsDialogClass(window) && IsWindowVisible(window)) {
        *(HWND *)param = window;
        return FALSE;
    }
    return TRUE;
}

volatile LONG g_dialogShown = 0;

LRESULT CALLBACK WatchProc(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && call != NULL && IsDialogClass(call->hwnd)) {
        bool showing = (call->message == WM_SHOWWINDOW && call->wParam) ||
                       (call->message == WM_WINDOWPOSCHANGING &&
                        (((const WINDOWPOS *)call->lParam)->flags & SWP_SHOWWINDOW));
        if (showing)
            InterlockedExchange(&g_dialogShown, 1);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

} // namespace

HWND WaitForThreadDialog(DWORD threadId, HANDLE stop, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += POLL_MS) {
        HWND found = NULL;
        EnumThreadWindows(threadId, FindVisibleDialog, (LPARAM)&found);
        if (found != NULL)
            return found;
        if (stop != NULL && WaitForSingleObject(stop, POLL_MS) == WAIT_OBJECT_0)
            return NULL;
        if (stop == NULL)
            Sleep(POLL_MS);
    }
    return NULL;
}

HWND WaitForDialogByCaption(const char *caption, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += POLL_MS) {
        HWND found = FindWindowA("#32770", caption);
        if (found != NULL && IsWindowVisible(found))
            return found;
        Sleep(POLL_MS);
    }
    return NULL;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += POLL_MS) {
        if (!IsWindow(window))
            return true;
        Sleep(POLL_MS);
    }
    return false;
}

std::string WindowText(HWND window)
{
    LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0)
        return std::string();
    std::vector<char> text((size_t)length + 1, '\0');
    LRESULT got = SendMessageA(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data());
    return std::string(text.data(), got > 0 ? (size_t)got : 0);
}

std::string ItemText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

std::vector<std::string> ListBoxItems(HWND list)
{
    std::vector<std::string> items;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, (WPARAM)i, 0);
        std::vector<char> text((size_t)(length > 0 ? length : 0) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, (WPARAM)i, (LPARAM)text.data());
        items.push_back(text.data());
    }
    return items;
}

// Spelled out here: the x86-64 mingw-w64 import library of oleacc resolves
// IID_IAccessible to an import thunk's code rather than the interface id.
static const IID ACCESSIBLE_IID = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::string AccessibleName(HWND control)
{
    IAccessible *object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, (DWORD)OBJID_CLIENT, ACCESSIBLE_IID, (void **)&object)))
        return "(no object)";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string result;
    if (object->get_accName(self, &name) == S_OK && name != nullptr) {
        char text[256] = {0};
        WideCharToMultiByte(CP_ACP, 0, name, -1, text, sizeof(text) - 1, NULL, NULL);
        result = text;
    }
    SysFreeString(name);
    object->Release();
    return result;
}

void ClickButton(HWND dialog, int id)
{
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

ShowWatch::ShowWatch()
{
    InterlockedExchange(&g_dialogShown, 0);
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, WatchProc, NULL, GetCurrentThreadId());
}

ShowWatch::~ShowWatch()
{
    if (hook_ != NULL)
        UnhookWindowsHookEx(hook_);
}

bool ShowWatch::dialogShown() const
{
    return g_dialogShown != 0;
}
