// The growing text buffer, the quoting of exported fields and JSON strings.
// Window-free: the console program links it too.
#include "rows/export_text.h"

#include <windows.h>
#include <stdio.h>

namespace {

bool Reserve(TextBuffer* buffer, size_t extra)
{
    if (buffer->failed) {
        return false;
    }
    size_t needed = buffer->length + extra + 1;
    if (needed <= buffer->capacity) {
        return true;
    }
    size_t capacity = buffer->capacity < 256 ? 256 : buffer->capacity;
    while (capacity < needed) {
        capacity *= 2;
    }
    HANDLE heap = GetProcessHeap();
    void* grown = buffer->text == nullptr
                      ? HeapAlloc(heap, 0, capacity * sizeof(wchar_t))
                      : HeapReAlloc(heap, 0, buffer->text, capacity * sizeof(wchar_t));
    if (grown == nullptr) {
        buffer->failed = true;
        return false;
    }
    buffer->text = static_cast<wchar_t*>(grown);
    buffer->capacity = capacity;
    return true;
}

// Device texts are untrusted: a tab or line break inside one would shift the
// columns of a tab-separated paste.
void AppendTabField(TextBuffer* buffer, const wchar_t* text)
{
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        AppendChar(buffer, (*p == L'\t' || *p == L'\r' || *p == L'\n') ? L' ' : *p);
    }
}

// A spreadsheet runs a cell that starts with one of these as a formula, or
// drops a leading tab or carriage return and runs what follows; a device
// could name itself so.
bool StartsLikeFormula(const wchar_t* text)
{
    switch (text[0]) {
    case L'=':
    case L'+':
    case L'-':
    case L'@':
    case L'\t':
    case L'\r':
        return true;
    default:
        return false;
    }
}

void AppendCsvField(TextBuffer* buffer, const wchar_t* text)
{
    AppendChar(buffer, L'"');
    // The apostrophe keeps the cell text.
    if (StartsLikeFormula(text)) {
        AppendChar(buffer, L'\'');
    }
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p == L'"') {
            AppendChar(buffer, L'"');
        }
        AppendChar(buffer, *p);
    }
    AppendChar(buffer, L'"');
}

}  // namespace

void InitTextBuffer(TextBuffer* buffer)
{
    buffer->text = nullptr;
    buffer->length = 0;
    buffer->capacity = 0;
    buffer->failed = false;
}

void FreeTextBuffer(TextBuffer* buffer)
{
    if (buffer->text != nullptr) {
        HeapFree(GetProcessHeap(), 0, buffer->text);
    }
    InitTextBuffer(buffer);
}

void AppendChar(TextBuffer* buffer, wchar_t c)
{
    if (Reserve(buffer, 1)) {
        buffer->text[buffer->length++] = c;
        buffer->text[buffer->length] = L'\0';
    }
}

void AppendText(TextBuffer* buffer, const wchar_t* text)
{
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        AppendChar(buffer, *p);
    }
}

void AppendExportField(TextBuffer* buffer, const wchar_t* text, ExportFormat format)
{
    if (format == kTabSeparated) {
        AppendTabField(buffer, text);
    } else {
        AppendCsvField(buffer, text);
    }
}

wchar_t ExportSeparator(ExportFormat format)
{
    return format == kTabSeparated ? L'\t' : L',';
}

void AppendJsonString(TextBuffer* buffer, const wchar_t* text)
{
    AppendChar(buffer, L'"');
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p == L'"' || *p == L'\\') {
            AppendChar(buffer, L'\\');
            AppendChar(buffer, *p);
        } else if (*p < L' ' || *p == 0x7F) {
            wchar_t escaped[8];
            _snwprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(*p));
            escaped[7] = L'\0';
            AppendText(buffer, escaped);
        } else {
            AppendChar(buffer, *p);
        }
    }
    AppendChar(buffer, L'"');
}
