// Allocation and hand-off of device records between threads.
#include "core/device_record.h"

#include <windows.h>

#include "core/app_messages.h"
#include "core/globals.h"

DeviceRecord* AllocateDeviceRecord()
{
    return static_cast<DeviceRecord*>(GlobalAlloc(GPTR, sizeof(DeviceRecord)));
}

void FreeDeviceRecord(DeviceRecord* record)
{
    if (record != nullptr) {
        GlobalFree(record);
    }
}

bool PostDeviceRecord(DeviceRecord* record)
{
    // A null window would post to this thread's own queue, which nobody reads.
    HWND window = g_mainWindow;
    if (window != nullptr && PostMessageW(window, WM_APP_DEVICE, sizeof(DeviceRecord),
                     reinterpret_cast<LPARAM>(record))) {
        return true;
    }
    // Nobody will ever receive it: the producer keeps ownership and frees it.
    FreeDeviceRecord(record);
    return false;
}
