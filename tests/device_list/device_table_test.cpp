// The device table's rules without any window: sequences of answers and the
// rows they leave, and what a view is told and may refuse.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "core/device_table.h"

namespace {

// Tells what it saw; refuses as told.
struct RecordingView : DeviceTableView {
    bool RowAdded(const DeviceRow* row) override
    {
        seen.push_back(L"add " + std::wstring(row->shown.ipText));
        return !refuseAdd;
    }
    bool RowChanged(const DeviceRow* row, uint32_t changes) override
    {
        seen.push_back(L"change " + std::wstring(row->shown.ipText) + L" " + std::to_wstring(changes));
        return true;
    }
    bool RowRemoving(const DeviceRow* row) override
    {
        seen.push_back(L"remove " + std::wstring(row->shown.ipText));
        return !keepOnRemove;
    }
    std::vector<std::wstring> seen;
    bool refuseAdd = false;
    bool keepOnRemove = false;
};

// How an answer came: a broadcast reply carries the device's own MAC (with
// ARP marks from the neighbour table, here none or "the table knows another
// MAC"); a multicast DNS answer carries the table's MAC, one that may name
// no device (MdnsAnswerKind).
enum Way { kBcast, kBcastArpOther, kMdns, kMdnsShared };

struct Step {
    const wchar_t* ip;
    const wchar_t* mac;
    Way way;
    uint32_t at;
    int32_t state = DeviceStateNormal;  // the reach the hearing interface gave
    const wchar_t* description = nullptr;  // default: the maker's, by path
    const wchar_t* tableMac = nullptr;     // kBcastArpOther: the MAC the table gave instead
    uint32_t heardOn = 0;
    const wchar_t* instance = L"";
};

DeviceRecord* Answer(const Step& step)
{
    DeviceRecord* record = AllocateDeviceRecord();
    if (record == nullptr) {
        return nullptr;
    }
    const bool mdns = step.way == kMdns || step.way == kMdnsShared;
    CopyText(record->ipText, kIpTextChars, step.ip);
    CopyText(record->macText, kMacTextChars, step.mac);
    CopyText(record->name, kNameChars, mdns ? L"mdns" : L"bcast");
    const wchar_t* description = mdns ? L"Orvel mdns" : L"Orvel bcast";
    CopyText(record->description, kDescriptionChars, step.description != nullptr ? step.description : description);
    CopyText(record->portText, kPortTextChars, L"80");
    record->fromMdns = step.way == kMdns ? kMdnsAnswer : step.way == kMdnsShared ? kMdnsAnswerSharedMac : 0;
    record->arpConfirmed = mdns ? 1 : 0;
    record->arpMismatch = step.way == kBcastArpOther ? 1 : 0;
    unsigned octets[6] = {};
    if (step.tableMac != nullptr && swscanf(step.tableMac, L"%x-%x-%x-%x-%x-%x", &octets[0], &octets[1], &octets[2],
                                            &octets[3], &octets[4], &octets[5]) == 6) {
        for (int i = 0; i < 6; ++i) {
            record->arpTableMac[i] = static_cast<uint8_t>(octets[i]);
        }
    }
    record->lastSeen = step.at;
    record->state = step.state;
    record->heardOn = step.heardOn;
    CopyText(record->instanceName, kInstanceNameChars, step.instance);
    return record;
}

// "address|name|MAC|description|state|ways|ARP mark" of every row, in table order.
std::vector<std::wstring> Rows(const DeviceTable& table)
{
    std::vector<std::wstring> rows;
    for (int index = 0; index < table.Count(); ++index) {
        const DeviceRecord& shown = table.RowAt(index)->shown;
        rows.push_back(std::wstring(shown.ipText) + L"|" + shown.name + L"|" + shown.macText + L"|" +
                       shown.description + L"|" + std::to_wstring(shown.state) + L"|" +
                       std::to_wstring(table.RowAt(index)->ways) + L"|" + ArpMarkText(&shown));
    }
    return rows;
}

const wchar_t* kA = L"02-ac-00-00-00-0a";
const wchar_t* kB = L"02-AC-00-00-00-0B";
constexpr uint32_t kNoExpiry = 0;

TEST(DeviceTable, AnswerSequencesLeaveTheRowsOfTheRules)
{
    const wchar_t* kM1 = L"02-AC-00-00-00-01";
    const wchar_t* kM2 = L"02-AC-00-00-00-02";
    const wchar_t* kM3 = L"02-AC-00-00-00-03";
    const wchar_t* kBridge = L"02-BB-00-00-00-00";
    const wchar_t* kCard1 = L"02-CC-00-00-00-01";  // a second card each, as the table knows them
    const wchar_t* kCard2 = L"02-CC-00-00-00-02";
    const struct {
        const char* what;
        std::vector<Step> steps;
        uint32_t expireAt;  // kNoExpiry: none
        std::vector<std::wstring> rows;
        size_t refusedFrom = SIZE_MAX;  // the view refuses every row from this step on
    } cases[] = {
        {"other makers' broadcast answers are dropped, multicast DNS ones kept",
         {{L"10.0.0.5", kA, kBcast, 1000, 0, L"Acme box"}, {L"10.0.0.6", kB, kMdns, 1000, 0, L"Acme box"}},
         kNoExpiry,
         {L"10.0.0.6|mdns|02-AC-00-00-00-0B|Acme box|0|2|Y"}},
        {"numeric order, one MAC however spelt",
         {{L"10.0.0.10", kB, kBcast, 1000}, {L"10.0.0.9", kA, kBcast, 1000}, {L"10.0.0.9", L"02:AC:00:00:00:0A", kMdns, 1100}},
         kNoExpiry,
         {L"10.0.0.9|bcast|02-AC-00-00-00-0A|Orvel bcast|0|3|Y", L"10.0.0.10|bcast|02-AC-00-00-00-0B|Orvel bcast|0|1| "}},
        {"a second MAC under an address: both rows are conflicts",
         {{L"10.0.0.5", kA, kBcast, 1000, DeviceStateLinkLocal}, {L"10.0.0.5", kB, kBcast, 1000}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|3|1| ", L"10.0.0.5|bcast|02-AC-00-00-00-0B|Orvel bcast|3|1| "}},
        {"the rival expires: the row left takes its own state back",
         {{L"10.0.0.5", kA, kBcast, 1000, DeviceStateLinkLocal}, {L"10.0.0.5", kB, kBcast, 5000}},
         5000,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0B|Orvel bcast|0|1| "}},
        {"a MAC listed elsewhere answers from a listed address: a red row there, its first row as it was",
         {{L"10.0.0.5", kA, kBcast, 1000}, {L"10.0.0.6", kB, kBcast, 1000}, {L"10.0.0.5", kB, kBcast, 1100},
          {L"10.0.0.5", kA, kBcast, 1200}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|3|1| ", L"10.0.0.5|bcast|02-AC-00-00-00-0B|Orvel bcast|3|1| ",
          L"10.0.0.6|bcast|02-AC-00-00-00-0B|Orvel bcast|0|1| "}},
        {"a device answering from a second address refreshes that address's row only",
         {{L"10.0.0.5", kA, kBcast, 1000}, {L"10.0.0.6", kB, kBcast, 1000}, {L"10.0.0.6", kA, kBcast, 1100},
          {L"10.0.0.6", kA, kBcast, 3500}, {L"10.0.0.6", kB, kBcast, 3500}},
         4500,
         {L"10.0.0.6|bcast|02-AC-00-00-00-0B|Orvel bcast|3|1| ", L"10.0.0.6|bcast|02-AC-00-00-00-0A|Orvel bcast|3|1| "}},
        {"a reply copying a listed MAC leaves that device's texts alone",
         {{L"10.0.0.5", kA, kBcast, 1000}, {L"10.0.0.9", kB, kBcast, 1000}, {L"10.0.0.9", kA, kBcast, 1100, 0, L"Orvel copy"}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|0|1| ", L"10.0.0.9|bcast|02-AC-00-00-00-0B|Orvel bcast|3|1| ",
          L"10.0.0.9|bcast|02-AC-00-00-00-0A|Orvel copy|3|1| "}},
        {"behind a bridge: one row per device, its own MAC and names, the table's disagreement marked",
         {{L"10.0.0.5", kM1, kBcastArpOther, 1000}, {L"10.0.0.6", kM2, kBcastArpOther, 1000},
          {L"10.0.0.7", kM3, kBcastArpOther, 1000}, {L"10.0.0.5", kBridge, kMdnsShared, 1100},
          {L"10.0.0.6", kBridge, kMdnsShared, 1100}, {L"10.0.0.7", kBridge, kMdnsShared, 1100}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-01|Orvel bcast|0|3|*", L"10.0.0.6|bcast|02-AC-00-00-00-02|Orvel bcast|0|3|*",
          L"10.0.0.7|bcast|02-AC-00-00-00-03|Orvel bcast|0|3|*"}},
        {"behind a bridge, multicast DNS first: the broadcast answer takes the row, and leaves it once old",
         {{L"10.0.0.5", kBridge, kMdnsShared, 1000}, {L"10.0.0.6", kBridge, kMdnsShared, 1000},
          {L"10.0.0.5", kM1, kBcastArpOther, 1100}, {L"10.0.0.6", kM2, kBcastArpOther, 1100},
          {L"10.0.0.5", kBridge, kMdnsShared, 4101}},
         kNoExpiry,
         {L"10.0.0.5|mdns|02-BB-00-00-00-00|Orvel mdns|0|3|Y", L"10.0.0.6|bcast|02-AC-00-00-00-02|Orvel bcast|0|3|*"}},
        {"a second card: the multicast DNS answer with the MAC the table gave the broadcast answer joins its row",
         {{L"10.0.0.5", kM1, kBcastArpOther, 1000, 0, nullptr, kCard1}, {L"10.0.0.6", kM2, kBcastArpOther, 1000, 0, nullptr, kCard2},
          {L"10.0.0.7", kM3, kBcast, 1000}, {L"10.0.0.5", kCard1, kMdns, 1100}, {L"10.0.0.6", kCard2, kMdns, 1100},
          {L"10.0.0.7", kM3, kMdns, 1100}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-01|Orvel bcast|0|3|*", L"10.0.0.6|bcast|02-AC-00-00-00-02|Orvel bcast|0|3|*",
          L"10.0.0.7|bcast|02-AC-00-00-00-03|Orvel bcast|0|3|Y"}},
        {"a second card, multicast DNS first: the broadcast answer naming the table's MAC takes the row",
         {{L"10.0.0.5", kCard1, kMdns, 1000}, {L"10.0.0.5", kM1, kBcastArpOther, 1100, 0, nullptr, kCard1},
          {L"10.0.0.5", kCard1, kMdns, 1200}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-01|Orvel bcast|0|3|*"}},
        {"a second card heard first without the table's word: once it comes, the table's MAC's row goes",
         {{L"10.0.0.5", kCard1, kMdns, 1000}, {L"10.0.0.5", kM1, kBcast, 1000},
          {L"10.0.0.5", kM1, kBcastArpOther, 1100, 0, nullptr, kCard1}, {L"10.0.0.5", kCard1, kMdns, 1200}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-01|Orvel bcast|0|3|*"}},
        {"a rival the view refuses still turns the listed row red while its claim is current",
         {{L"10.0.0.5", kA, kBcast, 1000}, {L"10.0.0.6", kA, kBcast, 1000}, {L"10.0.0.5", kB, kBcast, 1000},
          {L"10.0.0.6", kB, kBcast, 1000}, {L"10.0.0.5", kA, kBcast, 2000}, {L"10.0.0.6", kA, kBcast, 4001}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|3|1| ", L"10.0.0.6|bcast|02-AC-00-00-00-0A|Orvel bcast|0|1| "},
         2},
        {"an answer stamped a little before the broadcast answer keeps its texts and reach",
         {{L"10.0.0.5", kA, kBcast, 1000, DeviceStateLinkLocal}, {L"10.0.0.5", kA, kMdns, 995, DeviceStateOtherSubnet}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|1|3|Y"}},
        {"and the claim on its address",
         {{L"10.0.0.5", kA, kBcast, 1000}, {L"10.0.0.5", kB, kBcast, 1000}, {L"10.0.0.5", kA, kMdns, 995}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|3|3|Y"},
         1},
        {"multicast DNS texts only once the broadcast answer is old",
         {{L"10.0.0.5", kA, kBcast, 1000}, {L"10.0.0.5", kA, kMdns, 4000}, {L"10.0.0.6", kB, kBcast, 1000},
          {L"10.0.0.6", kB, kMdns, 4001}},
         kNoExpiry,
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|0|3|Y", L"10.0.0.6|mdns|02-AC-00-00-00-0B|Orvel mdns|0|3|Y"}},
        {"the best current reach stays, an old one gives way",
         {{L"169.254.0.5", kA, kBcast, 1000, DeviceStateLinkLocal}, {L"169.254.0.5", kA, kMdns, 1100, DeviceStateOtherSubnet},
          {L"169.254.0.6", kB, kBcast, 1000, DeviceStateLinkLocal}, {L"169.254.0.6", kB, kBcast, 4101, DeviceStateOtherSubnet}},
         kNoExpiry,
         {L"169.254.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|1|3|Y", L"169.254.0.6|bcast|02-AC-00-00-00-0B|Orvel bcast|2|1| "}},
        {"expiry: exactly the span stays, one millisecond more goes, a later sighting stays",
         {{L"10.0.0.1", kA, kBcast, 7000}, {L"10.0.0.2", kB, kBcast, 6999}, {L"10.0.0.3", L"02-00-00-00-00-03", kBcast, 10500}},
         10000,
         {L"10.0.0.1|bcast|02-AC-00-00-00-0A|Orvel bcast|0|1| ", L"10.0.0.3|bcast|02-00-00-00-00-03|Orvel bcast|0|1| "}},
    };
    for (const auto& c : cases) {
        RecordingView view;
        DeviceTable table;
        table.SetView(&view);
        for (size_t step = 0; step < c.steps.size(); ++step) {
            view.refuseAdd = step >= c.refusedFrom;
            table.Merge(Answer(c.steps[step]));
        }
        if (c.expireAt != kNoExpiry) {
            table.Expire(c.expireAt);
        }
        EXPECT_EQ(c.rows, Rows(table)) << c.what;
    }
}

TEST(DeviceTable, BoundsDropNewRowsButLetUpdatesThrough)
{
    DeviceTable table;
    wchar_t mac[32];
    for (int i = 0; i < kMaxRowsPerAddress + 1; ++i) {
        swprintf(mac, 32, L"02-00-00-00-00-%02X", i);
        table.Merge(Answer({L"10.0.0.5", mac, kBcast, 1000}));
    }
    EXPECT_EQ(kMaxRowsPerAddress, table.Count());
    wchar_t ip[32];
    for (int i = table.Count(); i < kMaxDeviceRows + 1; ++i) {
        swprintf(ip, 32, L"10.1.%d.%d", i / 256, i % 256);
        table.Merge(Answer({ip, L"02-00-00-00-01-00", kBcast, 1000}));
    }
    EXPECT_EQ(kMaxDeviceRows, table.Count());
    table.Merge(Answer({L"10.0.0.5", L"02-00-00-00-00-00", kMdns, 1200}));
    EXPECT_EQ(kMaxDeviceRows, table.Count());
    EXPECT_EQ(1200u, table.RowAt(0)->record->lastSeen);

    // A rival with no room for its row still marks the listed one.
    const DeviceRow* listed = table.RowAt(kMaxDeviceRows - 1);
    EXPECT_EQ(DeviceStateNormal, listed->shown.state);
    table.Merge(Answer({listed->shown.ipText, L"02-00-00-00-02-00", kBcast, 1300}));
    EXPECT_EQ(kMaxDeviceRows, table.Count());
    EXPECT_EQ(DeviceStateConflict, listed->shown.state);
}

TEST(DeviceTable, TheViewLearnsOfRealChangesOnlyAndMayRefuse)
{
    RecordingView view;
    DeviceTable table;
    table.SetView(&view);
    table.Merge(Answer({L"10.0.0.5", kA, kBcast, 1000}));
    table.Merge(Answer({L"10.0.0.5", kA, kBcast, 1500}));  // the same answer again: nothing to show
    table.Merge(Answer({L"10.0.0.5", kB, kBcast, 1600}));
    table.Expire(4550);  // kA's row goes, kB's settles
    std::vector<std::wstring> expected = {
        L"add 10.0.0.5", L"add 10.0.0.5", L"change 10.0.0.5 32", L"remove 10.0.0.5", L"change 10.0.0.5 32"};
    EXPECT_EQ(expected, view.seen);
    EXPECT_EQ(DeviceStateNormal, table.RowAt(0)->shown.state);

    view.refuseAdd = true;
    table.Merge(Answer({L"10.0.0.7", kA, kBcast, 1600}));
    EXPECT_EQ(1, table.Count());
    view.keepOnRemove = true;
    table.Clear();
    EXPECT_EQ(1, table.Count());
}

TEST(DeviceTable, ARowKeepsItsOwnInstanceNameAndTheLowestInterfaceOfItsReach)
{
    // Interface addresses in network byte order, as records carry them.
    const uint32_t kLow = 0x0100000A;   // 10.0.0.1
    const uint32_t kHigh = 0x0200000A;  // 10.0.0.2
    const uint32_t kOther = 0x0100A8C0; // 192.168.0.1
    const struct {
        const char* what;
        std::vector<Step> steps;
        const wchar_t* instance;
        uint32_t heardOn;
    } cases[] = {
        {"its own answer names it; a lesser reach elsewhere moves nothing",
         {{L"10.0.0.5", kA, kBcast, 1000, 0, nullptr, nullptr, kHigh},
          {L"10.0.0.5", kA, kMdns, 1100, 0, nullptr, nullptr, kHigh, L"X200 Lobby"},
          {L"10.0.0.5", kA, kBcast, 1200, DeviceStateOtherSubnet, nullptr, nullptr, kOther}},
         L"X200 Lobby", kHigh},
        {"two cards with one reach: the lower, the higher heard last",
         {{L"10.0.0.5", kA, kBcast, 1000, 0, nullptr, nullptr, kLow}, {L"10.0.0.5", kA, kBcast, 1100, 0, nullptr, nullptr, kHigh}},
         L"", kLow},
        {"and heard first", {{L"10.0.0.5", kA, kBcast, 1000, 0, nullptr, nullptr, kHigh}, {L"10.0.0.5", kA, kBcast, 1100, 0, nullptr, nullptr, kLow}},
         L"", kLow},
        {"an answer joining another device's row by a shared MAC leaves its name off",
         {{L"10.0.0.5", kA, kBcast, 1000}, {L"10.0.0.5", kB, kMdnsShared, 1100, 0, nullptr, nullptr, 0, L"Someone Else"}},
         L"", 0},
        {"and one joining by the table's MAC",
         {{L"10.0.0.5", kA, kBcastArpOther, 1000, 0, nullptr, kB}, {L"10.0.0.5", kB, kMdns, 1100, 0, nullptr, nullptr, 0, L"X200 Card"}},
         L"", 0},
    };
    for (const auto& c : cases) {
        DeviceTable table;
        for (const Step& step : c.steps) {
            table.Merge(Answer(step));
        }
        ASSERT_EQ(1, table.Count()) << c.what;
        EXPECT_STREQ(c.instance, table.RowAt(0)->shown.instanceName) << c.what;
        EXPECT_EQ(c.heardOn, table.RowAt(0)->shown.heardOn) << c.what;
    }
}

}  // namespace
