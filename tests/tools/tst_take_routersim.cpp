// Key presses on a running panel (panelrun) route sources on the router
// simulator over loopback: the panel's take goes out as ".S", the
// simulator's tally ".U" comes back into the panel's crosspoint table, and
// the panel's answer to an interrogation shows it. One LCD-key model and
// one name-entry model, each with a configuration written here.

#include "router_rig.h"

#include <QTest>

namespace {

const QByteArray ROUTER_NAMES =
    "obj Configsettings() { numSources=8 numDestinations=6 numLevels=2 }\n"
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } obj Level(2) { lN=\"Audio\" } }\n"
    "obj KnownSources() { obj Src(1) { sN=\"CAM 1\" } obj Src(2) { sN=\"CAM 2\" } obj Src(3) { sN=\"VTR 1\" }"
    " obj Src(4) { sN=\"VTR 2\" } obj Src(6) { sN=\"BARS\" } }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(2) { dN=\"MON 2\" } obj Dst(3) { dN=\"TX\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n";

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
        RouterRig rig;
        QString why;
        QVERIFY2(rig.start(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.51"), QStringLiteral("127.0.0.52"),
                           42520, pcslConfigFile(text), {}, &why),
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
        RouterRig rig;
        QString why;
        QVERIFY2(rig.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.53"), QStringLiteral("127.0.0.54"),
                           42522, pcslConfigFile(text), {}, &why),
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
