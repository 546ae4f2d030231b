/* The product's name and version as plain macros, because the Windows resource compiler reads
   this file as well as the C++ compiler: the version record of the .exe and app/version.h take
   their texts from here. Nothing but #define may go in. */
#ifndef ZQ_APP_VERSION_RC_H
#define ZQ_APP_VERSION_RC_H

#define ZQ_PRODUCT_NAME "Firmware Updater"
#define ZQ_VERSION_NUMBER "1.6.1.1"
/* The same four numbers, as FILEVERSION and PRODUCTVERSION want them. */
#define ZQ_VERSION_BINARY 1, 6, 1, 1
/* The version record's text of it, as the .exe's properties show it; nothing else prints it. */
#define ZQ_VERSION_TEXT "1, 6, 1, 1a"
/* The build this version was released as; the version record carries it as both its private
   and its special build. */
#define ZQ_RELEASE_BUILD "200505"

#endif
