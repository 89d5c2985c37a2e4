// The console program's run. It starts discovery as the window program does
// (Winsock, our multicast DNS client, the interface table,
// the address watcher and the expiry ticker), but its "main window" is a
// message-only window whose answers go into a DeviceTable; Ctrl+C, the end
// of the listening time or a reader that went away ends the loop, and
// discovery is taken down in the window program's order.
#include "console/run.h"

#include <winsock2.h>
#include <windows.h>
#include <locale.h>
#include <stdio.h>

#include "discovery/threads.h"
#include "discovery/lifetime.h"
#include "console/diagnose.h"
#include "console/events.h"
#include "console/interfaces.h"
#include "console/list.h"
#include "console/loop.h"
#include "console/output.h"
#include "console/printer.h"
#include "console/write.h"
#include "core/app_messages.h"
#include "core/device_table.h"
#include "core/diagnostics.h"
#include "core/globals.h"
#include "core/platform.h"
#include "firewall/firewall_rule.h"
#include "firewall/program_path.h"
#include "querier/client.h"
#include "net/address_class.h"
#include "net/interface_table.h"
#include "net/workers.h"

namespace {

const wchar_t kWindowClass[] = L"NetworkDiscoveryScanMessages";

// The message-box seam of a program without windows: one line on stderr.
int WINAPI ErrorLineBox(HWND, LPCWSTR text, LPCWSTR, UINT)
{
    ScanError(text != nullptr ? text : L"");
    return IDOK;
}

// The console only reads the firewall: changing a machine's policy is no
// side effect a listing may have, and the installer adds the console's rule.
// One line, once per run, when the firewall is on and that rule is missing.
void TellOfMissingFirewallRule()
{
    ProgramPath self;
    if (GetOwnProgramPath(&self) && IsFirewallRuleMissing(self.text)) {
        ScanError(L"the Windows Firewall is on and has no rule for this program: devices' answers "
                  L"may be blocked (the installer adds it; so does NetworkDiscoveryTool "
                  L"/AddFirewallRule, run as an administrator from the same folder)");
    }
}

// A progress note for a person at the console; never in a pipe or a file.
void Progress(const wchar_t* text)
{
    DWORD mode = 0;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(error, &mode)) {
        WriteScanText(error, text, static_cast<size_t>(lstrlenW(text)));
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

// The table's view: every change goes to the printer, and is accepted.
class ScanView : public DeviceTableView {
public:
    explicit ScanView(ScanPrinter* printer) : printer_(printer) {}
    ScanView(const ScanView&) = delete;
    ScanView& operator=(const ScanView&) = delete;

    bool RowAdded(const DeviceRow* row) override
    {
        printer_->Added(row);
        return true;
    }
    bool RowChanged(const DeviceRow* row, uint32_t changes) override
    {
        printer_->Changed(row, changes);
        return true;
    }
    bool RowRemoving(const DeviceRow* row) override
    {
        printer_->Removing(row);
        return true;
    }

private:
    ScanPrinter* printer_;
};

// What the message-only window works on.
struct ScanSession {
    DeviceTable* table;
    ScanPrinter* view;
    bool expire;  // --watch: rows go after the expiry span, as with auto-refresh
};

void OnDevice(ScanSession* session, WPARAM wParam, LPARAM lParam)
{
    DeviceRecord* record = reinterpret_cast<DeviceRecord*>(lParam);
    if (wParam != sizeof(DeviceRecord) || record == nullptr) {
        return;  // not a record of ours: not ours to free either
    }
    session->view->MergeAnswer(session->table, record);
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
    KeepScanInterfaces();
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

// After discovery has stopped: answers still queued are merged (they were
// heard within the listening time), anything else is dropped.
void DrainQueue(HWND window)
{
    MSG message;
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
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

// The network of the --subnet, or kAllInterfaces after telling on stderr
// which subnets there are.
uint32_t ChosenNetwork(const ScanOptions& options)
{
    uint32_t network = ScanNetworkOf(options.subnet, options.subnetPrefix);
    if (network != kAllInterfaces) {
        return network;
    }
    wchar_t address[32];
    wchar_t subnets[256];
    wchar_t text[400];
    FormatDottedQuad(options.subnet, address, 32);
    ListScanSubnets(subnets, 256);
    wchar_t prefix[8] = L"";
    if (options.subnetPrefix != kScanAnyPrefix) {
        _snwprintf(prefix, 8, L"/%d", options.subnetPrefix);
        prefix[7] = L'\0';
    }
    _snwprintf(text, 400, L"no IPv4 interface of this computer is %ls %ls%ls; its subnets: %ls",
               options.subnetPrefix == kScanAnyPrefix ? L"in the subnet of" : L"on", address, prefix, subnets);
    text[399] = L'\0';
    ScanError(text);
    return kAllInterfaces;
}

HWND CreateMessageWindow(ScanSession* session)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ScanWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    HWND window = nullptr;
    if (RegisterClassW(&windowClass) != 0) {
        window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, session);
    }
    if (window == nullptr) {
        ScanError(L"cannot create the window that receives the answers");
        UnregisterClassW(kWindowClass, instance);
    }
    return window;
}

void NoteStart(const ScanOptions& options)
{
    wchar_t note[128];
    if (options.watch) {
        _snwprintf(note, 128, L"Watching for devices; Ctrl+C ends.\r\n");
    } else {
        _snwprintf(note, 128, L"Listening for %u s...\r\n", options.seconds);
    }
    note[127] = L'\0';
    Progress(note);
}

// Listens until the run ends, then takes discovery down; how it went. With
// facts (--diagnose), they are read before the interface table goes.
ScanOutcome Listen(const ScanOptions& options, HWND window, ScanPrinter* view, diagnosis::Facts* facts)
{
    // Set before the workers run, so that their first answers arrive.
    g_mainWindow = window;
    HANDLE watcher = StartAppThread(AddressWatcher);
    HANDLE ticker = StartAppThread(ExpiryTicker);
    if (options.watch) {
        view->PrintHeader();
    }
    ResumeInterfaceWorkers();
    NoteStart(options);

    ScanLoopEnd end = RunScanLoop(options.seconds * 1000, view);
    if (facts != nullptr) {
        GatherScanFacts(0, facts);  // the rows are counted once the queue is drained
    }

    SetEvent(g_stopEvent);
    StopDiscovery(watcher, ticker, E_FAIL);
    // Nothing posts any more; what did before is still in the queue.
    g_mainWindow = nullptr;
    DrainQueue(window);
    DestroyWindow(window);
    UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
    return ScanOutcome{options.watch, false, end == kScanLoopQuit, end == kScanLoopTimeUp, view->WriteStatus()};
}

// Discovery from the interface table's build to its teardown, the table
// and its view on this thread. Returns the status of the run.
int Discover(const ScanOptions& options, DeviceTable* table, ScanPrinter* view)
{
    if (options.subnet != kAllInterfaces) {
        uint32_t network = ChosenNetwork(options);
        if (network == kAllInterfaces) {
            SetEvent(g_stopEvent);
            StopDiscovery(nullptr, nullptr, E_FAIL);
            return kScanCannotRun;
        }
        // Read by the workers, which are still suspended.
        g_subnetFilter = network;
        diag::Reset();
    }
    KeepScanInterfaces();
    ScanSession session = {table, view, options.watch};
    HWND window = CreateMessageWindow(&session);
    if (window == nullptr) {
        SetEvent(g_stopEvent);
        StopDiscovery(nullptr, nullptr, E_FAIL);
        return kScanCannotRun;
    }
    diagnosis::Facts facts;
    ScanOutcome outcome = Listen(options, window, view, options.diagnose ? &facts : nullptr);
    if (outcome.writeStatus != NO_ERROR && !(options.watch && IsReaderGone(outcome.writeStatus))) {
        ReportScanWriteFailure(outcome.writeStatus, L"standard output");
    }
    if (options.diagnose) {
        // A listing without --watch expires no row: the table holds every
        // device found.
        facts.rowsListed = table->Count();
        outcome.writeStatus = PrintScanDiagnosis(facts, options.format, GetStdHandle(STD_OUTPUT_HANDLE));
        outcome.listed = facts.rowsListed > 0;
        return ScanExitStatus(outcome);
    }
    if (!options.watch) {
        outcome.writeStatus = view->PrintList(*table, options);
    }
    outcome.listed = view->Listed();
    return ScanExitStatus(outcome);
}

}  // namespace

int RunScan(const ScanOptions& options)
{
    // Multibyte conversions (reply texts) follow the user's code page, as in
    // the window program.
    setlocale(LC_ALL, "");
    g_platform.messageBox = ErrorLineBox;

    // A file that cannot be written fails now, not after the listening time.
    if (options.output[0] != L'\0') {
        DWORD writable = CheckScanOutputFile(options.output);
        if (writable != NO_ERROR) {
            ReportScanWriteFailure(writable, options.output);
            return kScanWriteFailed;
        }
    }

    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!InstallScanQuitHandler() || stopEvent == nullptr) {
        ScanError(L"cannot create the events the run needs");
        return kScanCannotRun;
    }
    g_stopEvent = stopEvent;  // like the quit events, lives until the process ends
    g_instance = GetModuleHandleW(nullptr);

