// What the console program asks of the interface table: the interface a
// --subnet names, the subnets there are (for the message when none
// matches), and the interface that heard a row's device.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include "core/device_table.h"

// The network (network byte order) of the interface whose subnet holds
// address; with a prefix length (0..32) its subnet must also be exactly
// that long. kAllInterfaces when no interface is so.
uint32_t ScanNetworkOf(uint32_t address, int prefix);

// "192.168.77.0/24, 10.77.0.0/16": every interface's subnet, or "none".
void ListScanSubnets(wchar_t* text, int chars);

// Keeps a copy of the interfaces' addresses, for HeardOnFromInterfaces
// once the table has been taken down: after each build of the table.
void KeepScanInterfaces();

// The address of the interface that heard the row's device: the one whose
// judgement of the device's address gives the row's own state (Normal: its
// subnet holds the device), among the kept interfaces the run asked on.
// "" when no interface, or more than one, fits.
void HeardOnFromInterfaces(const DeviceRow* row, wchar_t* text, int chars);

// Prefix length (0..32) of a contiguous mask in network byte order.
int PrefixLength(uint32_t mask);
