// The setup menu's network settings across a restart of the firmware: a
// user edits them on the keys of an offline SK1100A and saves, the file in
// the panel's directory holds them, and the panel started again runs on
// them. A damaged settings file is refused with a message and the panel
// comes up on the host's settings.

#include "bd_decode.h"
#include "crc16.h"
#include "panels_main.h"
#include "plat.h"
#include "recording_callback.h"
#include "tfw_firmware_thread.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using State = TFW_IFirmwareCallback;

namespace {

enum { PORT = 42031 };

// The records as "text <id> <text>" / "color <id> r g b".
QStringList describe(const std::vector<QByteArray> &records, size_t from)
{
    QStringList out;
    for (size_t i = from; i < records.size(); ++i) {
        buttondriver::Record rec;
        if (buttondriver::parseRecord(records[i], &rec) != buttondriver::ParseResult::Ok)
            continue;
        if (rec.type == 5)
            out.append(QStringLiteral("text %1 ").arg(rec.id) + QString::fromLatin1(rec.text));
        else if (rec.type == 4)
            out.append(QStringLiteral("color %1 %2 %3 %4").arg(rec.id).arg(rec.rgb1[0]).arg(rec.rgb1[1]).arg(rec.rgb1[2]));
    }
    return out;
}

// A running panel of the test, started on 127.0.0.1:PORT.
struct Run
{
    RecordingCallback cb;
    TFW_FirmwareThread thread;

    bool start(const QString &config)
    {
        thread.setCallback(&cb);
        thread.start(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.1"), PORT, config);
        return cb.waitFor(State::ST_RUNNING, 20000);
    }
    ~Run()
    {
        thread.stop();
        cb.waitFor(State::ST_THREAD_FINISHED, 5000);
    }

    // Presses key id and holds it until the face shows what the press
    // causes (one of the records after the press matches shows), then
    // lets go: the firmware has seen every press by the time the next one
    // comes, however slow its thread runs.
    bool press(int id, const QString &shows)
    {
        const size_t from = cb.records().size();
        thread.sendCollectorMsg(collector::CollectorMsg(id, 1));
        const QRegularExpression re(QStringLiteral("^") + shows + QStringLiteral("$"));
        QElapsedTimer t;
        t.start();
        bool seen = false;
        while (!seen && t.elapsed() < 20000) {
            for (const QString &r : describe(cb.records(), from))
                seen = seen || re.match(r).hasMatch();
            if (!seen)
                QTest::qWait(5);
        }
        thread.sendCollectorMsg(collector::CollectorMsg(id, 0));
        QTest::qWait(30);
        return seen;
    }

    bool said(const QString &text) const
    {
        return cb.texts().join(QLatin1Char('\n')).contains(text);
    }
};

// Whether something holds the UDP address and port.
bool udpTaken(const char *ip)
{
    QUdpSocket s;
    return !s.bind(QHostAddress(QString::fromLatin1(ip)), PORT, QAbstractSocket::DontShareAddress);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// A settings file as the panel writes it, with its checksum.
QByteArray settingsFile(const uint8_t ip[4], uint8_t address)
{
    QByteArray f("NETSET");
    f.append(char(0)).append(char(0)).append(char(0)).append(char(28)).append(char(1));
    f.append(reinterpret_cast<const char *>(ip), 4);
    f.append(QByteArray(8, '\0'));
    f.append(char(address)).append(char(0)).append(char(0));
    const uint16_t crc = crc16_xmodem(reinterpret_cast<const uint8_t *>(f.constData()), size_t(f.size()));
    f.append(char(crc >> 8)).append(char(crc & 0xff));
    return f;
}

} // namespace

class TestNetSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { tfw_register_meta_types(); }

