// DNS wire format: reading received packets and building queries. See
// wire.h for what drops a packet or a record; names are read and
// encoded in names.cpp.
#include "dns/wire.h"

#include <string.h>

namespace {

constexpr size_t kRecordFixedBytes = 10;  // type, class, TTL, data length
constexpr size_t kQuestionFixedBytes = 4;  // type, class
constexpr uint16_t kCacheFlushBit = 0x8000;

uint16_t Read16(const uint8_t* bytes) { return uint16_t((bytes[0] << 8) | bytes[1]); }

uint32_t Read32(const uint8_t* bytes)
{
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
           uint32_t(bytes[3]);
}

void Write16(uint8_t* bytes, uint16_t value)
{
    bytes[0] = uint8_t(value >> 8);
    bytes[1] = uint8_t(value);
}

// Finds where the name at offset ends in place: after its zero octet or its
// first pointer. Only the framing is checked here; DnsReadName judges the rest.
bool SkipName(const uint8_t* packet, size_t length, size_t offset, size_t* end)
{
    size_t position = offset;
    for (;;) {
        if (position >= length) {
            return false;
        }
        uint8_t labelLength = packet[position];
        if ((labelLength & 0xC0) == 0xC0) {
            if (length - position < 2) {
                return false;
            }
            *end = position + 2;
            return true;
        }
        if ((labelLength & 0xC0) != 0) {
            return false;  // extended or reserved label type: its length is unknown
        }
        if (labelLength == 0) {
            *end = position + 1;
            return true;
        }
        if (length - position - 1 < labelLength) {
            return false;
        }
        position += 1 + size_t(labelLength);
    }
}

// Steps over one record's framing; *dataOffset and *dataLength locate its data.
bool SkipRecord(const uint8_t* packet, size_t length, size_t offset, size_t* dataOffset,
                uint16_t* dataLength, size_t* next)
{
    size_t nameEnd;
    if (!SkipName(packet, length, offset, &nameEnd) || length - nameEnd < kRecordFixedBytes) {
        return false;
    }
    uint16_t rdLength = Read16(packet + nameEnd + 8);
    size_t data = nameEnd + kRecordFixedBytes;
    if (length - data < rdLength) {
        return false;
    }
    *dataOffset = data;
    *dataLength = rdLength;
    *next = data + rdLength;
    return true;
}

}  // namespace


bool DnsOpenMessage(const uint8_t* packet, size_t length, DnsMessage* message)
{
    if (packet == nullptr || message == nullptr || length < kDnsHeaderBytes) {
        return false;
    }
    memset(message, 0, sizeof(*message));
    message->packet = packet;
    message->length = length;
    message->id = Read16(packet);
    message->flags = Read16(packet + 2);
    message->questionCount = Read16(packet + 4);
    message->answerCount = Read16(packet + 6);
    message->authorityCount = Read16(packet + 8);
    message->additionalCount = Read16(packet + 10);

    // Each step moves forward or fails, so counts larger than the packet
    // end at its last byte.
    size_t position = kDnsHeaderBytes;
    for (unsigned i = 0; i < message->questionCount; ++i) {
        size_t nameEnd;
        if (!SkipName(packet, length, position, &nameEnd) || length - nameEnd < kQuestionFixedBytes) {
            return false;
        }
        position = nameEnd + kQuestionFixedBytes;
    }
    message->recordsOffset = position;
    unsigned total = DnsRecordTotal(*message);
    for (unsigned i = 0; i < total; ++i) {
        size_t dataOffset;
        uint16_t dataLength;
        if (!SkipRecord(packet, length, position, &dataOffset, &dataLength, &position)) {
            return false;
        }
    }
    return true;
}

