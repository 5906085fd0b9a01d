// Loading configuration files and network configuration texts: the
// container, the checksum, the three payload kinds, refusals that keep the
// configuration in force, and panel setup after a load.

#include "link/comms.h"
#include "config/config_load.h"
#include "config_test_util.h"
#include "crc16.h"
#include "echain.h"
#include "config/panel_tables.h"
#include "panels_main.h"
#include "config/names.h"
#include "config/config_store.h"
#include "product.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <memory>

static bool loadBytes(const QByteArray &file)
{
    return cfgload_file_data(reinterpret_cast<const uint8_t *>(file.constData()), size_t(file.size()));
}

static QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

static QByteArray compress(const QByteArray &text)
{
    auto enc = std::make_unique<EEncodeChain>();
    QByteArray out(256 * 1024, '\0');
    const long n = enc->compress(text.constData(), size_t(text.size()), out.data(), size_t(out.size()));
    return n < 0 ? QByteArray() : out.left(int(n));
}

static const QByteArray kHashes = QByteArray(43, '#') + "\n";

// A small configuration with something in every table.
static const QByteArray kText = kHashes +
    "obj Configsettings() { numDestinations=3 numSources=4 numLevels=2 }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(3) { dLeg=\"Studio\" } }\n"
    "obj KnownSources() { obj Src(4) { sN=\"CAM 4\" } }\n"
    "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
    "  obj Btn(1) { bT=\"Destination\" bV=2 bL=\"Dst\" bP=1 }\n"
    "  obj Btn(2) { bT=\"Source\" bV=4 bP=1 } obj Btn(3) { bT=\"Take\" } } }\n"
    "  obj Menu(2) { obj MenuButtons() { obj Btn(1) { bT=\"Destination\" bV=3 } } } }\n"
    "obj KnownResetButtons() { obj reset_button(1) { reset_value=2 } }\n";

class TestConfigLoad : public QObject
{
    Q_OBJECT

    static void model(const char *name) { prod_select(prod_find(name)); }

private slots:
    void init()
    {
        model("SK2000A");
        comms_init();
    }

    // Bodies that hold nothing: a multi-part network body whose first part
    // has length 0, and a configuration file with an empty payload. Both
    // are accepted and mark the configuration loaded; the configuration in
    // force stays as it was. (First in the class: the loaded mark is never
    // cleared in a process.)
    void emptyBodiesLoadNothing()
    {
        QCOMPARE(panels_config_loaded(), uint8_t(0));
        memset(panel_tables(), 0, sizeof(PanelTables));
        QVERIFY(cfgload_network(reinterpret_cast<const uint8_t *>(kText.constData() + kHashes.size()), 0,
                                false, false) == false); // a single empty text is no PCSL
        const QByteArray text = QByteArray(4, '\0') + QByteArray(4, '\0') + "ignored";
        auto snapshot = [] {
            QByteArray b(reinterpret_cast<const char *>(panel_tables()), sizeof(PanelTables));
            return b + QByteArray(reinterpret_cast<const char *>(cfg_store()), sizeof(ConfigStore));
        };
        // Something in force first (not through a file, which would mark).
        QVERIFY(cfgload_network(reinterpret_cast<const uint8_t *>(kText.constData()), size_t(kText.size()),
                                false, false));
        comms_panel_setup(); // as the caller does
        QCOMPARE(panels_config_loaded(), uint8_t(0));
        const QByteArray before = snapshot();
        // Too short for a first length field: damaged, not empty.
        for (const size_t cut : {size_t(0), size_t(1), size_t(3)})
            QVERIFY(!cfgload_network(reinterpret_cast<const uint8_t *>(text.constData()), cut, false, true));
        QCOMPARE(panels_config_loaded(), uint8_t(0));
        for (const bool compressed : {false, true}) {
            QVERIFY(cfgload_network(reinterpret_cast<const uint8_t *>(text.constData()), 4, compressed, true));
            QVERIFY(cfgload_network(reinterpret_cast<const uint8_t *>(text.constData()), size_t(text.size()),
                                    compressed, true));
        }
        QCOMPARE(panels_config_loaded(), uint8_t(1));
        QVERIFY(snapshot() == before);

        // The empty file payload goes the way of a binary configuration.
        comms_set_state(COMMS_OFFLINE, 7);
        StdoutCapture out;
        QVERIFY(loadBytes(container(QByteArray())));
        const QByteArray log = out.text();
        QVERIFY2(log.contains("LOAD CRC: 0000\nlength of file is 10\nsetting up membuf\n"
                                "setting up decompression chain\nreading binary config file\n"
                                "starting panel setup\n"),
                 log.constData());
        QCOMPARE(cfgload_crc(), uint16_t(0));
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        QVERIFY(snapshot() == before);
    }

