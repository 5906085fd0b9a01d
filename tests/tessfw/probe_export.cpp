// Test-only export: the state of one key as this library copy's firmware
// thread sees it, or -1 when no firmware runs.

#include "plat.h"
#include "plat_firmware.h"
#include "timer_list.h"

#include <QObject>
#include <cstdint>
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

namespace {

// A write to an unmapped page, as a wild pointer would do.
void wildWrite(int)
{
    static volatile uintptr_t wild = 8;
    *reinterpret_cast<volatile int *>(wild) = 1;
}

} // namespace

// Test-only export: makes this copy's firmware thread fault. inLoop 1: in
// the next loop pass (a timer-list entry of the firmware core); 0: in a
// call queued to the firmware object from outside the firmware's slots.
// Returns -1 when no firmware runs.
extern "C" __attribute__((visibility("default"))) int tfw_probe_fault(int inLoop)
{
    PlatFirmware *fw = plat_firmware();
    QObject *obj = fw ? dynamic_cast<QObject *>(fw) : nullptr;
    if (!obj)
        return -1;
    if (inLoop)
        QMetaObject::invokeMethod(obj, [] { tl_start_call(0, wildWrite, 0); });
    else
        QMetaObject::invokeMethod(obj, [] { wildWrite(0); });
    return 0;
}
