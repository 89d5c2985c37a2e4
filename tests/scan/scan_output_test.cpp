// The console program's CSV and JSON lines for rows whose texts a device
// chose: quotes, backslashes, line breaks, control characters and a
// would-be spreadsheet formula. One row per row and format.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app/scan_output.h"

namespace {

struct Case {
    const wchar_t* ip;
    const wchar_t* name;
    const wchar_t* description;
    int32_t arpConfirmed;
    int32_t state;
    uint32_t ways;
    ScanFormat format;
    const wchar_t* expected;
};

const Case kCases[] = {
    {L"192.168.77.30", L"A \"quoted\" \\ name", L"Orvel IO-8", 1, DeviceStateConflict,
     kAnsweredBroadcast | kAnsweredMdns, kScanCsv,
     L"\"new\",\"192.168.77.30\",\"A \"\"quoted\"\" \\ name\",\"02-4F-56-00-70-31\",\"Orvel IO-8\",\"Y\","
     L"\"Conflict\",\"both\"\r\n"},
    {L"192.168.77.30", L"A \"quoted\" \\ name", L"Orvel IO-8", 1, DeviceStateConflict,
     kAnsweredBroadcast | kAnsweredMdns, kScanJson,
     L"{\"event\":\"new\",\"ip\":\"192.168.77.30\",\"name\":\"A \\\"quoted\\\" \\\\ name\","
     L"\"mac\":\"02-4F-56-00-70-31\",\"description\":\"Orvel IO-8\",\"arp\":\"Y\",\"status\":\"Conflict\","
     L"\"answered\":\"both\"}\r\n"},
    // A line break in a field keeps the row on one line; the formula is defused.
    {L"169.254.7.20", L"=cmd|' /C calc'!A0", L"Orvel\r\nIO-8\x01", 0, DeviceStateLinkLocal, kAnsweredMdns,
     kScanCsv,
     L"\"new\",\"169.254.7.20\",\"'=cmd|' /C calc'!A0\",\"02-4F-56-00-70-31\",\"Orvel  IO-8 \",\" \","
     L"\"Link-local\",\"mDNS\"\r\n"},
    {L"169.254.7.20", L"=cmd|' /C calc'!A0", L"Orvel\r\nIO-8\x01", 0, DeviceStateLinkLocal, kAnsweredMdns,
     kScanJson,
     L"{\"event\":\"new\",\"ip\":\"169.254.7.20\",\"name\":\"=cmd|' /C calc'!A0\",\"mac\":\"02-4F-56-00-70-31\","
     L"\"description\":\"Orvel\\r\\nIO-8\\u0001\",\"arp\":\"\",\"status\":\"Link-local\",\"answered\":\"mDNS\"}\r\n"},
};

TEST(ScanOutput, DeviceChosenTexts)
{
    for (const Case& c : kCases) {
        DeviceRow row;
        memset(&row, 0, sizeof(row));
        wcscpy(row.shown.ipText, c.ip);
        wcscpy(row.shown.name, c.name);
        wcscpy(row.shown.macText, L"02-4F-56-00-70-31");
        wcscpy(row.shown.description, c.description);
        row.shown.arpConfirmed = c.arpConfirmed;
        row.shown.state = c.state;
        row.ways = c.ways;

        TextBuffer text;
        InitTextBuffer(&text);
        FormatScanEvent(&text, L"new", &row, c.format);
        ASSERT_FALSE(text.failed);
        EXPECT_EQ(std::wstring(text.text), std::wstring(c.expected));
        FreeTextBuffer(&text);
    }
}

}  // namespace
