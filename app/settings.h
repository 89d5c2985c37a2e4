// The two persistent settings: subnet filter and auto-refresh flag.
#pragma once

// Registry key under HKEY_CURRENT_USER.
#define SETTINGS_KEY L"Software\\Orvel Electronics\\Discovery Tool"

void LoadSettings();
void SaveSettings();
