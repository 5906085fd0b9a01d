// Key presses on a running panel (panelrun) route sources on the router
// simulator over loopback: the panel's take goes out as ".S", the
// simulator's tally ".U" comes back into the panel's crosspoint table, and
// the panel's answer to an interrogation shows it. One LCD-key model and
// one name-entry model, each with a configuration written here.

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray ROUTER_NAMES =
    "obj Configsettings() { numSources=8 numDestinations=6 numLevels=2 }\n"
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } obj Level(2) { lN=\"Audio\" } }\n"
    "obj KnownSources() { obj Src(1) { sN=\"CAM 1\" } obj Src(2) { sN=\"CAM 2\" } obj Src(3) { sN=\"VTR 1\" }"
    " obj Src(4) { sN=\"VTR 2\" } obj Src(6) { sN=\"BARS\" } }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(2) { dN=\"MON 2\" } obj Dst(3) { dN=\"TX\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n";

// The configuration file: "CONFIG", the whole length, the PCSL text.
QByteArray configFile(const QByteArray &text)
{
    const QByteArray payload = QByteArray(43, '#') + "\n" + text;
    const quint32 n = quint32(payload.size() + 10);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

class Rig
{
public:
    // Router on routerIp:2001, the panel of the model on panelIp:port with
    // the configuration text.
    bool start(const QString &model, const QString &routerIp, const QString &panelIp, int port,
               const QByteArray &text, QString *why)
    {
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary directory");
            return false;
        }
        const QString config = m_dir.path() + QStringLiteral("/cfg") + model;
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly) || f.write(configFile(text)) < 0) {
            *why = QStringLiteral("cannot write ") + config;
            return false;
        }
        f.close();
        m_panelName = panelIp + QLatin1Char(':') + QString::number(port);
        router.start(QStringLiteral(ROUTERSIM),
                     {QStringLiteral("--bind"), routerIp + QStringLiteral(":2001"), QStringLiteral("--panel"),
                      m_panelName, QStringLiteral("--poll-ms"), QStringLiteral("300")});
        panel.start(QStringLiteral(PANELRUN),
                    {QStringLiteral("--type"), model, QStringLiteral("--ip"), panelIp, QStringLiteral("--port"),
                     QString::number(port), QStringLiteral("--config"), config, QStringLiteral("--workdir"),
                     m_dir.path(), QStringLiteral("--until-signal")});
        if (!router.waitForStarted() || !panel.waitForStarted()) {
            *why = QStringLiteral("cannot start the programs");
            return false;
        }
        // Online with its configuration, and the router's poll answered.
        if (!waitPanel("state 3 ST_CONFIG_LOADED") || !waitPanel("state 0 ST_ONLINE")) {
            *why = QString::fromLatin1(perr);
            return false;
        }
        if (!waitRouterRx(QStringLiteral("] y"))) {
            *why = QString::fromLatin1(rout);
            return false;
        }
        return true;
    }

    ~Rig()
    {
        panel.terminate();
        panel.waitForFinished(5000);
        router.write("quit\n");
        if (!router.waitForFinished(3000))
            router.kill();
    }

    void keys(const QByteArray &lines)
    {
        panel.write(lines);
        panel.waitForBytesWritten(2000);
    }

    void routerCommand(const QByteArray &line)
    {
        router.write(line);
        router.waitForBytesWritten(2000);
    }

    bool waitPanel(const QByteArray &text, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!perr.contains(text) && t.elapsed() < timeoutMs) {
            panel.waitForReadyRead(50);
            perr += panel.readAllStandardError();
            panel.readAllStandardOutput();
        }
        return perr.contains(text);
    }

    // A datagram the router received from the panel whose text matches.
    bool waitRouterRx(const QString &pattern, int timeoutMs = 5000)
    {
        return waitRouter(QStringLiteral("rx "), pattern, timeoutMs);
    }
    // ... and one it sent to the panel.
    bool waitRouterTx(const QString &pattern, int timeoutMs = 5000)
    {
        return waitRouter(QStringLiteral("tx "), pattern, timeoutMs);
    }

    bool waitRouter(const QString &direction, const QString &pattern, int timeoutMs)
    {
        const QRegularExpression re(direction + QRegularExpression::escape(m_panelName)
                                    + QStringLiteral(" [^\\n]*") + pattern);
        QElapsedTimer t;
        t.start();
        while (!re.match(QString::fromLatin1(rout)).hasMatch() && t.elapsed() < timeoutMs) {
            router.waitForReadyRead(50);
            rout += router.readAllStandardOutput();
        }
        return re.match(QString::fromLatin1(rout)).hasMatch();
    }

    QProcess router, panel;
    QByteArray perr, rout;

