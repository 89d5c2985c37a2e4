// Start-up step that adds the inbound UDP allow rule for the devices' answers.
#pragma once

void EnsureFirewallRule();
