// A fixed-capacity set of names that network answers fill: hosts a browse
// has let through, hosts already reported. Lookups hash the name, so a long
// set costs no scan; when the set is full the oldest name gives way, so a
// flood of invented names can never keep a real device out for good. Names
// compare as DNS names do: without regard to ASCII letter case.
// Portable: no Windows headers.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

struct NameIndexSlot {
    wchar_t* name;  // malloc'd; null while the slot is free
    uint32_t tag;   // a second key, such as an address; 0 when unused
    uint32_t hash;
    int32_t nextInBucket;  // the bucket's chain, or for a free slot the free list; -1 ends
    int32_t older;         // age order among held slots; -1 ends
    int32_t newer;
};

struct NameIndex {
    NameIndexSlot* slots;
    int32_t* buckets;  // bucketCount heads of slot chains, -1 when empty
    uint32_t capacity;
    uint32_t bucketCount;
    uint32_t count;
    int32_t oldest;
    int32_t newest;
    int32_t freeSlots;
    uint32_t maxNameChars;  // longer names are cut before they are stored or compared
};

// False when memory runs out; the index is then empty and every Add fails.
bool InitNameIndex(NameIndex* index, uint32_t capacity, uint32_t maxNameChars);
void ReleaseNameIndex(NameIndex* index);

// The slot holding (name, tag), or -1.
int32_t FindName(const NameIndex* index, const wchar_t* name, uint32_t tag);

// Stores (name, tag) unless it is there already; returns its slot, or -1
// when memory runs out. When the set is full the oldest name is removed
// first and its slot given to *evicted (else -1), so that the caller can
// release what it keeps beside that slot.
int32_t AddName(NameIndex* index, const wchar_t* name, uint32_t tag, int32_t* evicted);

// Removes the name in that slot.
void RemoveName(NameIndex* index, int32_t slot);

// The name most recently added and still held, or null.
const wchar_t* NewestName(const NameIndex* index);

// Two DNS names are the same when they differ at most in the letter case of
// ASCII letters; both are cut to maxChars first, as stored names are. Null
// equals nothing.
bool SameDnsName(const wchar_t* a, const wchar_t* b, size_t maxChars);
