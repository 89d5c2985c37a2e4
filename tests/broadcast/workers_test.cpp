// The transmit and receive workers on a real socket, over loopback only:
// the "interface" broadcasts to 127.0.0.1 and a test socket on
// 127.0.0.1:30303 plays the device. Runs inside the lab namespace.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <process.h>
#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include <atomic>
#include <string>
#include <vector>

#include "core/app_messages.h"
#include "core/device_record.h"
#include "core/device_table.h"
#include "core/diagnostics.h"
#include "core/globals.h"
#include "core/platform.h"
#include "broadcast/heap_bytes.h"
#include "broadcast/test_addresses.h"
#include "net/discovery_request.h"
#include "net/interface_table.h"
#include "net/receive_worker.h"
#include "net/recent_senders.h"
#include "net/request_schedule.h"
#include "net/workers.h"

namespace {

// ---- a window that collects the posted records ----

std::vector<DeviceRecord> g_received;

LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP_DEVICE) {
        DeviceRecord* record = reinterpret_cast<DeviceRecord*>(lParam);
        EXPECT_EQ(wParam, sizeof(DeviceRecord));
        g_received.push_back(*record);
        FreeDeviceRecord(record);  // the window owns what it receives
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateSinkWindow()
{
    static ATOM atom = 0;
    if (atom == 0) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = SinkProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"BroadcastTestSink";
        atom = RegisterClassW(&windowClass);
    }
    return CreateWindowExW(0, L"BroadcastTestSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Dispatches messages until count records have arrived or ms have passed.
void PumpUntil(size_t count, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        DWORD elapsed = GetTickCount() - start;
        if (g_received.size() >= count || elapsed >= ms) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

// ---- a fake ARP table that knows 127.0.0.2 at 00-11-22-AA-BB-CC, and
// 127.0.0.3 at 00-11-22-AA-BB-CD once g_knowsThird is set ----

std::atomic<bool> g_knowsThird(false);
std::atomic<int> g_arpReads(0);

DWORD WINAPI FakeArpTable(PMIB_IPNETTABLE table, PULONG size, BOOL)
{
    DWORD rows = g_knowsThird ? 2 : 1;
    ULONG needed = static_cast<ULONG>(offsetof(MIB_IPNETTABLE, table) + rows * sizeof(MIB_IPNETROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    ++g_arpReads;
    memset(table, 0, needed);
    table->dwNumEntries = rows;
    for (DWORD i = 0; i < rows; ++i) {
        MIB_IPNETROW& row = table->table[i];
        row.dwAddr = Ipv4(127, 0, 0, 2 + i);
        row.dwPhysAddrLen = 6;
        const unsigned char mac[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, static_cast<unsigned char>(0xCC + i)};
        memcpy(row.bPhysAddr, mac, sizeof(mac));
        row.dwType = 3;
    }
    return NO_ERROR;
}

// ---- loopback sockets ----

const uint32_t kOtherDevice = Ipv4(127, 0, 0, 2);

SOCKET BindUdp(uint32_t address, uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return s;
    }
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Reads one datagram if one arrives within ms.
bool ReceiveWithin(SOCKET s, DWORD ms, std::string* payload, sockaddr_in* from)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout = {static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    if (select(0, &readable, nullptr, nullptr, &timeout) <= 0) {
        return false;
    }
    char buffer[2048];
    sockaddr_in sender = {};
    int senderLength = sizeof(sender);
    int n = recvfrom(s, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&sender),
                     &senderLength);
    if (n < 0) {
        return false;
    }
    payload->assign(buffer, static_cast<size_t>(n));
    if (from != nullptr) {
        *from = sender;
    }
    return true;
}

// Counts the datagrams that arrive within ms.
int CountWithin(SOCKET s, DWORD ms)
{
    int count = 0;
    DWORD start = GetTickCount();
    std::string payload;
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) {
            return count;
        }
        if (ReceiveWithin(s, ms - elapsed, &payload, nullptr)) {
            ++count;
        }
    }
}

void SendTo(SOCKET s, const sockaddr_in& to, const std::string& payload)
{
    int sent = sendto(s, payload.data(), static_cast<int>(payload.size()), 0,
                      reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    ASSERT_EQ(sent, static_cast<int>(payload.size()));
}

unsigned __stdcall TryMutex(void* mutex)
{
    DWORD result = WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        ReleaseMutex(static_cast<HANDLE>(mutex));
        return 1;
    }
    return 0;
}

// A mutex is recursive for its owner, so only another thread can tell.
bool MutexIsFreeForOtherThreads(HANDLE mutex)
{
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, TryMutex, mutex, 0, nullptr));
    if (thread == nullptr) {
        return false;
    }
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code == 1;
}