    // Edited by key presses, saved, in force after the restart.
    void savedSettingsAreInForceAfterRestart()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("cfgSK1100A"));
        const QString settings = dir.filePath(QStringLiteral("netsettings"));
        {
            Run run;
            QVERIFY(run.start(config));
            // No configuration: offline, the comms display with the host's
            // address and the setup button.
            QVERIFY(run.press(16, QStringLiteral("text 1 Ip\\nSetup")));
            // The fourth address byte up by one, the link address up by three.
            QVERIFY(run.press(11, QStringLiteral("color 11 200 120 0")));
            QVERIFY(run.press(12, QStringLiteral("text 11 2")));
            QVERIFY(run.press(4, QStringLiteral("text 7 Addr\\n00")));
            QVERIFY(run.press(8, QStringLiteral("text 7 Addr\\n01")));
            QVERIFY(run.press(8, QStringLiteral("text 7 Addr\\n02")));
            QVERIFY(run.press(8, QStringLiteral("text 7 Addr\\n03")));
            // Save+Reset: the menu gives way to the comms display again.
            QVERIFY(run.press(16, QStringLiteral("text 16 Setup")));
            QTRY_VERIFY(run.said(QStringLiteral("in force from the panel's next start")));
            // Until then the panel stays where the host put it.
            QVERIFY(udpTaken("127.0.0.1"));
        }
        const QByteArray saved = readFile(settings);
        QCOMPARE(saved.size(), 28);
        QCOMPARE(saved.mid(11, 4), QByteArray("\x7f\x00\x00\x02", 4));
        QCOMPARE(int(saved[23]), 3);

        {
            Run run;
            QVERIFY(run.start(config));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(panels_settings()->ip_address), 4),
                     QByteArray("\x7f\x00\x00\x02", 4));
            QCOMPARE(int(plat_link_address()), 3);
            QVERIFY(udpTaken("127.0.0.2"));
            QVERIFY(!udpTaken("127.0.0.1"));
            // The comms display shows the address in force; the setup menu
            // opens on it.
            QTRY_VERIFY(describe(run.cb.records(), 0).contains(QStringLiteral("text 15 \n2")));
            QVERIFY(run.press(16, QStringLiteral("text 11 2")));
            QVERIFY(run.press(4, QStringLiteral("text 7 Addr\\n03")));
        }
        QCOMPARE(readFile(settings), saved);
    }

    // Cut short, damaged, too long, or naming an address this machine does
    // not have: refused with a message naming why, the file left as it is,
    // the panel on the host's address.
    void damagedSettingsFileIsRefused()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("cfgSK1100A"));
        const QString settings = dir.filePath(QStringLiteral("netsettings"));
        const uint8_t local[4] = {127, 0, 0, 3};
        const uint8_t foreign[4] = {192, 0, 2, 77};   // a documentation address
        const QByteArray good = settingsFile(local, 9);
        QByteArray flipped = good;
        flipped[13] = char(flipped[13] ^ 0x10);
        QByteArray badAddress = settingsFile(local, 65);
        const struct {
            QByteArray data;
            const char *why;
        } cases[] = {
            {good.left(20), "too short"},
            {QByteArray(), "too short"},
            {good + "x", "too long"},
            {flipped, "checksum mismatch"},
            {"NETSEX" + good.mid(6), "not a network settings file"},
            {badAddress, "link address or mode out of range"},
            {settingsFile(foreign, 9), "address 192.0.2.77 is not one of this machine's"},
        };
        for (const auto &c : cases) {
            QVERIFY(writeFile(settings, c.data));
            Run run;
            QVERIFY(run.start(config));
            QVERIFY2(run.said(QStringLiteral("network settings file refused (%1)").arg(QLatin1String(c.why))),
                     qPrintable(run.cb.texts().join(QLatin1Char('|'))));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(panels_settings()->ip_address), 4),
                     QByteArray("\x7f\x00\x00\x01", 4));
            QCOMPARE(int(plat_link_address()), 0);
            QVERIFY(udpTaken("127.0.0.1"));
            QCOMPARE(readFile(settings), c.data);
        }

        // The same file intact is taken.
        QVERIFY(writeFile(settings, good));
        Run run;
        QVERIFY(run.start(config));
        QVERIFY(!run.said(QStringLiteral("refused")));
        QCOMPARE(int(plat_link_address()), 9);
        QVERIFY(udpTaken("127.0.0.3"));
    }
};

QTEST_GUILESS_MAIN(TestNetSettings)
#include "tst_net_settings.moc"
