// Composes the address of a device's built-in web page from the texts a
// device reported, so that nothing but "http://" + dotted quad + ":" + port +
// "/" ever reaches the shell. Pure text handling, no Windows headers.
#pragma once

#include <stddef.h>

// The port used when a device reports none, or one that is not a port.
constexpr unsigned kDefaultWebPort = 80;

// True when text is exactly four decimal octets 0..255 joined by dots, in
// canonical form (no sign, no blanks, no leading zeros).
bool IsDottedQuadText(const wchar_t* text);

// The same test, giving the address as one number, first octet most
// significant (so numbers order as addresses do).
bool ParseDottedQuadText(const wchar_t* text, unsigned long* address);

// The port a text names when it is 1 to 5 decimal digits with a value of
// 1..65535; otherwise 0.
unsigned ParsePortText(const wchar_t* text);

// Writes "http://<ip>:<port>/" into out (capacity units, zero-terminated).
// A port text that is not a valid port gives kDefaultWebPort. Returns false,
// with out empty, when ipText is not a dotted quad or out is too small.
bool ComposeDevicePageAddress(const wchar_t* ipText, const wchar_t* portText,
                              wchar_t* out, size_t capacity);
