// Menus and special functions on a running panel (panelrun) against the
// router simulator on loopback: a salvo key fires the router's salvo, a
// chop key alternates two takes until pressed again, a lock key's lock
// comes back from the router onto the key's lamp, and the setup button of
// an offline LCD-key panel opens the setup menu, which "CanclExit" leaves
// for the comms display again.

#include "router_rig.h"

#include <QTest>

namespace {

const QByteArray CONFIG =
    "obj Configsettings() { numSources=8 numDestinations=4 numLevels=1 }\n"
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
    "obj KnownSources() { obj Src(1) { sN=\"CAM 1\" } obj Src(2) { sN=\"CAM 2\" } obj Src(3) { sN=\"VTR 1\" } }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(2) { dN=\"TX\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
    "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
    " obj Btn(1) { bT=\"System Salvo\" bV=5 }\n"
    " obj Btn(2) { bT=\"Source Chop\" bV=1 bV2=2 }\n"
    " obj Btn(3) { bT=\"Locks\" bV=2 } } } }\n";

const QStringList ROUTER = {QStringLiteral("--levels"), QStringLiteral("1"), QStringLiteral("--sources"),
                            QStringLiteral("8"), QStringLiteral("--dests"), QStringLiteral("4"),
                            QStringLiteral("--salvo"), QStringLiteral("5:2,3,V")};

QString q(const char *text)
{
    return QRegularExpression::escape(QString::fromLatin1(text));
}

int count(const QByteArray &text, const QByteArray &what)
{
    return int(text.count(what));
}


} // namespace

class TestMenusRouterSim : public QObject
{
    Q_OBJECT

private slots:
    // Salvo, chop and lock on a lamp-key model.
    void salvoChopAndLock()
    {
        RouterRig rig;
        QString why;
        QVERIFY2(rig.start(QStringLiteral("SK2100A"), QStringLiteral("127.0.0.81"), QStringLiteral("127.0.0.82"),
                           42560, pcslConfigFile(CONFIG), ROUTER, &why),
                 qPrintable(why));
        rig.settle(300);

        // The salvo goes out as ".F" with its number; the router's routes
        // come back as tallies.
        rig.keys("press 1\nsleep 60\nrelease 1\n");
        QVERIFY2(rig.waitRouter(QStringLiteral("rx "), q("Q \".F005\\r\""), 5000), rig.rout.constData());
        QVERIFY2(rig.waitRouter(QStringLiteral("tx "), q("Q \".UV002,003\\r\""), 5000), rig.rout.constData());

        // Chop: released, sources 1 and 2 alternate on destination 1 every
        // half second, until the key is released again.
        rig.keys("press 2\nsleep 60\nrelease 2\n");
        QElapsedTimer t;
        t.start();
        while ((count(rig.rout, "rx 127.0.0.82:42560") == 0 || count(rig.rout, ".SV001,002") < 2
                || count(rig.rout, ".SV001,001") < 2)
               && t.elapsed() < 8000)
            rig.settle(100);
        QVERIFY2(count(rig.rout, ".SV001,001") >= 2 && count(rig.rout, ".SV001,002") >= 2, rig.rout.constData());
        rig.keys("press 2\nsleep 60\nrelease 2\n");
        rig.settle(300);
        const int takes = count(rig.rout, ".SV001,");
        rig.settle(1500);
        QCOMPARE(count(rig.rout, ".SV001,"), takes);

        // Lock: the router locks destination 1 and tells the panel, whose
        // Locks key lights; pressed again it unlocks and goes dark.
        rig.mark();
        rig.keys("press 3\nsleep 60\nrelease 3\n");
        QVERIFY2(rig.waitRouter(QStringLiteral("rx "), q("Q \".BL001\\r\""), 5000), rig.rout.constData());
        QVERIFY2(rig.waitRouter(QStringLiteral("tx "), q("Q \".BA001,255\\r\""), 5000), rig.rout.constData());
        QVERIFY2(rig.waitRecords({QStringLiteral("color 3 0 255 0")}),
                 qPrintable(rig.recordsSinceMark().join(QLatin1Char('\n'))));
        // A take onto the locked destination is refused by the panel.
        rig.mark();
        rig.keys("press 2\nsleep 60\nrelease 2\nsleep 200\npress 2\nsleep 60\nrelease 2\n");
        rig.settle(800);
        rig.keys("press 3\nsleep 60\nrelease 3\n");
        QVERIFY2(rig.waitRouter(QStringLiteral("tx "), q("Q \".BA001,0\\r\""), 5000), rig.rout.constData());
        QVERIFY2(rig.waitRecords({QStringLiteral("color 3 200 200 200")}),
                 qPrintable(rig.recordsSinceMark().join(QLatin1Char('\n'))));
        QCOMPARE(count(rig.rout, ".SV001,"), takes);
        QVERIFY(!rig.perr.contains("ST_BUZZER_ON"));
    }

    // The setup menu of an offline SK1100A, opened by its setup button on
    // the panel's address (127.0.0.84) and left with "CanclExit".
    void setupMenuOffline()
    {
        RouterRig rig;
        QString why;
        QVERIFY2(rig.startPanelOnly(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.84"), 42562, &why),
                 qPrintable(why));
        QVERIFY2(rig.waitRecords({QStringLiteral("text 16 0 Setup"), QStringLiteral("text 1 0 No")}),
                 qPrintable(rig.records().join(QLatin1Char('\n'))));
        rig.settle(200);

        rig.mark();
        rig.keys("press 16\nsleep 60\nrelease 16\n");
        QVERIFY2(rig.waitRecords({QStringLiteral("text 1 0 Ip\\\\nSetup"), QStringLiteral("color 2 40 255 40"),
                                  QStringLiteral("text 8 0 127"), QStringLiteral("text 11 0 84"),
                                  QStringLiteral("color 8 200 120 0"),
                                  QStringLiteral("text 15 0 Cancl\\\\nExit"), QStringLiteral("text 16 0 Save\\+\\\\nReset")}),
                 qPrintable(rig.recordsSinceMark().join(QLatin1Char('\n'))));
        rig.settle(200);

        rig.mark();
        rig.keys("press 15\nsleep 60\nrelease 15\n");
        QVERIFY2(rig.waitRecords({QStringLiteral("text 1 0 No"), QStringLiteral("text 16 0 Setup")}),
                 qPrintable(rig.recordsSinceMark().join(QLatin1Char('\n'))));
        rig.settle(300);
        const QStringList r = rig.records();
        QCOMPARE(lastRecord(r, "text", 1), QStringLiteral("text 1 0 No"));
        QCOMPARE(lastRecord(r, "text", 8), QStringLiteral("text 8 0 "));
        QCOMPARE(lastRecord(r, "text", 16), QStringLiteral("text 16 0 Setup"));
        QVERIFY(!rig.perr.contains("ST_BUZZER_ON"));
    }
};

QTEST_GUILESS_MAIN(TestMenusRouterSim)
#include "tst_menus_routersim.moc"
