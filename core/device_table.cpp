// The device table's rules: the maker's word, merge by address, conflicts,
// own states, the texts a row shows, bounds and numeric order (a row's
// reach and ties are in device_row.cpp, conflicts in
// device_table_conflicts.cpp, expiry and clearing in device_table_life.cpp).
#include "core/device_table.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "core/device_row.h"
#include "core/mac_text.h"
#include "core/maker.h"

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


// Copies text into field and notes change when the field showed another.
void ShowText(wchar_t* field, size_t capacity, const wchar_t* text, uint32_t change, uint32_t* changes)
{
    if (wcscmp(field, text) != 0) {
        CopyText(field, capacity, text);
        *changes |= change;
    }
}

}  // namespace

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

int DeviceTable::RowsUnder(int first, const wchar_t* ip) const
{
    int rows = 0;
    for (int index = first; index >= 0 && index < count_ && SameAddress(rows_[index], ip); ++index) {
        ++rows;
    }
    return rows;
}

// The row under the answer's address (first: its first row, or -1) that the
// answer belongs to, or -1: the one with its MAC, else one the neighbour
// table ties it to, else one whose MAC names no device; for an answer whose
// own MAC names no device, else the first.
int DeviceTable::OwnRowOf(int first, const DeviceRecord* answer) const
{
    const bool sharedMac = answer->fromMdns == kMdnsAnswerSharedMac;
    int tied = -1;
    int standIn = -1;
    for (int index = first, end = first + RowsUnder(first, answer->ipText); index >= 0 && index < end; ++index) {
        const DeviceRow* row = rows_[index];
        if (SameMacText(row->shown.macText, answer->macText)) {
            return index;
        }
        if (tied < 0 && TiedByTable(row, answer)) {
            tied = index;
        }
        if (standIn < 0 && (sharedMac || row->sharedMac)) {
            standIn = index;
        }
    }
    return tied >= 0 ? tied : standIn;
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

    wchar_t ip[kIpTextChars];
    CopyText(ip, kIpTextChars, answer->ipText);
    int first = FirstIndexOf(ip);
    int own = OwnRowOf(first, answer);
    if (own >= 0) {
        // The row stays red while another row shares its address or another
        // device claims it, so both sides of a conflict stay marked.
        const DeviceRow* row = rows_[own];
        bool conflict = RowsUnder(first, answer->ipText) > 1 || (row->hasClaim && Current(row->claimedAt, answer->lastSeen));
        Update(own, answer, conflict);
        FreeDeviceRecord(answer);
        DropTwins(ip);
        return;
    }
    if (first < 0) {
        Insert(-1, answer, false);
        return;
    }

    // Another device answers from a listed address: its row comes in red,
    // and the rows there turn red. When its row cannot be listed, its claim
    // keeps them red: their own answers would otherwise find them alone.
    uint32_t at = answer->lastSeen;
    if (!Insert(first, answer, true)) {
        Claim(ip, at);
    }
}

// Lists the answer as a new row (red when conflict, with every row under its
// address); true when it was listed, else the answer is freed.
bool DeviceTable::Insert(int first, DeviceRecord* answer, bool conflict)
{
    if (count_ >= kMaxDeviceRows || (first >= 0 && RowsUnder(first, answer->ipText) >= kMaxRowsPerAddress)) {
        FreeDeviceRecord(answer);
        return false;
    }
    DeviceRow* row = static_cast<DeviceRow*>(calloc(1, sizeof(DeviceRow)));
    if (row == nullptr) {
        FreeDeviceRecord(answer);
        return false;
    }
    row->record = answer;
    row->shown = *answer;
    row->ways = answer->fromMdns != 0 ? kAnsweredMdns : kAnsweredBroadcast;
    row->sharedMac = answer->fromMdns == kMdnsAnswerSharedMac;
    row->macFromMdns = answer->fromMdns != 0;
    if (answer->fromMdns == 0) {
        row->broadcastAt = answer->lastSeen;
        row->hasBroadcast = true;
    }
    NoteReach(row, answer->state, answer->heardOn, answer->lastSeen);

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
        return false;
    }
    if (conflict) {
        wchar_t ip[kIpTextChars];
        CopyText(ip, kIpTextChars, answer->ipText);
        MarkConflict(ip);
    }
    return true;
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
    // broadcast answer is current, so the row does not alternate. So does a
    // MAC that names no device or another than the row shows (a joining
    // answer), with the ARP marks that judge it.
    bool joined = !SameMacText(row->shown.macText, answer->macText);
    bool broadcastCurrent = row->hasBroadcast && Current(row->broadcastAt, at);
    bool keepTexts = answer->fromMdns != 0 && broadcastCurrent;
    bool keepMac = answer->fromMdns != 0 && (answer->fromMdns == kMdnsAnswerSharedMac || joined) && broadcastCurrent;
    if (answer->fromMdns == 0) {
        row->broadcastAt = at;
        row->hasBroadcast = true;
    }
    row->ways |= answer->fromMdns != 0 ? kAnsweredMdns : kAnsweredBroadcast;
    NoteReach(row, answer->state, answer->heardOn, at);
    ShowState(index, BestCurrentReach(row, at, answer->state), conflict, &changes);

    if (!keepTexts) {
        ShowText(row->shown.name, kNameChars, answer->name, kRowChangedName, &changes);
        ShowText(row->shown.description, kDescriptionChars, answer->description, kRowChangedDescription, &changes);
    }
    if (!keepMac) {
        ShowText(row->shown.macText, kMacTextChars, answer->macText, kRowChangedMac, &changes);
        if (wcscmp(ArpMarkText(&row->shown), ArpMarkText(answer)) != 0) {
            changes |= kRowChangedArp;
        }
        row->shown.arpConfirmed = answer->arpConfirmed;
        row->shown.arpMismatch = answer->arpMismatch;
        memcpy(row->shown.arpTableMac, answer->arpTableMac, sizeof(row->shown.arpTableMac));
        row->sharedMac = answer->fromMdns == kMdnsAnswerSharedMac;
        row->macFromMdns = answer->fromMdns != 0;
    }
    ShowText(row->shown.portText, kPortTextChars, answer->portText, kRowChangedPort, &changes);
    row->shown.fromMdns = answer->fromMdns;
    // A broadcast answer has no instance name: the one multicast DNS gave
    // stays; one joining a row of another MAC may be another device's, and
    // never names the row. The interface shown is the lowest that heard the
    // reach shown.
    if (answer->fromMdns != 0 && !joined) {
        CopyText(row->shown.instanceName, kInstanceNameChars, answer->instanceName);
    }
    if (row->ownState >= 0 && row->ownState < 3 && row->hasReach[row->ownState]) {
        row->shown.heardOn = row->lowestHeardOn[row->ownState];
    }
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
