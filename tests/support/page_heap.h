// The page heap of the Windows test builds (page_heap.cpp): the calls its
// own unit test and the heap-checked program's tests use.
#pragma once

#include <windows.h>
#include <stddef.h>

// A block of `size` bytes aligned to `alignment` (at least 16), ending just
// before an inaccessible page; null when the arena is used up.
void* PageHeapAllocate(size_t size, size_t alignment);
// Frees a block of ours into the quarantine, or hands any other pointer to
// the C runtime's free; reports and ends the process on a bad free.
void PageHeapFree(void* p);
// Whether p lies in the page heap's address range.
bool PageHeapOwns(const void* p);
// The size asked for when the live block p was allocated.
size_t PageHeapBlockSize(void* p);
// The vectored handler that names the block behind a fault in the arena.
LONG CALLBACK PageHeapFaultHandler(EXCEPTION_POINTERS* info);
