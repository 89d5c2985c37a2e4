// The working state of one BrowseServices call, shared by its two halves:
// the passes (browse.cpp) and what becomes of each device found
// (devices.cpp: reports, hardware address waits, pauses, lookups
// asked again, remembered instances asked directly).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include "browse/browse.h"
#include "browse/host_confirm.h"

constexpr DWORD kCycleMs = 250;
// Limits are exceeded only when the elapsed time is strictly greater.
constexpr uint32_t kSilenceMs = 2000;
constexpr uint32_t kLookupLimitMs = 2000;
// How long a resolved device may wait for its hardware address to be learnt.
constexpr uint32_t kMacWaitLimitMs = 1000;
// Devices found together whose hardware address is still being learnt.
constexpr int kMaxAwaitingMac = 64;
// A device waiting for its hardware address is looked at again after the
// first interval, each next one twice as long up to the last: the system
// learns most addresses within milliseconds, a few take longer.
constexpr uint32_t kFirstMacRetryMs = 10;
constexpr uint32_t kLongestMacRetryMs = 100;
// A retry round may read the neighbour table (one read serves every device
// of the round): not on every wake-up in a burst.
constexpr uint32_t kMacRoundMs = 10;
// Instances whose lookups ran out of time, kept to be asked again after
// their pause; beyond that the oldest give way (their next answer counts).
constexpr int kMaxLookupRetries = kMaxParallelLookups;
// With auto-refresh the browse query is asked afresh this often: listed
// devices must answer well within their rows' 3 s.
constexpr uint32_t kBrowseRestartMs = 1000;

// A lookup slot's query over the DNS client; the record callbacks write
// the instance it was started for.
class DnsLookupQuery : public LookupQuery {
public:
    uint32_t Start(const wchar_t* name, uint16_t type, ServiceInstance* instance,
                   uint32_t interfaceIndex) override
    {
        PMDNS_QUERY_CALLBACK callback = type == kLookupSrv ? OnSrvAnswer
                                        : type == kLookupTxt ? OnTxtAnswer
                                                             : OnAddressAnswer;
        return query_.Start(name, type, callback, instance, interfaceIndex);
    }
    void Stop() override { query_.Stop(); }
    bool IsActive() override { return query_.IsActive() != 0; }
    uint32_t TimeSinceStart() override { return query_.TimeSinceStart(); }

private:
    mDNSQuery query_;
};

// A resolved instance whose device's hardware address is being learnt.
struct AwaitingMac {
    InstancePtr instance;  // null: free
    uint32_t since;
    uint32_t nextTry;
    uint32_t retryMs;  // the pause before nextTry; the next one is twice as long
};

// The working state of one call; lives on the calling thread's stack. Its
// members end in reverse order: every query stops before the instances and
// the queue that its answers write are freed.
struct Browse {
    BrowseOptions options;
    BrowseContext context;
    mDNSPTRQuery ptrQuery;
    LookupSlots lookups;
    AwaitingMac awaiting[kMaxAwaitingMac];
    uint32_t lastMacRetry;
    PausedInstances ownPauses;  // when the options bring none
    PausedInstances* pauses;
    DWORD lastAbortWait;
    bool restartTaken;  // a cycle's wait took the restart event's signal
    uint32_t passStart;
    bool recalled;  // this pass has asked the remembered instances
    InstancePtr retries[kMaxLookupRetries];  // lookups to ask again once their pause is over
    HostConfirmations confirmations;
    // After the slots, so that they end (and stop) before the instances
    // that their answers write.
    DnsLookupQuery lookupQueries[kMaxParallelLookups][kQueriesPerLookup];

    Browse() : restartTaken(false) { InitPausedInstances(&ownPauses); }
    ~Browse() { ReleasePausedInstances(&ownPauses); }
    Browse(const Browse&) = delete;
    Browse& operator=(const Browse&) = delete;
};

// The browse's clock (options.clock), and GetTickCount as a clock.
uint32_t Now(const Browse* browse);
uint32_t TickClock();

// An instance failed: its answers are dropped for a pause that doubles with
// each failure. Without room (out of memory) it counts again at once.
void PauseInstance(Browse* browse, const ServiceInstance* instance);
// An instance answering during its pause under another host name (or in a
// later browse, whose browse query has not seen it yet) is not looked up.
bool IsPaused(const Browse* browse, const ServiceInstance* instance);

void StopIfActive(mDNSQuery* query);
// failed: the device did not give its hardware address in time (or gave
// way to newer ones); otherwise the pass ended meanwhile.
void EndAwaitingMac(Browse* browse, AwaitingMac* entry, bool failed);
// Hands a resolved instance (no query writes it any more) to the
// found-callback, or parks it while the device's hardware address is learnt.
void Report(Browse* browse, InstancePtr instance);
void RetryAwaitingMac(Browse* browse);
// Reports each resolved lookup; a lookup that failed pauses its instance
// and is asked again after the pause. Instances whose pause is over count again.
void CheckLookups(Browse* browse);
// Something keeps the pass from ending in silence (see devices.cpp).
bool AnyDeviceBusy(const Browse* browse);
// Once per pass, kRecallAfterMs after its start: asks the silent remembered
// instances directly.
void RecallInstances(Browse* browse);
// The lookups kept to be asked again are given up (the pass ends).
void DropRetries(Browse* browse);
