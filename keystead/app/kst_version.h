#ifndef KST_VERSION_H
#define KST_VERSION_H

// The program's version and build date texts; the firmware library reports
// the same two.
#define KST_VERSION "1.1.1.7"
#define KST_BUILD_DATE "2011-09-23T09:54:02.562000"

#endif
