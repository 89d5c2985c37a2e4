// Writing the console program's text to a standard handle or a file, and
// telling whether the reader of a pipe has gone.
#pragma once

#include <windows.h>

// Writes length units of text to handle: UTF-16 to a console, UTF-8 bytes
// (no byte-order mark) to anything else (a file, a pipe). Returns a Win32
// status: NO_ERROR, or why not all could be written.
DWORD WriteScanText(HANDLE handle, const wchar_t* text, size_t length);

// Whether a failed write's status means the reader of a pipe went away
// (a closed pipe), rather than a fault of the medium (a full disk).
bool IsReaderGone(DWORD status);

// Asks, without writing anything, whether the pipe behind handle still has
// a reader: a write of no bytes, which fails on a pipe whose reader closed
// it. NO_ERROR for a live pipe and for anything that is no pipe.
DWORD ProbeScanOutput(HANDLE handle);

// Writes "NetworkDiscoveryScan: text" as one line to standard error (line
// breaks inside text become spaces).
void ScanError(const wchar_t* text);
