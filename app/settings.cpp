// Loads and saves the two persistent settings under HKEY_CURRENT_USER.
// Values of the wrong type or size are ignored and later overwritten.
#include "app/settings.h"

#include <windows.h>

#include "core/globals.h"

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

void WriteDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

// Opened for reading only: a key the user may read but not write still
// gives both settings.
void LoadSettings()
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
    RegCloseKey(key);
}

void SaveSettings()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    WriteDword(key, L"Subnet", g_subnetFilter);
    WriteDword(key, L"Refresh", g_autoRefresh != 0 ? 1 : 0);
    RegCloseKey(key);
}
