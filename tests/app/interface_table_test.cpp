// Building and tearing down the interface table from injected address tables.
#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/fake_platform.h"
#include "core/globals.h"
#include "browse/arp_requests.h"
#include "mdns/fake_dns_client.h"
#include "net/interface_table.h"

namespace {

class InterfaceTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_subnetFilter = kAllInterfaces;
        g_autoRefresh = 0;
    }
    void TearDown() override
    {
        TeardownInterfaceTable();
        g_subnetFilter = kAllInterfaces;
        g_autoRefresh = 0;
    }

    static bool IsSignalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

    FakePlatform fake;
};

TEST_F(InterfaceTableTest, OnlyLoopbackFailsWithNoInterfacesAndLeavesTableEmpty)
{
    fake.addresses = {{"127.0.0.1", "255.0.0.0", 1}};
    EXPECT_EQ(0, BuildInterfaceTable());
    ASSERT_EQ(1u, fake.boxes.size());
    EXPECT_EQ(L"No network interfaces detected", fake.boxes[0].text);
    EXPECT_EQ(L"Error", fake.boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), fake.boxes[0].type);
    EXPECT_EQ(nullptr, fake.boxes[0].owner);
    EXPECT_EQ(0u, g_interfaceTable.count);
    EXPECT_EQ(nullptr, g_interfaceTable.entries);
}

TEST_F(InterfaceTableTest, AddressTableThatCannotBeReadFails)
{
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 2}};
    fake.addressProbeResult = ERROR_NOT_SUPPORTED;  // probe must report a size
    EXPECT_EQ(0, BuildInterfaceTable());
    fake.addressProbeResult = ERROR_INSUFFICIENT_BUFFER;
    fake.addressReadResult = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(0, BuildInterfaceTable());
    ASSERT_EQ(2u, fake.boxes.size());
    EXPECT_EQ(L"Unable to load IP Address table", fake.boxes[0].text);
    EXPECT_EQ(L"Unable to load IP Address table", fake.boxes[1].text);
    EXPECT_EQ(0u, g_interfaceTable.count);
}

TEST_F(InterfaceTableTest, OtherLoopbackAddressesAndZeroAddressGetEntries)
{
    fake.addresses = {{"127.0.0.1", "255.0.0.0", 1},
                      {"0.0.0.0", "0.0.0.0", 3},
                      {"127.0.0.2", "255.0.0.0", 1},
                      {"10.1.2.3", "255.255.255.255", 4}};
    ASSERT_EQ(1, BuildInterfaceTable());
    EXPECT_TRUE(fake.boxes.empty());
    ASSERT_EQ(3u, g_interfaceTable.count);

    const InterfaceEntry& zero = g_interfaceTable.entries[0];
    EXPECT_EQ(0u, zero.address);
    EXPECT_EQ(Ipv4("255.255.255.255"), zero.broadcast);
    EXPECT_EQ(0u, zero.network);

    EXPECT_EQ(Ipv4("127.0.0.2"), g_interfaceTable.entries[1].address);

    const InterfaceEntry& host = g_interfaceTable.entries[2];
    EXPECT_EQ(Ipv4("10.1.2.3"), host.broadcast);  // a /32 broadcasts to itself
    EXPECT_EQ(Ipv4("10.1.2.3"), host.network);
}

TEST_F(InterfaceTableTest, EntriesFollowTableOrderWithDerivedAddressesAndLiveObjects)
{
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"169.254.3.4", "255.255.0.0", 9}};
    ASSERT_EQ(1, BuildInterfaceTable());
    ASSERT_EQ(2u, g_interfaceTable.count);
    const InterfaceEntry& first = g_interfaceTable.entries[0];
    EXPECT_EQ(Ipv4("192.168.1.5"), first.address);
    EXPECT_EQ(Ipv4("255.255.255.0"), first.mask);
    EXPECT_EQ(Ipv4("192.168.1.255"), first.broadcast);
    EXPECT_EQ(Ipv4("192.168.1.0"), first.network);
    EXPECT_EQ(Ipv4("169.254.255.255"), g_interfaceTable.entries[1].broadcast);

    for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
        const InterfaceEntry& entry = g_interfaceTable.entries[i];
        EXPECT_NE(INVALID_SOCKET, entry.socket);
        int broadcast = 0;
        int length = sizeof(broadcast);
        ASSERT_EQ(0, getsockopt(entry.socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&broadcast), &length));
        EXPECT_NE(0, broadcast);
        EXPECT_NE(INVALID_HANDLE_VALUE, entry.socketMutex);
        EXPECT_NE(INVALID_HANDLE_VALUE, entry.transmitThread);
        EXPECT_NE(INVALID_HANDLE_VALUE, entry.receiveThread);
        EXPECT_NE(INVALID_HANDLE_VALUE, entry.mdnsThread);
        EXPECT_FALSE(IsSignalled(entry.abortEvent));
        // Workers are created suspended: none of them can have ended.
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(entry.transmitThread, 0));
    }
}

