// Resource numbers of Orvelcfg, shared by the resource script and the code.
#pragma once

#define IDD_MAIN_DIALOG 102
#define IDI_APPLICATION_ICON 128
#define IDI_SORT_NONE 1011
#define IDI_SORT_DOWN 1012
#define IDI_SORT_UP 1013

// Main dialog while the device list editor is not yet in place.
#define IDC_INTERIM_SUMMARY 1100
