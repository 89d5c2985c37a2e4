// A resolved service to a device record: host and vendor filters, the
// description, the fixed port, the MAC address by SendARP or the neighbour
// table, and the refresh of a reported host's row.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "browse/arp_requests.h"
#include "mdns/fake_dns_client.h"
#include "browse/reported_hosts.h"
#include "browse/service_found.h"
#include "net/address_class.h"

namespace {

const unsigned char kMac[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
const uint32_t kDevice = Ipv4(192, 168, 1, 20);
const InterfaceSubnet kHome = {Ipv4(192, 168, 1, 5), Ipv4(255, 255, 255, 0)};

// How this computer learns the device's MAC address.
enum class Arp { Answers, Fails, InTable, AfterProbe, AfterSolicit, Never };

struct Neighbours {
    DWORD sendArpStatus;
    std::vector<MIB_IPNETROW> rows;
    std::vector<MIB_IPNETROW> afterProbe;  // come in between a size probe and its read
    std::vector<MIB_IPNETROW> afterSolicit;
    int solicits;
} g_net;

MIB_IPNETROW Row(uint32_t address, DWORD type, DWORD length, bool zeros = false)
{
    MIB_IPNETROW row = {};
    row.dwAddr = address;
    row.dwType = type;
    row.dwPhysAddrLen = length;
    if (!zeros) {
        memcpy(row.bPhysAddr, kMac, 6);
    }
    return row;
}

DWORD WINAPI FakeSendArp(IPAddr, IPAddr, PVOID mac, PULONG)
{
    memcpy(mac, kMac, 6);
    return g_net.sendArpStatus;
}

DWORD WINAPI FakeGetIpNetTable(PMIB_IPNETTABLE table, PULONG size, BOOL)
{
    if (table != nullptr) {
        g_net.rows.insert(g_net.rows.end(), g_net.afterProbe.begin(), g_net.afterProbe.end());
        g_net.afterProbe.clear();
    }
    ULONG needed = ULONG(offsetof(MIB_IPNETTABLE, table) + g_net.rows.size() * sizeof(MIB_IPNETROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = DWORD(g_net.rows.size());
    std::copy(g_net.rows.begin(), g_net.rows.end(), table->table);
    return NO_ERROR;
}

// One interface, index 0 as the neighbour rows': kHome.
DWORD WINAPI FakeGetIpAddrTable(PMIB_IPADDRTABLE table, PULONG size, BOOL)
{
    if (table == nullptr || *size < sizeof(MIB_IPADDRTABLE)) {
        *size = sizeof(MIB_IPADDRTABLE);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = 1;
    table->table[0] = {};
    table->table[0].dwAddr = kHome.address;
    table->table[0].dwMask = kHome.mask;
    return NO_ERROR;
}

int FakeSolicit(IPAddr)
{
    ++g_net.solicits;
    g_net.rows.insert(g_net.rows.end(), g_net.afterSolicit.begin(), g_net.afterSolicit.end());
    return 0;
}

InstancePtr MakeService(const wchar_t* host, const std::vector<std::wstring>& txt)
{
    InstancePtr instance = MakeServiceInstance();
    wcscpy(instance->service.hostName, host);
    instance->service.address = kDevice;
    instance->service.port = 8080;
    instance->service.heardOn = kHome;
    SetTxt(&instance->service, txt);
    return instance;
}

class ServiceFound : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_platform.sendArp = FakeSendArp;
        g_platform.getIpNetTable = FakeGetIpNetTable;
        g_platform.getIpAddrTable = FakeGetIpAddrTable;
        g_platform.solicitNeighbour = FakeSolicit;
    }

    void UseArp(Arp arp)
    {
        ForgetSolicitedNeighbours();
        // Rows that never count: wrong type, no address (as Wine's invented
        // rows), an address of zeros (one being resolved), another neighbour.
        g_net = {arp == Arp::Answers ? DWORD(NO_ERROR) : arp == Arp::Fails ? DWORD(ERROR_BAD_NET_NAME)
                                                                           : DWORD(ERROR_NOT_SUPPORTED),
                 {Row(kDevice, 2, 6), Row(kDevice, 4, 0), Row(kDevice, 3, 6, true), Row(Ipv4(192, 168, 1, 21), 3, 6)}, {}, {}, 0};
    g_net.rows.back().bPhysAddr[5] = 0xCD;  // a MAC of its own: the device's is not shared
        if (arp == Arp::InTable) {
            g_net.rows.push_back(Row(kDevice, 4, 6));
        } else if (arp == Arp::AfterProbe) {
            g_net.afterProbe = {Row(kDevice, 3, 6)};
        } else if (arp == Arp::AfterSolicit) {
            g_net.afterSolicit = {Row(kDevice, 3, 6)};
        }
    }

    FakeDnsClient fake_;  // restores g_platform
    PostedRecords posted_;
};

TEST_F(ServiceFound, ConversionCases)
{
    const std::wstring longModel(70, L'M');
    struct Case {
        std::vector<std::wstring> txt;
        const wchar_t* host;
        Arp arp;
        std::wstring description;  // empty: ignored
    };
    const Case cases[] = {
        {{L"vendor=Orvel", L"model=X200", L"firmware_version=1.4"}, L"speaker1", Arp::Answers, L"Orvel X200 - v1.4"},
        {{L"firmware_version=1.4", L"x=1", L"model=X200", L"vendor=Orvel"}, L"speaker1", Arp::Answers, L"Orvel X200 - v1.4"},
        {{L"vendor=ORVEL", L"model=X200"}, L"speaker1", Arp::Answers, L"ORVEL X200"},
        {{L"Vendor=Orvel", L"model=X200"}, L"speaker1", Arp::Answers, L""},
        {{L"vendor=Orvel Ltd", L"model=X200"}, L"speaker1", Arp::Answers, L""},
        {{L"vendor=Orvel", L"model=", L"firmware_version=2.0"}, L"speaker1", Arp::Answers, L"Orvel - v2.0"},
        {{L"vendor=Orvel", L"vendor=Other"}, L"speaker1", Arp::Answers, L""},  // the last one wins
        {{L"vendor=Orvel", L"model=" + longModel}, L"speaker1", Arp::Answers, L"Orvel " + longModel.substr(0, 63)},
        {{L"vendor=Orvel"}, L"20.1.168.192.in-addr.arpa", Arp::Answers, L""},
        {{L"vendor=Orvel"}, L"box.in-addr.arpa.lan", Arp::Answers, L"Orvel"},
        {{L"vendor=Orvel"}, L"speaker1", Arp::Fails, L""},
        {{L"vendor=Orvel"}, L"speaker1", Arp::InTable, L"Orvel"},
        {{L"vendor=Orvel"}, L"speaker1", Arp::AfterProbe, L"Orvel"},
        {{L"vendor=Orvel"}, L"speaker1", Arp::AfterSolicit, L"Orvel"},
        {{L"vendor=Orvel"}, L"speaker1", Arp::Never, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.txt.back() + L" " + c.host);
        UseArp(c.arp);
        InstancePtr instance = MakeService(c.host, c.txt);
        DWORD before = GetTickCount();
        int32_t posted = OnServiceFound(&instance->service, nullptr, INVALID_HANDLE_VALUE, nullptr, kMacWaitMs);
        DWORD took = GetTickCount() - before;
        instance.reset();
        std::vector<DeviceRecord> records = posted_.Collect();
        EXPECT_EQ(posted, c.description.empty() ? 0 : 1);
        ASSERT_EQ(records.size(), size_t(posted));
        EXPECT_EQ(g_net.solicits, c.arp == Arp::AfterSolicit || c.arp == Arp::Never ? 1 : 0);
        if (c.arp == Arp::Never) {
            EXPECT_GE(took, 900u);  // looked again for a second
            // Without a wait, the browse is told to ask again later.
            instance = MakeService(c.host, c.txt);
            EXPECT_EQ(OnServiceFound(&instance->service, nullptr, INVALID_HANDLE_VALUE, nullptr, 0),
                      kServiceAwaitingMac);
        }
        if (posted == 1) {
            const DeviceRecord& r = records[0];
            EXPECT_EQ(r.description, c.description);
            EXPECT_STREQ(r.name, c.host);
            EXPECT_STREQ(r.ipText, L"192.168.1.20");
            EXPECT_STREQ(r.macText, L"00-11-22-AA-BB-CC");
            EXPECT_STREQ(r.portText, L"80");  // not the SRV's 8080
            EXPECT_TRUE(r.fromMdns == 1 && r.arpConfirmed == 1 && r.arpMismatch == 0 && r.state == 0);
            EXPECT_LE(r.lastSeen - before, took);
        }
    }
}

// A device found by multicast DNS is in the state its address earns as a
// broadcast reply's sender on the interface that heard it, so that a device
// both paths find keeps one colour.
TEST_F(ServiceFound, StateAsTheBroadcastPathClassifies)
{
    UseArp(Arp::Answers);
    const InterfaceSubnet linkLocal = {Ipv4(169, 254, 3, 4), Ipv4(255, 255, 0, 0)};
    struct Case {
        InterfaceSubnet heardOn;
        uint32_t device;
        DeviceState state;
    };
    const Case cases[] = {
        {kHome, Ipv4(192, 168, 1, 20), DeviceStateNormal},
        {kHome, Ipv4(192, 168, 2, 20), DeviceStateOtherSubnet},
        {kHome, Ipv4(169, 254, 10, 20), DeviceStateOtherSubnet},
        {linkLocal, Ipv4(169, 254, 10, 20), DeviceStateLinkLocal},
        {linkLocal, Ipv4(192, 168, 1, 20), DeviceStateOtherSubnet},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.heardOn.address << " " << c.device);
        InstancePtr instance = MakeService(L"speaker1", {L"vendor=Orvel"});
        instance->service.address = c.device;
        instance->service.heardOn = c.heardOn;
        EXPECT_EQ(OnServiceFound(&instance->service, nullptr, INVALID_HANDLE_VALUE, nullptr, kMacWaitMs), 1);
        std::vector<DeviceRecord> records = posted_.Collect();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].state, c.state);
        EXPECT_EQ(ClassifySender(c.device, c.heardOn.address, c.heardOn.mask, c.heardOn.address & c.heardOn.mask),
                  c.state);
    }
}

