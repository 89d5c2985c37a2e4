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
    for (ReportedHost* host = table->hosts; host != nullptr; host = host->next) {
        if (host->address == address && wcscmp(host->record.name, hostName) == 0) {
            return host;
        }
    }
    return nullptr;
}

// Caller holds the lock.
void DropForgottenHosts(ReportedHosts* table, uint32_t now)
{
    ReportedHost** link = &table->hosts;
    while (*link != nullptr) {
        ReportedHost* host = *link;
        if (now - host->reportedTick > kForgetReportedAfterMs) {
            *link = host->next;
            free(host);
        } else {
            link = &host->next;
        }
    }
}

}  // namespace

void InitReportedHosts(ReportedHosts* table)
{
    InitializeCriticalSection(&table->lock);
    table->hosts = nullptr;
}

void ReleaseReportedHosts(ReportedHosts* table)
{
    while (table->hosts != nullptr) {
        ReportedHost* next = table->hosts->next;
        free(table->hosts);
        table->hosts = next;
    }
    DeleteCriticalSection(&table->lock);
}

void RememberReportedHost(ReportedHosts* table, const DeviceRecord* record, uint32_t address,
                          uint32_t now)
{
    EnterCriticalSection(&table->lock);
    DropForgottenHosts(table, now);
    ReportedHost* host = FindHost(table, record->name, address);
    if (host == nullptr) {
        host = static_cast<ReportedHost*>(calloc(1, sizeof(ReportedHost)));
        if (host != nullptr) {
            host->address = address;
            host->next = table->hosts;
            table->hosts = host;
        }
    }
    if (host != nullptr) {
        memcpy(&host->record, record, sizeof(DeviceRecord));
        host->reportedTick = now;
        host->postedTick = now;
    }
    LeaveCriticalSection(&table->lock);
}

void ForgetReportedHost(ReportedHosts* table, const wchar_t* hostName, uint32_t address)
{
    EnterCriticalSection(&table->lock);
    for (ReportedHost** link = &table->hosts; *link != nullptr; link = &(*link)->next) {
        ReportedHost* host = *link;
        if (host->address == address && wcscmp(host->record.name, hostName) == 0) {
            *link = host->next;
            free(host);
            break;
        }
    }
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
