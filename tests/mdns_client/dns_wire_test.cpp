// The DNS wire reader against broken packets (each refused whole or losing
// only its broken record); a good, compressed response as the record list
// the client makes from it; the query builder and the text form of names.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "dns/wire.h"
#include "querier/client.h"
#include "querier/records.h"
#include "mdns_client/packet_builder.h"

namespace {

const uint8_t kDevice[4] = {192, 168, 77, 20};

struct ReadCounts {
    bool opened;
    unsigned read;
    unsigned dropped;
};

ReadCounts ReadAll(const Packet& packet)
{
    ReadCounts counts = {false, 0, 0};
    DnsMessage message;
    if (!DnsOpenMessage(packet.data(), packet.size(), &message)) {
        return counts;
    }
    counts.opened = true;
    DnsRecordCursor cursor = {};
    DnsRecord record;
    DnsReadResult result;
    while ((result = DnsReadNextRecord(message, &cursor, &record)) != kDnsNoMoreRecords) {
        ++(result == kDnsRecordRead ? counts.read : counts.dropped);
    }
    return counts;
}

// A packet whose first record is written by `first` and whose second is a
// good A record at a known offset (28 when the first record is 16 bytes).
Packet FirstRecordThenGood(const std::function<void(Packet&)>& first)
{
    Packet p;
    PutHeader(p, kResponseFlags, 0, 2, 0, 0);
    first(p);
    PutName(p, "ok.local");
    PutFixed(p, 1, 1, 120, 4);
    Put32(p, 0x0A000001);
    return p;
}

void ARecordData(Packet& p, unsigned dataLength = 4)
{
    PutFixed(p, 1, 1, 120, dataLength);
    p.insert(p.end(), dataLength, 1);
}

struct BrokenCase {
    const char* what;
    Packet packet;
    ReadCounts expected;
};

std::vector<BrokenCase> BrokenCases()
{
    const ReadCounts refused = {false, 0, 0};
    const ReadCounts secondOnly = {true, 1, 1};
    Packet truncated;
    PutHeader(truncated, kResponseFlags, 0, 0, 0, 0);
    truncated.pop_back();
    Packet counts = FirstRecordThenGood([](Packet& p) { PutPointer(p, 12), ARecordData(p); });
    counts[7] = 200;  // answer count far beyond the two records present
    Packet labelPastEnd;
    PutHeader(labelPastEnd, 0, 1, 0, 0, 0);
    labelPastEnd.push_back(20);
    labelPastEnd.insert(labelPastEnd.end(), {'a', 'b', 'c'});
    Packet dataPastEnd;
    PutHeader(dataPastEnd, kResponseFlags, 0, 1, 0, 0);
    PutName(dataPastEnd, "a.local");
    PutFixed(dataPastEnd, 1, 1, 120, 50);
    Put32(dataPastEnd, 0);
    Packet reservedLabel;
    PutHeader(reservedLabel, kResponseFlags, 0, 1, 0, 0);
    reservedLabel.insert(reservedLabel.end(), {0x40, 0});
    ARecordData(reservedLabel);

    return {
        {"truncated header", truncated, refused},
        {"counts larger than the packet", counts, refused},
        {"label past the end", labelPastEnd, refused},
        {"data length past the end", dataPastEnd, refused},
        {"reserved label type", reservedLabel, refused},
        {"compression loop", FirstRecordThenGood([](Packet& p) {
             PutLabels(p, "a");
             PutPointer(p, 12);  // back to its own start
             ARecordData(p);
         }), secondOnly},
        {"pointer past the end", FirstRecordThenGood([](Packet& p) { PutPointer(p, 0x3FF0), ARecordData(p); }),
         secondOnly},
        {"forward pointer to a good name",
         FirstRecordThenGood([](Packet& p) { PutPointer(p, 28), ARecordData(p); }), secondOnly},
        {"name longer than 255 octets", FirstRecordThenGood([](Packet& p) {
             for (int i = 0; i < 5; ++i) {
                 PutLabels(p, std::string(60, 'x'));
             }
             p.push_back(0);
             ARecordData(p);
         }), secondOnly},
        {"TXT string past its record", FirstRecordThenGood([](Packet& p) {
             PutName(p, "t.local");
             PutFixed(p, 16, 1, 120, 3);
             p.insert(p.end(), {10, 'a', 'b'});  // the good record's bytes follow
         }), secondOnly},
        {"PTR target pointing at itself", FirstRecordThenGood([](Packet& p) {
             PutName(p, "p.local");
             PutFixed(p, 12, 1, 120, 2);
             PutPointer(p, unsigned(p.size()));
         }), secondOnly},
        {"SRV data too short", FirstRecordThenGood([](Packet& p) {
             PutName(p, "s.local");
             PutFixed(p, 33, 1, 120, 5);
             p.insert(p.end(), 5, 0);
         }), secondOnly},
        {"A data of 3 bytes", FirstRecordThenGood([](Packet& p) { PutName(p, "a.local"), ARecordData(p, 3); }),
         secondOnly},
    };
}

TEST(DnsWire, BrokenPacketsAreRefusedOrLoseTheBrokenRecord)
{
    for (const BrokenCase& c : BrokenCases()) {
        // An exact-size heap copy, so a read past the end leaves the data.
        std::vector<uint8_t> exact(c.packet.begin(), c.packet.end());
        ReadCounts got = ReadAll(exact);
        EXPECT_EQ(c.expected.opened, got.opened) << c.what;
        EXPECT_EQ(c.expected.read, got.read) << c.what;
        EXPECT_EQ(c.expected.dropped, got.dropped) << c.what;
    }
}

TEST(DnsWire, RecordListHoldsAnswersThenAdditionalsInPacketOrder)
{
    Packet packet = ServiceResponse("_lumarisnet._tcp.local", "Dev 1", "dev1.local", kDevice);
    DnsMessage message;
    ASSERT_TRUE(DnsOpenMessage(packet.data(), packet.size(), &message));
    EXPECT_TRUE(PacketAnswersQuery(message, "_LumarisNet._TCP.local", kDnsTypePtr));
    EXPECT_FALSE(PacketAnswersQuery(message, "_lumarisnet._tcp.local", kDnsTypeSrv));
    EXPECT_FALSE(PacketAnswersQuery(message, "Dev 1._lumarisnet._tcp.local", kDnsTypeSrv));  // additional only

    PDNS_RECORD list = BuildRecordList(message);
    ASSERT_NE(nullptr, list);
    const WORD types[4] = {DNS_TYPE_PTR, DNS_TYPE_SRV, DNS_TYPE_TEXT, DNS_TYPE_A};
    PDNS_RECORD r = list;
    for (WORD type : types) {
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(type, r->wType);
        EXPECT_EQ(type == DNS_TYPE_PTR ? DNSREC_ANSWER : DNSREC_ADDITIONAL, r->Flags.S.Section);
        r = r->pNext;
    }
    EXPECT_EQ(nullptr, r);
    EXPECT_STREQ(L"Dev 1._lumarisnet._tcp.local", list->Data.PTR.pNameHost);
    EXPECT_STREQ(L"dev1.local", list->pNext->Data.SRV.pNameTarget);
    EXPECT_EQ(8080, list->pNext->Data.SRV.wPort);
    EXPECT_STREQ(L"Dev 1._lumarisnet._tcp.local", list->pNext->pName);  // through two pointers
    const DNS_TXT_DATAW& txt = list->pNext->pNext->Data.TXT;
    ASSERT_EQ(2u, txt.dwStringCount);
    EXPECT_STREQ(L"vendor=Orvel", txt.pStringArray[0]);
    EXPECT_STREQ(L"model=X200", txt.pStringArray[1]);
    EXPECT_EQ(0, memcmp(kDevice, &list->pNext->pNext->pNext->Data.A.IpAddress, 4));
    MdnsClientFree(list, DnsFreeRecordList);
}

TEST(DnsWire, NameTextEscapesWhatIsNotPlainAndTurnsBackIntoTheSameLabel)
{
    const uint8_t label[] = {'a', '.', 'b', '\\', 0x01, 0xFF, 0xC3, 0xA9};  // ends in a valid "é"
    Packet p;
    p.push_back(sizeof(label));
    p.insert(p.end(), label, label + sizeof(label));
    PutName(p, "local");
    char text[kDnsNameTextCapacity];
    ASSERT_TRUE(DnsReadName(p.data(), p.size(), 0, text, sizeof(text), nullptr));
    EXPECT_STREQ("a\\.b\\\\\\001\\255\xC3\xA9.local", text);

    uint8_t query[kDnsMaxQueryBytes];
    size_t length = DnsBuildQuery(text, kDnsTypeSrv, true, query, sizeof(query));
    ASSERT_EQ(kDnsHeaderBytes + p.size() + 4, length);
    EXPECT_EQ(0, memcmp(p.data(), query + kDnsHeaderBytes, p.size()));
    const uint8_t question[4] = {0, 33, 0x80, 1};  // SRV, class IN with the unicast-response bit
    EXPECT_EQ(0, memcmp(question, query + length - 4, 4));
    EXPECT_EQ(1, query[5]);  // one question
}

TEST(DnsWire, QueryBuilderRefusesInvalidNames)
{
    const std::string longLabel(64, 'a');
    const std::string label63(63, 'a');
    const std::string tooLong = label63 + "." + label63 + "." + label63 + "." + label63;  // 257 octets
    const char* names[] = {"a..local", ".local", longLabel.c_str(), tooLong.c_str(), "a\\", "a\\256.local"};
    uint8_t query[kDnsMaxQueryBytes];
    for (const char* name : names) {
        EXPECT_EQ(0u, DnsBuildQuery(name, kDnsTypePtr, false, query, sizeof(query))) << name;
    }
    const std::string fits = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'a');  // 255
    EXPECT_NE(0u, DnsBuildQuery(fits.c_str(), kDnsTypePtr, false, query, sizeof(query)));
}

