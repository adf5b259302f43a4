// Resource and control numbers of Orvelcfg, shared by the resource script and the code.
#pragma once

#define IDD_MAIN_DIALOG 102
#define IDI_APPLICATION_ICON 128
#define IDI_SORT_NONE 1011
#define IDI_SORT_DOWN 1012
#define IDI_SORT_UP 1013

// Main dialog.
#define IDC_DEVICE_LIST 1002
#define IDC_DEVICE_NAME 1007
#define IDC_PORT 1008
#define IDC_REMOVE 1014
#define IDC_REMOVE_ALL 1015
#define IDC_UNDO 1017
#define IDC_APPLY 1050
#define IDC_ADVANCED 1051
#define IDC_NEW 1052
#define IDC_LABEL_NAME 1053
#define IDC_LABEL_ADDRESS 1054
#define IDC_LABEL_MAC 1055
#define IDC_LABEL_PORT 1056
#define IDC_OCTET1 1057
#define IDC_OCTET2 1058
#define IDC_OCTET3 1059
#define IDC_OCTET4 1060
#define IDC_MAC1 1061
#define IDC_MAC2 1062
#define IDC_MAC3 1063
#define IDC_MAC4 1064
#define IDC_MAC5 1065
#define IDC_MAC6 1066
#define IDC_DUPLICATE 1067

// The auto-detect dialog, "Advanced Settings".
#define IDD_AUTO_DETECT 103
#define IDI_ROW_NEW 1014
#define IDI_ROW_CHECKED 1015
#define IDI_ROW_LISTED 1016
#define IDC_AD_IMPORT 3
#define IDC_AD_EXPORT 4
#define IDC_AD_RESULTS 1001
#define IDC_AD_START 1013
#define IDC_AD_ABORT 1016
#define IDC_AD_START1 1022
#define IDC_AD_START2 1023
#define IDC_AD_START3 1025
#define IDC_AD_START4 1026
#define IDC_AD_SEARCHING 1064
#define IDC_AD_FROM 1065
#define IDC_AD_TO 1066
#define IDC_AD_MIRROR1 1071
#define IDC_AD_MIRROR2 1072
#define IDC_AD_MIRROR3 1073
#define IDC_AD_STOP 1074
#define IDC_AD_PROGRESS1 1075
#define IDC_AD_PROGRESS2 1076
#define IDC_AD_PROGRESS3 1077
#define IDC_AD_PROGRESS4 1078
#define IDC_AD_DOT1 1079
#define IDC_AD_DOT2 1080
#define IDC_AD_DOT3 1081

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
