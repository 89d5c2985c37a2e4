// Loads and saves the persistent settings under HKEY_CURRENT_USER.
// Values of the wrong type or size, or out of range, are ignored and later
// overwritten.
//
// Values, all REG_DWORD unless said otherwise:
//   Subnet, Refresh          the subnet filter and the auto-refresh flag
//   WindowLeft, WindowTop,   the restored main window in GetWindowPlacement's
//   WindowRight,             coordinates (signed), in pixels at WindowDpi;
//   WindowBottom, WindowDpi  used only all together
//   WindowMaximised          1 when the window was maximised
//   ColumnShares             REG_BINARY: one 32-bit share per list column, in
//                            ten-thousandths of the list's width; only there
//                            once the user has changed a column's width, and
//                            only used when the number of columns agrees and
//                            the shares are usable (ui/column_shares.h)
//   SortColumn,              the list's order: a column index and 1 for
//   SortDescending           descending
#include "app/settings.h"

#include <windows.h>

#include "core/globals.h"
#include "rows/columns.h"

namespace {

// Reads a REG_DWORD of exactly 4 bytes; false leaves *value untouched.
bool ReadDword(HKEY key, const wchar_t* name, DWORD* value)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_DWORD || size != sizeof(DWORD)) {
        return false;
    }
    DWORD data = 0;
    size = sizeof(data);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data)) {
        return false;
    }
    *value = data;
    return true;
}

// Reads a REG_BINARY of exactly size bytes into data; on false, data may
// hold part of it.
bool ReadBinary(HKEY key, const wchar_t* name, void* data, DWORD size)
{
    DWORD type = 0;
    DWORD stored = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &stored) != ERROR_SUCCESS || type != REG_BINARY ||
        stored != size) {
        return false;
    }
    stored = size;
    return RegQueryValueExW(key, name, nullptr, &type, static_cast<BYTE*>(data), &stored) == ERROR_SUCCESS &&
           type == REG_BINARY && stored == size;
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// Coordinates may be negative (a monitor left of or above the main one):
// stored as the DWORD of the same bits.
bool ReadLong(HKEY key, const wchar_t* name, LONG* value)
{
    DWORD stored = 0;
    if (!ReadDword(key, name, &stored)) {
        return false;
    }
    *value = static_cast<LONG>(stored);
    return true;
}

void WriteLong(HKEY key, const wchar_t* name, LONG value)
{
    WriteDword(key, name, static_cast<DWORD>(value));
}

void LoadWindowPlace(HKEY key, WindowMemory* window)
{
    RECT place = {};
    DWORD dpi = 0;
    DWORD maximised = 0;
    if (!ReadLong(key, L"WindowLeft", &place.left) || !ReadLong(key, L"WindowTop", &place.top) ||
        !ReadLong(key, L"WindowRight", &place.right) || !ReadLong(key, L"WindowBottom", &place.bottom) ||
        !ReadDword(key, L"WindowDpi", &dpi) || !ReadDword(key, L"WindowMaximised", &maximised) ||
        !IsSanePlace(place, dpi)) {
        return;
    }
    window->hasPlace = true;
    window->place = place;
    window->dpi = dpi;
    window->maximised = maximised != 0;
}

void LoadWindowList(HKEY key, WindowMemory* window)
{
    ColumnShares shares = {};
    if (ReadBinary(key, L"ColumnShares", &shares, sizeof(shares)) && AreUsableColumnShares(shares)) {
        window->hasColumnShares = true;
        window->columnShares = shares;
    }
    DWORD column = 0;
    DWORD descending = 0;
    if (ReadDword(key, L"SortColumn", &column) && ReadDword(key, L"SortDescending", &descending) &&
        column < static_cast<DWORD>(kDeviceColumnCount) && IsOrderedColumn(static_cast<int>(column))) {
        window->hasOrder = true;
        window->order.column = static_cast<int>(column);
        window->order.descending = descending != 0;
    }
}

void SaveWindow(HKEY key, const WindowMemory& window)
{
    if (window.hasPlace) {
        WriteLong(key, L"WindowLeft", window.place.left);
        WriteLong(key, L"WindowTop", window.place.top);
        WriteLong(key, L"WindowRight", window.place.right);
        WriteLong(key, L"WindowBottom", window.place.bottom);
        WriteDword(key, L"WindowDpi", window.dpi);
        WriteDword(key, L"WindowMaximised", window.maximised ? 1 : 0);
    }
    if (window.hasColumnShares) {
        RegSetValueExW(key, L"ColumnShares", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&window.columnShares),
                       sizeof(window.columnShares));
    } else {
        RegDeleteValueW(key, L"ColumnShares");  // the columns are back to their default shares
    }
    if (window.hasOrder) {
        WriteDword(key, L"SortColumn", static_cast<DWORD>(window.order.column));
        WriteDword(key, L"SortDescending", window.order.descending ? 1 : 0);
    }
}

}  // namespace

// Opened for reading only: a key the user may read but not write still
// gives every setting.
void LoadSettings(WindowMemory* window)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    DWORD subnet = 0;
    if (ReadDword(key, L"Subnet", &subnet)) {
        // Stored as it lies in memory: the network address in network byte order.
        g_subnetFilter = subnet;
    }
    DWORD refresh = 0;
    if (ReadDword(key, L"Refresh", &refresh)) {
        g_autoRefresh = refresh != 0 ? 1 : 0;
    }
    if (window != nullptr) {
        LoadWindowPlace(key, window);
        LoadWindowList(key, window);
    }
    RegCloseKey(key);
}

void SaveSettings(const WindowMemory* window)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    WriteDword(key, L"Subnet", g_subnetFilter);
    WriteDword(key, L"Refresh", g_autoRefresh != 0 ? 1 : 0);
    if (window != nullptr) {
        SaveWindow(key, *window);
    }
    RegCloseKey(key);
}
