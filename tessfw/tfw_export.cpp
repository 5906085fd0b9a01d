// The library's only exported symbol. Every loaded copy of the library has
// its own firmware thread object, constructed when the copy is loaded.

#include "tfw_firmware_thread.h"

static TFW_FirmwareThread s_firmware;

extern "C" __attribute__((visibility("default"))) TFW_IFirmware *get_ifirmware()
{
    return &s_firmware;
}
