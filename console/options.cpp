// Parsing of the console program's arguments. Strict: a value out of range,
// an unknown or repeated option, or a malformed address is an error, never
// a silent default. The options are one table: each one's name, whether it
// takes a value, and how it reads it.
#include "console/options.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "core/device_table.h"
#include "core/globals.h"
#include "core/text_copy.h"
#include "core/web_address.h"
#include "core/resource.h"

const wchar_t kScanUsage[] =
    L"Usage: NetworkDiscoveryScan [--seconds N] [--format table|csv|json | --output FILE]\r\n"
    L"                            [--subnet A.B.C.D[/N]] [--broadcast-only | --mdns-only]\r\n"
    L"                            [--watch | --diagnose] [--verbose] [--version]\r\n"
    L"\r\n"
    L"Lists the Orvel devices that answer on the local IPv4 networks.\r\n"
    L"\r\n"
    L"  --seconds N       listen N seconds (1-3600, default 3), then print the list;\r\n"
    L"                    with --watch, stop watching after N seconds\r\n"
    L"  --format F        table (default), csv, or json (any letter case)\r\n"
    L"  --output FILE     write the list to FILE as the window's \"Save list as\" does\r\n"
    L"                    (CSV, UTF-8 with a byte-order mark); not with --watch\r\n"
    L"  --subnet A.B.C.D  only the interface whose subnet holds this address;\r\n"
    L"                    A.B.C.D/N: only the interface on exactly that subnet\r\n"
    L"  --broadcast-only  ask only by the broadcast request\r\n"
    L"  --mdns-only       ask only by multicast DNS\r\n"
    L"  --watch           keep asking, with rows leaving after 3 s of silence, and\r\n"
    L"                    print one line per change with its time: new, changed\r\n"
    L"                    (naming the fields), conflict (a listed row now shares its\r\n"
    L"                    address), gone; Ctrl+C, or a reader that went away, ends\r\n"
    L"  --diagnose        listen as a listing does, then print instead of the list\r\n"
    L"                    what was tried and heard on each interface, the firewall\r\n"
    L"                    and the likely causes of missing devices (table or json;\r\n"
    L"                    not with csv, --output or --watch)\r\n"
    L"  --verbose         print one line per event to standard error while it runs\r\n"
    L"                    (requests sent, answers and what became of them, multicast\r\n"
    L"                    DNS questions and answers)\r\n"
    L"  --version         print the version and end\r\n"
    L"\r\n"
    L"Exit status: 0 when what was printed lists a device (with --diagnose: when a\r\n"
    L"device was found), 1 when it lists none, 2 on a usage error or when discovery\r\n"
    L"cannot run, 3 when the output could not be written, 4 when Ctrl+C ended a\r\n"
    L"listing before its time was up (the list, or the report, so far is printed).\r\n";

const wchar_t kScanVersionLine[] = L"NetworkDiscoveryScan " NDT_VERSION_TEXT L"\r\n";

