// The configuration model: PCSL texts stored by SemConfig, defaults, and
// the runtime tables applyConfiguration derives.

#include "config/config_binary.h"
#include "config/config_store.h"
#include "config_test_util.h"
#include "config/panel_tables.h"
#include "product.h"

#include <QTest>
#include <cstring>

Q_DECLARE_METATYPE(QByteArray)

static QByteArray firstMenu(const QByteArray &keys)
{
    return "obj KnownMenus() { obj Menu(1) { obj MenuButtons() { " + keys + " } } }\n";
}

static QString legend(const char *field, int size)
{
    return QString::fromLatin1(field, int(strnlen(field, size_t(size))));
}

class TestConfigModel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        prod_select(prod_find("SK2000A"));
        pt_init();
    }

    // One key definition: what lands in its slot.
    void keyDefinitions_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("value2");
        QTest::addColumn<int>("subpanel");

        QTest::newRow("source bV 1") << firstMenu("obj Btn(3) { bT=\"Source\" bV=1 }") << 2 << 10 << 0 << 0 << 0;
        QTest::newRow("source bV 0") << firstMenu("obj Btn(3) { bT=\"Source\" bV=0 }") << 2 << 10 << 0 << 0 << 0;
        QTest::newRow("destination bV 7 sPI 3")
            << firstMenu("obj Btn(1) { bT=\"Destination\" bV=7 sPI=3 }") << 0 << 11 << 6 << 0 << 3;
        QTest::newRow("Src Shift as written") << firstMenu("obj Btn(1) { bT=\"Src Shift\" bV=4 }") << 0 << 24 << 4 << 0 << 0;
        QTest::newRow("Src Shift from setup tool")
            << "obj Configsettings() { fromCfgdesk=\"1.2.3.4.5\" }\n" + firstMenu("obj Btn(1) { bT=\"Src Shift\" bV=4 }")
            << 0 << 24 << 3 << 0 << 0;
        QTest::newRow("Locks as written") << firstMenu("obj Btn(2) { bT=\"Locks\" bV=2 }") << 1 << 13 << 2 << 0 << 0;
        QTest::newRow("unknown type name") << firstMenu("obj Btn(2) { bT=\"Fly\" bV=9 }") << 1 << 0 << 8 << 0 << 0;
        QTest::newRow("Menu is Primary Menu") << firstMenu("obj Btn(2) { bT=\"Menu\" bV=3 }") << 1 << 14 << 2 << 0 << 0;
        QTest::newRow("Take Key Clear") << firstMenu("obj Button(9) { buttonType=\"Take Key Clear\" }") << 8 << 58 << 0 << 0 << 0;
        QTest::newRow("bV2 minus one, also 0") << firstMenu("obj Btn(1) { bT=\"Source Toggle\" bV=2 bV2=0 }") << 0 << 63 << 1 << 0xFFFF << 0;
        QTest::newRow("chop: interval then B") << firstMenu("obj Btn(1) { bT=\"Source Chop\" Iv=5 bV2=10 }") << 0 << 64 << 0 << ((5 << 13) | 9) << 0;
        QTest::newRow("chop: B then interval") << firstMenu("obj Btn(1) { bT=\"Source Chop\" bV2=10 Iv=5 }") << 0 << 64 << 0 << ((5 << 13) | 9) << 0;
        QTest::newRow("Iv ignored on other types") << firstMenu("obj Btn(1) { bT=\"Source\" bV2=10 Iv=5 }") << 0 << 10 << 0 << 9 << 0;
        QTest::newRow("preset chop interval keeps B") << firstMenu("obj Btn(1) { bT=\"Source Preset Chop\" bV2=10 Iv=2 }") << 0 << 69 << 0 << ((2 << 13) | 9) << 0;
        QTest::newRow("key 129 has no record") << firstMenu("obj Btn(129) { bT=\"Source\" bV=5 }") << 0 << 0 << 0 << 0 << 0;
        QTest::newRow("unknown object and key")
            << "obj Widget(3) { bT=\"Take\" colour=4 }\n" + firstMenu("obj Btn(1) { bogus=1 bT=\"Take\" }") << 0 << 29 << 0 << 0 << 0;
    }

    void keyDefinitions()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, slot);
        loadText(text);
        const PanelTables *pt = panel_tables();
        QTEST(int(pt->type[slot]), "type");
        QTEST(int(pt->value[slot]), "value");
        QTEST(int(pt->value2[slot]), "value2");
        QTEST(int(pt->subpanel[slot]), "subpanel");
    }

    // "bL" and string values by ButtonType.
    void legendsAndStrings()
    {
        loadText(firstMenu("obj Btn(1) { bT=\"Add String/Character\" bV=\"CAMERAS-ALL\" bL=\"XYZ\" }"
                           " obj Btn(2) { bT=\"Source\" bL=\"VTR 1\" }"
                           " obj Btn(3) { bT=\"Append String\" bV=\"VT\" bL=\"Append\" }"));
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->character[0]), int('X'));
        QCOMPARE(QByteArray(pt->string[0], 10), QByteArray("CAMERAS-AL"));
        QCOMPARE(legend(pt->string[2], 10), QStringLiteral("VT"));
        QCOMPARE(pt->character[2], uint8_t(0));
        // Legends: 50 primary and 50 secondary menu names, then the keys
        // that have one (owner = slot + 1).
        QCOMPARE(int(pt->menu_legends), 50);
        QCOMPARE(int(pt->all_menu_legends), 100);
        QCOMPARE(int(pt->legend_count), 102);
        QCOMPARE(legend(pt->legends[0].text, 10), QStringLiteral("Menu 1"));
        QCOMPARE(legend(pt->legends[100].text, 10), QStringLiteral("VTR 1"));
        QCOMPARE(int(pt->legends[100].owner), 2);
        QCOMPARE(legend(pt->legends[101].text, 10), QStringLiteral("Append"));
        QCOMPARE(int(pt->legends[101].owner), 3);
        pt_panel_setup();
        QCOMPARE(int(pt->slot_legend[1]), 100);
        QCOMPARE(int(pt->slot_legend[0]), int(PT_NO_LEGEND));
    }

    // Record numbers beyond the tables go to the last record; counts are
    // clamped.
    void clamping()
    {
        loadText("obj Configsettings() { numLevels=40 numSources=5000 numDestinations=-3 }\n"
                 "obj KnownMenus() { obj Menu(60) { menuName=\"Last\" } }\n"
                 "obj KnownSources() { obj Src(3000) { sN=\"Far\" } obj Source(0) { sN=\"First\" } }\n"
                 "obj KnownColours() { obj Clr(99) { cV=5 } obj Clr(2) { cV=13 } }\n");
        const ConfigStore *cs = cfg_store();
        QCOMPARE(legend(cs->menus[49].name, 10), QStringLiteral("Last"));
        QCOMPARE(cs->settings.menu_count, 50);
        QCOMPARE(legend(cs->sources[2047].name, 10), QStringLiteral("Far"));
        QCOMPARE(legend(cs->sources[0].name, 10), QStringLiteral("First"));
        QCOMPARE(int(cs->settings.level_count), 26);
        QCOMPARE(cs->settings.source_count, 2048);
        QCOMPARE(cs->settings.dest_count, 0);
        QCOMPARE(int(cs->colours[68]), 0xA4);
        QCOMPARE(int(cs->colours[1]), 0xFF); // index 13 is no colour: default kept
        QCOMPARE(int(panel_tables()->sources.count), 2048);
        QCOMPARE(int(panel_tables()->levels.count), 26);
    }

    // Paging groups: later menus fill pages of the group keys.
    void pagingSlots()
    {
        QByteArray keys;
        for (int k = 1; k <= 8; ++k)
            keys += "obj Btn(" + QByteArray::number(k) + ") { bT=\"Source\" bV=" + QByteArray::number(k) +
                    " bP=" + (k == 2 || k == 5 || k == 7 ? "1" : (k == 8 ? "2" : "0")) + " }\n";
        QByteArray text = "obj KnownMenus() { obj Menu(1) { obj MenuButtons() { " + keys + "} }\n";
        for (int m = 2; m <= 4; ++m)
            text += "obj Menu(" + QByteArray::number(m) + ") { obj MenuButtons() { obj Btn(5) { bT=\"Source\" bV=" +
                    QByteArray::number(100 * m) + " bL=\"P" + QByteArray::number(m) +
                    "\" } obj Btn(1) { bT=\"Take\" } obj Btn(8) { bT=\"Destination\" bV=" +
                    QByteArray::number(m) + " } } }\n";
        loadText(text + "}\n");
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->group_count[0]), 3);
        QCOMPARE(int(pt->group_count[1]), 1);
        QCOMPARE(int(pt->group[4]), 1);
        QCOMPARE(int(pt->ordinal[4]), 2);
        // Menu index 3, second group-1 key: 127 + (3 - 1) * 3 + 2.
        QCOMPARE(int(pt->type[135]), 10);
        QCOMPARE(int(pt->value[135]), 399);
        QCOMPARE(int(pt->value[127 + 1 * 3 + 2]), 299);
        // Group 2: 1319 + (m - 1) * 1 + 1.
        QCOMPARE(int(pt->type[1319 + 2 * 1 + 1]), 11);
        QCOMPARE(int(pt->value[1319 + 2 * 1 + 1]), 3);
        // Fixed keys of later menus are skipped; physical key 1 keeps menu 1.
        QCOMPARE(int(pt->type[0]), 10);
        // A page key's legend is listed with its slot.
        pt_panel_setup();
        QCOMPARE(legend(pt->legends[pt->slot_legend[135]].text, 10), QStringLiteral("P4"));
        QCOMPARE(int(pt->page_limit[0]), 2256 / 3 + 1);
        QCOMPARE(int(pt->page_limit[1]), 2257);
        QCOMPARE(pt_key_slot(4, 3, 0), 135);
        QCOMPARE(pt_key_slot(4, 0, 0), 4);
        QCOMPARE(pt_key_slot(0, 3, 3), 0);
        // A later text without pages leaves no page slot behind.
        loadText(firstMenu("obj Btn(1) { bT=\"Take\" }"));
        QCOMPARE(int(pt->type[135]), 0);
        pt_panel_setup();
        QCOMPARE(int(pt->page_limit[0]), 16);
    }

    // The group keys of the first menu are numbered once, and the slot a
    // physical key reads on a later page is the one that page's key was
    // stored in, whatever order the keys were written in. A key marked
    // twice counts once.
    void pagingOrdinalsAgreeEverywhere()
    {
        loadText("obj Configsettings() { numSources=60 numDestinations=8 }\n"
                 "obj KnownMenus() {\n"
                 " obj Menu(1) { obj MenuButtons() {\n"
                 "  obj Btn(5) { bT=\"Source\" bV=5 bP=1 bP=1 }\n"
                 "  obj Btn(2) { bT=\"Source\" bV=2 bP=1 }\n"
                 "  obj Btn(7) { bT=\"Destination\" bV=7 bP=2 } } }\n"
                 " obj Menu(2) { obj MenuButtons() {\n"
                 "  obj Btn(2) { bT=\"Source\" bV=20 }\n"
                 "  obj Btn(5) { bT=\"Source\" bV=50 }\n"
                 "  obj Btn(7) { bT=\"Destination\" bV=4 } } } }\n");
        pt_panel_setup();
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->group_count[0]), 2);
        QCOMPARE(int(pt->group_count[1]), 1);
        QCOMPARE(int(pt->page_limit[0]), 2256 / 2 + 1);
        // Key 2 on page 2 is menu 2's Btn(2), key 5 its Btn(5).
        int slot = pt_key_slot(1, 1, 0);
        QCOMPARE(int(pt->type[slot]), 10);
        QCOMPARE(int(pt->value[slot]), 19);
        slot = pt_key_slot(4, 1, 0);
        QCOMPARE(int(pt->value[slot]), 49);
        slot = pt_key_slot(6, 0, 1);
        QCOMPARE(int(pt->type[slot]), 11);
        QCOMPARE(int(pt->value[slot]), 3);
        // Panel setup run again reads the same numbering.
        pt_panel_setup();
        QCOMPARE(int(pt->value[pt_key_slot(1, 1, 0)]), 19);
    }

    // A binary image's take mode (automatic takes after a preset) does not
    // outlive it: a text loaded afterwards takes on Take keys only.
    void textAfterBinaryTakeMode()
    {
        const uint8_t image[] = {107, 0, 4, 0x00, 0x01, 0x00, 0x05};
        QCOMPARE(readBinaryConfig(image, sizeof image), 1);
        QCOMPARE(int(panel_tables()->take_mode), 1);
        loadText(firstMenu("obj Btn(1) { bT=\"Source Preset\" bV=2 }"));
        QCOMPARE(int(panel_tables()->take_mode), 0);
    }

    // Next destination / source preset: 0 or beyond the table means the
    // last entry.
    void nextValues_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("prev");
        const QByteArray counts = "obj Configsettings() { numDestinations=12 numSources=12 }\n";
        QTest::newRow("bV 0") << counts + firstMenu("obj Btn(1) { bT=\"Next Destination\" bV=0 }") << 11 << 0;
        QTest::newRow("too large") << counts + firstMenu("obj Btn(1) { bT=\"Next Destination\" bV=40 }") << 11 << 0;
        QTest::newRow("in range") << counts + firstMenu("obj Btn(1) { bT=\"Next Destination\" bV=6 } obj Btn(2) { bT=\"Previous Destination\" bV=3 }") << 5 << 2;
        QTest::newRow("no key") << counts << 11 << 0;
    }

    void nextValues()
    {
        QFETCH(QByteArray, text);
        loadText(text);
        QTEST(int(panel_tables()->next_dest), "next");
        QTEST(int(panel_tables()->prev_dest), "prev");
        QCOMPARE(int(panel_tables()->next_preset), 11);
    }

    // Display names: legend, else name, else the default "Dst-%d".
    void routeNames()
    {
        loadText("obj Configsettings() { numDestinations=4 numSources=2 numLevels=3 }\n"
                 "obj KnownDestinations() { obj Dst(1) { dN=\"CAM 1\" dLeg=\"Camera One Long\" }\n"
                 "  obj Dst(2) { destinationName=\"CAM 2\" obj dLev() { L2=17 L27=5 L40=1 L0=3 } } }\n"
                 "obj KnownSources() { obj Src(2) { sN=\"VTR\" } obj sLev() { L1=99 } }\n"
                 "obj KnownLevels() { obj Level(2) { lN=\"Audio\" } obj Level(3) { lvlName=\"X\" lLeg=\"Key\" } }\n");
        const PanelTables *pt = panel_tables();
        QCOMPARE(QString::fromLatin1(pt->dests.name[0]), QStringLiteral("Camera One"));
        QCOMPARE(QString::fromLatin1(pt->dests.name[1]), QStringLiteral("CAM 2"));
        QCOMPARE(QString::fromLatin1(pt->dests.name[2]), QStringLiteral("Dst-3"));
        QCOMPARE(int(pt->dests.number[1][1]), 17);
        QCOMPARE(int(pt->dests.number[1][0]), 2);
        QCOMPARE(int(cfg_store()->dests[1].number[26]), 5);
        QCOMPARE(int(pt->sources.number[1][0]), 99);
        QCOMPARE(QString::fromLatin1(pt->sources.name[1]), QStringLiteral("VTR"));
        QCOMPARE(QString::fromLatin1(pt->levels.name[0]), QStringLiteral("Level 1"));
        QCOMPARE(QString::fromLatin1(pt->levels.name[1]), QStringLiteral("Audio"));
        QCOMPARE(QString::fromLatin1(pt->levels.name[2]), QStringLiteral("Key"));
        QCOMPARE(pt_dest_name(3), "Dst-4");
        QCOMPARE(pt_dest_name(4), nullptr);

        loadText("obj Configsettings() { numSources=2 defLevelInputNumbersZero=1 }\n");
        QCOMPARE(int(pt->sources.number[1][5]), 0);
    }

    // Colours: as given, or with the setup tool's level-pair rule.
    void colours()
    {
        loadText("obj KnownColours() { obj Clr(1) { cV=12 } obj Clr(18) { cV=1 } obj Clr(25) { cV=2 } }\n");
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->colours[0]), 0x3F);
        QCOMPARE(int(pt->colours[17]), 0x01);
        QCOMPARE(int(pt->colours[24]), 0x03);
        QCOMPARE(int(pt->colours[19]), 0x33); // defaults elsewhere
        QCOMPARE(int(pt->colours[20]), 0x0C);

        // From the setup tool: entries 17 and 18 fill every second entry,
        // once in the firmware's life; entries above are ignored.
        loadText("obj Configsettings() { fromCfgdesk=\"2.0\" }\n"
                 "obj KnownColours() { obj Clr(18) { cV=4 } obj Clr(19) { cV=5 } obj Clr(25) { cV=2 } obj Clr(3) { cV=7 } }\n");
        QCOMPARE(int(pt->colours[17]), 0x85);
        QCOMPARE(int(pt->colours[67]), 0x85);
        QCOMPARE(int(pt->colours[18]), 0xA4);
        QCOMPARE(int(pt->colours[68]), 0xA4);
        QCOMPARE(int(pt->colours[24]), 0xA4); // entry 18's, not the ignored cV for 24
        QCOMPARE(int(pt->colours[2]), 0xCC);
        loadText("obj Configsettings() { fromCfgdesk=\"2.0\" }\n"
                 "obj KnownColours() { obj Clr(18) { cV=9 } }\n");
        QCOMPARE(int(pt->colours[17]), 0x33);
        QCOMPARE(int(pt->colours[19]), 0x33);
    }

    // Displays by model.
    void displays_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("dest");
        QTest::addColumn<int>("fixed");
        QTest::newRow("SK2000A display 1 type 10") << QByteArray("SK2000A") << 8 << 1 << 10 << 0 << 9999;
        QTest::newRow("SK2000A fixed destination") << QByteArray("SK2000A") << 8 << 2 << 6 << 4 << 4;
        QTest::newRow("SK2000A no destination") << QByteArray("SK2000A") << 8 << 0 << 6 << 0 << 9999;
        QTest::newRow("SK2200A none") << QByteArray("SK2200A") << 9 << 0 << 6 << 9999 << 9999;
        QTest::newRow("SK2200A display 8") << QByteArray("SK2200A") << 9 << 8 << 10 << 0 << 9999;
        QTest::newRow("SK1700A type 6") << QByteArray("SK1700A") << 10 << 0 << 6 << 9999 << 9999;
        QTest::newRow("SK1900A type 2") << QByteArray("SK1900A") << 8 << 3 << 2 << 0 << 9999;
    }

    void displays()
    {
        QFETCH(QByteArray, model);
        QFETCH(int, index);
        prod_select(prod_find(model.constData()));
        loadText("obj KnownDisplays() { obj Display(1) { disType=6 disDest=0 disLvl=131072 }\n"
                 "  obj Display(2) { disType=6 } obj Display(3) { disType=6 disDest=5 disLvl=2 }\n"
                 "  obj Display(4) { disType=2 } obj Display(9) { disType=1 } }\n");
        const PanelTables *pt = panel_tables();
        QTEST(int(pt->display_count), "count");
        QTEST(int(pt->displays[index].type), "type");
        QTEST(int(pt->displays[index].dest), "dest");
        QTEST(int(pt->displays[index].fixed_dest), "fixed");
        QCOMPARE(int(pt->displays[0].level), 0);
        QCOMPARE(int(pt->displays[2].level), 2);
    }

    // Defaults, reset keys, subpanels and the joystick.
    void defaultsAndSettings()
    {
        loadText("");
        const PanelTables *pt = panel_tables();
        QCOMPARE(pt->reset_keys[0], 5);
        QCOMPARE(pt->reset_keys[1], 47);
        QCOMPARE(int(pt->subpanels[7].def_dest), 1);
        QCOMPARE(int(pt->colours[18]), 0xA4);
        QCOMPARE(int(pt->dests.count), 0);

        loadText("obj KnownResetButtons() { obj reset_button(2) { reset_value=9 } obj reset_button(7) { reset_value=8 } }\n"
                 "obj KnownSubpanels() { obj Subpanel(3) { defDest=12 defLvl=2 } }\n"
                 "obj JoyStick() { obj jsMapping(2) { jsDest=4 jsSrc=6 jsMode=1 jsLevel=3 } }\n"
                 "obj Anything() { defaultDestination=7 configName=\"x\" }\n");
        QCOMPARE(pt->reset_keys[1], 8);
        QCOMPARE(pt->reset_keys[0], 5);
        QCOMPARE(int(pt->subpanels[2].def_dest), 12);
        QCOMPARE(int(pt->subpanels[2].def_level), 2);
        QCOMPARE(int(pt->joystick[1].dest), 3);
        QCOMPARE(int(pt->joystick[1].source), 5);
        QCOMPARE(int(pt->joystick_dest), 3);
        QCOMPARE(cfg_store()->settings.default_dest, 7);
    }

    // Menus and keys per menu: the last Menu seen, the highest key seen.
    void walkCounts()
    {
        loadText("obj KnownMenus() { obj Menu(5) { } obj Menu(3) { obj MenuButtons() { obj Btn(40) { } } } }\n");
        QCOMPARE(cfg_store()->settings.menu_count, 3);
        QVERIFY(cfg_store()->settings.keys_per_menu >= 40);
        loadText("obj KnownMenus() { obj Menu(1) { obj MenuButtons() { obj Btn(2) { } } } }\n");
        QCOMPARE(cfg_store()->settings.menu_count, 1);
        QVERIFY(cfg_store()->settings.keys_per_menu >= 40); // only grows
        loadText("");
        QCOMPARE(cfg_store()->settings.menu_count, 1);
    }
};

QTEST_GUILESS_MAIN(TestConfigModel)
#include "tst_config_model.moc"
