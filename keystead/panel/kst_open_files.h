#ifndef KST_OPEN_FILES_H
#define KST_OPEN_FILES_H

// The open-files limit of the host process. Every running panel holds
// descriptors of its own (its FTP thread's event loop, its UDP socket,
// its injector's listening socket and clients), so a host with hundreds of
// panels reaches the usual soft limit of 1024 long before anything else runs
// short. The host raises the soft limit to the hard limit at start and checks
// each panel start against what is left, so that a start that would not fit
// is refused with one message instead of failing inside the firmware.

#include <QString>

// Descriptors a running panel holds all the time, counted by looking at
// /proc/self/fd before and after a start. Its firmware threads open theirs
// once the panel starts (the firmware thread runs its own loop and opens no
// wake-up descriptor):
//  - the wake-up counter (eventfd) of its FTP thread's event loop,
//  - its router-link UDP socket,
//  - its FTP listening socket.
enum { KST_PANEL_FIRMWARE_OPEN_FILES = 3 };
// The host opens none of its own for a panel: the inboxes of all panels
// share their thread's one wake-up counter, and all library copies their
// one code image (KST_HOST_SHARED_OPEN_FILES).
enum { KST_PANEL_HOST_OPEN_FILES = 0 };
// All of them: what every panel start is checked for.
enum { KST_PANEL_OPEN_FILES = KST_PANEL_FIRMWARE_OPEN_FILES + KST_PANEL_HOST_OPEN_FILES };
// Descriptors its FTP server opens while a client is connected: the control
// connection and the data connection.
enum { KST_FTP_SESSION_OPEN_FILES = 2 };
// Descriptors of a panel's injector: its listening socket and one client.
enum { KST_INJECTOR_OPEN_FILES = 2 };
// Descriptors kept free for the host itself (log file, library loading and
// copying, its own connections), never handed to panels.
enum { KST_HOST_OPEN_FILES_RESERVE = 16 };
// Descriptors the host opens with its first panel and closes with its last,
// out of the reserve: the wake-up counter of the thread that takes the
// panels' reports (KST_FirmwareInbox) and the code image of the firmware
// library (kst_shared_code.h; one more while copies of a rebuilt library
// run beside the old).
enum { KST_HOST_SHARED_OPEN_FILES = 2 };

struct KST_OpenFilesLimit
{
    long soft = -1;  // -1: unlimited or unknown
    long hard = -1;
};

// Raises the soft limit on open files to the hard limit. Called once at
// start by every program that hosts panels. Returns the limits now in force.
KST_OpenFilesLimit KST_raiseOpenFilesLimit();
// The limits now in force.
KST_OpenFilesLimit KST_openFilesLimit();
// Descriptors this process has open now (-1 when that cannot be told).
int KST_openFileCount();

// Whether a panel start that needs `needed` more descriptors fits under the
// soft limit, given `promised` descriptors already promised to panels that
// are starting but have not opened theirs yet. Otherwise returns false and,
// in message, why and how to raise the limit.
bool KST_panelStartFits(int needed, int promised, QString *message);

// The pure rule behind KST_panelStartFits: open + promised + needed plus the
// host's reserve must stay within limit (limit < 0: no limit).
bool KST_openFilesFit(long limit, int open, int promised, int needed);
// "the open-files limit of 1024 (ulimit -n) leaves no room for ..." with
// how to raise it.
QString KST_openFilesMessage(const KST_OpenFilesLimit &limit, int open, int needed);

#endif