// The datagram that makes the system resolve a device goes only to a host
// address of the subnet that heard it, and at most once a second however
// often the device is looked up.
TEST_F(ServiceFound, SolicitsOnlyHostsOfTheSubnetOnceASecond)
{
    struct Case {
        uint32_t device;
        int solicits;
    };
    const Case cases[] = {
        {Ipv4(192, 168, 1, 20), 1},
        {Ipv4(192, 168, 1, 0), 0},    // the subnet's network address
        {Ipv4(192, 168, 1, 255), 0},  // its broadcast address
        {Ipv4(192, 168, 2, 20), 0},
        {Ipv4(224, 0, 0, 251), 0},
        {Ipv4(255, 255, 255, 255), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.device);
        UseArp(Arp::Never);
        unsigned char mac[6];
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(LookUpMacAddress(c.device, kHome, mac, INVALID_HANDLE_VALUE, 1), kMacUnknown);
        }
        EXPECT_EQ(g_net.solicits, c.solicits);
    }
}

// A neighbour table read that lasts until a second read joins it (at most
// 400 ms): reads side by side end at once, one after another take 400 ms.
struct SlowTable {
    std::atomic<int> reads{0};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE joined = CreateEventW(nullptr, TRUE, FALSE, nullptr);
} g_slow;

