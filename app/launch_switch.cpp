// The window program's switches: the firewall rule for the installer and
// the uninstaller, and the usage text. Nothing here opens a window of the
// program's own or starts discovery.
#include "app/launch_switch.h"

#include "core/platform.h"
#include "firewall/firewall_rule.h"
#include "firewall/program_path.h"
#include "core/resource.h"

namespace {

// Installed beside this program; the installer runs only this one's switches.
const wchar_t kConsoleProgramFile[] = L"NetworkDiscoveryScan.exe";

// The installer's step for both programs: this executable and the console
// beside it, each with a rule of its own.
HRESULT RunFirewallSwitch(LaunchRequest request)
{
    ProgramPath self;
    ProgramPath console;
    if (!GetOwnProgramPath(&self) || !GetSiblingProgramPath(self, kConsoleProgramFile, &console)) {
        return E_FAIL;
    }
    const wchar_t* const paths[] = {self.text, console.text};
    return request == LaunchRequest::AddFirewallRule ? AddFirewallRules(paths, ARRAYSIZE(paths))
                                                     : RemoveFirewallRules(paths, ARRAYSIZE(paths));
}

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
    case LaunchRequest::RemoveFirewallRule:
        return FirewallSwitchExitStatus(RunFirewallSwitch(request));
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
