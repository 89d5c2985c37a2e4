// The two application-wide threads. ExpiryTicker posts the window's tick;
// AddressWatcher rebuilds the interface table when the IPv4 configuration
// changes and tells the window.
#include "discovery/threads.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include "core/app_messages.h"
#include "core/globals.h"
#include "core/platform.h"
#include "core/wait.h"
#include "net/interface_table.h"

namespace {

// Only after a failed wait: the loop then never spins.
const DWORD kWatchPassMs = 250;
// The address table is compared this often. Each read costs several round
// trips to a system service under Wine (where the notification never comes
// and this comparison is all there is), so not more often: a change is
// then noticed within about a second there, and at once where notified.
const DWORD kPollMs = 1000;
// A notification that arrives this soon after a rebuild that polling already
// made, with the table unchanged since, is the echo of that same change.
const DWORD kEchoWindowMs = 5000;

// Ticks with auto-refresh on, when rows expire: a row goes at the first tick
// more than 3 s after its device's last answer, so within 3.25 s, and a
// device switched off is gone within 3.5 s even when the window is late.
// Four posts a second cost the window a look at each row's time. Without
// auto-refresh the tick only updates the count: once a second.
const DWORD kExpiryTickMs = 250;
const DWORD kCountTickMs = 1000;

bool StopRequested(DWORD timeoutMs)
{
    return Signalled(g_stopEvent, timeoutMs);
}

void RebuildAndNotify()
{
    // Skipped (0, nothing posted) once shutdown has begun.
    if (RebuildInterfaceTable() == 0 && StopRequested(0)) {
        return;
    }
    // Before the window exists there is nobody to tell; its initialisation
    // reads the new table anyway.
    HWND window = g_mainWindow;
    if (window != nullptr) {
        PostMessageW(window, WM_APP_IPCHANGE, 0, 0);
    }
}

// When the watcher last compared the address table, and whether that
// comparison rebuilt the interface table (and when).
struct WatchTimes {
    bool pollRebuilt;
    DWORD pollRebuiltAt;
    DWORD polledAt;
};

void OnAddressChangeNotified(HANDLE* notification, OVERLAPPED* overlapped, WatchTimes* times)
{
    g_platform.cancelIPChangeNotify(overlapped);
    // A new request resets the event: a change during the rebuild signals it
    // again and causes exactly one more rebuild.
    g_platform.notifyAddrChange(notification, overlapped);
    bool echo = times->pollRebuilt && GetTickCount() - times->pollRebuiltAt < kEchoWindowMs &&
                !AddressTableDiffersFromBuild();
    times->pollRebuilt = false;
    if (!echo) {
        RebuildAndNotify();
    }
}

void PollAddressTable(WatchTimes* times)
{
    DWORD now = GetTickCount();
    if (now - times->polledAt < kPollMs) {
        return;
    }
    times->polledAt = now;
    if (AddressTableDiffersFromBuild()) {
        RebuildAndNotify();
        times->pollRebuilt = true;
        times->pollRebuiltAt = GetTickCount();
    }
}

}  // namespace

unsigned __stdcall ExpiryTicker(void*)
{
    while (!StopRequested(g_autoRefresh != 0 ? kExpiryTickMs : kCountTickMs)) {
        HWND window = g_mainWindow;
        if (window != nullptr) {
            // The moment of the tick travels with it (see ExpireStaleRows).
            PostMessageW(window, WM_APP_TICK, GetTickCount(), 0);
        }
    }
    return 0;
}

unsigned __stdcall AddressWatcher(void*)
{
    WSAEVENT changeEvent = WSACreateEvent();
    if (changeEvent == WSA_INVALID_EVENT) {
        // Without the event there is nothing to wait on; waiting would spin.
        return 0;
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = changeEvent;
    HANDLE notification = INVALID_HANDLE_VALUE;

    // Where the notification cannot be armed the watcher still polls: the
    // polling exists for exactly the platforms whose notification fails.
    DWORD armed = g_platform.notifyAddrChange(&notification, &overlapped);
    bool notifying = armed == NO_ERROR || armed == ERROR_IO_PENDING || WSAGetLastError() == WSA_IO_PENDING;
    // One wait until the next comparison is due, which the stop event and
    // the notification end early: under Wine every wait and every poll of
    // an event is a round trip to the server.
    HANDLE events[2] = {g_stopEvent, changeEvent};
    DWORD eventCount = notifying ? 2 : 1;

    WatchTimes times = {false, 0, GetTickCount()};
    for (;;) {
        DWORD sincePoll = GetTickCount() - times.polledAt;
        DWORD untilPoll = sincePoll < kPollMs ? kPollMs - sincePoll : 0;
        DWORD wait = WaitForMultipleObjects(eventCount, events, FALSE, untilPoll);
        if (wait == WAIT_FAILED && !StopRequested(kWatchPassMs)) {
            continue;
        }
        if (wait == WAIT_OBJECT_0 || wait == WAIT_FAILED) {
            break;
        }
        if (wait == WAIT_OBJECT_0 + 1) {
            OnAddressChangeNotified(&notification, &overlapped, &times);
        } else {
            // Some platforms never signal the notification: compare the table too.
            PollAddressTable(&times);
        }
    }

    if (notifying) {
        g_platform.cancelIPChangeNotify(&overlapped);
    }
    WSACloseEvent(changeEvent);
    return 0;
}
