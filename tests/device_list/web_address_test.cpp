// The web page address of a device: only a dotted quad and a numeric port
// may reach the shell, whatever text a device reported.
#include <gtest/gtest.h>

#include <string>

#include "core/web_address.h"

namespace {

struct QuadCase {
    const wchar_t* text;
    bool valid;
};

TEST(DeviceListWebAddress, AcceptsOnlyCanonicalDottedQuads)
{
    const QuadCase cases[] = {
        {L"192.168.77.20", true},
        {L"0.0.0.0", true},
        {L"255.255.255.255", true},
        {L"169.254.1.2", true},
        {L"256.1.1.1", false},
        {L"1.2.3.1000", false},
        {L"1.2.3", false},
        {L"1.2.3.4.5", false},
        {L"1..2.3", false},
        {L".1.2.3", false},
        {L"1.2.3.", false},
        {L"01.2.3.4", false},
        {L"1.2.3.04", false},
        {L" 1.2.3.4", false},
        {L"1.2.3.4 ", false},
        {L"+1.2.3.4", false},
        {L"1.2.3.4:80", false},
        {L"1.2.3.4/x", false},
        {L"a.b.c.d", false},
        {L"speaker1.local", false},
        {L"fe80::1", false},
        {L"", false},
    };
    for (const QuadCase& c : cases) {
        EXPECT_EQ(c.valid, IsDottedQuadText(c.text)) << testing::PrintToString(std::wstring(c.text));
    }
    EXPECT_FALSE(IsDottedQuadText(nullptr));
}

struct PortCase {
    const wchar_t* text;
    unsigned port;
};

TEST(DeviceListWebAddress, ParsesDecimalPortsFromOneTo65535)
{
    const PortCase cases[] = {
        {L"80", 80},
        {L"1", 1},
        {L"8080", 8080},
        {L"65535", 65535},
        {L"00080", 80},
        {L"0", 0},
        {L"65536", 0},
        {L"99999", 0},
        {L"000080", 0},
        {L"123456789012345678901234567890", 0},
        {L"", 0},
        {L" 80", 0},
        {L"80 ", 0},
        {L"+80", 0},
        {L"-80", 0},
        {L"0x50", 0},
        {L"80@elsewhere", 0},
        {L"8080/../x", 0},
        {L"80#", 0},
    };
    for (const PortCase& c : cases) {
        EXPECT_EQ(c.port, ParsePortText(c.text)) << testing::PrintToString(std::wstring(c.text));
    }
    EXPECT_EQ(0u, ParsePortText(nullptr));
}

struct AddressCase {
    const wchar_t* ip;
    const wchar_t* port;
    const wchar_t* address;  // null: nothing composed
};

TEST(DeviceListWebAddress, ComposesAddressWithValidPortOrDefault)
{
    const AddressCase cases[] = {
        {L"192.168.77.20", L"80", L"http://192.168.77.20:80/"},
        {L"192.168.77.20", L"8080", L"http://192.168.77.20:8080/"},
        {L"10.0.0.9", L"00443", L"http://10.0.0.9:443/"},
        {L"10.0.0.9", L"", L"http://10.0.0.9:80/"},
        {L"10.0.0.9", L"80@evil.example", L"http://10.0.0.9:80/"},
        {L"10.0.0.9", L"8080/../x", L"http://10.0.0.9:80/"},
        {L"10.0.0.9", L"65536", L"http://10.0.0.9:80/"},
        {L"255.255.255.255", L"65535", L"http://255.255.255.255:65535/"},
        {L"10.0.0.9@evil.example", L"80", nullptr},
        {L"evil.example", L"80", nullptr},
        {L"", L"80", nullptr},
    };
    for (const AddressCase& c : cases) {
        wchar_t out[128];
        out[0] = L'?';
        bool composed = ComposeDevicePageAddress(c.ip, c.port, out, 128);
        if (c.address == nullptr) {
            EXPECT_FALSE(composed) << testing::PrintToString(std::wstring(c.ip));
            EXPECT_EQ(L'\0', out[0]);
        } else {
            EXPECT_TRUE(composed) << testing::PrintToString(std::wstring(c.ip));
            EXPECT_EQ(std::wstring(c.address), std::wstring(out));
        }
    }
}

TEST(DeviceListWebAddress, NeverWritesPastItsBuffer)
{
    // "http://192.168.77.20:8080/" is 26 units plus the terminator.
    wchar_t out[32];
    for (size_t capacity = 0; capacity <= 27; ++capacity) {
        for (wchar_t& c : out) {
            c = L'#';
        }
        bool composed = ComposeDevicePageAddress(L"192.168.77.20", L"8080", out, capacity);
        EXPECT_EQ(capacity == 27, composed) << "capacity " << capacity;
        for (size_t i = capacity; i < 32; ++i) {
            ASSERT_EQ(L'#', out[i]) << "capacity " << capacity << " wrote index " << i;
        }
        if (capacity > 0 && !composed) {
            EXPECT_EQ(L'\0', out[0]);
        }
    }
    EXPECT_EQ(std::wstring(L"http://192.168.77.20:8080/"), std::wstring(out));
}

}  // namespace
