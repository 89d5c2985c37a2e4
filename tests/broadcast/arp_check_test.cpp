// The ARP cross-check against a fake neighbour table, the rules for reusing
// the per-worker snapshot of that table, and the gate that makes answers
// from senders the snapshot does not know wait for the next allowed read.
#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/device_record.h"
#include "core/platform.h"
#include "broadcast/heap_bytes.h"
#include "broadcast/test_addresses.h"
#include "net/answer_hold.h"
#include "net/arp_check.h"

namespace {

// The fake table: rows to report, what the size probe and the read return,
// and how often each was asked for.
struct FakeArpTable {
    std::vector<MIB_IPNETROW> rows;
    DWORD probeStatus = ERROR_INSUFFICIENT_BUFFER;
    DWORD readStatus = NO_ERROR;
    DWORD claimedRows = 0;  // when non-zero, reported instead of rows.size()
    int growths = 0;        // reads that first find one more row (growRow)
    MIB_IPNETROW growRow = {};
    DWORD readDelayMs = 0;  // how long each read takes
    int probes = 0;
    int reads = 0;
};

// The gate times its reads by this clock, which moves only while the fake
// table is read: a read takes exactly the fake's delay, however busy the
// machine running the test is.
DWORD g_readClock = 0;
DWORD WINAPI ReadClock()
{
    return g_readClock;
}

FakeArpTable* g_fake = nullptr;

DWORD WINAPI FakeGetIpNetTable(PMIB_IPNETTABLE table, PULONG size, BOOL)
{
    if (table != nullptr && g_fake->growths > 0) {
        --g_fake->growths;  // a neighbour came in since the size probe
        g_fake->rows.push_back(g_fake->growRow);
    }
    ULONG needed = static_cast<ULONG>(offsetof(MIB_IPNETTABLE, table) +
                                      g_fake->rows.size() * sizeof(MIB_IPNETROW));
    if (table == nullptr || *size < needed) {
        ++g_fake->probes;
        *size = needed;
        return g_fake->probeStatus;
    }
    ++g_fake->reads;
    g_readClock += g_fake->readDelayMs;
    if (g_fake->readStatus != NO_ERROR) {
        return g_fake->readStatus;
    }
    table->dwNumEntries = g_fake->claimedRows != 0 ? g_fake->claimedRows
                                                    : static_cast<DWORD>(g_fake->rows.size());
    for (size_t i = 0; i < g_fake->rows.size(); ++i) {
        table->table[i] = g_fake->rows[i];
    }
    return NO_ERROR;
}

MIB_IPNETROW Row(uint32_t address, std::vector<unsigned char> mac, DWORD type = 3,
                 DWORD length = 6, DWORD interfaceIndex = 7)
{
    MIB_IPNETROW row;
    memset(&row, 0, sizeof(row));
    row.dwIndex = interfaceIndex;
    row.dwPhysAddrLen = length;
    if (!mac.empty()) {
        memcpy(row.bPhysAddr, mac.data(), mac.size() < 8 ? mac.size() : 8);
    }
    row.dwAddr = address;
    row.dwType = type;
    return row;
}

const uint32_t kDevice = Ipv4(192, 168, 1, 20);
const std::vector<unsigned char> kMac = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
const std::vector<unsigned char> kOtherMac = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCD};

std::vector<DeviceRecord> g_posted;

bool CollectRecord(void*, uint32_t, DeviceRecord* record)
{
    g_posted.push_back(*record);
    FreeDeviceRecord(record);
    return true;
}

