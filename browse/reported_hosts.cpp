// The per-interface table of hosts already reported, and the refresh of
// their listed rows from later answers.
#include "browse/reported_hosts.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

#include "browse/host_name.h"

namespace {

// Caller holds the lock.
ReportedHost* FindHost(ReportedHosts* table, const wchar_t* hostName, uint32_t address)
{
    int32_t slot = FindName(&table->names, hostName, address);
    return slot != -1 ? table->hosts[slot].get() : nullptr;
}

// Caller holds the lock.
void DropSlot(ReportedHosts* table, int32_t slot)
{
    if (slot == -1) {
        return;
    }
    table->hosts[slot].reset();
    RemoveName(&table->names, slot);
}

// Caller holds the lock. Names are kept oldest first by their first report,
// so only the oldest few are looked at: a host reported again stays put, and
// is dropped here only once its last report is old too.
void DropForgottenHosts(ReportedHosts* table, uint32_t now)
{
    for (int i = 0; i < 4 && table->names.oldest != -1; ++i) {
        int32_t slot = table->names.oldest;
        const ReportedHost* host = table->hosts[slot].get();
        if (host != nullptr && now - host->reportedTick <= kForgetReportedAfterMs) {
            return;
        }
        DropSlot(table, slot);
    }
}

}  // namespace

void InitReportedHosts(ReportedHosts* table)
{
    InitializeCriticalSection(&table->lock);
    table->confirmCursor = 0;
    table->hosts.reset(new (std::nothrow) std::unique_ptr<ReportedHost>[kMaxReportedHosts]);
    if (table->hosts == nullptr || !InitNameIndex(&table->names, kMaxReportedHosts, kDnsNameChars - 1)) {
        // Out of memory: a table that remembers nothing.
        table->hosts.reset();
        InitNameIndex(&table->names, 0, 0);
    }
}

void ReleaseReportedHosts(ReportedHosts* table)
{
    table->hosts.reset();
    ReleaseNameIndex(&table->names);
    DeleteCriticalSection(&table->lock);
}

void RememberReportedHost(ReportedHosts* table, const DeviceRecord* record, uint32_t address,
                          uint32_t now)
{
    EnterCriticalSection(&table->lock);
    DropForgottenHosts(table, now);
    int32_t evicted = -1;
    int32_t slot = AddName(&table->names, record->name, address, &evicted);
    if (evicted != -1) {
        table->hosts[evicted].reset();
    }
    if (slot != -1 && table->hosts[slot] == nullptr) {
        table->hosts[slot].reset(new (std::nothrow) ReportedHost());
        if (table->hosts[slot] == nullptr) {
            RemoveName(&table->names, slot);
            slot = -1;
        }
    }
    if (slot != -1) {
        ReportedHost* host = table->hosts[slot].get();
        memcpy(&host->record, record, sizeof(DeviceRecord));
        host->address = address;
        host->reportedTick = now;
        host->postedTick = now;
        host->asked = 0;
    }
    LeaveCriticalSection(&table->lock);
}

void ForgetReportedHost(ReportedHosts* table, const wchar_t* hostName, uint32_t address)
{
    EnterCriticalSection(&table->lock);
    DropSlot(table, FindName(&table->names, hostName, address));
    LeaveCriticalSection(&table->lock);
}

bool ReportedHostNeedsRenewal(ReportedHosts* table, const wchar_t* ownerName, uint32_t address,
                              uint32_t now)
{
    wchar_t hostName[kDnsNameChars];
    CopyHostName(hostName, kDnsNameChars, ownerName);
    EnterCriticalSection(&table->lock);
    ReportedHost* host = FindHost(table, hostName, address);
    bool due = host != nullptr && now - host->reportedTick > kRenewReportAfterMs;
    LeaveCriticalSection(&table->lock);
    return due;
}

bool RefreshReportedHost(ReportedHosts* table, const wchar_t* ownerName, uint32_t address,
                         uint32_t now)
{
    wchar_t hostName[kDnsNameChars];
    CopyHostName(hostName, kDnsNameChars, ownerName);

    DeviceRecord* copy = nullptr;
    EnterCriticalSection(&table->lock);
    ReportedHost* host = FindHost(table, hostName, address);
    if (host != nullptr && now - host->reportedTick <= kForgetReportedAfterMs &&
        now - host->postedTick >= kRefreshIntervalMs) {
        copy = AllocateDeviceRecord();
        if (copy != nullptr) {
            memcpy(copy, &host->record, sizeof(DeviceRecord));
            host->postedTick = now;
            host->asked = 0;
        }
    }
    LeaveCriticalSection(&table->lock);

    if (copy == nullptr) {
        return false;
    }
    copy->lastSeen = GetTickCount();
    // The window owns it once posted; a failed post frees it.
    return PostDeviceRecord(copy);
}

static_assert(int(kNameChars) == int(kDnsNameChars), "a listed name fits a host name field");

namespace {

// Milliseconds until the next question of a host that has been quiet for
// `quiet` and has had `asked` questions: 0 when one is due now, INFINITE
// when none is left (its row goes).
uint32_t MsUntilQuestion(uint32_t quiet, uint32_t asked)
{
    if (asked >= kConfirmQuestions) {
        return INFINITE;
    }
    uint32_t due = kConfirmAfterMs + asked * kConfirmIntervalMs;
    return quiet >= due ? 0 : due - quiet;
}

}  // namespace

int TakeHostsToConfirm(ReportedHosts* table, uint32_t now, wchar_t (*names)[kDnsNameChars], int capacity,
                       uint32_t* msUntilNext, uint32_t* hostSlots)
{
    int count = 0;
    uint32_t next = INFINITE;
    EnterCriticalSection(&table->lock);
    const uint32_t slots = table->hosts != nullptr ? table->names.capacity : 0;
    uint32_t cursor = table->confirmCursor;
    for (uint32_t step = 0; step < slots; ++step) {
        uint32_t slot = (table->confirmCursor + step) % slots;
        ReportedHost* host = table->hosts[slot].get();
        if (host == nullptr || now - host->reportedTick > kForgetReportedAfterMs) {
            continue;
        }
        uint32_t quiet = now - host->postedTick;
        uint32_t wait = MsUntilQuestion(quiet, host->asked);
        if (wait == 0 && count < capacity) {
            // Every question whose time has passed counts as asked.
            host->asked = (quiet - kConfirmAfterMs) / kConfirmIntervalMs + 1;
            if (hostSlots != nullptr) {
                hostSlots[count] = slot;
            }
            memcpy(names[count++], host->record.name, sizeof(names[0]));
            cursor = (slot + 1) % slots;
            wait = MsUntilQuestion(quiet, host->asked);
        }
        // A due host left for want of room waits for the caller's next look.
        if (wait != 0 && wait < next) {
            next = wait;
        }
    }
    table->confirmCursor = cursor;
    LeaveCriticalSection(&table->lock);
    *msUntilNext = next;
    return count;
}

void HostQuestionNotAsked(ReportedHosts* table, uint32_t hostSlot, const wchar_t* hostName)
{
    EnterCriticalSection(&table->lock);
    ReportedHost* host = table->hosts != nullptr && hostSlot < table->names.capacity
                             ? table->hosts[hostSlot].get()
                             : nullptr;
    // An answer since then set the count to 0, and the question is not due.
    if (host != nullptr && host->asked > 0 &&
        SameDnsName(host->record.name, hostName, table->names.maxNameChars)) {
        --host->asked;
    }
    LeaveCriticalSection(&table->lock);
}
