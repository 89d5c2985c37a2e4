// The time stamp of a --watch line: ISO 8601 local time with milliseconds
// and the offset from UTC, as 2026-12-08T07:30:05.123+01:00.
#pragma once

#include <windows.h>

constexpr int kScanTimeChars = 32;

// Formats local (a local time whose offset from UTC is offsetMinutes, east
// positive) into text (kScanTimeChars units).
void FormatScanTime(const SYSTEMTIME& local, int offsetMinutes, wchar_t* text);

// The current time so formatted.
void ScanTimeNow(wchar_t* text);
