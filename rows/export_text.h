// The text that rows leave the program as, apart from any window: a growing
// UTF-16 buffer and one field of a tab-separated or CSV line. The window's
// copies and saved list and the console program's CSV use the same rules.
#pragma once

#include <stddef.h>
#include <wchar.h>

// A growing UTF-16 text on the process heap. Any failed growth marks it
// failed; a failed text is never used.
struct TextBuffer {
    wchar_t* text;
    size_t length;
    size_t capacity;
    bool failed;
};

void InitTextBuffer(TextBuffer* buffer);
void FreeTextBuffer(TextBuffer* buffer);
void AppendChar(TextBuffer* buffer, wchar_t c);
void AppendText(TextBuffer* buffer, const wchar_t* text);

enum ExportFormat {
    kTabSeparated,  // fields joined by tabs, tabs and line breaks inside a field become spaces
    kCommaSeparated // RFC 4180 quoting; fields a spreadsheet would run as a formula are defused
};

// Appends one field in the format; the caller puts the separators.
void AppendExportField(TextBuffer* buffer, const wchar_t* text, ExportFormat format);

// The separator between two fields of the format.
wchar_t ExportSeparator(ExportFormat format);

// Appends text as one JSON string: quotes and backslashes escaped, every
// control character (U+0001..U+001F, U+007F) as \u00XX.
void AppendJsonString(TextBuffer* buffer, const wchar_t* text);
