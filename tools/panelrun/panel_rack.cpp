#include "panel_rack.h"

#include "event_printer.h"
#include "injected_keys.h"
#include "injector.h"
#include "button_setter_impl.h"
#include "kst_open_files.h"
#include "kst_panelinstance.h"
#include "pan_headlessface.h"
#include "kst_router_list.h"
#include "panel_host.h"

#include <QElapsedTimer>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QSaveFile>
#include <QThread>

namespace {

enum { StopRetryMs = 100, StopAttempts = 5 };

QByteArray portLabel(int port)
{
    return QByteArray::number(port);
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

QByteArray PanelRack::portRanges(const std::vector<int> &ports)
{
    // Descriptors freed while the rack starts can let a later start fit
    // after an earlier one was refused, so the refused ports need not be
    // one run.
    enum { MaxRuns = 8 };
    QByteArray out;
    int runs = 0;
    for (size_t i = 0; i < ports.size();) {
        size_t j = i;
        while (j + 1 < ports.size() && ports[j + 1] == ports[j] + 1)
            ++j;
        if (runs == MaxRuns) {
            out += ", ...";
            break;
        }
        if (runs++ > 0)
            out += ", ";
        out += portLabel(ports[i]);
        if (j > i)
            out += '-' + portLabel(ports[j]);
        i = j + 1;
    }
    return out;
}

PanelRack::PanelRack(const Options &options, QObject *parent)
    : QObject(parent), m_options(options)
{
    if (!options.panels.empty()) {
        m_panels.resize(options.panels.size());
        for (size_t i = 0; i < options.panels.size(); ++i)
            m_panels[i].port = options.panels[i].port;
    } else {
        m_panels.resize(size_t(qMax(0, options.count)));
        for (int i = 0; i < size(); ++i)
            m_panels[size_t(i)].port = options.portBase + i;
    }
    for (int i = 0; options.headlessFaces && i < size(); ++i) {
        Panel &p = m_panels[size_t(i)];
        // The face Keystead builds for the type, without drawing; its level
        // file is none, as a desktop host has none.
        p.face = std::make_unique<PAN_HeadlessFace>();
        p.face->load(QStringLiteral("layout_") + typeAt(i).toLower() + QStringLiteral(".xml"));
        p.setter = std::make_unique<buttondriver::ButtonSetterImpl>();
        p.setter->setButtons(p.face->buttons());
        const int at = uidAt(i);
        connect(p.setter.get(), &buttondriver::ButtonSetterImpl::applied, this,
                [this, at](const QList<qint32> &ids) { emit faceChanged(at, ids); });
        showFaceState(p, KST_PanelInstance::FaceStopped);
    }
    m_startTimer.setInterval(0);
    connect(&m_startTimer, &QTimer::timeout, this, &PanelRack::startNext);
}

PanelRack::~PanelRack()
{
    // Threads that would not stop keep their library copies: unloading
    // would pull the code from under them.
    for (Panel &p : m_panels)
        if (p.state != State::Running && p.state != State::Starting && p.state != State::Stopping
            && p.state != State::Stuck)
            unloadPanel(p);
    QString why;
    for (const QString &dir : m_routerDirs)
        KST_RouterList::store(dir, QStringList(), &why);
}

int PanelRack::uidAt(int index) const
{
    return m_options.panels.empty() ? port(index) : m_options.panels[size_t(index)].uid;
}

int PanelRack::indexOfUid(int uid) const
{
    if (m_options.panels.empty())
        return indexOfPort(uid);
    for (int i = 0; i < size(); ++i)
        if (m_options.panels[size_t(i)].uid == uid)
            return i;
    return -1;
}

QString PanelRack::nameAt(int index) const
{
    return m_options.panels.empty() ? QString::number(port(index)) : m_options.panels[size_t(index)].name;
}

QString PanelRack::rackAt(int index) const
{
    return m_options.panels.empty() ? QString() : m_options.panels[size_t(index)].rack;
}

QString PanelRack::typeAt(int index) const
{
    return m_options.panels.empty() ? m_options.type : m_options.panels[size_t(index)].type;
}

QString PanelRack::addressAt(int index) const
{
    return m_options.panels.empty() ? m_options.ip : m_options.panels[size_t(index)].ip;
}

bool PanelRack::remotePressesAt(int index) const
{
    if (index < 0 || index >= size())
        return false;
    return m_options.panels.empty() || m_options.panels[size_t(index)].remotePresses;
}

int PanelRack::indexOfPort(int port) const
{
    for (int i = 0; i < size(); ++i)
        if (m_panels[size_t(i)].port == port)
            return i;
    return -1;
}

bool PanelRack::isRunning(int index) const
{
    return index >= 0 && index < size() && m_panels[size_t(index)].state == State::Running;
}

QString PanelRack::panelDir(int index) const
{
    if (!m_options.panels.empty())
        return m_options.panels[size_t(index)].dir;
    if (size() == 1)
        return m_options.workDir;
    return QDir(m_options.workDir).filePath(QStringLiteral("p%1").arg(port(index)));
}

int PanelRack::needed() const
{
    return KST_PANEL_OPEN_FILES + KST_FTP_SESSION_OPEN_FILES + (m_options.inject ? KST_INJECTOR_OPEN_FILES : 0);
}

// What a running panel may still open: an FTP session and an injector
// client come and go. Counted against the limit too, so that a client
// connecting later finds its descriptors.
int PanelRack::heldInReserve() const
{
    return KST_FTP_SESSION_OPEN_FILES + (m_options.inject ? 1 : 0);
}

void PanelRack::startAll()
{
    // Every datagram is reported as a state; its line is only made for a
    // receiver.
    m_stateLines = isSignalConnected(QMetaMethod::fromSignal(&PanelRack::eventLine));
    m_startTimer.start();
}

void PanelRack::startNext()
{
    if (m_stopAll || m_next >= size()) {
        m_startTimer.stop();
        reportRefusals();
        checkFinished();
        return;
    }
    Panel &p = m_panels[size_t(m_next++)];
    // Panels that started but have not opened their sockets and event
    // loops yet will still take descriptors, running ones those of their
    // clients.
    // The host's own descriptors (and an injector's listening socket) are
    // open already when a panel is starting.
    int promised = 0;
    for (const Panel &q : m_panels) {
        if (q.state == State::Starting)
            promised += KST_PANEL_FIRMWARE_OPEN_FILES + heldInReserve();
        else if (q.state == State::Running)
            promised += heldInReserve();
    }
    QString why;
    if (!KST_panelStartFits(needed(), promised, &why)) {
        p.state = State::Failed;
        p.error = true;
        ++m_refused;
        m_refusedPorts.push_back(p.port);
        m_refusal = why;
        emit startFailed(int(&p - m_panels.data()));
        return;
    }
    startPanel(p);
}

bool PanelRack::prepareListedDir(int index, QString *why)
{
    const ListedPanel &entry = m_options.panels[size_t(index)];
    if (!QDir().mkpath(entry.dir)) {
        *why = QStringLiteral("cannot create panel directory %1").arg(entry.dir);
        return false;
    }
    // A configuration the panel received or was given stays; only a panel
    // without one gets its type's default.
    if (QFileInfo::exists(entry.configPath) || entry.defaultConfig.isEmpty())
        return true;
    QFile src(entry.defaultConfig);
    if (!src.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("could not copy read default config file \"%1\" \"%2\"")
                   .arg(entry.defaultConfig, src.errorString());
        return false;
    }
    QSaveFile dst(entry.configPath);
    if (!dst.open(QIODevice::WriteOnly) || dst.write(src.readAll()) < 0 || !dst.commit()) {
        *why = QStringLiteral("could not copy default config file %1 %2 %3")
                   .arg(entry.defaultConfig, entry.configPath, dst.errorString());
        return false;
    }
    return true;
}

bool PanelRack::startPanel(Panel &p)
{
    const int index = int(&p - m_panels.data());
    const QString dir = panelDir(index);
    const bool listed = !m_options.panels.empty();
    const QString type = listed ? m_options.panels[size_t(index)].type : m_options.type;
    const QString ip = listed ? m_options.panels[size_t(index)].ip : m_options.ip;
    const QString cfgName = QStringLiteral("cfg") + type;
    QString configPath;
    if (listed) {
        QString why;
        if (!prepareListedDir(index, &why)) {
            failStart(p, why);
            return false;
        }
        configPath = m_options.panels[size_t(index)].configPath;
    } else if (size() == 1) {
        configPath = m_options.config.isEmpty() ? QDir(dir).filePath(cfgName) : m_options.config;
    } else {
        if (!QDir().mkpath(dir)) {
            failStart(p, QStringLiteral("cannot create panel directory %1").arg(dir));
            return false;
        }
        configPath = QDir(dir).filePath(cfgName);
        if (!m_options.config.isEmpty()) {
            QFile::remove(configPath);
            QFile src(m_options.config);
            if (!src.copy(configPath)) {
                failStart(p, QStringLiteral("cannot copy configuration %1 to %2: %3")
                                 .arg(m_options.config, configPath, src.errorString()));
                return false;
            }
        }
    }

    // A listed panel's list is written at every start, as Keystead writes
    // it (an empty one removes the file); a rack's only when given.
    const QStringList &routers = listed ? m_options.panels[size_t(index)].routers : m_options.routers;
    if (listed || !routers.isEmpty()) {
        const QString routerDir = QFileInfo(configPath).absolutePath();
        QString why;
        if (!KST_RouterList::store(routerDir, routers, &why)) {
            failStart(p, why);
            return false;
        }
        if (!m_routerDirs.contains(routerDir))
            m_routerDirs.append(routerDir);
    }

    p.host = std::make_unique<PanelHost>();
    p.online = false;
    p.threadStarted = false;
    p.stopWanted = m_stopAll;
    p.stopAttempts = 0;
    PanelHost *host = p.host.get();
    const QByteArray label = portLabel(p.port);
    // In a rack, log lines of a panel's firmware thread carry its port:
    // the thread is known from its first report on.
    if (size() > 1)
        connect(host, &PanelHost::stateReported, host,
                [label](TFW_IFirmwareCallback::StateMsg msg) {
                    if (msg == TFW_IFirmwareCallback::ST_THREAD_STARTED)
                        event_printer::setThreadLabel(QThread::currentThread(), label);
                },
                Qt::DirectConnection);
    connect(host, &PanelHost::stateReported, this,
            [this, index](TFW_IFirmwareCallback::StateMsg msg) { onState(index, msg); },
            Qt::QueuedConnection);
    const int port = p.port;
    if (m_options.textLines)
        connect(host, &PanelHost::textReported, this,
                [this, port](const QString &t) { emit eventLine(port, event_printer::firmMsgLine(t)); },
                Qt::QueuedConnection);
    if (p.setter) {
        buttondriver::ButtonSetterImpl *setter = p.setter.get();
        connect(host, &PanelHost::recordsReported, setter,
                [setter](const std::vector<QByteArray> &records) { setter->process_messages(records); },
                Qt::QueuedConnection);
    }
    if (m_options.recordLines) {
        connect(host, &PanelHost::recordsReported, this,
                [this, port](const std::vector<QByteArray> &records) {
                    for (const QByteArray &r : records)
                        emit eventLine(port, event_printer::recordLine(r));
                },
                Qt::QueuedConnection);
    }
    if (!host->load(m_options.library, dir)) {
        failStart(p, host->errorString());
        return false;
    }
    if (m_options.inject) {
        p.keys = std::make_unique<InjectedKeys>(host->loader());
        const int injectPort = (p.port + 20000) % 65536;
        p.injector = std::make_unique<collector::Injector>(ip, injectPort, p.keys.get());
        if (!p.injector->run()) {
            failStart(p, QStringLiteral("failed to run injector on %1:%2").arg(ip).arg(injectPort));
            return false;
        }
        emit eventLine(p.port, "injector " + ip.toUtf8() + ':'
                                   + QByteArray::number(p.injector->serverPort()));
    }
    p.state = State::Starting;
    p.errorText.clear();
    showFaceState(p, KST_PanelInstance::FaceStarting);
    emit panelChanged(uidAt(index));
    host->firmware()->start(type, ip, p.port, configPath);
    return true;
}

void PanelRack::failStart(Panel &p, const QString &why)
{
    unloadPanel(p);
    p.state = State::Failed;
    p.error = true;
    p.errorText = why;
    ++m_failed;
    showFaceState(p, KST_PanelInstance::FaceFailed);
    emit panelChanged(uidAt(int(&p - m_panels.data())));
    emit startFailed(int(&p - m_panels.data()));
    if (size() == 1)
        emit rackMessage("panelrun: " + why.toLocal8Bit());
    else
        emit rackMessage("panelrun: panel " + portLabel(p.port) + ": " + why.toLocal8Bit());
}

void PanelRack::reportRefusals()
{
    if (m_refused == 0 || m_refusal.isEmpty())
        return;
    const QByteArray ports = portRanges(m_refusedPorts);
    emit rackMessage("panelrun: " + QByteArray::number(m_refused) + " of " + QByteArray::number(size())
                     + " panels not started (port" + (m_refused > 1 ? "s " : " ") + ports
                     + "): " + m_refusal.toLocal8Bit());
    m_refusal.clear();
}

void PanelRack::onState(int index, TFW_IFirmwareCallback::StateMsg msg)
{
    Panel &p = m_panels[size_t(index)];
    if (m_stateLines)
        emit eventLine(p.port, event_printer::stateLine(int(msg)));
    onStateChange(index, msg);
    checkFinished();
}

void PanelRack::onStateChange(int index, TFW_IFirmwareCallback::StateMsg msg)
{
    Panel &p = m_panels[size_t(index)];
    switch (msg) {
    case TFW_IFirmwareCallback::ST_THREAD_STARTED:
        p.threadStarted = true;
        if (p.stopWanted)
            requestStop(index);
        break;
    case TFW_IFirmwareCallback::ST_RUNNING:
        if (p.state == State::Starting) {
            p.state = State::Running;
            emit panelChanged(uidAt(index));
        }
        break;
    case TFW_IFirmwareCallback::ST_ONLINE:
    case TFW_IFirmwareCallback::ST_OFFLINE:
        p.online = msg == TFW_IFirmwareCallback::ST_ONLINE;
        emit panelChanged(uidAt(index));
        break;
    case TFW_IFirmwareCallback::ST_CONFIG_LOADED:
        p.configLoaded = true;
        emit panelChanged(uidAt(index));
        break;
    case TFW_IFirmwareCallback::ST_UDP_BIND_ERROR:
    case TFW_IFirmwareCallback::ST_FTP_BIND_ERROR:
    case TFW_IFirmwareCallback::ST_FTP_ERROR:
        // As Keystead does: a panel that cannot serve its port is stopped
        // and stays in error.
        p.error = true;
        p.errorText = msg == TFW_IFirmwareCallback::ST_UDP_BIND_ERROR
                          ? QStringLiteral("Could not bind socket to port %1.  ").arg(p.port)
                      : msg == TFW_IFirmwareCallback::ST_FTP_BIND_ERROR ? QStringLiteral("Ftp error (bind).")
                                                                        : QStringLiteral("Ftp error.");
        requestStop(index);
        emit panelChanged(uidAt(index));
        break;
    case TFW_IFirmwareCallback::ST_STOPPING:
        if (p.state == State::Starting || p.state == State::Running) {
            p.state = State::Stopping;
            emit panelChanged(uidAt(index));
        }
        break;
    case TFW_IFirmwareCallback::ST_THREAD_FINISHED:
        if (p.state == State::Starting || p.state == State::Running || p.state == State::Stopping) {
            event_printer::clearThreadLabel(portLabel(p.port));
            unloadPanel(p);
            p.state = State::Finished;
            p.online = false;
            showFaceState(p, KST_PanelInstance::FaceStopped);
            emit panelChanged(uidAt(index));
        }
        break;
    case TFW_IFirmwareCallback::ST_UDP_SENT:
        p.commEvent[0] = monotonicMs();
        break;
    case TFW_IFirmwareCallback::ST_UDP_RECEIVED:
        p.commEvent[1] = monotonicMs();
        break;
    case TFW_IFirmwareCallback::ST_UDP_SEND_FAILED:
        p.commEvent[2] = monotonicMs();
        break;
    case TFW_IFirmwareCallback::ST_BUZZER_ON:
        emit beeped(uidAt(index));
        break;
    default:
        break;
    }
}

void PanelRack::requestStop(int index)
{
    Panel &p = m_panels[size_t(index)];
    if (p.state != State::Starting && p.state != State::Running && p.state != State::Stopping)
        return;
    if (!p.host || !p.host->firmware())
        return;
    p.stopWanted = true;
    // Before its firmware object exists a thread ignores a stop (and the
    // host would wait for it in vain): its first report brings it back here.
    if (!p.threadStarted)
        return;
    if (p.host->firmware()->stop())
        return; // ST_THREAD_FINISHED follows
    retryStop(index);
}

void PanelRack::retryStop(int index)
{
    Panel &p = m_panels[size_t(index)];
    if (++p.stopAttempts >= StopAttempts) {
        // Left loaded: its thread still runs the library's code.
        qWarning("panelrun: firmware thread of panel %d did not stop", p.port);
        ++m_stuck;
        p.state = State::Stuck;
        checkFinished();
        return;
    }
    QTimer::singleShot(StopRetryMs, this, [this, index] {
        Panel &q = m_panels[size_t(index)];
        if (q.state != State::Starting && q.state != State::Running && q.state != State::Stopping)
            return;
        if (!q.host || !q.host->firmware())
            return;
        if (!q.host->firmware()->stop())
            retryStop(index);
    });
}

void PanelRack::stopAll()
{
    m_stopAll = true;
    if (m_next < size()) {
        m_next = size();
        m_startTimer.stop();
        reportRefusals();
    }
    for (int i = 0; i < size(); ++i)
        requestStop(i);
    checkFinished();
}

bool PanelRack::stopPanel(int port)
{
    const int i = indexOfPort(port);
    if (i < 0)
        return false;
    requestStop(i);
    return true;
}

bool PanelRack::stopPanelAt(int index)
{
    if (index < 0 || index >= size())
        return false;
    const State state = m_panels[size_t(index)].state;
    if (state != State::Running && state != State::Starting)
        return false;
    requestStop(index);
    emit stoppedOnRequest(index);
    return true;
}

int PanelRack::sendKey(int key, bool pressed, int port)
{
    int sent = 0;
    for (Panel &p : m_panels) {
        if ((port >= 0 && p.port != port) || p.state != State::Running || !p.host)
            continue;
        p.host->loader()->sendCollectorMsg(collector::CollectorMsg(key, pressed ? 1 : 0));
        ++sent;
    }
    return sent;
}

bool PanelRack::sendKeyAt(int index, int key, bool pressed)
{
    if (index < 0 || index >= size())
        return false;
    Panel &p = m_panels[size_t(index)];
    if (p.state != State::Running || !p.host)
        return false;
    p.host->loader()->sendCollectorMsg(collector::CollectorMsg(key, pressed ? 1 : 0));
    return true;
}

void PanelRack::showFaceState(Panel &p, int kind)
{
    if (p.setter)
        p.setter->process_messages(KST_PanelInstance::faceStateBatch(kind));
}

QString PanelRack::stateText(int index) const
{
    const Panel &p = m_panels[size_t(index)];
    switch (p.state) {
    case State::Starting: return QStringLiteral("starting");
    case State::Running: return QStringLiteral("started");
    case State::Stopping: return QStringLiteral("stopping");
    case State::Failed:
    case State::Stuck: return QStringLiteral("error");
    case State::Idle:
    case State::Finished: return p.error ? QStringLiteral("error") : QStringLiteral("stopped");
    }
    return QStringLiteral("stopped");
}

QString PanelRack::errorText(int index) const
{
    const Panel &p = m_panels[size_t(index)];
    if (p.state == State::Stuck)
        return QStringLiteral("the firmware thread did not stop");
    return stateText(index) == QLatin1String("error") ? p.errorText : QString();
}

bool PanelRack::isOnline(int index) const
{
    return m_panels[size_t(index)].online;
}

bool PanelRack::isConfigLoaded(int index) const
{
    return m_panels[size_t(index)].configLoaded;
}

buttondriver::ButtonSetterImpl *PanelRack::buttonSetter(int index) const
{
    return m_panels[size_t(index)].setter.get();
}

const PAN_HeadlessFace *PanelRack::face(int index) const
{
    return m_panels[size_t(index)].face.get();
}

int PanelRack::commLevel(int index, int channel) const
{
    const Panel &p = m_panels[size_t(index)];
    if (channel < 0 || channel > 2 || p.state != State::Running)
        return 0;
    return KST_PanelInstance::commLevelAfter(monotonicMs() - p.commEvent[channel], 4, 500);
}

bool PanelRack::startPanelAt(int i, QString *why)
{
    if (i < 0 || i >= size()) {
        *why = QStringLiteral("no such panel");
        return false;
    }
    Panel &p = m_panels[size_t(i)];
    if (m_stopAll) {
        *why = QStringLiteral("panelrun is stopping");
        return false;
    }
    if (p.state != State::Finished && p.state != State::Failed) {
        *why = QStringLiteral("panel %1 is %2").arg(uidAt(i)).arg(stateText(i));
        return false;
    }
    p.error = false;
    p.errorText.clear();
    m_finishedReported = false;
    if (!startPanel(p)) {
        *why = p.errorText;
        return false;
    }
    emit startedOnRequest(i);
    return true;
}

void PanelRack::unloadPanel(Panel &p)
{
    // The injector's target passes every message to the loader: it goes
    // first.
    p.injector.reset();
    p.keys.reset();
    if (p.host)
        p.host->unload();
    p.host.reset();
}

PanelRack::Counts PanelRack::counts() const
{
    Counts c;
    for (const Panel &p : m_panels) {
        switch (p.state) {
        case State::Running:
            ++c.running;
            ++(p.online ? c.online : c.offline);
            ++c.loaded;
            break;
        case State::Starting:
            ++c.starting;
            ++c.loaded;
            break;
        case State::Stopping:
        case State::Stuck:
            ++c.loaded;
            break;
        default:
            break;
        }
        if (p.error)
            ++c.error;
    }
    c.refused = m_refused;
    c.failed = m_failed;
    c.stuck = m_stuck;
    return c;
}

bool PanelRack::settled() const
{
    if (m_next < size())
        return false;
    for (const Panel &p : m_panels)
        if (p.state == State::Starting)
            return false;
    return true;
}

bool PanelRack::finished() const
{
    if (m_next < size())
        return false;
    for (const Panel &p : m_panels)
        if (p.state == State::Starting || p.state == State::Running || p.state == State::Stopping)
            return false;
    return true;
}

void PanelRack::checkFinished()
{
    if (!m_settledReported && settled()) {
        m_settledReported = true;
        emit allSettled();
    }
    if (m_finishedReported || !finished())
        return;
    m_finishedReported = true;
    emit allFinished();
}

QByteArray PanelRack::summaryLine(const Counts &c, double cores, double bytesPerPanel)
{
    return "summary running " + QByteArray::number(c.running) + " online " + QByteArray::number(c.online)
           + " offline " + QByteArray::number(c.offline) + " error " + QByteArray::number(c.error)
           + " starting " + QByteArray::number(c.starting) + " cpu " + QByteArray::number(cores, 'f', 2)
           + " mem " + QByteArray::number(bytesPerPanel / 1048576.0, 'f', 2) + " MiB/panel";
}
