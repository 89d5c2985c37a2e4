// A page heap for the Windows test builds (unit-test executables and the
// heap-checked program the end-to-end tests run): every block that malloc,
// calloc, realloc or any form of operator new hands out gets pages of its own
// inside one reserved address range, ends just before a page that is never
// committed, and is decommitted when freed; freed ranges wait in a bounded
// quarantine before they are handed out again. So an overrun past the end of
// a block and a read or write after free fault at the faulty instruction,
// and a double free, a free of a pointer that starts no block, and a small
// overrun into the alignment slack behind a block are caught at the free.
// Each is reported on stderr, prefixed "page heap:", with a backtrace, and
// ends the process. Frees of blocks the C runtime allocated itself (strdup)
// pass through to its free. MinGW links callers of malloc and friends here
// with -Wl,--wrap (see tests/CMakeLists.txt); other compilers get only the
// operator new and delete replacements. Never linked into the shipped program.
#include <windows.h>

#include <new>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "support/page_heap.h"

#if defined(__MINGW32__)
extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_realloc(void* block, size_t size);
extern "C" void __real_free(void* block);
#define NDT_REAL_MALLOC __real_malloc
#define NDT_REAL_REALLOC __real_realloc
#define NDT_REAL_FREE __real_free
#else
#define NDT_REAL_MALLOC malloc
#define NDT_REAL_REALLOC realloc
#define NDT_REAL_FREE free
#endif

namespace {

const size_t kPage = 4096;
// 32 GB of address space: live blocks plus the quarantine never come near it
// in a test; if they did, allocations would fall back to the C runtime.
const uint32_t kArenaPages = 8u * 1024 * 1024;
// A freed range stays inaccessible for the next 16384 frees or 8 GB of freed
// address space, whichever ends first. Decommitted, it costs no memory.
const uint32_t kQuarantineBlocks = 16384;
const uint64_t kQuarantinePages = 2u * 1024 * 1024;
// Under Wine each live block costs the process two memory mappings (its
// pages and the guard page behind them), and Linux allows about 65000: past
// this many live blocks, new ones come from the C runtime, unguarded, so that
// threads can still get their stacks.
const uint32_t kMaxLiveBlocks = 20000;
// Slots of up to this many pages are kept by exact size; larger ones are
// rounded up to a power of two.
const uint32_t kExactClasses = 64;
const uint32_t kClasses = kExactClasses + 32;
const unsigned char kFill = 0xFD;
const DWORD kStatusHeapCorruption = 0xC0000374;

enum BlockState : uint8_t { kNone = 0, kLive, kQuarantined, kFree };

// One per page of the arena. A block's record sits on the page where the
// block starts; a free slot's on the slot's first page.
struct PageRecord {
    uint8_t state;
    uint8_t alignShift;
    uint16_t unused;
    uint32_t size;       // live or quarantined: bytes asked for; free: next free slot + 1
    uint32_t slotPages;  // guard page included
    uint32_t lead;       // pages from the slot's first page to this record's page
};

struct Heap {
    SRWLOCK lock;
    char* base;
    PageRecord* records;
    bool initFailed;
    uint32_t bump;
    uint32_t liveBlocks;
    uint32_t freeHeads[kClasses];  // slot index + 1, 0: empty
    uint32_t quarantine[kQuarantineBlocks];
    uint32_t quarantineFirst;
    uint32_t quarantineCount;
    uint64_t quarantinePages;
};

// Zero-initialised: usable before any constructor runs (the C runtime's
// start-up allocates).
Heap g_heap;
char* volatile g_arenaBase;

// ---- reports -------------------------------------------------------------

struct Text {
    char buffer[4096];
    size_t length;
};

void Put(Text* text, const char* s)
{
    while (*s && text->length + 1 < sizeof(text->buffer)) {
        text->buffer[text->length++] = *s++;
    }
}

void PutNumber(Text* text, uint64_t value, unsigned radix)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % radix];
        value /= radix;
    } while (value && count < 24);
    if (radix == 16) {
        Put(text, "0x");
    }
    char one[2] = {0, 0};
    while (count > 0) {
        one[0] = digits[--count];
        Put(text, one);
    }
}