namespace {

DnsSectionKind SectionOf(const DnsMessage& message, unsigned index)
{
    if (index < message.answerCount) {
        return kDnsSectionAnswer;
    }
    if (index < unsigned(message.answerCount) + message.authorityCount) {
        return kDnsSectionAuthority;
    }
    return kDnsSectionAdditional;
}

// The parsed fields of the record's data. Names inside the data are read
// with the data's end as the packet's end: their own labels must stay inside
// the record, and pointers can only lead further back.
bool ReadRecordData(const DnsMessage& message, DnsRecord* record)
{
    const uint8_t* packet = message.packet;
    size_t dataOffset = record->dataOffset;
    size_t dataEnd = dataOffset + record->dataLength;
    const uint8_t* data = packet + dataOffset;
    switch (record->type) {
    case kDnsTypeA:
    case kDnsTypeAaaa: {
        size_t size = record->type == kDnsTypeA ? 4 : 16;
        if (record->dataLength != size) {
            return false;
        }
        memcpy(record->address, data, size);
        return true;
    }
    case kDnsTypePtr:
        return DnsReadName(packet, dataEnd, dataOffset, record->target, sizeof(record->target), nullptr);
    case kDnsTypeSrv:
        if (record->dataLength < 7) {
            return false;
        }
        record->priority = Read16(data);
        record->weight = Read16(data + 2);
        record->port = Read16(data + 4);
        return DnsReadName(packet, dataEnd, dataOffset + 6, record->target, sizeof(record->target), nullptr);
    case kDnsTypeTxt:
        for (size_t position = dataOffset; position < dataEnd;) {
            size_t stringLength = packet[position];
            if (dataEnd - position - 1 < stringLength) {
                return false;
            }
            position += 1 + stringLength;
            ++record->txtCount;
        }
        return true;
    default:
        return true;
    }
}

}  // namespace

DnsReadResult DnsReadNextRecord(const DnsMessage& message, DnsRecordCursor* cursor, DnsRecord* record)
{
    unsigned total = DnsRecordTotal(message);
    if (cursor->index >= total) {
        return kDnsNoMoreRecords;
    }
    const uint8_t* packet = message.packet;
    size_t start = cursor->index == 0 ? message.recordsOffset : cursor->offset;
    size_t dataOffset;
    uint16_t dataLength;
    size_t next;
    if (!SkipRecord(packet, message.length, start, &dataOffset, &dataLength, &next)) {
        cursor->index = total;  // a message not checked by DnsOpenMessage: stop here
        return kDnsNoMoreRecords;
    }
    unsigned index = cursor->index;
    cursor->offset = next;
    cursor->index = index + 1;

    memset(record, 0, sizeof(*record));
    record->section = SectionOf(message, index);
    const uint8_t* fixed = packet + dataOffset - kRecordFixedBytes;
    record->type = Read16(fixed);
    uint16_t rrClass = Read16(fixed + 2);
    record->rrClass = rrClass & uint16_t(~kCacheFlushBit);
    record->cacheFlush = (rrClass & kCacheFlushBit) != 0;
    record->ttl = Read32(fixed + 4);
    record->dataOffset = dataOffset;
    record->dataLength = dataLength;
    if (!DnsReadName(packet, message.length, start, record->owner, sizeof(record->owner), nullptr) ||
        !ReadRecordData(message, record)) {
        return kDnsRecordDropped;
    }
    return kDnsRecordRead;
}

bool DnsNextTxtString(const DnsMessage& message, const DnsRecord& record, size_t* position,
                      const uint8_t** text, size_t* length)
{
    if (record.type != kDnsTypeTxt || record.dataOffset > message.length ||
        record.dataLength > message.length - record.dataOffset || *position >= record.dataLength) {
        return false;
    }
    size_t at = record.dataOffset + *position;
    size_t stringLength = message.packet[at];
    if (record.dataLength - *position - 1 < stringLength) {
        return false;
    }
    *text = message.packet + at + 1;
    *length = stringLength;
    *position += 1 + stringLength;
    return true;
}
size_t DnsBuildQuery(const char* name, uint16_t type, bool unicastResponse, uint8_t* buffer,
                     size_t capacity)
{
    size_t nameLength;
    if (buffer == nullptr || capacity < kDnsHeaderBytes ||
        !DnsEncodeName(name, buffer + kDnsHeaderBytes, capacity - kDnsHeaderBytes, &nameLength) ||
        capacity - kDnsHeaderBytes - nameLength < kQuestionFixedBytes) {
        return 0;
    }
    memset(buffer, 0, kDnsHeaderBytes);
    Write16(buffer + 4, 1);
    uint8_t* question = buffer + kDnsHeaderBytes + nameLength;
    Write16(question, type);
    Write16(question + 2, uint16_t(kDnsClassIn | (unicastResponse ? kCacheFlushBit : 0)));
    return kDnsHeaderBytes + nameLength + kQuestionFixedBytes;
}

