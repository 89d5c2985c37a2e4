// One spelling for a MAC address text, and comparing two texts by it.
#include "core/mac_text.h"

namespace {

constexpr int kMacBytes = 6;
constexpr size_t kCanonicalChars = 3 * kMacBytes;  // "XX-" five times, "XX" and the terminator
const wchar_t kHexDigits[] = L"0123456789ABCDEF";

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// The six bytes of a six-pair text; false for any other text. Reads at most
// one unit past the last pair, which the terminator check needs.
bool ParseMac(const wchar_t* text, unsigned char bytes[kMacBytes])
{
    for (int i = 0; i < kMacBytes; ++i) {
        const wchar_t* pair = text + 3 * i;
        int high = HexValue(pair[0]);
        int low = high >= 0 ? HexValue(pair[1]) : -1;
        if (low < 0) {
            return false;
        }
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
        wchar_t after = pair[2];
        bool last = i == kMacBytes - 1;
        if (last ? after != L'\0' : (after != L'-' && after != L':')) {
            return false;
        }
    }
    return true;
}

void FormatMac(const unsigned char bytes[kMacBytes], wchar_t out[kCanonicalChars])
{
    for (int i = 0; i < kMacBytes; ++i) {
        out[3 * i] = kHexDigits[bytes[i] >> 4];
        out[3 * i + 1] = kHexDigits[bytes[i] & 0x0F];
        out[3 * i + 2] = i == kMacBytes - 1 ? L'\0' : L'-';
    }
}

}  // namespace

void CanonicaliseMacText(wchar_t* text, size_t capacity)
{
    unsigned char bytes[kMacBytes];
    if (text == nullptr || capacity < kCanonicalChars || !ParseMac(text, bytes)) {
        return;
    }
    FormatMac(bytes, text);
}

bool SameMacText(const wchar_t* a, const wchar_t* b)
{
    unsigned char left[kMacBytes];
    unsigned char right[kMacBytes];
    bool leftPairs = ParseMac(a, left);
    bool rightPairs = ParseMac(b, right);
    if (leftPairs != rightPairs) {
        return false;
    }
    if (leftPairs) {
        for (int i = 0; i < kMacBytes; ++i) {
            if (left[i] != right[i]) {
                return false;
            }
        }
        return true;
    }
    return wcscmp(a, b) == 0;
}
