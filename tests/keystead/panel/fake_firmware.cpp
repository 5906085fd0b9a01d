// Stand-ins for a broken firmware library, one per build variant:
//   FAKE_NO_ENTRY    exports something, but not get_ifirmware
//   FAKE_NULL_ENTRY  get_ifirmware returns no object
//   FAKE_STUCK       a firmware whose thread never stops; fake_callback and
//                    fake_report let a test act as that thread

#include "tfw_interface.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(FAKE_NO_ENTRY)

FAKE_EXPORT int not_the_entry()
{
    return 1;
}

#elif defined(FAKE_NULL_ENTRY)

FAKE_EXPORT TFW_IFirmware *get_ifirmware()
{
    return nullptr;
}

#elif defined(FAKE_STUCK)

#include <atomic>

namespace {

class StuckFirmware : public TFW_IFirmware
{
public:
    void setCallback(TFW_IFirmwareCallback *cb) override { callback.store(cb); }
    void start(const QString &, const QString &, int, const QString &) override {}
    bool stop() override { return false; }
    void sendCollectorMsg(const collector::CollectorMsg &) override {}
    QString buildDate() override { return QString(); }
    QString version() override { return QString(); }

    std::atomic<TFW_IFirmwareCallback *> callback{nullptr};
};

StuckFirmware s_firmware;

} // namespace

FAKE_EXPORT TFW_IFirmware *get_ifirmware()
{
    return &s_firmware;
}

FAKE_EXPORT TFW_IFirmwareCallback *fake_callback()
{
    return s_firmware.callback.load();
}

// Reports a state and a batch of one record, as a firmware thread would;
// the batch is changed right after the call, as a firmware reusing its
// vector would.
FAKE_EXPORT void fake_report(int state)
{
    TFW_IFirmwareCallback *cb = s_firmware.callback.load();
    if (!cb)
        return;
    cb->stateMsg(TFW_IFirmwareCallback::StateMsg(state));
    std::vector<QByteArray> records{QByteArray("first")};
    cb->buttondriverMsg(records);
    records[0] = QByteArray("changed");
    cb->firmMsg(QStringLiteral("fake text"));
}

#else
#error "choose a variant"
#endif
