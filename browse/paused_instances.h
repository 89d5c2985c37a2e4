// Instances whose resolution failed, by name: each failure pauses its
// instance for twice as long as the one before (1, 2, 4, 8, 16 s, then
// 30 s), a report starts it from the shortest pause again. Time is given
// by the caller (the browse's clock), so the schedule is tested without
// waiting. Used by one thread only. Portable: no Windows headers.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include "browse/host_name.h"
#include "browse/name_index.h"

enum : uint32_t {
    // Paused instances one table keeps; when full the oldest gives way (and
    // may be tried again at once), so invented names cannot grow it.
    kMaxPausedInstances = 256,
};

constexpr uint32_t kFirstPauseMs = 1000;
constexpr uint32_t kLongestPauseMs = 30000;

// How often an instance has failed, and until when its answers are dropped.
struct PauseState {
    uint32_t failures;
    uint32_t until;
    bool paused;  // its name stays seen by the browse query until `until`
};

// The browse query keeps a paused instance's name among its seen names,
// which drops its answers; once the pause is over the name is forgotten
// there (the table's `ended` hook) and the next answer counts. The failures
// stay, so that the next pause is twice as long.
struct PausedInstances {
    NameIndex names;  // instance names; a slot's state is states[slot]
    PauseState states[kMaxPausedInstances];
    uint32_t nextEnd;  // no pause ends before this
    bool anyPaused;
};

// Told of a name whose pause is over (or could not be kept).
typedef void (*PauseEndedCallback)(void* context, const wchar_t* instanceName);

void InitPausedInstances(PausedInstances* table);
void ReleasePausedInstances(PausedInstances* table);

// The instance failed at `now`: returns the length of its pause. Without
// room (out of memory) it is not paused: `ended` is told at once and 0
// returned. A paused name that gives way to it is handed to `ended` too.
uint32_t PauseInstanceName(PausedInstances* table, const wchar_t* name, uint32_t now,
                           PauseEndedCallback ended, void* context);

// Hands every name whose pause is over to `ended`; a look at every entry
// only once the earliest pause has ended.
void EndPauses(PausedInstances* table, uint32_t now, PauseEndedCallback ended, void* context);

bool IsInstancePaused(const PausedInstances* table, const wchar_t* name, uint32_t now);
// The milliseconds until its pause ends; 0 when it is not paused.
uint32_t PauseLeft(const PausedInstances* table, const wchar_t* name, uint32_t now);

// The instance was reported: its next failure starts from the shortest pause.
void ClearInstancePause(PausedInstances* table, const wchar_t* name);
