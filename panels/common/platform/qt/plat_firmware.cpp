#include "plat_firmware.h"

#include <atomic>

static std::atomic<PlatFirmware *> s_firmware{nullptr};

void plat_set_firmware(PlatFirmware *fw)
{
    s_firmware.store(fw, std::memory_order_release);
}

PlatFirmware *plat_firmware()
{
    return s_firmware.load(std::memory_order_acquire);
}
