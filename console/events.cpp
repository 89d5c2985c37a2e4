// The console's event sink. Workers of several interfaces call it at once:
// each line is built whole (time, text, line end) and written in one call
// under a lock, so that lines never interleave.
#include "console/events.h"

#include <windows.h>
#include <stdio.h>

#include "console/write.h"
#include "core/diagnostics.h"

namespace {

SRWLOCK g_eventLock = SRWLOCK_INIT;

void WriteEventLine(const wchar_t* text)
{
    // The local time to the millisecond lets a reader match lines with a
    // capture of the same run.
    SYSTEMTIME now;
    GetLocalTime(&now);
    constexpr int kLineChars = 512;
    wchar_t line[kLineChars];
    int length = _snwprintf(line, kLineChars - 3, L"%02u:%02u:%02u.%03u %ls", now.wHour, now.wMinute,
                            now.wSecond, now.wMilliseconds, text != nullptr ? text : L"");
    // A longer line is cut, never split: the cut keeps room for the line end.
    if (length < 0 || length > kLineChars - 3) {
        length = kLineChars - 3;
    }
    // Names in answers are the network's: a line break in one must not
    // start a line that looks like another event.
    for (int i = 0; i < length; ++i) {
        if (line[i] < L' ') {
            line[i] = L' ';
        }
    }
    line[length] = L'\r';
    line[length + 1] = L'\n';
    line[length + 2] = L'\0';
    AcquireSRWLockExclusive(&g_eventLock);
    WriteScanText(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<size_t>(length + 2));
    ReleaseSRWLockExclusive(&g_eventLock);
}

}  // namespace

void StartScanEvents()
{
    diag::SetEventSink(WriteEventLine);
}

void StopScanEvents()
{
    diag::SetEventSink(nullptr);
}
