// The per-interface counters and the event sink. The table is a fixed
// array of slots, each claimed by compare-exchange on its address, so a
// worker never waits for another to count. A Reset during a bump may lose
// that bump or leave it in a freed slot: the counts are advisory, and no
// index ever leaves the table.
#include "core/diagnostics.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

namespace diag {

namespace {

struct Slot {
    std::atomic<uint32_t> address;  // 0: free
    std::atomic<uint32_t> counts[kCounterCount];
    std::atomic<uint32_t> lastSendError;
    std::atomic<int32_t> mdnsClient;
};

Slot g_slots[kMaxInterfaces];
std::atomic<EventSink> g_sink{nullptr};

// Long enough for an instance name and two dotted quads.
constexpr int kEventLineChars = 512;

// The slot of this interface, claimed when it has none; null for the
// address 0 (no interface) and when every slot holds another interface.
// Slots are claimed in order and freed together, so the first free slot
// ends the search.
Slot* SlotOf(uint32_t address)
{
    if (address == 0) {
        return nullptr;
    }
    for (Slot& slot : g_slots) {
        uint32_t held = slot.address.load(std::memory_order_acquire);
        if (held == 0) {
            uint32_t expected = 0;
            if (slot.address.compare_exchange_strong(expected, address, std::memory_order_acq_rel)) {
                return &slot;
            }
            held = expected;  // another thread claimed it first
        }
        if (held == address) {
            return &slot;
        }
    }
    return nullptr;
}

}  // namespace

void Count(uint32_t interfaceAddress, Counter counter, uint32_t amount)
{
    Slot* slot = SlotOf(interfaceAddress);
    if (slot != nullptr && counter >= 0 && counter < kCounterCount) {
        slot->counts[counter].fetch_add(amount, std::memory_order_relaxed);
    }
}

void NoteSendError(uint32_t interfaceAddress, DWORD error)
{
    Slot* slot = SlotOf(interfaceAddress);
    if (slot != nullptr) {
        slot->lastSendError.store(static_cast<uint32_t>(error), std::memory_order_relaxed);
    }
}

void NoteMdnsClient(uint32_t interfaceAddress, MdnsClient client)
{
    Slot* slot = SlotOf(interfaceAddress);
    if (slot != nullptr) {
        slot->mdnsClient.store(client, std::memory_order_relaxed);
    }
}

void Reset()
{
    for (Slot& slot : g_slots) {
        for (std::atomic<uint32_t>& count : slot.counts) {
            count.store(0, std::memory_order_relaxed);
        }
        slot.lastSendError.store(0, std::memory_order_relaxed);
        slot.mdnsClient.store(kMdnsClientUnknown, std::memory_order_relaxed);
        slot.address.store(0, std::memory_order_release);
    }
}

int Snapshot(InterfaceCounts* out, int capacity)
{
    int copied = 0;
    for (const Slot& slot : g_slots) {
        if (copied >= capacity) {
            break;
        }
        uint32_t address = slot.address.load(std::memory_order_acquire);
        if (address == 0) {
            continue;
        }
        InterfaceCounts& counts = out[copied++];
        counts.address = address;
        for (int i = 0; i < kCounterCount; ++i) {
            counts.counts[i] = slot.counts[i].load(std::memory_order_relaxed);
        }
        counts.lastSendError = slot.lastSendError.load(std::memory_order_relaxed);
        counts.mdnsClient = slot.mdnsClient.load(std::memory_order_relaxed);
    }
    return copied;
}

void SetEventSink(EventSink sink)
{
    g_sink.store(sink, std::memory_order_release);
}

bool EventsWanted()
{
    return g_sink.load(std::memory_order_relaxed) != nullptr;
}

void Event(const wchar_t* format, ...)
{
    EventSink sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr || format == nullptr) {
        return;
    }
    wchar_t line[kEventLineChars];
    va_list arguments;
    va_start(arguments, format);
    // A line cut short is still a line: the last character stays the terminator.
    int written = _vsnwprintf(line, kEventLineChars - 1, format, arguments);
    va_end(arguments);
    line[kEventLineChars - 1] = L'\0';
    if (written >= 0 && written < kEventLineChars - 1) {
        line[written] = L'\0';
    }
    sink(line);
}

}  // namespace diag
