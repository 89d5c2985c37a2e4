// How a console run ends: its exit status from how it went, the listening
// time judged from one look at the clock, and the time stamps of --watch;
// and the --output file it proves writable before it listens.
#include <gtest/gtest.h>

#include <string>

#include "console/list.h"
#include "console/loop.h"
#include "console/status.h"
#include "console/watch_time.h"

namespace {

struct StatusCase {
    ScanOutcome outcome;  // watch, listed, interrupted, timeUp, writeStatus
    int status;
};

const StatusCase kStatusCases[] = {
    {{false, true, false, true, NO_ERROR}, kScanListed},
    {{false, false, false, true, NO_ERROR}, kScanNoneListed},
    {{false, true, true, false, NO_ERROR}, kScanInterrupted},
    {{false, false, true, false, NO_ERROR}, kScanInterrupted},
    {{false, true, false, true, ERROR_DISK_FULL}, kScanWriteFailed},
    {{false, true, false, true, ERROR_NO_DATA}, kScanWriteFailed},
    {{false, true, true, false, ERROR_BROKEN_PIPE}, kScanWriteFailed},
    // --watch ends by Ctrl+C or when its reader leaves; a full disk fails it.
    {{true, true, true, false, NO_ERROR}, kScanListed},
    {{true, false, true, false, NO_ERROR}, kScanNoneListed},
    {{true, true, false, false, ERROR_NO_DATA}, kScanListed},
    {{true, false, false, false, ERROR_BROKEN_PIPE}, kScanNoneListed},
    {{true, true, false, false, ERROR_DISK_FULL}, kScanWriteFailed},
    {{true, true, false, true, NO_ERROR}, kScanListed},
};

TEST(ScanStatus, FromTheRunsOutcome)
{
    for (const StatusCase& c : kStatusCases) {
        const ScanOutcome& o = c.outcome;
        SCOPED_TRACE(testing::Message() << "watch " << o.watch << " listed " << o.listed << " interrupted "
                                        << o.interrupted << " time up " << o.timeUp << " write " << o.writeStatus);
        EXPECT_EQ(ScanExitStatus(o), c.status);
    }
}

// A clock that moves on by step at every look.
DWORD g_clockNow = 0;
DWORD g_clockStep = 0;
DWORD SteppingClock()
{
    DWORD now = g_clockNow;
    g_clockNow += g_clockStep;
    return now;
}

TEST(ScanDeadline, OneLookAtTheClock)
{
    struct Case {
        DWORD now;
        DWORD step;
        bool left;
        DWORD wait;
    };
    // Start 1000 (and near the tick counter's wrap), limit 3000.
    const Case kCases[] = {
        {1000, 0, true, 3000}, {3999, 2, true, 1}, {4000, 0, false, 0}, {4001, 0, false, 0},
        {3990, 20, true, 10},  // the deadline passes between two looks
    };
    for (DWORD start : {1000u, 0xFFFFFF00u}) {
        for (const Case& c : kCases) {
            g_clockNow = c.now + (start - 1000);
            g_clockStep = c.step;
            ScanDeadline deadline = {SteppingClock, start, 3000};
            DWORD wait = 0;
            SCOPED_TRACE(testing::Message() << "start " << start << " now " << c.now);
            ASSERT_EQ(ScanTimeLeft(deadline, &wait), c.left);
            if (c.left) {
                EXPECT_EQ(wait, c.wait);
            }
        }
    }
    DWORD wait = 0;
    EXPECT_TRUE(ScanTimeLeft(ScanDeadline{SteppingClock, 0, 0}, &wait));
    EXPECT_EQ(wait, INFINITE);
}

TEST(ScanTime, Iso8601WithOffset)
{
    struct Case {
        int offset;
        const wchar_t* expected;
    };
    const Case kCases[] = {
        {60, L"2026-03-09T07:05:04.009+01:00"},
        {0, L"2026-03-09T07:05:04.009+00:00"},
        {-300, L"2026-03-09T07:05:04.009-05:00"},
        {330, L"2026-03-09T07:05:04.009+05:30"},
        {-570, L"2026-03-09T07:05:04.009-09:30"},
    };
    SYSTEMTIME local = {};
    local.wYear = 2026;
    local.wMonth = 3;
    local.wDay = 9;
    local.wHour = 7;
    local.wMinute = 5;
    local.wSecond = 4;
    local.wMilliseconds = 9;
    for (const Case& c : kCases) {
        wchar_t text[kScanTimeChars];
        FormatScanTime(local, c.offset, text);
        EXPECT_EQ(std::wstring(text), std::wstring(c.expected));
    }
}

struct OutputFileCase {
    const char* what;
    const wchar_t* name;  // in a fresh folder under %TEMP%
    bool existing;        // holds "old" before the check
    bool heldOpen;        // by another, as a spreadsheet holds a file it shows
    DWORD status;
};

const OutputFileCase kOutputFileCases[] = {
    {"a new file", L"new.csv", false, false, NO_ERROR},
    {"an existing file", L"old.csv", true, false, NO_ERROR},
    {"a file held open", L"held.csv", true, true, ERROR_SHARING_VIOLATION},
    {"a folder that does not exist", L"missing\\list.csv", false, false, ERROR_PATH_NOT_FOUND},
};

// The check leaves no file behind and an existing one as it was.
TEST(ScanOutputFile, CheckedWithoutChangingIt)
{
    wchar_t folder[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
    lstrcatW(folder, L"ndt-output-check");
    CreateDirectoryW(folder, nullptr);
    for (const OutputFileCase& c : kOutputFileCases) {
        SCOPED_TRACE(c.what);
        std::wstring path = std::wstring(folder) + L"\\" + c.name;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.existing) {
            HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(file, "old", 3, &written, nullptr));
            CloseHandle(file);
        }
        if (c.heldOpen) {
            held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        EXPECT_EQ(CheckScanOutputFile(path.c_str()), c.status);
        if (held != INVALID_HANDLE_VALUE) {
            CloseHandle(held);
        }
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        bool exists = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
        EXPECT_EQ(exists, c.existing);
        if (exists) {
            EXPECT_EQ(data.nFileSizeLow, 3u);
        }
        DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(folder);
}

}  // namespace
