// The slots that stand between a DNS client calling back and the query object
// it calls back into. A client is handed a token (a slot and its generation,
// never an address): a callback that comes after its query has let go of the
// slot, however late and on whatever thread, finds a newer generation and
// touches no query. The table is fixed in size and never freed, so a token
// stays safe to look up for as long as the process runs.
// Plain C++ without windows.h, so that it also builds natively.
#pragma once

#include <stdint.h>

// Queries that can be running at once in the whole program.
constexpr uint32_t kCallbackSlots = 4096;

// The value a client gets as its callback context; never zero.
using CallbackToken = uintptr_t;

// Ties a free slot to target; false when every slot is taken.
bool AttachCallbackSlot(void* target, CallbackToken* token);

// Unties the slot: callbacks entering from now on find nothing. Returns once
// no callback of the slot runs, except one on the calling thread (a callback
// may stop its own query); the slot is taken again only after that one has
// left too. A stale token does nothing.
void DetachCallbackSlot(CallbackToken token);

// The slot's target, or null when the token is stale (or not one of ours).
// Callbacks of one slot run one at a time: this waits while another thread's
// callback of the slot runs. Every non-null result is paired with
// LeaveCallbackSlot(token).
void* EnterCallbackSlot(CallbackToken token);
void LeaveCallbackSlot(CallbackToken token);

// Slots tied to a target or with a callback still inside (tests).
uint32_t CallbackSlotsInUse();
