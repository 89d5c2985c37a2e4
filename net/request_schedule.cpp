// The transmit worker's schedule of broadcast requests.
#include "net/request_schedule.h"

void InitRequestSchedule(RequestSchedule* schedule)
{
    schedule->inPass = false;
    schedule->passStart = 0;
    schedule->passSent = 0;
    schedule->sentAny = false;
    schedule->lastSent = 0;
}

void StartRequestPass(RequestSchedule* schedule, DWORD now)
{
    schedule->inPass = true;
    schedule->passStart = now;
    schedule->passSent = 0;
}

DWORD MsUntilNextRequest(const RequestSchedule* schedule, DWORD now, bool autoRefresh)
{
    DWORD since = 0;
    DWORD due = 0;
    if (schedule->inPass) {
        since = now - schedule->passStart;
        due = kPassOffsetsMs[schedule->passSent];
    } else if (autoRefresh) {
        if (!schedule->sentAny) {
            return 0;
        }
        since = now - schedule->lastSent;
        due = kAutoRefreshIntervalMs;
    } else {
        return kNoRequestDue;
    }
    return since >= due ? 0 : due - since;
}

bool TakeDueRequest(RequestSchedule* schedule, DWORD now, bool autoRefresh)
{
    if (MsUntilNextRequest(schedule, now, autoRefresh) != 0) {
        return false;
    }
    if (schedule->inPass) {
        DWORD since = now - schedule->passStart;
        while (schedule->passSent < kPassRequests && kPassOffsetsMs[schedule->passSent] <= since) {
            ++schedule->passSent;
        }
        schedule->inPass = schedule->passSent < kPassRequests;
    }
    schedule->sentAny = true;
    schedule->lastSent = now;
    return true;
}
