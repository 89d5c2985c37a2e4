// Parser for the broadcast discovery reply: CR LF separated 8-bit text lines
// converted to UTF-16 fields of a DeviceRecord.
#include "net/discovery_reply.h"

#include <string.h>
#include <wchar.h>

#include "core/maker.h"

namespace {

// Substituted for each byte that the code page cannot convert; the rest of
// the line is still converted, so one bad byte costs one character only.
constexpr wchar_t kReplacementCharacter = 0xFFFD;

// Converts text[0..length) with the C runtime's multibyte conversion into
// field, keeping the first characters that fit and zero-terminating it.
void ConvertLine(const unsigned char* text, size_t length, wchar_t* field, size_t capacity)
{
    size_t stored = 0;
    size_t position = 0;
    mbstate_t state;
    memset(&state, 0, sizeof(state));
    while (position < length && stored + 1 < capacity) {
        wchar_t character = 0;
        // The count bounds the conversion to this line's own bytes.
        size_t used = mbrtowc(&character, reinterpret_cast<const char*>(text + position),
                              length - position, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
            // Invalid, or a multibyte sequence cut off by the end of the line:
            // replace its first byte and start afresh at the next one.
            character = kReplacementCharacter;
            used = 1;
            memset(&state, 0, sizeof(state));
        }
        field[stored++] = character;
        position += used;
    }
    field[stored] = L'\0';
}

// Index of the first CR LF pair at or after start, or length if there is none.
size_t FindLineEnd(const unsigned char* bytes, size_t start, size_t length)
{
    for (size_t i = start; i + 1 < length; ++i) {
        if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
            return i;
        }
    }
    return length;
}

}  // namespace

void ParseDiscoveryReply(const char* data, size_t length, DeviceRecord* record)
{
    if (record == nullptr) {
        return;
    }
    CopyText(record->portText, kPortTextChars, L"80");
    if (data == nullptr) {
        return;
    }

    struct Field {
        wchar_t* text;
        size_t capacity;
    };
    const Field fields[] = {
        {record->name, kNameChars},
        {record->macText, kMacTextChars},
        {record->description, kDescriptionChars},
        {record->portText, kPortTextChars},
    };
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);

    size_t position = 0;
    for (const Field& field : fields) {
        size_t lineEnd = FindLineEnd(bytes, position, length);
        bool lastLine = (lineEnd == length);
        size_t lineLength = lineEnd - position;

        // A zero byte ends the field's text; CR LF was searched across it.
        const void* zero = memchr(bytes + position, 0, lineLength);
        size_t textLength = zero != nullptr
            ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - (bytes + position))
            : lineLength;

        // Without a CR LF the rest is one last line; an empty one stores nothing.
        if (lastLine && textLength == 0) {
            return;
        }
        ConvertLine(bytes + position, textLength, field.text, field.capacity);
        if (lastLine) {
            return;
        }
        position = lineEnd + 2;
    }
}

bool IsMakersReply(const DeviceRecord* record)
{
    // By hand rather than wcsncmp: native builds use a 2-byte wchar_t, which
    // the C library's wide functions do not know.
    // Other makers' devices answer on the same port; theirs are not listed.
    for (size_t i = 0; kMakerDescriptionPrefix[i] != L'\0'; ++i) {
        if (record->description[i] != kMakerDescriptionPrefix[i]) {
            return false;
        }
    }
    return true;
}

bool IsWellFormedReply(const DeviceRecord* record)
{
    return record->description[0] != L'\0';
}
