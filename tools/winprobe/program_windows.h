// Finding the program's windows from outside and printing what they show,
// one tab-separated line per fact.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The main window: its dialog class, whatever its caption.
HWND FindMainWindow();

// The program's process id: the main window's owner, or, before the main
// window exists (start-up error boxes), the process running the program's exe.
DWORD FindProgramProcessId();

// Visible top-level windows of a process, in z order.
std::vector<HWND> VisibleTopLevelWindows(DWORD processId);

// A visible top-level window of the process with exactly this caption.
HWND FindWindowByCaption(DWORD processId, const std::wstring& caption);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);

// Writes the fields joined by tabs as one UTF-8 line. Tabs and line breaks
// inside a field are written as \t, \r and \n so that each fact stays on one line.
void PrintLine(const std::vector<std::wstring>& fields);
std::wstring Number(long long value);
std::wstring HexHandle(HWND window);

// control<TAB>id<TAB>class<TAB>text<TAB>enabled<TAB>visible<TAB>checked for
// every direct child, in z order (the template order for dialogs).
void PrintControls(HWND parent);

// focus<TAB>id of the control that has the keyboard focus in window's
// thread; nothing when no window of that thread has it.
void PrintFocus(HWND window);
