// A strict reader of the console's JSON list (an array of flat objects of
// string values): it refuses what a JSON parser refuses (a raw control
// character in a string, an unknown escape, a stray comma) and decodes the
// strings, so a test can compare them with what went in.
#pragma once

#include <wchar.h>

#include <string>
#include <vector>

class JsonListReader {
public:
    explicit JsonListReader(const std::wstring& text) : text_(text), at_(0) {}

    // The values of key in every object, in order; false for text that is
    // not such a list.
    bool Read(const wchar_t* key, std::vector<std::wstring>* values)
    {
        if (!Take(L'[')) {
            return false;
        }
        do {
            if (!Take(L'{')) {
                return false;
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
            if (!Take(L'}')) {
                return false;
            }
        } while (Take(L','));
        return Take(L']') && (Blank(), at_ == text_.size());
    }

private:
    void Blank()
    {
        while (at_ < text_.size() && wcschr(L" \r\n\t", text_[at_]) != nullptr && text_[at_] != 0) {
            ++at_;
        }
    }
    bool Take(wchar_t c)
    {
        Blank();
        return at_ < text_.size() && text_[at_] == c && (++at_, true);
    }
    // \uXXXX after its backslash: four hex digits.
    bool Unicode(std::wstring* out)
    {
        if (at_ + 5 > text_.size() || text_[at_] != L'u') {
            return false;
        }
        std::wstring digits = text_.substr(at_ + 1, 4);
        if (digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) {
            return false;
        }
        *out += static_cast<wchar_t>(wcstoul(digits.c_str(), nullptr, 16));
        at_ += 4;
        return true;
    }
    bool String(std::wstring* out)
    {
        static const wchar_t kFrom[] = L"\"\\/bfnrt";
        static const wchar_t kTo[] = L"\"\\/\b\f\n\r\t";
        if (!Take(L'"')) {
            return false;
        }
        for (; at_ < text_.size() && text_[at_] != L'"'; ++at_) {
            wchar_t c = text_[at_];
            const wchar_t* simple = c == L'\\' && at_ + 1 < text_.size() && text_[at_ + 1] != 0
                                        ? wcschr(kFrom, text_[at_ + 1]) : nullptr;
            if (c < 0x20 || (c == L'\\' && simple == nullptr && !(++at_, Unicode(out)))) {
                return false;
            }
            if (simple != nullptr) {
                *out += kTo[simple - kFrom];
                ++at_;
            } else if (c != L'\\') {
                *out += c;
            }
        }
        return at_ < text_.size() && (++at_, true);
    }

    const std::wstring& text_;
    size_t at_;
};