class BroadcastArp : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_platform;
        g_fake = &fake_;
        g_platform.getIpNetTable = FakeGetIpNetTable;
        g_posted.clear();
        InitArpGate(&gate_, CollectRecord, nullptr);
        gate_.clock = ReadClock;
    }

    void TearDown() override
    {
        ReleaseArpGate(&gate_);
        g_platform = saved_;
        g_fake = nullptr;
        g_posted.clear();
    }

    // Hands the gate an answer from sender with this MAC text at tick now;
    // name tells the answers apart.
    void Submit(const wchar_t* macText, uint32_t sender, DWORD now, const wchar_t* name = L"")
    {
        DeviceRecord* record = AllocateDeviceRecord();
        ASSERT_NE(record, nullptr);
        CopyText(record->macText, kMacTextChars, macText);
        CopyText(record->name, kNameChars, name);
        SubmitToArpGate(&gate_, sender, record, now);
    }

    // Submits an answer that must be posted at once; returns it as posted.
    DeviceRecord Check(const wchar_t* macText, uint32_t sender = kDevice, DWORD now = 1000)
    {
        size_t before = g_posted.size();
        Submit(macText, sender, now);
        EXPECT_EQ(g_posted.size(), before + 1) << "the answer waits";
        DeviceRecord record;
        memset(&record, 0, sizeof(record));
        return g_posted.size() > before ? g_posted.back() : record;
    }

    FakeArpTable fake_;
    ArpGate gate_;
    PlatformServices saved_;
};

struct ArpCase {
    const char* label;
    std::vector<MIB_IPNETROW> rows;
    const wchar_t* macText;
    int arpMismatch;
    int arpConfirmed;
};

TEST_F(BroadcastArp, CrossCheckCases)
{
    const uint32_t other = Ipv4(192, 168, 1, 21);
    const std::vector<ArpCase> cases = {
        {"upper-case MAC confirms", {Row(kDevice, kMac)}, L"00-11-22-AA-BB-CC", 0, 1},
        {"lower-case MAC confirms", {Row(kDevice, kMac)}, L"00-11-22-aa-bb-cc", 0, 1},
        {"static row counts", {Row(kDevice, kMac, 4)}, L"00-11-22-AA-BB-CC", 0, 1},
        {"colons confirm, as the list takes them as the same MAC", {Row(kDevice, kMac)}, L"00:11:22:aa:BB:CC", 0, 1},
        {"no separators never match", {Row(kDevice, kMac)}, L"001122AABBCC", 1, 0},
        {"trailing blank never matches", {Row(kDevice, kMac)}, L"00-11-22-AA-BB-CC ", 1, 0},
        {"one pair short", {Row(kDevice, kMac)}, L"00-11-22-AA-BB", 1, 0},
        {"other hardware address", {Row(kDevice, kOtherMac)}, L"00-11-22-AA-BB-CC", 1, 0},
        {"empty MAC with a dynamic row", {Row(kDevice, kMac)}, L"", 1, 0},
        {"two rows, one equal", {Row(kDevice, kOtherMac, 3, 6, 7), Row(kDevice, kMac, 3, 6, 9)},
         L"00-11-22-AA-BB-CC", 1, 1},
        {"two equal rows on two interfaces", {Row(kDevice, kMac, 3, 6, 7), Row(kDevice, kMac, 4, 6, 9)},
         L"00-11-22-AA-BB-CC", 0, 1},
        {"type other (1) never counts", {Row(kDevice, kOtherMac, 1)}, L"00-11-22-AA-BB-CC", 0, 0},
        {"type invalid (2) never counts", {Row(kDevice, kOtherMac, 2)}, L"00-11-22-AA-BB-CC", 0, 0},
        {"length 0 never counts", {Row(kDevice, {}, 4, 0)}, L"", 0, 0},
        {"length 5 never counts", {Row(kDevice, kMac, 3, 5)}, L"00-11-22-AA-BB-CC", 0, 0},
        {"length 8 never counts", {Row(kDevice, {0, 0x11, 0x22, 0xAA, 0xBB, 0xCC, 0, 0}, 3, 8)},
         L"00-11-22-AA-BB-CC", 0, 0},
        {"row for another address", {Row(other, kOtherMac)}, L"00-11-22-AA-BB-CC", 0, 0},
        {"no rows", {}, L"00-11-22-AA-BB-CC", 0, 0},
        {"counting row among others",
         {Row(other, kOtherMac), Row(kDevice, kOtherMac, 2), Row(kDevice, kMac),
          Row(Ipv4(224, 0, 0, 22), {}, 4, 0)},
         L"00-11-22-aa-BB-cc", 0, 1},
    };
    for (const ArpCase& c : cases) {
        SCOPED_TRACE(c.label);
        ReleaseArpGate(&gate_);
        InitArpGate(&gate_, CollectRecord, nullptr);
        gate_.clock = ReadClock;
        fake_.rows = c.rows;
        DeviceRecord record = Check(c.macText);
        EXPECT_EQ(record.arpMismatch, c.arpMismatch);
        EXPECT_EQ(record.arpConfirmed, c.arpConfirmed);
    }
}

