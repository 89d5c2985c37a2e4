// The table of callback slots (callback_slots.h). One lock guards it all:
// entering and leaving are a few instructions each, and a stop waits on the
// same condition as the callbacks queued behind a running one.
#include "browse/callback_slots.h"

#include <new>

#include "core/sync.h"

namespace {

constexpr uint32_t kIndexBits = 12;
static_assert((uint32_t(1) << kIndexBits) == kCallbackSlots, "the index fills the token's low bits");
constexpr CallbackToken kIndexMask = kCallbackSlots - 1;
// The generation fills the rest of the token. Slots are taken in turn, so
// even with 32-bit tokens a stale token could only match again after some
// four billion queries, all started while its callback was still on its way.
constexpr CallbackToken kLastGeneration = ~CallbackToken(0) >> kIndexBits;

struct Slot {
    void* target = nullptr;        // null: free, or untied with a callback still inside
    CallbackToken generation = 0;  // 0 only before first use
    uint32_t depth = 0;            // callbacks inside, all on `thread` (nested there)
    uint64_t thread = 0;
};

struct SlotTable {
    SyncLock lock;
    SyncCondition changed;  // a callback left, or a slot was untied
    Slot slots[kCallbackSlots];
    uint32_t next = 0;  // where the search for a free slot starts
};

// Made on first use and never destroyed: a client may still call back while
// the process ends.
SlotTable& Table()
{
    alignas(SlotTable) static unsigned char storage[sizeof(SlotTable)];
    static SlotTable* table = new (storage) SlotTable();
    return *table;
}

uint32_t IndexOf(CallbackToken token)
{
    return uint32_t(token & kIndexMask);
}

CallbackToken GenerationOf(CallbackToken token)
{
    return token >> kIndexBits;
}

}  // namespace

bool AttachCallbackSlot(void* target, CallbackToken* token)
{
    *token = 0;
    if (target == nullptr) {
        return false;
    }
    SlotTable& table = Table();
    SyncGuard hold(table.lock);
    for (uint32_t i = 0; i < kCallbackSlots; ++i) {
        uint32_t index = (table.next + i) % kCallbackSlots;
        Slot& slot = table.slots[index];
        if (slot.target != nullptr || slot.depth != 0) {
            continue;
        }
        slot.generation = slot.generation == 0 ? 1 : slot.generation;
        slot.target = target;
        // Taking slots in turn keeps a stale token's slot unused for as long
        // as possible.
        table.next = (index + 1) % kCallbackSlots;
        *token = (slot.generation << kIndexBits) | index;
        return true;
    }
    return false;
}

void DetachCallbackSlot(CallbackToken token)
{
    SlotTable& table = Table();
    Slot& slot = table.slots[IndexOf(token)];
    const uint64_t self = CurrentThreadKey();
    SyncGuard hold(table.lock);
    if (slot.target == nullptr || slot.generation != GenerationOf(token)) {
        return;
    }
    slot.target = nullptr;
    slot.generation = slot.generation == kLastGeneration ? 1 : slot.generation + 1;
    table.changed.WakeAll();  // callbacks queued behind a running one now find the slot stale
    // Once the slot is taken again, nothing of ours is inside any more.
    while (slot.depth != 0 && slot.thread != self && slot.target == nullptr) {
        table.changed.Wait(table.lock);
    }
}

void* EnterCallbackSlot(CallbackToken token)
{
    SlotTable& table = Table();
    Slot& slot = table.slots[IndexOf(token)];
    const uint64_t self = CurrentThreadKey();
    SyncGuard hold(table.lock);
    for (;;) {
        if (slot.target == nullptr || slot.generation != GenerationOf(token)) {
            return nullptr;
        }
        if (slot.depth == 0 || slot.thread == self) {
            break;
        }
        table.changed.Wait(table.lock);
    }
    ++slot.depth;
    slot.thread = self;
    return slot.target;
}

void LeaveCallbackSlot(CallbackToken token)
{
    SlotTable& table = Table();
    Slot& slot = table.slots[IndexOf(token)];
    SyncGuard hold(table.lock);
    if (slot.depth == 0) {
        return;
    }
    if (--slot.depth == 0) {
        slot.thread = 0;
        table.changed.WakeAll();
    }
}

uint32_t CallbackSlotsInUse()
{
    SlotTable& table = Table();
    SyncGuard hold(table.lock);
    uint32_t count = 0;
    for (const Slot& slot : table.slots) {
        count += slot.target != nullptr || slot.depth != 0 ? 1 : 0;
    }
    return count;
}
