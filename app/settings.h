// The persistent settings: subnet filter and auto-refresh flag, and what
// the main window remembers (ui/window_memory.h).
#pragma once

#include "ui/window_memory.h"

// Registry key under HKEY_CURRENT_USER.
#define SETTINGS_KEY L"Software\\Orvel Electronics\\Discovery Tool"

// Reads the settings; a missing or damaged value leaves its default. The
// window's part goes to *window when it is given.
void LoadSettings(WindowMemory* window = nullptr);
// Writes the settings, and the window's part when it is given.
void SaveSettings(const WindowMemory* window = nullptr);
