// Test doubles for the platform seam: an address table, neighbour table and
// adapter list that a test chooses, SendARP over them, and message boxes
// and neighbour datagrams that are recorded instead of shown or sent.
#pragma once

#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>
#include <vector>

#include "core/platform.h"

struct FakeAddress {
    const char* address;
    const char* mask;
    DWORD index;
};

struct FakeNeighbour {
    const char* address;
    DWORD index;  // the interface's
    unsigned char mac[6];
    // As GetIpNetTable2 tells it; GetIpNetTable lists every row alike.
    NL_NEIGHBOR_STATE state = NlnsReachable;
    bool unreachable = false;
};

struct FakeAdapter {
    DWORD ifIndex;
    std::vector<const char*> addresses;
};

struct RecordedBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// Installs the doubles on construction and restores the real platform on
// destruction. Only one may exist at a time.
class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();

    std::vector<FakeAddress> addresses;
    std::vector<FakeAdapter> adapters;
    DWORD addressProbeResult = ERROR_INSUFFICIENT_BUFFER;
    DWORD addressReadResult = NO_ERROR;
    ULONG adapterProbeResult = ERROR_BUFFER_OVERFLOW;
    // Fills that find the list grown since it was sized (an adapter came):
    // each answers ERROR_BUFFER_OVERFLOW with a bigger size.
    int adapterGrowths = 0;
    ULONG adapterGrownBytes = 0;
    std::vector<RecordedBox> boxes;

    // Neighbour rows (all counting: dynamic, six bytes). SendARP answers as
    // sendArpResult says; with NO_ERROR, from the row of the interface that
    // holds its source address, else ERROR_BAD_NET_NAME.
    std::vector<FakeNeighbour> neighbours;
    DWORD sendArpResult = ERROR_NOT_SUPPORTED;
    LONG solicits = 0;

    // Reads that find a new row added since the size probe (the table grew).
    int growthsBeforeRead = 0;

    // Address-change notification: by default as under Wine (pending, never
    // signalled). SignalAddressChange completes the armed request.
    DWORD notifyResult = ERROR_IO_PENDING;
    LONG notifyCalls = 0;
    LONG cancelCalls = 0;
    HANDLE notifyEvent = nullptr;
    void SignalAddressChange();

    // Replaces the address rows while another thread may be reading them.
    void SetAddresses(const std::vector<FakeAddress>& rows);
    // Number of address-table reads that returned rows.
    LONG addressReads = 0;
    CRITICAL_SECTION lock;

    static FakePlatform* current;

private:
    PlatformServices saved_;
};

uint32_t Ipv4(const char* text);  // network byte order
