// The page heap of the test builds (page_heap.cpp) catches what it is there
// for: an overrun faults at once or, inside the alignment slack, at the free;
// a use after free faults; a double free is reported at the second free. It
// leaves the C runtime's own blocks to the C runtime, keeps a block's
// contents across realloc, and serves several threads at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <thread>
#include <vector>

#include "support/page_heap.h"

// The faults below are on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuse-after-free"
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
#endif

namespace {

// Passes a pointer through a volatile, so that the compiler neither warns
// about nor drops the faulty accesses under test.
template <typename T>
T* Hide(T* p)
{
    T* volatile copy = p;
    return copy;
}

void Write(char* p)
{
    *static_cast<volatile char*>(Hide(p)) = 1;
}

char Read(const char* p)
{
    return *static_cast<const volatile char*>(Hide(p));
}

TEST(PageHeapDeathTest, FaultsAreCaughtWhereTheyHappen)
{
    EXPECT_DEATH(
        {
            char* block = static_cast<char*>(malloc(32));
            Write(block + 32);
        },
        "page heap: write to 0x.*, past the end of block 0x.* of 32 bytes");
    EXPECT_DEATH(
        {
            char* block = static_cast<char*>(malloc(13));
            Write(block + 13);
            Write(block + 14);
            free(block);
        },
        "page heap: write past the end of block 0x.* found at free, bytes past its end: 1");
    EXPECT_DEATH(
        {
            char* block = static_cast<char*>(malloc(100));
            free(block);
            Read(Hide(block) + 50);
        },
        "page heap: read of 0x.*, inside freed block 0x.* of 100 bytes");
    EXPECT_DEATH(
        {
            int* value = new int(1);
            delete value;
            *static_cast<volatile int*>(Hide(value)) = 2;
        },
        "page heap: write to 0x.*, inside freed block 0x.* of 4 bytes");
    EXPECT_DEATH(
        {
            void* block = malloc(8);
            free(block);
            free(Hide(block));
        },
        "page heap: free of 0x.*: the block was freed before; its size: 8");
    EXPECT_DEATH(
        {
            char* block = static_cast<char*>(malloc(64));
            free(Hide(block) + 16);
        },
        "page heap: free of 0x.*: this address starts no block of ours");
}

#if defined(__MINGW32__)
// The C runtime's strdup allocates inside the runtime: its free must reach
// the runtime's heap, while malloc's blocks are ours.
TEST(PageHeap, ForeignBlocksGoToTheRuntime)
{
    void* ours = Hide(malloc(1));
    EXPECT_TRUE(PageHeapOwns(ours));
    free(ours);
    char* foreign = _strdup("text");
    ASSERT_NE(nullptr, foreign);
    EXPECT_FALSE(PageHeapOwns(foreign));
    free(foreign);
    void* grown = realloc(_strdup("x"), 4000);
    ASSERT_NE(nullptr, grown);
    EXPECT_FALSE(PageHeapOwns(grown));
    free(grown);
}
#endif

TEST(PageHeap, ReallocKeepsContentsAndAlignmentHolds)
{
    char* block = static_cast<char*>(malloc(100));
    ASSERT_NE(nullptr, block);
    for (int i = 0; i < 100; ++i) {
        block[i] = static_cast<char>(i);
    }
    for (size_t size : {size_t(5000), size_t(40)}) {
        block = static_cast<char*>(realloc(block, size));
        ASSERT_NE(nullptr, block);
        for (int i = 0; i < 40; ++i) {
            ASSERT_EQ(static_cast<char>(i), block[i]) << size;
        }
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 16);
    }
    free(block);
    struct alignas(256) Wide {
        char bytes[300];
    };
    Wide* wide = new Wide;
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(wide) % 256);
    delete wide;
}

// Blocks of several threads at once stay whole and apart.
TEST(PageHeap, ThreadsAllocateAtOnce)
{
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            std::vector<unsigned char*> blocks;
            for (int round = 0; round < 2000; ++round) {
                size_t size = 1 + static_cast<size_t>(round % 300);
                unsigned char* block = static_cast<unsigned char*>(malloc(size));
                memset(block, t, size);
                blocks.push_back(block);
                if (blocks.size() > 50) {
                    unsigned char* oldest = blocks.front();
                    failures[t] += oldest[0] != t;
                    free(oldest);
                    blocks.erase(blocks.begin());
                }
            }
            for (unsigned char* block : blocks) {
                failures[t] += block[0] != t;
                free(block);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::vector<int>(4, 0), failures);
}

}  // namespace
