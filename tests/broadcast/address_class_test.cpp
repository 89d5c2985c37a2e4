// Link-local bounds and the classification of a reply's sender.
#include <gtest/gtest.h>

#include "broadcast/test_addresses.h"
#include "net/address_class.h"

namespace {

struct LinkLocalCase {
    uint32_t address;
    bool linkLocal;
};

TEST(BroadcastLinkLocal, BoundsOfTheRange)
{
    const LinkLocalCase cases[] = {
        {Ipv4(169, 254, 0, 0), false},      // network address of 169.254/16
        {Ipv4(169, 254, 0, 1), true},       // first host
        {Ipv4(169, 254, 0, 255), true},
        {Ipv4(169, 254, 1, 0), true},       // host part 256: third octet counts
        {Ipv4(169, 254, 10, 20), true},
        {Ipv4(169, 254, 255, 254), true},   // last host
        {Ipv4(169, 254, 255, 255), false},  // broadcast of 169.254/16
        {Ipv4(169, 253, 10, 20), false},
        {Ipv4(169, 255, 10, 20), false},
        {Ipv4(168, 254, 10, 20), false},
        {Ipv4(254, 169, 10, 20), false},    // octets in the wrong order
        {Ipv4(20, 10, 254, 169), false},    // host byte order of 169.254.10.20
        {Ipv4(0, 0, 0, 0), false},
        {Ipv4(255, 255, 255, 255), false},
    };
    for (const LinkLocalCase& c : cases) {
        const unsigned char* o = reinterpret_cast<const unsigned char*>(&c.address);
        EXPECT_EQ(IsLinkLocalAddress(c.address), c.linkLocal)
            << int(o[0]) << "." << int(o[1]) << "." << int(o[2]) << "." << int(o[3]);
    }
}

struct ClassCase {
    const char* label;
    uint32_t interfaceAddress;
    uint32_t mask;
    uint32_t sender;
    DeviceState expected;
};

TEST(BroadcastClassify, SenderAgainstInterface)
{
    const uint32_t home = Ipv4(192, 168, 1, 5);
    const uint32_t homeMask = Ipv4(255, 255, 255, 0);
    const uint32_t auto4 = Ipv4(169, 254, 3, 4);
    const uint32_t autoMask = Ipv4(255, 255, 0, 0);
    const ClassCase cases[] = {
        {"same subnet", home, homeMask, Ipv4(192, 168, 1, 20), DeviceStateNormal},
        {"other subnet", home, homeMask, Ipv4(192, 168, 2, 20), DeviceStateOtherSubnet},
        {"both link-local", auto4, autoMask, Ipv4(169, 254, 10, 20), DeviceStateLinkLocal},
        {"routable sender, link-local interface", auto4, autoMask, Ipv4(192, 168, 1, 20),
         DeviceStateOtherSubnet},
        {"link-local sender, routable interface", home, homeMask, Ipv4(169, 254, 10, 20),
         DeviceStateOtherSubnet},
        {"169.254.255.255 is not link-local but in the subnet", auto4, autoMask,
         Ipv4(169, 254, 255, 255), DeviceStateNormal},
        {"169.254.0.0 likewise", auto4, autoMask, Ipv4(169, 254, 0, 0), DeviceStateNormal},
        {"link-local wins over a narrow mask", auto4, Ipv4(255, 255, 255, 0),
         Ipv4(169, 254, 200, 1), DeviceStateLinkLocal},
        {"subnet broadcast address itself", home, homeMask, Ipv4(192, 168, 1, 255),
         DeviceStateNormal},
        {"host mask: only the interface's own address", home, Ipv4(255, 255, 255, 255),
         Ipv4(192, 168, 1, 6), DeviceStateOtherSubnet},
        {"host mask, same address", home, Ipv4(255, 255, 255, 255), home, DeviceStateNormal},
        {"0.0.0.0/0 holds everything", Ipv4(0, 0, 0, 0), Ipv4(0, 0, 0, 0), Ipv4(10, 1, 2, 3),
         DeviceStateNormal},
        {"another loopback address", Ipv4(127, 0, 0, 1), Ipv4(255, 0, 0, 0), Ipv4(127, 0, 0, 2),
         DeviceStateNormal},
    };
    for (const ClassCase& c : cases) {
        uint32_t network = c.interfaceAddress & c.mask;
        EXPECT_EQ(ClassifySender(c.sender, c.interfaceAddress, c.mask, network), c.expected)
            << c.label;
    }
}

TEST(BroadcastAddressText, DottedQuadInWireOrderAndBounded)
{
    wchar_t text[64];
    FormatDottedQuad(Ipv4(192, 168, 77, 20), text, 64);
    EXPECT_STREQ(L"192.168.77.20", text);
    FormatDottedQuad(Ipv4(255, 255, 255, 255), text, 64);
    EXPECT_STREQ(L"255.255.255.255", text);
    FormatDottedQuad(Ipv4(0, 0, 0, 0), text, 64);
    EXPECT_STREQ(L"0.0.0.0", text);

    // A buffer too small for the text stays terminated within its capacity.
    wchar_t small[8];
    wmemset(small, L'x', 8);
    FormatDottedQuad(Ipv4(192, 168, 77, 20), small, 6);
    EXPECT_EQ(L'\0', small[5]);
    EXPECT_EQ(L'x', small[6]);
}

}  // namespace
