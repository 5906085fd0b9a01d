#ifndef PANEL_HOST_H
#define PANEL_HOST_H

#include "kst_panel_firmware.h"

#include <QObject>
#include <memory>

// Hosts one firmware library copy the way Keystead does for a panel: copies
// the library into the panel's work directory as "firm." and loads that
// copy through the host's firmware loader (KST_PanelFirmware). The loader's
// reports are re-emitted as signals; receivers on the host's thread get them
// queued, in order.
class PanelHost : public QObject
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

    TFW_IFirmware *firmware() const { return m_loader ? m_loader->firmware() : nullptr; }
    // The loader of the loaded copy, null when none is loaded.
    KST_PanelFirmware *loader() const { return m_loader.get(); }
    QString errorString() const { return m_error; }
    QString libraryCopyPath() const { return m_loader ? m_loader->libraryPath() : QString(); }

signals:
    void stateReported(TFW_IFirmwareCallback::StateMsg msg);
    void textReported(const QString &text);
    void recordsReported(const std::vector<QByteArray> &records);

private:
    std::unique_ptr<KST_PanelFirmware> m_loader;
    QString m_error;
};

#endif
