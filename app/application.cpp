// Start-up, message loop and shutdown: the fixed order in which the process
// prepares itself, starts its threads, runs the window and takes it all down.
#include "app/application.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <locale.h>
#include <objbase.h>

#include "discovery/threads.h"
#include "discovery/lifetime.h"
#include "core/globals.h"
#include "app/settings.h"
#include "firewall/firewall_rule.h"
#include "firewall/program_path.h"
#include "querier/client.h"
#include "net/interface_table.h"
#include "ui/main_window.h"
#include "core/resource.h"
#include "ui/window_memory.h"

namespace {

const wchar_t kAppUserModelId[] = L"OrvelElectronics.NetworkDiscoveryTool";

// Looked up at run time: older shells do not have it, and then we go on silently.
void SetAppUserModelId()
{
    HMODULE shell = LoadLibraryW(L"Shell32.dll");
    if (shell == nullptr) {
        return;
    }
    typedef HRESULT(WINAPI * SetIdFunction)(PCWSTR);
    SetIdFunction setId = reinterpret_cast<SetIdFunction>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SetCurrentProcessExplicitAppUserModelID")));
    if (setId != nullptr) {
        setId(kAppUserModelId);
    }
    FreeLibrary(shell);
}

int RunMessageLoop(HACCEL accelerators)
{
    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            break;
        }
        if (got == -1) {
            return 1;  // the loop cannot go on: end as a failed run
        }
        // Keys anywhere in the main window reach its accelerators (F5,
        // Ctrl+C, About) and its keyboard navigation (Tab between the
        // controls, Enter on a row).
        HWND window = g_mainWindow;
        bool forWindow = window != nullptr && (message.hwnd == window || IsChild(window, message.hwnd));
        if (forWindow && TranslateAcceleratorW(window, accelerators, &message)) {
            continue;
        }
        if (forWindow && IsDialogMessageW(window, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

// The stop event every thread watches, and the main window's class. False
// when either cannot be had: start-up fails.
bool CreateStopEventAndClass(HINSTANCE instance, const wchar_t* className)
{
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent == nullptr) {
        return false;
    }
    g_stopEvent = stopEvent;  // lives until the process ends
    g_instance = instance;
    return RegisterMainWindowClass(instance, className) != 0;
}

// Only this executable's rule counts: one for the same program elsewhere
// (another copy, another installation) admits that program, not this one.
void EnsureOwnFirewallRule()
{
    ProgramPath self;
    if (GetOwnProgramPath(&self)) {
        EnsureFirewallRule(self.text);
    }
}

}  // namespace

void PrepareProcess()
{
    SetProcessDPIAware();
    // Multibyte conversions (reply texts, subnet texts) follow the user's code page.
    setlocale(LC_ALL, "");
    SetAppUserModelId();
    InitCommonControls();
}

int RunApplication(HINSTANCE instance, int showCommand)
{
    PrepareProcess();

    wchar_t className[100] = {};
    LoadStringW(instance, IDS_WINDOW_CLASS, className, 100);

    if (!CreateStopEventAndClass(instance, className)) {
        return 1;
    }

    // What the window remembers: taken when it is shown, filled when it is
    // destroyed, saved after the loop.
    WindowMemory windowMemory = {};
    LoadSettings(&windowMemory);
    EnsureOwnFirewallRule();

    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    // Ours stands by where the system has no multicast DNS client or it refuses.
    InstallMulticastDnsClient();

    if (!BuildInterfaceTable()) {
        WSACleanup();
        return 1;
    }

    HANDLE watcher = StartAppThread(AddressWatcher);

    // The shell opens device pages from this thread; it expects COM. Done
    // after the firewall step, which initialises and ends COM on its own.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                     reinterpret_cast<DLGPROC>(MainWindowProc),
                                     reinterpret_cast<LPARAM>(&windowMemory));
    if (window == nullptr) {
        // Without a window the loop would never see WM_QUIT: stop everything instead.
        SetEvent(g_stopEvent);
        StopDiscovery(watcher, nullptr, com);
        return 1;
    }
    g_mainWindow = window;
    ShowRememberedWindow(window, &windowMemory, showCommand);
    UpdateWindow(window);

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCEL));
    HANDLE ticker = StartAppThread(ExpiryTicker);

    int exitCode = RunMessageLoop(accelerators);

    SaveSettings(&windowMemory);
    StopDiscovery(watcher, ticker, com);
    return exitCode;
}
