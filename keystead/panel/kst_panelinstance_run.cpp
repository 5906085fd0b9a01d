// KST_PanelInstance: starting and stopping a panel, its files, and the
// state machine driven by the firmware's reports.

#include "kst_panelinstance.h"

#include "button_setter_impl.h"
#include "injector.h"
#include "kst_buzzer.h"
#include "kst_dirs.h"
#include "kst_open_files.h"
#include "kst_panel_firmware.h"
#include "kst_router_list.h"
#include "kst_panelinfo.h"
#include "tess_savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QTimer>
#include <QtDebug>

namespace {

// The firmware's version lines are logged once per process.
bool s_versionLogged = false;

const char kDevMarker[] = "LOAD_DLL_FROM_TESSFW";

// Starts refused for the open-files limit are logged once per burst (a
// rack of hundreds started at once): the first with its reason, the rest
// counted in one line a second after the last of them.
int s_refusalsUnlogged = 0;
quint64 s_refusalBurst = 0;

void logRefusal(const QString &why)
{
    if (s_refusalBurst == 0) {
        qCritical("%s", qPrintable(why));
        s_refusalsUnlogged = 0;
    } else {
        ++s_refusalsUnlogged;
    }
    const quint64 burst = ++s_refusalBurst;
    QTimer::singleShot(1000, QCoreApplication::instance(), [burst] {
        if (burst != s_refusalBurst)
            return; // a later refusal keeps the burst going
        if (s_refusalsUnlogged > 0)
            qCritical("%d more panel start(s) refused for the open-files limit",
                      s_refusalsUnlogged);
        s_refusalsUnlogged = 0;
        s_refusalBurst = 0;
    });
}

} // namespace

int KST_PanelInstance::s_startingPanels = 0;

// ---- Start and stop ---------------------------------------------------------

bool KST_PanelInstance::start(int delayMs)
{
    if (delayMs >= 1) {
        m_startTimer.start(delayMs);
        return true;
    }
    return startNow();
}

void KST_PanelInstance::timer_start()
{
    start(0);
}

bool KST_PanelInstance::startNow()
{
    if (m_state != Stopped && m_state != Error) {
        qCritical("start in %s (%s,%d)", qPrintable(stateText(m_state)), __FILE__, __LINE__);
        return false;
    }
    if (m_firmware || m_injector) {
        qCritical("members should be NULL %p %p (%s,%d)", static_cast<void *>(m_firmware),
                  static_cast<void *>(m_injector), __FILE__, __LINE__);
        return false;
    }
    // Whatever the last run left undecided (an error whose thread end was
    // never heard of) does not reach into this one.
    m_stopOnError = false;
    // Values no panel can run with, and a panel without a face, never get
    // as far as the firmware.
    const QString unusable = settingsProblem();
    if (!unusable.isEmpty())
        return refuseStart(SettingsError, unusable);
    if (!m_faceProblem.isEmpty())
        return refuseStart(LayoutError, QStringLiteral("panel start refused: ") + m_faceProblem);
    if (!startFitsOpenFiles())
        return false;

    QString error;
    if (m_injectorEnabled) {
        m_injector = new collector::Injector(m_firmwareIp, (m_panelPort + 20000) % 65536, this,
                                             this);
        if (!m_injector->run())
            error = QStringLiteral("failed to run injector");
    }
    // Each step is tried whatever failed before; the last failure is the
    // one reported.
    if (!createPanelDir())
        error = QStringLiteral("failed to create data dir");
    if (!copyFirmware())
        error = QStringLiteral("failed to copy firmware");
    if (!copyDefaultConfig())
        error = QStringLiteral("failed to copy default config file");
    // A panel that cannot be given its allowed routers does not start
    // without them.
    if (error.isEmpty() && !storeAllowedRouters())
        error = QStringLiteral("failed to write the allowed routers");
    if (error.isEmpty())
        startFirmware(&error);

    if (error.isEmpty()) {
        m_shouldAutostart = true;
        setState(Starting);
        return true;
    }
    cleanupRun();
    m_shouldAutostart = false;
    showFaceState(FaceFailed);
    qCritical("%s (%s,%d)", qPrintable(error), __FILE__, __LINE__);
    return false;
}