namespace {

void Say(wchar_t* message, int chars, const wchar_t* what, const wchar_t* argument)
{
    if (chars <= 0) {
        return;
    }
    _snwprintf(message, static_cast<size_t>(chars), L"%ls: %ls", argument, what);
    message[chars - 1] = L'\0';
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Decimal digits only, no sign, within [low, high].
bool ParseNumber(const wchar_t* text, uint32_t low, uint32_t high, uint32_t* value)
{
    if (text[0] == L'\0') {
        return false;
    }
    uint32_t number = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (!IsDigit(*p)) {
            return false;
        }
        number = number * 10 + static_cast<uint32_t>(*p - L'0');
        if (number > high) {
            return false;  // also ends any overflow
        }
    }
    if (number < low) {
        return false;
    }
    *value = number;
    return true;
}

// A dotted quad as the device table and the page addresses take it
// (canonical: no leading zeros); the result in network byte order.
bool ParseDottedQuad(const wchar_t* text, uint32_t* address)
{
    unsigned long value = 0;
    if (!ParseDottedQuadText(text, &value)) {
        return false;
    }
    uint8_t parts[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    memcpy(address, parts, sizeof(parts));
    return true;
}

bool ParseSeconds(const wchar_t* value, ScanOptions* options)
{
    return ParseNumber(value, kScanMinSeconds, kScanMaxSeconds, &options->seconds);
}

bool ParseFormat(const wchar_t* value, ScanOptions* options)
{
    static const wchar_t* const kNames[] = {L"table", L"csv", L"json"};
    static const ScanFormat kFormats[] = {kScanTable, kScanCsv, kScanJson};
    for (size_t i = 0; i < sizeof(kNames) / sizeof(kNames[0]); ++i) {
        if (lstrcmpiW(value, kNames[i]) == 0) {
            options->format = kFormats[i];
            return true;
        }
    }
    return false;
}

// A.B.C.D or A.B.C.D/N. The broadcast address stands for every interface:
// it is no subnet.
bool ParseSubnet(const wchar_t* value, ScanOptions* options)
{
    wchar_t address[32];
    const wchar_t* slash = wcschr(value, L'/');
    size_t length = slash != nullptr ? static_cast<size_t>(slash - value) : wcslen(value);
    if (length >= 32) {
        return false;
    }
    CopyText(address, length + 1, value);
    uint32_t prefix = 0;
    if (slash != nullptr && !ParseNumber(slash + 1, 0, 32, &prefix)) {
        return false;
    }
    options->subnetPrefix = slash != nullptr ? static_cast<int>(prefix) : kScanAnyPrefix;
    return ParseDottedQuad(address, &options->subnet) && options->subnet != kAllInterfaces;
}

bool ParseOutput(const wchar_t* value, ScanOptions* options)
{
    size_t length = wcslen(value);
    if (length == 0 || length >= static_cast<size_t>(kScanPathChars)) {
        return false;
    }
    CopyText(options->output, kScanPathChars, value);
    return true;
}

bool SetBroadcastOnly(const wchar_t*, ScanOptions* options)
{
    options->ways = kScanBroadcast;
    return true;
}

bool SetMdnsOnly(const wchar_t*, ScanOptions* options)
{
    options->ways = kScanMdns;
    return true;
}

bool SetWatch(const wchar_t*, ScanOptions* options)
{
    options->watch = true;
    return true;
}

bool SetDiagnose(const wchar_t*, ScanOptions* options)
{
    options->diagnose = true;
    return true;
}

bool SetVerbose(const wchar_t*, ScanOptions* options)
{
    options->verbose = true;
    return true;
}

// The options in the order of kOptions.
enum OptionIndex {
    kSecondsIndex,
    kFormatIndex,
    kSubnetIndex,
    kOutputIndex,
    kBroadcastOnlyIndex,
    kMdnsOnlyIndex,
    kWatchIndex,
    kDiagnoseIndex,
    kVerboseIndex,
    kOptionCount
};

struct OptionSpec {
    const wchar_t* name;
    bool takesValue;
    bool (*read)(const wchar_t* value, ScanOptions* options);
    const wchar_t* what;  // what a value that does not read means
};

const OptionSpec kOptions[] = {
    {L"--seconds", true, ParseSeconds, L"takes a whole number of seconds from 1 to 3600"},
    {L"--format", true, ParseFormat, L"takes table, csv or json"},
    {L"--subnet", true, ParseSubnet, L"takes an IPv4 address A.B.C.D or a subnet A.B.C.D/N"},
    {L"--output", true, ParseOutput, L"takes the path of a file"},
    {L"--broadcast-only", false, SetBroadcastOnly, L""},
    {L"--mdns-only", false, SetMdnsOnly, L""},
    {L"--watch", false, SetWatch, L""},
    {L"--diagnose", false, SetDiagnose, L""},
    {L"--verbose", false, SetVerbose, L""},
};
static_assert(sizeof(kOptions) / sizeof(kOptions[0]) == kOptionCount, "one entry per option");

bool IsHelp(const wchar_t* argument)
{
    return wcscmp(argument, L"--help") == 0 || wcscmp(argument, L"-h") == 0 ||
           wcscmp(argument, L"/?") == 0;
}

// The option named by argument ("--name" or "--name=value"), or -1.
int FindOption(const wchar_t* argument, const wchar_t** equals)
{
    *equals = wcschr(argument, L'=');
    size_t length = *equals != nullptr ? static_cast<size_t>(*equals - argument) : wcslen(argument);
    for (int i = 0; i < kOptionCount; ++i) {
        if (wcslen(kOptions[i].name) == length && wcsncmp(argument, kOptions[i].name, length) == 0) {
            return i;
        }
    }
    return -1;
}

void SetDefaults(ScanOptions* options)
{
    options->seconds = 0;
    options->format = kScanTable;
    options->subnet = kAllInterfaces;
    options->subnetPrefix = kScanAnyPrefix;
    options->ways = kScanBothWays;
    options->watch = false;
    options->diagnose = false;
    options->verbose = false;
    options->output[0] = L'\0';
}

// Why option index cannot join the options already seen, or null.
const wchar_t* Conflict(int index, const bool* seen)
{
    struct Exclusive {
        int a;
        int b;
        const wchar_t* why;
    };
    static const Exclusive kExclusive[] = {
        {kBroadcastOnlyIndex, kMdnsOnlyIndex, L"--broadcast-only and --mdns-only exclude each other"},
        {kOutputIndex, kFormatIndex, L"--output writes the window's saved list: not with --format"},
        {kOutputIndex, kWatchIndex, L"--output writes the list once: not with --watch"},
        {kDiagnoseIndex, kWatchIndex, L"--diagnose reports once, after listening: not with --watch"},
        {kDiagnoseIndex, kOutputIndex, L"--diagnose prints a report, not the saved list: not with --output"},
    };
    for (const Exclusive& pair : kExclusive) {
        if ((index == pair.a && seen[pair.b]) || (index == pair.b && seen[pair.a])) {
            return pair.why;
        }
    }
    return nullptr;
}

}  // namespace

ScanParse ParseScanOptions(int argc, const wchar_t* const* argv, ScanOptions* options,
                           wchar_t* message, int chars)
{
    if (chars > 0) {
        message[0] = L'\0';
    }
    SetDefaults(options);
    for (int i = 1; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            return kScanHelp;
        }
        if (wcscmp(argv[i], L"--version") == 0) {
            return kScanVersion;
        }
    }
    bool seen[kOptionCount] = {};
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        const wchar_t* equals = nullptr;
        int index = FindOption(argument, &equals);
        if (index < 0 || (equals != nullptr && !kOptions[index].takesValue)) {
            Say(message, chars, argument[0] == L'-' ? L"unknown option" : L"unexpected argument", argument);
            return kScanUsageError;
        }
        const OptionSpec& option = kOptions[index];
        const wchar_t* value = L"";
        if (option.takesValue && equals != nullptr) {
            value = equals + 1;
        } else if (option.takesValue && i + 1 < argc) {
            value = argv[++i];
        } else if (option.takesValue) {
            Say(message, chars, L"needs a value", argument);
            return kScanUsageError;
        }
        // The option as given, with its value, for the message.
        wchar_t given[kScanPathChars + 32];
        _snwprintf(given, kScanPathChars + 32, equals != nullptr || !option.takesValue ? L"%ls" : L"%ls %ls",
                   argument, value);
        given[kScanPathChars + 31] = L'\0';
        const wchar_t* conflict = seen[index] ? L"given more than once" : Conflict(index, seen);
        if (conflict != nullptr) {
            Say(message, chars, conflict, given);
            return kScanUsageError;
        }
        seen[index] = true;
        if (!option.read(value, options)) {
            Say(message, chars, option.what, given);
            return kScanUsageError;
        }
        // The report has no rows and columns; a script that wants its
        // fields reads the JSON.
        if (options->diagnose && options->format == kScanCsv) {
            Say(message, chars, L"--diagnose prints table or json: not csv", given);
            return kScanUsageError;
        }
    }
    // One expiry span: long enough for every device to answer the one pass.
    if (!seen[kSecondsIndex] && !options->watch) {
        options->seconds = kDeviceExpiryMs / 1000;
    }
    return kScanRun;
}
