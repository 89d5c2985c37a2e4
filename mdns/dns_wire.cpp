// DNS wire format: reading received packets and building queries. See
// dns_wire.h for the text form of names and what drops a packet or a record.
#include "mdns/dns_wire.h"

#include <string.h>

namespace {

constexpr size_t kRecordFixedBytes = 10;  // type, class, TTL, data length
constexpr size_t kQuestionFixedBytes = 4;  // type, class
constexpr uint16_t kCacheFlushBit = 0x8000;
constexpr size_t kMaxLabelBytes = 63;

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

// Text built into a caller's buffer; a write that would leave no room for
// the terminator fails the whole text.
struct TextOut {
    char* text;
    size_t capacity;
    size_t used;
    bool ok;
};

void Put(TextOut* out, char c)
{
    if (out->used + 1 >= out->capacity) {
        out->ok = false;
        return;
    }
    out->text[out->used++] = c;
}

void PutDecimalEscape(TextOut* out, uint8_t byte)
{
    Put(out, '\\');
    Put(out, char('0' + byte / 100));
    Put(out, char('0' + byte / 10 % 10));
    Put(out, char('0' + byte % 10));
}

// Length of the well-formed UTF-8 sequence at s (shortest form, no
// surrogates, at most U+10FFFF), 0 when there is none.
size_t Utf8SequenceLength(const uint8_t* s, size_t available)
{
    static const uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    uint8_t lead = s[0];
    if (lead < 0x80) {
        return 1;
    }
    size_t count = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (count == 0) {
        return 0;
    }
    uint32_t codePoint = lead & (0x7Fu >> count);
    if (available < count) {
        return 0;
    }
    for (size_t i = 1; i < count; ++i) {
        if ((s[i] & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (s[i] & 0x3F);
    }
    if (codePoint < kShortest[count] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return count;
}

void PutLabel(TextOut* out, const uint8_t* label, size_t length)
{
    for (size_t i = 0; i < length && out->ok; ++i) {
        uint8_t byte = label[i];
        if (byte == '.' || byte == '\\') {
            Put(out, '\\');
            Put(out, char(byte));
        } else if (byte < 0x20 || byte == 0x7F) {
            PutDecimalEscape(out, byte);
        } else if (byte < 0x80) {
            Put(out, char(byte));
        } else {
            size_t sequence = Utf8SequenceLength(label + i, length - i);
            if (sequence == 0) {
                PutDecimalEscape(out, byte);
                continue;
            }
            for (size_t k = 0; k < sequence; ++k) {
                Put(out, char(label[i + k]));
            }
            i += sequence - 1;
        }
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

bool DnsReadName(const uint8_t* packet, size_t length, size_t offset, char* text, size_t capacity,
                 size_t* end)
{
    if (packet == nullptr || text == nullptr || capacity == 0) {
        return false;
    }
    text[0] = '\0';
    TextOut out = {text, capacity, 0, true};
    size_t position = offset;
    // A pointer must lead below the start of the stretch being read: a
    // name can only refer to what came before it, and since every jump
    // goes lower than the last, no chain of pointers can come round again.
    size_t lowest = offset;
    size_t afterName = 0;
    bool jumped = false;
    unsigned hops = 0;
    size_t wireBytes = 1;  // the root octet
    for (;;) {
        if (position >= length) {
            return false;
        }
        uint8_t labelLength = packet[position];
        if ((labelLength & 0xC0) == 0xC0) {
            if (length - position < 2) {
                return false;
            }
            size_t target = (size_t(labelLength & 0x3F) << 8) | packet[position + 1];
            if (!jumped) {
                afterName = position + 2;
                jumped = true;
            }
            if (target >= lowest || ++hops > kDnsMaxPointerHops) {
                return false;
            }
            position = lowest = target;
            continue;
        }
        if ((labelLength & 0xC0) != 0) {
            return false;
        }
        if (labelLength == 0) {
            if (!jumped) {
                afterName = position + 1;
            }
            break;
        }
        if (length - position - 1 < labelLength) {
            return false;
        }
        wireBytes += 1 + size_t(labelLength);
        if (wireBytes > kDnsMaxNameWireBytes) {
            return false;
        }
        if (out.used > 0) {
            Put(&out, '.');
        }
        PutLabel(&out, packet + position + 1, labelLength);
        if (!out.ok) {
            return false;
        }
        position += 1 + size_t(labelLength);
    }
    if (out.used == 0) {
        Put(&out, '.');
        if (!out.ok) {
            return false;
        }
    }
    text[out.used] = '\0';
    if (end != nullptr) {
        *end = afterName;
    }
    return true;
}

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
    if (index < message.answerCount) {
        record->section = kDnsSectionAnswer;
    } else if (index < unsigned(message.answerCount) + message.authorityCount) {
        record->section = kDnsSectionAuthority;
    } else {
        record->section = kDnsSectionAdditional;
    }
    const uint8_t* fixed = packet + dataOffset - kRecordFixedBytes;
    record->type = Read16(fixed);
    uint16_t rrClass = Read16(fixed + 2);
    record->rrClass = rrClass & uint16_t(~kCacheFlushBit);
    record->cacheFlush = (rrClass & kCacheFlushBit) != 0;
    record->ttl = Read32(fixed + 4);
    record->dataOffset = dataOffset;
    record->dataLength = dataLength;
    if (!DnsReadName(packet, message.length, start, record->owner, sizeof(record->owner), nullptr)) {
        return kDnsRecordDropped;
    }

    // Names inside the data are read with the data's end as the packet's
    // end: their own labels must stay inside the record, and pointers can
    // only lead further back.
    size_t dataEnd = dataOffset + dataLength;
    const uint8_t* data = packet + dataOffset;
    switch (record->type) {
    case kDnsTypeA:
    case kDnsTypeAaaa: {
        size_t size = record->type == kDnsTypeA ? 4 : 16;
        if (dataLength != size) {
            return kDnsRecordDropped;
        }
        memcpy(record->address, data, size);
        break;
    }
    case kDnsTypePtr:
        if (!DnsReadName(packet, dataEnd, dataOffset, record->target, sizeof(record->target), nullptr)) {
            return kDnsRecordDropped;
        }
        break;
    case kDnsTypeSrv:
        if (dataLength < 7) {
            return kDnsRecordDropped;
        }
        record->priority = Read16(data);
        record->weight = Read16(data + 2);
        record->port = Read16(data + 4);
        if (!DnsReadName(packet, dataEnd, dataOffset + 6, record->target, sizeof(record->target),
                         nullptr)) {
            return kDnsRecordDropped;
        }
        break;
    case kDnsTypeTxt:
        for (size_t position = dataOffset; position < dataEnd;) {
            size_t stringLength = packet[position];
            if (dataEnd - position - 1 < stringLength) {
                return kDnsRecordDropped;
            }
            position += 1 + stringLength;
            ++record->txtCount;
        }
        break;
    default:
        break;
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

bool DnsEncodeName(const char* text, uint8_t* wire, size_t capacity, size_t* length)
{
    if (text == nullptr || wire == nullptr) {
        return false;
    }
    size_t limit = capacity < kDnsMaxNameWireBytes ? capacity : kDnsMaxNameWireBytes;
    size_t used = 0;
    const char* p = text;
    if (p[0] == '.' && p[1] == '\0') {
        ++p;  // the root
    }
    while (*p != '\0') {
        if (used >= limit) {
            return false;
        }
        size_t lengthAt = used++;
        size_t labelLength = 0;
        while (*p != '\0' && *p != '.') {
            uint8_t byte;
            if (*p != '\\') {
                byte = uint8_t(*p++);
            } else if (IsDigit(p[1]) && IsDigit(p[2]) && IsDigit(p[3])) {
                int value = (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
                if (value > 255) {
                    return false;
                }
                byte = uint8_t(value);
                p += 4;
            } else if (p[1] != '\0') {
                byte = uint8_t(p[1]);
                p += 2;
            } else {
                return false;
            }
            if (labelLength == kMaxLabelBytes || used >= limit) {
                return false;
            }
            wire[used++] = byte;
            ++labelLength;
        }
        if (labelLength == 0) {
            return false;
        }
        wire[lengthAt] = uint8_t(labelLength);
        if (*p == '.') {
            ++p;
        }
    }
    if (used >= limit) {
        return false;
    }
    wire[used++] = 0;
    *length = used;
    return true;
}

bool DnsCanonicalName(const char* text, char* canonical, size_t capacity)
{
    uint8_t wire[kDnsMaxNameWireBytes];
    size_t length;
    return DnsEncodeName(text, wire, sizeof(wire), &length) &&
           DnsReadName(wire, length, 0, canonical, capacity, nullptr);
}

bool DnsNamesEqual(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) {
            return false;
        }
        if (*a == '\0') {
            return true;
        }
    }
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
