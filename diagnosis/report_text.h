// Pieces of the report in words, shared by the plain text, the JSON and
// the summary: strings from the string table, addresses, cause texts.
#pragma once

#include "diagnosis/report.h"

namespace diagnosis {

constexpr size_t kLineChars = 512;

// The string table's text of id (empty when missing), bounded and zero-terminated.
void LoadText(UINT id, wchar_t* text, size_t capacity);
// The string table's text of id as a format, filled with the arguments.
void FormatLoaded(wchar_t* text, size_t capacity, UINT id, ...);
// A finding's sentence with what to do.
void CauseText(const Facts& facts, const Finding& finding, wchar_t* text, size_t capacity);

}  // namespace diagnosis