DWORD WINAPI SlowNeighbourTable(PMIB_IPNETTABLE table, PULONG size, BOOL)
{
    ULONG needed = ULONG(offsetof(MIB_IPNETTABLE, table) + sizeof(MIB_IPNETROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    ++g_slow.reads;
    int inside = ++g_slow.inside;
    g_slow.mostInside = std::max(g_slow.mostInside.load(), inside);
    SetEvent(g_slow.entered);
    if (inside == 1) {
        WaitForSingleObject(g_slow.joined, 400);
    } else {
        SetEvent(g_slow.joined);
    }
    table->dwNumEntries = 1;
    table->table[0] = Row(kDevice, 3, 6);
    --g_slow.inside;
    return NO_ERROR;
}

// Two lookups at once: one never waits behind the other's read of the
// neighbour table. Those that may wait read side by side; those that may
// not (the browse's) share the first one's read, and also one that took
// longer than a shared read may be old, once it has ended.
TEST_F(ServiceFound, NeighbourReadsAreNotSerialised)
{
    // The browse's lookups learn on a lookup thread that SendARP is not
    // supported; until then they are pending.
    UseArp(Arp::InTable);
    unsigned char mac[6] = {};
    MacLookup first = kMacPending;
    for (DWORD begin = GetTickCount(); first == kMacPending && GetTickCount() - begin < 2000; Sleep(10)) {
        first = LookUpMacAddress(kDevice, kHome, mac, INVALID_HANDLE_VALUE, 0);
    }
    ASSERT_EQ(first, kMacFound);

    g_platform.getIpNetTable = SlowNeighbourTable;
    struct Case {
        uint32_t waitMs;
        int reads;
        int mostInside;
    };
    for (const Case& c : {Case{kMacWaitMs, 2, 2}, Case{0, 1, 1}}) {
        SCOPED_TRACE(c.waitMs);
        Sleep(200);  // the last read is too old to share
        g_slow.reads = 0;
        g_slow.mostInside = 0;
        ResetEvent(g_slow.entered);
        ResetEvent(g_slow.joined);
        MacLookup results[2] = {kMacUnknown, kMacUnknown};
        unsigned char macs[2][6] = {};
        // The second lookup is asked at once when the first one's read has
        // begun: well within the 100 ms that a shared read may be old.
        std::thread other([&] { results[0] = LookUpMacAddress(kDevice, kHome, macs[0], INVALID_HANDLE_VALUE, c.waitMs); });
        EXPECT_EQ(WaitForSingleObject(g_slow.entered, 2000), WAIT_OBJECT_0);
        results[1] = LookUpMacAddress(kDevice, kHome, macs[1], INVALID_HANDLE_VALUE, c.waitMs);
        other.join();
        EXPECT_EQ(g_slow.reads, c.reads);
        EXPECT_EQ(g_slow.mostInside, c.mostInside);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(results[i], kMacFound);
            EXPECT_EQ(memcmp(macs[i], kMac, 6), 0);
        }
    }
    Sleep(200);
    g_slow.reads = 0;
    ResetEvent(g_slow.joined);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(LookUpMacAddress(kDevice, kHome, mac, INVALID_HANDLE_VALUE, 0), kMacFound);
    }
    EXPECT_EQ(g_slow.reads, 1);  // the first lasted 400 ms
}

