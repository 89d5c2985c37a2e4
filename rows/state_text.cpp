// The Status words, loaded from the executable's own string table.
#include "rows/state_text.h"

#include <windows.h>

#include "core/device_record.h"
#include "core/resource.h"

void StateText(int32_t state, wchar_t* text, int chars)
{
    if (chars <= 0) {
        return;
    }
    text[0] = L'\0';
    UINT id = 0;
    switch (state) {
    case DeviceStateLinkLocal:
        id = IDS_STATE_LINK_LOCAL;
        break;
    case DeviceStateOtherSubnet:
        id = IDS_STATE_OTHER_SUBNET;
        break;
    case DeviceStateConflict:
        id = IDS_STATE_CONFLICT;
        break;
    default:
        return;  // a device in the PC's subnet needs no words
    }
    if (LoadStringW(GetModuleHandleW(nullptr), id, text, chars) <= 0) {
        text[0] = L'\0';
    }
    text[chars - 1] = L'\0';
}
