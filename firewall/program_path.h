// The full paths our firewall rules name: this process's executable and a
// program beside it.
#pragma once

#include <windows.h>

// Room for any path GetModuleFileNameW reports, long paths included.
constexpr DWORD kProgramPathCapacity = 32768;

struct ProgramPath {
    wchar_t text[kProgramPathCapacity];
};

// The executable of this process. False when it cannot be had whole.
bool GetOwnProgramPath(ProgramPath* path);

// `fileName` in the folder of `path`. False when `path` names no folder or
// the result does not fit.
bool GetSiblingProgramPath(const ProgramPath& path, const wchar_t* fileName, ProgramPath* sibling);