private:
    QTemporaryDir m_dir;
    QString m_panelName;
};

// A quoted router command text as the simulator's log writes it.
QString quoted(const char *text)
{
    return QRegularExpression::escape(QStringLiteral("Q \"%1\\r\"").arg(QLatin1String(text)));
}

} // namespace

class TestTakeRouterSim : public QObject
{
    Q_OBJECT

private slots:
    // SK1100A: keys select a destination, route a source at once, preset
    // a source and take it.
    void lcdModelTakes()
    {
        const QByteArray text = ROUTER_NAMES +
                                "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
                                " obj Btn(1) { bT=\"Destination\" bV=2 } obj Btn(2) { bT=\"Destination\" bV=3 }\n"
                                " obj Btn(3) { bT=\"Source\" bV=4 } obj Btn(5) { bT=\"Source Preset\" bV=6 }\n"
                                " obj Btn(7) { bT=\"Take\" } obj Btn(8) { bT=\"Level\" bV=2 } } } }\n";
        Rig rig;
        QString why;
        QVERIFY2(rig.start(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.51"), QStringLiteral("127.0.0.52"),
                           42520, text, &why),
                 qPrintable(why));

        // Destination 2: the panel asks for its routing.
        rig.keys("press 1\nsleep 80\nrelease 1\nsleep 80\n");
        QVERIFY2(rig.waitRouterRx(quoted(".IV002")), rig.rout.constData());
        // Source 4 routes at once; the tally comes back.
        rig.keys("press 3\nsleep 80\nrelease 3\nsleep 80\n");
        QVERIFY2(rig.waitRouterRx(quoted(".SV002,004")), rig.rout.constData());
        // Preset source 6, take it on levels V and A to destination 3.
        rig.keys("press 2\nsleep 80\nrelease 2\nsleep 80\npress 8\nsleep 80\nrelease 8\nsleep 80\n"
                 "press 5\nsleep 80\nrelease 5\nsleep 80\npress 7\nsleep 80\nrelease 7\n");
        QVERIFY2(rig.waitRouterRx(quoted(".SVA003,006")), rig.rout.constData());
        QVERIFY2(rig.waitRouterTx(quoted(".UVA003,006")), rig.rout.constData());

        // The panel's copy of the routing answers an interrogation.
        rig.routerCommand("q .IA003\\r\n");
        QVERIFY2(rig.waitRouterRx(quoted(".AA003,006")), rig.rout.constData());
        rig.routerCommand("q .IV002\\r\n");
        QVERIFY2(rig.waitRouterRx(quoted(".AV002,004")), rig.rout.constData());
        QVERIFY(!rig.perr.contains("ST_BUZZER_ON"));
    }

    // SK2000A: the source is named on the string keys and the take finds it.
    void nameEntryModelTakes()
    {
        const QByteArray text = ROUTER_NAMES +
                                "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
                                " obj Btn(1) { bT=\"Destination\" bV=3 } obj Btn(3) { bT=\"Add String\" bV=\"CAM\" }\n"
                                " obj Btn(4) { bT=\"Source Preset\" bV=4 } obj Btn(6) { bT=\"Append String\" bV=\"2\" }\n"
                                " obj Btn(7) { bT=\"Take\" } } } }\n";
        Rig rig;
        QString why;
        QVERIFY2(rig.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.53"), QStringLiteral("127.0.0.54"),
                           42522, text, &why),
                 qPrintable(why));

        rig.keys("press 1\nsleep 80\nrelease 1\nsleep 80\npress 3\nsleep 80\nrelease 3\nsleep 80\n"
                 "press 6\nsleep 80\nrelease 6\nsleep 80\npress 7\nsleep 80\nrelease 7\nsleep 80\n");
        QVERIFY2(rig.waitRouterRx(quoted(".SV003,002")), rig.rout.constData());
        rig.routerCommand("q .IV003\\r\n");
        QVERIFY2(rig.waitRouterRx(quoted(".AV003,002")), rig.rout.constData());

        // A preset key's source is found by its name too.
        rig.keys("press 4\nsleep 80\nrelease 4\nsleep 80\npress 7\nsleep 80\nrelease 7\n");
        QVERIFY2(rig.waitRouterRx(quoted(".SV003,004")), rig.rout.constData());
        rig.routerCommand("q .IV003\\r\n");
        QVERIFY2(rig.waitRouterRx(quoted(".AV003,004")), rig.rout.constData());
    }
};

QTEST_GUILESS_MAIN(TestTakeRouterSim)
#include "tst_take_routersim.moc"