std::atomic<int> g_sendArpCalls{0};

DWORD WINAPI CountedSendArp(IPAddr, IPAddr, PVOID mac, PULONG)
{
    ++g_sendArpCalls;
    memcpy(mac, kMac, 6);
    return NO_ERROR;
}

// A device heard of before it is resolved: where SendARP works, the lookup
// started then is the one its resolved lookup collects (one SendARP however
// often it is prepared); where it does not, the datagram goes then, with a
// lookup's limits, and a lookup that may not wait reads the table again
// rather than take a read that began before the datagram or lacked it.
TEST_F(ServiceFound, MacLookupPreparedAhead)
{
    unsigned char mac[6] = {};
    g_platform.sendArp = CountedSendArp;
    PrepareMacLookup(kDevice, kHome);
    PrepareMacLookup(kDevice, kHome);
    for (DWORD begin = GetTickCount(); RunningArpLookups() > 0 && GetTickCount() - begin < 2000; Sleep(5)) {
    }
    EXPECT_EQ(LookUpMacAddress(kDevice, kHome, mac, INVALID_HANDLE_VALUE, 0), kMacFound);
    EXPECT_EQ(g_sendArpCalls, 1);

    g_platform.sendArp = FakeSendArp;
    UseArp(Arp::AfterSolicit);
    Sleep(150);  // the read that told whether SendARP's MAC is shared is too old to share now
    const uint32_t neighbour = Ipv4(192, 168, 1, 21);  // in the table from the start
    MacLookup first = kMacPending;
    for (DWORD begin = GetTickCount(); first == kMacPending && GetTickCount() - begin < 2000; Sleep(10)) {
        first = LookUpMacAddress(neighbour, kHome, mac, INVALID_HANDLE_VALUE, 0);
    }
    ASSERT_EQ(first, kMacFound);
    Sleep(20);  // that read began before the datagram, well within the age a read may be shared
    PrepareMacLookup(kDevice, kHome);
    PrepareMacLookup(Ipv4(192, 168, 2, 20), kHome);
    EXPECT_EQ(g_net.solicits, 1);
    EXPECT_EQ(LookUpMacAddress(kDevice, kHome, mac, INVALID_HANDLE_VALUE, 0), kMacFound);
    EXPECT_EQ(g_net.solicits, 1);

    const uint32_t late = Ipv4(192, 168, 1, 30);  // resolved only after a first look
    PrepareMacLookup(late, kHome);
    EXPECT_EQ(LookUpMacAddress(late, kHome, mac, INVALID_HANDLE_VALUE, 0), kMacPending);
    g_net.rows.push_back(Row(late, 3, 6));
    EXPECT_EQ(LookUpMacAddress(late, kHome, mac, INVALID_HANDLE_VALUE, 0), kMacFound);
    EXPECT_EQ(g_net.solicits, 2);
}

