// The main window: a dialog template of its own class, its commands and the
// subnet choice.
#pragma once

#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void FillSubnetCombo(HWND window);

// Registers the window class named by the main dialog template.
ATOM RegisterMainWindowClass(HINSTANCE instance, const wchar_t* className);
