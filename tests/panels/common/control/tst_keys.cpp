// The key handler, table-driven: a configuration, the panel state a row
// starts from, a key script, and what must follow: the router requests,
// the number of error beeps, a diagnostic line and the state left behind.

#include "config/panel_tables.h"
#include "control/displays.h"
#include "control/pages.h"
#include "key_harness.h"

#include <QTest>

using namespace keyharness;

namespace {

const QByteArray ROUTER_NAMES =
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } obj Level(2) { lN=\"Audio1\" }"
    " obj Level(3) { lN=\"Audio2\" } }\n"
    "obj KnownSources() { obj Src(1) { sN=\"CAM 1\" } obj Src(2) { sN=\"CAM 2\" } obj Src(3) { sN=\"VTR 1\" }"
    " obj Src(4) { sN=\"VTR 2\" } obj Src(5) { sN=\"GFX\" } obj Src(6) { sN=\"BARS\" }"
    " obj Src(7) { sN=\"BLACK\" } obj Src(8) { sN=\"SAT\" sLeg=\"SAT 1\" } }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(2) { dN=\"MON 2\" }"
    " obj Dst(3) { dN=\"TX\" } obj Dst(4) { dN=\"REC\" } obj Dst(5) { dN=\"EDIT\" } obj Dst(6) { dN=\"QC\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n";

// An LCD-key model: keys select, route and take by number.
QByteArray lcdConfig()
{
    return "obj Configsettings() { numSources=8 numDestinations=6 numLevels=3 }\n" + ROUTER_NAMES +
           "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
           " obj Btn(1) { bT=\"Destination\" bV=2 } obj Btn(2) { bT=\"Destination\" bV=3 }\n"
           " obj Btn(3) { bT=\"Source\" bV=4 } obj Btn(4) { bT=\"Source\" bV=5 }\n"
           " obj Btn(5) { bT=\"Source Preset\" bV=6 } obj Btn(6) { bT=\"Source Preset\" bV=7 }\n"
           " obj Btn(7) { bT=\"Take\" } obj Btn(8) { bT=\"Level\" bV=1 } obj Btn(9) { bT=\"Level\" bV=2 }\n"
           " obj Btn(10) { bT=\"Next Destination\" bV=4 } obj Btn(11) { bT=\"Previous Destination\" bV=2 }\n"
           " obj Btn(12) { bT=\"Take Level Preset\" bV=2 } obj Btn(13) { bT=\"Take Clear\" }\n"
           " obj Btn(14) { bT=\"Panel Lock\" } obj Btn(15) { bT=\"Dest Src Take\" bV=5 }\n"
           " obj Btn(16) { bT=\"System Salvo\" bV=3 } } } }\n";
}

// A name-entry model: takes resolve the name typed on the string keys.
QByteArray nameConfig()
{
    return "obj Configsettings() { numSources=8 numDestinations=6 numLevels=3 }\n" + ROUTER_NAMES +
           "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
           " obj Btn(1) { bT=\"Destination\" bV=1 } obj Btn(2) { bT=\"Destination\" bV=2 }\n"
           " obj Btn(3) { bT=\"Add String\" bV=\"CAM\" }\n"
           " obj Btn(4) { bT=\"Add String/Character\" bV=\"VTR\" bL=\"1\" }\n"
           " obj Btn(6) { bT=\"Append String\" bV=\" 2\" } obj Btn(7) { bT=\"Take\" }\n"
           " obj Btn(8) { bT=\"Destination Mode\" } obj Btn(9) { bT=\"Destination Take\" }\n"
           " obj Btn(10) { bT=\"Delete Last Character\" } obj Btn(11) { bT=\"Preset Clear\" }\n"
           " obj Btn(12) { bT=\"Source Preset\" bV=3 } obj Btn(13) { bT=\"Level\" bV=1 }\n"
           " obj Btn(14) { bT=\"Next Source Preset\" bV=7 } obj Btn(15) { bT=\"Prev Source Preset\" bV=2 }\n"
           " obj Btn(16) { bT=\"Add String\" bV=\"MON\" } obj Btn(17) { bT=\"Take Clear\" }\n"
           " obj Btn(18) { bT=\"Add String\" bV=\"TX\" } obj Btn(19) { bT=\"Add String\" bV=\"CAMERA12345\" }\n"
           " obj Btn(20) { bT=\"Dest Src Take\" bV=3 } obj Btn(21) { bT=\"Add String\" bV=\"SAT 1\" }\n"
           " } } }\n";
}

// The name-entry model with two sources of one name, spaces aside: source
// 7 is "CAM1" beside source 1 "CAM 1", preset by key 22.
QByteArray sameNamesConfig()
{
    return nameConfig() + "obj KnownSources() { obj Src(7) { sN=\"CAM1\" } }\n"
                          "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
                          " obj Btn(22) { bT=\"Source Preset\" bV=7 } } } }\n";
}

// Paged keys written out of key order: the first menu has keys 5 and 2 in
// group 1 (5 written first, and marked twice) and key 7 in group 2; the
// second menu gives them their page-2 definitions.
QByteArray pagedConfig()
{
    return "obj Configsettings() { numSources=60 numDestinations=8 numLevels=3 }\n"
           "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
           "obj KnownMenus() {\n"
           " obj Menu(1) { obj MenuButtons() {\n"
           "  obj Btn(5) { bT=\"Source\" bV=5 bP=1 bP=1 } obj Btn(2) { bT=\"Source\" bV=2 bP=1 }\n"
           "  obj Btn(7) { bT=\"Destination\" bV=7 bP=2 } } }\n"
           " obj Menu(2) { obj MenuButtons() {\n"
           "  obj Btn(2) { bT=\"Source\" bV=20 } obj Btn(5) { bT=\"Source\" bV=50 }\n"
           "  obj Btn(7) { bT=\"Destination\" bV=4 } } } }\n";
}

// Keys whose single action a row looks at (LCD-key model with 48 keys).
// Keys 5 and 6 select destinations 2 and 3 on the page of paging group 1,
// which keys 7, 8 and 9 scroll and shift; keys 12 and up are free except
// where a row gives one a definition of its own.
QByteArray actionsConfig()
{
    return "obj Configsettings() { numSources=8 numDestinations=8 numLevels=3 }\n" + ROUTER_NAMES +
           "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
           " obj Btn(1) { bT=\"Source Preset\" bV=3 } obj Btn(2) { bT=\"Next Source Preset\" bV=8 }\n"
           " obj Btn(3) { bT=\"Take\" } obj Btn(4) { bT=\"Level\" bV=2 } obj Btn(13) { bT=\"Level\" bV=1 }\n"
           " obj Btn(5) { bT=\"Destination\" bV=3 bP=1 } obj Btn(6) { bT=\"Destination\" bV=4 bP=1 }\n"
           " obj Btn(7) { bT=\"Dst Scroll Down\" bP=1 } obj Btn(8) { bT=\"Dst Scroll Up\" bP=1 }\n"
           " obj Btn(9) { bT=\"Dst Shift\" bV=4 bP=1 } obj Btn(10) { bT=\"Dest Src Display\" bV=6 }\n"
           " obj Btn(11) { bT=\"No Such Function\" } obj Btn(15) { bL=\"ALT\" bP=1 } } } }\n";
}

// Take keys under the displays of the menu models: keys 1 to 8 are the
// keys under displays 1 to 8 (key 5 a level take of level 2), key 9
// presets VTR 1, key 10 is a Take key past the displays and key 11
// selects destination 1.
QByteArray displayConfig(const QByteArray &displays)
{
    return "obj Configsettings() { numSources=8 numDestinations=6 numLevels=3 }\n" + ROUTER_NAMES +
           "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
           " obj Btn(1) { bT=\"Take\" } obj Btn(2) { bT=\"Take\" } obj Btn(3) { bT=\"Take\" }\n"
           " obj Btn(4) { bT=\"Take\" } obj Btn(5) { bT=\"Take Level Preset\" bV=2 }\n"
           " obj Btn(6) { bT=\"Take\" } obj Btn(7) { bT=\"Take\" } obj Btn(8) { bT=\"Take\" }\n"
           " obj Btn(9) { bT=\"Source Preset\" bV=3 } obj Btn(10) { bT=\"Take\" }\n"
           " obj Btn(11) { bT=\"Destination\" bV=2 } } } }\n" + displays;
}

// Displays 1, 5, 8 and 10 show fixed destinations 3, 4, 5 and 2 (disDest
// is 1-based); display 2 shows subpanel 1's selected destination; display
// 3 has no destination and display 4 shows a source.
const QByteArray DISPLAYS =
    "obj KnownDisplays() { obj Display(1) { disType=6 disDest=4 } obj Display(2) { disType=1 disDest=1 }\n"
    " obj Display(3) { disType=6 disDest=0 } obj Display(4) { disType=3 disDest=1 }\n"
    " obj Display(5) { disType=6 disDest=5 } obj Display(8) { disType=6 disDest=6 }\n"
    " obj Display(10) { disType=6 disDest=3 } }\n";

// The same, but the first display shows a source (type 3).
const QByteArray DISPLAYS_FIRST_TYPE_3 =
    "obj KnownDisplays() { obj Display(1) { disType=3 disDest=1 } obj Display(8) { disType=6 disDest=6 } }\n";

// Panel state before the script.
bool applySetup(const QByteArray &setup)
{
    SubpanelState *s = ctl_subpanel(0);
    PanelFlags *f = ctl_flags();
    for (const QByteArray &tok : setup.split(' ')) {
        if (tok.isEmpty())
            continue;
        const int eq = tok.indexOf('=');
        const QByteArray name = eq < 0 ? tok : tok.left(eq);
        const QByteArray arg = eq < 0 ? QByteArray() : tok.mid(eq + 1);
        const int n = arg.toInt();
        char text[32];
        if (name == "sublock") {
            s->locked = 1;
        } else if (name == "panellock") {
            f->panel_lock = 1;
        } else if (name == "destmode") {
            f->dest_mode = 1;
        } else if (name == "mask") {
            s->level_mask = uint32_t(n);
        } else if (name == "dlock") {     // locked at the router (1-based)
            snprintf(text, sizeof text, ".BL%03d\r", n);
            fromRouter(text);
        } else if (name == "dprot") {     // protected at the router
            snprintf(text, sizeof text, ".BA%03d,1\r", n);
            fromRouter(text);
        } else if (name == "local") {     // locked by this panel
            ds_set_local_lock(n - 1, 1);
        } else if (name == "page") {
            const QList<QByteArray> pages = arg.split(',');
            ctl_pages()->primary = uint8_t(pages.value(0).toInt());
            ctl_pages()->secondary = uint8_t(pages.value(1).toInt());
            pg_evaluate();
        } else if (name == "offline") {
            comms_set_state(COMMS_OFFLINE, 6);
        } else if (name == "takemode") {
            panel_tables()->take_mode = uint16_t(n);
        } else if (name == "fixed") {     // the fixed take destination (0-based)
            panel_tables()->fixed_take_dest = uint16_t(n);
        } else if (name == "define") {    // key:type:value, a binary-only definition
            const QList<QByteArray> f = arg.split(':');
            const int slot = f.value(0).toInt() - 1;
            if (f.size() != 3 || slot < 0 || slot >= PT_KEYS)
                return false;
            panel_tables()->type[slot] = uint8_t(f[1].toInt());
            panel_tables()->value[slot] = uint16_t(f[2].toInt());
            pg_evaluate();
        } else if (name == "list") {      // a destination list key (key 16)
            panel_tables()->type[15] = 42;
            pg_evaluate();
        } else if (name == "xpt") {       // level letter:destination:source, 1-based
            const QList<QByteArray> f = arg.split(':');
            if (f.size() != 3)
                return false;
            snprintf(text, sizeof text, ".U%s%03d,%03d\r", f[0].constData(), f[1].toInt(), f[2].toInt());
            fromRouter(text);
        } else if (name == "locate") {
            panels_set_locate(1);
        } else {
            return false;
        }
    }
    return true;
}

QString checkState(const QByteArray &checks)
{
    const SubpanelState *s = ctl_subpanel(0);
    const PanelFlags *f = ctl_flags();
    for (const QByteArray &tok : checks.split(' ')) {
        if (tok.isEmpty())
            continue;
        const int eq = tok.indexOf('=');
        const QByteArray name = tok.left(eq);
        const QByteArray want = tok.mid(eq + 1);
        QByteArray have;
        if (name == "preset")
            have = s->preset == CTL_NONE ? "none" : QByteArray::number(s->preset);
        else if (name == "dest")
            have = QByteArray::number(s->dest);
        else if (name == "mask")
            have = QByteArray::number(s->level_mask);
        else if (name == "text")
            have = s->preset_entry.text;
        else if (name == "desttext")
            have = s->dest_entry.text;
        else if (name == "take_error")
            have = QByteArray::number(f->take_error);
        else if (name == "dest_error")
            have = QByteArray::number(f->dest_error);
        else if (name == "destmode")
            have = QByteArray::number(f->dest_mode);
        else if (name == "locate")
            have = QByteArray::number(panels_locate());
        else if (name == "panellock")
            have = QByteArray::number(f->panel_lock);
        else if (name == "setup")
            have = QByteArray::number(f->setup_active);
        else if (name == "dstoffset")
            have = QByteArray::number(s->pages[0].dst_offset);
        else if (name == "list") {
            QList<QByteArray> listed;
            for (int i = 0; i < ds_list_count(); ++i)
                listed.append(QByteArray::number(ds_list()[i]));
            have = listed.join(',');
        }
        else
            return QStringLiteral("unknown check %1").arg(QString::fromLatin1(name));
        if (have != want)
            return QStringLiteral("%1: have \"%2\", want \"%3\"")
                .arg(QString::fromLatin1(name), QString::fromLatin1(have), QString::fromLatin1(want));
    }
    return QString();
}

} // namespace

