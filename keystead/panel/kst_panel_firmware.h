#ifndef KST_PANEL_FIRMWARE_H
#define KST_PANEL_FIRMWARE_H

#include "tfw_interface.h"

#include <memory>

#include <QObject>
#include <QString>
#include <vector>

class KST_FirmwareInbox;
class QLibrary;

// Binds one running panel to one loaded copy of the firmware library. It
// loads the copy, resolves get_ifirmware, hands itself to the firmware as
// its callback and turns every report of the firmware into a signal.
//
// The firmware reports on its own thread (only ST_THREAD_FINISHED comes on
// the GUI thread) into the loader's inbox, which wakes the loader on the
// GUI thread; there the loader emits each report as its signal, in the
// order they came. Whoever listens connects with Qt::QueuedConnection and
// gets every report between events. registerMetaTypes() must have run
// before such connections are made; the constructor does it.
//
// Lifetime: created when a panel starts, start(), the firmware's own
// start() through firmware(), stop() when the panel stops, and deleted once
// the panel has seen the thread finish. The destructor stops the firmware
// once more and unloads the library copy.
class KST_PanelFirmware : public QObject, public TFW_IFirmwareCallback
{
    Q_OBJECT

public:
    // Nothing is loaded until start(). codeSource: the library that
    // libraryPath was copied from; when given, the copy runs on the
    // original's code pages (kst_shared_code.h), shared with every other
    // copy of it, and keeps its own variables.
    explicit KST_PanelFirmware(const QString &libraryPath, const QString &codeSource = QString());
    ~KST_PanelFirmware() override;

    // Loads the library, resolves get_ifirmware and hands over this object
    // as the callback. False (after a critical line) when the file cannot
    // be loaded or yields no firmware object; errorString() then says why.
    bool start();
    // Asks the firmware to stop (it waits up to 2000 ms for its thread; the
    // end is reported as ST_STOPPING and ST_THREAD_FINISHED). False when no
    // firmware is bound.
    bool stop();
    // Passes a key event to the firmware thread; dropped with a critical
    // line when no firmware is bound.
    void sendCollectorMsg(const collector::CollectorMsg &msg);

    // The library's firmware object, null until start() succeeded. Never
    // deleted by the host: it is a static object of the library copy.
    TFW_IFirmware *firmware() const { return m_firmware; }
    QString libraryPath() const { return m_libraryPath; }
    QString codeSource() const { return m_codeSource; }
    // Why the last start() failed, empty after a success.
    QString errorString() const { return m_error; }

    // Registers the types that travel in this object's queued signals,
    // under the names "TFW_IFirmwareCallback::StateMsg" and
    // "vector<QByteArray>" (and the collector message). Safe to repeat.
    static void registerMetaTypes();

    // Reports the firmware made that have not been emitted yet.
    int pendingReports() const;

    // Callback operation 1: the text as signal firm_msg_signal. The
    // firmware itself reports into the inbox; these operations emit at once
    // on the calling thread.
    void firmMsg(const QString &text) override;

signals:
    // Callback operations 0 and 2 are these signals themselves. A queued
    // connection copies the arguments.
    void stateMsg(TFW_IFirmwareCallback::StateMsg stateMsg) override;
    void firm_msg_signal(QString msgString);
    void buttondriverMsg(const std::vector<QByteArray> &ba) override;

private:
    // Woken by the inbox: emits what it holds.
    Q_INVOKABLE void deliverReports();

    std::unique_ptr<KST_FirmwareInbox> m_inbox;
    QLibrary *m_library;
    TFW_IFirmware *m_firmware = nullptr;
    QString m_libraryPath;
    QString m_codeSource;
    int m_codeImage = 0; // the shared code image, 0: none
    QString m_error;
};

#endif
