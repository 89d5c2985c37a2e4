// The console program's CSV and JSON lines for rows whose texts a device
// chose: quotes, backslashes, line breaks, control characters and a
// would-be spreadsheet formula. One row per row and format; every control
// character through JSON and back; the window's saved list.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "console/output.h"
#include "json_check.h"

namespace {

void FakeHeardOn(const DeviceRow*, wchar_t* text, int chars)
{
    lstrcpynW(text, L"192.168.77.10", chars);
}

struct Case {
    const wchar_t* ip;
    const wchar_t* name;
    const wchar_t* description;
    int32_t arpConfirmed;
    int32_t state;
    uint32_t ways;
    uint32_t changes;
    ScanFormat format;
    const wchar_t* expected;
};

const Case kCases[] = {
    {L"192.168.77.30", L"A \"quoted\" \\ name", L"Orvel IO-8", 1, DeviceStateConflict,
     kAnsweredBroadcast | kAnsweredMdns, kRowChangedState | kScanChangedWays, kScanCsv,
     L"\"new\",\"192.168.77.30\",\"A \"\"quoted\"\" \\ name\",\"02-4F-56-00-70-31\",\"Orvel IO-8\",\"Y\","
     L"\"Conflict\",\"both\",\"http://192.168.77.30:8080/\",\"192.168.77.10\",\"\",\"status answered\","
     L"\"2026-12-08T07:30:05.123+01:00\"\r\n"},
    {L"192.168.77.30", L"A \"quoted\" \\ name", L"Orvel IO-8", 1, DeviceStateConflict,
     kAnsweredBroadcast | kAnsweredMdns, kRowChangedName | kRowChangedPort | kRowChangedArp, kScanJson,
     L"{\"time\":\"2026-12-08T07:30:05.123+01:00\",\"event\":\"new\",\"changes\":[\"name\",\"arp\"],"
     L"\"ip\":\"192.168.77.30\",\"name\":\"A \\\"quoted\\\" \\\\ name\","
     L"\"mac\":\"02-4F-56-00-70-31\",\"description\":\"Orvel IO-8\",\"arp\":\"Y\",\"status\":\"Conflict\","
     L"\"answered\":\"both\",\"page\":\"http://192.168.77.30:8080/\",\"heardOn\":\"192.168.77.10\","
     L"\"instance\":\"\"}\r\n"},
    // A line break in a field keeps the row on one line; the formula is defused.
    {L"169.254.7.20", L"=cmd|' /C calc'!A0", L"Orvel\r\nIO-8\x01", 0, DeviceStateLinkLocal, kAnsweredMdns, 0,
     kScanCsv,
     L"\"new\",\"169.254.7.20\",\"'=cmd|' /C calc'!A0\",\"02-4F-56-00-70-31\",\"Orvel  IO-8 \",\" \","
     L"\"Link-local\",\"mDNS\",\"http://169.254.7.20:8080/\",\"169.254.7.10\",\"X200 \"\"Lobby\"\"\",\"\","
     L"\"2026-12-08T07:30:05.123+01:00\"\r\n"},
    {L"169.254.7.20", L"=cmd|' /C calc'!A0", L"Orvel\r\nIO-8\x01", 0, DeviceStateLinkLocal, kAnsweredMdns, 0,
     kScanJson,
     L"{\"time\":\"2026-12-08T07:30:05.123+01:00\",\"event\":\"new\",\"changes\":[],"
     L"\"ip\":\"169.254.7.20\",\"name\":\"=cmd|' /C calc'!A0\",\"mac\":\"02-4F-56-00-70-31\","
     L"\"description\":\"Orvel\\u000d\\u000aIO-8\\u0001\",\"arp\":\"\",\"status\":\"Link-local\","
     L"\"answered\":\"mDNS\",\"page\":\"http://169.254.7.20:8080/\",\"heardOn\":\"169.254.7.10\","
     L"\"instance\":\"X200 \\\"Lobby\\\"\"}\r\n"},
};

void FillRow(DeviceRow* row, const wchar_t* ip, const wchar_t* name, const wchar_t* description)
{
    memset(row, 0, sizeof(*row));
    row->record = &row->shown;
    wcscpy(row->shown.ipText, ip);
    wcscpy(row->shown.name, name);
    wcscpy(row->shown.macText, L"02-4F-56-00-70-31");
    wcscpy(row->shown.description, description);
    wcscpy(row->shown.portText, L"8080");
}

TEST(ScanOutput, DeviceChosenTexts)
{
    for (const Case& c : kCases) {
        DeviceRow row;
        FillRow(&row, c.ip, c.name, c.description);
        row.shown.arpConfirmed = c.arpConfirmed;
        row.shown.state = c.state;
        row.ways = c.ways;
        // The record's own interface comes before the one the resolver guesses.
        if (c.ways == kAnsweredMdns) {
            row.shown.heardOn = 0x0A07FEA9u;  // 169.254.7.10
            wcscpy(row.shown.instanceName, L"X200 \"Lobby\"");
        }

        TextBuffer text;
        InitTextBuffer(&text);
        ScanEvent event = {L"new", &row, c.changes, L"2026-12-08T07:30:05.123+01:00"};
        FormatScanEvent(&text, event, c.format, FakeHeardOn);
        ASSERT_FALSE(text.failed);
        EXPECT_EQ(std::wstring(text.text), std::wstring(c.expected));
        FreeTextBuffer(&text);
    }
}

// Every control character a device may send comes back from the JSON list
// as it was, each escaped as \u00XX.
TEST(ScanOutput, JsonKeepsEveryControlCharacter)
{
    std::wstring name;
    for (wchar_t c = 1; c < 0x20; ++c) {
        name += c;
    }
    name += static_cast<wchar_t>(0x7F);
    DeviceRow row;
    FillRow(&row, L"192.168.77.21", name.c_str(), L"Orvel \"IO-8\" \\");
    const DeviceRow* rows[] = {&row, &row};
    TextBuffer text;
    InitTextBuffer(&text);
    FormatScanList(&text, rows, 2, kScanJson, FakeHeardOn);
    ASSERT_FALSE(text.failed);

    std::wstring json(text.text);
    FreeTextBuffer(&text);
    EXPECT_NE(json.find(L"\\u000a\\u000b"), std::wstring::npos);
    EXPECT_NE(json.find(L"\\u001f\\u007f"), std::wstring::npos);
    std::vector<std::wstring> names;
    ASSERT_TRUE(JsonListReader(json).Read(L"name", &names)) << std::string(json.begin(), json.end());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], name);
}

// --output writes what the window's "Save list as" writes: its columns only.
TEST(ScanOutput, SavedListHasTheWindowsColumns)
{
    DeviceRow row;
    FillRow(&row, L"192.168.77.22", L"+IO-8 Store", L"Orvel IO-8");
    row.shown.arpMismatch = 1;
    row.shown.state = DeviceStateOtherSubnet;
    const DeviceRow* rows[] = {&row};
    TextBuffer text;
    InitTextBuffer(&text);
    FormatSavedList(&text, rows, 1);
    EXPECT_EQ(std::wstring(text.text),
              L"\"IP Address\",\"Name\",\"MAC Address\",\"Description\",\"ARP\",\"Status\"\r\n"
              L"\"192.168.77.22\",\"'+IO-8 Store\",\"02-4F-56-00-70-31\",\"Orvel IO-8\",\"*\",\"Other subnet\"\r\n");
    FreeTextBuffer(&text);
}

}  // namespace
