// Parsing of the console program's arguments. Strict: a value out of range,
// an unknown or repeated option, or a malformed address is an error, never
// a silent default.
#include "app/scan_options.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "core/device_table.h"
#include "core/globals.h"
#include "core/web_address.h"

const wchar_t kScanUsage[] =
    L"Usage: NetworkDiscoveryScan [--seconds N] [--format table|csv|json]\r\n"
    L"                            [--subnet A.B.C.D] [--broadcast-only | --mdns-only] [--watch]\r\n"
    L"\r\n"
    L"Lists the Orvel devices that answer on the local IPv4 networks.\r\n"
    L"\r\n"
    L"  --seconds N       listen N seconds (1-3600, default 3), then print the list;\r\n"
    L"                    with --watch, stop watching after N seconds\r\n"
    L"  --format F        table (default), csv, or json\r\n"
    L"  --subnet A.B.C.D  only the interface whose subnet holds this address\r\n"
    L"  --broadcast-only  ask only by the broadcast request\r\n"
    L"  --mdns-only       ask only by multicast DNS\r\n"
    L"  --watch           keep asking, with rows leaving after 3 s of silence, and\r\n"
    L"                    print one line per change: new, changed, conflict (a\r\n"
    L"                    listed row now shares its address), gone; Ctrl+C ends\r\n"
    L"\r\n"
    L"Exit status: 0 when a device was listed, 1 when none, 2 on a usage error or\r\n"
    L"when discovery cannot run.\r\n";

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

bool ParseFormat(const wchar_t* text, ScanFormat* format)
{
    if (wcscmp(text, L"table") == 0) {
        *format = kScanTable;
    } else if (wcscmp(text, L"csv") == 0) {
        *format = kScanCsv;
    } else if (wcscmp(text, L"json") == 0) {
        *format = kScanJson;
    } else {
        return false;
    }
    return true;
}

bool IsHelp(const wchar_t* argument)
{
    return wcscmp(argument, L"--help") == 0 || wcscmp(argument, L"-h") == 0 ||
           wcscmp(argument, L"/?") == 0;
}

// The options that take a value, as "--name value" or "--name=value".
enum ValueOption { kNoValue, kSecondsOption, kFormatOption, kSubnetOption };

ValueOption ValueOptionOf(const wchar_t* argument, size_t nameLength)
{
    struct Named {
        const wchar_t* name;
        ValueOption option;
    };
    static const Named kNames[] = {
        {L"--seconds", kSecondsOption},
        {L"--format", kFormatOption},
        {L"--subnet", kSubnetOption},
    };
    for (const Named& named : kNames) {
        if (wcslen(named.name) == nameLength && wcsncmp(argument, named.name, nameLength) == 0) {
            return named.option;
        }
    }
    return kNoValue;
}

}  // namespace

ScanParse ParseScanOptions(int argc, const wchar_t* const* argv, ScanOptions* options,
                           wchar_t* message, int chars)
{
    if (chars > 0) {
        message[0] = L'\0';
    }
    options->seconds = 0;
    options->format = kScanTable;
    options->subnet = kAllInterfaces;
    options->ways = kScanBothWays;
    options->watch = false;

    for (int i = 1; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            return kScanHelp;
        }
    }

    bool secondsSeen = false;
    bool formatSeen = false;
    bool subnetSeen = false;
    bool wayChosen = false;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        const wchar_t* equals = wcschr(argument, L'=');
        size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - argument) : wcslen(argument);
        ValueOption option = ValueOptionOf(argument, nameLength);
        if (option != kNoValue) {
            const wchar_t* value = nullptr;
            if (equals != nullptr) {
                value = equals + 1;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                Say(message, chars, L"needs a value", argument);
                return kScanUsageError;
            }
            // The option as given, with its value, for the message.
            wchar_t given[128];
            _snwprintf(given, 128, equals != nullptr ? L"%ls" : L"%ls %ls", argument, value);
            given[127] = L'\0';
            bool* seen = option == kSecondsOption ? &secondsSeen
                         : option == kFormatOption ? &formatSeen
                                                   : &subnetSeen;
            if (*seen) {
                Say(message, chars, L"given more than once", given);
                return kScanUsageError;
            }
            *seen = true;
            bool valid = false;
            const wchar_t* what = L"";
            switch (option) {
            case kSecondsOption:
                valid = ParseNumber(value, kScanMinSeconds, kScanMaxSeconds, &options->seconds);
                what = L"takes a whole number of seconds from 1 to 3600";
                break;
            case kFormatOption:
                valid = ParseFormat(value, &options->format);
                what = L"takes table, csv or json";
                break;
            case kSubnetOption:
                // The broadcast address stands for every interface: no subnet.
                valid = ParseDottedQuad(value, &options->subnet) && options->subnet != kAllInterfaces;
                what = L"takes an IPv4 address A.B.C.D";
                break;
            case kNoValue:
                break;
            }
            if (!valid) {
                Say(message, chars, what, given);
                return kScanUsageError;
            }
        } else if (wcscmp(argument, L"--broadcast-only") == 0 || wcscmp(argument, L"--mdns-only") == 0) {
            uint32_t way = argument[2] == L'b' ? kScanBroadcast : kScanMdns;
            if (wayChosen) {
                Say(message, chars,
                    options->ways == way ? L"given more than once"
                                         : L"--broadcast-only and --mdns-only exclude each other",
                    argument);
                return kScanUsageError;
            }
            wayChosen = true;
            options->ways = way;
        } else if (wcscmp(argument, L"--watch") == 0) {
            if (options->watch) {
                Say(message, chars, L"given more than once", argument);
                return kScanUsageError;
            }
            options->watch = true;
        } else {
            Say(message, chars, argument[0] == L'-' ? L"unknown option" : L"unexpected argument", argument);
            return kScanUsageError;
        }
    }
    // One expiry span: long enough for every device to answer the one pass.
    if (!secondsSeen && !options->watch) {
        options->seconds = kDeviceExpiryMs / 1000;
    }
    return kScanRun;
}
