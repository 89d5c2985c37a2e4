// Turns a resolved service into a device record: only the maker's devices
// (TXT vendor), with a MAC address this computer has learnt, are posted to
// the main window.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include "mdns/mdns_query.h"

struct ReportedHosts;

enum : int { kTxtValueChars = 64 };

// The found-callback of the browse (see FoundCallback in browse.h). Posts one
// record with WM_APP_DEVICE to g_mainWindow, or ignores the service. Returns
// 1 when a record was posted. abortEvent cuts the MAC address wait short;
// reportedHosts, when set, remembers the posted record (or forgets an
// ignored host).
int32_t OnServiceFound(const ResolvedService* service, HWND window, HANDLE abortEvent,
                       ReportedHosts* reportedHosts);

// The hardware address of a neighbour: SendARP, or where the platform does
// not support it, the neighbour table, after provoking resolution with one
// harmless datagram and looking again for up to a second. False when none is
// known, or when abortEvent (INVALID_HANDLE_VALUE: none) is set meanwhile.
bool LookUpMacAddress(uint32_t address, unsigned char mac[6], HANDLE abortEvent);