TEST_F(InterfaceTableTest, TriggersStartSignalledOnlyWithoutAutoRefresh)
{
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}};
    ASSERT_EQ(1, BuildInterfaceTable());
    EXPECT_TRUE(IsSignalled(g_interfaceTable.entries[0].transmitTrigger));
    EXPECT_TRUE(IsSignalled(g_interfaceTable.entries[0].mdnsTrigger));
    TeardownInterfaceTable();

    g_autoRefresh = 1;
    ASSERT_EQ(1, BuildInterfaceTable());
    EXPECT_FALSE(IsSignalled(g_interfaceTable.entries[0].transmitTrigger));
    EXPECT_FALSE(IsSignalled(g_interfaceTable.entries[0].mdnsTrigger));
}

TEST_F(InterfaceTableTest, TriggerRefreshTwiceGivesOnePass)
{
    g_autoRefresh = 1;
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"10.0.0.5", "255.0.0.0", 8}};
    ASSERT_EQ(1, BuildInterfaceTable());
    TriggerRefresh();
    TriggerRefresh();
    for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
        EXPECT_TRUE(IsSignalled(g_interfaceTable.entries[i].transmitTrigger));
        EXPECT_FALSE(IsSignalled(g_interfaceTable.entries[i].transmitTrigger));  // auto-reset: one pass
        EXPECT_TRUE(IsSignalled(g_interfaceTable.entries[i].mdnsTrigger));
        EXPECT_FALSE(IsSignalled(g_interfaceTable.entries[i].mdnsTrigger));
    }
}

TEST_F(InterfaceTableTest, TwoRowsOnOneNetworkGiveTwoEntriesAndKeepTheFilter)
{
    g_subnetFilter = Ipv4("192.168.1.0");
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"192.168.1.6", "255.255.255.0", 8}};
    ASSERT_EQ(1, BuildInterfaceTable());
    ASSERT_EQ(2u, g_interfaceTable.count);
    EXPECT_EQ(g_interfaceTable.entries[0].network, g_interfaceTable.entries[1].network);
    EXPECT_EQ(Ipv4("192.168.1.0"), g_subnetFilter);
}

TEST_F(InterfaceTableTest, SavedFilterMatchingNoNetworkIsReset)
{
    g_subnetFilter = Ipv4("10.9.9.0");
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}};
    ASSERT_EQ(1, BuildInterfaceTable());
    EXPECT_EQ(kAllInterfaces, g_subnetFilter);
}

TEST_F(InterfaceTableTest, InterfaceIndexComesFromTheLastAdapterCarryingTheAddress)
{
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"10.0.0.5", "255.0.0.0", 8},
                      {"172.16.0.5", "255.255.0.0", 9}};
    fake.adapters = {{11, {"10.0.0.99", "192.168.1.5"}}, {12, {"10.0.0.5"}}, {13, {"192.168.1.5"}}};
    ASSERT_EQ(1, BuildInterfaceTable());
    ASSERT_EQ(3u, g_interfaceTable.count);
    EXPECT_EQ(13u, g_interfaceTable.entries[0].interfaceIndex);
    EXPECT_EQ(12u, g_interfaceTable.entries[1].interfaceIndex);
    EXPECT_EQ(9u, g_interfaceTable.entries[2].interfaceIndex);  // no adapter has it: the address table's
}

