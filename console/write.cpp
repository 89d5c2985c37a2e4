// UTF-8 (or console UTF-16) output of the console program, and the line on
// standard error.
#include "console/write.h"

#include <stdio.h>

namespace {

DWORD WriteConsoleText(HANDLE handle, const wchar_t* text, size_t length)
{
    // The console shows any character; a byte stream would need its code page.
    while (length > 0) {
        DWORD chunk = length > 8192 ? 8192 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteConsoleW(handle, text, chunk, &written, nullptr)) {
            return GetLastError();
        }
        if (written == 0) {
            return ERROR_WRITE_FAULT;
        }
        text += written;
        length -= written;
    }
    return NO_ERROR;
}

DWORD WriteBytes(HANDLE handle, const char* bytes, DWORD count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes, count, &written, nullptr)) {
            return GetLastError();
        }
        if (written == 0) {
            return ERROR_WRITE_FAULT;
        }
        bytes += written;
        count -= written;
    }
    return NO_ERROR;
}

}  // namespace

DWORD WriteScanText(HANDLE handle, const wchar_t* text, size_t length)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return ERROR_INVALID_HANDLE;
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        return WriteConsoleText(handle, text, length);
    }
    if (length == 0) {
        return NO_ERROR;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return GetLastError();
    }
    char* utf8 = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<size_t>(bytes)));
    if (utf8 == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8, bytes, nullptr, nullptr);
    DWORD status = WriteBytes(handle, utf8, static_cast<DWORD>(bytes));
    HeapFree(GetProcessHeap(), 0, utf8);
    return status;
}

bool IsReaderGone(DWORD status)
{
    return status == ERROR_NO_DATA || status == ERROR_BROKEN_PIPE || status == ERROR_PIPE_NOT_CONNECTED;
}

void ScanError(const wchar_t* text)
{
    // Cut two units short of the buffer, so that the line end always fits.
    constexpr int kLineChars = 512;
    wchar_t line[kLineChars];
    _snwprintf(line, kLineChars - 2, L"NetworkDiscoveryScan: %ls", text);
    line[kLineChars - 3] = L'\0';
    for (wchar_t* p = line; *p != L'\0'; ++p) {
        if (*p == L'\r' || *p == L'\n') {
            *p = L' ';
        }
    }
    lstrcatW(line, L"\r\n");
    WriteScanText(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<size_t>(lstrlenW(line)));
}
