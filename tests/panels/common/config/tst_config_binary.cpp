// Binary configuration images: blocks, byte orders, records split across
// pieces, the slot value split and the colour layout.

#include "config/config_binary.h"
#include "config/panel_tables.h"

#include <QTest>
#include <cstring>
#include <vector>

typedef std::vector<uint8_t> Bytes;

static void put16(Bytes &b, int v)
{
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

// A record: id, big-endian length, data.
static Bytes record(int id, const Bytes &data, int length = -1)
{
    Bytes r{uint8_t(id)};
    put16(r, length < 0 ? int(data.size()) : length);
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

static Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A route table block: count, name length, level count, entries.
static Bytes routes(int count, int nameLen, int levels, int entries)
{
    Bytes b;
    put16(b, count);
    b.push_back(uint8_t(nameLen));
    b.push_back(uint8_t(levels));
    for (int i = 0; i < entries; ++i) {
        char name[64];
        snprintf(name, sizeof name, "NAME-%d-ABCDEFGHIJKLMNOPQRSTUVWXYZ", i);
        b.insert(b.end(), name, name + nameLen);
        for (int l = 0; l < levels; ++l)
            put16(b, 1000 * l + i);
    }
    return b;
}

// Block 100 with types and values given for a few slots.
static Bytes keysBlock(const std::vector<std::pair<int, std::pair<int, int>>> &defs)
{
    Bytes b(7996, 0);
    for (const auto &s : defs) {
        b[128 + size_t(s.first)] = uint8_t(s.second.first);
        b[2176 + 2 * size_t(s.first)] = uint8_t(s.second.second >> 8);
        b[2176 + 2 * size_t(s.first) + 1] = uint8_t(s.second.second);
    }
    return b;
}

class TestConfigBinary : public QObject
{
    Q_OBJECT

    PanelTables before_;

private slots:
    void init()
    {
        memset(panel_tables(), 0x5A, sizeof(PanelTables));
        memcpy(&before_, panel_tables(), sizeof before_);
    }

    void onlyTakeBlockChangesOnlyTakeSettings()
    {
        const Bytes img = record(107, {0x00, 0x02, 0x01, 0x2C});
        QCOMPARE(readBinaryConfig(img.data(), img.size()), 1);
        PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->take_mode), 2);
        QCOMPARE(int(pt->fixed_take_dest), 300);
        pt->take_mode = before_.take_mode;
        pt->fixed_take_dest = before_.fixed_take_dest;
        QVERIFY(memcmp(pt, &before_, sizeof before_) == 0);
        QCOMPARE(readBinaryConfig(nullptr, 4), 0);
        QCOMPARE(readBinaryConfig(img.data(), 0), 0);
    }

    void routeTables()
    {
        // 3000 destinations announced, 5 given; names of 20 bytes keep 15;
        // 30 levels keep 26.
        const Bytes img = cat({record(103, routes(3000, 20, 30, 5)), record(104, routes(7, 4, 1, 7)),
                               record(102, [] {
                                   Bytes b;
                                   put16(b, 30);
                                   b.push_back(3);
                                   for (int i = 0; i < 30; ++i)
                                       b.insert(b.end(), {uint8_t('A' + i % 26), 'v', uint8_t('0' + i % 10)});
                                   return b;
                               }())});
        readBinaryConfig(img.data(), img.size());
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->dests.count), 2048);
        QCOMPARE(int(pt->next_dest), 2047);
        QCOMPARE(int(pt->dests.level_count), 30);
        QCOMPARE(QByteArray(pt->dests.name[4]), QByteArray("NAME-4-ABCDEFGH"));
        QCOMPARE(int(pt->dests.number[4][25]), 25004);
        QCOMPARE(int(pt->dests.number[5][0]), 0); // cleared at the block's start
        QCOMPARE(int(pt->sources.count), 7);
        QCOMPARE(int(pt->next_preset), 6);
        QCOMPARE(QByteArray(pt->sources.name[6]), QByteArray("NAME"));
        QCOMPARE(int(pt->sources.number[6][0]), 6);
        QCOMPARE(int(pt->levels.count), 26);
        QCOMPARE(QByteArray(pt->levels.name[25]), QByteArray("Zv5"));

        // An empty table leaves nothing to step to.
        const Bytes empty = record(103, routes(0, 10, 2, 0));
        readBinaryConfig(empty.data(), empty.size());
        QCOMPARE(int(pt->dests.count), 0);
        QCOMPARE(int(pt->next_dest), 0);
    }

    // The slot value carries the subpanel by ButtonType.
    void slotValueSplit_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("raw");
        QTest::addColumn<int>("subpanel");
        QTest::addColumn<int>("value");
        QTest::newRow("source: top 3 bits") << 10 << ((3 << 13) | 1234) << 3 << 1234;
        QTest::newRow("chop: top 3 bits") << 64 << ((7 << 13) | 8191) << 7 << 8191;
        QTest::newRow("level: high byte") << 12 << 0x0205 << 2 << 5;
        QTest::newRow("next dest: high byte") << 48 << 0x0710 << 7 << 16;
        QTest::newRow("take: low byte") << 29 << 0x0402 << 2 << 4;
        QTest::newRow("category: low byte") << 61 << 0x0901 << 1 << 9;
        QTest::newRow("salvo: as read") << 20 << 0x1234 << 0 << 0x1234;
        QTest::newRow("key report: as read") << 199 << 0xFFFF << 0 << 0xFFFF;
    }

    void slotValueSplit()
    {
        QFETCH(int, type);
        QFETCH(int, raw);
        const Bytes img = record(100, keysBlock({{77, {type, raw}}}));
        readBinaryConfig(img.data(), img.size());
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->type[77]), type);
        QTEST(int(pt->subpanel[77]), "subpanel");
        QTEST(int(pt->value[77]), "value");
        QCOMPARE(int(pt->value2[77]), int(before_.value2[77])); // not in the image
    }

    // Block 100's other parts, 101 and 106; byte orders.
    void keyTablesAndByteOrders()
    {
        Bytes k = keysBlock({});
        k[5] = 2;                                     // key 5 in group 2
        memcpy(&k[6272 + 10], "Legend Two", 10);      // legend entry 1
        k[6872 + 2] = 0x34;                           // owner of entry 1, low byte first
        k[6872 + 3] = 0x01;
        k[6992] = 0; k[6993] = 1;                     // one primary menu legend
        k[6994] = 0; k[6995] = 1;
        for (int i = 0; i < 40; ++i)
            k[6996 + size_t(i)] = uint8_t(100 + i);
        memcpy(&k[7036 + 15 * 3], "STRINGVAL", 9);
        k[7936 + 59] = 'Q';
        Bytes sub;
        for (int i = 0; i < 8; ++i)
            sub.insert(sub.end(), {0x00, uint8_t(i), 0xEE, 0xEE});
        for (int i = 0; i < 8; ++i)
            put16(sub, 500 + i);
        Bytes dis;
        put16(dis, 9);
        for (int i = 0; i < 10; ++i) {
            put16(dis, i + 1);
            put16(dis, 9999 - i);
        }
        for (int i = 0; i < 10; ++i)
            put16(dis, 0x100 + i);
        const Bytes img = cat({record(100, k), record(55, Bytes(300, 0xAB)), record(101, sub), record(106, dis)});
        readBinaryConfig(img.data(), img.size());
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->group[5]), 2);
        QCOMPARE(QByteArray(pt->legends[1].text, 10), QByteArray("Legend Two"));
        QCOMPARE(int(pt->legends[1].owner), 0x0134);
        QCOMPARE(int(pt->menu_legends), 1);
        QCOMPARE(int(pt->legend_count), 60);
        QCOMPARE(QByteArray(pt->string[3], 9), QByteArray("STRINGVAL"));
        QCOMPARE(int(pt->character[59]), int('Q'));
        // Colours in the working layout.
        const int expect[17] = {100, 101, 102, 103, 104, 105, 108, 109, 110, 102, 111, 102, 112, 116, 117, 118, 119};
        for (int i = 0; i < 17; ++i)
            QCOMPARE(int(pt->colours[i]), expect[i]);
        QCOMPARE(int(pt->colours[17]), 106);
        QCOMPARE(int(pt->colours[67]), 106);
        QCOMPARE(int(pt->colours[18]), 107);
        QCOMPARE(int(pt->colours[68]), 107);
        QCOMPARE(int(pt->subpanels[3].def_level), 3);
        QCOMPARE(int(pt->subpanels[7].def_dest), 507);
        QCOMPARE(int(pt->display_count), 9);
        QCOMPARE(int(pt->displays[9].type), 10);
        QCOMPARE(int(pt->displays[9].dest), 9990);
        QCOMPARE(int(pt->displays[4].level), 0x104);

        // Counts that index tables stay within them.
        Bytes bigCounts = k;
        bigCounts[6992] = 0x7F;
        bigCounts[6994] = 0xFF;
        Bytes manyDisplays = dis;
        manyDisplays[0] = 0x40;
        const Bytes img2 = cat({record(100, bigCounts), record(106, manyDisplays)});
        readBinaryConfig(img2.data(), img2.size());
        QCOMPARE(int(pt->display_count), 10);
        QCOMPARE(int(pt->menu_legends), 512);
        QCOMPARE(int(pt->all_menu_legends), 512);
        readBinaryConfig(img.data(), img.size());

        // Panel setup numbers the group keys the image gave.
        pt_panel_setup();
        QCOMPARE(int(pt->ordinal[5]), 1);
        QCOMPARE(int(pt->group_count[1]), 1);
        QCOMPARE(int(pt->slot_legend[0x0133]), 1);
    }

    // Any split of the image into pieces reads the same as the whole.
    void piecesReadLikeTheWhole()
    {
        Bytes names;
        names.push_back(4);
        for (int i = 0; i < 3; ++i)
            names.insert(names.end(), {0x01, uint8_t(i), uint8_t(7 * i), 'N', 'a', 'm', uint8_t('0' + i)});
        const Bytes img = cat({record(100, keysBlock({{3, {10, 0x2005}}, {2047, {48, 0x0102}}})),
                               record(103, routes(12, 6, 3, 12)), record(105, names),
                               record(107, {0, 1, 0, 9}), record(200, Bytes(10, 1))});
        readBinaryConfig(img.data(), img.size());
        PanelTables whole;
        memcpy(&whole, panel_tables(), sizeof whole);
        QCOMPARE(int(whole.names[2].number), 0x0102);
        QCOMPARE(int(whole.names[2].value), 14);
        QCOMPARE(QByteArray(whole.names[2].name), QByteArray("Nam2"));
        QCOMPARE(int(whole.names[2].valid), 1);
        QCOMPARE(int(whole.names[3].valid), 0);

        for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(1000)}) {
            memcpy(panel_tables(), &before_, sizeof before_);
            CfgBinReader r;
            cfgbin_begin(&r);
            for (size_t i = 0; i < img.size(); i += piece)
                cfgbin_feed(&r, img.data() + i, std::min(piece, img.size() - i));
            cfgbin_finish(&r);
            QVERIFY2(memcmp(panel_tables(), &whole, sizeof whole) == 0, qPrintable(QString::number(piece)));
        }
    }

    // Short data leaves the tables partly filled; nothing beyond them moves.
    void truncatedImage()
    {
        const Bytes full = record(100, keysBlock({{0, {10, 0x2001}}, {2000, {10, 0x4002}}}));
        const Bytes img(full.begin(), full.begin() + 3 + 2176 + 4);
        readBinaryConfig(img.data(), img.size());
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->value[0]), 1);
        QCOMPARE(int(pt->subpanel[0]), 1);
        // Slot 2000's value did not arrive: kept as it was.
        QCOMPARE(int(pt->value[2000]), int(before_.value[2000]));
        QCOMPARE(int(pt->subpanel[2000]), int(before_.subpanel[2000]));
        QCOMPARE(int(pt->colours[0]), int(before_.colours[0]));
        QCOMPARE(int(pt->legend_count), int(before_.legend_count));
    }
};

QTEST_GUILESS_MAIN(TestConfigBinary)
#include "tst_config_binary.moc"
