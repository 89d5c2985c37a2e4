// Resource and control identifiers, shared by the resource script and the code.
#pragma once

// The program's version: the version resource is made from these, and the
// About box reads it back from the executable.
#define NDT_VERSION_MAJOR 1
#define NDT_VERSION_MINOR 7
#define NDT_VERSION_PATCH 0
#define NDT_VERSION_BUILD 0
#define NDT_TEXT_OF(value) #value
#define NDT_TEXT(value) NDT_TEXT_OF(value)
#define NDT_VERSION_TEXT \
    NDT_TEXT(NDT_VERSION_MAJOR) "." NDT_TEXT(NDT_VERSION_MINOR) "." \
    NDT_TEXT(NDT_VERSION_PATCH) "." NDT_TEXT(NDT_VERSION_BUILD)

// Who makes the program and what it is called: the version resources of both
// programs and the installer package are made from these.
#define NDT_MAKER_NAME "Orvel Electronics Ltd."
#define NDT_PRODUCT_NAME "Network Discovery Tool"

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
#define IDC_DEVICE_COUNT 1004
#define IDC_FIND_LABEL 1005
#define IDC_FIND_TEXT 1006
#define IDC_ABOUT_VERSION 1010

// The row context menu and the commands for getting rows out of the window.
#define IDR_ROW_MENU 111
#define IDM_COPY_ALL 2001
#define IDM_SAVE_LIST 2002
#define IDM_COPY_SELECTED 2003
#define IDM_OPEN_PAGE 2004
#define IDM_COPY_IP 2005
#define IDM_COPY_MAC 2006
#define IDM_COPY_ROW 2007

// Finding rows by their text.
#define IDM_FIND 2010
#define IDM_FIND_NEXT 2011
#define IDM_FIND_PREVIOUS 2012

// A device row's state in words (the Status column).
#define IDS_STATE_LINK_LOCAL 120
#define IDS_STATE_OTHER_SUBNET 121
#define IDS_STATE_CONFLICT 122

// The window program's switches in words (a message box for /?).
#define IDS_USAGE 130
#define IDS_USAGE_CAPTION 131

// The diagnosis of an empty list in words (report, summary, causes).
#define IDS_DIAG_TITLE 140
#define IDS_DIAG_ROWS 141
#define IDS_DIAG_WAYS 142
#define IDS_DIAG_WAY_BROADCAST 143
#define IDS_DIAG_WAY_MDNS 144
#define IDS_DIAG_WAY_BOTH 145
#define IDS_DIAG_INTERFACE 146
#define IDS_DIAG_NOT_SEARCHED 147
#define IDS_DIAG_BROADCAST 148
#define IDS_DIAG_SEND_ERROR 149
#define IDS_DIAG_MDNS 150
#define IDS_DIAG_CLIENT_SYSTEM 151
#define IDS_DIAG_CLIENT_OWN 152
#define IDS_DIAG_NOT_COUNTED 153
#define IDS_DIAG_FIREWALL 154
#define IDS_DIAG_FIREWALL_ON 155
#define IDS_DIAG_FIREWALL_RULE 156
#define IDS_DIAG_FIREWALL_OTHER 157
#define IDS_DIAG_YES 158
#define IDS_DIAG_NO 159
#define IDS_DIAG_UNKNOWN 160
#define IDS_DIAG_NONE 161
#define IDS_DIAG_PROFILE_DOMAIN 162
#define IDS_DIAG_PROFILE_PRIVATE 163
#define IDS_DIAG_PROFILE_PUBLIC 164
#define IDS_DIAG_CAUSES 165
#define IDS_DIAG_NO_CAUSE 166
#define IDS_DIAG_ARP_MARKS 167
#define IDS_DIAG_SUMMARY 168
#define IDS_DIAG_MORE_INTERFACES 169
#define IDS_CAUSE_NO_INTERFACE 170
#define IDS_CAUSE_FIREWALL_BLOCKED 171
#define IDS_CAUSE_SEND_FAILED 172
#define IDS_CAUSE_SUBNET_FILTER_ONE 173
#define IDS_CAUSE_SUBNET_FILTER_MANY 174
#define IDS_CAUSE_OTHER_MAKER_ONLY 175
#define IDS_CAUSE_MULTICAST_BLOCKED 176
#define IDS_CAUSE_LINK_LOCAL_ONLY 177
#define IDS_CAUSE_VIRTUAL_ADAPTER 178
#define IDS_CAUSE_NO_ANSWER 179
#define IDS_CAUSE_NOTHING_FOUND 180
// Why the list is empty: the explanation over the empty list, the Help
// menu's diagnostics and their dialog, and the ARP column's marks explained.
#define IDD_DIAGNOSTICS 135
#define IDM_NETWORK_DIAGNOSTICS 3000
#define IDC_EMPTY_EXPLANATION 1020
#define IDC_REPORT_TEXT 1021
#define IDC_REPORT_COPY 1022
#define IDC_REPORT_SAVE 1023
#define IDS_EMPTY_REPORT_LINK 200
#define IDS_EMPTY_NO_REPORT 201
#define IDS_ARP_HEADER_TIP 202
#define IDS_REPORT_SAVE_FILTER 203
#define IDS_REPORT_SAVE_NAME 204
#define IDS_REPORT_SAVE_FAILED 205
#define IDS_REPORT_CAPTION 206
#define IDS_REPORT_UNAVAILABLE 207

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
