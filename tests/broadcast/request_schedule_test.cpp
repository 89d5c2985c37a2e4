// The transmit worker's schedule, driven by a clock of the test's own: the
// requests a trigger's pass sends, the half-second requests of auto-refresh
// around a pass, a late wake, and a trigger during a pass.
#include <gtest/gtest.h>

#include <vector>

#include "net/request_schedule.h"

namespace {

struct ScheduleRun {
    const char* label;
    bool autoRefresh;
    std::vector<DWORD> triggers;  // times of triggers
    DWORD wakeLatencyMs;          // how late the worker wakes from a wait
    DWORD untilMs;
    std::vector<DWORD> expected;  // times of the requests sent
};

// Runs the worker's loop over the test's clock: wait as the schedule says
// (woken early by a trigger), then send when a request is due.
std::vector<DWORD> Requests(const ScheduleRun& run)
{
    RequestSchedule schedule;
    InitRequestSchedule(&schedule);
    std::vector<DWORD> sent;
    size_t trigger = 0;
    DWORD now = 0;
    while (now <= run.untilMs) {
        DWORD wait = MsUntilNextRequest(&schedule, now, run.autoRefresh);
        DWORD wake = wait == kNoRequestDue ? run.untilMs + 1 : now + wait + run.wakeLatencyMs;
        if (trigger < run.triggers.size() && run.triggers[trigger] <= wake) {
            now = run.triggers[trigger++];
            StartRequestPass(&schedule, now);
        } else {
            now = wake;
        }
        if (now <= run.untilMs && TakeDueRequest(&schedule, now, run.autoRefresh)) {
            sent.push_back(now);
        }
    }
    return sent;
}

TEST(RequestSchedule, PassesRepeatWithGrowingPausesAndAutoRefreshFillsTheRest)
{
    const std::vector<ScheduleRun> runs = {
        {"one trigger: a pass, then nothing", false, {100}, 0, 20000,
         {100, 400, 700, 1000, 1300, 1600, 1950, 2300, 2700}},
        {"auto-refresh without a trigger", true, {}, 0, 2000, {0, 500, 1000, 1500, 2000}},
        {"auto-refresh: the pass replaces the half-second requests", true, {1200}, 0, 4800,
         {0, 500, 1000, 1200, 1500, 1800, 2100, 2400, 2700, 3050, 3400, 3800, 4300, 4800}},
        {"a trigger in a pass starts it over", false, {0, 500}, 0, 5000,
         {0, 300, 500, 800, 1100, 1400, 1700, 2000, 2350, 2700, 3100}},
        {"a late worker skips the offsets it missed", false, {0}, 350, 5000,
         {0, 650, 1250, 1850, 2550, 2950}},
    };
    for (const ScheduleRun& run : runs) {
        SCOPED_TRACE(run.label);
        EXPECT_EQ(Requests(run), run.expected);
    }
}

}  // namespace
