#ifndef HORAVEX_RESOURCE_H
#define HORAVEX_RESOURCE_H

/* Icons */
#define IDI_PROGRAM 100
#define IDI_TRAY 103

/* Cursors */
#define IDCUR_BUSY 100
#define IDCUR_LINK 101

/* Dialog templates */
#define IDD_MAIN 101
#define IDD_ABOUT 102
#define IDD_ADVANCED 103

/* Main dialog */
#define IDC_MAIN_GETTIME IDOK
#define IDC_MAIN_CLOSE IDCANCEL
#define IDC_MAIN_HOST 101
#define IDC_MAIN_STATUS 104
#define IDC_MAIN_TIME 105
#define IDC_MAIN_DIFF 106
#define IDC_MAIN_LAG 107
#define IDC_MAIN_ABOUT 108
#define IDC_MAIN_REPORTONLY 112
#define IDC_MAIN_AUTOCLOSE 113
#define IDC_MAIN_ZONE 114
#define IDC_MAIN_ADVANCED 115
#define IDC_MAIN_AUTOSTART 116
#define IDC_MAIN_SYSTRAY 117
#define IDC_MAIN_HELP 1000
#define IDC_MAIN_EXIT 1005
#define IDC_MAIN_STARTUP 1007

/* Tray menu commands */
#define IDM_GETTIME 100
#define IDM_ABOUT 101
#define IDM_HELP 102
#define IDM_EXIT 103
#define IDM_PROPERTIES 104

#endif