void PutAddress(Text* text, uintptr_t address)
{
    HMODULE module = nullptr;
    char path[MAX_PATH];
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &module) &&
        GetModuleFileNameA(module, path, MAX_PATH) > 0) {
        path[MAX_PATH - 1] = 0;
        const char* name = path;
        for (const char* c = path; *c; ++c) {
            if (*c == '\\' || *c == '/') {
                name = c + 1;
            }
        }
        Put(text, name);
        Put(text, "+");
        PutNumber(text, address - reinterpret_cast<uintptr_t>(module), 16);
        Put(text, " (");
        PutNumber(text, address, 16);
        Put(text, ")");
    } else {
        PutNumber(text, address, 16);
    }
}

// The frames from the given context outwards, by the unwind tables, as
// module+offset; tests/support/symbolize.py names them.
void PutBacktrace(Text* text, CONTEXT context)
{
#if defined(_M_X64) || defined(__x86_64__)
    for (int frame = 0; frame < 24 && context.Rip; ++frame) {
        Put(text, "page heap:   #");
        PutNumber(text, static_cast<uint64_t>(frame), 10);
        Put(text, " ");
        PutAddress(text, static_cast<uintptr_t>(context.Rip));
        Put(text, "\n");
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (!function) {
            // A leaf function: the return address is on top of the stack.
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
            continue;
        }
        void* handlerData = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                         &establisher, nullptr);
    }
    Put(text, "page heap: (function names: tests/support/symbolize.py EXE < this output)\n");
#else
    (void)context;
    Put(text, "page heap:   (no backtrace on this architecture)\n");
#endif
}

[[noreturn]] void Die(Text* text, const CONTEXT& context, DWORD status)
{
    PutBacktrace(text, context);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text->buffer, static_cast<DWORD>(text->length), &written, nullptr);
    TerminateProcess(GetCurrentProcess(), status);
    for (;;) {
        Sleep(INFINITE);
    }
}

// Reports a fault found in a call into the heap, with the caller's frames.
[[noreturn]] void ReportAtCall(const char* what, const void* block, const char* detail, uint64_t number)
{
    static Text text;
    text.length = 0;
    Put(&text, "page heap: ");
    Put(&text, what);
    Put(&text, " ");
    PutNumber(&text, reinterpret_cast<uintptr_t>(block), 16);
    if (detail) {
        Put(&text, detail);
        PutNumber(&text, number, 10);
    }
    Put(&text, "\n");
    CONTEXT context;
    RtlCaptureContext(&context);
    Die(&text, context, kStatusHeapCorruption);
}

// ---- the arena -------------------------------------------------------------

size_t PageIndexOf(const void* p)
{
    return static_cast<size_t>(static_cast<const char*>(p) - g_heap.base) / kPage;
}

char* PageAt(size_t index)
{
    return g_heap.base + index * kPage;
}

uint32_t ClassOf(uint32_t pages)
{
    if (pages <= kExactClasses) {
        return pages - 1;
    }
    uint32_t shift = 0;
    while ((uint64_t(1) << shift) < pages) {
        ++shift;
    }
    return kExactClasses + shift;
}

// Where the block of a record starts: at the end of the slot's last data
// page, aligned down.
char* BlockStart(size_t recordIndex, const PageRecord& record)
{
    size_t slot = recordIndex - record.lead;
    char* end = PageAt(slot + record.slotPages - 1);
    size_t size = record.size ? record.size : 1;
    uintptr_t start = reinterpret_cast<uintptr_t>(end - size);
    return reinterpret_cast<char*>(start & ~((uintptr_t(1) << record.alignShift) - 1));
}

char* SlotEnd(size_t recordIndex, const PageRecord& record)
{
    return PageAt(recordIndex - record.lead + record.slotPages - 1);
}

