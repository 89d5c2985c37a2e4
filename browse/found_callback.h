// The found-callback of the browse: what it is handed and what it answers.
// Apart from the browse, so that the conversion it calls (service_found.h)
// needs nothing of the browse itself.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include "browse/query.h"

struct ReportedHosts;

// What a found-callback did with a service.
enum FoundResult : int32_t {
    kServiceIgnored = 0,
    kServicePosted = 1,
    // The device's hardware address is being learnt: ask again shortly.
    kServiceAwaitingMac = 2,
};

// The found-callback: the resolved service (with the address and mask of the
// interface entry that heard it, against which its state is judged) and the
// browse's window; also the browse's abort event (which cuts waits short),
// with auto-refresh the table where a posted record is remembered (null
// otherwise), and how long it may wait for the device's hardware address (0:
// not at all; it then answers kServiceAwaitingMac and the browse asks again
// each cycle for up to 1 s).
typedef int32_t (*FoundCallback)(const ResolvedService* service, HWND window, HANDLE abortEvent,
                                 ReportedHosts* reportedHosts, uint32_t macWaitMs);