bool KST_PanelInstance::storeAllowedRouters()
{
    QString why;
    if (KST_RouterList::store(m_dataDir + QLatin1Char('/') + panelDir(), m_allowedRouters, &why))
        return true;
    qCritical("%s (%s,%d)", qPrintable(why), __FILE__, __LINE__);
    return false;
}

bool KST_PanelInstance::startFitsOpenFiles()
{
    const int needed = KST_PANEL_OPEN_FILES + (m_injectorEnabled ? KST_INJECTOR_OPEN_FILES : 0);
    QString why;
    if (KST_panelStartFits(needed, s_startingPanels * KST_PANEL_FIRMWARE_OPEN_FILES, &why))
        return true;
    logRefusal(QStringLiteral("panel %1: %2").arg(m_name, why));
    m_refusalText = why;
    m_shouldAutostart = false;
    showFaceState(FaceFailed);
    m_lastError = OpenFilesError;
    setState(Error);
    return false;
}

bool KST_PanelInstance::refuseStart(PanelError error, const QString &why)
{
    qCritical("panel %s: %s (%s,%d)", qPrintable(m_name), qPrintable(why), __FILE__, __LINE__);
    m_refusalText = why;
    m_shouldAutostart = false;
    showFaceState(FaceFailed);
    m_lastError = error;
    setState(Error);
    return false;
}

void KST_PanelInstance::startFirmware(QString *error)
{
    showFaceState(FaceStarting);

    QString library;
    if (QFileInfo::exists(QLatin1String(kDevMarker)))
        library = developmentFirmwarePath();
    // The panel's own copy runs on the code pages of the library it was
    // copied from, shared with every other panel.
    QString codeSource;
    if (library.isEmpty()) {
        library = firmwarePath();
        codeSource = m_firmwareSource;
    }

    m_firmware = new KST_PanelFirmware(library, codeSource);
    KST_PanelFirmware::registerMetaTypes();
    connectFirmware();
    if (!m_firmware->start()) {
        *error = QStringLiteral("firmware init failed");
        return;
    }
    TFW_IFirmware *fw = m_firmware->firmware();
    if (!s_versionLogged) {
        s_versionLogged = true;
        qDebug("############FIRMWARE BUILD DATE %s", qPrintable(fw->buildDate()));
        qDebug("############FIRMWARE VERSION %s", qPrintable(fw->version()));
    }
    fw->start(typeName(), m_firmwareIp, m_panelPort, configPath());
}

// The loader's reports come queued, on this thread. Each connection knows
// the run it belongs to: a report still queued when its run was cleaned up
// (the panel stopped from its error state before the thread's end was
// heard of, and started again) must not move the next run's state.
void KST_PanelInstance::connectFirmware()
{
    const quint64 run = ++m_run;
    connect(
        m_firmware, &KST_PanelFirmware::stateMsg, this,
        [this, run](TFW_IFirmwareCallback::StateMsg msg) {
            if (run == m_run)
                firm_stateMsg(msg);
        },
        Qt::QueuedConnection);
    connect(
        m_firmware, &KST_PanelFirmware::buttondriverMsg, this,
        [this, run](const std::vector<QByteArray> &batch) {
            if (run == m_run)
                firm_buttondriverMsg(batch);
        },
        Qt::QueuedConnection);
    connect(
        m_firmware, &KST_PanelFirmware::firm_msg_signal, this,
        [this, run](const QString &text) {
            if (run == m_run)
                firm_msg(text);
        },
        Qt::QueuedConnection);
}