TEST_F(InterfaceTableTest, AdapterListThatGrowsIsReadAgainElseTheAddressTableGivesTheIndex)
{
    struct Case {
        const char* label;
        ULONG probeResult;
        int growths;
        uint32_t index;
    };
    const std::vector<Case> cases = {
        {"an adapter comes twice between the calls", ERROR_BUFFER_OVERFLOW, 2, 13},
        {"adapters keep coming", ERROR_BUFFER_OVERFLOW, 100, 7},
        {"no list at all", ERROR_NO_DATA, 0, 7},
    };
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}};
    fake.adapters = {{13, {"192.168.1.5"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fake.adapterProbeResult = c.probeResult;
        fake.adapterGrowths = c.growths;
        ASSERT_EQ(1, BuildInterfaceTable());
        EXPECT_TRUE(fake.boxes.empty());
        EXPECT_EQ(c.index, g_interfaceTable.entries[0].interfaceIndex);
        TeardownInterfaceTable();
    }
}

// What the entries asked of WSAIoctl, which refuses as a platform without
// the switch would.
std::vector<std::pair<DWORD, BOOL>> g_ioctls;

int WSAAPI RefusingIoctl(SOCKET, DWORD code, LPVOID in, DWORD inLength, LPVOID, DWORD, LPDWORD,
                         LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE)
{
    g_ioctls.push_back({code, inLength == sizeof(BOOL) ? *static_cast<BOOL*>(in) : -1});
    WSASetLastError(WSAEOPNOTSUPP);
    return SOCKET_ERROR;
}

TEST_F(InterfaceTableTest, ClosedPortReportsAreSwitchedOffAndARefusalStopsNothing)
{
    g_ioctls.clear();
    g_platform.wsaIoctl = RefusingIoctl;
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"10.0.0.5", "255.0.0.0", 8}};
    ASSERT_EQ(1, BuildInterfaceTable());
    EXPECT_EQ(2u, g_interfaceTable.count);
    EXPECT_TRUE(fake.boxes.empty());
    const std::pair<DWORD, BOOL> off = {SIO_UDP_CONNRESET, FALSE};
    EXPECT_EQ(g_ioctls, (std::vector<std::pair<DWORD, BOOL>>{off, off}));
}

TEST_F(InterfaceTableTest, TeardownOfNeverResumedWorkersReturnsAndEmptiesEverything)
{
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"10.0.0.5", "255.0.0.0", 8}};
    ASSERT_EQ(1, BuildInterfaceTable());
    HANDLE thread = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), g_interfaceTable.entries[1].mdnsThread,
                                GetCurrentProcess(), &thread, 0, FALSE, DUPLICATE_SAME_ACCESS));
    DWORD started = GetTickCount();
    TeardownInterfaceTable();
    EXPECT_LT(GetTickCount() - started, 5000u);
    EXPECT_EQ(0u, g_interfaceTable.count);
    EXPECT_EQ(nullptr, g_interfaceTable.entries);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 0));  // it really ended
    CloseHandle(thread);
}

// A worker that needs half a second to notice its abort, as a browse does.
unsigned __stdcall SlowToStopWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    WaitForSingleObject(entry->abortEvent, INFINITE);
    Sleep(500);
    return 0;
}

TEST_F(InterfaceTableTest, TeardownStopsAllInterfacesInParallel)
{
    InterfaceWorkers saved = g_interfaceWorkers;
    g_interfaceWorkers.mdns = SlowToStopWorker;
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7},
                      {"10.0.0.5", "255.0.0.0", 8},
                      {"172.16.0.5", "255.255.0.0", 9}};
    ASSERT_EQ(1, BuildInterfaceTable());
    g_interfaceWorkers = saved;
    ResumeInterfaceWorkers();
    DWORD started = GetTickCount();
    TeardownInterfaceTable();
    DWORD took = GetTickCount() - started;
    EXPECT_GE(took, 450u);
    EXPECT_LT(took, 1000u);  // one after another would take 1.5 s
}

// SendARP for an address that does not answer, as on Windows: blocks for
// 3 s, or until the test lets it go.
HANDLE g_arpRelease = nullptr;
LONG g_arpCalls = 0;
IPAddr g_arpSource = 0;

DWORD WINAPI BlockingSendArp(IPAddr, IPAddr source, PVOID, PULONG)
{
    g_arpSource = source;
    InterlockedIncrement(&g_arpCalls);
    WaitForSingleObject(g_arpRelease, 3000);
    return ERROR_BAD_NET_NAME;
}

