// Turns a resolved service into a device record: only the maker's devices
// (TXT vendor), with a MAC address this computer has learnt, are posted to
// the main window, in the state its address earns on the interface that
// heard it, as a broadcast reply's sender would. A MAC that the neighbour
// table gives several addresses is posted as one that names no device
// (kMdnsAnswerSharedMac).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include "browse/found_callback.h"
#include "browse/query.h"

struct ReportedHosts;

enum : int { kTxtValueChars = 64 };

// How long a direct caller lets OnServiceFound wait for a MAC address.
constexpr uint32_t kMacWaitMs = 1000;

// The found-callback of the browse (see found_callback.h). Posts one
// record with WM_APP_DEVICE to g_mainWindow, or ignores the service, or, when
// the MAC address is not known yet and macWaitMs has run out, returns
// kServiceAwaitingMac. abortEvent cuts the MAC address wait short;
// reportedHosts, when set, remembers the posted record (or forgets an
// ignored host).
int32_t OnServiceFound(const ResolvedService* service, HWND window, HANDLE abortEvent,
                       ReportedHosts* reportedHosts, uint32_t macWaitMs);

enum MacLookup { kMacFound, kMacUnknown, kMacPending };

// The hardware address of a neighbour: SendARP, or where the platform does
// not support it, the neighbour table, after provoking resolution with one
// harmless datagram and looking again for up to waitMs. The datagram goes
// only to a unicast address of the subnet it was heard on (see
// MaySolicitNeighbour), at most once a second per address. With waitMs 0 it
// never blocks (SendARP runs on a lookup thread, see arp_requests.h), and
// kMacPending says: not known yet, SendARP or resolution under way, ask
// again. kMacUnknown: none came or will come, or abortEvent
// (INVALID_HANDLE_VALUE: none) was set meanwhile. Both ask on the interface
// that heard the device: SendARP from its address, and the neighbour rows of
// that interface only. With kMacFound, *sharedMac (when given) says whether
// that interface's neighbour rows give the MAC to other addresses too (a
// bridge answering ARP for the devices behind it).
MacLookup LookUpMacAddress(uint32_t address, const InterfaceSubnet& heardOn, unsigned char mac[6],
                           HANDLE abortEvent, uint32_t waitMs, bool* sharedMac = nullptr);

// A device the browse has just heard of, at this address: starts what makes
// the system learn its hardware address (SendARP on a lookup thread, or the
// datagram, with the same limits as LookUpMacAddress), so that a lookup once
// the device is resolved finds it without waiting. Never blocks.
void PrepareMacLookup(uint32_t address, const InterfaceSubnet& heardOn);

// True when a device's address may be sent a datagram to learn its hardware
// address: a host address of the interface's subnet (not its network or
// broadcast address), or a link-local one heard on a link-local address;
// never multicast, broadcast, loopback or "this network".
bool MaySolicitNeighbour(uint32_t address, const InterfaceSubnet& heardOn);

// Forgets when each device was last sent that datagram (tests).
void ForgetSolicitedNeighbours();
