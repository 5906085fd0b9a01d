// What a running panel (panelrun) shows against the router simulator on
// loopback, as the button-driver records panelrun reports: with the
// default configurations every key is drawn once the panel is online and
// polled; with a configuration of sources and destinations a take from a
// key changes the colour (or lamp) of the source keys and the name on the
// display key, and nothing else is sent again.

#include "router_rig.h"

#include <QTest>

namespace {

const QByteArray TAKE_CONFIG =
    "obj Configsettings() { numSources=8 numDestinations=4 numLevels=1 }\n"
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
    "obj KnownSources() { obj Src(1) { sN=\"CAM 1\" } obj Src(2) { sN=\"CAM 2\" } obj Src(3) { sN=\"VTR 1\" }"
    " obj Src(4) { sN=\"VTR 2\" } }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(2) { dN=\"TX\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
    "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
    " obj Btn(1) { bT=\"Destination\" bV=1 }\n"
    " obj Btn(2) { bT=\"Source\" bV=1 } obj Btn(3) { bT=\"Source\" bV=2 }\n"
    " obj Btn(4) { bT=\"Source\" bV=3 } obj Btn(5) { bT=\"Source\" bV=4 }\n"
    " obj Btn(6) { bT=\"Current Dst Src Display\" } obj Btn(7) { bT=\"Level\" bV=1 } } } }\n";

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}


} // namespace

class TestLegendsRouterSim : public QObject
{
    Q_OBJECT

private slots:
    void defaultConfigurations_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("keys");
        QTest::addColumn<bool>("legends");
        QTest::addColumn<int>("port");
        QTest::newRow("SK1400A") << QStringLiteral("SK1400A") << 32 << true << 42540;
        QTest::newRow("SK2000A") << QStringLiteral("SK2000A") << 47 << false << 42542;
    }

    // The panel as the host starts it, with the default configuration of
    // its type: once online and polled, every key has its colour (lamp)
    // and, on an LCD-key model, its legend.
    void defaultConfigurations()
    {
        QFETCH(QString, model);
        QFETCH(int, keys);
        QFETCH(bool, legends);
        QFETCH(int, port);
        const QByteArray file = readFile(QStringLiteral(RESOURCE_DIR "/cfg") + model);
        QVERIFY(!file.isEmpty());
        RouterRig rig;
        QString why;
        QVERIFY2(rig.start(model, QStringLiteral("127.0.0.171"), QStringLiteral("127.0.0.172"), port, file, {}, &why),
                 qPrintable(why));
        QStringList patterns;
        for (int k = 1; k <= keys; ++k) {
            patterns << QStringLiteral("color %1 .*").arg(k);
            if (legends)
                patterns << QStringLiteral("text %1 0 .*").arg(k);
        }
        QVERIFY2(rig.waitRecords(patterns), rig.perr.constData());
        rig.settle(200);
        const QStringList r = rig.records();
        if (legends) {
            // Keys without a function: blank, in colour entry 0 (code 1 here).
            for (int k = 1; k <= keys; ++k) {
                QCOMPARE(lastRecord(r, "text", k), QStringLiteral("text %1 0 ").arg(k));
                QCOMPARE(lastRecord(r, "color", k), QStringLiteral("color %1 0 100 0").arg(k));
            }
        } else {
            // The comms texts on the display windows gave way to the
            // displays, which have nothing to show yet.
            for (int w = 1000; w <= 1002; ++w)
                QCOMPARE(lastRecord(r, "text", w), QStringLiteral("text %1 0 ").arg(w));
            // Level 1 is selected: its key lights (red on this model).
            QCOMPARE(lastRecord(r, "color", 1), QStringLiteral("color 1 255 0 0"));
            QCOMPARE(lastRecord(r, "color", 2), QStringLiteral("color 2 200 200 200"));
        }
        QVERIFY(!rig.perr.contains("ST_BUZZER_ON"));
    }

    void takeChangesTheSourceKeys_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("routed");   // after the interrogation
        QTest::addColumn<QStringList>("taken");    // after the take, all of it
        QTest::newRow("SK1400A LCD keys")
            << QStringLiteral("SK1400A") << 42544
            << QStringList{QStringLiteral("color 2 200 120 0"), QStringLiteral("text 6 0 CAM 1")}
            << QStringList{QStringLiteral("color 2 40 255 40"), QStringLiteral("color 4 200 120 0"),
                           QStringLiteral("text 6 0 VTR 1")};
        QTest::newRow("SK2100A lamp keys")
            << QStringLiteral("SK2100A") << 42546 << QStringList{QStringLiteral("color 2 0 255 0")}
            << QStringList{QStringLiteral("color 2 200 200 200"), QStringLiteral("color 4 0 255 0")};
        QTest::newRow("SK2000A lamp keys")
            << QStringLiteral("SK2000A") << 42548 << QStringList{QStringLiteral("color 2 255 0 0")}
            << QStringList{QStringLiteral("color 2 200 200 200"), QStringLiteral("color 4 255 0 0")};
    }

    // Selecting the destination asks the router for its routing; the
    // source key of the answer lights. A Source key routes its source at
    // once; the router's tally moves the light to that key, and that is
    // all the panel sends.
    void takeChangesTheSourceKeys()
    {
        QFETCH(QString, model);
        QFETCH(int, port);
        QFETCH(QStringList, routed);
        QFETCH(QStringList, taken);
        RouterRig rig;
        QString why;
        QVERIFY2(rig.start(model, QStringLiteral("127.0.0.73"), QStringLiteral("127.0.0.74"), port,
                           pcslConfigFile(TAKE_CONFIG),
                           {QStringLiteral("--levels"), QStringLiteral("1"), QStringLiteral("--sources"),
                            QStringLiteral("8"), QStringLiteral("--dests"), QStringLiteral("4")},
                           &why),
                 qPrintable(why));
        QVERIFY2(rig.waitRecords({QStringLiteral("color 7 .*")}), rig.perr.constData());
        rig.settle(300);

        rig.mark();
        rig.keys("press 1\nsleep 80\nrelease 1\n");
        QVERIFY2(rig.waitRouter(QStringLiteral("rx "), QRegularExpression::escape(QStringLiteral("Q \".IV001\\r\"")), 5000),
                 rig.rout.constData());
        QVERIFY2(rig.waitRecords(routed), qPrintable(rig.recordsSinceMark().join(QLatin1Char('\n'))));
        rig.settle(300);

        rig.mark();
        rig.keys("press 4\nsleep 80\nrelease 4\n");
        QVERIFY2(rig.waitRouter(QStringLiteral("tx "), QRegularExpression::escape(QStringLiteral("Q \".UV001,003\\r\"")), 5000),
                 rig.rout.constData());
        QVERIFY2(rig.waitRecords(taken), qPrintable(rig.recordsSinceMark().join(QLatin1Char('\n'))));
        rig.settle(500);
        QStringList seen = rig.recordsSinceMark();
        seen.sort();
        taken.sort();
        QCOMPARE(seen, taken);
        QVERIFY(!rig.perr.contains("ST_BUZZER_ON"));
    }
};

QTEST_GUILESS_MAIN(TestLegendsRouterSim)
#include "tst_legends_routersim.moc"
