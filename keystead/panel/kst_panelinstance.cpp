// KST_PanelInstance: construction, stored properties, the face and what it
// shows (face kinds, tooltip, comm levels). Starting, stopping and the
// firmware's reports are in kst_panelinstance_run.cpp.

#include "kst_panelinstance.h"
#include "kst_panelset_fields.h"

#include "arch_itemi.h"
#include "arch_itemo.h"
#include "bd_records.h"
#include "button_setter_impl.h"
#include "injector.h"
#include "kst_buzzer.h"
#include "kst_dirs.h"
#include "kst_panel_firmware.h"
#include "kst_panelinfo.h"
#include "kst_router_list.h"
#include "kst_tracewindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QMenu>
#include <QRegularExpression>
#include <QtDebug>

#include <algorithm>

namespace {

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

KST_PanelInstance::KST_PanelInstance(int uid)
    : QObject(nullptr), m_uid(uid), m_name(QStringLiteral("panel%1").arg(uid)), m_clock(monotonicMs)
{
    const qint64 now = m_clock();
    for (qint64 &t : m_commEvent)
        t = now;

    m_startTimer.setSingleShot(true);
    // A delayed start comes no earlier than asked for.
    m_startTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_startTimer, &QTimer::timeout, this, &KST_PanelInstance::timer_start);

    // Without a base directory there is no data directory either: the
    // panel's files must not land in a directory "data" at the file
    // system's root.
    const QString base = baseDir();
    if (base.isEmpty()) {
        qCritical("could not create data dir, base dir not exists %s (%s,%d)", qPrintable(base),
                  __FILE__, __LINE__);
    } else {
        m_dataDir = base + QStringLiteral("/data");
        if (!QFileInfo::exists(m_dataDir) && !QDir(base).mkdir(QStringLiteral("data")))
            qCritical("could not create data dir %s %s (%s,%d)", qPrintable(base), "data",
                      __FILE__, __LINE__);
    }

    KST_Buzzer::instance();
}

KST_PanelInstance::~KST_PanelInstance()
{
    m_startTimer.stop();
    if (m_state == Starting)
        --s_startingPanels;
    // The loader stops the firmware and unloads its copy; the button driver
    // goes before the face whose connectors it drives.
    delete m_firmware;
    m_firmware = nullptr;
    delete m_injector;
    m_injector = nullptr;
    m_buttonSetter.reset();
    delete m_face.data();
}

// ---- Face -------------------------------------------------------------------

void KST_PanelInstance::init(QWidget *parent, KST_PanelInfo *info,
                             const KST_FaceResources &resources, const QString &firmwareSource)
{
    m_resources = resources;
    // A second init builds a new face; the old one goes with its driver.
    m_buttonSetter.reset();
    delete m_face.data();

    m_face = new PAN_Widget(parent, resources.options, resources.images, resources.layouts);
    m_face->setLatching(true);
    m_face->setUseItemText(false);
    collector::registerMetaType();
    connect(m_face, &PAN_Widget::collector_msg, this, &KST_PanelInstance::collector_msg,
            Qt::QueuedConnection);
    // The driver points into the face: it never outlives it.
    connect(m_face, &QObject::destroyed, this, [this] { m_buttonSetter.reset(); });
    m_face->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_face, &QWidget::customContextMenuRequested, this, &KST_PanelInstance::showFaceMenu);

    m_panelInfo = info;
    m_firmwareSource = firmwareSource;
    if (m_firmwareSource.isEmpty() && m_panelInfo)
        m_firmwareSource = m_panelInfo->firmwareSourcePath();

    if (m_uid != 0 && !m_dataDir.isEmpty())
        m_face->setDataDirectory(m_dataDir + QLatin1Char('/') + panelDir());
    buildFace();
    update_tooltip();
}

// The face of the panel's type, with the driver over its buttons. Without a
// readable layout the face stays empty and the panel refuses to start, for
// the reason logged here once.
void KST_PanelInstance::buildFace()
{
    m_face->setFiles(layoutFileName(), QString(), QString());
    m_faceProblem.clear();
    if (!m_face->loadLayout(m_face->layoutFile())) {
        m_faceProblem = QStringLiteral("no layout %1 of type %2 could be read")
                            .arg(layoutFileName(), typeName());
        qCritical("prepare layout failed: %s (%s,%d)", qPrintable(m_faceProblem), __FILE__,
                  __LINE__);
    }
    if (!loadFace())
        qCritical("load panel layout failed (%s,%d)", __FILE__, __LINE__);
    rebuildButtonSetter();
}

void KST_PanelInstance::showFaceMenu(const QPoint &pos)
{
    if (!m_face)
        return;
    if (!m_faceMenu) {
        m_faceMenu = new QMenu(m_face);
        connect(m_faceMenu->addAction(tr("Protocol trace")), &QAction::triggered, this,
                &KST_PanelInstance::showProtocolTrace);
    }
    m_faceMenu->popup(m_face->mapToGlobal(pos));
}

