// Validation and composition of a device's web page address.
#include "core/web_address.h"

namespace {

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Appends src to out at *length, keeping room for the terminator.
bool Append(wchar_t* out, size_t capacity, size_t* length, const wchar_t* src)
{
    for (; *src != L'\0'; ++src) {
        if (*length + 1 >= capacity) {
            return false;
        }
        out[(*length)++] = *src;
    }
    out[*length] = L'\0';
    return true;
}

}  // namespace

bool ParseDottedQuadText(const wchar_t* text, unsigned long* address)
{
    if (text == nullptr) {
        return false;
    }
    unsigned long result = 0;
    const wchar_t* p = text;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (*p != L'.') {
                return false;
            }
            ++p;
        }
        if (!IsDigit(*p)) {
            return false;
        }
        // A leading zero would read as octal to some address parsers.
        if (*p == L'0' && IsDigit(p[1])) {
            return false;
        }
        unsigned value = 0;
        int digits = 0;
        while (IsDigit(*p)) {
            if (++digits > 3) {
                return false;
            }
            value = value * 10 + static_cast<unsigned>(*p - L'0');
            ++p;
        }
        if (value > 255) {
            return false;
        }
        result = (result << 8) | value;
    }
    if (*p != L'\0') {
        return false;
    }
    *address = result;
    return true;
}

bool IsDottedQuadText(const wchar_t* text)
{
    unsigned long address = 0;
    return ParseDottedQuadText(text, &address);
}

unsigned ParsePortText(const wchar_t* text)
{
    if (text == nullptr) {
        return 0;
    }
    unsigned value = 0;
    int digits = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (!IsDigit(*p) || ++digits > 5) {
            return 0;
        }
        value = value * 10 + static_cast<unsigned>(*p - L'0');
    }
    if (value < 1 || value > 65535) {
        return 0;
    }
    return value;
}

bool ComposeDevicePageAddress(const wchar_t* ipText, const wchar_t* portText,
                              wchar_t* out, size_t capacity)
{
    if (out == nullptr || capacity == 0) {
        return false;
    }
    out[0] = L'\0';
    if (!IsDottedQuadText(ipText)) {
        return false;
    }
    unsigned port = ParsePortText(portText);
    if (port == 0) {
        port = kDefaultWebPort;
    }
    // The port is written from its value, so only digits follow the colon.
    wchar_t portDigits[6];
    size_t count = 0;
    wchar_t reversed[6];
    do {
        reversed[count++] = static_cast<wchar_t>(L'0' + port % 10);
        port /= 10;
    } while (port != 0);
    for (size_t i = 0; i < count; ++i) {
        portDigits[i] = reversed[count - 1 - i];
    }
    portDigits[count] = L'\0';

    size_t length = 0;
    if (!Append(out, capacity, &length, L"http://") || !Append(out, capacity, &length, ipText) ||
        !Append(out, capacity, &length, L":") || !Append(out, capacity, &length, portDigits) ||
        !Append(out, capacity, &length, L"/")) {
        out[0] = L'\0';
        return false;
    }
    return true;
}
