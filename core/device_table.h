// The device table: the rules by which device answers become rows, written
// once and free of any window, so that the main window's list and the
// console program show the same rows. It keeps the maker's word (broadcast
// answers of other makers are dropped), merges answers by address, marks
// address conflicts (every row under a shared address is a Conflict, and a
// row left alone takes back its own state), keeps each row's own state and
// the texts it shows, expires rows, bounds the number of rows and keeps
// them in numeric address order.
//
// A view (the list control, the console's printer) learns of every row that
// comes, changes or goes, and may refuse: a row it cannot show is dropped,
// a row it will not delete stays. One thread only.
#pragma once

#include <stdint.h>

#include "core/address_order.h"
#include "core/device_record.h"

// Rows not seen for longer than this are removed by Expire.
constexpr uint32_t kDeviceExpiryMs = 3000;

// No network of real devices comes near these: further rows are dropped
// (updates of listed rows always go through).
constexpr int kMaxRowsPerAddress = 16;
constexpr int kMaxDeviceRows = 4096;

// The ways a row's device has answered since its row came.
enum AnswerWay : uint32_t {
    kAnsweredBroadcast = 1u << 0,
    kAnsweredMdns = 1u << 1,
};

// The parts of a row a change touched.
enum RowChange : uint32_t {
    kRowChangedName = 1u << 0,
    kRowChangedMac = 1u << 1,
    kRowChangedDescription = 1u << 2,
    kRowChangedArp = 1u << 3,
    kRowChangedPort = 1u << 4,
    kRowChangedState = 1u << 5,
};

struct DeviceRow {
    // The first answer's record, owned by the table: its address is the
    // row's key and its port the one the device's page opens; its lastSeen
    // and state follow every later answer. A view may keep the pointer as the
    // row's identity until the row goes.
    DeviceRecord* record;
    // Everything the row shows: the address, the latest answer's MAC, port
    // and ARP marks, its name and description (a broadcast answer's while one
    // is current, see Merge), the shown state (Conflict while marked) and
    // lastSeen.
    DeviceRecord shown;
    int32_t ownState;  // the state the row returns to when no longer a conflict
    uint32_t ways;     // AnswerWay bits

    // When the device last answered by broadcast, last earned each reach
    // (Normal, LinkLocal, OtherSubnet), and when another device last claimed
    // the row's address from a row under another address.
    uint32_t broadcastAt;
    uint32_t claimedAt;
    uint32_t reachAt[3];
    // Of the interfaces that heard each reach, the one with the lowest
    // address (network byte order) and when it last did: the row names it,
    // whatever order the answers arrive in.
    uint32_t lowestHeardOn[3];
    uint32_t lowestHeardAt[3];
    bool hasBroadcast;
    bool hasClaim;
    bool hasReach[3];
    // The shown MAC came from a multicast DNS answer whose MAC the neighbour
    // table shares among several addresses: it names no device, so the
    // device's own MAC, when it answers by broadcast, takes the row over.
    bool sharedMac;
    // The shown MAC came from a multicast DNS answer: it is the one the
    // neighbour table gives the address, which a broadcast answer from it
    // may name as the table's other MAC (see Merge).
    bool macFromMdns;
};

class DeviceTableView {
public:
    // A row came. False: the view cannot show it, and the row is dropped.
    virtual bool RowAdded(const DeviceRow* row) = 0;
    // Parts of a row changed (RowChange bits, never 0). False: the view lost
    // the row, and it is dropped.
    virtual bool RowChanged(const DeviceRow* row, uint32_t changes) = 0;
    // A row is about to go. False: the view keeps it, and so does the table.
    virtual bool RowRemoving(const DeviceRow* row) = 0;

protected:
    ~DeviceTableView() {}
};

class DeviceTable {
public:
    DeviceTable();
    // Frees every row without telling the view.
    ~DeviceTable();
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    // The view told of every change from now on; null for none.
    void SetView(DeviceTableView* view);

    // Takes answer, a record allocated with AllocateDeviceRecord: it becomes
    // a new row's record or is freed. Its lastSeen is the moment it was heard.
    //
    // An answer belongs to a row of its own address only: the one with its
    // MAC; else one that the neighbour table ties it to: a multicast DNS
    // answer (its MAC is the table's) to the row whose broadcast answer's ARP
    // check found the table giving that very MAC ("*"), and a broadcast
    // answer whose ARP check found the table's MAC to the row a multicast DNS
    // answer with that MAC brought (a second card, a bridge that gives each
    // device behind it a MAC of its own); else a multicast DNS answer whose
    // MAC names no device (see MdnsAnswerKind) to the address's first row.
    // Two broadcast answers never join. An answer joining a row that shows
    // another MAC never writes its instance name there. An answer from another MAC
    // than the ones listed under its address is a conflict: its own row comes
    // in red, and every row under the address turns red, also when the
    // rival's row cannot be listed (the bounds, the view refusing), while its
    // claim is current. The same MAC under several addresses is no conflict
    // (one device may have several). A device that answers both ways shows
    // its broadcast name, description and, against a MAC that names no
    // device, its broadcast MAC and ARP marks while a broadcast answer is
    // current (within the expiry span), the multicast DNS ones otherwise; the
    // same goes for a joining multicast DNS answer. A device heard on several
    // interfaces shows the best reach that is current, and the interface
    // with the lowest address among those that heard it.
    void Merge(DeviceRecord* answer);

    // Whether Expire(now) would remove a row.
    bool HasStaleRows(uint32_t now) const;
    // Removes every row last seen more than kDeviceExpiryMs before now (a
    // row seen after now stays); a conflict such a row leaves ends.
    void Expire(uint32_t now);
    // Counts every row as seen at now.
    void MarkAllSeen(uint32_t now);
    // Removes every row the view lets go.
    void Clear();

    int Count() const;
    // Rows in numeric address order (rows of one address in arrival order);
    // null outside 0..Count()-1.
    const DeviceRow* RowAt(int index) const;
    // The row whose record is record, or null.
    const DeviceRow* RowOfRecord(const DeviceRecord* record) const;

private:
    int FirstIndexOf(const wchar_t* ip) const;
    int IndexOfRecord(const DeviceRecord* record) const;
    int OwnRowOf(int first, const DeviceRecord* answer) const;
    int RowsUnder(int first, const wchar_t* ip) const;
    bool Insert(int first, DeviceRecord* answer, bool conflict);
    void Update(int index, const DeviceRecord* answer, bool conflict);
    void ShowState(int index, int32_t own, bool conflict, uint32_t* changes);
    void Claim(const wchar_t* ip, uint32_t at);
    void MarkConflict(const wchar_t* ip);
    void Settle(const wchar_t* ip);
    void DropTwins(const wchar_t* ip);
    void Drop(int index);
    bool Remove(int index);
    bool Tell(int index, uint32_t changes);

    DeviceTableView* view_;
    int count_;
    DeviceRow* rows_[kMaxDeviceRows];
};

// "Y": ARP agrees with the reported MAC; "*": ARP knows another MAC; " ".
const wchar_t* ArpMarkText(const DeviceRecord* record);
