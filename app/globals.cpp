// Definitions of the application-wide values, with their values before start-up.
#include "app/globals.h"

HANDLE g_stopEvent = INVALID_HANDLE_VALUE;
volatile uint32_t g_subnetFilter = kAllInterfaces;
volatile int32_t g_autoRefresh = 0;
HWND volatile g_mainWindow = nullptr;
HINSTANCE g_instance = nullptr;
