#ifndef KIV_RESOURCE_H
#define KIV_RESOURCE_H

/* Dialog templates */
#define IDD_STATUS 101
#define IDD_ASKDRIVE 112

/* Status window controls */
#define IDC_STATUS_ANIMATE 102
#define IDC_STATUS_TEXT 1000

/* Clips, resource type "AVI" */
#define IDR_AVI_FILECOPY 102
#define IDR_AVI_BKW 107
#define IDR_AVI_SEARCH 109
/* The same clips drawn at twice the scale, for screens of 168 DPI and more */
#define IDR_AVI_FILECOPY_2X 202
#define IDR_AVI_BKW_2X 207
#define IDR_AVI_SEARCH_2X 209

/* Drive chooser, template IDD_ASKDRIVE */
#define IDC_DRIVE_NEXT 3
#define IDC_DRIVE_LIST 1011
#define IDC_DRIVE_FREE 1013
#define IDC_DRIVE_REQUIRED 1014
#define IDC_DRIVE_TEXT 1015
#define IDC_DRIVE_GROUP 1016
#define IDC_DRIVE_BACK 1017
#define IDC_DRIVE_CANCEL 1018
#define IDC_DRIVE_FREE_LABEL 1019
#define IDC_DRIVE_REQUIRED_LABEL 1020
/* Made at run time, not in the template: the list's label for screen readers */
#define IDC_DRIVE_LIST_LABEL 1021

/* String table */
#define IDS_DLL_ERROR 1
// The unit after the drive chooser's numbers, in each language: "MB".
#define IDS_DRIVE_UNIT 2

#endif
