// Device list upkeep.
#include "ui/device_list.h"

#include "app/device_record.h"

LRESULT MergeDeviceRecord(HWND, WPARAM, LPARAM lParam)
{
    FreeDeviceRecord(reinterpret_cast<DeviceRecord*>(lParam));
    return 0;
}

LRESULT ExpireStaleRows(HWND, WPARAM, LPARAM)
{
    return 0;
}

LRESULT ColourDeviceRow(HWND, WPARAM, LPARAM)
{
    return 0;
}

LRESULT OpenDevicePage(HWND, WPARAM, LPARAM)
{
    return 0;
}
