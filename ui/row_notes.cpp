// The rows' notes, in one table sorted by record address so that each answer
// finds its row's note by a binary search. Rows leave through DeleteRow
// (device_rows.cpp), which forgets their notes; a full table keeps no new
// note, and the row then simply behaves as one without it.
#include "ui/row_notes.h"

#include <stdint.h>
#include <string.h>

#include "ui/device_list_internal.h"

namespace {

struct RowNote {
    uintptr_t key;  // the stored record's address
    DWORD broadcastAt;
    DWORD claimedAt;
    bool hasBroadcast;
    bool hasClaim;
    // When an answer last earned each reach (Normal, Link-local, Other
    // subnet) on the interface that heard it; 0 where none has.
    DWORD reachAt[3];
    bool hasReach[3];
};

struct RowNotes {
    int count;
    RowNote notes[kMaxDeviceRows];
};
RowNotes g_rowNotes = {};

uintptr_t KeyOf(const DeviceRecord* stored)
{
    return reinterpret_cast<uintptr_t>(stored);
}

// The index of key's note, or where it would go, with *found set.
int Find(uintptr_t key, bool* found)
{
    int low = 0;
    int high = g_rowNotes.count;
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (g_rowNotes.notes[middle].key < key) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    *found = low < g_rowNotes.count && g_rowNotes.notes[low].key == key;
    return low;
}

// The note of stored, made when absent; null when the table is full.
RowNote* NoteOf(const DeviceRecord* stored)
{
    bool found = false;
    int index = Find(KeyOf(stored), &found);
    if (found) {
        return &g_rowNotes.notes[index];
    }
    if (stored == nullptr || g_rowNotes.count >= kMaxDeviceRows) {
        return nullptr;
    }
    RowNote* at = &g_rowNotes.notes[index];
    memmove(at + 1, at, sizeof(RowNote) * static_cast<size_t>(g_rowNotes.count - index));
    ++g_rowNotes.count;
    *at = {};
    at->key = KeyOf(stored);
    return at;
}

const RowNote* ExistingNote(const DeviceRecord* stored)
{
    bool found = false;
    int index = Find(KeyOf(stored), &found);
    return found ? &g_rowNotes.notes[index] : nullptr;
}

// Within the span either side of now: a note a little younger than the
// answer asking counts too. Differences stay right across the counter's wrap.
bool Current(DWORD at, DWORD now)
{
    return static_cast<DWORD>(now - at) <= kDeviceExpiryMs || static_cast<DWORD>(at - now) <= kDeviceExpiryMs;
}

}  // namespace

void ForgetRowNotes(const DeviceRecord* stored)
{
    bool found = false;
    int index = Find(KeyOf(stored), &found);
    if (!found) {
        return;
    }
    RowNote* at = &g_rowNotes.notes[index];
    memmove(at, at + 1, sizeof(RowNote) * static_cast<size_t>(g_rowNotes.count - index - 1));
    --g_rowNotes.count;
}

void NoteBroadcastAnswer(const DeviceRecord* stored, DWORD at)
{
    RowNote* note = NoteOf(stored);
    if (note != nullptr) {
        note->broadcastAt = at;
        note->hasBroadcast = true;
    }
}

void NoteAddressClaimed(const DeviceRecord* stored, DWORD at)
{
    RowNote* note = NoteOf(stored);
    if (note != nullptr) {
        note->claimedAt = at;
        note->hasClaim = true;
    }
}

void NoteReach(const DeviceRecord* stored, int state, DWORD at)
{
    RowNote* note = state >= 0 && state < 3 ? NoteOf(stored) : nullptr;
    if (note != nullptr) {
        note->reachAt[state] = at;
        note->hasReach[state] = true;
    }
}

int BestCurrentReach(const DeviceRecord* stored, DWORD now, int fallback)
{
    const RowNote* note = ExistingNote(stored);
    for (int state = 0; note != nullptr && state < 3; ++state) {
        if (note->hasReach[state] && Current(note->reachAt[state], now)) {
            return state < fallback ? state : fallback;
        }
    }
    return fallback;
}

bool BroadcastAnswerCurrent(const DeviceRecord* stored, DWORD now)
{
    const RowNote* note = ExistingNote(stored);
    return note != nullptr && note->hasBroadcast && Current(note->broadcastAt, now);
}

bool AddressClaimCurrent(const DeviceRecord* stored, DWORD now)
{
    const RowNote* note = ExistingNote(stored);
    return note != nullptr && note->hasClaim && Current(note->claimedAt, now);
}
