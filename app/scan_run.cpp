// The console program's run. It starts discovery as the window program does
// (firewall rule, Winsock, our multicast DNS client, the interface table,
// the address watcher and the expiry ticker), but its "main window" is a
// message-only window whose answers go into a DeviceTable; Ctrl+C, the end
// of the listening time or a reader that went away ends the loop, and
// discovery is taken down in the window program's order.
#include "app/scan_run.h"

#include <winsock2.h>
#include <windows.h>
#include <locale.h>
#include <stdio.h>

#include <atomic>

#include "app/app_threads.h"
#include "app/discovery_lifetime.h"
#include "app/scan_output.h"
#include "core/app_messages.h"
#include "core/device_table.h"
#include "core/globals.h"
#include "core/platform.h"
#include "firewall/firewall_rule.h"
#include "mdns/mdns_client.h"
#include "net/address_class.h"
#include "net/interface_table.h"
#include "net/workers.h"

namespace {

const wchar_t kProgramName[] = L"NetworkDiscoveryScan";
const wchar_t kWindowClass[] = L"NetworkDiscoveryScanMessages";
// Messages handled between two looks at the clock and at Ctrl+C, so that a
// flood of answers can hold up neither.
constexpr int kMessagesPerLook = 64;
// A console window's close gives its handler this long before the system
// ends the process; the run is taken down well within it.
constexpr DWORD kCloseGraceMs = 4000;

// Set by the console control handler (on a thread of its own) and read by
// the loop; created before the handler is installed and kept for the life
// of the process, since the handler may run at any moment.
HANDLE g_quitEvent = nullptr;
HANDLE g_finishedEvent = nullptr;
std::atomic<bool> g_quitRequested{false};

BOOL WINAPI OnConsoleControl(DWORD type)
{
    g_quitRequested = true;
    SetEvent(g_quitEvent);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // Returning lets the system end the process at once: first let the
        // run take discovery down.
        WaitForSingleObject(g_finishedEvent, kCloseGraceMs);
    }
    return TRUE;
}

void WriteError(const wchar_t* text)
{
    WriteScanText(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<size_t>(lstrlenW(text)));
}

// The message-box seam of a program without windows: one line on stderr.
int WINAPI ErrorLineBox(HWND, LPCWSTR text, LPCWSTR, UINT)
{
    wchar_t line[512];
    _snwprintf(line, 512, L"%ls: %ls", kProgramName, text != nullptr ? text : L"");
    line[511] = L'\0';
    for (wchar_t* p = line; *p != L'\0'; ++p) {
        if (*p == L'\r' || *p == L'\n') {
            *p = L' ';
        }
    }
    WriteError(line);
    WriteError(L"\r\n");
    return IDOK;
}

// A progress note for a person at the console; never in a pipe or a file.
void Progress(const wchar_t* text)
{
    DWORD mode = 0;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(error, &mode)) {
        WriteError(text);
    }
}

// Stands in for the worker of a way that is not asked: it holds no socket
// and only waits to be told to end.
unsigned __stdcall IdleWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    WaitForSingleObject(entry->abortEvent, INFINITE);
    return 0;
}

// Prints each change of the table in --watch runs, and notes whether any
// row was ever listed.
class ScanView : public DeviceTableView {
public:
    ScanView(ScanFormat format, bool printChanges)
        : format_(format), printChanges_(printChanges), listed_(false), readerGone_(false)
    {
    }
    ScanView(const ScanView&) = delete;
    ScanView& operator=(const ScanView&) = delete;

    bool RowAdded(const DeviceRow* row) override
    {
        listed_ = true;
        Print(L"new", row);
        return true;
    }

    bool RowChanged(const DeviceRow* row, uint32_t changes) override
    {
        // The port is not among the printed fields.
        if ((changes & ~static_cast<uint32_t>(kRowChangedPort)) == 0) {
            return true;
        }
        bool conflict = (changes & kRowChangedState) != 0 && row->shown.state == DeviceStateConflict;
        Print(conflict ? L"conflict" : L"changed", row);
        return true;
    }

    bool RowRemoving(const DeviceRow* row) override
    {
        Print(L"gone", row);
        return true;
    }

    void PrintHeader()
    {
        TextBuffer text;
        InitTextBuffer(&text);
        FormatScanEventHeader(&text, format_);
        Write(&text);
        FreeTextBuffer(&text);
    }

    bool Listed() const { return listed_; }
    bool ReaderGone() const { return readerGone_; }

private:
    void Print(const wchar_t* event, const DeviceRow* row)
    {
        if (!printChanges_) {
            return;
        }
        TextBuffer text;
        InitTextBuffer(&text);
        FormatScanEvent(&text, event, row, format_);
        Write(&text);
        FreeTextBuffer(&text);
    }

