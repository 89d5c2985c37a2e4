// Allocation and hand-off of device records between threads.
#include "app/device_record.h"

#include <windows.h>

#include "app/app_messages.h"
#include "app/globals.h"

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

void CopyText(wchar_t* dest, size_t capacity, const wchar_t* src)
{
    if (capacity == 0) {
        return;
    }
    size_t i = 0;
    if (src != nullptr) {
        for (; i + 1 < capacity && src[i] != L'\0'; ++i) {
            dest[i] = src[i];
        }
    }
    dest[i] = L'\0';
}
