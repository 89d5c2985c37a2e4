// Application-wide values shared by the window and the worker threads.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr uint32_t kAllInterfaces = 0xFFFFFFFFu;

extern HANDLE g_stopEvent;                 // manual-reset; set when the main window is destroyed
extern volatile uint32_t g_subnetFilter;   // network address (network order) or kAllInterfaces
extern volatile int32_t g_autoRefresh;     // 0 or 1
extern HWND volatile g_mainWindow;         // null until the window exists
extern HINSTANCE g_instance;               // module that holds the resources
