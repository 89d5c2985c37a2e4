// Runs a switch of the window program instead of its window.
#pragma once

#include <windows.h>

#include "app/command_line.h"

// For every request but OpenWindow: does what it asks and returns the exit
// status. The firewall switches show nothing and touch no network (no
// Winsock, no interface table, no threads); usage goes to a message box.
int RunLaunchSwitch(HINSTANCE instance, LaunchRequest request);
