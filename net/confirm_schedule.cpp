// The times of the direct requests that confirm a silent device.
#include "net/confirm_schedule.h"

#include "core/device_table.h"

DWORD MsUntilConfirmation(DWORD sincePostMs, uint32_t asked)
{
    // Once the row has expired there is nothing left to keep.
    if (asked >= kConfirmRequests || sincePostMs >= kDeviceExpiryMs) {
        return kNoConfirmationDue;
    }
    DWORD due = kConfirmFirstMs + asked * kConfirmIntervalMs;
    return sincePostMs >= due ? 0 : due - sincePostMs;
}

uint32_t AskedAfterConfirmation(DWORD sincePostMs)
{
    if (sincePostMs < kConfirmFirstMs) {
        return 0;
    }
    DWORD passed = (sincePostMs - kConfirmFirstMs) / kConfirmIntervalMs + 1;
    return passed < kConfirmRequests ? passed : kConfirmRequests;
}
