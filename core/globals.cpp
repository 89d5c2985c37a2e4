// Definitions of the application-wide values, with their values before start-up.
#include "core/globals.h"

HANDLE g_stopEvent = INVALID_HANDLE_VALUE;
std::atomic<uint32_t> g_subnetFilter{kAllInterfaces};
std::atomic<int32_t> g_autoRefresh{0};
std::atomic<HWND> g_mainWindow{nullptr};
HINSTANCE g_instance = nullptr;