// Sends one UDP datagram to a loopback socket with the given source address.
// Wine binds a datagram socket asked for 127.0.0.2 to the wildcard address,
// so its datagrams would leave from 127.0.0.1; a raw socket with our own IP
// header gives them the wanted source. (The lab runs Wine as root.)
void SendFrom(uint32_t source, uint16_t sourcePort, const sockaddr_in& to,
              const std::string& payload)
{
    SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    ASSERT_NE(raw, INVALID_SOCKET) << "raw socket: " << WSAGetLastError();
    DWORD on = 1;
    ASSERT_EQ(setsockopt(raw, IPPROTO_IP, IP_HDRINCL, reinterpret_cast<const char*>(&on),
                         sizeof(on)),
              0);
    std::string packet(28, '\0');
    packet += payload;
    unsigned char* p = reinterpret_cast<unsigned char*>(&packet[0]);
    u_short total = htons(static_cast<u_short>(packet.size()));
    u_short udpLength = htons(static_cast<u_short>(8 + payload.size()));
    u_short port = htons(sourcePort);
    p[0] = 0x45;  // IPv4, 20-byte header; the kernel fills in the checksum
    memcpy(p + 2, &total, 2);
    p[8] = 64;    // TTL
    p[9] = IPPROTO_UDP;
    memcpy(p + 12, &source, 4);
    memcpy(p + 16, &to.sin_addr.s_addr, 4);
    memcpy(p + 20, &port, 2);
    memcpy(p + 22, &to.sin_port, 2);
    memcpy(p + 24, &udpLength, 2);  // UDP checksum 0: none
    sockaddr_in destination = {};
    destination.sin_family = AF_INET;
    destination.sin_addr = to.sin_addr;
    int sent = sendto(raw, packet.data(), static_cast<int>(packet.size()), 0,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
    closesocket(raw);
    ASSERT_EQ(sent, static_cast<int>(packet.size()));
}

ULONGLONG ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (k.QuadPart + u.QuadPart) / 10000;
}

unsigned __stdcall Spin(void* parameter)
{
    DWORD start = GetTickCount();
    volatile unsigned long long sink = 0;
    while (GetTickCount() - start < *static_cast<DWORD*>(parameter)) {
        sink = sink + 1;
    }
    return 0;
}

// What the counters hold for the interface at address.
uint32_t Counted(uint32_t address, diag::Counter counter)
{
    diag::InterfaceCounts counts[diag::kMaxInterfaces];
    int copied = diag::Snapshot(counts, diag::kMaxInterfaces);
    for (int i = 0; i < copied; ++i) {
        if (counts[i].address == address) {
            return counts[i].counts[counter];
        }
    }
    return 0;
}

