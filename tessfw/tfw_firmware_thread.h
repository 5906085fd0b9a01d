#ifndef TFW_FIRMWARE_THREAD_H
#define TFW_FIRMWARE_THREAD_H

#include "tfw_interface.h"

#include <QThread>
#include <atomic>
#include <mutex>

class TFW_Firmware;

// The firmware thread of one library copy, and at the same time the
// library's TFW_IFirmware. Its run() creates the TFW_Firmware object that
// owns the loop, runs that loop under the crash guard and cleans up.
class TFW_FirmwareThread : public QThread, public TFW_IFirmware
{
    Q_OBJECT

public:
    TFW_FirmwareThread();
    ~TFW_FirmwareThread() override;

    // TFW_IFirmware
    void setCallback(TFW_IFirmwareCallback *cb) override;
    void start(const QString &type, const QString &ip, int port,
               const QString &configPath) override;
    bool stop() override;
    void sendCollectorMsg(const collector::CollectorMsg &msg) override;
    QString buildDate() override;
    QString version() override;

    TFW_IFirmwareCallback *callback() const { return m_callback.load(); }
    QString typeName() const { return m_type; }
    QString ipText() const { return m_ip; }
    int port() const { return m_port; }
    QString configPath() const { return m_configPath; }
    // Where a crash of this thread is reported; null before start().
    const char *dumpPath() const { return m_dumpPath; }

public slots:
    // Runs on the host's thread once this thread has ended.
    void thread_finished();

protected:
    void run() override;

private:
    static void runLoop(void *firmware);

    QString m_type;
    QString m_ip;
    int m_port = -1;
    QString m_configPath;
    std::atomic<TFW_IFirmwareCallback *> m_callback{nullptr};

    // The firmware object lives on this thread while it runs. The host's
    // thread looks at it (key events, stop); the lock keeps it from being
    // deleted while that happens.
    std::mutex m_firmwareLock;
    TFW_Firmware *m_firmware = nullptr;

    char *m_dumpPath = nullptr;
    // Written by the thread (run) only; runs never overlap.
    bool m_finishedConnected = false;
};

#endif
