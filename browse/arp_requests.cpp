// SendARP on lookup threads of their own, with the answers kept in a fixed
// table of plain data until the asker comes back for them.
//
// Ownership: a slot belongs to its lookup thread from the start of the
// lookup until the thread has written the answer into it, and to the table
// after that; a running slot is never handed to another address. The table
// is a static that is never freed (it has no destructor), so a thread whose
// SendARP returns late, even while the process is ending, writes into live
// memory. Nobody joins a lookup thread: its handle is closed at once and it
// ends on its own; at process exit one still blocked is simply ended.
#include "browse/arp_requests.h"

#include <process.h>
#include <string.h>

#include "core/platform.h"

namespace {

// The browse asks again within 100 ms, and collects a lookup started ahead
// (PrefetchArp) once the device is resolved: an answer left this long is no
// longer wanted (or too old to trust) and its slot may serve another address.
constexpr DWORD kUncollectedMs = 500;

enum SlotState { kSlotFree, kSlotRunning, kSlotAnswered };

struct ArpSlot {
    SlotState state;
    uint32_t address;
    uint32_t source;
    DWORD status;
    unsigned char mac[6];
    DWORD answeredTick;
};

typedef DWORD(WINAPI* SendArpFunction)(IPAddr dest, IPAddr source, PVOID macAddress, PULONG length);

struct ArpTable {
    SRWLOCK lock;
    ArpSlot slots[kMaxArpLookups];
    // The SendARP that said it is not supported (Wine): it is not asked again,
    // so a burst of devices costs no thread each. Kept with the function, as
    // a test may install another.
    SendArpFunction unsupported;
};

ArpTable g_arp = {SRWLOCK_INIT, {}, nullptr};

bool Forgotten(const ArpSlot& slot, DWORD now)
{
    return slot.state == kSlotAnswered && now - slot.answeredTick > kUncollectedMs;
}

unsigned __stdcall ArpLookupThread(void* parameter)
{
    ArpSlot* slot = static_cast<ArpSlot*>(parameter);
    // Written before the thread started; nobody changes it while it runs.
    const uint32_t address = slot->address;
    const uint32_t source = slot->source;
    SendArpFunction sendArp = g_platform.sendArp;
    unsigned char buffer[8] = {};
    ULONG length = sizeof(buffer);
    DWORD status = sendArp(address, source, buffer, &length);

    AcquireSRWLockExclusive(&g_arp.lock);
    if (status == ERROR_NOT_SUPPORTED) {
        g_arp.unsupported = sendArp;
    }
    slot->status = status;
    memcpy(slot->mac, buffer, sizeof(slot->mac));
    slot->answeredTick = GetTickCount();
    slot->state = kSlotAnswered;
    ReleaseSRWLockExclusive(&g_arp.lock);
    return 0;
}

// False when the thread could not start; the slot is free again then.
bool StartLookupThread(ArpSlot* slot)
{
    uintptr_t thread = _beginthreadex(nullptr, 0, ArpLookupThread, slot, 0, nullptr);
    if (thread == 0) {
        AcquireSRWLockExclusive(&g_arp.lock);
        slot->state = kSlotFree;
        ReleaseSRWLockExclusive(&g_arp.lock);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

// Under the lock: true when SendARP is known not to be supported.
bool Unsupported()
{
    return g_arp.unsupported != nullptr && g_arp.unsupported == g_platform.sendArp;
}

// Under the lock: the slot of a lookup of address from source, running or
// answered; else null, with *reserved a free slot now running for it (null
// when none is free). The caller starts the reserved slot's thread once
// unlocked.
ArpSlot* ClaimSlot(uint32_t address, uint32_t source, ArpSlot** reserved)
{
    const DWORD now = GetTickCount();
    ArpSlot* freeSlot = nullptr;
    for (ArpSlot& slot : g_arp.slots) {
        bool available = slot.state == kSlotFree || Forgotten(slot, now);
        if (!available && slot.address == address && slot.source == source) {
            *reserved = nullptr;
            return &slot;
        }
        if (available && freeSlot == nullptr) {
            freeSlot = &slot;
        }
    }
    if (freeSlot != nullptr) {
        freeSlot->state = kSlotRunning;
        freeSlot->address = address;
        freeSlot->source = source;
    }
    *reserved = freeSlot;
    return nullptr;
}

}  // namespace

bool AskArp(uint32_t address, uint32_t source, unsigned char mac[6], DWORD* status)
{
    AcquireSRWLockExclusive(&g_arp.lock);
    if (Unsupported()) {
        ReleaseSRWLockExclusive(&g_arp.lock);
        *status = ERROR_NOT_SUPPORTED;
        return true;
    }
    ArpSlot* reserved = nullptr;
    ArpSlot* own = ClaimSlot(address, source, &reserved);
    bool answered = own != nullptr && own->state == kSlotAnswered;
    if (answered) {
        *status = own->status;
        memcpy(mac, own->mac, sizeof(own->mac));
        own->state = kSlotFree;
    }
    ReleaseSRWLockExclusive(&g_arp.lock);
    if (reserved == nullptr || StartLookupThread(reserved)) {
        return answered;
    }
    *status = ERROR_NOT_ENOUGH_MEMORY;
    return true;
}

bool PrefetchArp(uint32_t address, uint32_t source)
{
    AcquireSRWLockExclusive(&g_arp.lock);
    if (Unsupported()) {
        ReleaseSRWLockExclusive(&g_arp.lock);
        return false;
    }
    ArpSlot* reserved = nullptr;
    ClaimSlot(address, source, &reserved);
    ReleaseSRWLockExclusive(&g_arp.lock);
    if (reserved != nullptr) {
        StartLookupThread(reserved);  // when it cannot start, AskArp will say so
    }
    return true;
}

int RunningArpLookups()
{
    int running = 0;
    AcquireSRWLockExclusive(&g_arp.lock);
    for (const ArpSlot& slot : g_arp.slots) {
        running += slot.state == kSlotRunning ? 1 : 0;
    }
    ReleaseSRWLockExclusive(&g_arp.lock);
    return running;
}