bool KST_PanelInstance::stop()
{
    // A start still waiting for its delay is called off too.
    m_startTimer.stop();
    m_shouldAutostart = false;
    if (m_state == Error) {
        setState(Stopped);
        return true;
    }
    if (m_state == Stopped || m_state == Stopping) {
        qWarning("already trying to stop firmware (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    if (!m_firmware) {
        qCritical("firmware NULL (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    // The state follows the firmware's reports.
    m_firmware->stop();
    return true;
}

void KST_PanelInstance::cleanupRun()
{
    ++m_run; // reports of the ending run still queued are dropped
    m_stopOnError = false;
    showFaceState(FaceStopped);
    delete m_firmware;
    m_firmware = nullptr;
    delete m_injector;
    m_injector = nullptr;
}

void KST_PanelInstance::setState(int state)
{
    switch (state) {
    case Started:
    case Stopped:
    case Starting:
    case Stopping:
    case Restarting:
    case Error:
        break;
    default:
        qCritical("unhandled switch %d (%s,%d)", state, __FILE__, __LINE__);
        return;
    }
    if ((m_state == Starting) != (state == Starting))
        s_startingPanels += state == Starting ? 1 : -1;
    m_state = PanelState(state);
    if (m_state == Stopped)
        cleanupRun();
    else if (m_state == Error && m_firmware)
        m_firmware->stop();

    emit panelStateChanged(this);
    if (m_state != Started && m_online) {
        m_online = false;
        emit onlineStateChanged(this);
    }
    if (m_state != Error)
        m_lastError = NoError;
    update_tooltip();
}

// ---- The firmware's reports -------------------------------------------------

void KST_PanelInstance::errorReported(PanelError error)
{
    stopFlash();
    m_lastError = error;
    m_stopOnError = true;
    if (!m_firmware) {
        qCritical("_firmware NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    // A started panel keeps its state until the thread has ended.
    if (m_state == Started)
        m_firmware->stop();
    else
        setState(Error);
}

void KST_PanelInstance::firm_stateMsg(TFW_IFirmwareCallback::StateMsg stateMsg)
{
    using Cb = TFW_IFirmwareCallback;
    switch (stateMsg) {
    case Cb::ST_ONLINE:
    case Cb::ST_OFFLINE:
        stopFlash();
        m_online = stateMsg == Cb::ST_ONLINE;
        emit onlineStateChanged(this);
        update_tooltip();
        break;
    case Cb::ST_FIRMWARE_MSG:
        qDebug("firmware_msg %d", int(stateMsg));
        break;
    case Cb::ST_CONFIG_LOADED:
        m_configLoaded = true;
        emit configLoaded(this);
        break;
    case Cb::ST_UDP_BIND_ERROR:
        errorReported(UdpBindError);
        break;
    case Cb::ST_FTP_BIND_ERROR:
        qDebug("er_FtpBind");
        errorReported(FtpBindError);
        break;
    case Cb::ST_FTP_ERROR:
        qDebug("er_Ftp");
        errorReported(FtpError);
        break;
    case Cb::ST_THREAD_STARTED:
        break;
    case Cb::ST_RUNNING:
        stopFlash();
        if (!m_stopOnError)
            setState(Started);
        break;
    case Cb::ST_STOPPING:
        if (!m_stopOnError)
            setState(Stopping);
        break;
    case Cb::ST_THREAD_FINISHED:
        stopFlash();
        if (!m_stopOnError) {
            setState(Stopped);
        } else {
            setState(Error);
            m_stopOnError = false;
            update_tooltip();
        }
        break;
    case Cb::ST_UDP_SENT:
        m_commEvent[CommTransmit] = m_clock();
        break;
    case Cb::ST_UDP_SEND_FAILED:
        m_commEvent[CommSendFailure] = m_clock();
        break;
    case Cb::ST_UDP_RECEIVED:
        m_commEvent[CommReceive] = m_clock();
        break;
    case Cb::ST_LOCATE_ON:
        if (m_face)
            m_face->startFlash();
        break;
    case Cb::ST_LOCATE_OFF:
        stopFlash();
        break;
    case Cb::ST_BUZZER_ON:
        if (KST_Buzzer *buzzer = KST_Buzzer::instance())
            buzzer->beep();
        qDebug("buzzer ON");
        emit beeped(this);
        break;
    case Cb::ST_BUZZER_OFF:
        if (KST_Buzzer *buzzer = KST_Buzzer::instance())
            buzzer->off();
        break;
    default:
        qCritical("firmware_msg %d (%s,%d)", int(stateMsg), __FILE__, __LINE__);
        break;
    }
}

void KST_PanelInstance::firm_msg(QString text)
{
    qDebug("%d %s", m_uid, qPrintable(text));
}

// ---- Key messages -----------------------------------------------------------

void KST_PanelInstance::collector_msg(const collector::CollectorMsg &msg)
{
    if (m_firmware)
        m_firmware->sendCollectorMsg(msg);
}

void KST_PanelInstance::dispatch_msg_buffer(QByteArray &buffer)
{
    collector::CollectorMsg msg;
    // A payload that is no collector message was reported by unpack; it
    // goes no further.
    if (!msg.unpack(buffer))
        return;
    collector_msg(msg);
}

// ---- Files ------------------------------------------------------------------

bool KST_PanelInstance::createPanelDir()
{
    const QString dir = panelDir();
    if (m_dataDir.isEmpty() || dir.isEmpty()) {
        qCritical("failed to create panel data dir %s %s (%s,%d)", qPrintable(m_dataDir),
                  qPrintable(dir), __FILE__, __LINE__);
        return false;
    }
    const QString path = m_dataDir + QLatin1Char('/') + dir;
    if (QFileInfo::exists(path))
        return true;
    qDebug("create panel dir %s %s", qPrintable(m_dataDir), qPrintable(dir));
    if (!QDir(m_dataDir).mkdir(dir)) {
        qCritical("failed to create panel data dir %s %s (%s,%d)", qPrintable(m_dataDir),
                  qPrintable(dir), __FILE__, __LINE__);
        return false;
    }
    if (!QFileInfo::exists(path))
        qCritical("dir created , but does not exists ?|!! %s (%s,%d)", qPrintable(path), __FILE__,
                  __LINE__);
    return true;
}

bool KST_PanelInstance::copyFirmware()
{
    const QString dest = firmwarePath();
    if (dest.isEmpty()) {
        qCritical("failed to copy firmware file %s: the panel has no directory (%s,%d)",
                  qPrintable(m_firmwareSource), __FILE__, __LINE__);
        return false;
    }
    // A fresh copy at every start: a new file, so the library loader never
    // takes it for a copy it still has mapped.
    if (QFileInfo::exists(dest)) {
        QFile old(dest);
        if (!old.remove()) {
            qCritical("failed to remove firm file before copying %s (%s,%d)",
                      qPrintable(old.errorString()), __FILE__, __LINE__);
            return false;
        }
    }
    QFile source(m_firmwareSource);
    if (m_firmwareSource.isEmpty() || !source.copy(dest)) {
        qCritical("failed to copy firmware file %s %s %s (%s,%d)", qPrintable(m_firmwareSource),
                  qPrintable(dest), qPrintable(source.errorString()), __FILE__, __LINE__);
        return false;
    }
    return true;
}

bool KST_PanelInstance::copyDefaultConfig()
{
    const QString dest = configPath();
    if (dest.isEmpty()) {
        qCritical("could not copy default config file: the panel has no directory (%s,%d)",
                  __FILE__, __LINE__);
        return false;
    }
    // A configuration received over the network survives restarts.
    if (QFileInfo::exists(dest))
        return true;
    const QString resource = QStringLiteral(":/config/cfg%1").arg(typeName());
    QFile in(resource);
    if (!in.open(QIODevice::ReadOnly)) {
        qCritical("could not copy read default config file \"%s\" \"%s\" (%s,%d)",
                  qPrintable(resource), qPrintable(in.errorString()), __FILE__, __LINE__);
        return false;
    }
    const QByteArray data = in.readAll();
    tess::SaveError error;
    if (!tess::writeFileAtomically(dest, data, &error)) {
        qCritical("could not copy default config file %s %s %s (%s,%d)", qPrintable(resource),
                  qPrintable(dest), qPrintable(error.text), __FILE__, __LINE__);
        return false;
    }
    return true;
}

bool KST_PanelInstance::renumber(int uid, KST_PanelInfo *info)
{
    m_uid = uid;
    m_panelInfo = info;
    if (!createPanelDir())
        return false;
    return m_paneltype < 1 || m_paneltype > KST_PanelInfo::TypeCount || copyDefaultConfig();
}

void KST_PanelInstance::removeFiles()
{
    if (m_uid == 0 || m_dataDir.isEmpty()) {
        qCritical("panelDir when panel NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    for (const QString &path : {firmwarePath(), configPath()}) {
        if (!QFileInfo::exists(path))
            continue;
        QFile file(path);
        if (!file.remove())
            qCritical("could not remove %s %s (%s,%d)", qPrintable(path),
                      qPrintable(file.errorString()), __FILE__, __LINE__);
    }
    // Everything else the panel left there goes too (configurations of
    // earlier types, its network settings, traces): a later panel given
    // this uid starts afresh. Links inside are removed, never followed.
    const QString dir = m_dataDir + QLatin1Char('/') + panelDir();
    QDir panel(dir);
    if (QFileInfo::exists(dir) && !panel.removeRecursively())
        qCritical("could not remove dir %s (%s,%d)", qPrintable(dir), __FILE__, __LINE__);
}
