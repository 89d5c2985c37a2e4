// ISO 8601 time stamps for --watch lines.
#include "console/watch_time.h"

#include <stdio.h>
#include <stdlib.h>

void FormatScanTime(const SYSTEMTIME& local, int offsetMinutes, wchar_t* text)
{
    const wchar_t* sign = offsetMinutes < 0 ? L"-" : L"+";
    int offset = abs(offsetMinutes);
    _snwprintf(text, kScanTimeChars, L"%04u-%02u-%02uT%02u:%02u:%02u.%03u%ls%02d:%02d",
               local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
               local.wMilliseconds, sign, offset / 60, offset % 60);
    text[kScanTimeChars - 1] = L'\0';
}

void ScanTimeNow(wchar_t* text)
{
    FILETIME utc;
    FILETIME local;
    GetSystemTimeAsFileTime(&utc);
    SYSTEMTIME shown;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &shown)) {
        local = utc;
        FileTimeToSystemTime(&utc, &shown);
    }
    ULARGE_INTEGER u = {{utc.dwLowDateTime, utc.dwHighDateTime}};
    ULARGE_INTEGER l = {{local.dwLowDateTime, local.dwHighDateTime}};
    // 100 ns units; offsets are whole minutes.
    long long difference = static_cast<long long>(l.QuadPart) - static_cast<long long>(u.QuadPart);
    int offsetMinutes = static_cast<int>((difference + (difference < 0 ? -300000000LL : 300000000LL)) / 600000000LL);
    FormatScanTime(shown, offsetMinutes, text);
}
