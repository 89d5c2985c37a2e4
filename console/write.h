// Writing the console program's text to a standard handle or a file, and
// telling whether a failed write means the reader of a pipe has gone.
#pragma once

#include <windows.h>

// Writes length units of text to handle: UTF-16 to a console, UTF-8 bytes
// (no byte-order mark) to anything else (a file, a pipe). Returns a Win32
// status: NO_ERROR, or why not all could be written.
DWORD WriteScanText(HANDLE handle, const wchar_t* text, size_t length);

// Whether a failed write's status means the reader of a pipe went away
// (a closed pipe), rather than a fault of the medium (a full disk).
bool IsReaderGone(DWORD status);

// Writes "NetworkDiscoveryScan: text" as one line to standard error (line
// breaks inside text become spaces).
void ScanError(const wchar_t* text);
