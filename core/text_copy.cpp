// Bounded text copy for fixed-capacity record fields.
#include "core/text_copy.h"

void CopyText(wchar_t* dest, size_t capacity, const wchar_t* src)
{
    if (capacity == 0) {
        return;
    }
    size_t i = 0;
    if (src != nullptr) {
        for (; i + 1 < capacity && src[i] != L'\0'; ++i) {
            dest[i] = src[i];
        }
    }
    dest[i] = L'\0';
}
