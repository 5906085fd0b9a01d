// Key handling paths that need more than a key script: the real key scan,
// page offsets, the Enable key, defaults at panel setup, the name search,
// the refresh request, binary-only ButtonTypes, the entries of the menus,
// the preset toggle and chop records, held lock keys and what the Ethernet
// protocol makes of each request.

#include "config/panel_tables.h"
#include "control/menus.h"
#include "control/name_search.h"
#include "control/pages.h"
#include "control/refresh.h"
#include "key_harness.h"
#include "link/reliable.h"

#include <QTest>

using namespace keyharness;

namespace {

const QByteArray NAMES =
    "obj KnownSources() { obj Src(1) { sN=\"CAM 1\" } obj Src(2) { sN=\"CAM 2\" } obj Src(3) { sN=\"VTR 1\" }"
    " obj Src(4) { sN=\"VTR 2\" } obj Src(8) { sN=\"SAT\" sLeg=\"SAT 1\" } }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(3) { dN=\"TX\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n";

QByteArray keys(const QByteArray &buttons)
{
    return "obj Configsettings() { numSources=10 numDestinations=6 numLevels=3 }\n" + NAMES +
           "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n" + buttons + "} } }\n";
}

// Preset on key 5 (source 5), Take on key 7.
const QByteArray PRESET_TAKE = " obj Btn(5) { bT=\"Source Preset\" bV=6 } obj Btn(7) { bT=\"Take\" }\n";

// Gives slot `slot` a definition only a binary configuration can give.
void define(int slot, int type, int value)
{
    panel_tables()->type[slot] = uint8_t(type);
    panel_tables()->value[slot] = uint16_t(value);
    pg_evaluate();
}

std::vector<QByteArray> s_wire;

int captureWire(const uint8_t *d, int len, const uint8_t *)
{
    s_wire.push_back(QByteArray(reinterpret_cast<const char *>(d), len));
    return 1;
}

} // namespace

