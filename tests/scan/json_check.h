// A strict reader of the JSON the console writes (an array of flat objects
// of string values, or one such object): it refuses what a JSON parser
// refuses (a raw control character in a string, an unknown escape, a stray
// comma) and decodes the strings, so a test can compare them with what went in.
#pragma once

#include <string>
#include <vector>

namespace json_check {

struct Reader {
    const std::wstring& text;
    size_t at;

    void Blank()
    {
        while (at < text.size() && (text[at] == L' ' || text[at] == L'\r' || text[at] == L'\n' || text[at] == L'\t')) {
            ++at;
        }
    }
    bool Take(wchar_t c)
    {
        Blank();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    bool Hex(wchar_t c, unsigned* value)
    {
        unsigned digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10
                       : c >= L'A' && c <= L'F' ? c - L'A' + 10 : 16;
        *value = *value * 16 + digit;
        return digit < 16;
    }
    bool String(std::wstring* out)
    {
        if (!Take(L'"')) {
            return false;
        }
        static const wchar_t kFrom[] = L"\"\\/bfnrt";
        static const wchar_t kTo[] = L"\"\\/\b\f\n\r\t";
        for (; at < text.size() && text[at] != L'"'; ++at) {
            if (text[at] < 0x20) {
                return false;
            }
            if (text[at] != L'\\') {
                *out += text[at];
                continue;
            }
            wchar_t e = ++at < text.size() ? text[at] : 0;
            const wchar_t* simple = e != 0 ? wcschr(kFrom, e) : nullptr;
            if (simple != nullptr) {
                *out += kTo[simple - kFrom];
                continue;
            }
            unsigned value = 0;
            if (e != L'u' || at + 4 >= text.size() || !Hex(text[at + 1], &value) || !Hex(text[at + 2], &value) ||
                !Hex(text[at + 3], &value) || !Hex(text[at + 4], &value)) {
                return false;
            }
            *out += static_cast<wchar_t>(value);
            at += 4;
        }
        return Take(L'"');
    }
    // One object; the value of key (if any) appended to values.
    bool Object(const wchar_t* key, std::vector<std::wstring>* values)
    {
        if (!Take(L'{')) {
            return false;
        }
        if (Take(L'}')) {
            return true;
        }
        do {
            std::wstring name;
            std::wstring value;
            if (!String(&name) || !Take(L':') || !String(&value)) {
                return false;
            }
            if (name == key) {
                values->push_back(value);
            }
        } while (Take(L','));
        return Take(L'}');
    }
};

}  // namespace json_check

// Reads text as one array of objects; the values of key in order.
inline bool ParseJsonList(const std::wstring& text, const wchar_t* key, std::vector<std::wstring>* values)
{
    json_check::Reader reader{text, 0};
    if (!reader.Take(L'[')) {
        return false;
    }
    if (!reader.Take(L']')) {
        do {
            if (!reader.Object(key, values)) {
                return false;
            }
        } while (reader.Take(L','));
        if (!reader.Take(L']')) {
            return false;
        }
    }
    reader.Blank();
    return reader.at == text.size();
}
