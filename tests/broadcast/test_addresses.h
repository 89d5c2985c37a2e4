// Builds IPv4 addresses in network byte order for the broadcast tests.
#pragma once

#include <stdint.h>
#include <string.h>

inline uint32_t Ipv4(unsigned a, unsigned b, unsigned c, unsigned d)
{
    const unsigned char octets[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                     static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    uint32_t address;
    memcpy(&address, octets, sizeof(address));
    return address;
}
