// Every export called with input no careful host would pass: null pointers,
// empty and very long texts, high-ANSI and double-byte texts, absurd numbers.
// Caller texts sit in read-only pages right before a no-access page and
// output buffers end against one, so any read or write past them faults; the
// process heap is validated after every call. Each row also checks the
// documented result, so a call that survives by doing nothing is caught too.
#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "capture.h"
#include "dialog_driver.h"
#include "guarded.h"
#include "kiv_inst.h"
#include "resource.h"

namespace {

struct TextRow {
    const char *label;
    bool null;
    std::string text;
};

// The texts every pointer argument gets. No service or window on the test
// machine carries any of them.
std::vector<TextRow> Texts()
{
    return {
        {"null", true, ""},
        {"empty", false, ""},
        {"1023 characters", false, std::string(1023, 'k')},
        {"1024 characters", false, std::string(1024, 'k')},
        {"4096 characters", false, std::string(4096, 'k')},
        {"65536 characters", false, std::string(65536, 'k')},
        {"high ANSI", false, "Kiv\xe9\xe8\xfc\xdf\xff\xa0\x80 setup"},
        {"double-byte", false, "\x82\xa0\x82\xa2\x93\xfa\x96\x7b\x8c\xea"},
        {"lone lead byte at the end", false, "Kiv\x82"},
    };
}

// A row's text in guarded memory, or a null pointer.
class RowText {
public:
    explicit RowText(const TextRow &row) : guarded_(row.text), null_(row.null) {}
    const char *get() const { return null_ ? nullptr : guarded_.get(); }
private:
    GuardedText guarded_;
    bool null_;
};

std::string Label(const TextRow &row, const char *argument)
{
    return std::string(argument) + ": " + row.label;
}

// Outlets every service row needs: boxes are answered, pauses skipped,
// records kept off the real event log.
struct Outlets {
    DebugCapture debug;
    BoxCapture boxes;
    EventCapture events;
    SleepCapture sleeps;
    Outlets() { journal::Clear(); }
};

size_t Count(Outlet outlet)
{
    return journal::Of(outlet).size();
}

bool DebugMentions(const char *text)
{
    return journal::DebugText().find(text) != std::string::npos;
}

// ---- services by name ------------------------------------------------------

// A name that opens nothing: 0, no box, no pause, the heap intact. Exists and
// start report the failed open to the debugger; the running test reports a
// missing service nowhere.
TEST(BadInput, ServiceExistsRefusesEveryOddName)
{
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(Label(row, "serviceName"));
        Outlets outlets;
        RowText name(row);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(0, ServiceExists(name.get())) << "expected 0: no such service";
        EXPECT_TRUE(DebugMentions("Opening service handle")) << "expected the failed open reported";
        EXPECT_EQ(0u, Count(Outlet::Box)) << "expected no box for a missing service";
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(BadInput, ServiceIsRunningRefusesEveryOddName)
{
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(Label(row, "serviceName"));
        Outlets outlets;
        RowText name(row);
        EXPECT_EQ(0, ServiceIsRunning(name.get())) << "expected 0: no such service";
        EXPECT_EQ(0u, Count(Outlet::Box));
        EXPECT_EQ(0u, Count(Outlet::EventReport)) << "expected a missing service to go unreported";
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(BadInput, ServiceStartRefusesEveryOddNameWithoutWaiting)
{
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(Label(row, "serviceName"));
        Outlets outlets;
        RowText name(row);
        EXPECT_EQ(0, ServiceStart(name.get())) << "expected 0: no such service";
        EXPECT_TRUE(DebugMentions("Opening service handle"));
        EXPECT_EQ(0u, Count(Outlet::Sleep)) << "expected no wait for a service that never opened";
        EXPECT_EQ(0u, Count(Outlet::Box));
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(BadInput, ServiceDeleteAndStopRefuseEveryOddNameWithoutWaiting)
{
    for (int (*call)(const char *) : {ServiceDelete, ServiceStop}) {
        for (const TextRow &row : Texts()) {
            SCOPED_TRACE(Label(row, call == ServiceStop ? "ServiceStop" : "ServiceDelete"));
            Outlets outlets;
            RowText name(row);
            EXPECT_EQ(0, call(name.get())) << "expected 0: no such service";
            EXPECT_TRUE(DebugMentions("Opening service handle"));
            EXPECT_EQ(0u, Count(Outlet::Sleep));
            EXPECT_EQ(0u, Count(Outlet::Box));
            EXPECT_TRUE(ProcessHeapValid());
        }
    }
}

// ---- ServiceCreate -----------------------------------------------------------

const char CREATE_NAME[] = "KivRobustCreate";
const char CREATE_PATH[] = "C:\\windows\\system32\\kivnone.exe";

// Whether the test machine's manager knows the service; removes it if so,
// so no row leaves a service behind.
bool ExistedAndRemoved(const char *name)
{
    if (name == nullptr)
        return false;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL)
        return false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    bool existed = service != NULL;
    if (existed) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return existed;
}

// The result must say whether a service was made; a refusal shows the
// "Creating service" box.
void ExpectCreateOutcome(int result, const char *name)
{
    bool created = ExistedAndRemoved(name);
    EXPECT_EQ(created ? 1 : 0, result) << "expected 1 exactly when the service now exists";
    if (result == 0) {
        std::vector<JournalEntry> boxes = journal::Of(Outlet::Box);
        ASSERT_EQ(1u, boxes.size()) << "expected one box for the refused creation";
        EXPECT_EQ("Creating service", boxes[0].caption) << "expected the step as caption";
    }
    EXPECT_TRUE(ProcessHeapValid());
}

TEST(BadInput, ServiceCreateWithOddNames)
{
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(Label(row, "serviceName"));
        Outlets outlets;
        RowText name(row);
        GuardedText path(CREATE_PATH);
        int result = ServiceCreate(name.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, path.get(),
                                   nullptr, nullptr);
        ExpectCreateOutcome(result, name.get());
        if (!row.null && row.text.empty()) {
            EXPECT_EQ(0, result) << "expected an empty name refused";
        }
    }
}

TEST(BadInput, ServiceCreateWithOddPathsAccountsAndPasswords)
{
    const char *arguments[] = {"binaryPath", "accountName", "password"};
    for (int argument = 0; argument < 3; argument++) {
        for (const TextRow &row : Texts()) {
            SCOPED_TRACE(Label(row, arguments[argument]));
            Outlets outlets;
            RowText odd(row);
            GuardedText name(CREATE_NAME);
            GuardedText path(CREATE_PATH);
            const char *binary = argument == 0 ? odd.get() : path.get();
            const char *account = argument == 1 ? odd.get() : nullptr;
            const char *password = argument == 2 ? odd.get() : nullptr;
            int result = ServiceCreate(name.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, binary,
                                       account, password);
            ExpectCreateOutcome(result, CREATE_NAME);
        }
    }
}

TEST(BadInput, ServiceCreateWithAbsurdTypes)
{
    struct Row {
        DWORD serviceType, startType;
    } rows[] = {
        {0, SERVICE_DEMAND_START},
        {0xFFFFFFFF, SERVICE_DEMAND_START},
        {0x12345, SERVICE_DEMAND_START},
        {SERVICE_WIN32_OWN_PROCESS, 5},
        {SERVICE_WIN32_OWN_PROCESS, 0xFFFFFFFF},
        {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "serviceType 0x" << std::hex << row.serviceType << ", startType 0x"
                                        << row.startType);
        Outlets outlets;
        GuardedText name(CREATE_NAME);
        GuardedText path(CREATE_PATH);
        int result = ServiceCreate(name.get(), row.serviceType, row.startType, path.get(), nullptr, nullptr);
        ExpectCreateOutcome(result, CREATE_NAME);
    }
}

// ---- StopAllProcessStarters ---------------------------------------------------

// A host that pushes arguments the export does not take: the caller removes
// them again, so nothing is lost.
typedef BOOLEAN(__cdecl *StopAllWithArguments)(DWORD, DWORD, const char *);

TEST(BadInput, StopAllProcessStartersToleratesExtraArguments)
{
    Outlets outlets;
    StopAllWithArguments call = reinterpret_cast<StopAllWithArguments>(
        reinterpret_cast<void *>(GetProcAddress(KivModule(), "StopAllProcessStarters")));
    ASSERT_NE(nullptr, call);
    GuardedText odd(std::string(4096, 'k'));
    EXPECT_EQ(1, call(0xFFFFFFFF, 0, odd.get())) << "expected 1 always";
    EXPECT_EQ(0u, Count(Outlet::Box));
    EXPECT_TRUE(ProcessHeapValid());
}

// ---- GetWindowByTitle -----------------------------------------------------------

// A hidden top-level window of this thread carrying the row's text.
HWND MakeTitledWindow(const std::string &title)
{
    return CreateWindowExA(0, "STATIC", title.c_str(), WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

TEST(BadInput, GetWindowByTitleTopLevel)
{
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(Label(row, "title"));
        HWND own = MakeTitledWindow(row.text);
        ASSERT_NE((HWND)NULL, own);
        RowText title(row);
        HWND found = GetWindowByTitle(NULL, title.get());
        if (row.null) {
            EXPECT_EQ((HWND)NULL, found) << "expected null for a null title";
        } else if (row.text.empty()) {
            // Some window earlier in the walk may be untitled too.
            ASSERT_NE((HWND)NULL, found) << "expected an untitled window";
            EXPECT_EQ(0, GetWindowTextLengthA(found));
        } else if (row.text.size() <= 1023) {
            EXPECT_EQ(own, found) << "expected the window with this exact text";
        } else {
            EXPECT_EQ((HWND)NULL, found) << "expected no match for a title over 1023 characters";
        }
        DestroyWindow(own);
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(BadInput, GetWindowByTitleBelowAParentThatIsNoWindow)
{
    // Handles that name no window: the walk has nothing to enumerate.
    HWND parents[] = {(HWND)(ULONG_PTR)0x1, (HWND)(ULONG_PTR)0xFFFFFFFF, (HWND)(ULONG_PTR)0x7ffe1234};
    for (HWND parent : parents) {
        for (const TextRow &row : Texts()) {
            SCOPED_TRACE(testing::Message() << "parent " << (void *)parent << ", " << Label(row, "title"));
            RowText title(row);
            EXPECT_EQ((HWND)NULL, GetWindowByTitle(parent, title.get())) << "expected null";
            EXPECT_TRUE(ProcessHeapValid());
        }
    }
}

// ---- AskDrive ---------------------------------------------------------------

struct DialogSeen {
    bool shown = false;
    std::string caption;
    std::string text;
    bool nextEnabled = false;
};

struct DriveRunArgs {
    DWORD threadId;
    HANDLE stop;
    int button;
    DialogSeen seen;
};

DWORD WINAPI PressWhenShown(void *parameter)
{
    DriveRunArgs *args = static_cast<DriveRunArgs *>(parameter);
    HWND dialog = WaitForThreadDialog(args->threadId, args->stop, 10000);
    if (dialog == NULL)
        return 0;
    args->seen.shown = true;
    args->seen.caption = WindowText(dialog);
    args->seen.text = ItemText(dialog, IDC_DRIVE_TEXT);
    args->seen.nextEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_DRIVE_NEXT)) != FALSE;
    ClickButton(dialog, args->button);
    return 0;
}

// Runs the chooser while a helper thread reads it and presses `button`.
int RunAskDrive(DWORD requiredMB, char *drive, const char *title, const char *text, int button,
                DialogSeen *seen)
{
    DriveRunArgs args = {GetCurrentThreadId(), CreateEventA(NULL, TRUE, FALSE, NULL), button, {}};
    HANDLE helper = CreateThread(NULL, 0, PressWhenShown, &args, 0, NULL);
    int result = AskDrive(requiredMB, drive, title, text);
    SetEvent(args.stop);
    WaitForSingleObject(helper, 15000);
    CloseHandle(helper);
    CloseHandle(args.stop);
    *seen = args.seen;
    return result;
}

std::string CutTo1023(const std::string &text)
{
    return text.substr(0, 1023);
}

TEST(BadInput, AskDriveTitles)
{
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(Label(row, "title"));
        BoxCapture boxes;
        RowText title(row);
        GuardedBuffer drive(3);
        DialogSeen seen;
        EXPECT_EQ(3, RunAskDrive(0, drive.get(), title.get(), "", IDC_DRIVE_CANCEL, &seen)) << "expected Cancel";
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(CutTo1023(row.text), seen.caption) << "expected the title cut to 1023 characters";
        EXPECT_EQ(std::string(3, '\x5a'), std::string(drive.get(), 3)) << "expected Cancel to leave drive alone";
        EXPECT_TRUE(drive.canariesIntact());
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(BadInput, AskDriveTexts)
{
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(Label(row, "text"));
        BoxCapture boxes;
        RowText text(row);
        GuardedBuffer drive(3);
        DialogSeen seen;
        EXPECT_EQ(1, RunAskDrive(0, drive.get(), "Robust", text.get(), IDC_DRIVE_NEXT, &seen)) << "expected Next";
        ASSERT_TRUE(seen.shown);
        if (!row.text.empty()) {
            EXPECT_EQ(CutTo1023(row.text), seen.text) << "expected the text cut to 1023 characters";
        }
        EXPECT_TRUE(IsCharAlphaA(drive.get()[0])) << "expected a drive letter";
        EXPECT_EQ(':', drive.get()[1]);
        EXPECT_EQ('\0', drive.get()[2]);
        EXPECT_TRUE(drive.canariesIntact());
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(BadInput, AskDriveRequiredSpaceExtremes)
{
    // 0 MB fits every drive; 0xFFFFFFFF MB fits none, so Next stays disabled
    // and the click on it is ignored until Cancel ends the dialog.
    struct Row {
        DWORD requiredMB;
        bool nextEnabled;
        int button, result;
    } rows[] = {{0, true, IDC_DRIVE_NEXT, 1}, {0xFFFFFFFF, false, IDC_DRIVE_CANCEL, 3}};
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "requiredMB " << row.requiredMB);
        BoxCapture boxes;
        GuardedBuffer drive(3);
        DialogSeen seen;
        EXPECT_EQ(row.result, RunAskDrive(row.requiredMB, drive.get(), "Robust", "", row.button, &seen));
        EXPECT_EQ(row.nextEnabled, seen.nextEnabled);
        EXPECT_TRUE(drive.canariesIntact());
        EXPECT_TRUE(ProcessHeapValid());
    }
}

TEST(BadInput, AskDriveNullDriveBuffer)
{
    // Next with nowhere to put the letter still ends the dialog with 1.
    BoxCapture boxes;
    DialogSeen seen;
    EXPECT_EQ(1, RunAskDrive(0, nullptr, nullptr, nullptr, IDC_DRIVE_NEXT, &seen)) << "expected Next";
    EXPECT_TRUE(seen.shown);
    EXPECT_TRUE(ProcessHeapValid());
}

// ---- status window -----------------------------------------------------------

void RegisterAnimationClass()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
}

// The close is posted: it happens only while messages are dispatched.
void Dispatch(DWORD milliseconds)
{
    DWORD end = GetTickCount() + milliseconds;
    MSG message;
    while ((LONG)(end - GetTickCount()) > 0) {
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
}

TEST(BadInput, FakeStatusOpenWithOddTextsAndTitles)
{
    RegisterAnimationClass();
    for (int argument = 0; argument < 2; argument++) {
        for (const TextRow &row : Texts()) {
            SCOPED_TRACE(std::string(argument == 0 ? "text: " : "title: ") + row.label);
            GuardedText odd(row.text);
            GuardedText plain("Robust");
            const char *oddPointer = row.null ? nullptr : odd.get();
            const char *text = argument == 0 ? oddPointer : plain.get();
            const char *title = argument == 1 ? oddPointer : plain.get();
            EXPECT_EQ(1, FakeStatusOpen(text, title)) << "expected the window opened";
            EXPECT_TRUE(ProcessHeapValid());
            EXPECT_EQ(1, FakeStatusClose()) << "expected the close accepted";
            Dispatch(50);
            EXPECT_TRUE(ProcessHeapValid());
        }
    }
}

TEST(BadInput, FakeStatusSetAviWithOddNamesWhileClosed)
{
    // With no window open a name is only remembered, so every one gives 1.
    for (const TextRow &row : Texts()) {
        SCOPED_TRACE(row.label);
        GuardedText name(row.text);
        EXPECT_EQ(1, FakeStatusSetAvi(row.null ? nullptr : name.get()));
        EXPECT_TRUE(ProcessHeapValid());
    }
    EXPECT_EQ(1, FakeStatusSetAvi(nullptr)) << "expected the default clip back";
}

// ---- the wide siblings -------------------------------------------------------

struct WideRow {
    const char *label;
    bool null;
    std::wstring text;
};

// Besides the lengths of the narrow table: halves of surrogate pairs and
// control characters, which go to the system as given, never converted.
std::vector<WideRow> WideTexts()
{
    return {
        {"null", true, L""},
        {"empty", false, L""},
        {"1023 characters", false, std::wstring(1023, L'\u6771')},
        {"1024 characters", false, std::wstring(1024, L'k')},
        {"65536 characters", false, std::wstring(65536, L'k')},
        {"lone high surrogate at the end", false, L"Kiv\xD83D"},
        {"lone low surrogate first", false, L"\xDE00Kiv"},
        {"control characters", false, L"Kiv\x01\x1b\x7f\x85\r\n"},
    };
}

// A wide text in guarded memory: its UTF-16 bytes and one more zero byte,
// which with the guard's own terminator make the wide terminator, ending
// right before the no-access page.
class WideRowText {
public:
    explicit WideRowText(const WideRow &row)
        : guarded_(std::string((const char *)row.text.c_str(), row.text.size() * sizeof(wchar_t)) + '\0'),
          null_(row.null)
    {
    }
    const wchar_t *get() const { return null_ ? nullptr : (const wchar_t *)guarded_.get(); }
private:
    GuardedText guarded_;
    bool null_;
};

TEST(BadInput, WideExportsTakeEveryOddTextSafely)
{
    RegisterAnimationClass();
    for (const WideRow &row : WideTexts()) {
        SCOPED_TRACE(row.label);
        Outlets outlets;
        WideRowText text(row);
        EXPECT_EQ(0, ServiceExistsW(text.get())) << "expected 0: no such service";
        EXPECT_EQ(0, ServiceIsRunningW(text.get()));
        EXPECT_EQ(0, ServiceStartW(text.get()));
        EXPECT_EQ(0, ServiceStopW(text.get()));
        EXPECT_EQ(0, ServiceDeleteW(text.get()));
        EXPECT_EQ(0u, Count(Outlet::Sleep)) << "expected no wait for a service that never opened";
        EXPECT_EQ(0u, Count(Outlet::Box));
        // Windows without text exist, so the empty title may find one.
        if (!row.text.empty() || row.null) {
            EXPECT_EQ(nullptr, GetWindowByTitleW(NULL, text.get()));
        }
        EXPECT_EQ(1, FakeStatusSetAviW(text.get())) << "expected only a selection while closed";
        EXPECT_EQ(1, FakeStatusOpenW(text.get(), text.get()));
        EXPECT_EQ(1, FakeStatusClose());
        Dispatch(50);
        FakeStatusSetAviW(NULL);
        EXPECT_TRUE(ProcessHeapValid());
    }
}

} // namespace
