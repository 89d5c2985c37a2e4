// The pauses of failed instances (paused_instances.h).
#include "browse/paused_instances.h"

namespace {

bool Before(uint32_t a, uint32_t b)
{
    return int32_t(a - b) < 0;
}

void NotePauseEnd(PausedInstances* table, uint32_t until)
{
    if (!table->anyPaused || Before(until, table->nextEnd)) {
        table->nextEnd = until;
    }
    table->anyPaused = true;
}

}  // namespace

void InitPausedInstances(PausedInstances* table)
{
    // Out of memory: an empty index, and every failed instance counts again at once.
    InitNameIndex(&table->names, kMaxPausedInstances, kDnsNameChars - 1);
    table->nextEnd = 0;
    table->anyPaused = false;
}

void ReleasePausedInstances(PausedInstances* table)
{
    ReleaseNameIndex(&table->names);
    table->anyPaused = false;
}

uint32_t PauseInstanceName(PausedInstances* table, const wchar_t* name, uint32_t now,
                           PauseEndedCallback ended, void* context)
{
    int32_t slot = FindName(&table->names, name, 0);
    if (slot == -1) {
        if (table->names.count == table->names.capacity && table->names.oldest != -1) {
            int32_t oldest = table->names.oldest;
            if (table->states[oldest].paused) {
                ended(context, table->names.slots[oldest].name);
            }
            RemoveName(&table->names, oldest);
        }
        int32_t evicted;
        slot = AddName(&table->names, name, 0, &evicted);
        if (slot == -1) {
            ended(context, name);
            return 0;
        }
        table->states[slot] = PauseState{0, 0, false};
    }
    PauseState& state = table->states[slot];
    uint32_t pauseMs = kLongestPauseMs;
    if (state.failures < 5) {
        pauseMs = kFirstPauseMs << state.failures;  // 1, 2, 4, 8, 16 s, then 30
        ++state.failures;
    }
    state.until = now + pauseMs;
    state.paused = true;
    NotePauseEnd(table, state.until);
    return pauseMs;
}

void EndPauses(PausedInstances* table, uint32_t now, PauseEndedCallback ended, void* context)
{
    if (!table->anyPaused || Before(now, table->nextEnd)) {
        return;
    }
    table->anyPaused = false;
    for (uint32_t slot = 0; slot < table->names.capacity; ++slot) {
        PauseState& state = table->states[slot];
        if (table->names.slots[slot].name == nullptr || !state.paused) {
            continue;
        }
        if (!Before(now, state.until)) {
            state.paused = false;
            ended(context, table->names.slots[slot].name);
        } else {
            NotePauseEnd(table, state.until);
        }
    }
}

bool IsInstancePaused(const PausedInstances* table, const wchar_t* name, uint32_t now)
{
    return PauseLeft(table, name, now) != 0;
}

uint32_t PauseLeft(const PausedInstances* table, const wchar_t* name, uint32_t now)
{
    int32_t slot = FindName(&table->names, name, 0);
    if (slot == -1 || !table->states[slot].paused || !Before(now, table->states[slot].until)) {
        return 0;
    }
    return table->states[slot].until - now;
}

void ClearInstancePause(PausedInstances* table, const wchar_t* name)
{
    RemoveName(&table->names, FindName(&table->names, name, 0));
}
