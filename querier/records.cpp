// Records of a received packet as a DNS_RECORD list. Each record is one
// block from the runtime heap: the structure (with room for every TXT string
// pointer), then the UTF-16 texts it points to. So freeing is one free per
// record, and nothing points outside its own block.
#include "querier/records.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

// UTF-16 units for bytes of UTF-8 plus a terminator. Invalid sequences
// become U+FFFD, one unit each, as MultiByteToWideChar makes them.
size_t Utf16Units(const char* bytes, size_t length)
{
    if (length == 0) {
        return 1;
    }
    int units = MultiByteToWideChar(CP_UTF8, 0, bytes, int(length), nullptr, 0);
    return size_t(units > 0 ? units : 0) + 1;
}

// Writes the converted text at *cursor, zero-terminated, and moves the
// cursor past it; returns where it was written.
PWSTR PutUtf16(WCHAR** cursor, const char* bytes, size_t length, size_t units)
{
    PWSTR text = *cursor;
    int written = 0;
    if (length > 0) {
        written = MultiByteToWideChar(CP_UTF8, 0, bytes, int(length), text, int(units - 1));
    }
    text[written > 0 ? written : 0] = L'\0';
    *cursor += units;
    return text;
}

bool IsDeliveredType(uint16_t type)
{
    return type == kDnsTypeA || type == kDnsTypeAaaa || type == kDnsTypePtr || type == kDnsTypeSrv ||
           type == kDnsTypeTxt;
}

size_t TxtDataBytes(size_t count)
{
    return offsetof(DNS_TXT_DATAW, pStringArray) + count * sizeof(PWSTR);
}

// Bytes of the block that holds the record: the structure (with room for
// every TXT string pointer), then its UTF-16 texts.
size_t RecordBlockBytes(const DnsMessage& message, const DnsRecord& record, size_t* fixedBytes)
{
    size_t units = Utf16Units(record.owner, strlen(record.owner));
    size_t fixed = sizeof(DNS_RECORDW);
    if (record.type == kDnsTypePtr || record.type == kDnsTypeSrv) {
        units += Utf16Units(record.target, strlen(record.target));
    } else if (record.type == kDnsTypeTxt) {
        size_t txtBytes = offsetof(DNS_RECORDW, Data) + TxtDataBytes(record.txtCount);
        fixed = txtBytes > fixed ? txtBytes : fixed;
        size_t position = 0;
        const uint8_t* text;
        size_t length;
        while (DnsNextTxtString(message, record, &position, &text, &length)) {
            units += Utf16Units(reinterpret_cast<const char*>(text), length);
        }
    }
    *fixedBytes = (fixed + alignof(PWSTR) - 1) / alignof(PWSTR) * alignof(PWSTR);
    return *fixedBytes + units * sizeof(WCHAR);
}

PWSTR PutText(WCHAR** cursor, const char* text)
{
    size_t length = strlen(text);
    return PutUtf16(cursor, text, length, Utf16Units(text, length));
}

void FillRecordData(const DnsMessage& message, const DnsRecord& record, PDNS_RECORD result, WCHAR** cursor)
{
    switch (record.type) {
    case kDnsTypeA:
        memcpy(&result->Data.A.IpAddress, record.address, 4);
        result->wDataLength = sizeof(DNS_A_DATA);
        break;
    case kDnsTypeAaaa:
        memcpy(&result->Data.AAAA.Ip6Address, record.address, 16);
        result->wDataLength = sizeof(DNS_AAAA_DATA);
        break;
    case kDnsTypePtr:
        result->Data.PTR.pNameHost = PutText(cursor, record.target);
        result->wDataLength = sizeof(DNS_PTR_DATAW);
        break;
    case kDnsTypeSrv:
        result->Data.SRV.pNameTarget = PutText(cursor, record.target);
        result->Data.SRV.wPriority = record.priority;
        result->Data.SRV.wWeight = record.weight;
        result->Data.SRV.wPort = record.port;
        result->wDataLength = sizeof(DNS_SRV_DATAW);
        break;
    case kDnsTypeTxt: {
        size_t position = 0;
        const uint8_t* text;
        size_t length;
        DWORD count = 0;
        // The array runs on past its declared single element, into the room
        // allocated for it.
        PWSTR* strings = result->Data.TXT.pStringArray;
        while (count < record.txtCount && DnsNextTxtString(message, record, &position, &text, &length)) {
            const char* bytes = reinterpret_cast<const char*>(text);
            strings[count++] = PutUtf16(cursor, bytes, length, Utf16Units(bytes, length));
        }
        result->Data.TXT.dwStringCount = count;
        result->wDataLength = WORD(TxtDataBytes(count));
        break;
    }
    default:
        break;
    }
}

PDNS_RECORD MakeRecord(const DnsMessage& message, const DnsRecord& record)
{
    size_t fixedBytes = 0;
    char* block = static_cast<char*>(calloc(1, RecordBlockBytes(message, record, &fixedBytes)));
    if (block == nullptr) {
        return nullptr;
    }
    PDNS_RECORD result = reinterpret_cast<PDNS_RECORD>(block);
    WCHAR* cursor = reinterpret_cast<WCHAR*>(block + fixedBytes);
    result->pName = PutText(&cursor, record.owner);
    result->wType = record.type;
    result->Flags.S.Section = record.section == kDnsSectionAnswer ? DNSREC_ANSWER : DNSREC_ADDITIONAL;
    result->Flags.S.CharSet = DnsCharSetUnicode;
    result->dwTtl = record.ttl;
    FillRecordData(message, record, result, &cursor);
    return result;
}

}  // namespace

bool PacketAnswersQuery(const DnsMessage& message, const char* canonicalName, uint16_t type)
{
    DnsRecordCursor cursor = {};
    DnsRecord record;
    while (cursor.index < message.answerCount) {
        if (DnsReadNextRecord(message, &cursor, &record) != kDnsRecordRead) {
            continue;
        }
        if (record.rrClass == kDnsClassIn && (type == kDnsTypeAny || record.type == type) &&
            DnsNamesEqual(record.owner, canonicalName)) {
            return true;
        }
    }
    return false;
}

PDNS_RECORD BuildRecordList(const DnsMessage& message)
{
    PDNS_RECORD head = nullptr;
    PDNS_RECORD* tail = &head;
    DnsRecordCursor cursor = {};
    DnsRecord record;
    DnsReadResult result;
    while ((result = DnsReadNextRecord(message, &cursor, &record)) != kDnsNoMoreRecords) {
        if (result != kDnsRecordRead || record.section == kDnsSectionAuthority ||
            record.rrClass != kDnsClassIn || !IsDeliveredType(record.type)) {
            continue;
        }
        PDNS_RECORD made = MakeRecord(message, record);
        if (made == nullptr) {
            FreeRecordList(head);
            return nullptr;
        }
        *tail = made;
        tail = &made->pNext;
    }
    return head;
}

void FreeRecordList(PDNS_RECORD list)
{
    while (list != nullptr) {
        PDNS_RECORD next = list->pNext;
        free(list);
        list = next;
    }
}
