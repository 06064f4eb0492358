#ifndef HORAVEX_RESOURCE_H
#define HORAVEX_RESOURCE_H

/* Icons */
#define IDI_PROGRAM 100
#define IDI_TRAY 103

/* Cursors */
#define IDC_BUSY 100
#define IDC_LINK 101

/* Dialog templates */
#define IDD_MAIN 101
#define IDD_ABOUT 102
#define IDD_ADVANCED 103

/* Tray menu commands */
#define IDM_GETTIME 100
#define IDM_ABOUT 101
#define IDM_HELP 102
#define IDM_EXIT 103
#define IDM_PROPERTIES 104

#endif
