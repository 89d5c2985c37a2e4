// One service instance that a browse found, and what is known of it: the
// record callbacks fill it on the DNS client's thread, the browse reads it.
// No windows.h here: the browse's queue and lookup slots, which hold
// instances across threads, also build natively for the stress tests.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include <atomic>
#include <memory>

#include "core/sync.h"
#include "browse/host_name.h"

enum : int {
    kTxtTextChars = 256,  // one TXT string, cut to fit
    // All TXT strings of one instance, each with its terminator: no more
    // than one 9000-byte packet can carry.
    kMaxTxtUnits = 9000,
};

// The address and mask of the interface entry whose browse heard an answer
// (network byte order); 0 and 0 hold every address.
struct InterfaceSubnet {
    uint32_t address;
    uint32_t mask;
};

// What is known of one service instance; handed to the found-callback.
struct ResolvedService {
    wchar_t hostName[kDnsNameChars];      // A record owner, cut at its last "."
    wchar_t instanceName[kDnsNameChars];  // PTR target
    uint32_t address;                     // IPv4, network byte order
    uint16_t port;                        // from SRV; used by nothing downstream
    // The TXT strings in answer order, back to back, each zero-terminated
    // (malloc'd; null when there are none).
    wchar_t* txtText;
    uint32_t txtCount;
    InterfaceSubnet heardOn;  // the device's state is judged against it
};

// The TXT string after `text` (start with null), or null after the last.
const wchar_t* NextTxtString(const ResolvedService* service, const wchar_t* text, uint32_t* index);

// One instance found by the browse, resolved from the browse answer's own
// records where it carries them and otherwise by SRV and TXT queries. Made
// zero-filled by MakeServiceInstance; its owner holds it in an InstancePtr.
struct ServiceInstance {
    ServiceInstance() = default;
    ServiceInstance(const ServiceInstance&) = delete;
    ServiceInstance& operator=(const ServiceInstance&) = delete;
    ~ServiceInstance();  // frees the TXT strings

    // Set by the DNS client's thread once the rest is written; the browse
    // reads the rest only after it has seen them and stopped the queries.
    // srvAnswered: the SRV record is known and so is the address of its
    // target, from an A record of that very name.
    std::atomic<int> srvAnswered;
    std::atomic<int> txtAnswered;
    ResolvedService service;
    // A browse answer without SRV record but with exactly one A record: that
    // host, taken only if the SRV answer names it as the target.
    wchar_t hintOwner[kDnsNameChars];
    uint32_t hintAddress;
    // The SRV record's target once known without its address, so that the
    // browse asks for the address itself: written once, before targetKnown
    // is set, and never again. One answer claims each of the target and the
    // address (targetClaim, addressClaim), since the SRV and the address
    // queries may answer at the same time.
    wchar_t srvTarget[kDnsNameChars];
    std::atomic<int> targetKnown;
    std::atomic<int> targetClaim;
    std::atomic<int> addressClaim;
    SyncSignal* wake;  // set after each answer, so the browse looks at once; or null
};

using InstancePtr = std::unique_ptr<ServiceInstance>;
// A new zero-filled instance; null when memory runs out.
InstancePtr MakeServiceInstance();