void KST_PanelInstance::showProtocolTrace()
{
    KST_TraceWindow::showFor(traceDirectory(), summary(), this);
}

bool KST_PanelInstance::loadFace()
{
    // The driver points at the face's connectors, which the rebuild replaces.
    m_buttonSetter.reset();
    return m_face->setupUI();
}

void KST_PanelInstance::rebuildButtonSetter()
{
    m_buttonSetter.reset();
    m_buttonSetter = std::make_unique<buttondriver::ButtonSetterImpl>();
    connect(m_buttonSetter.get(), &buttondriver::ButtonSetterImpl::applied, this,
            [this](const QList<qint32> &ids) { emit faceChanged(this, ids); });
    QMap<qint32, buttondriver::IButton *> buttons;
    if (m_face)
        m_face->collectButtons(buttons);
    m_buttonSetter->setButtons(buttons);
    showFaceState(FaceStopped);
}

std::vector<QByteArray> KST_PanelInstance::faceStateBatch(int kind)
{
    static const quint8 colours[3][3] = {{0, 0, 0}, {0, 0, 64}, {64, 0, 0}};
    if (kind < 0 || kind > 2) {
        qCritical("unhandled switch %d (%s,%d)", kind, __FILE__, __LINE__);
        return {};
    }
    const quint8 *c = colours[kind];
    return {buttondriver::makeText(buttondriver::ALL_BUTTONS, QByteArray(), 0),
            buttondriver::makeColor(buttondriver::ALL_BUTTONS, c[0], c[1], c[2])};
}

void KST_PanelInstance::showFaceState(int kind)
{
    const std::vector<QByteArray> batch = faceStateBatch(kind);
    if (!batch.empty())
        sendToFace(batch);
}

