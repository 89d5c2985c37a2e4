// The modal About box. Its version line is read from the executable's own
// version resource, so that it always agrees with the file's properties.
#include <windows.h>
#include <winver.h>

#include <stdio.h>

#include "ui/main_window.h"
#include "core/resource.h"

namespace {

// "Version 1.7", with the third and fourth parts only when they are not 0;
// the line stays empty when the resource cannot be read.
void ShowOwnVersion(HWND dialog)
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    DWORD size = length > 0 && length < MAX_PATH ? GetFileVersionInfoSizeW(path, &ignored) : 0;
    void* data = size > 0 ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (data != nullptr && GetFileVersionInfoW(path, 0, size, data) &&
        VerQueryValueW(data, L"\\", reinterpret_cast<void**>(&info), &infoSize) && info != nullptr &&
        infoSize >= sizeof(VS_FIXEDFILEINFO) && info->dwSignature == VS_FFI_SIGNATURE) {
        unsigned parts[4] = {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                             HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
        wchar_t text[64];
        if (parts[3] != 0) {
            _snwprintf(text, 64, L"Version %u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
        } else if (parts[2] != 0) {
            _snwprintf(text, 64, L"Version %u.%u.%u", parts[0], parts[1], parts[2]);
        } else {
            _snwprintf(text, 64, L"Version %u.%u", parts[0], parts[1]);
        }
        text[63] = L'\0';
        SetDlgItemTextW(dialog, IDC_ABOUT_VERSION, text);
    }
    if (data != nullptr) {
        HeapFree(GetProcessHeap(), 0, data);
    }
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowOwnVersion(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
