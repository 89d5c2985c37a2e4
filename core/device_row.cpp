// What one row remembers beyond its texts: the reaches it was heard with,
// on which interface, and whether the neighbour table ties an answer of
// another MAC to it.
#include "core/device_row.h"

#include <wchar.h>

#include "core/address_order.h"
#include "core/mac_text.h"

namespace {

// An address in network byte order as a number that sorts as addresses do.
uint32_t AddressOrder(uint32_t address)
{
    const unsigned char* octets = reinterpret_cast<const unsigned char*>(&address);
    return (uint32_t(octets[0]) << 24) | (uint32_t(octets[1]) << 16) | (uint32_t(octets[2]) << 8) | octets[3];
}

}  // namespace

bool SameAddress(const DeviceRow* row, const wchar_t* ip)
{
    return CompareAddressTexts(row->record->ipText, ip) == 0;
}

// Within the span either side of now: a note a little younger than the
// answer asking counts too (answers from several workers arrive a little
// out of order). Differences stay right across the counter's wrap.
bool Current(uint32_t at, uint32_t now)
{
    return static_cast<uint32_t>(now - at) <= kDeviceExpiryMs || static_cast<uint32_t>(at - now) <= kDeviceExpiryMs;
}

// The interface with the lowest address keeps the reach's place while it
// still hears it, so the row names the same one whatever the arrival order.
void NoteReach(DeviceRow* row, int32_t state, uint32_t heardOn, uint32_t at)
{
    if (state < 0 || state >= 3) {
        return;
    }
    if (!row->hasReach[state] || !Current(row->lowestHeardAt[state], at) ||
        AddressOrder(heardOn) <= AddressOrder(row->lowestHeardOn[state])) {
        row->lowestHeardOn[state] = heardOn;
        row->lowestHeardAt[state] = at;
    }
    row->reachAt[state] = at;
    row->hasReach[state] = true;
}

// The best reach noted as current at now, never worse than fallback.
int32_t BestCurrentReach(const DeviceRow* row, uint32_t now, int32_t fallback)
{
    for (int32_t state = 0; state < 3 && state < fallback; ++state) {
        if (row->hasReach[state] && Current(row->reachAt[state], now)) {
            return state;
        }
    }
    return fallback;
}

bool ArpTableMacText(const DeviceRecord* record, wchar_t text[kMacSpellingChars])
{
    const uint8_t* mac = record->arpTableMac;
    if (record->arpMismatch == 0 || (mac[0] | mac[1] | mac[2] | mac[3] | mac[4] | mac[5]) == 0) {
        return false;
    }
    swprintf(text, kMacSpellingChars, L"%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return true;
}

// Whether the neighbour table ties an answer with another MAC to the row's
// device: a multicast DNS answer carries the table's MAC for its address,
// which the row's broadcast answer found there; or a broadcast answer found
// there the MAC a multicast DNS answer brought to the row. Never two
// broadcast answers: their MACs are the devices' own.
bool TiedByTable(const DeviceRow* row, const DeviceRecord* answer)
{
    wchar_t tableMac[kMacSpellingChars];
    if (answer->fromMdns == kMdnsAnswer) {
        return ArpTableMacText(&row->shown, tableMac) && SameMacText(tableMac, answer->macText);
    }
    return answer->fromMdns == 0 && row->macFromMdns && ArpTableMacText(answer, tableMac) &&
           SameMacText(tableMac, row->shown.macText);
}
