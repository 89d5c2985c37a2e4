// Resource and control identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ABOUT 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDI_APP 107
#define IDR_MAIN_MENU 109
#define IDR_ACCEL 109
#define IDD_MAIN 129
#define IDS_WINDOW_CLASS 110

#define IDC_DEVICE_LIST 1000
#define IDC_REFRESH 1001
#define IDC_AUTO_REFRESH 1002
#define IDC_SUBNET 1003

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
