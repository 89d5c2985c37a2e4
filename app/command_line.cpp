// The window program's switches, parsed without system calls so that the
// rules can be tested anywhere.
#include "app/command_line.h"

#include <cstddef>

namespace {

bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

wchar_t LowerAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// True when [begin, end) equals `lowerName` in any letter case.
bool NameIs(const wchar_t* begin, const wchar_t* end, const wchar_t* lowerName)
{
    for (; begin != end; ++begin, ++lowerName) {
        if (*lowerName == L'\0' || LowerAscii(*begin) != *lowerName) {
            return false;
        }
    }
    return *lowerName == L'\0';
}

struct SwitchName {
    const wchar_t* lowerName;
    LaunchRequest request;
};

const SwitchName kSwitches[] = {
    {L"addfirewallrule", LaunchRequest::AddFirewallRule},
    {L"removefirewallrule", LaunchRequest::RemoveFirewallRule},
    {L"?", LaunchRequest::ShowUsage},
    {L"h", LaunchRequest::ShowUsage},
    {L"help", LaunchRequest::ShowUsage},
};

}  // namespace

LaunchRequest ParseLaunchRequest(const wchar_t* arguments)
{
    if (arguments == nullptr) {
        return LaunchRequest::OpenWindow;
    }
    const wchar_t* begin = arguments;
    while (IsSpace(*begin)) {
        ++begin;
    }
    if (*begin == L'\0') {
        return LaunchRequest::OpenWindow;
    }
    const wchar_t* end = begin;
    while (*end != L'\0' && !IsSpace(*end)) {
        ++end;
    }
    for (const wchar_t* rest = end; *rest != L'\0'; ++rest) {
        if (!IsSpace(*rest)) {
            return LaunchRequest::UsageError;  // a second word
        }
    }

    if (*begin == L'/') {
        ++begin;
    } else if (*begin == L'-') {
        begin += begin[1] == L'-' ? 2 : 1;
    } else {
        return LaunchRequest::UsageError;
    }
    for (const SwitchName& name : kSwitches) {
        if (NameIs(begin, end, name.lowerName)) {
            return name.request;
        }
    }
    return LaunchRequest::UsageError;
}

int FirewallSwitchExitStatus(long result)
{
    return result == 0 ? kExitDone : kExitFirewallFailed;
}
