// When the empty list explains itself, and the diagnostics report saved as
// UTF-8 through the save dialog's seam.
#include <windows.h>

#include <string.h>

#include <gtest/gtest.h>

#include "core/globals.h"
#include "core/platform.h"
#include "ui/diagnostics_dialog.h"
#include "ui/empty_list_rule.h"

namespace {

TEST(EmptyListExplanation, ShowsOnlyOnAnEmptyListAfterTheDelay)
{
    const DWORD delay = kEmptyListExplanationDelayMs;
    struct Case {
        int rows;
        DWORD msSinceRefresh;
        bool wanted;
    } cases[] = {
        {0, 0, false},           // just refreshed
        {0, delay - 1, false},   // answers may still come
        {0, delay, true},
        {0, 3600000, true},      // stays while nothing comes
        {1, delay, false},       // a row hides it at once
        {5, 3600000, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.wanted, EmptyListExplanationWanted(c.rows, c.msSinceRefresh))
            << c.rows << " rows, " << c.msSinceRefresh << " ms";
    }
}

wchar_t g_reportPath[MAX_PATH];

BOOL WINAPI ChooseReportPath(LPOPENFILENAMEW dialog)
{
    lstrcpynW(dialog->lpstrFile, g_reportPath, static_cast<int>(dialog->nMaxFile));
    return TRUE;
}

TEST(DiagnosticsReport, SaveWritesTheTextAsUtf8ToTheChosenFile)
{
    g_instance = GetModuleHandleW(nullptr);
    wchar_t directory[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"ndt", 0, g_reportPath);
    const wchar_t text[] = L"Ger\u00E4t \u2026\r\n";
    PlatformServices saved = g_platform;
    g_platform.getSaveFileName = ChooseReportPath;
    DWORD status = SaveDiagnosticsReport(nullptr, text, lstrlenW(text));
    g_platform = saved;
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), status);

    HANDLE file = CreateFileW(g_reportPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    unsigned char bytes[64] = {};
    DWORD read = 0;
    ReadFile(file, bytes, sizeof(bytes), &read, nullptr);
    CloseHandle(file);
    DeleteFileW(g_reportPath);
    const unsigned char expected[] = {0xEF, 0xBB, 0xBF, 'G', 'e', 'r', 0xC3, 0xA4, 't', ' ', 0xE2, 0x80, 0xA6, '\r', '\n'};
    ASSERT_EQ(sizeof(expected), read);
    EXPECT_EQ(0, memcmp(expected, bytes, read));
}

}  // namespace
