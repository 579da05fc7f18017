// Resource and command identifiers of the program.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_KAVENOR_DIALOG 102
#define IDD_SITE_QUESTION 103
#define IDI_KAVENOR 128
#define IDB_BACKGROUND 130
#define IDB_MINIMIZE 134

// System-menu command of the About box.
#define IDM_ABOUTBOX 0x0010

#define IDC_TEST_PAGE 1000
#define IDC_MINIMIZE 1001
#define IDC_STATUS_LOG 1002
#define IDC_SET_PORT 1003
#define IDC_PORT 1004
#define IDC_MODEL 1005
#define IDC_SET_MODEL 1006
#define IDC_SET_DEVICE_NAME 1007
#define IDC_DEVICE_NAME 1008
#define IDC_SITES 1009
#define IDC_REMOVE_SITE 1010
#define IDC_SITE_QUESTION 1011
#define IDC_ALLOW_SITE 1012
#define IDC_DENY_SITE 1013

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
