// Fuzz target: the broadcast discovery reply parser over arbitrary bytes.
// Every text field must end within its capacity, and the parser must touch
// nothing but its four fields.
// fuzz-sources: net/discovery_reply.cpp core/text_copy.cpp
#include <locale.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "net/discovery_reply.h"

namespace {

bool Terminated(const wchar_t* field, size_t capacity)
{
    return wmemchr(field, L'\0', capacity) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A multibyte code page exercises the conversion's sequence handling.
    setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    ParseDiscoveryReply(reinterpret_cast<const char*>(data), size, &record);

    if (!Terminated(record.name, kNameChars) || !Terminated(record.macText, kMacTextChars) ||
        !Terminated(record.description, kDescriptionChars) ||
        !Terminated(record.portText, kPortTextChars)) {
        abort();
    }
    if (record.arpMismatch != 0 || record.arpConfirmed != 0 || record.state != 0 ||
        record.lastSeen != 0 || record.fromMdns != 0 || record.ipText[0] != L'\0') {
        abort();
    }
    // No CR LF means a single line: only the name can be set.
    bool hasLineEnd = false;
    for (size_t i = 0; i + 1 < size; ++i) {
        hasLineEnd = hasLineEnd || (data[i] == '\r' && data[i + 1] == '\n');
    }
    if (!hasLineEnd && (record.macText[0] != L'\0' || wcscmp(record.portText, L"80") != 0)) {
        abort();
    }
    return 0;
}
