// The window program's switches: the firewall rule for the installer and
// the uninstaller, and the usage text. Nothing here opens a window of the
// program's own or starts discovery.
#include "app/launch_switch.h"

#include "core/platform.h"
#include "firewall/firewall_rule.h"
#include "core/resource.h"

namespace {

void ShowUsage(HINSTANCE instance, UINT icon)
{
    // Resource strings are at most 4,096 characters long.
    wchar_t text[4100] = {};
    wchar_t caption[100] = {};
    LoadStringW(instance, IDS_USAGE, text, ARRAYSIZE(text));
    LoadStringW(instance, IDS_USAGE_CAPTION, caption, ARRAYSIZE(caption));
    g_platform.messageBox(nullptr, text, caption, MB_OK | icon);
}

}  // namespace

int RunLaunchSwitch(HINSTANCE instance, LaunchRequest request)
{
    switch (request) {
    case LaunchRequest::AddFirewallRule:
        return FirewallSwitchExitStatus(AddFirewallRule());
    case LaunchRequest::RemoveFirewallRule:
        return FirewallSwitchExitStatus(RemoveFirewallRule());
    case LaunchRequest::ShowUsage:
        ShowUsage(instance, MB_ICONINFORMATION);
        return kExitDone;
    case LaunchRequest::OpenWindow:
    case LaunchRequest::UsageError:
        break;
    }
    ShowUsage(instance, MB_ICONWARNING);
    return kExitUsageError;
}
