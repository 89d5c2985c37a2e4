// Application-wide values shared by the window and the worker threads.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <atomic>

constexpr uint32_t kAllInterfaces = 0xFFFFFFFFu;

extern HANDLE g_stopEvent;                 // manual-reset; set when the main window is destroyed
// Written by the window thread only (and by start-up before the window
// exists); read by the workers.
extern std::atomic<uint32_t> g_subnetFilter;  // network address (network order) or kAllInterfaces
extern std::atomic<int32_t> g_autoRefresh;    // 0 or 1
extern std::atomic<HWND> g_mainWindow;        // null until the window exists
extern HINSTANCE g_instance;               // module that holds the resources
