// The host name of an A record's owner name.
#include "browse/host_name.h"

#include "core/text_copy.h"

void CopyHostName(wchar_t* dest, size_t capacity, const wchar_t* ownerName)
{
    CopyText(dest, capacity, ownerName);
    if (capacity == 0) {
        return;
    }
    wchar_t* lastDot = wcsrchr(dest, L'.');
    if (lastDot != nullptr) {
        *lastDot = L'\0';
    }
}
