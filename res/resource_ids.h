// Ids of the resources, controls and commands, as the dialogs and the menu
// carry them.
#pragma once

// Resources.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_SCAN_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDR_MENU = 131;
inline constexpr int IDB_BANNER = 138;
inline constexpr int IDD_SMART_MODE = 139;
inline constexpr int IDD_DRIVE_NOTICE = 141;

// Main dialog controls.
inline constexpr int IDC_SELECT_DRIVE_GROUP = 1000;
inline constexpr int IDC_DRIVE = 1001;
inline constexpr int IDC_SPEED = 1005;
inline constexpr int IDC_DISC_TYPE = 1006;
inline constexpr int IDC_MANUFACTURER_ID = 1007;
inline constexpr int IDC_MEDIA_TYPE_ID = 1008;
inline constexpr int IDC_START = 1009;
inline constexpr int IDC_STOP = 1010;
inline constexpr int IDC_ELAPSED = 1011;
inline constexpr int IDC_CAPACITY = 1012;
inline constexpr int IDC_GRAPH = 1015;
inline constexpr int IDC_DENSITY = 1016;
inline constexpr int IDC_TE_LEGEND = 1017;
inline constexpr int IDC_FE_LEGEND = 1018;
inline constexpr int IDC_FE_CHECK = 1023;
inline constexpr int IDC_TE_CHECK = 1024;
inline constexpr int IDC_STATUS = 1025;
inline constexpr int IDC_SMART_SCAN = 1027;

// Smart Mode Report controls (with 1006, 1007, 1008 and 1012 as above).
inline constexpr int IDC_EXIT = 2;  // the dialog's Cancel
inline constexpr int IDC_RESULT_LIST = 1028;
inline constexpr int IDC_PROGRESS = 1029;

// About and the drive notice.
inline constexpr int IDC_OK = 1;
inline constexpr int IDC_GLOBAL_SITE_LINK = 1034;
inline constexpr int IDC_SUPPORT_SITE_LINK = 1035;

// Commands.
inline constexpr int IDM_ABOUTBOX = 16;  // system menu entry
inline constexpr int ID_FILE_SAVE = 32771;
inline constexpr int ID_FILE_PRINT = 32772;
inline constexpr int ID_FILE_EXIT = 32773;
inline constexpr int ID_HELP_ABOUT = 32774;
inline constexpr int ID_HELP = 57670;
