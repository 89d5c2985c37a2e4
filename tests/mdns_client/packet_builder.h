// Builds DNS packets byte by byte for the wire reader and client tests,
// including the broken ones no encoder would make.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

using Packet = std::vector<uint8_t>;

inline void Put16(Packet& p, unsigned value)
{
    p.push_back(uint8_t(value >> 8));
    p.push_back(uint8_t(value));
}

inline void Put32(Packet& p, uint32_t value)
{
    Put16(p, value >> 16);
    Put16(p, value & 0xFFFF);
}

inline void PutHeader(Packet& p, unsigned flags, unsigned qd, unsigned an, unsigned ns, unsigned ar)
{
    Put16(p, 0);
    Put16(p, flags);
    Put16(p, qd);
    Put16(p, an);
    Put16(p, ns);
    Put16(p, ar);
}

// The labels of a dotted name, without the terminating zero or pointer.
inline void PutLabels(Packet& p, const std::string& dotted)
{
    size_t start = 0;
    while (start < dotted.size()) {
        size_t dot = dotted.find('.', start);
        if (dot == std::string::npos) {
            dot = dotted.size();
        }
        p.push_back(uint8_t(dot - start));
        p.insert(p.end(), dotted.begin() + start, dotted.begin() + dot);
        start = dot + 1;
    }
}

inline void PutName(Packet& p, const std::string& dotted)
{
    PutLabels(p, dotted);
    p.push_back(0);
}

inline void PutPointer(Packet& p, unsigned offset)
{
    p.push_back(uint8_t(0xC0 | (offset >> 8)));
    p.push_back(uint8_t(offset));
}

// Type, class, TTL and data length, after the owner name.
inline void PutFixed(Packet& p, unsigned type, unsigned rrClass, uint32_t ttl, unsigned dataLength)
{
    Put16(p, type);
    Put16(p, rrClass);
    Put32(p, ttl);
    Put16(p, dataLength);
}

constexpr unsigned kResponseFlags = 0x8400;  // QR, AA
constexpr unsigned kClassInFlush = 0x8001;

// A response as a responder of the service sends it: one PTR answer, then
// SRV, TXT and A additionals; the service, instance and host names are
// written once and then pointed to.
inline Packet ServiceResponse(const std::string& service, const std::string& instanceLabel,
                              const std::string& host, const uint8_t address[4], uint32_t ptrTtl = 4500)
{
    Packet p;
    PutHeader(p, kResponseFlags, 0, 1, 0, 3);
    const unsigned serviceAt = 12;
    PutName(p, service);
    PutFixed(p, 12, 1, ptrTtl, unsigned(instanceLabel.size() + 3));
    const unsigned instanceAt = unsigned(p.size());
    PutLabels(p, instanceLabel);
    PutPointer(p, serviceAt);

    PutPointer(p, instanceAt);
    PutFixed(p, 33, kClassInFlush, 120, unsigned(6 + host.size() + 2));
    Put16(p, 0);
    Put16(p, 0);
    Put16(p, 8080);
    const unsigned hostAt = unsigned(p.size());
    PutName(p, host);

    PutPointer(p, instanceAt);
    const std::string vendor = "vendor=Orvel", model = "model=X200";
    PutFixed(p, 16, kClassInFlush, 4500, unsigned(2 + vendor.size() + model.size()));
    p.push_back(uint8_t(vendor.size()));
    p.insert(p.end(), vendor.begin(), vendor.end());
    p.push_back(uint8_t(model.size()));
    p.insert(p.end(), model.begin(), model.end());

    PutPointer(p, hostAt);
    PutFixed(p, 1, kClassInFlush, 120, 4);
    p.insert(p.end(), address, address + 4);
    return p;
}
