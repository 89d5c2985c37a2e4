// The listing at the end of a run: printed in the chosen format, or saved
// as the window saves it (that file checked before the run listens); a
// write that fails is told on stderr.
#include "console/list.h"

#include <stdio.h>

#include "console/interfaces.h"
#include "console/output.h"
#include "console/write.h"
#include "rows/saved_list.h"

namespace {

// The table's rows in order, or null (out of memory); count may be 0.
const DeviceRow** CollectRows(const DeviceTable& table, int* count)
{
    *count = table.Count();
    const DeviceRow** rows = static_cast<const DeviceRow**>(
        HeapAlloc(GetProcessHeap(), 0, sizeof(const DeviceRow*) * static_cast<size_t>(*count > 0 ? *count : 1)));
    for (int i = 0; rows != nullptr && i < *count; ++i) {
        rows[i] = table.RowAt(i);
    }
    return rows;
}

}  // namespace

DWORD CheckScanOutputFile(const wchar_t* path)
{
    // Exclusive, as the list's own write will be; a new file goes when its
    // handle closes.
    HANDLE file = CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    DWORD status = file == INVALID_HANDLE_VALUE ? GetLastError() : NO_ERROR;
    if (status == ERROR_FILE_EXISTS) {
        file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        status = file == INVALID_HANDLE_VALUE ? GetLastError() : NO_ERROR;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return status;
}

// One line on stderr for an output that could not be written.
void ReportScanWriteFailure(DWORD status, const wchar_t* target)
{
    wchar_t reason[160] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, status, 0, reason, 160,
                   nullptr);
    reason[159] = L'\0';
    for (int end = lstrlenW(reason); end > 0 && (reason[end - 1] == L' ' || reason[end - 1] < L' ');) {
        reason[--end] = L'\0';  // the system's text ends in a line break
    }
    wchar_t text[kScanPathChars + 256];
    _snwprintf(text, kScanPathChars + 256, L"the list could not be written to %ls (error %lu: %ls)", target,
               static_cast<unsigned long>(status), reason);
    text[kScanPathChars + 255] = L'\0';
    ScanError(text);
}

// Prints the list, or saves it as the window does; the write's status.
DWORD PrintScanList(const DeviceTable& table, const ScanOptions& options, int* rowsPrinted)
{
    *rowsPrinted = 0;
    int count = 0;
    const DeviceRow** rows = CollectRows(table, &count);
    TextBuffer text;
    InitTextBuffer(&text);
    if (rows != nullptr && options.output[0] != L'\0') {
        FormatSavedList(&text, rows, count);
    } else if (rows != nullptr) {
        FormatScanList(&text, rows, count, options.format, HeardOnFromInterfaces);
    }
    DWORD status = ERROR_NOT_ENOUGH_MEMORY;
    if (rows != nullptr && !text.failed && options.output[0] != L'\0') {
        status = WriteUtf8File(options.output, text.text, text.length);
    } else if (rows != nullptr && !text.failed) {
        status = WriteScanText(GetStdHandle(STD_OUTPUT_HANDLE), text.text, text.length);
    }
    FreeTextBuffer(&text);
    if (rows != nullptr) {
        HeapFree(GetProcessHeap(), 0, rows);
    }
    if (status != NO_ERROR) {
        ReportScanWriteFailure(status, options.output[0] != L'\0' ? options.output : L"standard output");
    } else {
        *rowsPrinted = count;
    }
    return status;
}

