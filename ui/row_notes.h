// What a device row remembers beyond its stored record and its list item:
// when its device last answered by broadcast (the row prefers those texts to
// the multicast DNS ones while such an answer is current), when it last
// earned each reach on some interface of the PC, and when another
// device last claimed the row's address from a row listed under another
// address (the row stays a conflict while that claim is current). A note is
// current for the expiry span after its tick. Kept beside the list, keyed by
// the row's stored record, with room for every row the list may hold.
// Window thread only.
#pragma once

#include <windows.h>

struct DeviceRecord;

// Drops the notes of stored: its row has gone, or a new row's record sits
// where an earlier one did in memory, whose notes do not apply to it.
void ForgetRowNotes(const DeviceRecord* stored);

void NoteBroadcastAnswer(const DeviceRecord* stored, DWORD at);
void NoteAddressClaimed(const DeviceRecord* stored, DWORD at);

// A device heard on several interfaces of the PC earns a reach on each (in
// the subnet, link-local, other subnet); its row shows the best one that is
// current, so that answers arriving by turns do not change its colour.
void NoteReach(const DeviceRecord* stored, int state, DWORD at);
// The best current reach noted for stored, never worse than fallback.
int BestCurrentReach(const DeviceRecord* stored, DWORD now, int fallback);

// Whether a broadcast answer, or a claim by another device, was noted for
// stored less than the expiry span before now (or after it: answers from
// several workers arrive a little out of order).
bool BroadcastAnswerCurrent(const DeviceRecord* stored, DWORD now);
bool AddressClaimCurrent(const DeviceRecord* stored, DWORD now);
