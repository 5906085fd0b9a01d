#ifndef PANEL_HOST_H
#define PANEL_HOST_H

#include "tfw_interface.h"

#include <QLibrary>
#include <QObject>
#include <memory>

// Hosts one firmware library copy the way Keystead does for a panel: copies
// the library into the panel's work directory as "firm.", loads that copy,
// resolves get_ifirmware and acts as the firmware's callback. Reports from
// the firmware thread are re-emitted as signals; receivers on the host's
// thread get them queued, in order.
class PanelHost : public QObject, public TFW_IFirmwareCallback
{
    Q_OBJECT

public:
    explicit PanelHost(QObject *parent = nullptr);
    ~PanelHost() override;

    // Copies library into workDir as "firm." and loads the copy. On failure
    // returns false; errorString() says why.
    bool load(const QString &library, const QString &workDir);
    // Unloads the copy. The firmware must have stopped.
    void unload();

    TFW_IFirmware *firmware() const { return m_firmware; }
    QString errorString() const { return m_error; }
    QString libraryCopyPath() const { return m_library ? m_library->fileName() : QString(); }

    // TFW_IFirmwareCallback
    void stateMsg(StateMsg msg) override;
    void firmMsg(const QString &text) override;
    void buttondriverMsg(const std::vector<QByteArray> &records) override;

signals:
    void stateReported(TFW_IFirmwareCallback::StateMsg msg);
    void textReported(const QString &text);
    void recordsReported(const std::vector<QByteArray> &records);

private:
    std::unique_ptr<QLibrary> m_library;
    TFW_IFirmware *m_firmware = nullptr;
    QString m_error;
};

#endif
