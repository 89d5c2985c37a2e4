// The pauses of failed instances, on a clock the test sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browse/paused_instances.h"

namespace {

void CollectEnded(void* context, const wchar_t* name)
{
    static_cast<std::vector<std::wstring>*>(context)->push_back(name);
}

// One instance fails again and again: its pauses are 1, 2, 4, 8, 16, 30,
// 30 s, and after a report 1 s again; its name comes back when a pause is
// over and not before, also across the wrap of the tick counter.
TEST(PausedInstances, PausesDoubleToHalfAMinuteAndStartOverAfterAReport)
{
    PausedInstances table;
    InitPausedInstances(&table);
    struct Step {
        bool reportedBefore;
        uint32_t pauseMs;
    };
    const Step steps[] = {{false, 1000}, {false, 2000},  {false, 4000},  {false, 8000}, {false, 16000},
                          {false, 30000}, {false, 30000}, {true, 1000}, {false, 2000}};
    std::vector<std::wstring> ended;
    uint32_t now = 0xFFFF0000u;
    for (const Step& step : steps) {
        if (step.reportedBefore) {
            ClearInstancePause(&table, L"dev");
        }
        EXPECT_EQ(PauseInstanceName(&table, L"dev", now, CollectEnded, &ended), step.pauseMs);
        EXPECT_EQ(PauseLeft(&table, L"dev", now + 1), step.pauseMs - 1);
        EndPauses(&table, now + step.pauseMs - 1, CollectEnded, &ended);
        EXPECT_TRUE(IsInstancePaused(&table, L"dev", now + step.pauseMs - 1));
        EXPECT_TRUE(ended.empty());
        EndPauses(&table, now + step.pauseMs, CollectEnded, &ended);
        EXPECT_FALSE(IsInstancePaused(&table, L"dev", now + step.pauseMs));
        EXPECT_EQ(ended, std::vector<std::wstring>{L"dev"});
        ended.clear();
        now += step.pauseMs + 500;
    }
    EXPECT_FALSE(IsInstancePaused(&table, L"other", now));
    ReleasePausedInstances(&table);
}

}  // namespace