    // With --watch rows come and go as with auto-refresh on; without it the
    // one listening period is the window's first pass with auto-refresh
    // off: every interface asks once, and no row expires.
    g_autoRefresh = options.watch ? 1 : 0;
    ChooseWays(options.ways);

    TellOfMissingFirewallRule();

    WSADATA winsock;
    int started = WSAStartup(MAKEWORD(2, 2), &winsock);
    if (started != 0) {
        wchar_t text[96];
        _snwprintf(text, 96, L"the system refused the network sockets (WSAStartup error %d)", started);
        text[95] = L'\0';
        ScanError(text);
        ScanFinished();
        return kScanCannotRun;
    }
    // Ours stands by where the system has no multicast DNS client or it refuses.
    InstallMulticastDnsClient();
    if (options.verbose) {
        StartScanEvents();
    }

    int status = kScanCannotRun;
    // Its failure was told on stderr through the message-box seam.
    if (BuildInterfaceTable()) {
        DeviceTable table;
        ScanPrinter printer(options.format, options.watch, HeardOnFromInterfaces, GetStdHandle(STD_OUTPUT_HANDLE));
        ScanView view(&printer);
        table.SetView(&view);
        status = Discover(options, &table, &printer);
        table.SetView(nullptr);
    } else {
        // With no interface to ask on there is still a report to give: it
        // names that cause. The build's failure was told on stderr.
        if (options.diagnose) {
            diagnosis::Facts facts;
            GatherScanFacts(0, &facts);
            status = PrintScanDiagnosis(facts, options.format, GetStdHandle(STD_OUTPUT_HANDLE)) == NO_ERROR
                         ? kScanNoneListed
                         : kScanWriteFailed;
        }
        WSACleanup();
    }
    // Every worker has been joined: no event line is on its way.
    StopScanEvents();
    ScanFinished();
    return status;
}
