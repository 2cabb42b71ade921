// Resource identifiers shared by kelvane.rc and the dialogs. Plain #defines:
// the resource compiler reads this file too.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SWITCHER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_CONFIG 129
#define IDD_BANDS 130

#define IDM_ABOUTBOX 0x0010

// Main window
#define IDC_CONFIG 1160
#define IDC_BAND_ANTENNA1 1302
#define IDC_NOW_ANTENNA 1312
#define IDC_BAND_NAME1 1320
#define IDC_FREQ 2000
#define IDC_AUTO 2001

// Configuration dialog
#define IDC_ANT_NAME1 1161
#define IDC_ANT_VALUE1 1171
#define IDC_PORT_DEC 1181
#define IDC_PORT_HEX 1182
#define IDC_BANDS 1314

// Bands dialog
#define IDC_BAND_EDIT_NAME1 1330
#define IDC_BAND_EDIT_HIGH1 1350
#define IDC_BAND_EDIT_LOW1 1360

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