TEST_F(BroadcastArp, FlagsAlreadySetStaySet)
{
    fake_.rows = {Row(kDevice, kMac)};
    ASSERT_EQ(RefreshArpSnapshot(&gate_.snapshot), static_cast<DWORD>(NO_ERROR));
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    CopyText(record.macText, kMacTextChars, L"00-11-22-AA-BB-CC");
    record.arpMismatch = 1;
    JudgeAgainstSnapshot(&gate_.snapshot, kDevice, &record);
    EXPECT_EQ(record.arpMismatch, 1);
    EXPECT_EQ(record.arpConfirmed, 1);
}

TEST_F(BroadcastArp, UnreadableTableGivesNoFlags)
{
    struct Failure {
        const char* label;
        DWORD probeStatus;
        DWORD readStatus;
        int expectedReads;
    };
    const Failure failures[] = {
        {"probe not supported", ERROR_NOT_SUPPORTED, NO_ERROR, 0},
        {"probe reports no data", ERROR_NO_DATA, NO_ERROR, 0},
        {"probe succeeds without a buffer", NO_ERROR, NO_ERROR, 0},
        {"read fails", ERROR_INSUFFICIENT_BUFFER, ERROR_GEN_FAILURE, 1},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.label);
        ReleaseArpGate(&gate_);
        InitArpGate(&gate_, CollectRecord, nullptr);
        gate_.clock = ReadClock;
        fake_ = FakeArpTable();
        fake_.rows = {Row(kDevice, kOtherMac)};
        fake_.probeStatus = f.probeStatus;
        fake_.readStatus = f.readStatus;
        DeviceRecord record = Check(L"00-11-22-AA-BB-CC");
        EXPECT_EQ(record.arpMismatch, 0);
        EXPECT_EQ(record.arpConfirmed, 0);
        EXPECT_EQ(fake_.reads, f.expectedReads);
        EXPECT_EQ(gate_.snapshot.table, nullptr);
    }
}

TEST_F(BroadcastArp, RowCountBeyondTheBufferIsIgnored)
{
    fake_.rows = {Row(kDevice, kMac)};
    fake_.claimedRows = 100000;  // far more rows than the size it reported
    DeviceRecord record = Check(L"00-11-22-AA-BB-CC");
    EXPECT_EQ(record.arpConfirmed, 1);
    EXPECT_EQ(gate_.snapshot.rowCount, 1u);
}

