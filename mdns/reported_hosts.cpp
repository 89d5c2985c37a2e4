// The per-interface table of hosts already reported, and the refresh of
// their listed rows from later answers.
#include "mdns/reported_hosts.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "mdns/host_name.h"

namespace {

// Caller holds the lock.
ReportedHost* FindHost(ReportedHosts* table, const wchar_t* hostName, uint32_t address)
{
    int32_t slot = FindName(&table->names, hostName, address);
    return slot != -1 ? table->hosts[slot] : nullptr;
}

// Caller holds the lock.
void DropSlot(ReportedHosts* table, int32_t slot)
{
    if (slot == -1) {
        return;
    }
    free(table->hosts[slot]);
    table->hosts[slot] = nullptr;
    RemoveName(&table->names, slot);
}

// Caller holds the lock. Names are kept oldest first by their first report,
// so only the oldest few are looked at: a host reported again stays put, and
// is dropped here only once its last report is old too.
void DropForgottenHosts(ReportedHosts* table, uint32_t now)
{
    for (int i = 0; i < 4 && table->names.oldest != -1; ++i) {
        int32_t slot = table->names.oldest;
        ReportedHost* host = table->hosts[slot];
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
    table->hosts = static_cast<ReportedHost**>(calloc(kMaxReportedHosts, sizeof(ReportedHost*)));
    if (table->hosts == nullptr || !InitNameIndex(&table->names, kMaxReportedHosts, kDnsNameChars - 1)) {
        // Out of memory: a table that remembers nothing.
        free(table->hosts);
        table->hosts = nullptr;
        InitNameIndex(&table->names, 0, 0);
    }
}

void ReleaseReportedHosts(ReportedHosts* table)
{
    for (uint32_t i = 0; table->hosts != nullptr && i < table->names.capacity; ++i) {
        free(table->hosts[i]);
    }
    free(table->hosts);
    table->hosts = nullptr;
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
        free(table->hosts[evicted]);
        table->hosts[evicted] = nullptr;
    }
    if (slot != -1 && table->hosts[slot] == nullptr) {
        table->hosts[slot] = static_cast<ReportedHost*>(calloc(1, sizeof(ReportedHost)));
        if (table->hosts[slot] == nullptr) {
            RemoveName(&table->names, slot);
            slot = -1;
        }
    }
    if (slot != -1) {
        ReportedHost* host = table->hosts[slot];
        memcpy(&host->record, record, sizeof(DeviceRecord));
        host->address = address;
        host->reportedTick = now;
        host->postedTick = now;
    }
    LeaveCriticalSection(&table->lock);
}

void ForgetReportedHost(ReportedHosts* table, const wchar_t* hostName, uint32_t address)
{
    EnterCriticalSection(&table->lock);
    DropSlot(table, FindName(&table->names, hostName, address));
    LeaveCriticalSection(&table->lock);
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