size_t DnsAppendQuestion(uint8_t* buffer, size_t length, size_t capacity, const uint8_t* query,
                         size_t queryLength)
{
    if (buffer == nullptr || query == nullptr || length < kDnsHeaderBytes || length > capacity ||
        queryLength <= kDnsHeaderBytes + kQuestionFixedBytes || Read16(query + 4) != 1 ||
        Read16(query + 6) != 0 || Read16(query + 8) != 0 || Read16(query + 10) != 0) {
        return 0;
    }
    uint16_t questions = Read16(buffer + 4);
    size_t added = queryLength - kDnsHeaderBytes;
    if (questions == 0xFFFF || Read16(buffer + 6) != 0 || Read16(buffer + 8) != 0 ||
        Read16(buffer + 10) != 0 || capacity - length < added) {
        return 0;
    }
    memcpy(buffer + length, query + kDnsHeaderBytes, added);
    Write16(buffer + 4, uint16_t(questions + 1));
    return length + added;
}

namespace {

uint8_t FoldAscii(uint8_t c)
{
    return c >= 'A' && c <= 'Z' ? uint8_t(c - 'A' + 'a') : c;
}

bool SameWire(const uint8_t* a, const uint8_t* b, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Bytes of the target's wire form to keep before a pointer to the owner:
// the labels in front of the first label boundary from which the rest
// equals the owner, or the whole name (its root included) when none does.
size_t CompressedPrefix(const uint8_t* target, size_t targetLength, const uint8_t* owner, size_t ownerLength)
{
    for (size_t at = 0; at < targetLength && target[at] != 0; at += 1 + size_t(target[at])) {
        if (targetLength - at == ownerLength && SameWire(target + at, owner, ownerLength)) {
            return at;
        }
    }
    return targetLength;
}

void Write32(uint8_t* bytes, uint32_t value)
{
    Write16(bytes, uint16_t(value >> 16));
    Write16(bytes + 2, uint16_t(value));
}

}  // namespace

size_t DnsAppendKnownAnswer(uint8_t* buffer, size_t length, size_t capacity, size_t ownerOffset,
                            uint16_t type, uint32_t ttl, const char* target)
{
    DnsMessage message;
    if (buffer == nullptr || target == nullptr || length > capacity || ownerOffset < kDnsHeaderBytes ||
        ownerOffset > 0x3FFF || !DnsOpenMessage(buffer, length, &message) || message.questionCount == 0 ||
        message.answerCount == 0xFFFF || message.authorityCount != 0 || message.additionalCount != 0 ||
        ownerOffset >= message.recordsOffset) {
        return 0;
    }
    char ownerText[kDnsNameTextCapacity];
    uint8_t owner[kDnsMaxNameWireBytes];
    uint8_t wire[kDnsMaxNameWireBytes];
    size_t ownerLength;
    size_t wireLength;
    if (!DnsReadName(buffer, message.recordsOffset, ownerOffset, ownerText, sizeof(ownerText), nullptr) ||
        !DnsEncodeName(ownerText, owner, sizeof(owner), &ownerLength) ||
        !DnsEncodeName(target, wire, sizeof(wire), &wireLength)) {
        return 0;
    }
    size_t prefix = CompressedPrefix(wire, wireLength, owner, ownerLength);
    size_t dataLength = prefix < wireLength ? prefix + 2 : wireLength;
    size_t added = 2 + kRecordFixedBytes + dataLength;
    if (capacity - length < added) {
        return 0;
    }
    uint8_t* record = buffer + length;
    Write16(record, uint16_t(0xC000 | ownerOffset));
    Write16(record + 2, type);
    Write16(record + 4, kDnsClassIn);
    Write32(record + 6, ttl);
    Write16(record + 10, uint16_t(dataLength));
    memcpy(record + 12, wire, prefix);
    if (prefix < wireLength) {
        Write16(record + 12 + prefix, uint16_t(0xC000 | ownerOffset));
    }
    Write16(buffer + 6, uint16_t(message.answerCount + 1));
    return length + added;
}
