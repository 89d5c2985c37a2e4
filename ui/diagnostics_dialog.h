// Help's "Network diagnostics…": a modal dialog with the whole report, read
// when it opens, and buttons to copy it or save it as a text file. Nothing
// is sent; nothing is written unless the user saves.
#pragma once

#include <windows.h>
#include <stddef.h>

// Opens the dialog over window for the rows it shows now.
void OpenDiagnosticsDialog(HWND window);

// Asks for a file (through the platform's save dialog) and writes text to it
// as UTF-8. NO_ERROR when saved, ERROR_CANCELLED when the user cancelled,
// else why the file could not be written (the user has been told).
DWORD SaveDiagnosticsReport(HWND owner, const wchar_t* text, size_t length);
