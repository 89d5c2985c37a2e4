// The numeric order of address texts that the device table keeps its rows
// in and the list sorts its address column by.
#include "core/address_order.h"

#include "core/web_address.h"

namespace {

wchar_t FoldAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Texts that are no address order by their letters, ignoring ASCII case,
// so that one address however spelt keeps its rows together.
int CompareFolded(const wchar_t* a, const wchar_t* b)
{
    for (;; ++a, ++b) {
        wchar_t x = FoldAscii(*a);
        wchar_t y = FoldAscii(*b);
        if (x != y || x == L'\0') {
            return x < y ? -1 : (x > y ? 1 : 0);
        }
    }
}

}  // namespace

int CompareAddressTexts(const wchar_t* a, const wchar_t* b)
{
    unsigned long valueA = 0, valueB = 0;
    bool isA = ParseDottedQuadText(a, &valueA);
    bool isB = ParseDottedQuadText(b, &valueB);
    if (isA && isB) {
        return valueA < valueB ? -1 : (valueA > valueB ? 1 : 0);
    }
    if (isA != isB) {
        return isA ? -1 : 1;
    }
    return CompareFolded(a, b);
}
