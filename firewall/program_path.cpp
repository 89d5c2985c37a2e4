// The executables our firewall rules are scoped to.
#include "firewall/program_path.h"

#include <wchar.h>

bool GetOwnProgramPath(ProgramPath* path)
{
    DWORD length = GetModuleFileNameW(nullptr, path->text, kProgramPathCapacity);
    // A path that filled the buffer was cut short (and, before Vista, not
    // even terminated).
    if (length == 0 || length >= kProgramPathCapacity) {
        path->text[0] = L'\0';
        return false;
    }
    return true;
}

bool GetSiblingProgramPath(const ProgramPath& path, const wchar_t* fileName, ProgramPath* sibling)
{
    sibling->text[0] = L'\0';
    const wchar_t* slash = wcsrchr(path.text, L'\\');
    if (slash == nullptr) {
        return false;
    }
    size_t folderLength = static_cast<size_t>(slash - path.text) + 1;  // with the backslash
    size_t nameLength = wcslen(fileName);
    if (folderLength + nameLength >= kProgramPathCapacity) {
        return false;
    }
    wmemcpy(sibling->text, path.text, folderLength);
    wmemcpy(sibling->text + folderLength, fileName, nameLength);
    sibling->text[folderLength + nameLength] = L'\0';
    return true;
}
