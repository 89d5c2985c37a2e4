// The ARP cross-check against a fake neighbour table, and the rules for
// reusing the per-worker snapshot of that table.
#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include <vector>

#include "core/device_record.h"
#include "core/platform.h"
#include "broadcast/test_addresses.h"
#include "net/arp_check.h"

namespace {

// The fake table: rows to report, what the size probe and the read return,
// and how often each was asked for.
struct FakeArpTable {
    std::vector<MIB_IPNETROW> rows;
    DWORD probeStatus = ERROR_INSUFFICIENT_BUFFER;
    DWORD readStatus = NO_ERROR;
    DWORD claimedRows = 0;  // when non-zero, reported instead of rows.size()
    int probes = 0;
    int reads = 0;
};

FakeArpTable* g_fake = nullptr;

DWORD WINAPI FakeGetIpNetTable(PMIB_IPNETTABLE table, PULONG size, BOOL)
{
    ULONG needed = static_cast<ULONG>(offsetof(MIB_IPNETTABLE, table) +
                                      g_fake->rows.size() * sizeof(MIB_IPNETROW));
    if (table == nullptr || *size < needed) {
        ++g_fake->probes;
        *size = needed;
        return g_fake->probeStatus;
    }
    ++g_fake->reads;
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

class BroadcastArp : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_platform;
        g_fake = &fake_;
        g_platform.getIpNetTable = FakeGetIpNetTable;
        InitArpSnapshot(&snapshot_);
    }

    void TearDown() override
    {
        ReleaseArpSnapshot(&snapshot_);
        g_platform = saved_;
        g_fake = nullptr;
    }

    // Cross-checks a fresh record with this MAC text at tick now.
    DeviceRecord Check(const wchar_t* macText, uint32_t sender = kDevice, DWORD now = 1000)
    {
        DeviceRecord record;
        memset(&record, 0, sizeof(record));
        CopyText(record.macText, kMacTextChars, macText);
        ArpCrossCheck(&snapshot_, sender, &record, now);
        return record;
    }

    FakeArpTable fake_;
    ArpSnapshot snapshot_;
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
        {"colons never match", {Row(kDevice, kMac)}, L"00:11:22:AA:BB:CC", 1, 0},
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
        ReleaseArpSnapshot(&snapshot_);
        fake_.rows = c.rows;
        DeviceRecord record = Check(c.macText);
        EXPECT_EQ(record.arpMismatch, c.arpMismatch);
        EXPECT_EQ(record.arpConfirmed, c.arpConfirmed);
    }
}

TEST_F(BroadcastArp, FlagsAlreadySetStaySet)
{
    fake_.rows = {Row(kDevice, kMac)};
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    CopyText(record.macText, kMacTextChars, L"00-11-22-AA-BB-CC");
    record.arpMismatch = 1;
    ArpCrossCheck(&snapshot_, kDevice, &record, 1000);
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
        fake_ = FakeArpTable();
        fake_.rows = {Row(kDevice, kOtherMac)};
        fake_.probeStatus = f.probeStatus;
        fake_.readStatus = f.readStatus;
        DeviceRecord record = Check(L"00-11-22-AA-BB-CC");
        EXPECT_EQ(record.arpMismatch, 0);
        EXPECT_EQ(record.arpConfirmed, 0);
        EXPECT_EQ(fake_.reads, f.expectedReads);
        EXPECT_EQ(snapshot_.table, nullptr);
    }
}

TEST_F(BroadcastArp, RowCountBeyondTheBufferIsIgnored)
{
    fake_.rows = {Row(kDevice, kMac)};
    fake_.claimedRows = 100000;  // far more rows than the size it reported
    DeviceRecord record = Check(L"00-11-22-AA-BB-CC");
    EXPECT_EQ(record.arpConfirmed, 1);
    EXPECT_EQ(snapshot_.rowCount, 1u);
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
    DeviceRecord record = Check(L"00-11-22-AA-BB-CC", kDevice, 1000 + kArpSnapshotMaxAgeMs);
    EXPECT_EQ(fake_.reads, 2);
    EXPECT_EQ(record.arpMismatch, 1);
    EXPECT_EQ(record.arpConfirmed, 0);
    EXPECT_EQ(snapshot_.readTick, 1000 + kArpSnapshotMaxAgeMs);
}

TEST_F(BroadcastArp, SenderMissingFromTheSnapshotIsReadAgain)
{
    const uint32_t newcomer = Ipv4(192, 168, 1, 30);
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);

    // The newcomer's entry appeared after the snapshot was taken.
    fake_.rows = {Row(kDevice, kMac), Row(newcomer, kOtherMac)};
    DeviceRecord record = Check(L"00-11-22-AA-BB-CD", newcomer, 1010);
    EXPECT_EQ(fake_.reads, 2);
    EXPECT_EQ(record.arpConfirmed, 1);

    // A sender that has only non-counting rows is read again every time.
    fake_.rows.push_back(Row(Ipv4(192, 168, 1, 31), kMac, 2));
    Check(L"00-11-22-AA-BB-CC", Ipv4(192, 168, 1, 31), 1020);
    Check(L"00-11-22-AA-BB-CC", Ipv4(192, 168, 1, 31), 1030);
    EXPECT_EQ(fake_.reads, 4);
}

TEST_F(BroadcastArp, AgeIsMeasuredAcrossTheTickWrap)
{
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 0xFFFFFFF0u);
    Check(L"00-11-22-AA-BB-CC", kDevice, 0x00000010u);  // 32 ms later
    EXPECT_EQ(fake_.reads, 1);
    Check(L"00-11-22-AA-BB-CC", kDevice, 0x00000060u);  // 112 ms later
    EXPECT_EQ(fake_.reads, 2);
}

TEST_F(BroadcastArp, FailedRefreshDropsTheOldSnapshot)
{
    fake_.rows = {Row(kDevice, kMac)};
    Check(L"00-11-22-AA-BB-CC", kDevice, 1000);
    ASSERT_NE(snapshot_.table, nullptr);

    fake_.readStatus = ERROR_GEN_FAILURE;
    DeviceRecord record = Check(L"00-11-22-AA-BB-CC", kDevice, 2000);
    EXPECT_EQ(record.arpConfirmed, 0);
    EXPECT_EQ(snapshot_.table, nullptr);

    // With no snapshot held, the next answer reads again even right away.
    fake_.readStatus = NO_ERROR;
    record = Check(L"00-11-22-AA-BB-CC", kDevice, 2001);
    EXPECT_EQ(fake_.reads, 3);
    EXPECT_EQ(record.arpConfirmed, 1);
}

TEST_F(BroadcastArp, ReleaseEmptiesTheSnapshotAndIsRepeatable)
{
    fake_.rows = {Row(kDevice, kMac)};
    ASSERT_EQ(RefreshArpSnapshot(&snapshot_, 5), static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(ArpSnapshotHasSender(&snapshot_, kDevice));
    ReleaseArpSnapshot(&snapshot_);
    EXPECT_EQ(snapshot_.table, nullptr);
    EXPECT_EQ(snapshot_.rowCount, 0u);
    EXPECT_FALSE(ArpSnapshotHasSender(&snapshot_, kDevice));
    ReleaseArpSnapshot(&snapshot_);
    EXPECT_EQ(snapshot_.table, nullptr);
}

}  // namespace
