/* Resource and control ids of the updater dialog, shared by the resource script and the dialog
   procedure; the resource compiler reads this file, so nothing but #define may go in. */
#ifndef ZQ_APP_WIN32_DIALOG_IDS_H
#define ZQ_APP_WIN32_DIALOG_IDS_H

#define ZQ_UPDATER_DIALOG 1

#define ZQ_PROGRESS_BAR 1002
#define ZQ_DOWNLOAD_BUTTON 1032
/* Not IDCANCEL (2): Escape must not end the program. */
#define ZQ_EXIT_BUTTON 4
#define ZQ_PROGRESS_LABEL 1031
#define ZQ_UPDATE_BUTTON 1033
#define ZQ_PORT_COMBO 1067
#define ZQ_VERSION_LABEL 1068

#endif
