// The report's sentences, loaded from the executable's string table so the
// window and the console say the same.
#include "diagnosis/report_text.h"

#include "core/globals.h"
#include "core/resource.h"
#include "diagnosis/facts_view.h"
#include "net/address_class.h"

#include <stdarg.h>
#include <stdio.h>

namespace diagnosis {

void LoadText(UINT id, wchar_t* text, size_t capacity)
{
    if (capacity == 0) {
        return;
    }
    text[0] = L'\0';
    int chars = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    if (LoadStringW(g_instance, id, text, chars) <= 0) {
        text[0] = L'\0';
    }
    text[capacity - 1] = L'\0';
}

void FormatLoaded(wchar_t* text, size_t capacity, UINT id, ...)
{
    if (capacity == 0) {
        return;
    }
    wchar_t format[kLineChars];
    LoadText(id, format, kLineChars);
    va_list arguments;
    va_start(arguments, id);
    int written = _vsnwprintf(text, capacity, format, arguments);
    va_end(arguments);
    // A line cut short is still a line: _vsnwprintf leaves it unterminated.
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        text[capacity - 1] = L'\0';
    }
}

void CauseText(const Facts& facts, const Finding& finding, wchar_t* text, size_t capacity)
{
    wchar_t address[16];
    FormatDottedQuad(finding.interfaceAddress, address, 16);
    const InterfaceFacts* known = InterfaceOf(facts, finding.interfaceAddress);
    const wchar_t* description = known != nullptr ? known->description : L"";
    switch (finding.cause) {
    case Cause::kNoInterface:
        LoadText(IDS_CAUSE_NO_INTERFACE, text, capacity);
        return;
    case Cause::kFirewallBlocked:
        LoadText(IDS_CAUSE_FIREWALL_BLOCKED, text, capacity);
        return;
    case Cause::kSendFailed: {
        const diag::InterfaceCounts* counts = CountsOf(facts, finding.interfaceAddress);
        unsigned long error = counts != nullptr ? counts->lastSendError : 0;
        FormatLoaded(text, capacity, IDS_CAUSE_SEND_FAILED, address, error);
        return;
    }
    case Cause::kSubnetFilter:
        if (finding.count == 1) {
            LoadText(IDS_CAUSE_SUBNET_FILTER_ONE, text, capacity);
        } else {
            FormatLoaded(text, capacity, IDS_CAUSE_SUBNET_FILTER_MANY, finding.count);
        }
        return;
    case Cause::kOtherMakerOnly:
        LoadText(IDS_CAUSE_OTHER_MAKER_ONLY, text, capacity);
        return;
    case Cause::kMulticastBlocked:
        FormatLoaded(text, capacity, IDS_CAUSE_MULTICAST_BLOCKED, address);
        return;
    case Cause::kLinkLocalOnly:
        LoadText(IDS_CAUSE_LINK_LOCAL_ONLY, text, capacity);
        return;
    case Cause::kVirtualAdapter:
        FormatLoaded(text, capacity, IDS_CAUSE_VIRTUAL_ADAPTER, address, description);
        return;
    case Cause::kNoAnswer:
        LoadText(IDS_CAUSE_NO_ANSWER, text, capacity);
        return;
    case Cause::kNothingFound:
        LoadText(IDS_CAUSE_NOTHING_FOUND, text, capacity);
        return;
    }
    if (capacity > 0) {
        text[0] = L'\0';
    }
}

}  // namespace diagnosis
