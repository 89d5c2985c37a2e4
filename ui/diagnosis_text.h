// The diagnosis in words for the window: what the program saw now, read once
// per request (the firewall through COM), never on every tick.
#pragma once

#include <windows.h>
#include <stddef.h>

#include "rows/export_text.h"

// The whole report (plain text, CRLF lines) appended to report, and the one
// or two sentences for an empty list into summary; either may be null.
// False when memory ran out; summary then stays empty.
bool DescribeDiagnosis(int rowsShown, TextBuffer* report, wchar_t* summary, size_t summaryCapacity);