TEST_F(BroadcastArp, SnapshotIsReusedForAnswersCloseTogether)
{
    fake_.rows = {Row(kDevice, kMac), Row(Ipv4(192, 168, 1, 21), kOtherMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    EXPECT_EQ(fake_.reads, 1);

    // Later answers within the age limit see the snapshot, not the table.
    fake_.rows = {Row(kDevice, kOtherMac), Row(Ipv4(192, 168, 1, 21), kMac)};
    DeviceRecord again = Check(L"00-11-22-AA-BB-CC", kDevice, 1050);
    DeviceRecord neighbour = Check(L"00-11-22-AA-BB-CD", Ipv4(192, 168, 1, 21), 1099);
    EXPECT_EQ(fake_.reads, 1);
    EXPECT_EQ(again.arpConfirmed, 1);
    EXPECT_EQ(again.arpMismatch, 0);
    EXPECT_EQ(neighbour.arpConfirmed, 1);
}

TEST_F(BroadcastArp, SnapshotOlderThanTheLimitIsReadAgain)
{
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    fake_.rows = {Row(kDevice, kOtherMac)};
    // With nobody waiting, a known sender's answers do not read at the
    // pace that strangers may: that would be a read for every request.
    DeviceRecord early = Check(L"00-11-22-AA-BB-CC", kDevice, 1000 + kArpReadIntervalMs + 20);
    EXPECT_EQ(fake_.reads, 1);
    EXPECT_EQ(early.arpConfirmed, 1);
    DeviceRecord record = Check(L"00-11-22-AA-BB-CC", kDevice, 1000 + kArpRecheckMs);
    EXPECT_EQ(fake_.reads, 2);
    EXPECT_EQ(record.arpMismatch, 1);
    EXPECT_EQ(record.arpConfirmed, 0);
}

TEST_F(BroadcastArp, UnknownSendersWaitForTheNextRead)
{
    // Their entries appeared after the snapshot was taken, which therefore
    // cannot judge them; reading again so soon is not allowed.
    const uint32_t first = Ipv4(192, 168, 1, 31);
    const uint32_t second = Ipv4(192, 168, 1, 32);
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    fake_.rows = {Row(kDevice, kMac), Row(first, kMac), Row(second, kOtherMac)};
    Submit(L"00-11-22-AA-BB-CC", first, 1010, L"first");
    Submit(L"00-11-22-AA-BB-CC", second, 1020, L"second");
    FlushArpGate(&gate_, 1000 + kArpReadIntervalMs - 50);
    EXPECT_EQ(Check(L"00-11-22-AA-BB-CC", kDevice, 1050).arpConfirmed, 1) << "known never waits";
    EXPECT_EQ(fake_.reads, 1);

    // The next answer once a read is due reads, and the read judges them first.
    Submit(L"00-11-22-AA-BB-CC", kDevice, 1000 + kArpReadIntervalMs + 20, L"known");
    EXPECT_EQ(fake_.reads, 2);
    ASSERT_EQ(g_posted.size(), 5u);
    EXPECT_STREQ(g_posted[2].name, L"first");
    EXPECT_EQ(g_posted[2].arpConfirmed, 1);
    EXPECT_STREQ(g_posted[3].name, L"second");
    EXPECT_EQ(g_posted[3].arpMismatch, 1);
    EXPECT_STREQ(g_posted[4].name, L"known");
}

TEST_F(BroadcastArp, EveryDeviceOfABurstGetsItsArpState)
{
    // 250 devices answer one request a millisecond apart; each one's ARP
    // request puts it in the table just before its answer arrives. Every
    // tenth reports a MAC other than its own. The loop flushes each pass.
    const int kDevices = 250;
    for (int i = 0; i < kDevices; ++i) {
        uint32_t device = Ipv4(10, 0, i / 200, 1 + i % 200);
        fake_.rows.push_back(Row(device, kMac));
        DWORD now = 1000 + static_cast<DWORD>(i);
        FlushArpGate(&gate_, now);
        Submit(i % 10 == 0 ? L"00-11-22-AA-BB-CD" : L"00-11-22-AA-BB-CC", device, now);
    }
    for (DWORD now = 1250; now < 1250 + 2 * kArpReadIntervalMs; now += 10) {
        FlushArpGate(&gate_, now);
    }
    ASSERT_EQ(g_posted.size(), static_cast<size_t>(kDevices));
    for (int i = 0; i < kDevices; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(g_posted[i].arpConfirmed, i % 10 == 0 ? 0 : 1);
        EXPECT_EQ(g_posted[i].arpMismatch, i % 10 == 0 ? 1 : 0);
    }
    EXPECT_LE(fake_.reads, 3);
}

TEST_F(BroadcastArp, AFloodOfUnknownSendersCostsAFewReadsASecondAndSparesTheWindow)
{
    // Ten seconds of a thousand spoofed senders a second, none in the table,
    // while the real device answers twice a second.
    fake_.rows = {Row(kDevice, kMac)};
    size_t deviceAnswers = 0;
    for (DWORD ms = 0; ms < 10000; ++ms) {
        FlushArpGate(&gate_, 1000 + ms);
        Submit(L"00-11-22-AA-BB-CC", Ipv4(10, 1 + ms / 65536 % 200, ms / 256 % 256, ms % 256),
               1000 + ms, L"spoofed");
        if (ms % 500 == 0) {
            Submit(L"00-11-22-AA-BB-CC", kDevice, 1000 + ms, L"device");
            ++deviceAnswers;
        }
    }
    EXPECT_LE(fake_.reads, static_cast<int>(10000 / kArpReadIntervalMs) + 1);
    size_t device = 0;
    for (const DeviceRecord& posted : g_posted) {
        if (wcscmp(posted.name, L"device") == 0) {
            ++device;
            EXPECT_EQ(posted.arpConfirmed, 1);
        }
    }
    EXPECT_EQ(device, deviceAnswers) << "every answer of the real device goes to the window";
    // Made-up senders reach the window only as fast as it can take them.
    EXPECT_LE(g_posted.size() - device, static_cast<size_t>(fake_.reads) * kArpStrangerPostsPerRead);
}

TEST_F(BroadcastArp, StrangersAnsweringEveryRequestAreAllListedWithinAFewRequests)
{
    // 250 devices that the table never learns (a full neighbour table)
    // answer a request every half second, always in the same order.
    const int kDevices = 250;
    std::set<std::wstring> listed;
    for (DWORD start = 1000; start < 1000 + 10 * 500; start += 500) {
        for (int i = 0; i < kDevices; ++i) {
            FlushArpGate(&gate_, start);
            Submit(L"00-11-22-AA-BB-CC", Ipv4(10, 0, i / 200, 1 + i % 200), start,
                   std::to_wstring(i).c_str());
        }
        for (DWORD now = start; now < start + 500; now += 10) {
            FlushArpGate(&gate_, now);
        }
    }
    for (const DeviceRecord& posted : g_posted) {
        listed.insert(posted.name);
    }
    EXPECT_EQ(listed.size(), static_cast<size_t>(kDevices));
    EXPECT_LE(g_posted.size(), static_cast<size_t>(fake_.reads) * kArpStrangerPostsPerRead);
}

TEST_F(BroadcastArp, ASlowTableIsReadLessOften)
{
    fake_.rows = {Row(kDevice, kMac)};
    fake_.readDelayMs = 200;
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    ASSERT_GE(gate_.lastReadMs, 180u);
    const DWORD readEnd = gate_.lastReadTick;
    Submit(L"00-11-22-AA-BB-CC", Ipv4(192, 168, 1, 30), readEnd + 10);
    FlushArpGate(&gate_, readEnd + kArpReadIntervalMs + 10);
    EXPECT_EQ(fake_.reads, 1) << "a read that took 200 ms is not repeated 250 ms later";
    FlushArpGate(&gate_, readEnd + kArpReadCostFactor * gate_.lastReadMs);
    EXPECT_EQ(fake_.reads, 2);
    EXPECT_EQ(g_posted.size(), 2u);
}

TEST_F(BroadcastArp, AFullQueueDropsTheOldestWaiting)
{
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    const size_t kSubmitted = kArpWaitingCapacity + 100;
    for (size_t i = 0; i < kSubmitted; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"%u", static_cast<unsigned>(i));
        Submit(L"00-11-22-AA-BB-CC", Ipv4(10, 0, i / 256, i % 256), 1010, name);
        // Each resolved by the next read, so none counts as a stranger.
        fake_.rows.push_back(Row(Ipv4(10, 0, i / 256, i % 256), kMac));
    }
    FlushArpGate(&gate_, 1000 + kArpReadIntervalMs + 50);
    ASSERT_EQ(g_posted.size(), 1 + kArpWaitingCapacity);
    EXPECT_STREQ(g_posted[1].name, L"100");
    EXPECT_STREQ(g_posted.back().name, L"611");
}

TEST_F(BroadcastArp, DroppedAndReleasedAnswersGoBackToTheHeap)
{
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    const SIZE_T before = HeapBytesInUse();
    ASSERT_GT(before, 0u) << "the process heap cannot be walked";
    for (size_t i = 0; i < kArpWaitingCapacity + 100; ++i) {
        Submit(L"00-11-22-AA-BB-CC", Ipv4(10, 0, i / 256, i % 256), 1010);
    }
    // The full queue holds its capacity; the hundred it dropped are freed.
    const SIZE_T slack = 25 * sizeof(DeviceRecord);
    EXPECT_LT(HeapBytesInUse(), before + kArpWaitingCapacity * sizeof(DeviceRecord) + slack);
    ReleaseArpGate(&gate_);
    EXPECT_LT(HeapBytesInUse(), before + slack);
}

TEST_F(BroadcastArp, ATableThatGrowsIsReadAgainAFewTimes)
{
    struct Growth {
        int growths;
        int arpConfirmed;
    };
    const Growth cases[] = {{1, 1}, {kTableReadAttempts - 1, 1}, {kTableReadAttempts, 0}};
    for (const Growth& c : cases) {
        SCOPED_TRACE(c.growths);
        ReleaseArpGate(&gate_);
        InitArpGate(&gate_, CollectRecord, nullptr);
        gate_.clock = ReadClock;
        fake_ = FakeArpTable();
        fake_.rows = {Row(Ipv4(192, 168, 1, 21), kOtherMac)};
        fake_.growths = c.growths;
        fake_.growRow = Row(kDevice, kMac);  // the sender's own entry came in
        DeviceRecord record = Check(L"00-11-22-AA-BB-CC");
        EXPECT_EQ(record.arpConfirmed, c.arpConfirmed);
        EXPECT_EQ(record.arpMismatch, 0);
    }
}

TEST_F(BroadcastArp, AgeIsMeasuredAcrossTheTickWrap)
{
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 0xFFFFFFF0u);
    Check(L"00-11-22-AA-BB-CC", kDevice, 0x00000010u);  // 32 ms later
    EXPECT_EQ(fake_.reads, 1);
    Check(L"00-11-22-AA-BB-CC", kDevice, 0xFFFFFFF0u + kArpRecheckMs);  // past the wrap
    EXPECT_EQ(fake_.reads, 2);
}

