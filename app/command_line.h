// The window program's switches: what its command line asks for, and the
// exit status each outcome ends the process with. Pure: no system calls.
#pragma once

enum class LaunchRequest {
    OpenWindow,          // no switch: the program as a person starts it
    AddFirewallRule,     // /AddFirewallRule: the installer's step
    RemoveFirewallRule,  // /RemoveFirewallRule: the uninstaller's step
    ShowUsage,           // /? (also /h, /help)
    UsageError,          // anything else
};

// Exit statuses of the switches, named in the usage text.
constexpr int kExitDone = 0;
constexpr int kExitFirewallFailed = 1;
constexpr int kExitUsageError = 2;

// `arguments` is the command line after the program's name (wWinMain's
// third parameter); null counts as empty. A switch starts with '/', '-' or
// "--" and its name is matched without regard to letter case; exactly one
// switch is accepted.
LaunchRequest ParseLaunchRequest(const wchar_t* arguments);

// The exit status of a firewall switch from the operation's result: done
// only for S_OK (0), anything else failed.
int FirewallSwitchExitStatus(long result);