    void Write(const TextBuffer* text)
    {
        if (text->failed || readerGone_ || text->length == 0) {
            return;
        }
        if (!WriteScanText(GetStdHandle(STD_OUTPUT_HANDLE), text->text, text->length)) {
            // Whoever read the changes went away: nobody is left to tell.
            readerGone_ = true;
        }
    }

    ScanFormat format_;
    bool printChanges_;
    bool listed_;
    bool readerGone_;
};

// What the message-only window works on.
struct ScanSession {
    DeviceTable* table;
    ScanView* view;
    bool expire;  // --watch: rows go after the expiry span, as with auto-refresh
};

void OnDevice(ScanSession* session, WPARAM wParam, LPARAM lParam)
{
    DeviceRecord* record = reinterpret_cast<DeviceRecord*>(lParam);
    if (wParam != sizeof(DeviceRecord)) {
        return;  // not a record of ours: not ours to free either
    }
    session->table->Merge(record);
}

void OnAddressChange(ScanSession* session)
{
    // As the window does: the rows of the old configuration go, and
    // discovery starts again on the new table.
    if (session->view->Listed() || session->table->Count() > 0) {
        ErrorLineBox(nullptr, L"A change in the IPv4 configuration has been detected; the list starts afresh.",
                     nullptr, 0);
    }
    session->table->Clear();
    ResumeInterfaceWorkers();
}

LRESULT CALLBACK ScanWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    ScanSession* session = reinterpret_cast<ScanSession*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (session == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
    case WM_APP_DEVICE:
        OnDevice(session, wParam, lParam);
        return 0;
    case WM_APP_TICK:
        if (session->expire) {
            // Judged as of the tick's posting, as the window does.
            session->table->Expire(wParam != 0 ? static_cast<uint32_t>(wParam) : GetTickCount());
        }
        return 0;
    case WM_APP_IPCHANGE:
        OnAddressChange(session);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool TimeIsUp(DWORD start, DWORD limitMs)
{
    return limitMs != 0 && GetTickCount() - start >= limitMs;
}

bool ShouldStop(DWORD start, DWORD limitMs, const ScanView& view)
{
    return g_quitRequested || view.ReaderGone() || TimeIsUp(start, limitMs);
}

// Handles messages until the time is up (limitMs, 0: none), Ctrl+C, or the
// reader of --watch lines went away.
void RunLoop(DWORD limitMs, const ScanView& view)
{
    DWORD start = GetTickCount();
    while (!ShouldStop(start, limitMs, view)) {
        DWORD timeout = INFINITE;
        if (limitMs != 0) {
            timeout = limitMs - (GetTickCount() - start);
        }
        DWORD wait = MsgWaitForMultipleObjectsEx(1, &g_quitEvent, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (wait == WAIT_FAILED) {
            Sleep(10);  // never expected; keeps the loop from spinning
        }
        MSG message;
        for (int handled = 0; handled < kMessagesPerLook && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
             ++handled) {
            DispatchMessageW(&message);
        }
    }
}

// After discovery has stopped: answers still queued are merged (they were
// heard within the listening time), anything else is dropped.
void DrainQueue(HWND window)
{
    MSG message;
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

// The interface network that holds address, or kAllInterfaces for none.
uint32_t NetworkHolding(uint32_t address)
{
    uint32_t network = kAllInterfaces;
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        const InterfaceEntry& entry = g_interfaceTable.entries[i];
        if ((address & entry.mask) == entry.network) {
            network = entry.network;
            break;
        }
    }
    UnlockInterfaceTable();
    return network;
}

void ChooseWays(uint32_t ways)
{
    if ((ways & kScanMdns) == 0) {
        g_interfaceWorkers.mdns = IdleWorker;
    }
    if ((ways & kScanBroadcast) == 0) {
        g_interfaceWorkers.transmit = IdleWorker;
        g_interfaceWorkers.receive = IdleWorker;
    }
}

void PrintList(const DeviceTable& table, ScanFormat format)
{
    int count = table.Count();
    const DeviceRow** rows = static_cast<const DeviceRow**>(
        HeapAlloc(GetProcessHeap(), 0, sizeof(const DeviceRow*) * static_cast<size_t>(count > 0 ? count : 1)));
    if (rows == nullptr) {
        ScanError(L"out of memory for the list");
        return;
    }
    for (int i = 0; i < count; ++i) {
        rows[i] = table.RowAt(i);
    }
    TextBuffer text;
    InitTextBuffer(&text);
    FormatScanList(&text, rows, count, format);
    if (text.failed) {
        ScanError(L"out of memory for the list");
    } else {
        WriteScanText(GetStdHandle(STD_OUTPUT_HANDLE), text.text, text.length);
    }
    FreeTextBuffer(&text);
    HeapFree(GetProcessHeap(), 0, rows);
}

// Discovery from the interface table's build to its teardown, the table
// and its view on this thread. Returns the status of the run.
int Discover(const ScanOptions& options, DeviceTable* table, ScanView* view)
{
    if (options.subnet != kAllInterfaces) {
        uint32_t network = NetworkHolding(options.subnet);
        if (network == kAllInterfaces) {
            wchar_t text[96];
            wchar_t address[32];
            FormatDottedQuad(options.subnet, address, 32);
            _snwprintf(text, 96, L"no IPv4 interface of this computer is in the subnet of %ls", address);
            text[95] = L'\0';
            ScanError(text);
            SetEvent(g_stopEvent);
            StopDiscovery(nullptr, nullptr, E_FAIL);
            return kScanCannotRun;
        }
        // Read by the workers, which are still suspended.
        g_subnetFilter = network;
    }

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ScanWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    ScanSession session = {table, view, options.watch};
    HWND window = nullptr;
    if (RegisterClassW(&windowClass) != 0) {
        window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, &session);
    }
    if (window == nullptr) {
        ScanError(L"cannot create the window that receives the answers");
        SetEvent(g_stopEvent);
        StopDiscovery(nullptr, nullptr, E_FAIL);
        UnregisterClassW(kWindowClass, instance);
        return kScanCannotRun;
    }
    // Set before the workers run, so that their first answers arrive.
    g_mainWindow = window;
    HANDLE watcher = StartAppThread(AddressWatcher);
    HANDLE ticker = StartAppThread(ExpiryTicker);
    if (options.watch) {
        view->PrintHeader();
    }
    ResumeInterfaceWorkers();

    wchar_t note[128];
    if (options.watch) {
        _snwprintf(note, 128, L"Watching for devices; Ctrl+C ends.\r\n");
    } else {
        _snwprintf(note, 128, L"Listening for %u s...\r\n", options.seconds);
    }
    note[127] = L'\0';
    Progress(note);

    RunLoop(options.seconds * 1000, *view);

    SetEvent(g_stopEvent);
    StopDiscovery(watcher, ticker, E_FAIL);
    // Nothing posts any more; what did before is still in the queue.
    g_mainWindow = nullptr;
    DrainQueue(window);
    DestroyWindow(window);
    UnregisterClassW(kWindowClass, instance);

    if (!options.watch) {
        PrintList(*table, options.format);
    }
    return view->Listed() ? kScanListed : kScanNoneListed;
}

}  // namespace