TEST_F(BroadcastArp, FailedRefreshDropsTheOldSnapshot)
{
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    ASSERT_NE(gate_.snapshot.table, nullptr);

    fake_.readStatus = ERROR_GEN_FAILURE;
    DeviceRecord record = Check(L"00-11-22-AA-BB-CC", kDevice, 1000 + kArpRecheckMs);
    EXPECT_EQ(record.arpConfirmed, 0);
    EXPECT_EQ(gate_.snapshot.table, nullptr);

    // With no snapshot held the sender is unknown: it waits for the next
    // allowed read rather than retrying the table at once.
    fake_.readStatus = NO_ERROR;
    Submit(L"00-11-22-AA-BB-CC", kDevice, 1001 + kArpRecheckMs);
    EXPECT_EQ(fake_.reads, 2);
    FlushArpGate(&gate_, 1000 + kArpRecheckMs + kArpReadIntervalMs + 50);
    EXPECT_EQ(fake_.reads, 3);
    ASSERT_EQ(g_posted.size(), 3u);
    EXPECT_EQ(g_posted.back().arpConfirmed, 1);
}

TEST_F(BroadcastArp, ReleaseEmptiesTheSnapshotAndIsRepeatable)
{
    fake_.rows = {Row(kDevice, kMac)};
    ASSERT_EQ(RefreshArpSnapshot(&gate_.snapshot), static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(ArpSnapshotHasSender(&gate_.snapshot, kDevice));
    ReleaseArpSnapshot(&gate_.snapshot);
    EXPECT_EQ(gate_.snapshot.table, nullptr);
    EXPECT_EQ(gate_.snapshot.rowCount, 0u);
    EXPECT_FALSE(ArpSnapshotHasSender(&gate_.snapshot, kDevice));
    ReleaseArpSnapshot(&gate_.snapshot);
    EXPECT_EQ(gate_.snapshot.table, nullptr);
}

bool CollectPosted(DeviceRecord* record)
{
    return CollectRecord(nullptr, 0, record);
}

// The hold of repeats counts from where the gate posts: the repeat of an
// answer the gate dropped goes out, and an unchanged answer the table now
// judges otherwise is no repeat.
TEST_F(BroadcastArp, RepeatsAreHeldFromTheirPostOnward)
{
    std::unique_ptr<AnswerHold> hold(new AnswerHold);
    InitAnswerHold(hold.get(), CollectPosted);
    ReleaseArpGate(&gate_);
    InitArpGate(&gate_, PostUnlessRepeat, hold.get());
    gate_.clock = ReadClock;
    fake_.rows = {Row(kDevice, kMac)};
    std::vector<uint32_t> strangers;
    for (unsigned i = 1; i <= kArpStrangerPostsPerRead + 1; ++i) {
        strangers.push_back(Ipv4(10, 0, 0, i));
    }
    const uint32_t dropped = strangers.back();  // last in the queue, over the limit
    struct Step {
        const char* label;
        std::vector<uint32_t> senders;  // none: the receive loop's flush alone
        DWORD now;
        std::vector<unsigned char> tableMac;  // kDevice's row from now on
        size_t posted;                        // in all, after the step
    };
    const std::vector<Step> steps = {
        {"the first answer, judged by the first read", {kDevice}, 1000, kMac, 1},
        {"its repeat", {kDevice}, 1100, kMac, 1},
        {"a stranger's answer reads the table anew", {Ipv4(10, 0, 1, 1)}, 1260, kOtherMac, 2},
        {"the device's repeat, now contradicted", {kDevice}, 1300, kOtherMac, 3},
        {"strangers wait for the next read", strangers, 1310, kOtherMac, 3},
        {"the read posts all but one", {}, 1520, kOtherMac, 3 + kArpStrangerPostsPerRead},
        {"the dropped one's repeat and a posted one's", {dropped, strangers[0]}, 1530, kOtherMac,
         3 + kArpStrangerPostsPerRead},
        {"the next read posts the dropped one's alone", {}, 1800, kOtherMac, 4 + kArpStrangerPostsPerRead},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        fake_.rows = {Row(kDevice, step.tableMac)};
        if (step.senders.empty()) {
            FlushArpGate(&gate_, step.now);
        }
        for (uint32_t sender : step.senders) {
            DeviceRecord answer;
            memset(&answer, 0, sizeof(answer));
            CopyText(answer.macText, kMacTextChars, L"00-11-22-AA-BB-CC");
            answer.lastSeen = step.now;
            OfferToArpGate(&gate_, hold.get(), sender, answer, step.now);
        }
        EXPECT_EQ(g_posted.size(), step.posted);
    }
    ASSERT_FALSE(g_posted.empty());
    EXPECT_EQ(g_posted.back().lastSeen, 1530u);
}

}  // namespace