class BroadcastWorkers : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }

    static void TearDownTestSuite() { WSACleanup(); }

    void SetUp() override
    {
        savedPlatform_ = g_platform;
        savedFilter_ = g_subnetFilter;
        savedAutoRefresh_ = g_autoRefresh;
        g_autoRefresh = 0;
        g_subnetFilter = kAllInterfaces;
        g_platform.getIpNetTable = FakeArpTable;
        g_knowsThird = false;
        g_arpReads = 0;
        g_received.clear();
        diag::Reset();

        entry_.socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        ASSERT_NE(entry_.socket, INVALID_SOCKET);
        BOOL enable = TRUE;
        ASSERT_EQ(setsockopt(entry_.socket, SOL_SOCKET, SO_BROADCAST,
                             reinterpret_cast<const char*>(&enable), sizeof(enable)),
                  0);
        entry_.socketMutex = CreateMutexW(nullptr, FALSE, nullptr);
        entry_.transmitTrigger = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        entry_.mdnsTrigger = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        entry_.abortEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(entry_.socketMutex, nullptr);
        ASSERT_NE(entry_.transmitTrigger, nullptr);
        ASSERT_NE(entry_.abortEvent, nullptr);
        entry_.address = Ipv4(127, 0, 0, 1);
        entry_.mask = Ipv4(255, 0, 0, 0);
        entry_.network = Ipv4(127, 0, 0, 0);
        entry_.broadcast = Ipv4(127, 0, 0, 1);  // loopback stands in for the broadcast
        entry_.interfaceIndex = 1;
    }

    void TearDown() override
    {
        if (entry_.abortEvent != nullptr) {
            SetEvent(entry_.abortEvent);
        }
        bool joined = true;
        for (HANDLE thread : threads_) {
            if (WaitForSingleObject(thread, 3000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "a worker did not end after its abort event";
                joined = false;
                continue;
            }
            CloseHandle(thread);
        }
        if (joined) {  // a worker still running keeps its objects
            if (entry_.socket != INVALID_SOCKET) closesocket(entry_.socket);
            for (HANDLE h : {entry_.socketMutex, entry_.transmitTrigger, entry_.mdnsTrigger,
                             entry_.abortEvent}) {
                if (h != nullptr) CloseHandle(h);
            }
        }
        for (SOCKET s : sockets_) {
            closesocket(s);
        }
        if (window_ != nullptr) {
            g_mainWindow = nullptr;
            DestroyWindow(window_);
        }
        g_received.clear();
        g_platform = savedPlatform_;
        g_subnetFilter = savedFilter_;
        g_autoRefresh = savedAutoRefresh_;
    }

    HANDLE Start(unsigned(__stdcall* worker)(void*))
    {
        HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, worker, &entry_, 0, nullptr));
        EXPECT_NE(thread, nullptr);
        if (thread != nullptr) {
            threads_.push_back(thread);
        }
        return thread;
    }

    SOCKET Device(uint32_t address, uint16_t port)
    {
        SOCKET s = BindUdp(address, port);
        EXPECT_NE(s, INVALID_SOCKET) << "bind failed: " << WSAGetLastError();
        if (s != INVALID_SOCKET) {
            sockets_.push_back(s);
        }
        return s;
    }

    void UseSinkWindow()
    {
        window_ = CreateSinkWindow();
        ASSERT_NE(window_, nullptr);
        g_mainWindow = window_;
    }

    // Lets the transmit worker send one request, which gives the entry's
    // socket its port; returns where replies must go.
    sockaddr_in FirstRequest(SOCKET device)
    {
        SetEvent(entry_.transmitTrigger);
        std::string payload;
        sockaddr_in from = {};
        EXPECT_TRUE(ReceiveWithin(device, 2000, &payload, &from));
        EXPECT_EQ(payload, std::string(kDiscoveryRequest, kDiscoveryRequestLength));
        return from;
    }

    // A device socket on 127.0.0.1, the sink window and both workers, after
    // the first request: replies sent to *worker reach the receive worker.
    void StartBothWorkers(SOCKET* device, sockaddr_in* worker)
    {
        *device = Device(Ipv4(127, 0, 0, 1), kDiscoveryPort);
        ASSERT_NE(*device, INVALID_SOCKET);
        ASSERT_NO_FATAL_FAILURE(UseSinkWindow());
        Start(ReceiveWorker);
        Start(TransmitWorker);
        *worker = FirstRequest(*device);
    }

    InterfaceEntry entry_ = {INVALID_SOCKET, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    std::vector<HANDLE> threads_;
    std::vector<SOCKET> sockets_;
    HWND window_ = nullptr;
    PlatformServices savedPlatform_;
    uint32_t savedFilter_ = kAllInterfaces;
    int32_t savedAutoRefresh_ = 0;
};

// recvfrom as on Windows after a request met a closed port: the report of
// it first, then a datagram from kOtherDevice, then an empty socket.
int g_readCalls = 0;