bool InitLocked()
{
    if (g_heap.base || g_heap.initFailed) {
        return g_heap.base != nullptr;
    }
    void* base = VirtualAlloc(nullptr, size_t(kArenaPages) * kPage, MEM_RESERVE, PAGE_NOACCESS);
    void* records = VirtualAlloc(nullptr, size_t(kArenaPages) * sizeof(PageRecord), MEM_RESERVE | MEM_COMMIT,
                                 PAGE_READWRITE);
    if (!base || !records) {
        g_heap.initFailed = true;
        return false;
    }
    g_heap.records = static_cast<PageRecord*>(records);
    g_heap.base = static_cast<char*>(base);
    g_arenaBase = g_heap.base;
    AddVectoredExceptionHandler(1, PageHeapFaultHandler);
    return true;
}

// A slot of at least `pages` pages; kArenaPages when none is left.
uint32_t TakeSlotLocked(uint32_t pages, uint32_t* slotPages)
{
    uint32_t cls = ClassOf(pages);
    uint32_t want = cls < kExactClasses ? pages : uint32_t(1) << (cls - kExactClasses);
    uint32_t head = g_heap.freeHeads[cls];
    if (head) {
        uint32_t slot = head - 1;
        PageRecord& record = g_heap.records[slot];
        g_heap.freeHeads[cls] = record.size;
        *slotPages = record.slotPages;
        record = PageRecord();
        return slot;
    }
    if (want > kArenaPages - g_heap.bump) {
        return kArenaPages;
    }
    uint32_t slot = g_heap.bump;
    g_heap.bump += want;
    *slotPages = want;
    return slot;
}

void PutSlotLocked(uint32_t slot, uint32_t slotPages)
{
    uint32_t cls = ClassOf(slotPages);
    PageRecord& record = g_heap.records[slot];
    record = PageRecord();
    record.state = kFree;
    record.slotPages = slotPages;
    record.size = g_heap.freeHeads[cls];
    g_heap.freeHeads[cls] = slot + 1;
}

void QuarantineLocked(size_t recordIndex)
{
    PageRecord& record = g_heap.records[recordIndex];
    record.state = kQuarantined;
    g_heap.quarantine[(g_heap.quarantineFirst + g_heap.quarantineCount) % kQuarantineBlocks] =
        static_cast<uint32_t>(recordIndex);
    ++g_heap.quarantineCount;
    g_heap.quarantinePages += record.slotPages;
    while (g_heap.quarantineCount >= kQuarantineBlocks || g_heap.quarantinePages > kQuarantinePages) {
        uint32_t oldest = g_heap.quarantine[g_heap.quarantineFirst];
        g_heap.quarantineFirst = (g_heap.quarantineFirst + 1) % kQuarantineBlocks;
        --g_heap.quarantineCount;
        PageRecord released = g_heap.records[oldest];
        g_heap.quarantinePages -= released.slotPages;
        g_heap.records[oldest] = PageRecord();
        PutSlotLocked(oldest - released.lead, released.slotPages);
    }
}

bool Owns(const void* p)
{
    const char* base = g_arenaBase;
    const char* c = static_cast<const char*>(p);
    return base && c >= base && c < base + size_t(kArenaPages) * kPage;
}

// The live block starting at p, or a report naming what p is instead.
size_t LiveRecordOrDie(const char* call, void* p)
{
    size_t index = PageIndexOf(p);
    PageRecord record = g_heap.records[index];
    if (record.state == kLive && BlockStart(index, record) == p) {
        return index;
    }
    ReleaseSRWLockExclusive(&g_heap.lock);
    if (record.state == kQuarantined && BlockStart(index, record) == p) {
        ReportAtCall(call, p, ": the block was freed before; its size: ", record.size);
    }
    ReportAtCall(call, p, ": this address starts no block of ours", 0);
}

uint32_t AlignShift(size_t alignment)
{
    uint32_t shift = 4;
    while ((size_t(1) << shift) < alignment) {
        ++shift;
    }
    return shift;
}

}  // namespace

// ---- the allocator ---------------------------------------------------------

