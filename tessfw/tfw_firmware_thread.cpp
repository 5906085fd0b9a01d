#include "tfw_firmware_thread.h"

#include "tfw_crash_guard.h"
#include "tfw_firmware.h"
#include "tfw_tick_dispatcher.h"
#include "plat.h"

#include <QCoreApplication>
#include <QtDebug>
#include <cstdio>
#include <cstring>

enum { kStopWaitMs = 2000 };

// What a crashed firmware thread leaves behind (see run()).
static TFW_Firmware *s_faultedFirmware;

TFW_FirmwareThread::TFW_FirmwareThread() {}

TFW_FirmwareThread::~TFW_FirmwareThread()
{
    {
        std::lock_guard<std::mutex> lock(m_firmwareLock);
        if (m_firmware)
            m_firmware->requestStop();
    }
    // The host may unload the library as soon as it hears that the thread
    // finished, while the thread is still on its way out of QThread's own
    // code; destroying a running QThread aborts the process.
    if (isRunning())
        wait(kStopWaitMs);
    delete[] m_dumpPath;
}

void TFW_FirmwareThread::setCallback(TFW_IFirmwareCallback *cb)
{
    m_callback.store(cb);
}

void TFW_FirmwareThread::start(const QString &type, const QString &ip, int port,
                               const QString &configPath)
{
    // The running thread reads these values and the dump path; a second
    // run at the same time is not possible anyway.
    if (isRunning()) {
        qWarning("start refused: the firmware thread is running (%s,%d)", __FILE__, __LINE__);
        return;
    }
    m_type = type;
    m_ip = ip;
    m_port = port;
    m_configPath = configPath;

    const QByteArray dump = (QCoreApplication::applicationDirPath() + QStringLiteral("/panel-")
                             + ip + QLatin1Char('-') + QString::number(port)
                             + QStringLiteral(".dmp"))
                                .toLocal8Bit();
    delete[] m_dumpPath;
    m_dumpPath = new char[size_t(dump.size()) + 1];
    memcpy(m_dumpPath, dump.constData(), size_t(dump.size()) + 1);

    // The thread runs its own loop; Qt's own dispatcher (and the wake-up
    // descriptor it opens) is not needed. Qt deletes it when the thread
    // ends, so each run gets a new one.
    if (!eventDispatcher())
        setEventDispatcher(new TFW_TickDispatcher);
    QThread::start(QThread::InheritPriority);
}

bool TFW_FirmwareThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_firmwareLock);
        if (m_firmware)
            m_firmware->requestStop();
    }
    return wait(kStopWaitMs);
}

void TFW_FirmwareThread::sendCollectorMsg(const collector::CollectorMsg &msg)
{
    std::lock_guard<std::mutex> lock(m_firmwareLock);
    if (m_firmware) {
        m_firmware->postCollectorMsg(msg);
        return;
    }
    if (TFW_IFirmwareCallback *cb = m_callback.load())
        cb->firmMsg(QStringLiteral("_firmware NULL %1,%2").arg(QLatin1String(__FILE__)).arg(__LINE__));
}

QString TFW_FirmwareThread::buildDate()
{
    return QStringLiteral("2011-09-23T09:54:02.562000");
}

QString TFW_FirmwareThread::version()
{
    return QStringLiteral("1.1.1.7");
}

void TFW_FirmwareThread::runLoop(void *firmware)
{
    static_cast<TFW_Firmware *>(firmware)->exec();
}

void TFW_FirmwareThread::run()
{
    // Once per object: a copy that runs again must still report its end
    // only once per run.
    if (!m_finishedConnected) {
        m_finishedConnected = connect(this, &QThread::finished, this,
                                      &TFW_FirmwareThread::thread_finished, Qt::QueuedConnection);
        if (!m_finishedConnected)
            qCritical(" failed to connect finished signal (%s,%d)", __FILE__, __LINE__);
    }

    TFW_Firmware *fw = new TFW_Firmware(this);
    {
        std::lock_guard<std::mutex> lock(m_firmwareLock);
        m_firmware = fw;
    }
    fw->startup();

    // The loop ends with the stop sequence. The start and every tick are
    // guarded calls of their own (TFW_Firmware): a fault in the firmware is
    // caught there, the firmware lets go of its sockets and its FTP thread
    // and the loop ends normally. The guarded call around the loop catches
    // faults anywhere else on the thread (in a call queued to it, say).
    tfw_guard_enter(m_dumpPath);
    const int abandoned = tfw_guarded_call(runLoop, fw);
    const TFW_CrashResult crash = tfw_guard_leave();

    if (abandoned)
        fw->releaseAfterCrash();
    plat_set_firmware(nullptr);
    {
        std::lock_guard<std::mutex> lock(m_firmwareLock);
        m_firmware = nullptr;
    }

    if (crash.signal) {
        if (crash.reportErrno) {
            printf("CreateFile failed. Error: %u \n", unsigned(crash.reportErrno));
            fflush(stdout);
        } else {
            qDebug("Minidump created.\n");
        }
    }
    if (!abandoned) {
        delete fw;
        return;
    }
    // A fault outside the firmware's own calls left the loop without
    // unwinding: whatever was running (an event being delivered to one of
    // the thread's objects) may still point at the firmware object.
    // Destroying it would write through those stale pointers, so it is kept
    // (reachable from here) and never destroyed; its sockets and FTP thread
    // are released above.
    s_faultedFirmware = fw;
}

void TFW_FirmwareThread::thread_finished()
{
    qDebug("TFW_FirmwareThread::thread_finished() --------------------------");
    if (TFW_IFirmwareCallback *cb = m_callback.load())
        cb->stateMsg(TFW_IFirmwareCallback::ST_THREAD_FINISHED);
    else
        qCritical("_firmware_callback NULL (%s,%d)", __FILE__, __LINE__);
}
