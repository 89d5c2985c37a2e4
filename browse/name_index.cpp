// The fixed-capacity name set: slots chained from hash buckets for lookups
// and linked oldest to newest for eviction; free slots form a list of their
// own. Every operation but Init and Release is O(1) plus one bucket chain.
#include "browse/name_index.h"

#include <stdlib.h>
#include <string.h>

namespace {

size_t CutLength(const wchar_t* name, uint32_t maxChars)
{
    size_t length = 0;
    while (length < maxChars && name[length] != L'\0') {
        ++length;
    }
    return length;
}

// Only ASCII letters fold: DNS leaves every other character as it is.
wchar_t FoldCase(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

// Names that differ only in case hash alike, so they meet in one bucket.
uint32_t HashName(const wchar_t* name, size_t length, uint32_t tag)
{
    uint32_t hash = 2166136261u ^ tag;
    for (size_t i = 0; i < length; ++i) {
        hash = (hash ^ uint32_t(FoldCase(name[i]) & 0xFFFF)) * 16777619u;
    }
    return hash;
}

bool SameName(const NameIndexSlot& slot, const wchar_t* name, size_t length, uint32_t tag)
{
    if (slot.tag != tag) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (FoldCase(slot.name[i]) != FoldCase(name[i])) {
            return false;  // also where the stored name ends first
        }
    }
    return slot.name[length] == L'\0';
}

void Unchain(NameIndex* index, int32_t slot)
{
    int32_t* link = &index->buckets[index->slots[slot].hash % index->bucketCount];
    while (*link != -1) {
        if (*link == slot) {
            *link = index->slots[slot].nextInBucket;
            return;
        }
        link = &index->slots[*link].nextInBucket;
    }
}

void UnlinkAge(NameIndex* index, int32_t slot)
{
    NameIndexSlot& held = index->slots[slot];
    if (held.older != -1) {
        index->slots[held.older].newer = held.newer;
    } else {
        index->oldest = held.newer;
    }
    if (held.newer != -1) {
        index->slots[held.newer].older = held.older;
    } else {
        index->newest = held.older;
    }
}

}  // namespace

bool InitNameIndex(NameIndex* index, uint32_t capacity, uint32_t maxNameChars)
{
    memset(index, 0, sizeof(*index));
    index->oldest = index->newest = index->freeSlots = -1;
    if (capacity == 0 || capacity > 0x3FFFFFFF) {
        return false;
    }
    NameIndexSlot* slots = static_cast<NameIndexSlot*>(calloc(capacity, sizeof(NameIndexSlot)));
    int32_t* buckets = static_cast<int32_t*>(malloc(size_t(capacity) * 2 * sizeof(int32_t)));
    if (slots == nullptr || buckets == nullptr) {
        free(slots);
        free(buckets);
        return false;
    }
    index->slots = slots;
    index->buckets = buckets;
    index->capacity = capacity;
    index->bucketCount = capacity * 2;
    index->maxNameChars = maxNameChars;
    for (uint32_t i = 0; i < index->bucketCount; ++i) {
        buckets[i] = -1;
    }
    for (uint32_t i = capacity; i-- > 0;) {
        slots[i].nextInBucket = index->freeSlots;
        index->freeSlots = int32_t(i);
    }
    return true;
}

void ReleaseNameIndex(NameIndex* index)
{
    for (uint32_t i = 0; i < index->capacity; ++i) {
        free(index->slots[i].name);
    }
    free(index->slots);
    free(index->buckets);
    memset(index, 0, sizeof(*index));
    index->oldest = index->newest = index->freeSlots = -1;
}

int32_t FindName(const NameIndex* index, const wchar_t* name, uint32_t tag)
{
    if (index->capacity == 0 || name == nullptr) {
        return -1;
    }
    size_t length = CutLength(name, index->maxNameChars);
    uint32_t hash = HashName(name, length, tag);
    for (int32_t slot = index->buckets[hash % index->bucketCount]; slot != -1;
         slot = index->slots[slot].nextInBucket) {
        if (index->slots[slot].hash == hash && SameName(index->slots[slot], name, length, tag)) {
            return slot;
        }
    }
    return -1;
}

int32_t AddName(NameIndex* index, const wchar_t* name, uint32_t tag, int32_t* evicted)
{
    *evicted = -1;
    int32_t found = FindName(index, name, tag);
    if (found != -1 || index->capacity == 0 || name == nullptr) {
        return found;
    }
    size_t length = CutLength(name, index->maxNameChars);
    wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) {
        return -1;
    }
    memcpy(copy, name, length * sizeof(wchar_t));
    copy[length] = L'\0';

    if (index->freeSlots == -1) {
        *evicted = index->oldest;
        RemoveName(index, index->oldest);
    }
    int32_t slot = index->freeSlots;
    NameIndexSlot& held = index->slots[slot];
    index->freeSlots = held.nextInBucket;
    held.name = copy;
    held.tag = tag;
    held.hash = HashName(copy, length, tag);
    int32_t* head = &index->buckets[held.hash % index->bucketCount];
    held.nextInBucket = *head;
    *head = slot;
    held.older = index->newest;
    held.newer = -1;
    if (index->newest != -1) {
        index->slots[index->newest].newer = slot;
    } else {
        index->oldest = slot;
    }
    index->newest = slot;
    ++index->count;
    return slot;
}

void RemoveName(NameIndex* index, int32_t slot)
{
    if (slot < 0 || uint32_t(slot) >= index->capacity || index->slots[slot].name == nullptr) {
        return;
    }
    Unchain(index, slot);
    UnlinkAge(index, slot);
    NameIndexSlot& held = index->slots[slot];
    free(held.name);
    held.name = nullptr;
    held.nextInBucket = index->freeSlots;
    index->freeSlots = slot;
    --index->count;
}

const wchar_t* NewestName(const NameIndex* index)
{
    return index->newest != -1 ? index->slots[index->newest].name : nullptr;
}

bool SameDnsName(const wchar_t* a, const wchar_t* b, size_t maxChars)
{
    if (a == nullptr || b == nullptr) {
        return false;
    }
    for (size_t i = 0; i < maxChars; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
        if (a[i] == L'\0') {
            return true;
        }
    }
    return true;
}