// The real multicast DNS workers on three interfaces, one of them looking up
// a device's MAC address: the teardown does not wait for that SendARP, and
// the lookup, once it returns, leaves nothing running.
TEST_F(InterfaceTableTest, TeardownDoesNotWaitForABlockingSendArp)
{
    FakeDnsClient dns;  // restores g_platform before the fixture's fake does
    g_arpRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_arpCalls = 0;
    g_platform.sendArp = BlockingSendArp;
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7},
                      {"10.0.0.5", "255.0.0.0", 8},
                      {"172.16.0.5", "255.255.0.0", 9}};
    fake.adapters = {{7, {"192.168.1.5"}}, {8, {"10.0.0.5"}}, {9, {"172.16.0.5"}}};
    ASSERT_EQ(1, BuildInterfaceTable());
    ResumeInterfaceWorkers();
    EXPECT_TRUE(dns.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 3, 2000));
    const uint32_t device = Ipv4(192, 168, 1, 20);
    EXPECT_TRUE(dns.Deliver(kBrowseName, DNS_TYPE_PTR, FullAnswer(L"dev", L"dev", device, {L"vendor=Orvel"})));
    for (DWORD begin = GetTickCount(); g_arpCalls == 0 && GetTickCount() - begin < 2000; Sleep(10)) {
    }
    EXPECT_EQ(1, g_arpCalls);

    DWORD started = GetTickCount();
    TeardownInterfaceTable();
    EXPECT_LT(GetTickCount() - started, 500u);

    SetEvent(g_arpRelease);
    for (DWORD begin = GetTickCount(); RunningArpLookups() > 0 && GetTickCount() - begin < 2000; Sleep(10)) {
    }
    EXPECT_EQ(0, RunningArpLookups());
    // Its late answer was kept intact, for whoever asks next.
    unsigned char mac[6] = {};
    DWORD status = NO_ERROR;
    EXPECT_TRUE(AskArp(device, g_arpSource, mac, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NET_NAME), status);
    CloseHandle(g_arpRelease);
}

TEST_F(InterfaceTableTest, TableThatGrowsBetweenProbeAndReadIsReadAgain)
{
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}};
    fake.growthsBeforeRead = 2;
    ASSERT_EQ(1, BuildInterfaceTable());
    EXPECT_EQ(3u, g_interfaceTable.count);
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(InterfaceTableTest, RebuildAfterShutdownBegunChangesNothing)
{
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}};
    ASSERT_EQ(1, BuildInterfaceTable());
    InterfaceEntry* entries = g_interfaceTable.entries;
    g_stopEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    fake.addresses = {{"10.0.0.5", "255.0.0.0", 8}};
    EXPECT_EQ(0, RebuildInterfaceTable());
    EXPECT_EQ(entries, g_interfaceTable.entries);
    EXPECT_EQ(Ipv4("192.168.1.5"), g_interfaceTable.entries[0].address);
    EXPECT_TRUE(fake.boxes.empty());
    CloseHandle(g_stopEvent);
    g_stopEvent = INVALID_HANDLE_VALUE;
}

TEST_F(InterfaceTableTest, TeardownTwiceAndOnEmptyTableIsHarmless)
{
    TeardownInterfaceTable();
    EXPECT_EQ(0u, g_interfaceTable.count);
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}};
    ASSERT_EQ(1, BuildInterfaceTable());
    TeardownInterfaceTable();
    TeardownInterfaceTable();
    EXPECT_EQ(0u, g_interfaceTable.count);
    EXPECT_EQ(nullptr, g_interfaceTable.entries);
}

TEST_F(InterfaceTableTest, ResumeAndTriggerOnEmptyTableDoNothing)
{
    ResumeInterfaceWorkers();
    TriggerRefresh();
    EXPECT_EQ(0u, g_interfaceTable.count);
}

TEST_F(InterfaceTableTest, RebuildAndPollingNoticeAddressChanges)
{
    fake.addresses = {{"127.0.0.1", "255.0.0.0", 1}, {"192.168.1.5", "255.255.255.0", 7}};
    ASSERT_EQ(1, BuildInterfaceTable());
    EXPECT_FALSE(AddressTableDiffersFromBuild());

    // Same rows in another order are no change.
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"127.0.0.1", "255.0.0.0", 1}};
    EXPECT_FALSE(AddressTableDiffersFromBuild());

    fake.addresses.push_back({"10.0.0.5", "255.0.0.0", 8});
    EXPECT_TRUE(AddressTableDiffersFromBuild());
    ASSERT_EQ(1, RebuildInterfaceTable());
    EXPECT_EQ(2u, g_interfaceTable.count);
    EXPECT_FALSE(AddressTableDiffersFromBuild());

    fake.addresses[2].mask = "255.255.0.0";  // a changed mask is a change
    EXPECT_TRUE(AddressTableDiffersFromBuild());

    fake.addresses = {{"127.0.0.1", "255.0.0.0", 1}};
    EXPECT_EQ(0, RebuildInterfaceTable());
    EXPECT_EQ(0u, g_interfaceTable.count);
    ASSERT_EQ(1u, fake.boxes.size());
    EXPECT_EQ(L"No network interfaces detected", fake.boxes[0].text);
    EXPECT_FALSE(AddressTableDiffersFromBuild());
}

}  // namespace
