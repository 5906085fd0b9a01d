#ifndef PLAT_FIRMWARE_H
#define PLAT_FIRMWARE_H

#include "tfw_interface.h"

// The firmware object of this library copy as the platform layer sees it:
// the host callback operations plus the reload request. Exactly one exists
// while the firmware thread runs; the platform layer reaches the host only
// through it.
class PlatFirmware : public TFW_IFirmwareCallback
{
public:
    // Asks the firmware thread to reload the configuration file at its next
    // tick. Callable from any thread.
    virtual void requestReload() = 0;
};

// The process-wide pointer to the running firmware object (null while no
// firmware thread runs). Set by the firmware thread only; read by the
// firmware and FTP threads.
void plat_set_firmware(PlatFirmware *fw);
PlatFirmware *plat_firmware();

// The panel's own address text as the host gave it, when it is no IPv4
// address (null or empty: the address is fine). While one is set, opening
// the router-link socket fails as a bind failure does, naming the text,
// instead of binding some other address. Set by the firmware thread before
// the loop initialisation.
void plat_udp_refuse_address(const char *text);

#endif