class TestKeys : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase()
    {
        rreq_set_protocol(nullptr);
        msc_set_test_source(nullptr);
        panels_close_sockets();
    }

    void keyHandler_data()
    {
        QTest::addColumn<QByteArray>("config");   // lcd, name, same or paged
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("sent");    // "op a b c priority"
        QTest::addColumn<int>("beeps");
        QTest::addColumn<QByteArray>("log");      // a line printed, or empty
        QTest::addColumn<QByteArray>("state");    // name=value checks

        const QByteArray none;
        // Selecting and routing by key (LCD model; subpanel 1 starts on
        // destination 0, level 0).
        QTest::newRow("source with no level sends nothing")
            << QByteArray("lcd") << QByteArray("mask=0") << QByteArray("K3") << QStringList() << 0 << none << none;
        QTest::newRow("destination then source routes")
            << QByteArray("lcd") << none << QByteArray("K1 K3")
            << QStringList{"4 1 1 0 2", "1 3 1 1 2"} << 0 << none << QByteArray("dest=1 desttext=MON2");
        QTest::newRow("preset then take")
            << QByteArray("lcd") << none << QByteArray("K5 K7") << QStringList{"1 5 0 1 2"} << 0 << none
            << QByteArray("preset=5 text=BARS");
        QTest::newRow("preset pressed twice clears it")
            << QByteArray("lcd") << none << QByteArray("K5 K5 K7") << QStringList() << 0 << none
            << QByteArray("preset=none text=");
        QTest::newRow("next destination wraps at its bound")
            << QByteArray("lcd") << none << QByteArray("K2 K10 K10")
            << QStringList{"4 2 1 0 2", "4 3 1 0 2", "4 1 1 0 2"} << 0 << none << QByteArray("dest=1");
        QTest::newRow("previous destination wraps at its bound")
            << QByteArray("lcd") << none << QByteArray("K1 K11") << QStringList{"4 1 1 0 2", "4 3 1 0 2"} << 0
            << none << QByteArray("dest=3");
        QTest::newRow("held take takes once")
            << QByteArray("lcd") << none << QByteArray("K5 P7 A7*40 R7") << QStringList{"1 5 0 1 2"} << 0 << none
            << none;
        QTest::newRow("held source routes once")
            << QByteArray("lcd") << none << QByteArray("P3 A3*10 R3") << QStringList{"1 3 0 1 2"} << 0 << none
            << none;
        QTest::newRow("take with level mask 0")
            << QByteArray("lcd") << QByteArray("mask=0") << QByteArray("K5 K7") << QStringList() << 0
            << QByteArray("level == 0, take not happening\n") << QByteArray("preset=5");
        QTest::newRow("take level preset takes its level only")
            << QByteArray("lcd") << none << QByteArray("K5 K12") << QStringList{"1 5 0 2 2"} << 0 << none << none;
        QTest::newRow("level toggled on is interrogated")
            << QByteArray("lcd") << none << QByteArray("K9 K8") << QStringList{"4 0 2 0 2"} << 0 << none
            << QByteArray("mask=2");
        QTest::newRow("take clear forgets the preset")
            << QByteArray("lcd") << none << QByteArray("K5 K13 K7") << QStringList{"1 5 0 1 2"} << 0 << none
            << QByteArray("preset=none");
        QTest::newRow("take clear refused for a lock still forgets the preset")
            << QByteArray("lcd") << QByteArray("dlock=1") << QByteArray("K5 K13 K2 K7")
            << QStringList{"4 2 1 0 2"} << 1 << none << QByteArray("preset=none dest=2");
        QTest::newRow("dest src take")
            << QByteArray("lcd") << none << QByteArray("K6 K15") << QStringList{"1 6 4 1 2"} << 0 << none << none;
        QTest::newRow("automatic take of a binary take mode")
            << QByteArray("lcd") << QByteArray("takemode=1") << QByteArray("K6") << QStringList{"1 6 0 1 2"} << 0
            << none << none;

        // Refusals: the error beep, nothing sent, nothing changed.
        QTest::newRow("panel lock: only Panel Lock acts, and unlocks")
            << QByteArray("lcd") << QByteArray("panellock") << QByteArray("K1 K3 K5 K7 K14 K3")
            << QStringList{"1 3 0 1 2"} << 4 << none << QByteArray("dest=0 preset=none panellock=0");
        QTest::newRow("locked subpanel")
            << QByteArray("lcd") << QByteArray("sublock") << QByteArray("K1 K3 K9 K5 K7") << QStringList() << 4
            << none << QByteArray("dest=0 mask=1 preset=5");
        QTest::newRow("destination locked at the router")
            << QByteArray("lcd") << QByteArray("dlock=1") << QByteArray("K3 K5 K7 K15 K1 K3")
            << QStringList{"1 5 4 1 2", "4 1 1 0 2", "1 3 1 1 2"} << 2 << none << none;
        QTest::newRow("destination locked by the panel")
            << QByteArray("lcd") << QByteArray("local=1") << QByteArray("K3 K5 K7") << QStringList() << 2 << none
            << none;
        QTest::newRow("protected: no source route, takes and selection still work")
            << QByteArray("lcd") << QByteArray("dprot=1") << QByteArray("K3 K5 K7 K2")
            << QStringList{"1 5 0 1 2", "4 2 1 0 2"} << 1 << none << QByteArray("dest=2");
        QTest::newRow("system salvo: the number as written")
            << QByteArray("lcd") << none << QByteArray("K16 A16*5") << QStringList{"3 3 0 0 2"} << 0 << none
            << none;
        QTest::newRow("offline: keys beep, the setup button opens the setup menu")
            << QByteArray("lcd") << QByteArray("offline") << QByteArray("K3 P16 R16 P3 R3")
            << QStringList() << 1 << none << QByteArray("setup=1");
        QTest::newRow("locate: the first key ends it and is dropped")
            << QByteArray("lcd") << QByteArray("locate") << QByteArray("K3 K3") << QStringList{"1 3 0 1 2"} << 0
            << none << QByteArray("locate=0");

        // Name entry.
        QTest::newRow("typed name: exact match routes")
            << QByteArray("name") << none << QByteArray("K3 K6 K7") << QStringList{"1 1 0 1 2"} << 0 << none
            << QByteArray("preset=1 text=CAM2 take_error=0");
        QTest::newRow("typed name: a prefix is no match")
            << QByteArray("name") << none << QByteArray("K3 K7") << QStringList() << 0 << none
            << QByteArray("take_error=1 text=");
        QTest::newRow("typed name: empty text")
            << QByteArray("name") << none << QByteArray("K7") << QStringList() << 0 << none
            << QByteArray("take_error=1");
        QTest::newRow("typed name: string then character")
            << QByteArray("name") << none << QByteArray("K4 K4 K7") << QStringList{"1 2 0 1 2"} << 0 << none
            << QByteArray("text=VTR1");
        QTest::newRow("typed name: spaces never count")
            << QByteArray("name") << none << QByteArray("K21 K7") << QStringList{"1 7 0 1 2"} << 0 << none
            << QByteArray("text=SAT1");
        QTest::newRow("typed name: source preset fills the text")
            << QByteArray("name") << none << QByteArray("K12 K7") << QStringList{"1 2 0 1 2"} << 0 << none
            << QByteArray("text=VTR1");
        QTest::newRow("typed name: take clear after a good take")
            << QByteArray("name") << none << QByteArray("K3 K6 K17") << QStringList{"1 1 0 1 2"} << 0 << none
            << QByteArray("preset=none text=");
        QTest::newRow("typed name: take clear keeps a failed name's error")
            << QByteArray("name") << none << QByteArray("K3 K17") << QStringList() << 0 << none
            << QByteArray("take_error=1");
        QTest::newRow("typed name: next and previous preset")
            << QByteArray("name") << none << QByteArray("K3 K6 K14 K7 K15 K15 K7")
            << QStringList{"1 2 0 1 2", "1 6 0 1 2"} << 0 << none << QByteArray("preset=6 text=BLACK");
        QTest::newRow("destination mode: take selects the typed destination")
            << QByteArray("name") << none << QByteArray("K8 K18 K7") << QStringList{"4 2 1 0 2"} << 0 << none
            << QByteArray("dest=2 destmode=0 desttext=TX");
        QTest::newRow("destination mode: a name that matches nothing")
            << QByteArray("name") << none << QByteArray("K8 K18 K10 K10 K3 K8") << QStringList() << 0 << none
            << QByteArray("dest=0 destmode=0 dest_error=1");
        QTest::newRow("destination take: the preset text names the destination")
            << QByteArray("name") << none << QByteArray("K16 K9") << QStringList{"4 0 1 0 2"} << 0 << none
            << QByteArray("dest=0 destmode=0 text=");
        QTest::newRow("delete last: long texts cut to seven")
            << QByteArray("name") << none << QByteArray("K19 K10") << QStringList() << 0 << none
            << QByteArray("text=CAMERA1");
        QTest::newRow("delete last: the empty text clears the preset")
            << QByteArray("name") << none << QByteArray("K12 K10 K10 K10 K10") << QStringList() << 0 << none
            << QByteArray("text= preset=none");
        QTest::newRow("delete last: the empty destination text clears the preset")
            << QByteArray("name") << none << QByteArray("K12 K8 K18 K10 K10 K8 K7") << QStringList() << 0 << none
            << QByteArray("preset=none text= destmode=0 take_error=1");
        QTest::newRow("destination mode on a locked subpanel: the mode changes, the selection is refused")
            << QByteArray("name") << QByteArray("sublock") << QByteArray("K8 K18 K8") << QStringList() << 1 << none
            << QByteArray("destmode=0 dest=0 desttext=MON1");
        QTest::newRow("destination take on a locked subpanel leaves destination mode")
            << QByteArray("name") << QByteArray("sublock destmode") << QByteArray("K18 K9") << QStringList() << 1
            << none << QByteArray("destmode=0 dest=0");
        QTest::newRow("source preset key: its own source, not another of the same name")
            << QByteArray("same") << none << QByteArray("K22 K7") << QStringList{"1 6 0 1 2"} << 0 << none
            << QByteArray("preset=6 text=CAM1");
        QTest::newRow("preset step from a key's source, not another of the same name")
            << QByteArray("same") << none << QByteArray("K22 K15") << QStringList() << 0 << none
            << QByteArray("preset=5 text=BARS");
        QTest::newRow("dest src take resolves the typed name")
            << QByteArray("name") << none << QByteArray("K3 K6 K20") << QStringList{"1 1 2 1 2"} << 0 << none
            << none;
        QTest::newRow("preset clear")
            << QByteArray("name") << none << QByteArray("K3 K11 K7") << QStringList() << 0 << none
            << QByteArray("text= take_error=1");

        // Paging: the slot a physical key reads on later pages.
        QTest::newRow("first menu")
            << QByteArray("paged") << none << QByteArray("K2 K5") << QStringList{"1 1 0 1 2", "1 4 0 1 2"} << 0
            << none << none;
        QTest::newRow("group 1 keys on primary page 2")
            << QByteArray("paged") << QByteArray("page=1,0") << QByteArray("K2 K5 K7")
            << QStringList{"1 19 0 1 2", "1 49 0 1 2", "4 6 1 0 2"} << 0 << none << none;
        QTest::newRow("group 2 key on secondary page 2")
            << QByteArray("paged") << QByteArray("page=0,1") << QByteArray("K7 K2")
            << QStringList{"4 3 1 0 2", "1 1 3 1 2"} << 0 << none << QByteArray("dest=3");
    }

    void keyHandler()
    {
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, log);
        QFETCH(QByteArray, state);

        RecordingHost host;
        const bool name = config == "name" || config == "same";
        QVERIFY(startPanel(name ? "SK2000A" : "SK1100A",
                           config == "same"    ? sameNamesConfig()
                           : name              ? nameConfig()
                           : config == "paged" ? pagedConfig()
                                               : lcdConfig()));
        QVERIFY2(applySetup(setup), setup.constData());
        host.states.clear();
        StdoutCapture out;
        QVERIFY2(runScript(script), script.constData());
        const QByteArray printed = out.text();
        panels_set_locate(0);

        QTEST(requests(), "sent");
        QTEST(beeps(host), "beeps");
        if (!log.isEmpty())
            QVERIFY2(printed.contains(log), printed.constData());
        const QString bad = checkState(state);
        QVERIFY2(bad.isEmpty(), qPrintable(bad));
    }

    // What single ButtonTypes do on an online panel: a key without a
    // function, the automatic take onto the fixed destination, the
    // destination list the level keys rebuild, and the keys that scroll,
    // shift and select destinations.
    void keyActions_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<int>("beeps");
        QTest::addColumn<QByteArray>("state");

        const QByteArray none;
        // A key without a function (an unknown name, or no definition at
        // all) only beeps, on every press and repeat, and disturbs nothing.
        QTest::newRow("type 0: unknown function name")
            << none << QByteArray("K1 K11 K3") << QStringList{"1 2 0 1 2"} << 1 << QByteArray("preset=2 dest=0");
        QTest::newRow("type 0: undefined key held")
            << none << QByteArray("P12 A12*2 R12") << QStringList() << 3 << QByteArray("preset=none");

        // Take mode 2 of a binary configuration: every preset key takes
        // onto the panel's fixed destination; Take keys keep taking onto
        // the selected one.
        const QByteArray fixed("takemode=2 fixed=4 mask=5");
        QTest::newRow("auto take onto the fixed destination")
            << fixed << QByteArray("K1") << QStringList{"1 2 4 5 2"} << 0 << QByteArray("preset=2 dest=0");
        QTest::newRow("auto take: next preset, then a Take key")
            << fixed << QByteArray("K1 K2 K3") << QStringList{"1 2 4 5 2", "1 3 4 5 2", "1 3 0 5 2"} << 0
            << QByteArray("preset=3");
        QTest::newRow("auto take: the fixed destination locked")
            << QByteArray("takemode=2 fixed=4 dlock=5") << QByteArray("K1 K3") << QStringList{"1 2 0 1 2"} << 1
            << QByteArray("preset=2");
        QTest::newRow("auto take: no fixed destination")
            << QByteArray("takemode=2 fixed=9999") << QByteArray("K1") << QStringList() << 0
            << QByteArray("preset=2");
        QTest::newRow("auto take: not in destination mode")
            << QByteArray("takemode=2 fixed=4 destmode") << QByteArray("K1") << QStringList() << 0
            << QByteArray("preset=2");
        QTest::newRow("auto take: any other take mode presets only")
            << QByteArray("takemode=3") << QByteArray("K1 K2") << QStringList() << 0 << QByteArray("preset=3");

        // The destination list: the destinations carrying the preset
        // source (VTR 1) on the first selected level, rebuilt by the level
        // keys while a list key is on the page. VTR 1 is on destinations 0
        // and 2 on level 0 and on 1 and 4 on level 1.
        const QByteArray routed("xpt=V:1:3 xpt=V:3:3 xpt=V:4:2 xpt=A:2:3 xpt=A:5:3 xpt=A:1:1");
        const QByteArray list = "list " + routed;
        QTest::newRow("list: a level on lists by the first selected level")
            << list << QByteArray("K1 K4") << QStringList{"4 0 2 0 2"} << 0 << QByteArray("mask=3 list=0,2");
        QTest::newRow("list: the first level off lists by the next")
            << list << QByteArray("K1 K4 K13") << QStringList{"4 0 2 0 2"} << 0 << QByteArray("mask=2 list=1,4");
        QTest::newRow("list: no level left")
            << list << QByteArray("K1 K4 K13 K4") << QStringList{"4 0 2 0 2"} << 0 << QByteArray("mask=0 list=");
        QTest::newRow("list: no preset left")
            << list << QByteArray("K1 K4 K1 K4") << QStringList{"4 0 2 0 2"} << 0
            << QByteArray("mask=1 preset=none list=");
        QTest::newRow("list: type 41 rebuilds it too")
            << "define=14:41:1 " + list << QByteArray("K1 K14") << QStringList{"4 0 2 0 2"} << 0
            << QByteArray("list=0,2");
        QTest::newRow("list: not built without a list key")
            << routed << QByteArray("K1 K4") << QStringList{"4 0 2 0 2"} << 0 << QByteArray("list=");

        // One ButtonType each.
        QTest::newRow("16 scrolls the destination keys up a page, not below 0")
            << none << QByteArray("K7 K7 K8 K5 K8 K8 K5") << QStringList{"4 4 1 0 2", "4 2 1 0 2"} << 0
            << QByteArray("dstoffset=0 dest=2");
        QTest::newRow("25 shifts the destination keys by its value and back")
            << none << QByteArray("K9 K5 K9 K6") << QStringList{"4 6 1 0 2", "4 3 1 0 2"} << 0
            << QByteArray("dstoffset=0 dest=3");
        QTest::newRow("41 toggles its level, interrogating it when on")
            << QByteArray("define=14:41:1") << QByteArray("K14 K14 K14") << QStringList{"4 0 2 0 2", "4 0 2 0 2"}
            << 0 << QByteArray("mask=3");
        QTest::newRow("55 selects a destination of its page")
            << QByteArray("define=15:55:2") << QByteArray("K15 K9 K15") << QStringList{"4 2 1 0 2", "4 6 1 0 2"}
            << 0 << QByteArray("dest=6");
        QTest::newRow("67 selects its destination once while held")
            << none << QByteArray("P10 A10*3 R10") << QStringList{"4 5 1 0 2"} << 0
            << QByteArray("dest=5 desttext=QC");
    }

    void keyActions()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, state);

        RecordingHost host;
        QVERIFY(startPanel("SK1500A", actionsConfig()));
        QVERIFY2(applySetup(setup), setup.constData());
        requests().clear();
        host.states.clear();
        QVERIFY2(runScript(script), script.constData());

        QTEST(requests(), "sent");
        QTEST(beeps(host), "beeps");
        const QString bad = checkState(state);
        QVERIFY2(bad.isEmpty(), qPrintable(bad));
    }

    // The models whose Take keys sit under destination displays take onto
    // the destination of the display above the key: its configured
    // destination, or for a display of the selected destination the one
    // it last showed. "D" in a script redraws the displays.
    void takeKeysUnderDisplays_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("displays");
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<int>("beeps");

        const QByteArray none;
        QTest::newRow("SK1900A: first and eighth display")
            << QByteArray("SK1900A") << DISPLAYS << none << QByteArray("K9 K1 K8")
            << QStringList{"1 2 3 1 2", "1 2 5 1 2"} << 0;
        QTest::newRow("SK1900A: a Take key past the displays")
            << QByteArray("SK1900A") << DISPLAYS << none << QByteArray("K9 K10") << QStringList{"1 2 0 1 2"} << 0;
        QTest::newRow("SK1900A: level take under a display")
            << QByteArray("SK1900A") << DISPLAYS << none << QByteArray("K9 K5") << QStringList{"1 2 4 2 2"} << 0;
        QTest::newRow("SK1900A: on the level mask")
            << QByteArray("SK1900A") << DISPLAYS << QByteArray("mask=3") << QByteArray("K9 K1")
            << QStringList{"1 2 3 3 2"} << 0;
        QTest::newRow("SK1900A: displays without a destination take nothing")
            << QByteArray("SK1900A") << DISPLAYS << none << QByteArray("K9 K3 K4") << QStringList() << 0;
        QTest::newRow("SK1900A: the selected destination a display shows")
            << QByteArray("SK1900A") << DISPLAYS << none << QByteArray("K11 D K9 K2")
            << QStringList{"4 1 1 0 2", "1 2 1 1 2"} << 0;
        QTest::newRow("SK1900A: the display's destination locked")
            << QByteArray("SK1900A") << DISPLAYS << QByteArray("dlock=4") << QByteArray("K9 K1 K10")
            << QStringList{"1 2 0 1 2"} << 1;
        QTest::newRow("SK2200A: first and eighth display")
            << QByteArray("SK2200A") << DISPLAYS << none << QByteArray("K9 K1 K8")
            << QStringList{"1 2 3 1 2", "1 2 5 1 2"} << 0;
        QTest::newRow("SK1700A whose first display has type 6")
            << QByteArray("SK1700A") << DISPLAYS << none << QByteArray("K9 K1 K8 K10")
            << QStringList{"1 2 3 1 2", "1 2 5 1 2", "1 2 0 1 2"} << 0;
        QTest::newRow("SK1700A whose first display has another type")
            << QByteArray("SK1700A") << DISPLAYS_FIRST_TYPE_3 << none << QByteArray("K9 K1 K8")
            << QStringList{"1 2 0 1 2", "1 2 0 1 2"} << 0;
        QTest::newRow("SK2000A: the selected destination")
            << QByteArray("SK2000A") << DISPLAYS << none << QByteArray("K9 K1 K8")
            << QStringList{"1 2 0 1 2", "1 2 0 1 2"} << 0;
    }

    void takeKeysUnderDisplays()
    {
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, displays);
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, script);

        RecordingHost host;
        QVERIFY(startPanel(model.constData(), displayConfig(displays)));
        QVERIFY2(applySetup(setup), setup.constData());
        requests().clear();
        host.states.clear();
        for (const QByteArray &tok : script.split(' ')) {
            if (tok == "D")
                dsp_redraw_all();
            else
                QVERIFY2(runScript(tok), tok.constData());
        }

        QTEST(requests(), "sent");
        QTEST(beeps(host), "beeps");
    }
};

QTEST_GUILESS_MAIN(TestKeys)
#include "tst_keys.moc"
