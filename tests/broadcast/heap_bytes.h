// Bytes in use in the process heap, for tests that a record given up on
// really goes back to it.
#pragma once

#include <windows.h>
#include <string.h>

// Whether a heap walk's entry is a block in use. With its heap warnings on
// (as the tests run), Wine holds the last freed blocks back from reuse,
// filled with 0xFEEEFEEE, and its walk still shows them busy.
inline bool HeapEntryInUse(const PROCESS_HEAP_ENTRY& entry)
{
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) == 0) {
        return false;
    }
    const DWORD* words = static_cast<const DWORD*>(entry.lpData);
    DWORD count = entry.cbData / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        if (words[i] != 0xFEEEFEEEu) {
            return true;
        }
    }
    return count == 0;
}

// GlobalAlloc takes device records from the process heap; 0 when the heap
// cannot be walked.
inline SIZE_T HeapBytesInUse()
{
    HANDLE heap = GetProcessHeap();
    SIZE_T total = 0;
    if (!HeapLock(heap)) {
        return 0;
    }
    PROCESS_HEAP_ENTRY entry;
    memset(&entry, 0, sizeof(entry));
    while (HeapWalk(heap, &entry)) {
        if (HeapEntryInUse(entry)) {
            total += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return total;
}