// A reported host's later answers re-post its record with a fresh lastSeen:
// same name and address only, not too often, not once it is old or a later
// report ignored it.
TEST_F(ServiceFound, ReportedHostRefreshes)
{
    UseArp(Arp::Answers);
    ReportedHosts table;
    InitReportedHosts(&table);
    InstancePtr instance = MakeService(L"speaker1", {L"vendor=Orvel", L"model=X200"});
    ASSERT_EQ(OnServiceFound(&instance->service, nullptr, INVALID_HANDLE_VALUE, &table, kMacWaitMs), 1);
    const uint32_t t0 = posted_.Collect().at(0).lastSeen;
    Sleep(200);  // a fresh lastSeen differs from the report's
    struct Step {
        const wchar_t* owner;
        uint32_t address;
        uint32_t at;
        bool posts;
    };
    const Step steps[] = {
        {L"speaker1.local", kDevice, t0 + 100, false},
        {L"speaker1.local", kDevice, t0 + 900, true},
        {L"speaker1.local", kDevice, t0 + 1000, false},
        {L"speaker1.local", Ipv4(192, 168, 1, 99), t0 + 3000, false},
        {L"speaker2.local", kDevice, t0 + 3000, false},
        {L"speaker1.local", kDevice, t0 + kForgetReportedAfterMs + 1000, false},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(RefreshReportedHost(&table, step.owner, step.address, step.at), step.posts);
    }
    // Before it is forgotten, its next answer must bring a full report.
    EXPECT_FALSE(ReportedHostNeedsRenewal(&table, L"speaker1.local", kDevice, t0 + kRenewReportAfterMs - 500));
    EXPECT_TRUE(ReportedHostNeedsRenewal(&table, L"speaker1.local", kDevice, t0 + kRenewReportAfterMs + 500));
    EXPECT_FALSE(ReportedHostNeedsRenewal(&table, L"speaker2.local", kDevice, t0 + kRenewReportAfterMs + 500));
    std::vector<DeviceRecord> records = posted_.Collect();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].description, L"Orvel X200");
    EXPECT_GE(records[0].lastSeen - t0, 100u);

    SetTxt(&instance->service, {L"vendor=Other"});
    EXPECT_EQ(OnServiceFound(&instance->service, nullptr, INVALID_HANDLE_VALUE, &table, kMacWaitMs), 0);
    EXPECT_FALSE(RefreshReportedHost(&table, L"speaker1.local", kDevice, t0 + 5000));
    ReleaseReportedHosts(&table);
}