// Several questions in one packet read back in order, each as it was
// built alone; a question that would overflow the packet is refused and
// leaves it as it was.
TEST(DnsWire, QueryOfSeveralQuestions)
{
    uint8_t packet[120];
    uint8_t one[kDnsMaxQueryBytes];
    size_t length = DnsBuildQuery("a.local", kDnsTypeSrv, false, packet, sizeof(packet));
    const struct {
        const char* name;
        uint16_t type;
    } more[] = {{"b._x._tcp.local", kDnsTypeTxt}, {"a.local", kDnsTypeTxt}};
    for (const auto& question : more) {
        size_t oneLength = DnsBuildQuery(question.name, question.type, false, one, sizeof(one));
        length = DnsAppendQuestion(packet, length, sizeof(packet), one, oneLength);
        ASSERT_NE(0u, length);
    }
    DnsMessage message;
    ASSERT_TRUE(DnsOpenMessage(packet, length, &message));
    ASSERT_EQ(3, message.questionCount);
    EXPECT_EQ(length, message.recordsOffset);
    const char* names[] = {"a.local", "b._x._tcp.local", "a.local"};
    const uint16_t types[] = {kDnsTypeSrv, kDnsTypeTxt, kDnsTypeTxt};
    size_t offset = kDnsHeaderBytes;
    for (int i = 0; i < 3; ++i) {
        char name[kDnsNameTextCapacity];
        ASSERT_TRUE(DnsReadName(packet, length, offset, name, sizeof(name), &offset));
        EXPECT_STREQ(names[i], name);
        EXPECT_EQ(types[i], (packet[offset] << 8) | packet[offset + 1]);
        offset += 4;
    }

    size_t big = DnsBuildQuery(std::string(60, 'c').append(".local").c_str(), kDnsTypeA, false, one, sizeof(one));
    uint8_t before[sizeof(packet)];
    memcpy(before, packet, sizeof(packet));
    EXPECT_EQ(0u, DnsAppendQuestion(packet, length, sizeof(packet), one, big));
    EXPECT_EQ(0, memcmp(before, packet, sizeof(packet)));
    EXPECT_EQ(0u, DnsAppendQuestion(packet, length, sizeof(packet), packet, length));  // not one question
}