void ScanError(const wchar_t* text)
{
    ErrorLineBox(nullptr, text, nullptr, 0);
}

int RunScan(const ScanOptions& options)
{
    // Multibyte conversions (reply texts) follow the user's code page, as in
    // the window program.
    setlocale(LC_ALL, "");
    g_platform.messageBox = ErrorLineBox;

    g_quitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_finishedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_quitEvent == nullptr || g_finishedEvent == nullptr || stopEvent == nullptr) {
        ScanError(L"cannot create the events the run needs");
        return kScanCannotRun;
    }
    g_stopEvent = stopEvent;  // like the quit events, lives until the process ends
    g_instance = GetModuleHandleW(nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    // With --watch rows come and go as with auto-refresh on; without it the
    // one listening period is the window's first pass with auto-refresh
    // off: every interface asks once, and no row expires.
    g_autoRefresh = options.watch ? 1 : 0;
    ChooseWays(options.ways);

    EnsureFirewallRule();

    WSADATA winsock;
    int started = WSAStartup(MAKEWORD(2, 2), &winsock);
    if (started != 0) {
        wchar_t text[96];
        _snwprintf(text, 96, L"the system refused the network sockets (WSAStartup error %d)", started);
        text[95] = L'\0';
        ScanError(text);
        SetEvent(g_finishedEvent);
        return kScanCannotRun;
    }
    // Ours stands by where the system has no multicast DNS client or it refuses.
    InstallMulticastDnsClient();

    int status = kScanCannotRun;
    // Its failure was told on stderr through the message-box seam.
    if (BuildInterfaceTable()) {
        DeviceTable table;
        ScanView view(options.format, options.watch);
        table.SetView(&view);
        status = Discover(options, &table, &view);
        table.SetView(nullptr);
    } else {
        WSACleanup();
    }
    SetEvent(g_finishedEvent);
    return status;
}
