// The record that carries one answer from one device, from the worker thread
// that heard it to the main window, and the display state of a list row.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include "core/text_copy.h"

enum DeviceState : int32_t {
    DeviceStateNormal = 0,       // in the subnet of the interface that heard it
    DeviceStateLinkLocal = 1,    // device and interface both link-local
    DeviceStateOtherSubnet = 2,  // outside the interface's subnet
    DeviceStateConflict = 3,     // address also claimed by another MAC
};

enum : int {
    // A dotted quad and its terminator; ipText is always written from a number.
    kIpTextChars = 16,
    // A multicast DNS instance's own label (DNS allows 63 bytes; longer ones are cut).
    kInstanceNameChars = 46,
    kNameChars = 256,
    kMacTextChars = 64,
    kDescriptionChars = 256,
    kPortTextChars = 64,
};

// Fixed layout: allocated zero-filled with GlobalAlloc, freed with GlobalFree
// by its final owner (the window, once posted).
struct DeviceRecord {
    // Flags of a broadcast answer's ARP check, and the MAC the neighbour table
    // gave its address when it gave another (all zeros: none, or the table's
    // rows disagreed). Bytes, so that the table's MAC fits the room the two
    // flags had and the layout keeps its size.
    uint8_t arpMismatch;
    uint8_t arpConfirmed;
    uint8_t arpTableMac[6];
    wchar_t ipText[kIpTextChars];
    // These two take the room ipText never used, so the layout keeps its size.
    uint32_t heardOn;  // address of the interface that heard the answer (network byte order)
    wchar_t instanceName[kInstanceNameChars];  // multicast DNS only: the instance's label
    int32_t state;  // DeviceState
    uint32_t lastSeen;
    wchar_t name[kNameChars];
    wchar_t macText[kMacTextChars];
    wchar_t description[kDescriptionChars];
    wchar_t portText[kPortTextChars];
    int32_t fromMdns;  // 0: a broadcast reply; else a MdnsAnswerKind
};

// A multicast DNS answer's MAC is what the neighbour table gives its
// address. Where the table gives that MAC to other addresses of the same
// interface too (a bridge answering ARP for the devices behind it), it names
// the bridge, not the device.
enum MdnsAnswerKind : int32_t {
    kMdnsAnswer = 1,
    kMdnsAnswerSharedMac = 2,
};

#ifdef _WIN32
// The layout crosses threads as raw memory and is read by test tools; native
// builds of the parsers (fuzzing) have a 4-byte wchar_t and skip these checks.
static_assert(sizeof(wchar_t) == 2, "text fields are UTF-16");
static_assert(sizeof(DeviceRecord) == 1428, "DeviceRecord layout is fixed at 1428 bytes");
#endif

// Allocates a zero-filled record; null when the heap is exhausted.
DeviceRecord* AllocateDeviceRecord();
void FreeDeviceRecord(DeviceRecord* record);

// Hands a filled record to the main window. On success the window owns it;
// when the window is gone the record is freed here. Returns true if posted.
bool PostDeviceRecord(DeviceRecord* record);

