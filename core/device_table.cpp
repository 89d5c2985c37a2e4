// The device table's rules: the maker's word, merge by address, conflicts,
// own states, the texts a row shows, expiry, bounds and numeric order.
#include "core/device_table.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "core/mac_text.h"
#include "core/maker.h"
#include "core/web_address.h"

namespace {

// Broadcast answers of other makers share the port; only these are listed.
constexpr size_t kVendorPrefixChars = (sizeof(kMakerDescriptionPrefix) / sizeof(wchar_t)) - 1;

// Producers terminate every field; the table does not rely on it.
void TerminateTextFields(DeviceRecord* record)
{
    record->ipText[kIpTextChars - 1] = L'\0';
    record->name[kNameChars - 1] = L'\0';
    record->macText[kMacTextChars - 1] = L'\0';
    record->description[kDescriptionChars - 1] = L'\0';
    record->portText[kPortTextChars - 1] = L'\0';
}

bool HasVendorPrefix(const DeviceRecord* record)
{
    return wcsncmp(record->description, kMakerDescriptionPrefix, kVendorPrefixChars) == 0;
}

wchar_t FoldAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Texts that are no address order by their letters, ignoring ASCII case,
// so that one address however spelt keeps its rows together.
int CompareFolded(const wchar_t* a, const wchar_t* b)
{
    for (;; ++a, ++b) {
        wchar_t x = FoldAscii(*a);
        wchar_t y = FoldAscii(*b);
        if (x != y || x == L'\0') {
            return x < y ? -1 : (x > y ? 1 : 0);
        }
    }
}

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

// Signed, so that a row seen after now (marked seen while a tick waited) stays.
bool Stale(const DeviceRow* row, uint32_t now)
{
    return static_cast<int32_t>(now - row->record->lastSeen) > static_cast<int32_t>(kDeviceExpiryMs);
}

void NoteReach(DeviceRow* row, int32_t state, uint32_t at)
{
    if (state >= 0 && state < 3) {
        row->reachAt[state] = at;
        row->hasReach[state] = true;
    }
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

// Copies text into field and notes change when the field showed another.
void ShowText(wchar_t* field, size_t capacity, const wchar_t* text, uint32_t change, uint32_t* changes)
{
    if (wcscmp(field, text) != 0) {
        CopyText(field, capacity, text);
        *changes |= change;
    }
}

}  // namespace

int CompareAddressTexts(const wchar_t* a, const wchar_t* b)
{
    unsigned long valueA = 0, valueB = 0;
    bool isA = ParseDottedQuadText(a, &valueA);
    bool isB = ParseDottedQuadText(b, &valueB);
    if (isA && isB) {
        return valueA < valueB ? -1 : (valueA > valueB ? 1 : 0);
    }
    if (isA != isB) {
        return isA ? -1 : 1;
    }
    return CompareFolded(a, b);
}

const wchar_t* ArpMarkText(const DeviceRecord* record)
{
    if (record->arpConfirmed != 0) {
        return L"Y";
    }
    if (record->arpMismatch != 0) {
        return L"*";
    }
    return L" ";
}

DeviceTable::DeviceTable() : view_(nullptr), count_(0), rows_() {}

DeviceTable::~DeviceTable()
{
    while (count_ > 0) {
        Drop(count_ - 1);
    }
}

void DeviceTable::SetView(DeviceTableView* view)
{
    view_ = view;
}

int DeviceTable::Count() const
{
    return count_;
}

const DeviceRow* DeviceTable::RowAt(int index) const
{
    return index >= 0 && index < count_ ? rows_[index] : nullptr;
}

const DeviceRow* DeviceTable::RowOfRecord(const DeviceRecord* record) const
{
    return RowAt(IndexOfRecord(record));
}

int DeviceTable::IndexOfRecord(const DeviceRecord* record) const
{
    for (int index = 0; index < count_; ++index) {
        if (rows_[index]->record == record) {
            return index;
        }
    }
    return -1;
}

// The first row under ip, or -1: a binary search, as the rows are in order.
int DeviceTable::FirstIndexOf(const wchar_t* ip) const
{
    int low = 0;
    int high = count_;
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (CompareAddressTexts(rows_[middle]->record->ipText, ip) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low < count_ && SameAddress(rows_[low], ip) ? low : -1;
}

int DeviceTable::IndexOfMac(const wchar_t* macText) const
{
    for (int index = 0; index < count_; ++index) {
        if (SameMacText(rows_[index]->shown.macText, macText)) {
            return index;
        }
    }
    return -1;
}

int DeviceTable::RowsUnder(int first, const wchar_t* ip) const
{
    int rows = 0;
    for (int index = first; index >= 0 && index < count_ && SameAddress(rows_[index], ip); ++index) {
        ++rows;
    }
    return rows;
}

void DeviceTable::Merge(DeviceRecord* answer)
{
    if (answer == nullptr) {
        return;
    }
    TerminateTextFields(answer);
    CanonicaliseMacText(answer->macText, kMacTextChars);

    // Multicast DNS answers were already checked for the maker.
    if (answer->fromMdns == 0 && !HasVendorPrefix(answer)) {
        FreeDeviceRecord(answer);
        return;
    }

    int first = FirstIndexOf(answer->ipText);
    if (first < 0) {
        Insert(-1, answer, false);
        return;
    }
    if (SameMacText(rows_[first]->shown.macText, answer->macText)) {
        // Its own answer: the row stays red while another row shares its
        // address or another device claims it, so both sides of a conflict
        // stay marked.
        const DeviceRow* row = rows_[first];
        bool conflict = RowsUnder(first, answer->ipText) > 1 || (row->hasClaim && Current(row->claimedAt, answer->lastSeen));
        Update(first, answer, conflict);
        FreeDeviceRecord(answer);
        return;
    }

    // A second MAC claims this address: the device that sent the answer is
    // red, in its own row if it has one, and so is every row under the
    // address.
    int macIndex = IndexOfMac(answer->macText);
    if (macIndex < 0) {
        Insert(first, answer, true);
        return;
    }
    bool elsewhere = !SameAddress(rows_[macIndex], answer->ipText);
    wchar_t ip[kIpTextChars];
    CopyText(ip, kIpTextChars, answer->ipText);
    uint32_t at = answer->lastSeen;
    Update(macIndex, answer, true);
    FreeDeviceRecord(answer);
    if (elsewhere) {
        // The rows under the claimed address stay red while the claim goes
        // on: their own answers would otherwise find them alone and clear it.
        for (int index = FirstIndexOf(ip); index >= 0 && index < count_ && SameAddress(rows_[index], ip); ++index) {
            rows_[index]->claimedAt = at;
            rows_[index]->hasClaim = true;
        }
        MarkConflict(ip);
    }
}

void DeviceTable::Insert(int first, DeviceRecord* answer, bool conflict)
{
    if (count_ >= kMaxDeviceRows || (first >= 0 && RowsUnder(first, answer->ipText) >= kMaxRowsPerAddress)) {
        FreeDeviceRecord(answer);
        return;
    }
    DeviceRow* row = static_cast<DeviceRow*>(calloc(1, sizeof(DeviceRow)));
    if (row == nullptr) {
        FreeDeviceRecord(answer);
        return;
    }
    row->record = answer;
    row->shown = *answer;
    row->ways = answer->fromMdns != 0 ? kAnsweredMdns : kAnsweredBroadcast;
    if (answer->fromMdns == 0) {
        row->broadcastAt = answer->lastSeen;
        row->hasBroadcast = true;
    }
    NoteReach(row, answer->state, answer->lastSeen);

    // After every row that sorts with or before it.
    int index = 0;
    for (int high = count_; index < high;) {
        int middle = index + (high - index) / 2;
        if (CompareAddressTexts(rows_[middle]->record->ipText, answer->ipText) <= 0) {
            index = middle + 1;
        } else {
            high = middle;
        }
    }
    memmove(&rows_[index + 1], &rows_[index], sizeof(rows_[0]) * static_cast<size_t>(count_ - index));
    rows_[index] = row;
    ++count_;
    uint32_t unused = 0;
    ShowState(index, answer->state, conflict, &unused);

    if (view_ != nullptr && !view_->RowAdded(row)) {
        Drop(index);
        return;
    }
    if (conflict) {
        wchar_t ip[kIpTextChars];
        CopyText(ip, kIpTextChars, answer->ipText);
        MarkConflict(ip);
    }
}

void DeviceTable::Update(int index, const DeviceRecord* answer, bool conflict)
{
    DeviceRow* row = rows_[index];
    uint32_t at = answer->lastSeen;
    uint32_t changes = 0;
    row->record->lastSeen = at;
    row->shown.lastSeen = at;

    // A device that answers both ways names and describes itself in its
    // broadcast reply; the multicast DNS texts stand in only while no
    // broadcast answer is current, so the row does not alternate.
    bool keepTexts = answer->fromMdns != 0 && row->hasBroadcast && Current(row->broadcastAt, at);
    if (answer->fromMdns == 0) {
        row->broadcastAt = at;
        row->hasBroadcast = true;
    }
    row->ways |= answer->fromMdns != 0 ? kAnsweredMdns : kAnsweredBroadcast;
    NoteReach(row, answer->state, at);
    ShowState(index, BestCurrentReach(row, at, answer->state), conflict, &changes);

    if (!keepTexts) {
        ShowText(row->shown.name, kNameChars, answer->name, kRowChangedName, &changes);
        ShowText(row->shown.description, kDescriptionChars, answer->description, kRowChangedDescription, &changes);
    }
    ShowText(row->shown.macText, kMacTextChars, answer->macText, kRowChangedMac, &changes);
    ShowText(row->shown.portText, kPortTextChars, answer->portText, kRowChangedPort, &changes);
    if (wcscmp(ArpMarkText(&row->shown), ArpMarkText(answer)) != 0) {
        changes |= kRowChangedArp;
    }
    row->shown.arpConfirmed = answer->arpConfirmed;
    row->shown.arpMismatch = answer->arpMismatch;
    row->shown.fromMdns = answer->fromMdns;
    if (changes != 0) {
        Tell(index, changes);
    }
}

void DeviceTable::ShowState(int index, int32_t own, bool conflict, uint32_t* changes)
{
    DeviceRow* row = rows_[index];
    int32_t shown = conflict ? static_cast<int32_t>(DeviceStateConflict) : own;
    if (row->shown.state != shown) {
        *changes |= kRowChangedState;
    }
    row->shown.state = shown;
    row->record->state = shown;
    row->ownState = own;
}

void DeviceTable::MarkConflict(const wchar_t* ip)
{
    int index = FirstIndexOf(ip);
    while (index >= 0 && index < count_ && SameAddress(rows_[index], ip)) {
        uint32_t changes = 0;
        ShowState(index, rows_[index]->ownState, true, &changes);
        if (changes != 0 && !Tell(index, changes)) {
            index = FirstIndexOf(ip);  // a row went: the rest are found again
            continue;
        }
        ++index;
    }
}

void DeviceTable::Settle(const wchar_t* ip)
{
    int only = FirstIndexOf(ip);
    if (only < 0 || RowsUnder(only, ip) != 1 || rows_[only]->shown.state != DeviceStateConflict) {
        return;  // none left, still shared, or not marked
    }
    uint32_t changes = 0;
    ShowState(only, rows_[only]->ownState, false, &changes);
    Tell(only, changes);
}

bool DeviceTable::Tell(int index, uint32_t changes)
{
    if (view_ == nullptr || view_->RowChanged(rows_[index], changes)) {
        return true;
    }
    // The view lost the row: it goes, and a rival it leaves alone settles.
    wchar_t ip[kIpTextChars];
    CopyText(ip, kIpTextChars, rows_[index]->record->ipText);
    Drop(index);
    Settle(ip);
    return false;
}

void DeviceTable::Drop(int index)
{
    DeviceRow* row = rows_[index];
    memmove(&rows_[index], &rows_[index + 1], sizeof(rows_[0]) * static_cast<size_t>(count_ - index - 1));
    --count_;
    rows_[count_] = nullptr;
    FreeDeviceRecord(row->record);
    free(row);
}

bool DeviceTable::Remove(int index)
{
    if (view_ != nullptr && !view_->RowRemoving(rows_[index])) {
        return false;
    }
    Drop(index);
    return true;
}

bool DeviceTable::HasStaleRows(uint32_t now) const
{
    for (int index = 0; index < count_; ++index) {
        if (Stale(rows_[index], now)) {
            return true;
        }
    }
    return false;
}

void DeviceTable::Expire(uint32_t now)
{
    int index = 0;
    while (index < count_) {
        const DeviceRow* row = rows_[index];
        if (!Stale(row, now)) {
            ++index;
            continue;
        }
        bool inConflict = row->shown.state == DeviceStateConflict;
        wchar_t ip[kIpTextChars];
        CopyText(ip, kIpTextChars, row->record->ipText);
        if (!Remove(index)) {
            ++index;  // the view keeps it
            continue;
        }
        if (inConflict) {
            Settle(ip);
        }
    }
}

void DeviceTable::MarkAllSeen(uint32_t now)
{
    for (int index = 0; index < count_; ++index) {
        rows_[index]->record->lastSeen = now;
        rows_[index]->shown.lastSeen = now;
    }
}

void DeviceTable::Clear()
{
    // From the last row back, so a row the view keeps moves no other.
    for (int index = count_ - 1; index >= 0; --index) {
        Remove(index);
    }
}
