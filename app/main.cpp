// Entry point of the Windows program: the window, or one of its switches.
#include <windows.h>

#include "app/application.h"
#include "app/command_line.h"
#include "app/launch_switch.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int showCommand)
{
    LaunchRequest request = ParseLaunchRequest(arguments);
    if (request != LaunchRequest::OpenWindow) {
        return RunLaunchSwitch(instance, request);
    }
    return RunApplication(instance, showCommand);
}
