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

/* String table */
#define IDS_DLL_ERROR 1

#endif
