// Bytes in use in the process heap, for tests that a record given up on
// really goes back to it.
#pragma once

#include <windows.h>
#include <string.h>

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
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            total += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return total;
}