// A listed host that stops answering is asked about from kConfirmAfterMs
// after its last post, every kConfirmIntervalMs, kConfirmQuestions times; a
// late look asks once for all it missed; an answer (a refresh) starts over.
TEST_F(ServiceFound, QuietHostsAreConfirmedBeforeTheirRowsGo)
{
    ReportedHosts table;
    InitReportedHosts(&table);
    DeviceRecord record = {};
    wsprintfW(record.name, L"quiet");
    const uint32_t t0 = 0xFFFFF000u;  // across the wrap of the tick counter
    RememberReportedHost(&table, &record, kDevice, t0);
    const uint32_t t1 = t0 + 2700;  // answered then
    const uint32_t last = kConfirmAfterMs + (kConfirmQuestions - 1) * kConfirmIntervalMs;
    struct Step {
        uint32_t at;
        int asked;
        uint32_t untilNext;
    };
    const Step steps[] = {
        {t0 + kConfirmAfterMs - 1, 0, 1},
        {t0 + kConfirmAfterMs, 1, kConfirmIntervalMs},
        {t0 + kConfirmAfterMs + kConfirmIntervalMs - 1, 0, 1},
        {t0 + kConfirmAfterMs + 2 * kConfirmIntervalMs + 10, 1, kConfirmIntervalMs - 10},  // late: one question
        {t1 + kConfirmAfterMs - 1, 0, 1},
        {t1 + kConfirmAfterMs, 1, kConfirmIntervalMs},
        {t1 + last, 1, INFINITE},
        {t1 + kRowLifeMs, 0, INFINITE},
        {t1 + kRowLifeMs + 1000, 0, INFINITE},
    };
    wchar_t names[2][kDnsNameChars];
    for (const Step& step : steps) {
        if (step.at == t1 + kConfirmAfterMs - 1) {
            ASSERT_TRUE(RefreshReportedHost(&table, L"quiet.local", kDevice, t1));
        }
        uint32_t untilNext = 0;
        ASSERT_EQ(TakeHostsToConfirm(&table, step.at, names, 2, &untilNext), step.asked) << step.at - t0;
        EXPECT_EQ(untilNext, step.untilNext) << step.at - t0;
        if (step.asked == 1) {
            EXPECT_STREQ(names[0], L"quiet");
        }
    }
    EXPECT_EQ(posted_.Collect().size(), 1u);
    // Two hosts due and room for one question at a time: they take turns.
    const uint32_t t2 = t1 + 60000;
    for (const wchar_t* name : {L"first", L"second"}) {
        wsprintfW(record.name, L"%s", name);
        RememberReportedHost(&table, &record, kDevice, t2);
    }
    std::vector<std::wstring> turns;
    uint32_t untilNext = 0;
    for (uint32_t at = t2 + kConfirmAfterMs; at < t2 + kRowLifeMs; at += kConfirmIntervalMs) {
        ASSERT_EQ(TakeHostsToConfirm(&table, at, names, 1, &untilNext), 1);
        turns.push_back(names[0]);
    }
    for (size_t i = 1; i < turns.size(); ++i) {
        EXPECT_NE(turns[i], turns[i - 1]) << i;
    }
    ReleaseReportedHosts(&table);
}

// However many hosts are reported, the table keeps the newest
// kMaxReportedHosts: the oldest are no longer refreshed, the newest are.
TEST_F(ServiceFound, ReportedHostsAreBoundedOldestFirst)
{
    ReportedHosts table;
    InitReportedHosts(&table);
    DeviceRecord record = {};
    const uint32_t hosts = kMaxReportedHosts + 10;
    for (uint32_t i = 0; i < hosts; ++i) {
        wsprintfW(record.name, L"host%u", i);
        RememberReportedHost(&table, &record, i, 0);
    }
    EXPECT_EQ(table.names.count, kMaxReportedHosts);
    EXPECT_FALSE(RefreshReportedHost(&table, L"host0.local", 0, kRefreshIntervalMs));
    EXPECT_FALSE(RefreshReportedHost(&table, L"host9.local", 9, kRefreshIntervalMs));
    EXPECT_TRUE(RefreshReportedHost(&table, L"host10.local", 10, kRefreshIntervalMs));
    EXPECT_TRUE(RefreshReportedHost(&table, L"host1033.local", hosts - 1, kRefreshIntervalMs));
    EXPECT_EQ(posted_.Collect().size(), 2u);
    ReleaseReportedHosts(&table);
}

}  // namespace