int WSAAPI ClosedPortThenDatagram(SOCKET, char* buffer, int, int, sockaddr* from, int* fromLength)
{
    int call = g_readCalls++;
    if (call != 1) {
        WSASetLastError(call == 0 ? WSAECONNRESET : WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }
    sockaddr_in sender = {};
    sender.sin_family = AF_INET;
    sender.sin_addr.s_addr = kOtherDevice;
    memcpy(from, &sender, sizeof(sender));
    *fromLength = sizeof(sender);
    memcpy(buffer, "Reply", 5);
    return 5;
}

TEST(BroadcastRead, AClosedPortsReportDoesNotStopTheReads)
{
    PlatformServices saved = g_platform;
    g_platform.recvFrom = ClosedPortThenDatagram;
    ReceivedDatagram batch[4];
    bool failed = true;
    EXPECT_EQ(ReadDatagrams(INVALID_SOCKET, true, batch, 4, &failed), 1);
    EXPECT_FALSE(failed) << "the worker would pause its reading";
    g_platform = saved;
}

// The schedule's times are request_schedule_test's; here, that a trigger
// sends one pass (a late wake may merge two of its requests) and no more.
// Counted until 0.3 s after the last: before auto-refresh's next request.
void ExpectOnePass(SOCKET device)
{
    int count = CountWithin(device, kPassOffsetsMs[kPassRequests - 1] + 300);
    EXPECT_GE(count, static_cast<int>(kPassRequests) - 2);
    EXPECT_LE(count, static_cast<int>(kPassRequests));
}

TEST_F(BroadcastWorkers, TransmitSendsOnePassPerTrigger)
{
    SOCKET device = Device(Ipv4(127, 0, 0, 1), kDiscoveryPort);
    ASSERT_NE(device, INVALID_SOCKET);
    Start(TransmitWorker);

    SetEvent(entry_.transmitTrigger);
    std::string payload;
    sockaddr_in first = {};
    ASSERT_TRUE(ReceiveWithin(device, 2000, &payload, &first));
    EXPECT_EQ(payload.size(), 29u);
    EXPECT_EQ(payload, "Discovery: Who is out there ?");
    EXPECT_NE(first.sin_port, 0);
    int rest = CountWithin(device, kPassOffsetsMs[kPassRequests - 1] + 700);
    EXPECT_GE(rest, static_cast<int>(kPassRequests) - 3);
    EXPECT_LE(rest, static_cast<int>(kPassRequests) - 1);

    // Auto-refresh off: after the pass, time-outs send nothing.
    EXPECT_EQ(CountWithin(device, 1200), 0);

    SetEvent(entry_.transmitTrigger);
    sockaddr_in second = {};
    ASSERT_TRUE(ReceiveWithin(device, 2000, &payload, &second));
    EXPECT_EQ(second.sin_port, first.sin_port) << "every request leaves from the same socket";
}

TEST_F(BroadcastWorkers, TransmitSkipsAnInterfaceTheFilterExcludes)
{
    SOCKET device = Device(Ipv4(127, 0, 0, 1), kDiscoveryPort);
    ASSERT_NE(device, INVALID_SOCKET);
    g_subnetFilter = Ipv4(10, 0, 0, 0);
    Start(TransmitWorker);

    SetEvent(entry_.transmitTrigger);
    EXPECT_EQ(CountWithin(device, 800), 0);

    // The trigger was used up while excluded, and started no pass:
    // admitting the interface alone sends nothing until the next trigger.
    g_subnetFilter = entry_.network;
    EXPECT_EQ(CountWithin(device, 2000), 0);
    SetEvent(entry_.transmitTrigger);
    ExpectOnePass(device);
}

TEST_F(BroadcastWorkers, TransmitWithAutoRefreshStartsWithAPassThenSendsTwiceASecond)
{
    SOCKET device = Device(Ipv4(127, 0, 0, 1), kDiscoveryPort);
    ASSERT_NE(device, INVALID_SOCKET);
    g_autoRefresh = 1;
    Start(TransmitWorker);

    ExpectOnePass(device);
    int count = CountWithin(device, 2100);
    EXPECT_GE(count, 3);
    EXPECT_LE(count, 5);
}

TEST_F(BroadcastWorkers, TransmitEndsPromptlyOnAbort)
{
    HANDLE thread = Start(TransmitWorker);
    ASSERT_NE(thread, nullptr);
    Sleep(200);
    DWORD start = GetTickCount();
    SetEvent(entry_.abortEvent);
    ASSERT_EQ(WaitForSingleObject(thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    // The abort ends the trigger wait itself, not only the next pass.
    EXPECT_LT(GetTickCount() - start, 150u);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
}

TEST_F(BroadcastWorkers, ReceivePostsRepliesFromAcceptedSenders)
{
    SOCKET device = INVALID_SOCKET;
    sockaddr_in worker = {};
    ASSERT_NO_FATAL_FAILURE(StartBothWorkers(&device, &worker));

    const std::string reply = "Speaker\r\n00-11-22-aa-bb-cc\r\nOrvel S1\r\n8080";
    SendTo(device, worker, "From 127.0.0.1\r\n00-11-22-AA-BB-CC\r\nOrvel X");  // ignored
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "");                                                 // empty
    SendFrom(kOtherDevice, kDiscoveryPort, worker, std::string(1537, 'x'));                             // too long
    DWORD before = GetTickCount();
    SendFrom(kOtherDevice, kDiscoveryPort, worker, reply);

    PumpUntil(1, 3000);
    PumpUntil(2, 300);  // anything wrongly accepted would be here by now
    DWORD after = GetTickCount();
    ASSERT_EQ(g_received.size(), 1u);
    const DeviceRecord& record = g_received[0];
    EXPECT_STREQ(record.ipText, L"127.0.0.2");
    EXPECT_EQ(record.state, DeviceStateNormal);
    EXPECT_STREQ(record.name, L"Speaker");
    EXPECT_STREQ(record.macText, L"00-11-22-aa-bb-cc");
    EXPECT_STREQ(record.description, L"Orvel S1");
    EXPECT_STREQ(record.portText, L"8080");
    EXPECT_EQ(record.arpConfirmed, 1);
    EXPECT_EQ(record.arpMismatch, 0);
    EXPECT_EQ(record.fromMdns, 0);
    EXPECT_LE(record.lastSeen - before, after - before) << "lastSeen is the tick of arrival";
}

TEST_F(BroadcastWorkers, ReceiveTakesTheLongestDatagramAndEachReplyApart)
{
    SOCKET device = INVALID_SOCKET;
    sockaddr_in worker = {};
    ASSERT_NO_FATAL_FAILURE(StartBothWorkers(&device, &worker));

    const std::string longest = std::string(600, 'x') + "\r\n\r\nOrvel " + std::string(926, 'd');
    ASSERT_EQ(longest.size(), 1536u);
    SendFrom(kOtherDevice, kDiscoveryPort, worker, longest);
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Twice\r\n00-11-22-AA-BB-CD\r\nOrvel T");
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Twice\r\n00-11-22-AA-BB-CD\r\nOrvel T2");
    PumpUntil(3, 3000);
    ASSERT_EQ(g_received.size(), 3u);
    EXPECT_EQ(wcslen(g_received[0].name), 255u);
    EXPECT_EQ(wcslen(g_received[0].description), 255u);
    EXPECT_STREQ(g_received[0].portText, L"80");
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_STREQ(g_received[i].name, L"Twice");
        EXPECT_EQ(g_received[i].arpMismatch, 1);
        EXPECT_EQ(g_received[i].arpConfirmed, 0);
    }
}

TEST_F(BroadcastWorkers, ReceiveDropsRepliesWhileTheFilterExcludesTheInterface)
{
    SOCKET device = INVALID_SOCKET;
    sockaddr_in worker = {};
    ASSERT_NO_FATAL_FAILURE(StartBothWorkers(&device, &worker));

    g_subnetFilter = Ipv4(10, 0, 0, 0);
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Excluded\r\n\r\nOrvel E");
    PumpUntil(1, 600);
    EXPECT_EQ(g_received.size(), 0u);

    g_subnetFilter = entry_.network;
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Admitted\r\n\r\nOrvel A");
    PumpUntil(1, 3000);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_STREQ(g_received[0].name, L"Admitted");
}

TEST_F(BroadcastWorkers, ReceiveDropsOtherMakersBeforeAnyArpRead)
{
    SOCKET device = INVALID_SOCKET;
    sockaddr_in worker = {};
    ASSERT_NO_FATAL_FAILURE(StartBothWorkers(&device, &worker));

    // From senders no table knows: had any cost an ARP read, the answer
    // below would come a snapshot's lifetime later and read again.
    const char* const others[] = {"A\r\n00-11-22-AA-BB-CC\r\nOrvelS1", "B\r\n\r\norvel S1",
                                  "C\r\n\r\nOther S1", "D\r\n00-11-22-AA-BB-CC", "garbage"};
    for (size_t i = 0; i < sizeof(others) / sizeof(others[0]); ++i) {
        SendFrom(Ipv4(127, 0, 0, 10 + static_cast<unsigned>(i)), kDiscoveryPort, worker, others[i]);
    }
    Sleep(300);
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Kept\r\n00-11-22-AA-BB-CC\r\nOrvel S1");
    PumpUntil(1, 3000);
    PumpUntil(2, 300);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_STREQ(g_received[0].name, L"Kept");
    EXPECT_EQ(g_received[0].arpConfirmed, 1);
    EXPECT_EQ(g_arpReads, 1);

    // Each answer's fate is counted on the interface that heard it: the two
    // without a description line are no reply at all.
    struct Fate {
        diag::Counter counter;
        uint32_t expected;
    };
    const Fate fates[] = {{diag::kAnswersReceived, 6}, {diag::kAnswersNotMaker, 3},
                          {diag::kAnswersMalformed, 2}, {diag::kAnswersListed, 1},
                          {diag::kAnswersHeldBack, 0}};
    for (const Fate& fate : fates) {
        EXPECT_EQ(Counted(entry_.address, fate.counter), fate.expected) << fate.counter;
    }
    EXPECT_GE(Counted(entry_.address, diag::kRequestsSent), 1u);
}

TEST_F(BroadcastWorkers, AnAnswerEndsTheIdleWaitAtOnce)
{
    SOCKET device = INVALID_SOCKET;
    sockaddr_in worker = {};
    ASSERT_NO_FATAL_FAILURE(StartBothWorkers(&device, &worker));
    Sleep(300);  // the worker is well inside a wait that nothing else would end

    DWORD sent = GetTickCount();
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Speaker\r\n00-11-22-AA-BB-CC\r\nOrvel S1");
    PumpUntil(1, 3000);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_LT(GetTickCount() - sent, kReceiveIdleWaitMs / 2) << "the answer waited for the wait's end";
}

TEST_F(BroadcastWorkers, ReceivePostsAWaitingAnswerWhenNothingMoreArrives)
{
    SOCKET device = INVALID_SOCKET;
    sockaddr_in worker = {};
    ASSERT_NO_FATAL_FAILURE(StartBothWorkers(&device, &worker));

    SendFrom(kOtherDevice, kDiscoveryPort, worker, "First\r\n00-11-22-AA-BB-CC\r\nOrvel S1");
    PumpUntil(1, 3000);
    ASSERT_EQ(g_received.size(), 1u);

    // A newcomer the snapshot just read cannot know: it waits for the next
    // allowed read, which the idle loop must make without another datagram.
    g_knowsThird = true;
    SendFrom(Ipv4(127, 0, 0, 3), kDiscoveryPort, worker, "Newcomer\r\n00-11-22-AA-BB-CD\r\nOrvel S1");
    PumpUntil(2, 3000);
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_STREQ(g_received[1].name, L"Newcomer");
    EXPECT_EQ(g_received[1].arpConfirmed, 1) << "judged against a read made after it arrived";
    EXPECT_EQ(g_received[1].arpMismatch, 0);
}

TEST_F(BroadcastWorkers, ReceiveWithAutoRefreshHoldsBackRepeatsUntilARefresh)
{
    SOCKET device = INVALID_SOCKET;
    sockaddr_in worker = {};
    ASSERT_NO_FATAL_FAILURE(StartBothWorkers(&device, &worker));
    g_autoRefresh = 1;
    const std::string same = "Same\r\n00-11-22-AA-BB-CC\r\nOrvel S1";

    // The hold starts when the first answer is posted (after the read that
    // judged it), so the repeat is held back unless the hold has passed
    // (its lastSeen then shows it), and the changed one comes next.
    SendFrom(kOtherDevice, kDiscoveryPort, worker, same);
    PumpUntil(1, 3000);
    SendFrom(kOtherDevice, kDiscoveryPort, worker, same);
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Changed\r\n00-11-22-AA-BB-CC\r\nOrvel S1");
    PumpUntil(2, 3000);
    ASSERT_EQ(g_received.size(), 2u);
    if (wcscmp(g_received[1].name, L"Same") == 0) {
        EXPECT_GE(g_received[1].lastSeen - g_received[0].lastSeen, kUnchangedAnswerPostMs);
        PumpUntil(3, 3000);
        ASSERT_EQ(g_received.size(), 3u);
    }
    EXPECT_STREQ(g_received.back().name, L"Changed");

    // Without auto-refresh rows never expire: a repeat is held back
    // however late it comes, until a Refresh.
    g_autoRefresh = 0;
    size_t before = g_received.size();
    Sleep(kUnchangedAnswerPostMs);
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Changed\r\n00-11-22-AA-BB-CC\r\nOrvel S1");
    PumpUntil(before + 1, 600);
    EXPECT_EQ(g_received.size(), before);
    EXPECT_GE(Counted(entry_.address, diag::kAnswersHeldBack), 1u);

    // The window empties its list on a refresh: a repeat goes out at once,
    // and the counts start afresh.
    TriggerRefresh();
    SendFrom(kOtherDevice, kDiscoveryPort, worker, "Changed\r\n00-11-22-AA-BB-CC\r\nOrvel S1");
    PumpUntil(before + 1, 3000);
    ASSERT_EQ(g_received.size(), before + 1);
    EXPECT_STREQ(g_received.back().name, L"Changed");
    PumpUntil(before + 2, 200);  // the count follows the post on the worker's thread
    EXPECT_EQ(Counted(entry_.address, diag::kAnswersHeldBack), 0u);
    EXPECT_EQ(Counted(entry_.address, diag::kAnswersListed), 1u);
}

TEST_F(BroadcastWorkers, AQuietDeviceIsAskedDirectlyAndItsAnswerIsPosted)
{
    // Only the receive worker runs: every request the device hears is a
    // direct one, sent to 127.0.0.2 from the entry's own socket.
    SOCKET device = Device(INADDR_ANY, kDiscoveryPort);
    ASSERT_NE(device, INVALID_SOCKET);
    sockaddr_in worker = {};
    worker.sin_family = AF_INET;
    worker.sin_addr.s_addr = Ipv4(127, 0, 0, 1);
    int length = sizeof(worker);
    ASSERT_EQ(bind(entry_.socket, reinterpret_cast<const sockaddr*>(&worker), sizeof(worker)), 0);
    ASSERT_EQ(getsockname(entry_.socket, reinterpret_cast<sockaddr*>(&worker), &length), 0);
    ASSERT_NO_FATAL_FAILURE(UseSinkWindow());
    g_autoRefresh = 1;
    Start(ReceiveWorker);
    const std::string answer = "Quiet\r\n00-11-22-AA-BB-CC\r\nOrvel S1";

    // The first answer is remembered when it is posted.
    SendFrom(kOtherDevice, kDiscoveryPort, worker, answer);
    PumpUntil(1, 3000);
    ASSERT_EQ(g_received.size(), 1u);
    DWORD posted = GetTickCount();

    std::string payload;
    sockaddr_in from = {};
    ASSERT_TRUE(ReceiveWithin(device, kDeviceExpiryMs, &payload, &from)) << "never asked";
    EXPECT_GE(GetTickCount() - posted, kConfirmFirstMs - 100) << "asked while it still answered";
    EXPECT_EQ(payload, std::string(kDiscoveryRequest, kDiscoveryRequestLength));
    EXPECT_EQ(from.sin_port, worker.sin_port) << "asked from the socket its answer must reach";

    // Its unchanged answer is posted, not held back as a repeat.
    SendFrom(kOtherDevice, kDiscoveryPort, worker, answer);
    PumpUntil(2, 1000);
    EXPECT_EQ(g_received.size(), 2u);
}

TEST_F(BroadcastWorkers, TransmitPassOutlastsARefusedSend)
{
    // A broadcast without SO_BROADCAST is refused; allowing it later lets
    // the pass's next request through. 127.255.255.255 stays on the
    // loopback interface.
    SOCKET device = Device(INADDR_ANY, kDiscoveryPort);
    ASSERT_NE(device, INVALID_SOCKET);
    entry_.broadcast = Ipv4(127, 255, 255, 255);
    auto allowBroadcast = [this](BOOL on) {
        ASSERT_EQ(setsockopt(entry_.socket, SOL_SOCKET, SO_BROADCAST,
                             reinterpret_cast<const char*>(&on), sizeof(on)),
                  0);
    };
    allowBroadcast(FALSE);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscoveryPort);
    to.sin_addr.s_addr = entry_.broadcast;
    ASSERT_EQ(sendto(entry_.socket, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)),
              SOCKET_ERROR) << "this platform sends broadcasts without SO_BROADCAST";
    HANDLE thread = Start(TransmitWorker);
    ASSERT_NE(thread, nullptr);

    // Refused at 0, 0.3, 0.6 and 0.9 s; sent at 1.2 (or refused), 1.5,
    // 1.85, 2.2 and 2.6 s.
    allowBroadcast(FALSE);
    SetEvent(entry_.transmitTrigger);
    Sleep(1050);
    allowBroadcast(TRUE);
    int sent = CountWithin(device, 2500);
    EXPECT_GE(sent, 3);
    EXPECT_LE(sent, 5);

    // The wait within a pass ends at once on abort.
    allowBroadcast(FALSE);
    SetEvent(entry_.transmitTrigger);
    Sleep(100);
    DWORD start = GetTickCount();
    SetEvent(entry_.abortEvent);
    ASSERT_EQ(WaitForSingleObject(thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_LT(GetTickCount() - start, 150u);
}

TEST_F(BroadcastWorkers, ARecordThatCannotBePostedIsFreed)
{
    HWND destroyed = CreateSinkWindow();
    ASSERT_NE(destroyed, nullptr);
    DestroyWindow(destroyed);
    const HWND targets[] = {nullptr, destroyed};
    const int kRecords = 2000;  // 2.8 MB if each one leaked
    for (HWND target : targets) {
        SCOPED_TRACE(target == nullptr ? "no window" : "destroyed window");
        g_mainWindow = target;
        SIZE_T before = HeapBytesInUse();
        ASSERT_GT(before, 0u) << "the process heap cannot be walked";
        for (int i = 0; i < kRecords; ++i) {
            DeviceRecord* record = AllocateDeviceRecord();
            ASSERT_NE(record, nullptr);
            EXPECT_FALSE(PostDeviceRecord(record));
        }
        SIZE_T after = HeapBytesInUse();
        EXPECT_LT(after, before + kRecords * sizeof(DeviceRecord) / 4);
    }
    g_mainWindow = nullptr;
}

TEST_F(BroadcastWorkers, SocketWaitLastsItsSliceOnASocketWithoutAPort)
{
    HANDLE abort = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    ASSERT_NE(abort, nullptr);
    ASSERT_NE(mutex, nullptr);
    SOCKET fresh = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(fresh, INVALID_SOCKET);

    struct Target {
        const char* label;
        SOCKET socket;
    };
    const Target targets[] = {{"never sent", fresh}, {"not a socket", INVALID_SOCKET}};
    for (const Target& target : targets) {
        SCOPED_TRACE(target.label);
        DWORD start = GetTickCount();
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
            EXPECT_FALSE(WaitForDatagram(target.socket, mutex, abort));
            // The lock was given back: another thread can take it at once.
            EXPECT_TRUE(MutexIsFreeForOtherThreads(mutex));
        }
        EXPECT_GE(GetTickCount() - start, 5 * kReceiveSliceMs - 40);
    }

    // The abort event cuts the rest of a failed wait short.
    SetEvent(abort);
    ASSERT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD start = GetTickCount();
    EXPECT_FALSE(WaitForDatagram(INVALID_SOCKET, mutex, abort));
    EXPECT_LT(GetTickCount() - start, 50u);

    closesocket(fresh);
    CloseHandle(mutex);
    CloseHandle(abort);
}

