// Test-only export: the state of one key as this library copy's firmware
// thread sees it, or -1 when no firmware runs.

#include "plat.h"
#include "plat_firmware.h"

#include <QObject>

extern "C" __attribute__((visibility("default"))) int tfw_probe_key_state(int index)
{
    PlatFirmware *fw = plat_firmware();
    QObject *obj = fw ? dynamic_cast<QObject *>(fw) : nullptr;
    if (!obj || index < 0 || index >= PLAT_KEY_COUNT)
        return -1;
    int state = -1;
    QMetaObject::invokeMethod(
        obj, [&state, index] { state = plat_key_states()[index]; }, Qt::BlockingQueuedConnection);
    return state;
}
