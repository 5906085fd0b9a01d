#ifndef RECORDING_HOST_H
#define RECORDING_HOST_H

#include "plat_firmware.h"

#include <QStringList>
#include <vector>

// Stands in for the firmware object: records what the platform layer sends
// to the host. Installs itself as the process-wide firmware while it lives.
class RecordingHost : public PlatFirmware
{
public:
    RecordingHost() { plat_set_firmware(this); }
    ~RecordingHost() override { plat_set_firmware(nullptr); }

    void stateMsg(StateMsg msg) override { states.push_back(int(msg)); }
    void firmMsg(const QString &text) override { texts.append(text); }
    void buttondriverMsg(const std::vector<QByteArray> &batch) override
    {
        batches.push_back(batch.size());
        records.insert(records.end(), batch.begin(), batch.end());
    }
    void requestReload() override { ++reloads; }

    std::vector<QByteArray> take()
    {
        std::vector<QByteArray> r;
        r.swap(records);
        return r;
    }

    std::vector<int> states;
    QStringList texts;
    std::vector<QByteArray> records;
    std::vector<size_t> batches;
    int reloads = 0;
};

#endif
