// A panel inside the host: its files, its start against the router
// simulator and its stop, failed starts, the error states, the state
// machine on every report, the buzzer, comm levels, its stored fields and
// key messages from an outside program reaching its firmware.

#include "arch_archi.h"
#include "arch_archo.h"
#include "button_setter.h"
#include "button_setter_impl.h"
#include "collector_msg.h"
#include "injector.h"
#include "kst_buzzer.h"
#include "kst_panel_firmware.h"
#include "kst_panelinfo.h"
#include "kst_open_files.h"
#include "kst_panelinstance.h"
#include "pan_imagecontainer.h"
#include "tiny_pictures.h"
#include "../../support/child_process.h"
#include "../../support/log_recorder.h"
#include "../../support/pcsl_file.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QAudioDevice>
#include <QLibrary>
#include <QMediaDevices>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <sys/resource.h>

using Panel = KST_PanelInstance;
using Cb = TFW_IFirmwareCallback;

namespace {

const int kSK1100A = 1;
const int kSK2000A = 10;

bool isMapped(const QString &path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(path.toUtf8());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}


// A report from the firmware, delivered the way the loader's queued
// connection delivers it.
void report(Panel *p, Cb::StateMsg msg)
{
    QVERIFY(QMetaObject::invokeMethod(p, "firm_stateMsg", Qt::DirectConnection,
                                      Q_ARG(TFW_IFirmwareCallback::StateMsg, msg)));
}

// What the button driver showed on the face, per button.
class FaceObserver : public buttondriver::ButtonObserver
{
public:
    QMap<qint32, QList<QColor>> colours;
    void colorApplied(qint32 id, quint8 r, quint8 g, quint8 b) override
    {
        colours[id].append(QColor(r, g, b));
    }
    void textApplied(qint32, const QString &, qint32) override {}
    void imageApplied(qint32, const buttondriver::FaceImage &, qint32) override {}

    // Whether every button's last colour is c.
    bool allLast(const QColor &c) const
    {
        for (const QList<QColor> &l : colours)
            if (l.isEmpty() || l.last() != c)
                return false;
        return !colours.isEmpty();
    }
};

class RecordingOutput : public KST_BuzzerOutput
{
public:
    RecordingOutput(int *starts, int *stops) : m_starts(starts), m_stops(stops) {}
    void start(QIODevice *samples) override
    {
        ++*m_starts;
        m_atStart = samples->pos() == 0;
    }
    void stop() override { ++*m_stops; }
    bool m_atStart = false;

private:
    int *m_starts;
    int *m_stops;
};

// The rack a panel sits in, as far as the panel sees it.
class Holder : public ItemData
{
public:
    explicit Holder(const QString &name) : m_name(name) {}
    QString itemName() const override { return m_name; }

private:
    QString m_name;
};

} // namespace

class TestPanelInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_base;
    std::unique_ptr<KST_PanelInfo> m_info;
    KST_FaceResources m_faces;
    PAN_LayoutCache m_layouts;
    QTemporaryDir m_pictures;
    std::unique_ptr<PAN_ImageContainer> m_images;
    // The faces' rack window.
    QWidget m_rack;

    std::unique_ptr<Panel> makePanel(int uid, int type, const QString &ip, int port,
                                     const QString &library = QStringLiteral(TESSFW_LIBRARY))
    {
        auto p = std::make_unique<Panel>(uid);
        p->init(&m_rack, m_info.get(), m_faces, library);
        p->setPanelType(type);
        p->setIP(ip);
        p->setPanelPort(port);
        return p;
    }

    QString dataDir() const { return m_base.path() + QStringLiteral("/data"); }

