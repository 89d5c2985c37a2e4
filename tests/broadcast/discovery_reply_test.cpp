// The discovery reply parser: line splitting, zero bytes, field capacities
// and code-page conversion.
#include <gtest/gtest.h>

#include <locale.h>
#include <string.h>

#include <string>

#include "core/device_record.h"
#include "net/discovery_reply.h"

namespace {

using namespace std::string_literals;  // "..."s keeps embedded zero bytes

struct ReplyCase {
    const char* label;
    std::string payload;
    const wchar_t* name;
    const wchar_t* macText;
    const wchar_t* description;
    const wchar_t* portText;
};

DeviceRecord Parse(const std::string& payload)
{
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    ParseDiscoveryReply(payload.data(), payload.size(), &record);
    return record;
}

TEST(BroadcastReplyParser, LineCases)
{
    const ReplyCase cases[] = {
        {"four lines", "Speaker\r\n00-11-22-AA-BB-CC\r\nOrvel S1\r\n8080"s, L"Speaker",
         L"00-11-22-AA-BB-CC", L"Orvel S1", L"8080"},
        {"four lines, final CR LF", "Speaker\r\n00-11-22-AA-BB-CC\r\nOrvel S1\r\n8080\r\n"s,
         L"Speaker", L"00-11-22-AA-BB-CC", L"Orvel S1", L"8080"},
        {"three lines", "Speaker\r\n00-11-22-AA-BB-CC\r\nOrvel S1"s, L"Speaker",
         L"00-11-22-AA-BB-CC", L"Orvel S1", L"80"},
        {"three lines, final CR LF", "Speaker\r\n00-11-22-AA-BB-CC\r\nOrvel S1\r\n"s, L"Speaker",
         L"00-11-22-AA-BB-CC", L"Orvel S1", L"80"},
        {"empty fourth line ended by CR LF", "Speaker\r\nMAC\r\nOrvel S1\r\n\r\n"s, L"Speaker",
         L"MAC", L"Orvel S1", L""},
        {"empty second line", "Speaker\r\n\r\nOrvel S1"s, L"Speaker", L"", L"Orvel S1", L"80"},
        {"no CR LF at all", "Speaker 00-11-22-AA-BB-CC"s, L"Speaker 00-11-22-AA-BB-CC", L"", L"",
         L"80"},
        {"leading zero byte, no CR LF", "\0Speaker"s, L"", L"", L"", L"80"},
        {"leading zero byte, then lines", "\0Speaker\r\nMAC\r\nDesc\r\n81"s, L"", L"MAC", L"Desc",
         L"81"},
        {"zero inside a line", "Spe\0aker\r\nMAC\r\nDesc"s, L"Spe", L"MAC", L"Desc", L"80"},
        {"zero right before CR LF", "Speaker\0\r\nMAC"s, L"Speaker", L"MAC", L"", L"80"},
        {"CR LF found across zero bytes", "A\0\0\0B\r\nMAC"s, L"A", L"MAC", L"", L"80"},
        {"zero inside the last line", "Speaker\r\nMA\0C"s, L"Speaker", L"MA", L"", L"80"},
        {"zero starts the text after a final CR LF", "Speaker\r\n\0garbage"s, L"Speaker", L"",
         L"", L"80"},
        {"CR CR LF keeps the first CR", "Speaker\r\r\nMAC"s, L"Speaker\r", L"MAC", L"", L"80"},
        {"lone CR and lone LF do not end lines", "A\rB\nC\n\rD"s, L"A\rB\nC\n\rD", L"", L"",
         L"80"},
        {"fifth line ignored", "A\r\nB\r\nC\r\nD\r\nE\r\nF"s, L"A", L"B", L"C", L"D"},
        {"only CR LF", "\r\n"s, L"", L"", L"", L"80"},
        {"only CR LF pairs", "\r\n\r\n\r\n\r\n\r\n"s, L"", L"", L"", L""},
        {"trailing lone CR", "Speaker\r"s, L"Speaker\r", L"", L"", L"80"},
        {"port line with zero", "A\r\nB\r\nC\r\n80\0" "81"s, L"A", L"B", L"C", L"80"},
        {"request text is one line", "Discovery: Who is out there ?"s,
         L"Discovery: Who is out there ?", L"", L"", L"80"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.label);
        DeviceRecord record = Parse(c.payload);
        EXPECT_STREQ(record.name, c.name);
        EXPECT_STREQ(record.macText, c.macText);
        EXPECT_STREQ(record.description, c.description);
        EXPECT_STREQ(record.portText, c.portText);
    }
}

TEST(BroadcastReplyParser, EmptyPayloadOnlyPresetsThePort)
{
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    ParseDiscoveryReply("", 0, &record);
    EXPECT_STREQ(record.name, L"");
    EXPECT_STREQ(record.portText, L"80");
}

TEST(BroadcastReplyParser, ReadsNoByteBeyondTheLength)
{
    // The bytes after the given length would complete a fourth line.
    const char buffer[] = "A\r\nB\r\nC\r\n8080";
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    ParseDiscoveryReply(buffer, 9, &record);  // up to and including the third CR LF
    EXPECT_STREQ(record.description, L"C");
    EXPECT_STREQ(record.portText, L"80");

    memset(&record, 0, sizeof(record));
    ParseDiscoveryReply(buffer, 10, &record);  // one byte of the fourth line
    EXPECT_STREQ(record.portText, L"8");

    memset(&record, 0, sizeof(record));
    ParseDiscoveryReply(buffer, 8, &record);  // "A\r\nB\r\nC\r": no CR LF after C
    EXPECT_STREQ(record.description, L"C\r");
}

TEST(BroadcastReplyParser, TouchesOnlyTheTextFields)
{
    DeviceRecord record;
    memset(&record, 0x5A, sizeof(record));
    DeviceRecord before = record;
    const std::string payload = "Name\r\nMAC\r\nDesc\r\n8080"s;
    ParseDiscoveryReply(payload.data(), payload.size(), &record);

    EXPECT_EQ(record.arpMismatch, before.arpMismatch);
    EXPECT_EQ(record.arpConfirmed, before.arpConfirmed);
    EXPECT_EQ(0, memcmp(record.ipText, before.ipText, sizeof(record.ipText)));
    EXPECT_EQ(record.state, before.state);
    EXPECT_EQ(record.lastSeen, before.lastSeen);
    EXPECT_EQ(record.fromMdns, before.fromMdns);
    // Previous contents are replaced, terminator included.
    EXPECT_STREQ(record.name, L"Name");
    EXPECT_STREQ(record.macText, L"MAC");
    EXPECT_STREQ(record.description, L"Desc");
    EXPECT_STREQ(record.portText, L"8080");
}

TEST(BroadcastReplyParser, MissingLinesKeepWhatTheFieldsHeld)
{
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    CopyText(record.description, kDescriptionChars, L"kept");
    const std::string payload = "Name"s;
    ParseDiscoveryReply(payload.data(), payload.size(), &record);
    EXPECT_STREQ(record.name, L"Name");
    EXPECT_STREQ(record.description, L"kept");
}

// A field is filled with the first capacity - 1 characters of its line.
void ExpectRun(const wchar_t* field, size_t capacity, wchar_t character, size_t count)
{
    ASSERT_LT(count, capacity);
    for (size_t i = 0; i < count; ++i) {
        ASSERT_EQ(field[i], character) << "at " << i;
    }
    EXPECT_EQ(field[count], L'\0');
}

TEST(BroadcastReplyParser, LongestDatagramIsOneLineCutToTheName)
{
    std::string payload(1536, 'x');
    DeviceRecord record = Parse(payload);
    ExpectRun(record.name, kNameChars, L'x', 255);
    EXPECT_STREQ(record.macText, L"");
    EXPECT_STREQ(record.description, L"");
    EXPECT_STREQ(record.portText, L"80");
}

TEST(BroadcastReplyParser, OverlongLinesAreCutToEachFieldsCapacity)
{
    std::string payload = std::string(300, 'n') + "\r\n" + std::string(100, 'm') + "\r\n" +
                          std::string(256, 'd') + "\r\n" + std::string(64, '9') + "\r\nnext";
    DeviceRecord record = Parse(payload);
    ExpectRun(record.name, kNameChars, L'n', 255);
    ExpectRun(record.macText, kMacTextChars, L'm', 63);
    ExpectRun(record.description, kDescriptionChars, L'd', 255);
    ExpectRun(record.portText, kPortTextChars, L'9', 63);
}

TEST(BroadcastReplyParser, LinesThatJustFitAreKeptWhole)
{
    std::string payload = std::string(255, 'n') + "\r\n" + std::string(63, 'm') + "\r\n" +
                          std::string(255, 'd') + "\r\n" + std::string(63, '9');
    DeviceRecord record = Parse(payload);
    ExpectRun(record.name, kNameChars, L'n', 255);
    ExpectRun(record.macText, kMacTextChars, L'm', 63);
    ExpectRun(record.description, kDescriptionChars, L'd', 255);
    ExpectRun(record.portText, kPortTextChars, L'9', 63);
}

TEST(BroadcastReplyParser, OverlongLineDoesNotSpillIntoTheNextField)
{
    std::string payload = "Name\r\n" + std::string(200, 'm') + "\r\nDesc\r\n8080";
    DeviceRecord record = Parse(payload);
    EXPECT_STREQ(record.name, L"Name");
    ExpectRun(record.macText, kMacTextChars, L'm', 63);
    EXPECT_STREQ(record.description, L"Desc");
    EXPECT_STREQ(record.portText, L"8080");
}

// Runs a test body under a given C runtime locale and restores "C" after it.
class BroadcastReplyCodePage : public ::testing::Test {
protected:
    void TearDown() override { setlocale(LC_ALL, "C"); }

