// Fuzz target: the fixed-capacity name set that network answers fill. Any
// sequence of adds, finds and removes, with names that may be long, empty
// or alike but for a cut or for ASCII letter case, must agree with a plain
// model (names cut to the limit and compared with ASCII letters folded, the
// oldest giving way when full) and never outgrow its capacity.
// fuzz-sources: browse/name_index.cpp
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>

#include "browse/name_index.h"

namespace {

std::wstring FoldAscii(std::wstring name)
{
    for (wchar_t& c : name) {
        c = c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    const uint32_t capacity = 1 + data[0] % 16;
    const uint32_t limit = 1 + data[1] % 12;
    NameIndex index;
    if (!InitNameIndex(&index, capacity, limit)) {
        abort();
    }
    std::deque<std::pair<std::wstring, uint32_t>> model;  // oldest first
    for (size_t at = 2; at + 2 <= size;) {
        uint8_t op = data[at];
        size_t length = std::min<size_t>(data[at + 1] % 16, size - at - 2);
        at += 2;
        std::wstring name(data + at, data + at + length);
        at += length;
        name = name.substr(0, name.find(L'\0'));
        uint32_t tag = op >> 7;
        std::pair<std::wstring, uint32_t> key(FoldAscii(name.substr(0, limit)), tag);
        auto held = std::find(model.begin(), model.end(), key);
        int32_t slot = FindName(&index, name.c_str(), tag);
        if ((slot != -1) != (held != model.end())) abort();
        if (op % 3 == 0) {
            RemoveName(&index, slot);
            if (held != model.end()) model.erase(held);
        } else {
            int32_t evicted = -1;
            if (AddName(&index, name.c_str(), tag, &evicted) == -1) abort();
            if (held == model.end()) {
                if (model.size() == capacity) {
                    if (evicted == -1) abort();
                    model.pop_front();
                }
                model.push_back(key);
            }
        }
        if (index.count != model.size() || index.count > capacity) abort();
        const wchar_t* newest = NewestName(&index);
        if ((newest == nullptr) != model.empty()) abort();
        if (newest != nullptr && FoldAscii(newest) != model.back().first) abort();
        if (!SameDnsName(name.c_str(), FoldAscii(name).c_str(), limit)) abort();
    }
    ReleaseNameIndex(&index);
    return 0;
}
