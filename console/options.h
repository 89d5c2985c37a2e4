// The console program's command line: what it reads from it, and the usage
// text shown when it cannot.
#pragma once

#include <stdint.h>
#include <wchar.h>

enum ScanFormat { kScanTable, kScanCsv, kScanJson };

// Which ways of discovery run.
enum ScanWays : uint32_t {
    kScanBroadcast = 1u << 0,
    kScanMdns = 1u << 1,
    kScanBothWays = kScanBroadcast | kScanMdns,
};

constexpr uint32_t kScanMinSeconds = 1;
constexpr uint32_t kScanMaxSeconds = 3600;
// --subnet A.B.C.D: the interface whose subnet holds the address, of any
// prefix length.
constexpr int kScanAnyPrefix = -1;
// Room for the --output path, terminator included.
constexpr int kScanPathChars = 260;

struct ScanOptions {
    // How long to listen; with watch, 0 (no --seconds) is until Ctrl+C.
    uint32_t seconds;
    ScanFormat format;
    // The subnet asked for (network byte order) or kAllInterfaces; with a
    // prefix length (CIDR) the interface's subnet must be exactly that one.
    uint32_t subnet;
    int subnetPrefix;  // 0..32, or kScanAnyPrefix
    uint32_t ways;     // ScanWays
    bool watch;
    // --diagnose: after listening, the report of what was tried and heard
    // and the likely causes, instead of the list.
    bool diagnose;
    // --verbose: one line per discovery event on standard error while it runs.
    bool verbose;
    // --output: the list goes to this file as the window saves it; "" for
    // standard output.
    wchar_t output[kScanPathChars];
};

enum ScanParse {
    kScanRun,
    kScanHelp,        // the usage text on stdout, status 0
    kScanVersion,     // the version on stdout, status 0
    kScanUsageError,  // message says why; the usage text on stderr, status 2
};

// Reads argv[1..argc-1]. Values ignore case (--format CSV). On a usage
// error message (chars units, zero-terminated) names the argument at fault;
// options is then unspecified.
ScanParse ParseScanOptions(int argc, const wchar_t* const* argv, ScanOptions* options,
                           wchar_t* message, int chars);

// The usage text, CR LF line ends.
extern const wchar_t kScanUsage[];

// "NetworkDiscoveryScan 1.7.0.0" and CR LF: the version of both programs.
extern const wchar_t kScanVersionLine[];