void* PageHeapAllocate(size_t size, size_t alignment)
{
    uint32_t shift = AlignShift(alignment);
    if (size > 0xFFFF0000u || shift > 20) {
        return nullptr;
    }
    size_t align = size_t(1) << shift;
    size_t used = size ? size : 1;
    size_t span = align <= kPage ? (used + align - 1) & ~(align - 1) : used + align;
    uint32_t pages = static_cast<uint32_t>((span + kPage - 1) / kPage) + 1;

    AcquireSRWLockExclusive(&g_heap.lock);
    if (!InitLocked()) {
        ReleaseSRWLockExclusive(&g_heap.lock);
        return nullptr;
    }
    uint32_t slotPages = 0;
    uint32_t slot = g_heap.liveBlocks < kMaxLiveBlocks ? TakeSlotLocked(pages, &slotPages) : kArenaPages;
    if (slot == kArenaPages) {
        ReleaseSRWLockExclusive(&g_heap.lock);
        return nullptr;
    }
    ++g_heap.liveBlocks;
    char* end = PageAt(size_t(slot) + slotPages - 1);
    char* block = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(end - used) & ~(uintptr_t(align) - 1));
    size_t index = PageIndexOf(block);
    PageRecord& record = g_heap.records[index];
    record.state = kLive;
    record.alignShift = static_cast<uint8_t>(shift);
    record.size = static_cast<uint32_t>(size);
    record.slotPages = slotPages;
    record.lead = static_cast<uint32_t>(index - slot);
    ReleaseSRWLockExclusive(&g_heap.lock);

    char* first = PageAt(index);
    if (!VirtualAlloc(first, size_t(end - first), MEM_COMMIT, PAGE_READWRITE)) {
        AcquireSRWLockExclusive(&g_heap.lock);
        g_heap.records[index] = PageRecord();
        PutSlotLocked(slot, slotPages);
        --g_heap.liveBlocks;
        ReleaseSRWLockExclusive(&g_heap.lock);
        return nullptr;
    }
    memset(block + size, kFill, size_t(end - block) - size);
    return block;
}

void PageHeapFree(void* p)
{
    if (!p) {
        return;
    }
    if (!Owns(p)) {
        NDT_REAL_FREE(p);
        return;
    }
    AcquireSRWLockExclusive(&g_heap.lock);
    size_t index = LiveRecordOrDie("free of", p);
    // Taken out of the live state at once, so that a second free of it in
    // another thread is reported as such.
    g_heap.records[index].state = kQuarantined;
    PageRecord record = g_heap.records[index];
    --g_heap.liveBlocks;
    ReleaseSRWLockExclusive(&g_heap.lock);

    char* block = static_cast<char*>(p);
    char* end = SlotEnd(index, record);
    for (char* c = block + record.size; c < end; ++c) {
        if (static_cast<unsigned char>(*c) != kFill) {
            ReportAtCall("write past the end of block", p, " found at free, bytes past its end: ",
                         uint64_t(c - block) - record.size + 1);
        }
    }
    char* first = PageAt(index);
    VirtualFree(first, size_t(end - first), MEM_DECOMMIT);

    AcquireSRWLockExclusive(&g_heap.lock);
    QuarantineLocked(index);
    ReleaseSRWLockExclusive(&g_heap.lock);
}

bool PageHeapOwns(const void* p)
{
    return Owns(p);
}

size_t PageHeapBlockSize(void* p)
{
    AcquireSRWLockExclusive(&g_heap.lock);
    size_t index = LiveRecordOrDie("size of", p);
    size_t size = g_heap.records[index].size;
    ReleaseSRWLockExclusive(&g_heap.lock);
    return size;
}

