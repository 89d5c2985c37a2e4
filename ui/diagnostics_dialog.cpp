// The diagnostics dialog (ui/diagnostics_dialog.h): a read-only edit with
// the report, Copy, Save and Close. Its text is read once, when it opens.
#include "ui/diagnostics_dialog.h"

#include <commdlg.h>
#include <stdio.h>

#include <memory>
#include <new>

#include "core/globals.h"
#include "core/platform.h"
#include "core/resource.h"
#include "rows/saved_list.h"
#include "ui/device_rows.h"
#include "ui/diagnosis_text.h"
#include "ui/list_cells.h"
#include "ui/row_export.h"

namespace {

// The edit's text, in a buffer of its own: it is what the user sees, and
// what Copy and Save take.
struct EditText {
    std::unique_ptr<wchar_t[]> text;
    size_t length = 0;
};

bool ReadEditText(HWND dialog, EditText* out)
{
    HWND edit = GetDlgItem(dialog, IDC_REPORT_TEXT);
    int length = GetWindowTextLengthW(edit);
    out->text.reset(new (std::nothrow) wchar_t[static_cast<size_t>(length) + 1]);
    if (out->text == nullptr) {
        return false;
    }
    out->length = static_cast<size_t>(GetWindowTextW(edit, out->text.get(), length + 1));
    out->text[out->length] = L'\0';
    return true;
}

void FillReport(HWND dialog, int rowsShown)
{
    TextBuffer report;
    InitTextBuffer(&report);
    if (DescribeDiagnosis(rowsShown, &report, nullptr, 0) && !report.failed && report.text != nullptr) {
        SetDlgItemTextW(dialog, IDC_REPORT_TEXT, report.text);
    } else {
        wchar_t text[256] = L"";
        LoadStringW(g_instance, IDS_REPORT_UNAVAILABLE, text, 256);
        SetDlgItemTextW(dialog, IDC_REPORT_TEXT, text);
    }
    FreeTextBuffer(&report);
}

INT_PTR OnInitDialog(HWND dialog, LPARAM rowsShown)
{
    FillReport(dialog, static_cast<int>(rowsShown));
    // The report first, for reading, with nothing selected.
    HWND edit = GetDlgItem(dialog, IDC_REPORT_TEXT);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, 0);
    return FALSE;  // the focus is set
}

INT_PTR OnCommand(HWND dialog, int id)
{
    switch (id) {
    case IDC_REPORT_COPY:
    case IDC_REPORT_SAVE: {
        EditText text;
        if (!ReadEditText(dialog, &text)) {
            return TRUE;
        }
        if (id == IDC_REPORT_COPY) {
            CopyToClipboard(dialog, text.text.get());
        } else {
            SaveDiagnosticsReport(dialog, text.text.get(), text.length);
        }
        return TRUE;
    }
    case IDOK:
    case IDCANCEL:
        EndDialog(dialog, id);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK DiagnosticsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, lParam);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    }
    return FALSE;
}

}  // namespace

void OpenDiagnosticsDialog(HWND window)
{
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_DIAGNOSTICS), window, DiagnosticsDialogProc,
                    RowCount(DeviceListOf(window)));
}

DWORD SaveDiagnosticsReport(HWND owner, const wchar_t* text, size_t length)
{
    // The string table holds the filter with '|' where the dialog wants NULs.
    wchar_t filter[128] = L"";
    LoadStringW(g_instance, IDS_REPORT_SAVE_FILTER, filter, 127);
    for (wchar_t* c = filter; *c != L'\0'; ++c) {
        if (*c == L'|') {
            *c = L'\0';
        }
    }
    wchar_t path[MAX_PATH] = L"";
    LoadStringW(g_instance, IDS_REPORT_SAVE_NAME, path, MAX_PATH);
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!g_platform.getSaveFileName(&dialog)) {
        return ERROR_CANCELLED;
    }
    path[MAX_PATH - 1] = L'\0';
    DWORD status = WriteUtf8File(path, text, length);
    if (status != NO_ERROR) {
        wchar_t format[128] = L"";
        wchar_t caption[64] = L"";
        LoadStringW(g_instance, IDS_REPORT_SAVE_FAILED, format, 128);
        LoadStringW(g_instance, IDS_REPORT_CAPTION, caption, 64);
        wchar_t message[MAX_PATH + 160];
        _snwprintf(message, MAX_PATH + 160, format, path, static_cast<unsigned long>(status));
        message[MAX_PATH + 159] = L'\0';
        g_platform.messageBox(owner, message, caption, MB_OK | MB_ICONERROR);
    }
    return status;
}
