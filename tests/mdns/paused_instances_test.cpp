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

// Pauses that overlap end in turn: a pause still running when another
// ends is kept and ends at its own time.
TEST(PausedInstances, OverlappingPausesEndInTurn)
{
    PausedInstances table;
    InitPausedInstances(&table);
    struct Step {
        uint32_t at;
        const wchar_t* fails;  // null: only the pauses over by then end
        std::vector<std::wstring> ended;
    };
    const Step steps[] = {
        {0, L"a", {}},         // a until 1000
        {500, L"b", {}},       // b until 1500
        {1000, nullptr, {L"a"}},
        {1499, nullptr, {}},
        {1500, nullptr, {L"b"}},
    };
    for (const Step& step : steps) {
        std::vector<std::wstring> ended;
        if (step.fails != nullptr) {
            PauseInstanceName(&table, step.fails, step.at, CollectEnded, &ended);
        }
        EndPauses(&table, step.at, CollectEnded, &ended);
        EXPECT_EQ(ended, step.ended) << step.at;
    }
    ReleasePausedInstances(&table);
}

}  // namespace