// Faults in the arena name the block they hit before the process ends; other
// exceptions go on to the usual handlers.
LONG CALLBACK PageHeapFaultHandler(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* exception = info->ExceptionRecord;
    if (exception->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || exception->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    char* address = reinterpret_cast<char*>(exception->ExceptionInformation[1]);
    if (!Owns(address)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static Text text;
    text.length = 0;
    Put(&text, "page heap: ");
    Put(&text, exception->ExceptionInformation[0] == 1 ? "write to " : "read of ");
    PutNumber(&text, reinterpret_cast<uintptr_t>(address), 16);
    // The block is the nearest record at or below the faulting page within
    // its slot (no lock: the process ends here).
    size_t page = PageIndexOf(address);
    const char* what = ", which belongs to no block";
    char* block = nullptr;
    size_t blockSize = 0;
    for (size_t i = page + 1; i-- > 0 && page - i < (size_t(1) << 20);) {
        const PageRecord& record = g_heap.records[i];
        if (record.state == kNone) {
            continue;
        }
        if ((record.state == kLive || record.state == kQuarantined) && address < SlotEnd(i, record) + kPage) {
            block = BlockStart(i, record);
            blockSize = record.size;
            what = record.state == kQuarantined ? ", inside freed block "
                   : address >= block + record.size ? ", past the end of block "
                                                    : ", before the start of block ";
        }
        break;
    }
    Put(&text, what);
    if (block) {
        PutNumber(&text, reinterpret_cast<uintptr_t>(block), 16);
        Put(&text, " of ");
        PutNumber(&text, blockSize, 10);
        Put(&text, " bytes");
    }
    Put(&text, "\n");
    Die(&text, *info->ContextRecord, EXCEPTION_ACCESS_VIOLATION);
}

// ---- the C runtime's entry points (MinGW: through -Wl,--wrap) -------------

#if defined(__MINGW32__)
extern "C" void* __wrap_malloc(size_t size)
{
    void* p = PageHeapAllocate(size, 16);
    return p ? p : __real_malloc(size);
}

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    if (size && count > SIZE_MAX / size) {
        return nullptr;
    }
    // Fresh commits are zero-filled.
    void* p = PageHeapAllocate(count * size, 16);
    if (!p && (p = __real_malloc(count * size)) != nullptr) {
        memset(p, 0, count * size);
    }
    return p;
}

extern "C" void __wrap_free(void* p)
{
    PageHeapFree(p);
}

// Always moves the block, so that a pointer kept across a realloc faults.
extern "C" void* __wrap_realloc(void* p, size_t size)
{
    if (!p) {
        return __wrap_malloc(size);
    }
    if (!Owns(p)) {
        return __real_realloc(p, size);
    }
    if (size == 0) {
        PageHeapFree(p);
        return nullptr;
    }
    size_t old = PageHeapBlockSize(p);
    void* moved = __wrap_malloc(size);
    if (!moved) {
        return nullptr;
    }
    memcpy(moved, p, old < size ? old : size);
    PageHeapFree(p);
    return moved;
}
#endif

// ---- operator new and delete -----------------------------------------------

namespace {

void* NewOrNull(size_t size, size_t alignment)
{
    void* p = PageHeapAllocate(size, alignment);
    if (!p && alignment <= 16) {
        p = NDT_REAL_MALLOC(size ? size : 1);
    }
    return p;
}

void* NewOrThrow(size_t size, size_t alignment)
{
    for (;;) {
        void* p = NewOrNull(size, alignment);
        if (p) {
            return p;
        }
        std::new_handler handler = std::get_new_handler();
        if (!handler) {
            throw std::bad_alloc();
        }
        handler();
    }
}

}  // namespace

void* operator new(size_t size) { return NewOrThrow(size, 16); }
void* operator new[](size_t size) { return NewOrThrow(size, 16); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return NewOrNull(size, 16); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return NewOrNull(size, 16); }
void* operator new(size_t size, std::align_val_t a) { return NewOrThrow(size, size_t(a)); }
void* operator new[](size_t size, std::align_val_t a) { return NewOrThrow(size, size_t(a)); }
void* operator new(size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return NewOrNull(size, size_t(a));
}
void* operator new[](size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return NewOrNull(size, size_t(a));
}

void operator delete(void* p) noexcept { PageHeapFree(p); }
void operator delete[](void* p) noexcept { PageHeapFree(p); }
void operator delete(void* p, size_t) noexcept { PageHeapFree(p); }
void operator delete[](void* p, size_t) noexcept { PageHeapFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { PageHeapFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { PageHeapFree(p); }
void operator delete(void* p, std::align_val_t) noexcept { PageHeapFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { PageHeapFree(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { PageHeapFree(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { PageHeapFree(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { PageHeapFree(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { PageHeapFree(p); }