void KST_PanelInstance::sendToFace(const std::vector<QByteArray> &batch)
{
    if (!m_buttonSetter) {
        qCritical("buttonSetterImpl NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    m_buttonSetter->process_messages(batch);
}

void KST_PanelInstance::firm_buttondriverMsg(std::vector<QByteArray> msg)
{
    sendToFace(msg);
}

void KST_PanelInstance::stopFlash()
{
    if (m_face)
        m_face->stopFlash();
}

void KST_PanelInstance::setVisible(bool visible)
{
    m_visible = visible;
    if (!parentItem()) {
        qCritical("panel has no parent (%s,%d)", __FILE__, __LINE__);
        return;
    }
    if (m_face)
        parentItem()->childShown(this, visible);
}

void KST_PanelInstance::setParentWidget(QWidget *parent)
{
    if (!m_face) {
        qCritical("_pan_widget NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    m_face->setParent(parent);
    // Re-parenting hides a widget.
    if (m_visible)
        m_face->show();
}

// ---- Properties ---------------------------------------------------------------

bool KST_PanelInstance::setIP(const QString &ip)
{
    if (m_state != Stopped) {
        qCritical("setIP in wrong state %s (%s,%d)", qPrintable(stateText(m_state)), __FILE__,
                  __LINE__);
        return false;
    }
    m_firmwareIp = ip;
    update_tooltip();
    return true;
}

bool KST_PanelInstance::setAllowedRouters(const QStringList &addresses)
{
    if (m_state != Stopped) {
        qCritical("setAllowedRouters in wrong state %s (%s,%d)", qPrintable(stateText(m_state)),
                  __FILE__, __LINE__);
        return false;
    }
    m_allowedRouters = addresses;
    return true;
}

bool KST_PanelInstance::setPanelPort(int port)
{
    if (m_state != Stopped) {
        qCritical("setPanelPort in wrong state %s (%s,%d)", qPrintable(stateText(m_state)),
                  __FILE__, __LINE__);
        return false;
    }
    m_panelPort = port;
    update_tooltip();
    return true;
}

bool KST_PanelInstance::setPanelType(int type)
{
    if (m_state != Stopped) {
        qCritical("setPanelType in wrong state %s (%s,%d)", qPrintable(stateText(m_state)),
                  __FILE__, __LINE__);
        return false;
    }
    m_paneltype = type;
    bool ok = true;
    if (m_face) {
        buildFace();
        ok = m_faceProblem.isEmpty();
        if (!ok)
            qCritical("load layout failed (%s,%d)", __FILE__, __LINE__);
    }
    update_tooltip();
    return ok;
}

void KST_PanelInstance::setName(const QString &name)
{
    m_name = name;
}

void KST_PanelInstance::setDescription(const QString &description)
{
    m_description = description;
}

QString KST_PanelInstance::typeName() const
{
    return m_panelInfo ? m_panelInfo->typeName(m_paneltype) : QString();
}

QString KST_PanelInstance::layoutFileName() const
{
    return m_panelInfo ? m_panelInfo->layoutFileName(m_paneltype)
                       : QStringLiteral("layout_none.xml");
}

QString KST_PanelInstance::traceDirectory() const
{
    if (m_uid == 0 || m_dataDir.isEmpty())
        return QString();
    return m_dataDir + QLatin1Char('/') + panelDir();
}

QString KST_PanelInstance::rackName() const
{
    return parentItem() ? parentItem()->itemName() : QString();
}

QString KST_PanelInstance::panelDir() const
{
    if (m_uid == 0) {
        qCritical("panelDir when panel NULL (%s,%d)", __FILE__, __LINE__);
        return QString();
    }
    return QStringLiteral("p%1").arg(m_uid);
}

QString KST_PanelInstance::firmwarePath() const
{
    const QString dir = panelDir();
    if (dir.isEmpty() || m_dataDir.isEmpty())
        return QString();
    return m_dataDir + QLatin1Char('/') + dir + QStringLiteral("/firm.");
}

QString KST_PanelInstance::configPath() const
{
    const QString dir = panelDir();
    if (dir.isEmpty() || m_dataDir.isEmpty())
        return QString();
    return m_dataDir + QLatin1Char('/') + dir + QStringLiteral("/cfg") + typeName();
}

bool KST_PanelInstance::configExists() const
{
    const QString path = configPath();
    return !path.isEmpty() && QFileInfo::exists(path);
}

// ---- Stored values a panel can run with ----------------------------------------

QString KST_PanelInstance::settingsProblem() const
{
    if (m_panelPort < 0 || m_panelPort > 65535)
        return QStringLiteral("Port %1 is not a UDP port (0 to 65535).").arg(m_panelPort);
    if (!m_firmwareIp.isEmpty() && m_firmwareIp != QLatin1String("*")) {
        // Four decimal numbers of 0 to 255, nothing else: the firmware
        // binds IPv4 only.
        const QStringList parts = m_firmwareIp.split(QLatin1Char('.'));
        bool ok = parts.size() == 4;
        for (const QString &part : parts) {
            bool number = false;
            const int v = part.toInt(&number, 10);
            ok = ok && number && part.size() <= 3 && v >= 0 && v <= 255
                 && std::all_of(part.begin(), part.end(), [](QChar c) { return c.isDigit(); });
        }
        if (!ok)
            return QStringLiteral("IP %1 is not an IPv4 address.").arg(m_firmwareIp);
    }
    if (m_paneltype < 0 || m_paneltype > KST_PanelInfo::TypeCount)
        return QStringLiteral("Panel type %1 is unknown.").arg(m_paneltype);
    return QString();
}

void KST_PanelInstance::markUnusable(const QString &why)
{
    m_refusalText = why;
    m_lastError = SettingsError;
    m_state = Error;
    update_tooltip();
}

QList<int> KST_PanelInstance::tcpPorts(int udpPort, bool injector)
{
    // FTP control 2p + 10021 and data 2p + 10020 in 16 bits (21 and 20 for
    // port 0), the injector p + 20000.
    QList<int> ports{udpPort ? (2 * udpPort + 10021) % 65536 : 21,
                     udpPort ? (2 * udpPort + 10020) % 65536 : 20};
    if (injector)
        ports.append((udpPort + 20000) % 65536);
    return ports;
}

// ---- Texts ------------------------------------------------------------------

QString KST_PanelInstance::stateText(int state)
{
    switch (state) {
    case Started:
        return QStringLiteral("started");
    case Stopped:
        return QStringLiteral("stopped");
    case Starting:
        return QStringLiteral("starting");
    case Stopping:
        return QStringLiteral("stopping");
    case Restarting:
        return QStringLiteral("restarting");
    case Error:
        return QStringLiteral("error");
    }
    qCritical("unhandled switch %d (%s,%d)", state, __FILE__, __LINE__);
    return QStringLiteral("???");
}

QString KST_PanelInstance::errorText() const
{
    switch (m_lastError) {
    case NoError:
        return QStringLiteral("[no error]");
    case UdpBindError:
        return QStringLiteral("Could not bind socket to port %1.  ").arg(m_panelPort);
    case FtpBindError:
        return QStringLiteral("Ftp error (bind).");
    case FtpError:
        return QStringLiteral("Ftp error.");
    case UnknownError:
        return QStringLiteral("Unknown error.");
    case OpenFilesError:
    case SettingsError:
    case LayoutError:
        return m_refusalText;
    }
    qCritical("unhandled switch %d (%s,%d)", int(m_lastError), __FILE__, __LINE__);
    return QString();
}

void KST_PanelInstance::update_tooltip()
{
    QString line1 = m_name;
    // Panels are held by racks only.
    if (parentItem())
        line1 += QLatin1Char('[') + rackName() + QLatin1Char(']');
    line1 += QStringLiteral(", ") + stateText(m_state);
    if (m_state == Started)
        line1 += m_online ? QStringLiteral(", online") : QStringLiteral(", offline");

    QString line2;
    if (m_panelInfo && m_paneltype != 0)
        line2 = typeName();
    if (!m_firmwareIp.isEmpty()) {
        if (!line2.isEmpty())
            line2 += QStringLiteral(", ");
        line2 += m_firmwareIp + QLatin1Char(':') + QString::number(m_panelPort);
    }

    const QString line3 = m_state == Error ? errorText() : QString();
    m_toolTip = (line1 + QLatin1Char('\n') + line2 + QLatin1Char('\n') + line3).trimmed();
    if (m_face)
        m_face->setToolTip(m_toolTip);
}

QString KST_PanelInstance::summary() const
{
    return QStringLiteral("%1[%2],%3,%4")
        .arg(m_name, rackName(), m_panelInfo ? typeName() : QStringLiteral("none"), m_firmwareIp);
}

// ---- Comm indications -------------------------------------------------------

int KST_PanelInstance::commLevelAfter(qint64 elapsedMs, int levelCount, int fadeMs)
{
    if (fadeMs <= 0 || elapsedMs < 0)
        return 0;
    const qint64 level = levelCount - elapsedMs * levelCount / fadeMs;
    return level < 1 ? 0 : int(level);
}

int KST_PanelInstance::commLevelNow(int channel) const
{
    if (channel < 0 || channel >= CommChannels || m_state != Started)
        return 0;
    return commLevelAfter(m_clock() - m_commEvent[channel], m_commLevelCount, m_commFadeMs);
}

int KST_PanelInstance::commLevel(int channel, bool peek)
{
    if (channel < 0 || channel >= CommChannels) {
        qCritical("invalid comm channel %d (%s,%d)", channel, __FILE__, __LINE__);
        return peek ? 0 : -1;
    }
    if (m_state != Started)
        return peek ? 0 : -1;
    if (peek)
        return m_commLevel[channel];
    const int level = commLevelAfter(m_clock() - m_commEvent[channel], m_commLevelCount,
                                     m_commFadeMs);
    if (level == m_commLevel[channel])
        return -1;
    m_commLevel[channel] = level;
    return level;
}

void KST_PanelInstance::setClock(std::function<qint64()> clock)
{
    m_clock = clock ? std::move(clock) : std::function<qint64()>(monotonicMs);
    const qint64 now = m_clock();
    for (qint64 &t : m_commEvent)
        t = now;
}

void KST_PanelInstance::setRemotePresses(bool on)
{
    if (on == m_remotePresses)
        return;
    m_remotePresses = on;
    emit remotePressesChanged(this);
}

// ---- Archive ----------------------------------------------------------------

bool KST_PanelInstance::save(arch::Itemo *node) const
{
    KST_PanelFields f;
    f.uid = m_uid;
    f.name = m_name;
    f.description = m_description;
    f.paneltype = m_paneltype;
    f.visible = m_visible;
    f.firmwareIp = m_firmwareIp;
    f.panelPort = m_panelPort;
    f.shouldAutostart = m_shouldAutostart;
    f.remotePresses = m_remotePresses;
    f.allowedRouters = KST_RouterList::text(m_allowedRouters);
    KST_savePanelFields(node, f);
    return true;
}

bool KST_PanelInstance::load(const arch::Itemi *node)
{
    KST_PanelFields f;
    f.uid = m_uid;
    f.name = m_name;
    f.description = m_description;
    f.paneltype = m_paneltype;
    f.visible = m_visible;
    f.firmwareIp = m_firmwareIp;
    f.panelPort = m_panelPort;
    f.shouldAutostart = m_shouldAutostart;
    KST_loadPanelFields(node, f);
    m_uid = f.uid;
    m_name = f.name;
    m_description = f.description;
    m_paneltype = f.paneltype;
    m_visible = f.visible;
    m_firmwareIp = f.firmwareIp;
    m_panelPort = f.panelPort;
    m_shouldAutostart = f.shouldAutostart;
    m_remotePresses = f.remotePresses;
    QString why;
    if (!KST_RouterList::parse(f.allowedRouters, &m_allowedRouters, &why)) {
        // Kept as stored: the firmware reports the entries it cannot use
        // and stays locked to the ones it can.
        qWarning("panel %d: allowed routers \"%s\": %s (%s,%d)", m_uid,
                 qPrintable(f.allowedRouters), qPrintable(why), __FILE__, __LINE__);
        m_allowedRouters = f.allowedRouters.split(QRegularExpression(QStringLiteral("[,\\s]+")),
                                                  Qt::SkipEmptyParts);
    }
    return true;
}
