// DNS messages on the wire, as multicast DNS uses them: reads the records of
// one received packet and builds queries of one or several questions. Every packet comes
// from a stranger, so every read is checked against the packet's length,
// name decompression cannot loop, and text never outgrows its buffer. Plain
// bytes and 8-bit text only (names are UTF-8): no Windows headers, so this
// file builds and is fuzzed natively.
//
// Names as text: labels joined by ".", no trailing dot, the root is ".".
// Inside a label "." and "\" are written "\." and "\\"; control bytes and
// bytes that are not part of valid UTF-8 are written "\DDD" (three decimal
// digits). So the text is always valid UTF-8 without control characters,
// and turning it back into wire form gives the same labels.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t kDnsHeaderBytes = 12;
constexpr size_t kDnsMaxNameWireBytes = 255;
constexpr size_t kDnsNameTextCapacity = 256;  // at most 255 characters and the terminator
constexpr size_t kDnsMaxQueryBytes = kDnsHeaderBytes + kDnsMaxNameWireBytes + 4;
// Pointers can only lead backwards (see wire.cpp), which already ends
// every chain; the cap bounds the work for a long chain of tiny hops.
constexpr unsigned kDnsMaxPointerHops = 127;

constexpr uint16_t kDnsTypeA = 1;
constexpr uint16_t kDnsTypePtr = 12;
constexpr uint16_t kDnsTypeTxt = 16;
constexpr uint16_t kDnsTypeAaaa = 28;
constexpr uint16_t kDnsTypeSrv = 33;
constexpr uint16_t kDnsTypeAny = 255;
constexpr uint16_t kDnsClassIn = 1;

enum DnsSectionKind : uint8_t {
    kDnsSectionAnswer = 1,
    kDnsSectionAuthority = 2,
    kDnsSectionAdditional = 3,
};

// One packet whose header has been read and whose framing has been checked:
// every question and every counted record lies inside the packet.
struct DnsMessage {
    const uint8_t* packet;
    size_t length;
    uint16_t id;
    uint16_t flags;
    uint16_t questionCount;
    uint16_t answerCount;
    uint16_t authorityCount;
    uint16_t additionalCount;
    size_t recordsOffset;  // first byte after the questions
};

// Where the next DnsReadNextRecord starts; zero-initialise before the first.
struct DnsRecordCursor {
    size_t offset;
    unsigned index;  // records read so far, over all three sections
};

// One record. data* give the record's data inside the packet; the parsed
// fields are filled for A (address[0..3]), AAAA (address), PTR (target),
// SRV (priority, weight, port, target) and TXT (txtCount); for any other
// type only the common fields are set.
struct DnsRecord {
    char owner[kDnsNameTextCapacity];
    uint8_t section;  // DnsSectionKind
    uint16_t type;
    uint16_t rrClass;  // without the cache-flush bit
    bool cacheFlush;
    uint32_t ttl;
    size_t dataOffset;
    uint16_t dataLength;
    uint8_t address[16];
    uint16_t priority;
    uint16_t weight;
    uint16_t port;
    char target[kDnsNameTextCapacity];
    uint16_t txtCount;
};

enum DnsReadResult {
    kDnsRecordRead,     // record filled
    kDnsRecordDropped,  // this record is malformed (bad name or data); go on with the next
    kDnsNoMoreRecords,
};

// Reads the header, steps over the questions and checks the framing of every
// counted record. False drops the whole packet: shorter than a header, a
// name or record running past the end, or counts the packet cannot hold.
bool DnsOpenMessage(const uint8_t* packet, size_t length, DnsMessage* message);

inline bool DnsIsResponse(const DnsMessage& message) { return (message.flags & 0x8000) != 0; }
inline unsigned DnsOpcode(const DnsMessage& message) { return (message.flags >> 11) & 0xF; }
inline unsigned DnsRcode(const DnsMessage& message) { return message.flags & 0xF; }
inline unsigned DnsRecordTotal(const DnsMessage& message)
{
    return unsigned(message.answerCount) + message.authorityCount + message.additionalCount;
}

// Reads the record at the cursor and moves the cursor past it, also when
// the record is dropped.
DnsReadResult DnsReadNextRecord(const DnsMessage& message, DnsRecordCursor* cursor, DnsRecord* record);

// Walks the strings of a TXT record that DnsReadNextRecord returned; start
// with *position 0. Each string is given as bytes inside the packet.
bool DnsNextTxtString(const DnsMessage& message, const DnsRecord& record, size_t* position,
                      const uint8_t** text, size_t* length);

// Reads the (possibly compressed) name at offset as text; *end receives the
// offset just past the name's bytes at that place. False for a malformed
// name: pointer loop or pointer not leading backwards, a label past the
// end, a reserved label type, more than 255 octets, or text too long.
bool DnsReadName(const uint8_t* packet, size_t length, size_t offset, char* text, size_t capacity,
                 size_t* end);

// Wire form of a name given as text (escapes as above; a trailing dot is
// allowed). False for an empty label, a label over 63 octets, a name over
// 255 octets, a bad escape, or too small a buffer.
bool DnsEncodeName(const char* text, uint8_t* wire, size_t capacity, size_t* length);

// The text DnsReadName would give for this name: how received names are
// compared with a name given by a caller. False when it is not a valid name.
bool DnsCanonicalName(const char* text, char* canonical, size_t capacity);

// DNS comparison of two names in canonical text: ASCII letters match
// regardless of case, every other byte exactly.
bool DnsNamesEqual(const char* a, const char* b);

// One query: id 0, no flags, one question (name, type, class IN, with the
// unicast-response bit when asked). Returns its length, 0 when the name is
// invalid or the buffer too small.
size_t DnsBuildQuery(const char* name, uint16_t type, bool unicastResponse, uint8_t* buffer,
                     size_t capacity);

// Appends the question of `query`, a one-question query as DnsBuildQuery
// makes it, to the query of `length` bytes in buffer (built the same way),
// so that one packet asks several questions. Returns the new length, or 0
// (buffer unchanged) when it would exceed capacity or either is not such a
// query.
size_t DnsAppendQuestion(uint8_t* buffer, size_t length, size_t capacity, const uint8_t* query,
                         size_t queryLength);

// Appends one answer record, a known answer, to a query that DnsBuildQuery
// and DnsAppendQuestion made (no question may follow it). Its owner is the
// name of the question at ownerOffset in that packet, written as a pointer
// to it; its data the name `target` (a PTR record's), compressed against
// that owner where it ends in it. Class IN, the given TTL. Returns the new
// length, or 0 (buffer unchanged) when it would exceed capacity, the name
// is invalid or the packet is not such a query.
size_t DnsAppendKnownAnswer(uint8_t* buffer, size_t length, size_t capacity, size_t ownerOffset,
                            uint16_t type, uint32_t ttl, const char* target);
