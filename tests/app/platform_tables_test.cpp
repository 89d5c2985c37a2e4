// The table reader's lookup of an interface's address and mask by index,
// over the fake address table.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "app/fake_platform.h"
#include "core/platform_tables.h"

namespace {

TEST(PlatformTables, InterfaceAddressIsItsFirstRowWithAnAddress)
{
    FakePlatform fake;
    fake.addresses = {{"0.0.0.0", "0.0.0.0", 7},
                      {"192.168.1.5", "255.255.255.0", 7},
                      {"192.168.1.6", "255.255.0.0", 7},
                      {"10.0.0.5", "255.0.0.0", 8},
                      {"0.0.0.0", "0.0.0.0", 9}};
    struct Case {
        uint32_t index;
        DWORD readResult;
        DWORD status;
        const char* address;  // with the mask, checked only on success
        const char* mask;
    };
    const Case cases[] = {
        {7, NO_ERROR, NO_ERROR, "192.168.1.5", "255.255.255.0"},
        {8, NO_ERROR, NO_ERROR, "10.0.0.5", "255.0.0.0"},
        {9, NO_ERROR, ERROR_INVALID_PARAMETER, nullptr, nullptr},
        {3, NO_ERROR, ERROR_INVALID_PARAMETER, nullptr, nullptr},
        {7, ERROR_GEN_FAILURE, ERROR_GEN_FAILURE, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        fake.addressReadResult = c.readResult;
        uint32_t address = 0;
        uint32_t mask = 0;
        EXPECT_EQ(c.status, ReadInterfaceAddress(c.index, &address, &mask));
        if (c.status == NO_ERROR) {
            EXPECT_EQ(Ipv4(c.address), address);
            EXPECT_EQ(Ipv4(c.mask), mask);
        }
    }
}

}  // namespace