    void UseCodePage(const char* locale)
    {
        ASSERT_NE(setlocale(LC_ALL, locale), nullptr) << "locale " << locale;
    }
};

TEST_F(BroadcastReplyCodePage, WesternCodePageConvertsHighBytes)
{
    UseCodePage(".1252");
    // 0xE9 is e acute, 0x80 the euro sign in this code page (not U+0080).
    DeviceRecord record = Parse("Caf\xE9 \x80\r\nMAC"s);
    EXPECT_STREQ(record.name, L"Caf\u00E9 \u20AC");
    EXPECT_STREQ(record.macText, L"MAC");
}

TEST_F(BroadcastReplyCodePage, DoubleByteCharactersBecomeOneUnit)
{
    UseCodePage(".932");
    // 0x82 0xA0 is HIRAGANA LETTER A; 0x41 stays ASCII.
    DeviceRecord record = Parse("\x82\xA0\x41\r\n\x82\xA0\x82\xA0"s);
    EXPECT_STREQ(record.name, L"\u3042A");
    EXPECT_STREQ(record.macText, L"\u3042\u3042");
}

TEST_F(BroadcastReplyCodePage, InvalidSequenceIsReplacedAndStaysInItsField)
{
    UseCodePage(".932");
    // A lead byte followed by a byte that cannot trail it: the lead byte
    // becomes U+FFFD, the following byte is converted on its own.
    DeviceRecord record = Parse("A\x82 B\r\nMAC\r\nDesc\r\n81"s);
    EXPECT_STREQ(record.name, L"A\uFFFD B");
    EXPECT_STREQ(record.macText, L"MAC");
    EXPECT_STREQ(record.description, L"Desc");
    EXPECT_STREQ(record.portText, L"81");
}

TEST_F(BroadcastReplyCodePage, LeadByteAtLineEndDoesNotTakeTheLineBreak)
{
    UseCodePage(".932");
    // The lead byte has no trail byte inside its own line.
    DeviceRecord record = Parse("Name\x82\r\nMAC\x82"s);
    EXPECT_STREQ(record.name, L"Name\uFFFD");
    EXPECT_STREQ(record.macText, L"MAC\uFFFD");
    EXPECT_STREQ(record.portText, L"80");
}

TEST_F(BroadcastReplyCodePage, LeadByteBeforeZeroEndsAtTheZero)
{
    UseCodePage(".932");
    DeviceRecord record = Parse("AB\x82\0\x41\r\nMAC"s);
    EXPECT_STREQ(record.name, L"AB\uFFFD");
    EXPECT_STREQ(record.macText, L"MAC");
}

TEST_F(BroadcastReplyCodePage, CutLandsOnWholeCharacters)
{
    UseCodePage(".932");
    // 100 double-byte characters (200 bytes) in a 63-character field.
    std::string mac;
    for (int i = 0; i < 100; ++i) {
        mac += "\x82\xA0";
    }
    DeviceRecord record = Parse("N\r\n" + mac + "\r\nD");
    ExpectRun(record.macText, kMacTextChars, L'\u3042', 63);
    EXPECT_STREQ(record.description, L"D");
}

}  // namespace
