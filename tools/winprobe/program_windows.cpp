// Window lookup and line output for the winprobe. Texts are fetched with
// WM_GETTEXT, which the system copies between processes.
#include "tools/winprobe/program_windows.h"

#include <tlhelp32.h>

#include <stdio.h>

namespace {

const wchar_t kMainWindowClass[] = L"KVRWIN32";
const wchar_t kProgramExe[] = L"NetworkDiscoveryTool.exe";

struct TopLevelSearch {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
    TopLevelSearch* search = reinterpret_cast<TopLevelSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) search->windows.push_back(window);
    return TRUE;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0],
                            size, nullptr, nullptr);
    }
    return result;
}

std::wstring Escape(const std::wstring& text) {
    std::wstring result;
    for (wchar_t c : text) {
        if (c == L'\t') result += L"\\t";
        else if (c == L'\r') result += L"\\r";
        else if (c == L'\n') result += L"\\n";
        else result += c;
    }
    return result;
}

}  // namespace

HWND FindMainWindow() { return FindWindowW(kMainWindowClass, nullptr); }

DWORD FindProgramProcessId() {
    HWND main = FindMainWindow();
    if (main != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(main, &owner);
        return owner;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    DWORD found = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, kProgramExe) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

std::vector<HWND> VisibleTopLevelWindows(DWORD processId) {
    TopLevelSearch search = {processId, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

HWND FindWindowByCaption(DWORD processId, const std::wstring& caption) {
    for (HWND window : VisibleTopLevelWindows(processId)) {
        if (WindowText(window) == caption) return window;
    }
    return nullptr;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = L"";
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &copied)) {
        GetWindowTextW(window, buffer, 1024);  // the caption the system keeps
    }
    buffer[1023] = L'\0';
    return buffer;
}

std::wstring ClassName(HWND window) {
    wchar_t buffer[256] = L"";
    GetClassNameW(window, buffer, 256);
    return buffer;
}

void PrintLine(const std::vector<std::wstring>& fields) {
    std::wstring line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += L'\t';
        line += Escape(fields[i]);
    }
    line += L'\n';
    std::string bytes = ToUtf8(line);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::wstring Number(long long value) { return std::to_wstring(value); }

std::wstring HexHandle(HWND window) {
    wchar_t buffer[32];
    swprintf(buffer, 32, L"0x%llX", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return buffer;
}

void PrintControls(HWND parent) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        std::wstring className = ClassName(child);
        long long checked = 0;
        if (lstrcmpiW(className.c_str(), L"Button") == 0) {
            DWORD_PTR state = 0;
            if (SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state)) {
                checked = static_cast<long long>(state);
            }
        }
        PrintLine({L"control", Number(GetDlgCtrlID(child)), className, WindowText(child),
                   Number(IsWindowEnabled(child) ? 1 : 0), Number(IsWindowVisible(child) ? 1 : 0),
                   Number(checked)});
        // Its place in the parent's client area, to check layouts.
        RECT rect = {};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
        PrintLine({L"controlrect", Number(GetDlgCtrlID(child)), Number(rect.left), Number(rect.top),
                   Number(rect.right), Number(rect.bottom)});
    }
}

void PrintFocus(HWND window) {
    GUITHREADINFO input = {};
    input.cbSize = sizeof(input);
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &input) && input.hwndFocus != nullptr) {
        PrintLine({L"focus", Number(GetDlgCtrlID(input.hwndFocus))});
    }
}