class TestKeyPaths : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase()
    {
        rreq_set_protocol(nullptr);
        msc_set_test_source(nullptr);
        panels_close_sockets();
    }

    void cleanup() { memset(plat_key_states(), 0, PLAT_KEY_COUNT); }

    // Through the key scan: a Take key held for seconds repeats, and takes
    // once.
    void heldTakeThroughTheKeyScan()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(PRESET_TAKE)));
        QVERIFY(runScript("K5"));
        plat_key_states()[6] = 1;
        const int repeats = tick(1200);
        plat_key_states()[6] = 0;
        tick(5);
        QVERIFY2(repeats > 50, qPrintable(QString::number(repeats)));
        QCOMPARE(requests(), QStringList{"1 5 0 1 2"});
        QCOMPARE(beeps(host), 0);
    }

    // Scroll and shift move the page offset of the group's keys within the
    // page's range; values past the tables are ignored.
    void scrollAndShift()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A",
                           keys(" obj Btn(1) { bT=\"Source\" bV=1 bP=1 } obj Btn(2) { bT=\"Source\" bV=2 bP=1 }\n"
                                " obj Btn(3) { bT=\"Source\" bV=3 bP=1 } obj Btn(4) { bT=\"Source\" bV=4 bP=1 }\n"
                                " obj Btn(5) { bT=\"Src Scroll Up\" bP=1 } obj Btn(6) { bT=\"Src Scroll Down\" bP=1 }\n"
                                " obj Btn(7) { bT=\"Src Shift\" bV=8 bP=1 } obj Btn(8) { bT=\"Destination\" bV=1 bP=1 }\n"
                                " obj Btn(9) { bT=\"Dst Scroll Down\" bV=5 bP=1 } obj Btn(10) { bT=\"Source\" bV=2 }\n")));
        const PageOffsets *p = pg_offsets(0, 1);
        QCOMPARE(int(p->src_step), 4);
        QCOMPARE(int(p->src_low), 0);
        QCOMPARE(int(p->src_high), 10);  // scroll-down value 0: the source count
        QCOMPARE(int(p->dst_step), 1);
        QCOMPARE(int(p->dst_high), 5);

        QVERIFY(runScript("K6 K1"));              // offset 4
        QVERIFY(runScript("K6 K1 K3"));           // offset 8: source 10 does not exist
        QVERIFY(runScript("K6"));                 // 12 is past the sources: stays 8
        QCOMPARE(int(p->src_offset), 8);
        QVERIFY(runScript("K10"));                // a fixed key has no offset
        QVERIFY(runScript("K5 K5 K5"));           // up, not below 0
        QCOMPARE(int(p->src_offset), 0);
        QVERIFY(runScript("K7 K2 K7 K2"));        // shift to 8 and back
        QVERIFY(runScript("K9 K8"));              // destination offset 1
        QCOMPARE(requests(), (QStringList{"1 4 0 1 2", "1 8 0 1 2", "1 1 0 1 2", "1 9 0 1 2", "1 1 0 1 2",
                                          "4 1 1 0 2"}));
        QCOMPARE(beeps(host), 0);
    }

    // A subpanel with an Enable key routes only while that key is held.
    void enableKey()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(" obj Btn(1) { bT=\"Enable\" } obj Btn(3) { bT=\"Source\" bV=4 }\n" +
                                           PRESET_TAKE)));
        QVERIFY(runScript("K3 K5 K7"));
        QCOMPARE(beeps(host), 2);
        QVERIFY(requests().isEmpty());
        plat_key_states()[0] = 1;
        QVERIFY(runScript("K3 K7"));
        QCOMPARE(requests(), (QStringList{"1 3 0 1 2", "1 5 0 1 2"}));
        QCOMPARE(beeps(host), 2);
        // Held Enable keys report no press: the key scan sees only holds.
        QCOMPARE(int(plat_key_first_pressed()), int(PLAT_NO_KEY));
    }

    // Panel setup puts every subpanel back to its defaults.
    void panelSetupResetsFromDefaults()
    {
        RecordingHost host;
        const QByteArray text = keys(PRESET_TAKE) +
                                "obj KnownSubpanels() { obj Subpanel(1) { defDest=3 defLvl=5 }"
                                " obj Subpanel(2) { defDest=2 defLvl=2 } obj Subpanel(8) { defDest=0 } }\n";
        QVERIFY(startPanel("SK1100A", text));
        QCOMPARE(int(ctl_subpanel(0)->dest), 2);
        QCOMPARE(int(ctl_subpanel(0)->level_mask), 5);
        QCOMPARE(int(ctl_subpanel(1)->dest), 1);
        QCOMPARE(int(ctl_subpanel(1)->level_mask), 2);
        QCOMPARE(int(ctl_subpanel(7)->dest), 0);
        QVERIFY(runScript("K5"));
        ctl_subpanel(0)->dest = 4;
        ctl_flags()->dest_mode = 1;
        ctl_flags()->take_error = 1;
        const QByteArray file = configFile(text);
        QVERIFY(cfgload_file_data(reinterpret_cast<const uint8_t *>(file.constData()), size_t(file.size())));
        QCOMPARE(int(ctl_subpanel(0)->dest), 2);
        QCOMPARE(int(ctl_subpanel(0)->preset), int(CTL_NONE));
        QCOMPARE(int(ctl_subpanel(0)->last_preset), int(CTL_NONE));
        QCOMPARE(ctl_subpanel(0)->preset_entry.text[0], '\0');
        QCOMPARE(int(ctl_flags()->dest_mode), 0);
        QCOMPARE(int(ctl_flags()->take_error), 0);
    }

    void nameSearch()
    {
        QVERIFY(startPanel("SK2000A", keys(QByteArray())));
        QCOMPARE(ns_search("CAM", NS_SOURCES, 1, 1, 0), 0);
        QCOMPARE(ns_search("CAM", NS_SOURCES, 1, 1, 1), 1);
        QCOMPARE(ns_search("CAM", NS_SOURCES, 1, 1, 2), int(NS_NOT_FOUND));
        QCOMPARE(ns_search("VTR", NS_SOURCES, 1, 0, 9), 3);
        QCOMPARE(ns_search("CAM", NS_SOURCES, 0, 1, 0), int(NS_NOT_FOUND));
        QCOMPARE(ns_search("CAM1", NS_SOURCES, 0, 1, 0), 0);
        QCOMPARE(ns_search(" C A M 2 ", NS_SOURCES, 0, 1, 0), 1);
        QCOMPARE(ns_search("SAT1", NS_SOURCES, 0, 0, 100), 7);   // the legend is the name shown
        QCOMPARE(ns_search("SAT", NS_SOURCES, 0, 1, 0), int(NS_NOT_FOUND));
        QCOMPARE(ns_search("Src-5", NS_SOURCES, 0, 1, 0), 4);    // unnamed: the default name
        QCOMPARE(ns_search("CAM1", NS_SOURCES, 0, 1, 10), int(NS_NOT_FOUND));
        QCOMPARE(ns_search("T", NS_DESTS, 1, 1, 0), 2);
        QCOMPARE(ns_search("TXX", NS_DESTS, 1, 1, 0), int(NS_NOT_FOUND));

        char text[CTL_TEXT_LEN];
        ns_copy(text, "A B C D E F G H I J K L M N O P Q");
        QCOMPARE(QByteArray(text), QByteArray("ABCDEFGHIJKLMNO"));
        ns_append(text, "Z");
        QCOMPARE(QByteArray(text), QByteArray("ABCDEFGHIJKLMNO"));
    }

    // Every handled key asks for a refresh; a key that changes nothing
    // because it is swallowed does not.
    void refreshRequests()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(PRESET_TAKE)));
        rf_take_request();
        QVERIFY(runScript("P5"));
        QCOMPARE(rf_take_request(), 1);
        QCOMPARE(rf_take_request(), 0);
        QVERIFY(runScript("R5"));
        QCOMPARE(rf_requested(), 0);
        ctl_flags()->swallow = 1;
        QVERIFY(runScript("P7"));
        QCOMPARE(rf_requested(), 0);
        QVERIFY(runScript("R7"));
        QCOMPARE(int(ctl_flags()->swallow), 0);
        QVERIFY(requests().isEmpty());
    }

    // ButtonTypes that only binary configurations give a key.
    void binaryOnlyTypes()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(QByteArray())));
        // Next / previous source: from the source now routed on the first
        // selected level; nothing while it is unknown.
        define(0, 50, 0);
        define(1, 49, 0);
        QVERIFY(runScript("K1"));
        QVERIFY(requests().isEmpty());
        fromRouter(".UV001,003\r");
        QVERIFY(runScript("K1 K2"));
        QCOMPARE(requests(), (QStringList{"1 3 0 1 2", "1 1 0 1 2"}));
        requests().clear();

        define(2, 23, 4);             // levels XOR 3
        define(3, 53, 2);             // destination 2 selected on a shared link
        define(4, 54, 3);             // the preset to destination 2
        define(5, 199, 0);            // key report
        define(6, 5, 0);              // numbers on display keys
        ctl_subpanel(0)->preset = 4;
        QVERIFY(runScript("K3 K4"));
        QCOMPARE(int(ctl_subpanel(0)->level_mask), 2);
        QVERIFY(runScript("K5 P6 A6*3 R6 K7"));
        QCOMPARE(requests(), (QStringList{"5 2 2 0 2", "1 4 2 2 2", "7 1 6 0 3", "7 2 6 0 3"}));
        QCOMPARE(int(ctl_flags()->number_mode), 1);
        QCOMPARE(beeps(host), 0);
    }

    // What reaches the wire: operations 5 and 7 have no Ethernet command.
    void ethernetProtocol()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(QByteArray())));
        rreq_set_protocol(nullptr);
        const rl_send_fn old = rl_set_send(captureWire);
        rl_reset();
        const uint8_t router[4] = {127, 0, 0, 1};
        rl_set_destination(router);
        s_wire.clear();
        routerRequest(ROP_SHARED_SELECT, 3, 1, 0, RPRIO_NORMAL);
        routerRequest(ROP_KEY_REPORT, 1, 4, 0, RPRIO_REPORT);
        QVERIFY(s_wire.empty());
        routerRequest(ROP_ROUTE, 5, 12, 3, RPRIO_NORMAL);
        rl_set_send(old);
        rreq_set_protocol(recordRequest);
        QCOMPARE(int(s_wire.size()), 1);
        QVERIFY2(s_wire[0].endsWith(".SVA013,006\r"), s_wire[0].toHex().constData());
    }

    // A Locks key of value 4 is a panel lock key: it still acts while the
    // panel lock is on, so the key that locked the panel can unlock it.
    void panelLockByLocksKey()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(QByteArray())));
        define(0, 13, 4);
        define(1, 13, 2);
        ctl_flags()->panel_lock = 1;
        QVERIFY(runScript("K2 K1 K2"));
        QCOMPARE(int(ctl_flags()->panel_lock), 0);
        QCOMPARE(requests(), QStringList{"2 0 1 0 2"});
        QCOMPARE(beeps(host), 1);
    }

    // Preset toggle: each take makes the replaced source the preset, so
    // the next take swaps back. Preset chop: a Take on the recorded
    // destination stops the chop instead of taking.
    void toggleAndChopRecords()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(PRESET_TAKE)));
        fromRouter(".UV001,002\r");
        SubpanelState *s = ctl_subpanel(0);
        s->toggle_preset = 1;
        QVERIFY(runScript("K5 K7"));
        QCOMPARE(int(s->preset), 1);
        QCOMPARE(QByteArray(s->preset_entry.text), QByteArray("CAM2"));
        fromRouter(".UV001,006\r");
        QVERIFY(runScript("K7"));
        QCOMPARE(int(s->preset), 5);
        QCOMPARE(requests(), (QStringList{"1 5 0 1 2", "1 1 0 1 2"}));
        requests().clear();

        s->toggle_preset = 0;
        s->chop_preset = 1;
        s->level_mask = 0x300;  // levels above the eighth are recorded too
        now() = 777000;
        QVERIFY(runScript("K7"));
        QCOMPARE(int(s->take_dest), 0);
        QCOMPARE(s->take_levels, 0x300u);
        QCOMPARE(s->take_time, 777010u);
        QVERIFY(runScript("K7"));
        QCOMPARE(int(s->take_dest), int(CTL_NONE));
        QCOMPARE(requests().size(), 1);
    }

    // A Locks key of value 5, 6 or 7 held during a take: the lock instead
    // of the route.
    void heldLockKeyTurnsTheTake()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK1100A", keys(PRESET_TAKE)));
        define(15, 13, 6);
        plat_key_states()[15] = 1;
        QVERIFY(runScript("K5 K7"));
        QCOMPARE(requests(), QStringList{"2 0 1 0 2"});
        // Locked now: a take without the held key is refused ...
        plat_key_states()[15] = 0;
        QVERIFY(runScript("K7"));
        QCOMPARE(beeps(host), 1);
        // ... until the held key's take unlocks it again.
        plat_key_states()[15] = 1;
        QVERIFY(runScript("K7"));
        plat_key_states()[15] = 0;
        QVERIFY(runScript("K7"));
        QCOMPARE(requests(), (QStringList{"2 0 1 0 2", "2 0 0 0 2", "1 5 0 1 2"}));
    }
};

QTEST_GUILESS_MAIN(TestKeyPaths)
#include "tst_key_paths.moc"
