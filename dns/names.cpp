// DNS names: reading a (possibly compressed) name into escaped text, the
// text back into wire form, and comparing names. See wire.h for the
// text form. Portable: no Windows headers.
#include <string.h>

#include "dns/wire.h"

namespace {

constexpr size_t kMaxLabelBytes = 63;

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


namespace {

// Where the walk along one name stands. A pointer must lead below the start
// of the stretch being read: a name can only refer to what came before it,
// and since every jump goes lower than the last, no chain of pointers can
// come round again.
struct NameWalk {
    size_t position;
    size_t lowest;
    size_t afterName;  // just past the name's bytes where it was first met
    bool jumped;
    unsigned hops;
};

// Follows the compression pointer at the walk's position. False for one cut
// short, one not leading back, or too long a chain.
bool FollowPointer(const uint8_t* packet, size_t length, NameWalk* walk)
{
    size_t position = walk->position;
    if (length - position < 2) {
        return false;
    }
    size_t target = (size_t(packet[position] & 0x3F) << 8) | packet[position + 1];
    if (!walk->jumped) {
        walk->afterName = position + 2;
        walk->jumped = true;
    }
    if (target >= walk->lowest || ++walk->hops > kDnsMaxPointerHops) {
        return false;
    }
    walk->position = walk->lowest = target;
    return true;
}

}  // namespace

bool DnsReadName(const uint8_t* packet, size_t length, size_t offset, char* text, size_t capacity,
                 size_t* end)
{
    if (packet == nullptr || text == nullptr || capacity == 0) {
        return false;
    }
    text[0] = '\0';
    TextOut out = {text, capacity, 0, true};
    NameWalk walk = {offset, offset, 0, false, 0};
    size_t wireBytes = 1;  // the root octet
    for (;;) {
        if (walk.position >= length) {
            return false;
        }
        uint8_t labelLength = packet[walk.position];
        if ((labelLength & 0xC0) == 0xC0) {
            if (!FollowPointer(packet, length, &walk)) {
                return false;
            }
            continue;
        }
        if ((labelLength & 0xC0) != 0) {
            return false;
        }
        if (labelLength == 0) {
            walk.afterName = walk.jumped ? walk.afterName : walk.position + 1;
            break;
        }
        wireBytes += 1 + size_t(labelLength);
        if (length - walk.position - 1 < labelLength || wireBytes > kDnsMaxNameWireBytes) {
            return false;
        }
        if (out.used > 0) {
            Put(&out, '.');
        }
        PutLabel(&out, packet + walk.position + 1, labelLength);
        if (!out.ok) {
            return false;
        }
        walk.position += 1 + size_t(labelLength);
    }
    if (out.used == 0) {
        Put(&out, '.');
    }
    if (!out.ok) {
        return false;
    }
    text[out.used] = '\0';
    if (end != nullptr) {
        *end = walk.afterName;
    }
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