// Known answers follow the questions, their owner a pointer to a question's
// name and their target compressed against it where it ends in it; they
// read back as sent, and no question can follow them.
TEST(DnsWire, KnownAnswersFollowTheQuestions)
{
    uint8_t packet[200];
    uint8_t one[kDnsMaxQueryBytes];
    size_t length = DnsBuildQuery("a.local", kDnsTypeA, false, packet, sizeof(packet));
    size_t ptrAt = length;
    size_t oneLength = DnsBuildQuery("_x._tcp.local", kDnsTypePtr, false, one, sizeof(one));
    length = DnsAppendQuestion(packet, length, sizeof(packet), one, oneLength);
    struct Known {
        const char* target;
        uint32_t ttl;
        size_t bytes;  // the record's size
    } known[] = {{"Dev\\.1._X._tcp.local", 4499, 12 + 6 + 2}, {"other.local", 7, 12 + 13}, {"_x._tcp.local", 1, 12 + 2}};
    for (const Known& k : known) {
        size_t grown = DnsAppendKnownAnswer(packet, length, sizeof(packet), ptrAt, kDnsTypePtr, k.ttl, k.target);
        ASSERT_EQ(length + k.bytes, grown) << k.target;
        length = grown;
    }
    EXPECT_EQ(0u, DnsAppendKnownAnswer(packet, length, length + 10, ptrAt, kDnsTypePtr, 1, "a.local"));
    EXPECT_EQ(0u, DnsAppendKnownAnswer(packet, length, sizeof(packet), ptrAt + 1, kDnsTypePtr, 1, "a.local"));
    EXPECT_EQ(0u, DnsAppendQuestion(packet, length, sizeof(packet), one, oneLength));
    DnsMessage message;
    ASSERT_TRUE(DnsOpenMessage(packet, length, &message));
    ASSERT_EQ(2, message.questionCount);
    ASSERT_EQ(3, message.answerCount);
    DnsRecordCursor cursor = {};
    DnsRecord record;
    for (const Known& k : known) {
        ASSERT_EQ(kDnsRecordRead, DnsReadNextRecord(message, &cursor, &record));
        EXPECT_STREQ("_x._tcp.local", record.owner);
        EXPECT_EQ(kDnsTypePtr, record.type);
        EXPECT_EQ(kDnsClassIn, record.rrClass);
        EXPECT_EQ(k.ttl, record.ttl);
        EXPECT_TRUE(DnsNamesEqual(k.target, record.target)) << record.target;
    }
}

}  // namespace
