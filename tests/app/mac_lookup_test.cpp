// The MAC address of a device found by multicast DNS, over the fake address
// and neighbour tables: asked on the interface that heard the device (two
// cards on overlapping subnets), and a MAC that interface's rows give
// several addresses (a bridge answering ARP for the devices behind it)
// posted as one that names no device, while the rows giving it to others
// are live.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/fake_platform.h"
#include "core/device_record.h"
#include "mdns/fake_dns_client.h"
#include "browse/service_found.h"

namespace {

TEST(MacLookup, AsksOnTheInterfaceThatHeardTheDevice)
{
    FakePlatform fake;
    PostedRecords posted;
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}, {"192.168.1.6", "255.255.255.0", 8}};
    fake.neighbours = {{"192.168.1.20", 7, {2, 0, 0, 0, 7, 0x20}},
                       {"192.168.1.20", 8, {2, 0, 0, 0, 8, 0x20}},
                       {"192.168.1.21", 7, {2, 0, 0, 0, 7, 0x21}},
                       {"192.168.1.21", 8, {2, 0, 0, 0, 0xBB, 0}},
                       {"192.168.1.22", 8, {2, 0, 0, 0, 0xBB, 0}}};
    struct Case {
        DWORD sendArp;  // ERROR_NOT_SUPPORTED: the neighbour table, as under Wine
        const char* device;
        const char* heardOn;
        const wchar_t* mac;  // null: none posted
        int32_t kind;
    };
    const Case cases[] = {
        {ERROR_NOT_SUPPORTED, "192.168.1.20", "192.168.1.5", L"02-00-00-00-07-20", kMdnsAnswer},
        {ERROR_NOT_SUPPORTED, "192.168.1.20", "192.168.1.6", L"02-00-00-00-08-20", kMdnsAnswer},
        {ERROR_NOT_SUPPORTED, "192.168.1.21", "192.168.1.5", L"02-00-00-00-07-21", kMdnsAnswer},
        {ERROR_NOT_SUPPORTED, "192.168.1.21", "192.168.1.6", L"02-00-00-00-BB-00", kMdnsAnswerSharedMac},
        {ERROR_NOT_SUPPORTED, "192.168.1.22", "192.168.1.5", nullptr, 0},
        {NO_ERROR, "192.168.1.20", "192.168.1.6", L"02-00-00-00-08-20", kMdnsAnswer},
        {NO_ERROR, "192.168.1.22", "192.168.1.6", L"02-00-00-00-BB-00", kMdnsAnswerSharedMac},
        {NO_ERROR, "192.168.1.22", "192.168.1.5", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " heard on " + c.heardOn);
        fake.sendArpResult = c.sendArp;
        ForgetSolicitedNeighbours();
        InstancePtr instance = MakeServiceInstance();
        wcscpy(instance->service.hostName, L"device");
        instance->service.address = Ipv4(c.device);
        instance->service.heardOn = {Ipv4(c.heardOn), Ipv4("255.255.255.0")};
        SetTxt(&instance->service, {L"vendor=Orvel"});
        EXPECT_EQ(c.mac != nullptr ? kServicePosted : kServiceIgnored,
                  OnServiceFound(&instance->service, nullptr, INVALID_HANDLE_VALUE, nullptr, 1));
        std::vector<DeviceRecord> records = posted.Collect();
        ASSERT_EQ(c.mac != nullptr ? 1u : 0u, records.size());
        if (c.mac != nullptr) {
            EXPECT_STREQ(c.mac, records[0].macText);
            EXPECT_EQ(c.kind, records[0].fromMdns);
        }
    }
}

TEST(MacLookup, OnlyLiveRowsShareAMac)
{
    FakePlatform fake;
    PostedRecords posted;
    fake.addresses = {{"192.168.1.5", "255.255.255.0", 7}};
    const struct {
        NL_NEIGHBOR_STATE other;
        bool unreachable;
        int32_t kind;
    } cases[] = {
        {NlnsReachable, false, kMdnsAnswerSharedMac}, {NlnsStale, false, kMdnsAnswerSharedMac},
        {NlnsDelay, false, kMdnsAnswerSharedMac},     {NlnsPermanent, false, kMdnsAnswerSharedMac},
        {NlnsProbe, false, kMdnsAnswer},              {NlnsUnreachable, false, kMdnsAnswer},
        {NlnsIncomplete, false, kMdnsAnswer},         {NlnsStale, true, kMdnsAnswer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.other) + (c.unreachable ? " flagged unreachable" : ""));
        // The device, and an address that the device had, or a bridge has, too.
        fake.neighbours = {{"192.168.1.30", 7, {2, 0, 0, 0, 0xBB, 1}},
                           {"192.168.1.31", 7, {2, 0, 0, 0, 0xBB, 1}, c.other, c.unreachable}};
        InstancePtr instance = MakeServiceInstance();
        wcscpy(instance->service.hostName, L"device");
        instance->service.address = Ipv4("192.168.1.30");
        instance->service.heardOn = {Ipv4("192.168.1.5"), Ipv4("255.255.255.0")};
        SetTxt(&instance->service, {L"vendor=Orvel"});
        EXPECT_EQ(kServicePosted, OnServiceFound(&instance->service, nullptr, INVALID_HANDLE_VALUE, nullptr, 1));
        std::vector<DeviceRecord> records = posted.Collect();
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(c.kind, records[0].fromMdns);
    }
}

}  // namespace