private slots:
    void initTestCase()
    {
        log_recorder::install();
        QVERIFY(m_base.isValid());
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(m_base.path()));
        m_info = std::make_unique<KST_PanelInfo>();
        m_faces.layouts = &m_layouts;
        QVERIFY(writeTinyPictures(m_pictures.path()));
        m_images = std::make_unique<PAN_ImageContainer>(m_pictures.path(), nullptr);
        m_faces.images = m_images.get();
        m_faces.options.splash = false;
        m_faces.options.fadeIn = false;

        // The first panel sets up the buzzer; a machine without audio says so
        // once.
        Panel first(99);
        QVERIFY(QFileInfo(dataDir()).isDir());
        KST_Buzzer *buzzer = KST_Buzzer::instance();
        QVERIFY(buzzer);
        Panel second(98);
        QCOMPARE(KST_Buzzer::instance(), buzzer);
        if (QMediaDevices::audioOutputs().isEmpty()) {
            QVERIFY(!buzzer->exists());
            QCOMPARE(log_recorder::countContaining(QtWarningMsg,
                                                   QStringLiteral("no audio output device")),
                     1);
        }
    }

    // Start in a fresh base directory: the firmware and the default
    // configuration are copied, the panel goes online against the router
    // simulator and stops with nothing of its run left. A second start keeps
    // the panel's own configuration and replaces the firmware copy.
    void startGoesOnlineAndStopLeavesNothing()
    {
        ChildProcess router;
        QVERIFY(router.start(QStringLiteral(ROUTERSIM),
                             {QStringLiteral("--bind"), QStringLiteral("127.0.0.71:2001"),
                              QStringLiteral("--panel"), QStringLiteral("127.0.0.72:24610"),
                              QStringLiteral("--poll-ms"), QStringLiteral("300")}));
        auto p = makePanel(1, kSK2000A, QStringLiteral("127.0.0.72"), 24610);
        QList<int> states;
        connect(p.get(), &Panel::panelStateChanged, this,
                [&states](Panel *panel) { states.append(panel->state()); });
        QSignalSpy online(p.get(), &Panel::onlineStateChanged);
        QSignalSpy configLoaded(p.get(), &Panel::configLoaded);

        const QString panelDir = dataDir() + QStringLiteral("/p1");
        QCOMPARE(p->firmwarePath(), panelDir + QStringLiteral("/firm."));
        QCOMPARE(p->configPath(), panelDir + QStringLiteral("/cfgSK2000A"));
        QVERIFY(!QFileInfo::exists(panelDir));

        QVERIFY(p->start(0));
        QCOMPARE(p->state(), Panel::Starting);
        QVERIFY(p->shouldAutostart());
        QVERIFY(p->firmwareLoader());
        QVERIFY(p->injector());
        QCOMPARE(int(p->injector()->serverPort()), 24610 + 20000);
        QCOMPARE(readFile(p->firmwarePath()), readFile(QStringLiteral(TESSFW_LIBRARY)));
        QCOMPARE(readFile(p->configPath()), readFile(QStringLiteral(":/config/cfgSK2000A")));
        QVERIFY(isMapped(p->firmwarePath()));

        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(p->isOnline(), 10000);
        QCOMPARE(online.count(), 1);
        QTRY_COMPARE(configLoaded.count(), 1);
        QVERIFY(p->isConfigLoaded());
        QCOMPARE(p->toolTip(),
                 QStringLiteral("panel1, started, online\nSK2000A, 127.0.0.72:24610"));
        QCOMPARE(p->face()->toolTip(), p->toolTip());

        log_recorder::clear();
        QVERIFY(!p->start(0));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("start in started")), 1);

        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);
        QCOMPARE(states, (QList<int>{Panel::Starting, Panel::Started, Panel::Stopping,
                                     Panel::Stopped}));
        QVERIFY(!p->firmwareLoader());
        QVERIFY(!p->injector());
        QVERIFY(!p->isOnline());
        QCOMPARE(online.count(), 2);
        QVERIFY(!p->shouldAutostart());
        QVERIFY(!isMapped(p->firmwarePath()));
        QCOMPARE(p->toolTip(), QStringLiteral("panel1, stopped\nSK2000A, 127.0.0.72:24610"));

        // The panel's own configuration stays; whatever lies in the firmware
        // copy's place is replaced.
        QByteArray own = readFile(p->configPath());
        QVERIFY(own.contains("configName=\"Default\""));
        own.replace("configName=\"Default\"", "configName=\"Custom!\"");
        QVERIFY(writeFile(p->configPath(), own));
        QVERIFY(writeFile(p->firmwarePath(), "not a library"));

        // The allowed routers reach the firmware at each start (its panel
        // log names them); an empty list removes the file again.
        const QString routers = panelDir + QStringLiteral("/allowed_routers");
        QVERIFY(p->setAllowedRouters({QStringLiteral("127.0.0.99"), QStringLiteral("127.0.0.71")}));
        log_recorder::clear();
        QVERIFY(p->start(0));
        QVERIFY(readFile(routers).endsWith("\n127.0.0.99\n127.0.0.71\n"));
        QTRY_COMPARE_WITH_TIMEOUT(log_recorder::countContaining(
                                      QtDebugMsg, QStringLiteral("allowed routers: 127.0.0.99 127.0.0.71")),
                                  1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(p->isOnline(), 10000);
        QVERIFY(!p->setAllowedRouters({}));
        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);
        QVERIFY(p->setAllowedRouters({}));

        QVERIFY(p->start(0));
        QVERIFY(!QFileInfo::exists(routers));
        QCOMPARE(readFile(p->configPath()), own);
        QCOMPARE(readFile(p->firmwarePath()), readFile(QStringLiteral(TESSFW_LIBRARY)));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(p->isOnline(), 10000);
        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);
        QVERIFY(!isMapped(p->firmwarePath()));
    }

    // A start that fails anywhere leaves the panel stopped with nothing of
    // the run kept, its face red and its autostart cleared.
    void failedStartsShowTheRedFace()
    {
        const QString junk = m_base.path() + QStringLiteral("/junk.so");
        QVERIFY(writeFile(junk, "not a library at all"));
        auto p = makePanel(2, kSK2000A, QStringLiteral("127.0.0.73"), 24620, junk);
        {
            arch::Archo out;
            out.root()->put(QStringLiteral("should_autostart"), true);
            QByteArray xml;
            QVERIFY(out.toXml(xml));
            arch::Archi in;
            QBuffer buf(&xml);
            QVERIFY(buf.open(QIODevice::ReadOnly));
            QVERIFY(in.load(&buf));
            QVERIFY(p->load(in.root()));
        }
        QVERIFY(p->shouldAutostart());
        FaceObserver face;
        p->buttonSetter()->setObserver(&face);

        log_recorder::clear();
        QVERIFY(!p->start(0));
        QCOMPARE(p->state(), Panel::Stopped);
        QVERIFY(!p->shouldAutostart());
        QVERIFY(!p->firmwareLoader());
        QVERIFY(!p->injector());
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("could not load library")), 1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("firmware init failed (")), 1);
        QVERIFY(face.allLast(QColor(64, 0, 0)));
        // Dark while starting, blue once the run was cleaned up, then red.
        QCOMPARE(face.colours.first(),
                 (QList<QColor>{QColor(0, 0, 0), QColor(0, 0, 64), QColor(64, 0, 0)}));
        QTest::qWait(50);
        QCOMPARE(p->state(), Panel::Stopped);

        // A firmware source that is not there.
        auto missing = makePanel(3, kSK2000A, QStringLiteral("127.0.0.73"), 24622,
                                 m_base.path() + QStringLiteral("/nonexistent"));
        log_recorder::clear();
        QVERIFY(!missing->start(0));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("failed to copy firmware file")), 1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("failed to copy firmware (")), 1);
        QCOMPARE(missing->state(), Panel::Stopped);

        // The injector's port is taken: no firmware is started.
        QTcpServer taken;
        taken.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(taken.listen(QHostAddress(QStringLiteral("127.0.0.73")), 24621 + 20000));
        auto busy = makePanel(4, kSK2000A, QStringLiteral("127.0.0.73"), 24621);
        log_recorder::clear();
        QVERIFY(!busy->start(0));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("failed to run injector (")), 1);
        QCOMPARE(busy->state(), Panel::Stopped);
        QVERIFY(!busy->firmwareLoader() && !busy->injector());
        QVERIFY(!isMapped(busy->firmwarePath()));
        // Without an injector the same panel starts.
        busy->setInjectorEnabled(false);
        QVERIFY(busy->start(0));
        QVERIFY(!busy->injector());
        QTRY_COMPARE_WITH_TIMEOUT(busy->state(), Panel::Started, 10000);
        QVERIFY(busy->stop());
        QTRY_COMPARE_WITH_TIMEOUT(busy->state(), Panel::Stopped, 10000);

        // No base directory: nothing is written anywhere else instead.
        const QByteArray base = qgetenv("TESSALINE_BASE_DIR");
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(m_base.path() + QStringLiteral("/gone")));
        log_recorder::clear();
        auto homeless = makePanel(5, kSK2000A, QStringLiteral("127.0.0.73"), 24623);
        qputenv("TESSALINE_BASE_DIR", base);
        QCOMPARE(log_recorder::count(QtCriticalMsg,
                                     QStringLiteral("could not create data dir, base dir not exists")),
                 1);
        QVERIFY(homeless->dataDirectory().isEmpty());
        QVERIFY(!homeless->start(0));
        QCOMPARE(log_recorder::count(QtCriticalMsg,
                                     QStringLiteral("failed to copy default config file (")),
                 1);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/data/p5")));
        QVERIFY(!QFileInfo::exists(m_base.path() + QStringLiteral("/gone")));
    }

    // A bind error while starting is an error at once; any error reported
    // while started stops the firmware and is an error once the thread has
    // ended, with the error as the tooltip's third line; stop() then takes
    // the panel back to stopped.
    // A start whose descriptors would not fit under the open-files limit
    // is refused before anything is loaded: the panel shows its error, the
    // reason names the limit, and a burst of refusals logs the reason once
    // and the rest in one line.
    void startsBeyondTheOpenFilesLimitAreRefused()
    {
        std::vector<std::unique_ptr<Panel>> panels;
        for (int i = 0; i < 3; ++i)
            panels.push_back(makePanel(40 + i, kSK2000A, QStringLiteral("127.0.0.74"), 24640 + i));
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit low = saved;
        // Not even one panel fits.
        low.rlim_cur = rlim_t(KST_openFileCount() + KST_HOST_OPEN_FILES_RESERVE + 1);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        log_recorder::clear();
        for (auto &p : panels) {
            p->setShouldAutostart(true);
            QVERIFY(!p->start(0));
        }
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);
        for (auto &p : panels) {
            QCOMPARE(p->state(), Panel::Error);
            QCOMPARE(p->lastError(), Panel::OpenFilesError);
            QVERIFY2(p->errorText().startsWith(QStringLiteral("panel start refused: the open-files limit of ")),
                     qPrintable(p->errorText()));
            QVERIFY(!p->firmwareLoader());
            QVERIFY(!p->shouldAutostart());
            QVERIFY(!QFile::exists(p->firmwarePath()));
        }
        QCOMPARE(log_recorder::countContaining(QtCriticalMsg, QStringLiteral("open-files limit of")), 1);
        QTRY_COMPARE(log_recorder::countContaining(
                         QtCriticalMsg,
                         QStringLiteral("2 more panel start(s) refused for the open-files limit")),
                     1);
        // Stopping clears the error as for any other.
        QVERIFY(panels[0]->stop());
        QCOMPARE(panels[0]->state(), Panel::Stopped);
        QCOMPARE(panels[0]->lastError(), Panel::NoError);
    }

    void errorReportsLeadToTheErrorState()
    {
        QUdpSocket taken;
        taken.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(taken.bind(QHostAddress(QStringLiteral("127.0.0.74")), 24630));
        auto p = makePanel(6, kSK2000A, QStringLiteral("127.0.0.74"), 24630);
        QVERIFY(p->start(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Error, 10000);
        QCOMPARE(p->lastError(), Panel::UdpBindError);
        QCOMPARE(p->toolTip(), QStringLiteral("panel6, error\nSK2000A, 127.0.0.74:24630\n"
                                              "Could not bind socket to port 24630."));
        QVERIFY(p->firmwareLoader());
        QTest::qWait(100); // the thread's end changes nothing
        QCOMPARE(p->state(), Panel::Error);
        QVERIFY(p->stop());
        QCOMPARE(p->state(), Panel::Stopped);
        QVERIFY(!p->firmwareLoader() && !p->injector());
        QCOMPARE(p->lastError(), Panel::NoError);

        struct Case
        {
            Cb::StateMsg msg;
            Panel::PanelError error;
            const char *text;
        };
        const Case cases[] = {
            {Cb::ST_UDP_BIND_ERROR, Panel::UdpBindError, "Could not bind socket to port 24631."},
            {Cb::ST_FTP_BIND_ERROR, Panel::FtpBindError, "Ftp error (bind)."},
            {Cb::ST_FTP_ERROR, Panel::FtpError, "Ftp error."},
        };
        QVERIFY(p->setPanelPort(24631));
        for (const Case &c : cases) {
            QVERIFY(p->start(0));
            QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
            report(p.get(), c.msg); // stops the firmware, waiting for its thread
            QCOMPARE(p->state(), Panel::Started);
            QCOMPARE(p->lastError(), c.error);
            QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Error, 10000);
            QCOMPARE(p->toolTip().section(QLatin1Char('\n'), 2), QString::fromLatin1(c.text));
            QVERIFY(p->stop());
            QCOMPARE(p->state(), Panel::Stopped);
            QCOMPARE(p->toolTip().count(QLatin1Char('\n')), 1);
        }
    }

    // A run ended from the error state before its thread's end was heard of
    // leaves nothing that moves the next run: neither the pending error
    // (which would have the next run's ST_RUNNING ignored) nor reports of
    // the old run still queued.
    void anEndedRunDoesNotReachTheNext()
    {
        auto udpTaken = std::make_unique<QUdpSocket>();
        udpTaken->setProxy(QNetworkProxy::NoProxy);
        QVERIFY(udpTaken->bind(QHostAddress(QStringLiteral("127.0.0.74")), 24635));
        auto p = makePanel(7, kSK2000A, QStringLiteral("127.0.0.74"), 24635);

        // Stopped the moment it turns to error, within the bind error report.
        bool stopped = false;
        auto handler = connect(p.get(), &Panel::panelStateChanged, this, [&] {
            if (p->state() == Panel::Error && !stopped) {
                stopped = true;
                QVERIFY(p->stop());
            }
        });
        QVERIFY(p->start(0));
        QTRY_VERIFY_WITH_TIMEOUT(stopped, 10000);
        disconnect(handler);
        QCOMPARE(p->state(), Panel::Stopped);
        udpTaken.reset();
        QVERIFY(p->start(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);

        // Reports of the old run queued while it is cleaned up and the next
        // run begins.
        udpTaken = std::make_unique<QUdpSocket>();
        udpTaken->setProxy(QNetworkProxy::NoProxy);
        QVERIFY(udpTaken->bind(QHostAddress(QStringLiteral("127.0.0.74")), 24635));
        QVERIFY(p->start(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Error, 10000);
        KST_PanelFirmware *old = p->firmwareLoader();
        QVERIFY(old);
        old->stateMsg(Cb::ST_STOPPING);
        old->stateMsg(Cb::ST_THREAD_FINISHED);
        QVERIFY(p->stop());
        udpTaken.reset();
        QVERIFY(p->start(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
        QTest::qWait(100);
        QCOMPARE(p->state(), Panel::Started);
        QVERIFY(p->firmwareLoader());
        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);
    }

    // The state machine on each report, without a firmware behind it.
    void reportsDriveTheStateMachine()
    {
        auto p = makePanel(8, kSK2000A, QStringLiteral("10.1.2.3"), 2001);
        QSignalSpy stateChanges(p.get(), &Panel::panelStateChanged);
        QSignalSpy online(p.get(), &Panel::onlineStateChanged);
        QSignalSpy configLoaded(p.get(), &Panel::configLoaded);

        report(p.get(), Cb::ST_RUNNING);
        QCOMPARE(p->state(), Panel::Started);
        QCOMPARE(stateChanges.count(), 1);
        QCOMPARE(p->toolTip(), QStringLiteral("panel8, started, offline\nSK2000A, 10.1.2.3:2001"));

        // Setters are refused while the panel is not stopped.
        log_recorder::clear();
        QVERIFY(!p->setIP(QStringLiteral("10.9.9.9")));
        QVERIFY(!p->setPanelPort(3000));
        QVERIFY(!p->setPanelType(kSK1100A));
        QVERIFY(!p->start(0));
        QCOMPARE(p->ip(), QStringLiteral("10.1.2.3"));
        QCOMPARE(p->panelPort(), 2001);
        QCOMPARE(p->panelType(), kSK2000A);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("setIP in wrong state started")), 1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("setPanelPort in wrong state")), 1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("setPanelType in wrong state")), 1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("start in started")), 1);
        p->setName(QStringLiteral("Desk A"));
        QCOMPARE(p->name(), QStringLiteral("Desk A"));

        report(p.get(), Cb::ST_LOCATE_ON);
        QVERIFY(p->face()->isFlashing());
        report(p.get(), Cb::ST_ONLINE);
        QVERIFY(!p->face()->isFlashing());
        QVERIFY(p->isOnline());
        QCOMPARE(online.count(), 1);
        QCOMPARE(p->toolTip(), QStringLiteral("Desk A, started, online\nSK2000A, 10.1.2.3:2001"));
        report(p.get(), Cb::ST_LOCATE_ON);
        report(p.get(), Cb::ST_LOCATE_OFF);
        QVERIFY(!p->face()->isFlashing());

        report(p.get(), Cb::ST_CONFIG_LOADED);
        QCOMPARE(configLoaded.count(), 1);
        QVERIFY(p->isConfigLoaded());

        log_recorder::clear();
        report(p.get(), Cb::StateMsg(18));
        report(p.get(), Cb::ST_THREAD_STARTED);
        report(p.get(), Cb::ST_FIRMWARE_MSG);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("firmware_msg 18")), 1);
        QCOMPARE(log_recorder::count(QtDebugMsg, QStringLiteral("firmware_msg 2")), 1);
        QCOMPARE(p->state(), Panel::Started);

        // Comm levels: 4 right after an event, 2 after 250 ms of the 500 ms
        // fade, 0 at its end; -1 when unchanged.
        qint64 now = 1000;
        p->setClock([&now] { return now; });
        report(p.get(), Cb::ST_UDP_SENT);
        QCOMPARE(p->commLevel(Panel::CommTransmit, false), 4);
        now = 1250;
        QCOMPARE(p->commLevel(Panel::CommTransmit, false), 2);
        QCOMPARE(p->commLevel(Panel::CommTransmit, false), -1);
        QCOMPARE(p->commLevel(Panel::CommTransmit, true), 2);
        report(p.get(), Cb::ST_UDP_RECEIVED);
        report(p.get(), Cb::ST_UDP_SEND_FAILED);
        now = 1374;
        QCOMPARE(p->commLevel(Panel::CommReceive, false), 4 - 124 * 4 / 500);
        QCOMPARE(p->commLevel(Panel::CommSendFailure, false), 4 - 124 * 4 / 500);
        now = 1500;
        QCOMPARE(p->commLevel(Panel::CommTransmit, false), 0);
        now = 1000000;
        QCOMPARE(p->commLevel(Panel::CommReceive, false), 0);
        log_recorder::clear();
        QCOMPARE(p->commLevel(3, false), -1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("invalid comm channel 3")), 1);

        // Leaving Started clears online, with a second notification.
        log_recorder::clear();
        report(p.get(), Cb::ST_STOPPING);
        QCOMPARE(p->state(), Panel::Stopping);
        QVERIFY(!p->isOnline());
        QCOMPARE(online.count(), 2);
        QCOMPARE(p->commLevel(Panel::CommTransmit, true), 0);
        QCOMPARE(p->commLevel(Panel::CommTransmit, false), -1);
        QVERIFY(!p->stop());
        QCOMPARE(log_recorder::count(QtWarningMsg, QStringLiteral("already trying to stop firmware")), 1);
        // ST_ONLINE in any state sets online.
        report(p.get(), Cb::ST_ONLINE);
        QVERIFY(p->isOnline());
        QCOMPARE(online.count(), 3);
        report(p.get(), Cb::ST_THREAD_FINISHED);
        QCOMPARE(p->state(), Panel::Stopped);
        QVERIFY(!p->isOnline());
        QCOMPARE(online.count(), 4);

        // Stopped: the setters take effect.
        QVERIFY(p->setIP(QStringLiteral("10.9.9.9")));
        QVERIFY(p->setPanelPort(3000));
        QCOMPARE(p->toolTip(), QStringLiteral("Desk A, stopped\nSK2000A, 10.9.9.9:3000"));
        QVERIFY(p->setPanelType(kSK1100A));
        QCOMPARE(p->face()->layoutFile(), QStringLiteral("layout_sk1100a.xml"));
        QVERIFY(p->buttonSetter());
        QCOMPARE(p->configPath(), dataDir() + QStringLiteral("/p8/cfgSK1100A"));
        QCOMPARE(p->toolTip(), QStringLiteral("Desk A, stopped\nSK1100A, 10.9.9.9:3000"));
        QVERIFY(p->setIP(QString()));
        QCOMPARE(p->toolTip(), QStringLiteral("Desk A, stopped\nSK1100A"));
        QVERIFY(p->setPanelType(0));
        QCOMPARE(p->toolTip(), QStringLiteral("Desk A, stopped"));
    }

    // Two beeps within the sound's length play it once; the buzzer is
    // watched through an output of the test's own.
    void buzzerPlaysOncePerSound()
    {
        KST_Buzzer *buzzer = KST_Buzzer::instance();
        QVERIFY(buzzer && buzzer->soundLoaded());
        QCOMPARE(buzzer->durationMs(), (7100 - 44) * 1000 / 44100);
        QCOMPARE(buzzer->samples().size(), 7100 - 44);

        auto p = makePanel(9, kSK2000A, QStringLiteral("10.1.2.3"), 2001);
        const bool hadOutput = buzzer->exists(); // a real one is replaced for the test
        int starts = 0, stops = 0;
        auto output = std::make_unique<RecordingOutput>(&starts, &stops);
        RecordingOutput *out = output.get();
        buzzer->setOutput(std::move(output));
        qint64 now = 0;
        buzzer->setClock([&now] { return now; });
        const int before = buzzer->startCount();

        log_recorder::clear();
        report(p.get(), Cb::ST_BUZZER_ON); // as soon as set up: still the last one's time
        QCOMPARE(starts, 0);
        now = 200;
        report(p.get(), Cb::ST_BUZZER_ON);
        QCOMPARE(starts, 1);
        QVERIFY(out->m_atStart);
        now = 300;
        report(p.get(), Cb::ST_BUZZER_ON);
        now = 360;
        report(p.get(), Cb::ST_BUZZER_ON);
        QCOMPARE(starts, 1);
        now = 361;
        report(p.get(), Cb::ST_BUZZER_ON);
        QCOMPARE(starts, 2);
        QVERIFY(out->m_atStart); // rewound
        QCOMPARE(buzzer->startCount() - before, 2);
        QCOMPARE(log_recorder::count(QtDebugMsg, QStringLiteral("buzzer ON")), 5);
        const int stopsBefore = stops;
        report(p.get(), Cb::ST_BUZZER_OFF);
        QCOMPARE(stops, stopsBefore + 1);

        // Without an output nothing plays.
        buzzer->setOutput(nullptr);
        now = 10000;
        QVERIFY(!buzzer->exists());
        QVERIFY(!buzzer->beep());
        buzzer->setClock({});
        Q_UNUSED(hadOutput);
    }

    // Stored fields, paths, tooltip and summary with a rack, and removing
    // the panel's files.
    void storedFieldsPathsAndFiles()
    {
        auto p = makePanel(3, kSK2000A, QStringLiteral("10.0.0.1"), 2500);
        p->setDescription(QStringLiteral("studio <1> & \"2\""));
        p->setRemotePresses(false);
        arch::Archo out;
        QVERIFY(p->save(out.root()));
        QStringList names;
        for (const arch::Itemo *c : out.root()->children())
            names << c->name();
        QCOMPARE(names, (QStringList{"uid", "name", "description", "paneltype", "visible",
                                     "firmware_ip", "panelPort", "should_autostart",
                                     "remote_presses", "allowed_routers"}));
        QByteArray xml;
        QVERIFY(out.toXml(xml));
        arch::Archi in;
        QBuffer buf(&xml);
        QVERIFY(buf.open(QIODevice::ReadOnly));
        QVERIFY(in.load(&buf));
        Panel q(0);
        QVERIFY(q.load(in.root()));
        QCOMPARE(q.uid(), 3);
        QCOMPARE(q.name(), QStringLiteral("panel3"));
        QCOMPARE(q.description(), p->description());
        QCOMPARE(q.panelType(), kSK2000A);
        QCOMPARE(q.ip(), QStringLiteral("10.0.0.1"));
        QCOMPARE(q.panelPort(), 2500);
        QVERIFY(!q.isVisible());
        QVERIFY(!q.shouldAutostart());
        QVERIFY(!q.remotePresses());
        QCOMPARE(q.panelDir(), QStringLiteral("p3"));
        // A panel stored before the presses switch takes presses.
        xml.replace("<remote_presses>0</remote_presses>", "");
        arch::Archi older;
        QBuffer olderBuf(&xml);
        QVERIFY(olderBuf.open(QIODevice::ReadOnly) && older.load(&olderBuf));
        QVERIFY(q.load(older.root()));
        QVERIFY(q.remotePresses());

        // uid 0 has no directory.
        Panel none(0);
        log_recorder::clear();
        QCOMPARE(none.panelDir(), QString());
        QCOMPARE(none.configPath(), QString());
        QCOMPARE(none.firmwarePath(), QString());
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("panelDir when panel NULL")), 3);

        QCOMPARE(p->summary(), QStringLiteral("panel3[],SK2000A,10.0.0.1"));
        log_recorder::clear();
        p->setVisible(true);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("panel has no parent")), 1);
        Holder rack(QStringLiteral("Studio"));
        p->setParentItem(&rack);
        p->update_tooltip();
        QCOMPARE(p->toolTip(), QStringLiteral("panel3[Studio], stopped\nSK2000A, 10.0.0.1:2500"));
        QCOMPARE(p->summary(), QStringLiteral("panel3[Studio],SK2000A,10.0.0.1"));
        p->setParentItem(nullptr);

        QCOMPARE(Panel::stateText(Panel::Restarting), QStringLiteral("restarting"));
        log_recorder::clear();
        QCOMPARE(Panel::stateText(7), QStringLiteral("???"));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("unhandled switch 7")), 1);
        QCOMPARE(p->errorText(), QStringLiteral("[no error]"));

        // removeFiles takes the copy, the configuration and the directory.
        const QString dir = dataDir() + QStringLiteral("/p3");
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(writeFile(p->firmwarePath(), "lib"));
        QVERIFY(writeFile(p->configPath(), "cfg"));
        p->removeFiles();
        QVERIFY(!QFileInfo::exists(dir));
        // Whatever else the panel left in its directory goes with it.
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(writeFile(dir + QStringLiteral("/other"), "x"));
        QVERIFY(writeFile(p->configPath(), "cfg"));
        log_recorder::clear();
        p->removeFiles();
        QVERIFY(!QFileInfo::exists(dir));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("could not remove dir")), 0);
        // The data directory itself is never taken.
        log_recorder::clear();
        none.removeFiles();
        QVERIFY(QFileInfo(dataDir()).isDir());
    }

    // A plain TCP client (a Python script) presses keys through the panel's
    // injector; they reach the firmware's key state. A frame length over
    // 64 KiB closes that client's connection.
    void keysFromAnOutsideProgramReachTheFirmware()
    {
        auto p = makePanel(10, kSK2000A, QStringLiteral("127.0.0.75"), 24640,
                           QStringLiteral(TESSFW_PROBE_LIBRARY));
        QVERIFY(p->start(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
        QLibrary probe(p->firmwarePath());
        auto keyState = reinterpret_cast<int (*)(int)>(probe.resolve("tfw_probe_key_state"));
        QVERIFY(keyState);
        QCOMPARE(keyState(8), 0);

        log_recorder::clear();
        ChildProcess client;
        QVERIFY(client.start(QStringLiteral(PYTHON),
                             {QStringLiteral(SEND_KEYS), QStringLiteral("127.0.0.75"),
                              QString::number(24640 + 20000), QStringLiteral("framing")}));
        QVERIFY(client.waitForExit(30000));
        QVERIFY2(client.exitCode() == 0, client.output().constData());
        QVERIFY(client.output().contains("keys sent\n"));
        QVERIFY(client.output().contains("closed\n"));
        QTRY_COMPARE(keyState(8), 1); // key 9
        QTRY_COMPARE(keyState(6), 1); // key 7, sent in three pieces
        QTRY_COMPARE(keyState(4), 0); // key 5, pressed and released
        QCOMPARE(log_recorder::countContaining(QtWarningMsg,
                                               QStringLiteral("frame length 65537 over 65536")),
                 1);
        QTRY_COMPARE(p->injector()->clientCount(), 0);

        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);
        // The probe's resolve shares the loader's handle, which is gone.
        QVERIFY(!isMapped(p->firmwarePath()));
    }

    // Keys pressed by an outside program select a destination and route a
    // source: the take arrives at the router simulator. The panel runs with
    // a configuration of its own, which the start leaves as it is.
    void keysFromAnOutsideProgramPutATakeOnTheWire()
    {
        ChildProcess router;
        QVERIFY(router.start(QStringLiteral(ROUTERSIM),
                             {QStringLiteral("--bind"), QStringLiteral("127.0.0.78:2001"),
                              QStringLiteral("--panel"), QStringLiteral("127.0.0.79:24660"),
                              QStringLiteral("--poll-ms"), QStringLiteral("300")}));
        auto p = makePanel(12, kSK1100A, QStringLiteral("127.0.0.79"), 24660);
        QVERIFY(QDir().mkpath(dataDir() + QStringLiteral("/p12")));
        const QByteArray config = pcslConfigFile(
            "obj Configsettings() { numSources=8 numDestinations=6 numLevels=1 }\n"
            "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
            "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
            "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
            " obj Btn(1) { bT=\"Destination\" bV=2 } obj Btn(3) { bT=\"Source\" bV=4 } } } }\n");
        QVERIFY(writeFile(p->configPath(), config));

        QVERIFY(p->start(0));
        QCOMPARE(readFile(p->configPath()), config);
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(p->isConfigLoaded(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(p->isOnline(), 10000);
        // The panel counts as online once set up; its requests find the
        // router only after it has heard from it and answered a poll.
        auto fromPanel = [&router](const QByteArray &text) {
            for (const QByteArray &line : router.output().split('\n'))
                if (line.startsWith("rx 127.0.0.79:24660 ") && line.contains(text))
                    return true;
            return false;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(fromPanel("] y"), router.output().constData(), 10000);

        ChildProcess client;
        QVERIFY(client.start(QStringLiteral(PYTHON),
                             {QStringLiteral(SEND_KEYS), QStringLiteral("127.0.0.79"),
                              QString::number(24660 + 20000), QStringLiteral("keys"),
                              QStringLiteral("1"), QStringLiteral("3")}));
        QVERIFY(client.waitForExit(30000));
        QVERIFY2(client.exitCode() == 0, client.output().constData());
        // Destination 2 is asked for, then source 4 routed to it.
        QTRY_VERIFY2_WITH_TIMEOUT(fromPanel("Q \".IV002\\r\""), router.output().constData(), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(fromPanel("Q \".SV002,004\\r\""), router.output().constData(),
                                  5000);

        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);
    }

    // The panel in front of an SW-P-08 router: routersim bridging to
    // another routersim's SW-P-08 server. Keys pressed on the face route a
    // source on the router; the router's report comes back to the panel.
    void takesThroughAnSwp08Bridge()
    {
        ChildProcess router, bridge;
        QVERIFY(router.start(QStringLiteral(ROUTERSIM),
                             {QStringLiteral("--bind"), QStringLiteral("127.0.0.106:2001"),
                              QStringLiteral("--swp08-listen"), QStringLiteral("127.0.0.106:24750"),
                              QStringLiteral("--levels"), QStringLiteral("2"), QStringLiteral("--sources"),
                              QStringLiteral("8"), QStringLiteral("--dests"), QStringLiteral("8"),
                              QStringLiteral("--poll-ms"), QStringLiteral("0"), QStringLiteral("--quiet")}));
        QVERIFY2(router.waitForOutput("swp08 --- listening on", 10000), router.output().constData());
        QVERIFY(bridge.start(QStringLiteral(ROUTERSIM),
                             {QStringLiteral("--bind"), QStringLiteral("127.0.0.107:2001"), QStringLiteral("--panel"),
                              QStringLiteral("127.0.0.108:24740"), QStringLiteral("--poll-ms"), QStringLiteral("300"),
                              QStringLiteral("--swp08"), QStringLiteral("127.0.0.106:24750"),
                              QStringLiteral("--swp08-levels"), QStringLiteral("V=0,A=1")}));
        auto p = makePanel(13, kSK1100A, QStringLiteral("127.0.0.108"), 24740);
        QVERIFY(QDir().mkpath(dataDir() + QStringLiteral("/p13")));
        QVERIFY(writeFile(p->configPath(),
                          pcslConfigFile("obj Configsettings() { numSources=8 numDestinations=6 numLevels=2 }\n"
                                         "obj KnownLevels() { obj Level(1) { lN=\"Video\" } obj Level(2) { lN=\"Audio\" } }\n"
                                         "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=3 } }\n"
                                         "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
                                         " obj Btn(1) { bT=\"Destination\" bV=2 } obj Btn(3) { bT=\"Source\" bV=4 } } } }\n")));
        QVERIFY(p->start(0));
        QTRY_VERIFY_WITH_TIMEOUT(p->isOnline(), 10000);
        auto seen = [&bridge](const QByteArray &prefix, const QByteArray &text) {
            for (const QByteArray &line : bridge.output().split('\n'))
                if (line.startsWith(prefix) && line.contains(text))
                    return true;
            return false;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(seen("rx 127.0.0.108:24740 ", "] y"), bridge.output().constData(), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(seen("swp08 --- connected to 127.0.0.106:24750", ""), bridge.output().constData(),
                                  10000);

        // Pressed on the face as the mouse does: destination 2, source 4.
        for (int key : {1, 3}) {
            emit p->face()->collector_msg(collector::CollectorMsg(key, 1));
            QTest::qWait(100);
            emit p->face()->collector_msg(collector::CollectorMsg(key, 0));
            QTest::qWait(100);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(seen("rx 127.0.0.108:24740 ", "Q \".SVA002,004\\r\""), bridge.output().constData(),
                                  5000);
        QTRY_VERIFY2_WITH_TIMEOUT(seen("swp08 rx 127.0.0.106:24750 ", "connected m0 l1 d1 s3"),
                                  bridge.output().constData(), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(seen("tx 127.0.0.108:24740 ", "A002,004\\r\""), bridge.output().constData(), 5000);
        // The panel's copy of the routing has it.
        bridge.write("q .IA002\\r\n");
        QTRY_VERIFY2_WITH_TIMEOUT(seen("rx 127.0.0.108:24740 ", "Q \".AA002,004\\r\""), bridge.output().constData(),
                                  5000);

        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);
    }

    // A start with a delay happens that much later; a stop meanwhile calls
    // it off.
    void delayedStart()
    {
        auto p = makePanel(11, kSK2000A, QStringLiteral("127.0.0.76"), 24650);
        QElapsedTimer t;
        qint64 startedAfter = -1;
        connect(p.get(), &Panel::panelStateChanged, this, [&] {
            if (p->state() == Panel::Starting)
                startedAfter = t.elapsed();
        });
        t.start();
        QVERIFY(p->start(300));
        QCOMPARE(p->state(), Panel::Stopped);
        QVERIFY(!p->firmwareLoader());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Started, 10000);
        QVERIFY2(startedAfter >= 300, qPrintable(QString::number(startedAfter)));
        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), Panel::Stopped, 10000);

        QVERIFY(p->start(100));
        p->stop();
        QTest::qWait(300);
        QCOMPARE(p->state(), Panel::Stopped);
        QVERIFY(!p->firmwareLoader());
    }
};

QTEST_MAIN(TestPanelInstance)
#include "tst_panel_instance.moc"