TEST_F(BroadcastWorkers, SocketWaitKeepsTheLockWhenADatagramIsReady)
{
    SOCKET receiver = Device(Ipv4(127, 0, 0, 1), 0);
    SOCKET sender = Device(Ipv4(127, 0, 0, 1), 0);
    ASSERT_NE(receiver, INVALID_SOCKET);
    ASSERT_NE(sender, INVALID_SOCKET);
    sockaddr_in to = {};
    int length = sizeof(to);
    ASSERT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &length), 0);
    SendTo(sender, to, "ready");

    ASSERT_EQ(WaitForSingleObject(entry_.socketMutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(WaitForDatagram(receiver, entry_.socketMutex, entry_.abortEvent));
    EXPECT_FALSE(MutexIsFreeForOtherThreads(entry_.socketMutex));
    ReleaseMutex(entry_.socketMutex);
}

TEST_F(BroadcastWorkers, ReceiveLoopDoesNotSpinWithoutAPortOrASocket)
{
    // First measure what a thread that does spin costs on this (shared,
    // possibly busy) machine, so the limit below means something.
    DWORD spinMs = 500;
    ULONGLONG cpuBefore = ProcessCpuMs();
    HANDLE spinner = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Spin, &spinMs, 0, nullptr));
    ASSERT_NE(spinner, nullptr);
    WaitForSingleObject(spinner, INFINITE);
    CloseHandle(spinner);
    ULONGLONG spinCpu = ProcessCpuMs() - cpuBefore;
    ASSERT_GE(spinCpu, 50u) << "process CPU time is not measurable here";

    // A never-sent socket, then no socket at all (select fails at once).
    for (bool closeSocket : {false, true}) {
        SCOPED_TRACE(closeSocket ? "no socket" : "never-sent socket");
        if (closeSocket) {
            closesocket(entry_.socket);
            entry_.socket = INVALID_SOCKET;
            ResetEvent(entry_.abortEvent);
        }
        HANDLE thread = Start(ReceiveWorker);
        ASSERT_NE(thread, nullptr);
        cpuBefore = ProcessCpuMs();
        Sleep(1000);
        ULONGLONG used = ProcessCpuMs() - cpuBefore;
        // A spinning loop would cost about twice what the 500 ms spin did.
        EXPECT_LT(used, spinCpu / 2) << "the receive loop spins";

        // The mutex is held only in slices: a sender gets it.
        ASSERT_EQ(WaitForSingleObject(entry_.socketMutex, 500), static_cast<DWORD>(WAIT_OBJECT_0));
        ReleaseMutex(entry_.socketMutex);

        DWORD start = GetTickCount();
        SetEvent(entry_.abortEvent);
        ASSERT_EQ(WaitForSingleObject(thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_LT(GetTickCount() - start, 400u);
    }
}

}  // namespace
