// The key refreshers, table-driven over a configuration with one key of
// each ButtonType: the legend and colour of every type on an LCD-key model
// and the lamp of every type on a lamp-key model, each in the panel states
// that change it; then what the rules do over time (salvo and toggle
// timings, the interrogation of type 17, locate flashing, the setup menu
// drawing instead, the comms display giving the keys back) and how soon a
// tally shows when the loop runs.

#include "control/lamp_keys.h"
#include "control/lcd_keys.h"
#include "legend_harness.h"
#include "link/comms.h"

#include <QTest>

using namespace legendharness;

namespace {

int E(int entry)
{
    return 100 + entry;
}

// The panel of the model with the every-type configuration, its colour
// entries numbered, every key blank.
bool startEveryType(const char *model)
{
    if (!startPanel(model, EVERY_TYPE))
        return false;
    numberColours();
    return true;
}

// Runs loop passes as the firmware thread does, n times.
void loop(int n)
{
    for (int i = 0; i < n; ++i)
        panels_loop();
}

} // namespace

class TestKeyRules : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        panels_set_locate(0);
        ctl_flags()->setup_active = 0;
        requests().clear();
    }

    void lcdLegendAndColour_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QByteArray>("legend");
        QTest::addColumn<int>("colour");

        QTest::newRow("0 full: configured") << QByteArray() << 1 << true << QByteArray("FREE\nKEY") << E(0);
        QTest::newRow("0 not full: left") << QByteArray() << 1 << false << QByteArray() << E(0);
        QTest::newRow("1 off") << QByteArray() << 2 << false << QByteArray("PANEL\nLOCK") << E(6);
        QTest::newRow("1 on") << QByteArray("panellock") << 2 << false << QByteArray("PANEL\nLOCK") << E(7);
        QTest::newRow("2 configured") << QByteArray() << 3 << false << QByteArray("BACK") << E(15);
        QTest::newRow("9 page 2") << QByteArray() << 4 << false << QByteArray("SMenu\n2") << E(15);
        QTest::newRow("14 current page") << QByteArray() << 5 << false << QByteArray("Menu\n1") << E(16);
        QTest::newRow("14 other page") << QByteArray("page=1") << 5 << false << QByteArray("Menu\n1") << E(15);
        QTest::newRow("10 not routed") << QByteArray() << 6 << false << QByteArray("CAM 2") << E(0);
        QTest::newRow("10 routed") << QByteArray("xpt=V:1:2") << 6 << false << QByteArray("CAM 2") << E(1);
        QTest::newRow("10 other source routed") << QByteArray("xpt=V:1:3") << 6 << false << QByteArray("CAM 2") << E(0);
        QTest::newRow("10 routed on one of two levels") << QByteArray("mask=3 xpt=V:1:2") << 6 << false
                                                       << QByteArray("CAM 2") << E(18);
        QTest::newRow("10 routed on the other level") << QByteArray("mask=3 xpt=A:1:2") << 6 << false
                                                     << QByteArray("CAM 2") << E(20);
        QTest::newRow("10 routed on both levels") << QByteArray("mask=3 xpt=VA:1:2") << 6 << false
                                                 << QByteArray("CAM 2") << E(1);
        QTest::newRow("10 past the source count") << QByteArray("type=6:10:8") << 6 << false << QByteArray() << E(0);
        QTest::newRow("11 not selected") << QByteArray() << 7 << false << QByteArray("MON 2") << E(4);
        QTest::newRow("11 selected") << QByteArray("dest=2") << 7 << false << QByteArray("MON 2") << E(5);
        QTest::newRow("11 past the count") << QByteArray("type=7:11:6") << 7 << false << QByteArray() << E(4);
        QTest::newRow("55 selected") << QByteArray("type=47:55:2 dest=3") << 47 << false << QByteArray("TX") << E(5);
        QTest::newRow("12 not selected") << QByteArray() << 8 << false << QByteArray("Audio\n1") << E(19);
        QTest::newRow("12 selected") << QByteArray("mask=2") << 8 << false << QByteArray("Audio\n1") << E(20);
        QTest::newRow("12 undefined") << QByteArray("type=8:12:5") << 8 << false << QByteArray("LEVEL\n??") << E(27);
        QTest::newRow("41 selected") << QByteArray("type=47:41:0") << 47 << false << QByteArray("Video") << E(18);
        QTest::newRow("41 not selected") << QByteArray("type=47:41:0 mask=2") << 47 << false << QByteArray("Video")
                                         << E(17);
        QTest::newRow("13 dest off") << QByteArray() << 9 << false << QByteArray("LOCK\nDEST") << E(6);
        QTest::newRow("13 dest on") << QByteArray("local=1") << 9 << false << QByteArray("LOCK\nDEST") << E(7);
        QTest::newRow("13 dest lock of another") << QByteArray("local=2") << 9 << false << QByteArray("LOCK\nDEST")
                                                 << E(6);
        QTest::newRow("13 held dest") << QByteArray() << 10 << false << QByteArray("LOCK\nDEST\nhld") << E(7);
        QTest::newRow("13 sub") << QByteArray("type=47:13:0 sublock") << 47 << false << QByteArray("LOCK\nSUB") << E(7);
        QTest::newRow("13 sys") << QByteArray("type=47:13:2 lock=1:255") << 47 << false << QByteArray("LOCK\nSYS")
                                << E(7);
        QTest::newRow("13 sys off") << QByteArray("type=47:13:2 lock=1:1") << 47 << false << QByteArray("LOCK\nSYS")
                                    << E(6);
        QTest::newRow("13 prot") << QByteArray("type=47:13:3 lock=1:1") << 47 << false << QByteArray("LOCK\nPROT")
                                 << E(7);
        QTest::newRow("13 held sys") << QByteArray("type=47:13:6") << 47 << false << QByteArray("LOCK\nSYS\nhld")
                                     << E(7);
        QTest::newRow("13 held prot") << QByteArray("type=47:13:7") << 47 << false << QByteArray("LOCK\nPROT\nhld")
                                      << E(7);
        QTest::newRow("13 panel") << QByteArray("type=47:13:4 panellock") << 47 << false << QByteArray("LOCK\n-----")
                                  << E(7);
        QTest::newRow("13 other value") << QByteArray("type=47:13:9") << 47 << false << QByteArray("LOCK\n-----")
                                        << E(6);
        QTest::newRow("15 up arrow") << QByteArray() << 11 << false << QByteArray("#0") << E(15);
        QTest::newRow("16 up arrow") << QByteArray() << 30 << false << QByteArray("#0") << E(15);
        QTest::newRow("43 down arrow") << QByteArray() << 29 << false << QByteArray("#1") << E(15);
        QTest::newRow("44 down arrow") << QByteArray() << 12 << false << QByteArray("#1") << E(15);
        QTest::newRow("17 unknown") << QByteArray() << 13 << false << QByteArray() << E(0);
        QTest::newRow("17 known") << QByteArray("xpt=V:3:4") << 13 << false << QByteArray("VTR 2") << E(8);
        QTest::newRow("17 numbers") << QByteArray("xpt=V:3:4 numbers") << 13 << false << QByteArray("INPUT\n004")
                                    << E(8);
        QTest::newRow("18 none") << QByteArray() << 14 << false << QByteArray() << E(8);
        QTest::newRow("18 routed") << QByteArray("xpt=V:1:3") << 14 << false << QByteArray("VTR 1") << E(8);
        QTest::newRow("18 numbers") << QByteArray("xpt=V:1:3 numbers") << 14 << false << QByteArray("INPUT\n003")
                                    << E(8);
        QTest::newRow("19 name") << QByteArray("dest=4") << 15 << false << QByteArray("REC") << E(8);
        QTest::newRow("19 numbers") << QByteArray("numbers") << 15 << false << QByteArray("O/PUT\n001") << E(8);
        QTest::newRow("20 idle") << QByteArray() << 16 << false << QByteArray("SALVO") << E(13);
        QTest::newRow("20 held") << QByteArray("held=16 wait=10000") << 16 << false << QByteArray("SALVO") << E(14);
        QTest::newRow("20 just released") << QByteArray("released=16 wait=2999") << 16 << false
                                          << QByteArray("SALVO") << E(14);
        QTest::newRow("20 3 s after") << QByteArray("released=16 wait=3000") << 16 << false << QByteArray("SALVO")
                                      << E(13);
        QTest::newRow("22 full") << QByteArray() << 17 << true << QByteArray("ENAB") << E(15);
        QTest::newRow("22 not full") << QByteArray() << 17 << false << QByteArray() << E(15);
        QTest::newRow("22 held") << QByteArray("down=17") << 17 << true << QByteArray("ENAB") << E(3);
        QTest::newRow("24 not shifted") << QByteArray() << 18 << false << QByteArray("#1") << E(15);
        QTest::newRow("25 not shifted") << QByteArray() << 45 << false << QByteArray("#1") << E(15);
        QTest::newRow("26 not the preset") << QByteArray() << 19 << false << QByteArray("VTR 1") << E(2);
        QTest::newRow("26 the preset") << QByteArray("preset=3") << 19 << false << QByteArray("VTR 1") << E(3);
        QTest::newRow("26 past the count") << QByteArray("type=19:26:9") << 19 << false << QByteArray("PSRC\n??")
                                           << E(2);
        QTest::newRow("27 off") << QByteArray("type=47:27:0") << 47 << false << QByteArray("PROGM\nODE") << E(15);
        QTest::newRow("29 unknown source") << QByteArray() << 20 << false << QByteArray("TAKE") << E(15);
        QTest::newRow("29 routed source") << QByteArray("xpt=V:1:2") << 20 << false << QByteArray("TAKE\nCAM 2")
                                          << E(15);
        QTest::newRow("29 numbers") << QByteArray("xpt=V:1:2 numbers") << 20 << false << QByteArray("INPUT\n002")
                                    << E(15);
        QTest::newRow("30 level over source") << QByteArray("xpt=A:1:5") << 21 << false << QByteArray("Audio\nGFX")
                                              << E(15);
        QTest::newRow("30 undefined level") << QByteArray("type=21:30:7") << 21 << false
                                            << QByteArray("LEVEL\nTAKE") << E(15);
        QTest::newRow("31 no preset") << QByteArray() << 22 << false << QByteArray("PSRC\n??") << E(8);
        QTest::newRow("31 preset") << QByteArray("preset=4") << 22 << false << QByteArray("VTR 2") << E(8);
        QTest::newRow("33 string") << QByteArray() << 23 << false << QByteArray("CAMER\nA12") << E(15);
        QTest::newRow("34 string") << QByteArray() << 24 << false << QByteArray("VTR") << E(15);
        QTest::newRow("36 string") << QByteArray() << 26 << false << QByteArray("X") << E(15);
        QTest::newRow("35") << QByteArray() << 25 << false << QByteArray("Prst\nClear") << E(15);
        QTest::newRow("37") << QByteArray() << 27 << false << QByteArray("Del") << E(15);
        QTest::newRow("38") << QByteArray() << 28 << false << QByteArray("Dst\nTake") << E(15);
        QTest::newRow("47") << QByteArray() << 31 << false << QByteArray("PREV\nDEST") << E(15);
        QTest::newRow("48") << QByteArray() << 32 << false << QByteArray("NEXT\nDEST") << E(15);
        QTest::newRow("49") << QByteArray("type=47:49:0") << 47 << false << QByteArray("PREV\nSRCE") << E(15);
        QTest::newRow("50") << QByteArray("type=47:50:0") << 47 << false << QByteArray("NEXT\nSRCE") << E(15);
        QTest::newRow("51") << QByteArray() << 33 << false << QByteArray("PREV\nPSRC") << E(15);
        QTest::newRow("52") << QByteArray() << 34 << false << QByteArray("NEXT\nPSRC") << E(15);
        QTest::newRow("58 idle") << QByteArray() << 35 << false << QByteArray("Take\nClear") << E(13);
        QTest::newRow("58 recorded take") << QByteArray("takedest=2") << 35 << false << QByteArray("Take\nClear")
                                          << E(14);
        QTest::newRow("59") << QByteArray("destmode") << 36 << false << QByteArray("Dst\nMode") << E(15);
        QTest::newRow("60 no rule: blank") << QByteArray() << 37 << true << QByteArray() << E(0);
        QTest::newRow("61 no rule: blank") << QByteArray() << 46 << true << QByteArray() << E(0);
        QTest::newRow("63") << QByteArray() << 38 << false << QByteArray("TOGLE\n1\n2") << E(15);
        QTest::newRow("64") << QByteArray() << 39 << false << QByteArray("CHOP\n3\n4") << E(15);
        QTest::newRow("65") << QByteArray() << 40 << false << QByteArray("SETUP") << E(15);
        QTest::newRow("66 nothing known") << QByteArray() << 41 << false << QByteArray("MON 2") << E(8);
        QTest::newRow("66 over its source") << QByteArray("xpt=V:2:6") << 41 << false << QByteArray("MON 2\nBARS")
                                            << E(8);
        QTest::newRow("67 over a long name") << QByteArray("xpt=V:1:8") << 42 << false
                                             << QByteArray("MON 1\nSATEL\nLITE1") << E(8);
        QTest::newRow("68 off") << QByteArray() << 43 << false << QByteArray("TOGGL\nPRSET") << E(15);
        QTest::newRow("68 on") << QByteArray("togglepreset") << 43 << false << QByteArray("TOGGL\nPRSET") << E(16);
        QTest::newRow("69 on") << QByteArray("choppreset") << 44 << false << QByteArray("CHOP\nPRSET") << E(16);
        QTest::newRow("3") << QByteArray("type=47:3:0") << 47 << false << QByteArray("TAKE\nSNAP") << E(13);
        QTest::newRow("4") << QByteArray("type=47:4:0") << 47 << false << QByteArray("PLAY\nSNAP") << E(13);
        QTest::newRow("5 off") << QByteArray("type=47:5:0") << 47 << false << QByteArray("Ip/Op\nMODE") << E(15);
        QTest::newRow("5 on") << QByteArray("type=47:5:0 numbers") << 47 << false << QByteArray("Ip/Op\nMODE")
                              << E(16);
        QTest::newRow("42 empty list") << QByteArray("type=47:42:0") << 47 << false << QByteArray() << E(8);
        QTest::newRow("42 first entry") << QByteArray("type=47:42:0 xpt=V:2:2 xpt=V:4:2 list=0:1") << 47 << false
                                        << QByteArray("MON 2") << E(8);
        QTest::newRow("42 second entry") << QByteArray("type=47:42:1 xpt=V:2:2 xpt=V:4:2 list=0:1") << 47 << false
                                         << QByteArray("REC") << E(8);
        QTest::newRow("199 as the router set") << QByteArray("type=47:199:0 routerkey=47:51:1") << 47 << false
                                               << QByteArray("ROUTE\nRKEY1") << 51;
        QTest::newRow("200 full: blank") << QByteArray("type=47:200:0") << 47 << true << QByteArray() << E(0);
    }

    void lcdLegendAndColour()
    {
        QFETCH(QByteArray, state);
        QFETCH(int, key);
        QFETCH(bool, full);
        QFETCH(QByteArray, legend);
        QFETCH(int, colour);
        RecordingHost host;
        QVERIFY(startEveryType("SK1500A"));
        QVERIFY(setState(state));
        redraw(key, full);
        int have = -1;
        QCOMPARE(shown(key, &have), legend);
        QCOMPARE(have, colour);
        // Drawn again with nothing changed: nothing more is sent.
        host.take();
        redraw(key, full);
        QVERIFY(host.take().empty());
    }

    void lampState_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QByteArray>("lamp");

        QTest::newRow("0 full: off") << QByteArray() << 1 << true << QByteArray("off");
        QTest::newRow("0 not full: left") << QByteArray() << 1 << false << QByteArray("-");
        QTest::newRow("1 off") << QByteArray() << 2 << false << QByteArray("off");
        QTest::newRow("1 on") << QByteArray("panellock") << 2 << false << QByteArray("on");
        QTest::newRow("2 no rule, full") << QByteArray() << 3 << true << QByteArray("off");
        QTest::newRow("10 not routed") << QByteArray() << 6 << false << QByteArray("off");
        QTest::newRow("10 routed") << QByteArray("xpt=V:1:2") << 6 << false << QByteArray("on");
        QTest::newRow("10 not the main source") << QByteArray("mask=3 xpt=V:1:3 xpt=A:1:2") << 6 << false
                                                << QByteArray("flash");
        QTest::newRow("10 main source on both") << QByteArray("mask=3 xpt=VA:1:2") << 6 << false << QByteArray("on");
        QTest::newRow("10 on a level not selected") << QByteArray("xpt=A:1:2") << 6 << false << QByteArray("off");
        QTest::newRow("11 not selected") << QByteArray() << 7 << false << QByteArray("off");
        QTest::newRow("11 selected") << QByteArray("dest=2") << 7 << false << QByteArray("on");
        QTest::newRow("12 not in the mask") << QByteArray() << 8 << false << QByteArray("off");
        QTest::newRow("12 in the mask") << QByteArray("mask=2") << 8 << false << QByteArray("on");
        QTest::newRow("41 in the mask") << QByteArray("type=47:41:0") << 47 << false << QByteArray("on");
        QTest::newRow("13 dest off") << QByteArray() << 9 << false << QByteArray("off");
        QTest::newRow("13 dest on") << QByteArray("local=1") << 9 << false << QByteArray("on");
        QTest::newRow("13 held kinds") << QByteArray() << 10 << false << QByteArray("on");
        QTest::newRow("13 prot") << QByteArray("type=47:13:3 lock=1:1") << 47 << false << QByteArray("on");
        QTest::newRow("17 no rule, not full") << QByteArray("xpt=V:3:4") << 13 << false << QByteArray("-");
        QTest::newRow("20 idle") << QByteArray() << 16 << false << QByteArray("off");
        QTest::newRow("20 held") << QByteArray("held=16") << 16 << false << QByteArray("on");
        QTest::newRow("20 2999 ms after") << QByteArray("released=16 wait=2999") << 16 << false << QByteArray("on");
        QTest::newRow("20 3000 ms after") << QByteArray("released=16 wait=3000") << 16 << false << QByteArray("off");
        QTest::newRow("24 not shifted") << QByteArray() << 18 << false << QByteArray("off");
        QTest::newRow("26 not the preset") << QByteArray() << 19 << false << QByteArray("off");
        QTest::newRow("26 the preset") << QByteArray("preset=3") << 19 << false << QByteArray("on");
        QTest::newRow("29 other models: off") << QByteArray("local=1") << 20 << false << QByteArray("off");
        QTest::newRow("58 other models: off") << QByteArray("local=1") << 35 << false << QByteArray("off");
        QTest::newRow("38 off") << QByteArray("destmode") << 28 << false << QByteArray("off");
        QTest::newRow("59 off") << QByteArray() << 36 << false << QByteArray("off");
        QTest::newRow("59 destination mode") << QByteArray("destmode") << 36 << false << QByteArray("on");
        QTest::newRow("60 no entry") << QByteArray() << 37 << false << QByteArray("off");
        QTest::newRow("60 its entry") << QByteArray("category=37") << 37 << false << QByteArray("on");
        QTest::newRow("61 another's entry") << QByteArray("category=37") << 46 << false << QByteArray("off");
        QTest::newRow("63 idle") << QByteArray() << 38 << false << QByteArray("off");
        QTest::newRow("63 held") << QByteArray("held=38") << 38 << false << QByteArray("on");
        QTest::newRow("63 499 ms after") << QByteArray("released=38 wait=499") << 38 << false << QByteArray("on");
        QTest::newRow("63 500 ms after") << QByteArray("released=38 wait=500") << 38 << false << QByteArray("off");
        QTest::newRow("64 not chopping") << QByteArray() << 39 << false << QByteArray("off");
        QTest::newRow("66 not selected") << QByteArray() << 41 << false << QByteArray("off");
        QTest::newRow("66 selected") << QByteArray("dest=2") << 41 << false << QByteArray("on");
        QTest::newRow("67 selected") << QByteArray() << 42 << false << QByteArray("on");
        QTest::newRow("68 on") << QByteArray("togglepreset") << 43 << false << QByteArray("on");
        QTest::newRow("69 off") << QByteArray() << 44 << false << QByteArray("off");
        QTest::newRow("69 on") << QByteArray("choppreset") << 44 << false << QByteArray("on");
        QTest::newRow("199 on") << QByteArray("type=47:199:0 routerkey=47:0:1") << 47 << false << QByteArray("on");
        QTest::newRow("199 off") << QByteArray("type=47:199:0 routerkey=47:0:0") << 47 << false << QByteArray("off");
        QTest::newRow("200 full") << QByteArray("type=47:200:0") << 47 << true << QByteArray("off");
    }

    // SK2100A: lamp keys, green when on, grey when off, flashing green.
    void lampState()
    {
        QFETCH(QByteArray, state);
        QFETCH(int, key);
        QFETCH(bool, full);
        QFETCH(QByteArray, lamp);
        RecordingHost host;
        QVERIFY(startEveryType("SK2100A"));
        host.take();
        QVERIFY(setState(state));
        redraw(key, full);
        QCOMPARE(lampOf(host.take(), key), lamp);
    }

    // Take keys' lamps on the SK2000A show the destination locked; its
    // extra lamp (in key 9) shows the destination of that key locked or
    // protected.
    void sk2000aTakeAndExtraLamps()
    {
        RecordingHost host;
        QVERIFY(startEveryType("SK2000A"));
        QCOMPARE(lamp_extra_base(), 8);
        host.take();
        // A Take key among the red lamps (keys 16 and above are white).
        QVERIFY(setState("type=5:29:0"));
        redraw(5, false);
        QCOMPARE(lampOf(host.take(), 5), QByteArray("off"));
        QVERIFY(setState("lock=1:255"));
        redraw(5, false);
        QCOMPARE(lampOf(host.take(), 5), QByteArray("on"));

        // Key 9 is a Locks key: it stands for the selected destination.
        lamp_refresh_extra();
        QCOMPARE(host.take(), (std::vector<QByteArray>{buttondriver::makeColor(9, 0xC0, 0xCF, 0xC0)}));
        QVERIFY(setState("lock=1:0"));
        lamp_refresh_extra();
        QCOMPARE(host.take(), (std::vector<QByteArray>{buttondriver::makeColor(9, 0xCC, 0xCC, 0xCC)}));
        // A model without extra lamps has none to set.
        QVERIFY(startEveryType("SK2100A"));
        host.take();
        lamp_refresh_extra();
        QVERIFY(host.take().empty());
        QCOMPARE(lamp_extra_base(), -1);
    }

    // A current-source display key asks the router once while its source
    // is unknown and levels are selected, and again after the routing was
    // forgotten.
    void currentSourceInterrogatesOnce()
    {
        RecordingHost host;
        QVERIFY(startEveryType("SK1500A"));
        StdoutCapture out;
        redraw(13, false);
        redraw(13, false);
        QCOMPARE(requests(), QStringList{QStringLiteral("4 2 1 0 1")});
        QVERIFY(setState("xpt=V:3:4"));
        redraw(13, false);
        rcmd_clear_state();
        redraw(13, false);
        redraw(13, false);
        QCOMPARE(requests().size(), 2);
        // No levels: nothing to ask for.
        requests().clear();
        rcmd_clear_state();
        lk_panel_setup();
        QVERIFY(setState("mask=0"));
        redraw(13, false);
        QVERIFY(requests().isEmpty());
        QCOMPARE(out.text().count("sending interrogate for src dest display button\n"), 2);
    }

    // Locate: every LCD key shows only a colour, entry 14 while the flash
    // phase is on and 13 while it is off; every lamp flashes in the on
    // phase. The phase changes at most every 500 ms of scheduler steps.
    void locateFlashPhase()
    {
        RecordingHost host;
        QVERIFY(startEveryType("SK1500A"));
        redraw(6, false);
        QVERIFY(setState("locate"));
        // Put the phase on.
        now() += RF_FLASH_MS;
        rf_flash_step();
        if (!rf_flash_phase()) {
            now() += RF_FLASH_MS;
            rf_flash_step();
        }
        QVERIFY(rf_flash_phase());
        int colour = -1;
        redraw(6, false);
        QCOMPARE(shown(6, &colour), QByteArray("CAM 2"));
        QCOMPARE(colour, E(14));
        now() += RF_FLASH_MS - 1;
        rf_flash_step();
        QVERIFY(rf_flash_phase());
        now() += 1;
        rf_flash_step();
        QVERIFY(!rf_flash_phase());
        redraw(6, false);
        shown(6, &colour);
        QCOMPARE(colour, E(13));

        QVERIFY(startEveryType("SK2100A"));
        host.take();
        QVERIFY(setState("locate"));
        redraw(6, false);
        QCOMPARE(lampOf(host.take(), 6), QByteArray("off"));
        now() += RF_FLASH_MS;
        rf_flash_step();
        redraw(6, false);
        QCOMPARE(lampOf(host.take(), 6), QByteArray("flash"));
    }

    // While the setup menu is active it draws the keys instead of the
    // refresher.
    void setupMenuDrawsInstead()
    {
        RecordingHost host;
        QVERIFY(startEveryType("SK1500A"));
        host.take();
        ctl_flags()->setup_active = 1;
        for (int k = 1; k <= 48; ++k)
            redraw(k, true);
        QCOMPARE(shown(2), QByteArray("Mask\nSetup"));
        QCOMPARE(shown(20), QByteArray(""));
        ctl_flags()->setup_active = 0;
        redraw(2, true);
        QCOMPARE(shown(2), QByteArray("PANEL\nLOCK"));
    }

    // The scheduler: the redraw-all of a configuration load is a full
    // round from the first key; a refresh request from key handling is a
    // full round from where the scheduler is, so requests coming faster
    // than a round still let it reach every key; a round with nothing
    // changed sends nothing.
    void fullRefreshRound()
    {
        RecordingHost host;
        QVERIFY(startEveryType("SK1500A"));
        loop(2);
        QVERIFY(!host.take().empty());
        QCOMPARE(shown(1), QByteArray("FREE\nKEY"));
        QVERIFY(!rf_redraw_all());
        loop(4);
        QVERIFY(host.take().empty());

        // The type-0 key is drawn again only in a full refresh.
        lcd_blank_key(1);
        host.take();
        loop(2);
        QCOMPARE(shown(1), QByteArray());
        rf_request();
        comms_refresh_step();
        QVERIFY(rf_redraw_all());
        loop(2);
        QCOMPARE(shown(1), QByteArray("FREE\nKEY"));
        QVERIFY(!rf_redraw_all());
        QCOMPARE(host.take(), (std::vector<QByteArray>{buttondriver::makeText(1, "FREE\nKEY", 0)}));

        // 80 lamp keys: a request before every pass (a key repeating), and
        // the last key still shows its new state within a round.
        QVERIFY(startEveryType("SK2100A"));
        loop(4);
        QVERIFY(setState("type=80:11:1"));
        loop(4);
        host.take();
        ctl_subpanel(0)->dest = 1;
        for (int i = 0; i < 4; ++i) {
            rf_request();
            loop(1);
        }
        QCOMPARE(lampOf(host.take(), 80), QByteArray("on"));
    }

    // A tally reaches the source keys' colours within ceil(buttons / 25)
    // loop passes, and nothing else is sent: 48 LCD keys in 2 passes, 80
    // lamp keys in 4.
    void tallyWithinTicks_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("passes");
        QTest::newRow("SK1500A") << QByteArray("SK1500A") << 2;
        QTest::newRow("SK2100A") << QByteArray("SK2100A") << 4;
    }

    void tallyWithinTicks()
    {
        QFETCH(QByteArray, model);
        QFETCH(int, passes);
        RecordingHost host;
        QVERIFY(startEveryType(model.constData()));
        const bool lamps = model == "SK2100A";
        fromRouter(".UV001,003\r");
        loop(passes + 1);
        host.take();

        // Source 2 (key 6) now, source 3 before: key 6 lights; keys 14, 20
        // and 42 show the routed source by name.
        fromRouter(".UV001,002\r");
        loop(passes - 1);
        std::vector<QByteArray> early = host.take();
        loop(1);
        std::vector<QByteArray> r = host.take();
        r.insert(r.begin(), early.begin(), early.end());
        if (lamps) {
            QCOMPARE(lampOf(r, 6), QByteArray("on"));
            QCOMPARE(int(r.size()), 1);
        } else {
            using namespace buttondriver;
            // Entry 1's code (101) is no colour of the palette: magenta.
            QCOMPARE(r, (std::vector<QByteArray>{makeColor(6, 255, 0, 255), makeText(14, "CAM 2", 0),
                                                 makeText(20, "TAKE\nCAM 2", 0), makeText(42, "MON 1\nCAM 2", 0)}));
        }
        loop(passes);
        QVERIFY(host.take().empty());
    }

    // The comms display draws over some LCD keys; when the panel is back
    // online those keys show their own legends and colours again.
    void commsDisplayGivesKeysBack()
    {
        RecordingHost host;
        QVERIFY(startEveryType("SK1500A"));
        loop(2);
        QCOMPARE(shown(2), QByteArray("PANEL\nLOCK"));
        comms_set_state(COMMS_OFFLINE, 6);
        QCOMPARE(shown(2), QByteArray("Panel"));
        // A configuration loaded while offline redraws every button; the
        // comms display stays, nothing is drawn over it.
        loop(2);
        host.take();
        panels_refresh_all_buttons();
        loop(2);
        QVERIFY(host.take().empty());
        comms_panel_setup();
        numberColours();
        loop(2);
        int colour = -1;
        QCOMPARE(shown(2, &colour), QByteArray("PANEL\nLOCK"));
        QCOMPARE(colour, E(6));
        const std::vector<QByteArray> r = host.take();
        QVERIFY(std::find(r.begin(), r.end(), buttondriver::makeText(2, "PANEL\nLOCK", 0)) != r.end());
    }
};

QTEST_GUILESS_MAIN(TestKeyRules)
#include "tst_key_rules.moc"
