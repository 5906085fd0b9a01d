// Test-only export: the state of one key as this library copy's firmware
// thread sees it, or -1 when no firmware runs.

#include "plat.h"
#include "plat_firmware.h"

#include <QObject>
#include <future>

extern "C" __attribute__((visibility("default"))) int tfw_probe_key_state(int index)
{
    PlatFirmware *fw = plat_firmware();
    QObject *obj = fw ? dynamic_cast<QObject *>(fw) : nullptr;
    if (!obj || index < 0 || index >= PLAT_KEY_COUNT)
        return -1;
    // The key array belongs to the firmware thread: read it there, through a
    // queued connection, and wait for the answer on a future. The connection
    // (and with it the call's closure) is dropped only after the answer came
    // back, so every hand-over is one the thread sanitizer can follow; Qt's
    // own blocking calls synchronise inside Qt, where it cannot see.
    std::promise<int> answer;
    std::future<int> state = answer.get_future();
    QObject trigger;
    QObject::connect(&trigger, &QObject::objectNameChanged, obj,
                     [&answer, index] { answer.set_value(plat_key_states()[index]); },
                     Qt::QueuedConnection);
    trigger.setObjectName(QStringLiteral("probe"));
    return state.get();
}
