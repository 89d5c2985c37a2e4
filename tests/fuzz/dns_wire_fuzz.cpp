// libFuzzer target for the DNS wire reader: any bytes as one received
// packet. Beyond "no crash, no hang" it checks every output: names are
// bounded, valid UTF-8 without control characters and survive a trip back
// to wire form; record and TXT data lie inside the packet; every counted
// record is read or dropped exactly once, in its section. The same bytes,
// as text, go through the name encoder, and every name read goes as a
// known answer into a query and reads back the same.
// fuzz-sources: dns/wire.cpp dns/names.cpp
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "dns/wire.h"

namespace {

void Require(bool condition)
{
    if (!condition) {
        abort();
    }
}

bool ValidUtf8WithoutControls(const char* text)
{
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    while (*s != 0) {
        uint8_t lead = *s;
        size_t count = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                       : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (count == 0 || lead < 0x20 || lead == 0x7F) {
            return false;
        }
        uint32_t codePoint = count == 1 ? lead : lead & (0x7F >> count);
        for (size_t i = 1; i < count; ++i) {
            if ((s[i] & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (s[i] & 0x3F);
        }
        static const uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kMinimum[count] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        s += count;
    }
    return true;
}

// A name as the reader gives it: bounded, valid, and its own canonical form.
void CheckName(const char* name)
{
    size_t length = strnlen(name, kDnsNameTextCapacity);
    Require(length > 0 && length < kDnsNameTextCapacity);
    Require(ValidUtf8WithoutControls(name));
    char canonical[kDnsNameTextCapacity];
    Require(DnsCanonicalName(name, canonical, sizeof(canonical)));
    Require(strcmp(canonical, name) == 0);
}

// A query for the name carries it unchanged.
void CheckQueryFor(const char* name, uint16_t type)
{
    uint8_t query[kDnsMaxQueryBytes];
    size_t length = DnsBuildQuery(name, type, (type & 1) != 0, query, sizeof(query));
    Require(length > kDnsHeaderBytes);
    DnsMessage message;
    Require(DnsOpenMessage(query, length, &message));
    Require(message.questionCount == 1 && DnsRecordTotal(message) == 0 && message.recordsOffset == length);
    char back[kDnsNameTextCapacity];
    Require(DnsReadName(query, length, kDnsHeaderBytes, back, sizeof(back), nullptr));
    Require(strcmp(back, name) == 0);
}

// A known answer for `target` in a PTR query for `owner` reads back as both.
void CheckKnownAnswer(const char* owner, const char* target, uint32_t ttl)
{
    uint8_t packet[2 * kDnsMaxQueryBytes + 16];
    size_t length = DnsBuildQuery(owner, kDnsTypePtr, false, packet, sizeof(packet));
    Require(length > kDnsHeaderBytes);
    size_t grown = DnsAppendKnownAnswer(packet, length, sizeof(packet), kDnsHeaderBytes, kDnsTypePtr, ttl, target);
    Require(grown > length);
    DnsMessage message;
    Require(DnsOpenMessage(packet, grown, &message));
    Require(message.questionCount == 1 && message.answerCount == 1 && DnsRecordTotal(message) == 1);
    DnsRecordCursor cursor = {};
    DnsRecord record;
    Require(DnsReadNextRecord(message, &cursor, &record) == kDnsRecordRead);
    Require(strcmp(record.owner, owner) == 0 && DnsNamesEqual(record.target, target));
    Require(record.type == kDnsTypePtr && record.ttl == ttl && record.rrClass == kDnsClassIn);
    Require(DnsAppendKnownAnswer(packet, grown, grown + 1, kDnsHeaderBytes, kDnsTypePtr, ttl, target) == 0);
}

void CheckRecord(const DnsMessage& message, unsigned index, const DnsRecord& record)
{
    unsigned answers = message.answerCount;
    unsigned authority = answers + message.authorityCount;
    uint8_t section = index < answers ? kDnsSectionAnswer
                      : index < authority ? kDnsSectionAuthority : kDnsSectionAdditional;
    Require(record.section == section);
    Require(record.dataOffset >= message.recordsOffset && record.dataOffset <= message.length);
    Require(record.dataLength <= message.length - record.dataOffset);
    Require((record.rrClass & 0x8000) == 0);
    CheckName(record.owner);
    switch (record.type) {
    case kDnsTypeA:
        Require(record.dataLength == 4);
        break;
    case kDnsTypeAaaa:
        Require(record.dataLength == 16);
        break;
    case kDnsTypePtr:
    case kDnsTypeSrv:
        CheckName(record.target);
        break;
    case kDnsTypeTxt: {
        size_t position = 0;
        unsigned strings = 0;
        const uint8_t* text;
        size_t length;
        while (DnsNextTxtString(message, record, &position, &text, &length)) {
            Require(text > message.packet + record.dataOffset);
            Require(text + length <= message.packet + record.dataOffset + record.dataLength);
            ++strings;
        }
        Require(strings == record.txtCount && position == record.dataLength);
        break;
    }
    default:
        break;
    }
}

void FuzzPacket(const uint8_t* data, size_t size)
{
    DnsMessage message;
    if (!DnsOpenMessage(data, size, &message)) {
        return;
    }
    Require(message.recordsOffset >= kDnsHeaderBytes && message.recordsOffset <= size);
    DnsRecordCursor cursor = {};
    DnsRecord record;
    unsigned seen = 0;
    size_t lastOffset = message.recordsOffset;
    for (;;) {
        unsigned index = cursor.index;
        DnsReadResult result = DnsReadNextRecord(message, &cursor, &record);
        if (result == kDnsNoMoreRecords) {
            break;
        }
        Require(cursor.index == index + 1 && cursor.offset > lastOffset && cursor.offset <= size);
        lastOffset = cursor.offset;
        ++seen;
        if (result == kDnsRecordRead) {
            CheckRecord(message, index, record);
            if (seen <= 4) {
                CheckQueryFor(record.owner, record.type);
                if (record.type == kDnsTypePtr || record.type == kDnsTypeSrv) {
                    CheckKnownAnswer(record.owner, record.target, record.ttl);
                }
            }
        }
    }
    Require(seen == DnsRecordTotal(message));
}

void FuzzNameText(const uint8_t* data, size_t size)
{
    char text[600];
    size_t length = size < sizeof(text) - 1 ? size : sizeof(text) - 1;
    memcpy(text, data, length);
    text[length] = '\0';
    char canonical[kDnsNameTextCapacity];
    if (DnsCanonicalName(text, canonical, sizeof(canonical))) {
        CheckName(canonical);
        CheckQueryFor(canonical, kDnsTypePtr);
        Require(DnsNamesEqual(canonical, canonical));
        CheckKnownAnswer(canonical, canonical, 120);
        // An instance of a service: its target ends in the owner's name.
        const char service[] = "_s._tcp.local";
        char instance[kDnsNameTextCapacity];
        size_t used = strlen(canonical);
        if (strcmp(canonical, ".") != 0 && used + sizeof(service) < sizeof(instance)) {
            memcpy(instance, canonical, used);
            instance[used] = '.';
            memcpy(instance + used + 1, service, sizeof(service));
            char checked[kDnsNameTextCapacity];
            if (DnsCanonicalName(instance, checked, sizeof(checked))) {
                CheckKnownAnswer(service, checked, 4500);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzPacket(data, size);
    FuzzNameText(data, size);
    return 0;
}