    // Every default configuration resource: a plain PCSL file of its own
    // size that loads with the model's reset keys.
    void defaultResources_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("reset1");
        QTest::addColumn<int>("reset2");
        QTest::addColumn<int>("keys");
        QTest::addColumn<int>("colours");
        const struct { const char *name; int r1, r2, keys, colours; } models[] = {
            {"SK1100A", 1, 16, 16, 19}, {"SK1200A", 1, 20, 20, 17}, {"SK1300A", 33, 48, 48, 19},
            {"SK1400A", 17, 32, 32, 19}, {"SK1500A", 33, 48, 48, 19}, {"SK1600A", 5, 29, 29, 17},
            {"SK1700A", 1, 36, 36, 17}, {"SK1800A", 21, 40, 40, 17}, {"SK1900A", 25, 40, 40, 17},
            {"SK2000A", 5, 47, 47, 17}, {"SK2100A", 61, 80, 80, 17}, {"SK2200A", 4, 44, 44, 17}};
        for (const auto &m : models)
            QTest::newRow(m.name) << QString::fromLatin1(m.name) << m.r1 << m.r2 << m.keys << m.colours;
    }

    void defaultResources()
    {
        QFETCH(QString, model);
        const QByteArray file = readFile(QStringLiteral(RESOURCE_DIR "/cfg") + model);
        QVERIFY(file.size() > 10);
        const quint32 length = (quint8(file[6]) << 24) | (quint8(file[7]) << 16) | (quint8(file[8]) << 8) | quint8(file[9]);
        QCOMPARE(qint64(length), qint64(file.size()));
        // The "#" line, then the objects in their order, without a comment
        // in between.
        QVERIFY(file.mid(10).startsWith(kHashes + "obj Configsettings() {"));
        const QByteArray text = file.mid(10);
        const char *const order[] = {"obj Configsettings(", "obj KnownSources(", "obj KnownDestinations(",
                                     "obj KnownMenus(", "obj KnownColours(", "obj JoyStick(",
                                     "obj KnownSubpanels(", "obj KnownDisplays(", "obj KnownLevels(",
                                     "obj KnownResetButtons("};
        qsizetype at = 0;
        for (const char *o : order) {
            const qsizetype next = text.indexOf(o);
            QVERIFY2(next >= at, o);
            at = next;
        }
        QFETCH(int, keys);
        QFETCH(int, colours);
        QCOMPARE(int(text.count("obj Btn(")), keys);
        QCOMPARE(int(text.count("obj Clr(")), colours);
        QCOMPARE(int(text.count("cV=1")), colours);
        QCOMPARE(int(text.count("obj jsMapping(")), 8);
        QCOMPARE(int(text.count("obj Subpanel(")), 8);
        QCOMPARE(int(text.count("obj Display(")), 10);
        this->model(model.toLatin1().constData());

        StdoutCapture out;
        QVERIFY(loadBytes(file));
        const QByteArray log = out.text();
        const uint16_t crc = crc16_xmodem(reinterpret_cast<const uint8_t *>(file.constData()) + 10, size_t(file.size() - 10));
        QFETCH(int, reset1);
        QFETCH(int, reset2);
        const QByteArray expected = "Received CRC " + QByteArray::number(crc) + "\nLOAD CRC: " +
                                    QByteArray::number(crc, 16).toUpper().rightJustified(4, '0') +
                                    "\nlength of file is " + QByteArray::number(file.size()) +
                                    "\nreading uncompressed pcsl file\nReset buttons are " +
                                    QByteArray::number(reset1) + " and " + QByteArray::number(reset2) +
                                    "\nstarting panel setup\n";
        QVERIFY2(log.startsWith(expected), log.constData());
        QVERIFY(!log.contains("Syntax error"));
        QCOMPARE(cfgload_crc(), crc);
        QCOMPARE(panels_config_loaded(), uint8_t(1));
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        QVERIFY(cfg_store()->settings.keys_per_menu >= keys);
        QCOMPARE(int(panel_tables()->levels.count), 1);
        QCOMPARE(QByteArray(panel_tables()->levels.name[0]), QByteArray("Video"));
    }

    // The menu models come with their keys; the example key of the SK2000A.
    void predefinedKeys()
    {
        QVERIFY(loadBytes(readFile(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"))));
        const PanelTables *pt = panel_tables();
        QCOMPARE(int(pt->type[0]), 12);
        QCOMPARE(int(pt->value[0]), 0);
        QCOMPARE(int(pt->type[46]), 29);  // take on the reset key 47
        QCOMPARE(int(pt->type[5]), 11);   // destinations, sources
        QCOMPARE(int(pt->type[13]), 10);
        QVERIFY(loadBytes(readFile(QStringLiteral(RESOURCE_DIR "/cfgSK1100A"))));
        for (int k = 0; k < 16; ++k)
            QCOMPARE(int(pt->type[k]), 0);
    }

    void checksum()
    {
        StdoutCapture out;
        QVERIFY(loadBytes(container("123456789")));
        const QByteArray text = out.text();
        QVERIFY2(text.startsWith("Received CRC 12739\nLOAD CRC: 31C3\nlength of file is 19\n"), text.constData());
        QVERIFY(text.contains("reading binary config file\n"));
        QCOMPARE(cfgload_crc(), uint16_t(0x31C3));
    }

    // Refused files: the message, false, and the configuration in force
    // stays as it was (tables and checksum).
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("length 0") << container(kText, 0) << QByteArray("config file too big (0)!\n");
        QTest::newRow("length above limit") << container(kText, 0x20000) << QByteArray("config file too big (131072)!\n");
        QTest::newRow("truncated") << container(kText).left(200) << QByteArray("config file too big (" + QByteArray::number(kText.size() + 10) + ")!\n");
        QTest::newRow("wrong magic") << "CONFIX" + container(kText).mid(6) << QByteArray("incorrect config header!\n");
        QTest::newRow("short header") << QByteArray("CONFIG\0\0", 8) << QByteArray("incorrect config header!\n");
        QTest::newRow("empty") << QByteArray() << QByteArray("incorrect config header!\n");
        QTest::newRow("length inside header") << container(kText, 5) << QByteArray("incorrect config header!\n");
    }

    void refusals()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, message);
        QVERIFY(loadBytes(container(kText)));
        const uint16_t crc = cfgload_crc();
        auto before = std::make_unique<PanelTables>();
        memcpy(before.get(), panel_tables(), sizeof(PanelTables));
        StdoutCapture out;
        QVERIFY(!loadBytes(file));
        const QByteArray text = out.text();
        QVERIFY2(text.endsWith(message), text.constData());
        QVERIFY(memcmp(before.get(), panel_tables(), sizeof(PanelTables)) == 0);
        QCOMPARE(cfgload_crc(), crc);
    }

    // A compressed file made by pcslpack loads the same tables as its plain
    // twin.
    void compressedLikePlain()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath(QStringLiteral("text.pcsl"));
        QFile f(src);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kText);
        f.close();
        for (const QStringList &args : {QStringList{QStringLiteral("pack"), src, dir.filePath(QStringLiteral("plain"))},
                                        QStringList{QStringLiteral("pack"), QStringLiteral("--compress"), src,
                                                    dir.filePath(QStringLiteral("packed"))}}) {
            QProcess p;
            p.start(QStringLiteral(PCSLPACK), args);
            QVERIFY(p.waitForFinished(15000));
            QCOMPARE(p.exitCode(), 0);
        }
        // Both loads start from the same tables.
        memset(panel_tables(), 0, sizeof(PanelTables));
        QVERIFY(loadBytes(readFile(dir.filePath(QStringLiteral("plain")))));
        auto plain = std::make_unique<PanelTables>();
        memcpy(plain.get(), panel_tables(), sizeof(PanelTables));
        QCOMPARE(QByteArray(plain->dests.name[2]), QByteArray("Studio"));
        QCOMPARE(int(plain->type[128]), 11);   // page 1 of the group-1 keys
        QCOMPARE(plain->reset_keys[0], 2);
        memset(panel_tables(), 0, sizeof(PanelTables));

        const QByteArray packed = readFile(dir.filePath(QStringLiteral("packed")));
        QVERIFY(!packed.mid(10).startsWith("#####"));
        StdoutCapture out;
        QVERIFY(loadBytes(packed));
        const QByteArray text = out.text();
        QVERIFY2(text.contains("setting up membuf\nsetting up decompression chain\nreading compressed pcsl file\n"),
                 text.constData());
        QVERIFY(memcmp(plain.get(), panel_tables(), sizeof(PanelTables)) == 0);
    }

    // A compressed file made once and kept (data/sample_packed) loads the
    // tables of its plain twin: the decoder is held to data it did not
    // make in this build.
    void keptCompressedFileLikeItsPlainTwin()
    {
        const QByteArray plainFile = readFile(QStringLiteral(DATA_DIR "/sample_plain"));
        const QByteArray packedFile = readFile(QStringLiteral(DATA_DIR "/sample_packed"));
        QCOMPARE(plainFile.size(), 1380);
        QCOMPARE(packedFile.size(), 868);
        QCOMPARE(plainFile.mid(10), readFile(QStringLiteral(DATA_DIR "/sample.pcsl")));

        memset(panel_tables(), 0, sizeof(PanelTables));
        QVERIFY(loadBytes(plainFile));
        auto plain = std::make_unique<PanelTables>();
        memcpy(plain.get(), panel_tables(), sizeof(PanelTables));
        QCOMPARE(QByteArray(plain->dests.name[3]), QByteArray("Trans")); // the legend wins
        QCOMPARE(QByteArray(plain->sources.name[4]), QByteArray("Tape"));
        QCOMPARE(QByteArray(plain->sources.name[5]), QByteArray("BARS"));
        QCOMPARE(QByteArray(plain->levels.name[1]), QByteArray("Audio"));
        QCOMPARE(plain->reset_keys[1], 6);

        memset(panel_tables(), 0, sizeof(PanelTables));
        StdoutCapture out;
        QVERIFY(loadBytes(packedFile));
        const QByteArray log = out.text();
        QVERIFY2(log.contains("reading compressed pcsl file\n"), log.constData());
        QVERIFY(!log.contains("Syntax error"));
        QCOMPARE(cfgload_crc(), uint16_t(0xBC78));
        QVERIFY(memcmp(plain.get(), panel_tables(), sizeof(PanelTables)) == 0);
    }

    // Compressed data whose text does not start with "#####" is a binary
    // configuration.
    void compressedNonTextIsBinary()
    {
        const QByteArray coded = compress("Hello, not a configuration");
        QVERIFY(!coded.isEmpty());
        StdoutCapture out;
        QVERIFY(loadBytes(container(coded)));
        const QByteArray text = out.text();
        QVERIFY(text.contains("reading binary config file\n"));
        QVERIFY(!text.contains("reading compressed pcsl file"));
    }

    // Network texts: one body, parts that add up, and refused parts.
    void networkTexts()
    {
        const QByteArray menus = kHashes + "obj KnownMenus() { obj Menu(1) { obj MenuButtons() { obj Btn(1) { bT=\"Take\" } } } }\n";
        const QByteArray sources = kHashes + "obj Configsettings() { numSources=2 } obj Src(2) { sN=\"VT 2\" }\n";
        auto be32 = [](int n) {
            QByteArray b;
            return b.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
        };
        const QByteArray body = be32(menus.size()) + menus + be32(sources.size()) + sources + be32(0);
        const uint8_t *p = reinterpret_cast<const uint8_t *>(body.constData());
        StdoutCapture out;
        QVERIFY(cfgload_network(p, size_t(body.size()), false, true));
        QCOMPARE(int(panel_tables()->type[0]), 29);
        QCOMPARE(QByteArray(panel_tables()->sources.name[1]), QByteArray("VT 2"));

        // A third part is not read.
        const QByteArray third = be32(menus.size()) + menus + be32(sources.size()) + sources + be32(5) + "junk!";
        QVERIFY(cfgload_network(reinterpret_cast<const uint8_t *>(third.constData()), size_t(third.size()), false, true));

        // Compressed parts.
        const QByteArray cm = compress(menus), cs = compress(sources);
        const QByteArray cbody = be32(cm.size()) + cm + be32(cs.size()) + cs;
        QVERIFY(cfgload_network(reinterpret_cast<const uint8_t *>(cbody.constData()), size_t(cbody.size()), true, true));
        QCOMPARE(QByteArray(panel_tables()->sources.name[1]), QByteArray("VT 2"));
        QVERIFY(cfgload_network(reinterpret_cast<const uint8_t *>(cm.constData()), size_t(cm.size()), true, false));
        QCOMPARE(int(panel_tables()->sources.count), 0);

        // Refused: plain text without the "#" line, compressed data that is
        // not text, a part longer than the body.
        const QByteArray bare = "obj Configsettings() { numSources=9 }";
        QVERIFY(!cfgload_network(reinterpret_cast<const uint8_t *>(bare.constData()), size_t(bare.size()), false, false));
        QVERIFY(!cfgload_network(reinterpret_cast<const uint8_t *>(bare.constData()), size_t(bare.size()), true, false));
        const QByteArray longPart = be32(1000) + menus;
        QVERIFY(!cfgload_network(reinterpret_cast<const uint8_t *>(longPart.constData()), size_t(longPart.size()), false, true));
        QVERIFY(!cfgload_network(nullptr, 0, false, false));
        const QByteArray text = out.text();
        QVERIFY(text.contains("Config: Un-compressed PCSL received\n"));
        QVERIFY(text.contains("Config: Compressed PCSL received\nreading compressed pcsl file\n"));
        QCOMPARE(int(panel_tables()->sources.count), 0); // refused parts applied nothing
    }

    // The router's name requests read the loaded names.
    void namesFromTables()
    {
        QVERIFY(loadBytes(container(kText)));
        QCOMPARE(QByteArray(names_get(NAME_DEST, 0)), QByteArray("MON 1"));
        QCOMPARE(QByteArray(names_get(NAME_DEST, 2)), QByteArray("Studio"));
        QCOMPARE(names_get(NAME_DEST, 3), nullptr);
        QCOMPARE(QByteArray(names_get(NAME_SOURCE, 3)), QByteArray("CAM 4"));
        QCOMPARE(QByteArray(names_get(NAME_LEVEL, 1)), QByteArray("Level 2"));
        QCOMPARE(names_get(NAME_LEVEL, 2), nullptr);
        QCOMPARE(names_count(NAME_SOURCE), 4);
    }
};

QTEST_GUILESS_MAIN(TestConfigLoad)
#include "tst_config_load.moc"
