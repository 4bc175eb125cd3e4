// Identifiers of the settings dialog's template and controls (shared by the .rc and the C++ side).
#pragma once

#define IDD_SETTINGSFORM 100

#define IDC_COMPORTL 1001
#define IDC_BAUDSL 1002
#define IDC_PASSWORDL 1003
#define IDC_COMPORTSE 1010
#define IDC_COMPORTUD 1011
#define IDC_BAUDSCB 1020
#define IDC_PASSWORDME 1030
/* ApplyBtn and CancelBtn are IDOK and IDCANCEL: Enter and Escape reach them. */
