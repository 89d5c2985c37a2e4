// Private messages that the background threads post to the main window.
// WM_APP based: WM_USER + n collides with dialog messages.
#pragma once

#include <windows.h>

#define WM_APP_IPCHANGE (WM_APP + 0)  // interface table rebuilt; wParam, lParam 0
#define WM_APP_DEVICE (WM_APP + 1)    // wParam sizeof(DeviceRecord), lParam DeviceRecord*
#define WM_APP_TICK (WM_APP + 2)      // for row expiry and the count; wParam GetTickCount() when posted
