// Named identifiers of every resource in dirshift.rc, grouped by their user.
// Shared by the resource compiler and the C++ code: plain #defines only.
#pragma once

// Icons
#define IDI_DIRSHIFT                138

// Relocation dialog
#define IDD_RELOCATE                129
#define IDC_BROWSE_TARGET           1001
#define IDC_SOURCE_LABEL            1003
#define IDC_VERSION_TEXT            1004
#define IDC_TARGET_LABEL            1005
#define IDC_BROWSE_SOURCE           1007
#define IDC_SOURCE_PATH             1018
#define IDC_TARGET_PATH             1020
#define IDC_RELOCATE                1021
#define IDC_COMPARE_CONTENTS        1009

// Junction manager dialog
#define IDD_MANAGER                 139
#define IDC_JUNCTION_LIST           1000
#define IDC_REMOVE_SELECTED         1002
#define IDC_RECURSE                 1015
#define IDC_SCAN                    1019
#define IDC_SCAN_FOLDER             1022
#define IDC_BROWSE_SCAN_FOLDER      1023
#define IDC_MOVE_BACK               1024
#define IDC_REPOINT                 1025
#define IDC_CHANGE_DRIVE            1026

// The manager's re-point dialog
#define IDD_REPOINT                 150
#define IDC_REPOINT_LINK            1030
#define IDC_REPOINT_OLD             1031
#define IDC_REPOINT_NEW             1032
#define IDC_REPOINT_BROWSE          1033

// The manager's drive-letter dialog
#define IDD_CHANGE_DRIVE            151
#define IDC_DRIVE_FROM              1040
#define IDC_DRIVE_TO                1041
#define IDC_DRIVE_COUNT             1042

// Created at run time by both dialogs
#define IDC_STATUS_BAR              4883

// Strings of the program
#define IDS_APP_CAPTION             103
#define IDS_NO_REPARSE_SUPPORT      105
#define IDS_NO_FOLDER_SELECTED      106
#define IDS_RELOCATION_DONE         107
#define IDS_RELOCATION_FAILED       108
#define IDS_VERSION_NOTICE          109
#define IDS_SCAN_COMPLETE           112
#define IDS_SCANNING                113
#define IDS_SCANNING_FOLDER         114
#define IDS_SCAN_ABORTED            115

// Message box button and check-box labels (there is no 9001: OK is never translated)
#define IDS_PB_CANCEL               9002
#define IDS_PB_IGNORE               9003
#define IDS_PB_RETRY                9004
#define IDS_PB_ABORT                9005
#define IDS_PB_HELP                 9006
#define IDS_PB_YES                  9007
#define IDS_PB_NO                   9008
#define IDS_PB_CONTINUE             9009
#define IDS_PB_DONTASKAGAIN         9010
#define IDS_PB_DONTTELLAGAIN        9011
#define IDS_PB_DONTSHOWAGAIN        9012
#define IDS_PB_YESTOALL             9013
#define IDS_PB_NOTOALL              9014
#define IDS_PB_TRYAGAIN             9015
#define IDS_PB_REPORT               9016
#define IDS_PB_IGNOREALL            9017
#define IDS_PB_SKIP                 9018
#define IDS_PB_SKIPALL              9019

#ifndef IDC_STATIC
#define IDC_STATIC                  (-1)
#endif
