// Configuration download over the router link: "B" blocks of kind 1 (a file
// written to the configuration path and loaded at the next tick) and kind 2
// (an image applied at once), their sequencing and replies, change
// detection, and what a refused or unfinished download leaves behind.

#include "config/config_load.h"
#include "config/panel_tables.h"
#include "crc16.h"
#include "link/comms.h"
#include "link/eth.h"
#include "link/netcfg.h"
#include "link/reliable.h"
#include "ms_clock.h"
#include "panels_main.h"
#include "plat.h"
#include "recording_host.h"
#include "../../../support/full_disk.h"
#include "../../../support/stdout_capture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

namespace {

uint32_t s_now = 1000;
std::vector<QByteArray> s_wire;
const uint8_t ROUTER[4] = {127, 0, 0, 1};
int s_peerId;

int captureSend(const uint8_t *d, int len, const uint8_t *)
{
    s_wire.push_back(QByteArray(reinterpret_cast<const char *>(d), len));
    return 1;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray container(const QByteArray &payload)
{
    QByteArray f = QByteArray("CONFIG") + QByteArray(4, '\0') + payload;
    const uint32_t n = uint32_t(f.size());
    f[6] = char(n >> 24);
    f[7] = char(n >> 16);
    f[8] = char(n >> 8);
    f[9] = char(n);
    return f;
}

// A configuration image: 12-byte header with the total length and flags.
QByteArray image(const QByteArray &body, uint8_t flags)
{
    QByteArray h(NETCFG_IMAGE_HEADER, '\0');
    const uint32_t n = uint32_t(body.size() + NETCFG_IMAGE_HEADER);
    h[2] = char(n >> 24);
    h[3] = char(n >> 16);
    h[4] = char(n >> 8);
    h[5] = char(n);
    h[10] = char(flags);
    return h + body;
}

// "B" data of one block.
QByteArray block(int kind, uint8_t control, const QByteArray &data)
{
    QByteArray b;
    b.append('\0').append(char(kind >> 8)).append(char(kind)).append('\0').append('\0');
    b.append(char(control)).append(data);
    return b;
}

// One router-link message from the router, sequenced and acknowledging
// everything the panel sent; returns the messages the panel sent back.
QList<QByteArray> fromRouter(char cmd, const QByteArray &data = QByteArray())
{
    s_wire.clear();
    QByteArray d;
    d.append('\x01').append(char(s_peerId)).append(char(rl_next_id() ? rl_next_id() - 1 : 0));
    d.append('\0').append('\0');
    d.append(cmd).append(char(data.size() >> 8)).append(char(data.size())).append(data);
    s_peerId = s_peerId == 255 ? 1 : s_peerId + 1;
    eth_router_receive(ETH_ROUTER_PORT, reinterpret_cast<const uint8_t *>(d.constData()), int(d.size()),
                       ROUTER);
    QList<QByteArray> out;
    for (const QByteArray &w : s_wire)
        if (w.size() > RL_HEADER)
            out.append(w.mid(RL_HEADER));
    return out;
}

// Sends one block; the panel's reply letter, or 0 when there is none.
char sendBlock(const QByteArray &b)
{
    const QList<QByteArray> replies = fromRouter('B', b);
    if (replies.isEmpty())
        return 0;
    if (replies.size() != 1 || replies[0].size() != 3 || replies[0][1] != 0 || replies[0][2] != 0)
        return '?';
    return replies[0][0];
}

// Sends data as a download in blocks of at most size bytes, numbered from
// first, stopping after blocks blocks when that is not -1; the replies in
// order.
QByteArray download(int kind, const QByteArray &data, int size = 200, int first = 0, int blocks = -1)
{
    QByteArray replies;
    int number = first;
    for (int pos = 0; pos < data.size() && blocks-- != 0; pos += size) {
        uint8_t control = uint8_t(number & NETCFG_NUMBER);
        if (pos == 0)
            control |= NETCFG_FIRST;
        if (pos + size >= data.size())
            control |= NETCFG_LAST;
        replies.append(sendBlock(block(kind, control, data.mid(pos, size))));
        number = (number + 1) & 63;
    }
    return replies;
}

uint16_t queryCrc()
{
    const QList<QByteArray> r = fromRouter('P');
    if (r.isEmpty() || r.last().size() != 9 || r.last()[0] != 'R')
        return 0xDEAD;
    return uint16_t((uint8_t(r.last()[6]) << 8) | uint8_t(r.last()[7]));
}

uint16_t xmodem(const QByteArray &b)
{
    return crc16_xmodem(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()));
}

const QByteArray TEXT_A = "#####\nmenu 1 { key 1 { type 10 } }\n";
const QByteArray TEXT_B = "#####\nmenu 1 { key 2 { type 10 } }\n";

} // namespace

class TestNetcfg : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_initial; // the configuration file the panel starts with

    // Starts the panel on the default SK2000A configuration file.
    // The configuration file in dir when given.
    void startPanel(const QString &dir = QString())
    {
        m_path = (dir.isEmpty() ? m_dir.path() : dir) + QStringLiteral("/cfgSK2000A");
        QFile::remove(m_path);
        QVERIFY(QFile::copy(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"), m_path));
        QFile(m_path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        m_initial = readFile(m_path);
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const QByteArray path = m_path.toLocal8Bit();
        memcpy(p.config_path, path.constData(), size_t(std::min<qsizetype>(path.size(), SP_PATH_LEN)));
        panels_close_sockets();
        {
            StdoutCapture quiet;
            panels_loop_init(p);
        }
        rl_set_send(captureSend);
        rl_reset();
        s_peerId = 0;
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
    }

    // Nothing stored or in use changed since start.
    void verifyUnchanged(const RecordingHost &host)
    {
        QCOMPARE(readFile(m_path), m_initial);
        QCOMPARE(host.reloads, 0);
        QCOMPARE(queryCrc(), xmodem(m_initial.mid(10)));
    }

private slots:
    void initTestCase() { msc_set_test_source(&s_now); }
    void cleanupTestCase()
    {
        panels_close_sockets();
        msc_set_test_source(nullptr);
    }

    void checksums()
    {
        const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
        QCOMPARE(netcfg_image_crc(digits, 9), uint16_t(0xA69D));
        QCOMPARE(netcfg_image_crc(digits, 0), uint16_t(0xFFFF));
        QCOMPARE(netcfg_hash(digits, 0), 5381u);
        // 5381 * 33 + 'a', and the 32-bit wrap of a long input.
        QCOMPARE(netcfg_hash(reinterpret_cast<const uint8_t *>("a"), 1), 177670u);
        QCOMPARE(netcfg_hash(reinterpret_cast<const uint8_t *>("abcdefghij"), 10), 0xB7903BDCu);

        RecordingHost host;
        startPanel();
        StdoutCapture out;
        QCOMPARE(netcfg_config_crc(digits, 9), uint16_t(0x31C3));
        QVERIFY(out.text().contains("Received CRC 12739\n"));
        QCOMPARE(queryCrc(), xmodem(m_initial.mid(10)));
        netcfg_config_in_use(0x31C3);
        QCOMPARE(queryCrc(), uint16_t(0x31C3));
    }

    // Blocks 62, 63, 0, 1 in order; a repeated first block restarts; one
    // block that is first and last is a whole download.
    void sequencing()
    {
        RecordingHost host;
        startPanel();
        const QByteArray img = image(TEXT_A, NETCFG_TEXT);
        StdoutCapture out;
        QCOMPARE(download(NETCFG_KIND_IMAGE, img, 12, 62), QByteArray("yyyy"));
        QCOMPARE(netcfg_image_fill(), uint32_t(img.size()));
        const QByteArray text = out.text();
        QVERIFY2(text.contains("\n\nreceived first block\n"), text.constData());
        QVERIFY(text.contains("Config: Specified length 47 Received 47\n"));
        QVERIFY(text.contains("Config: Un-compressed PCSL received\n"));
        QVERIFY(text.contains("panel_config 2 panel setup(FALSE)\n"));
        QCOMPARE(queryCrc(), xmodem(TEXT_A));
        QCOMPARE(comms_config_complete(), 1);
        QVERIFY(!netcfg_receiving());

        // A download restarted halfway: only the second start counts.
        const QByteArray other = image(TEXT_B, NETCFG_TEXT);
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, NETCFG_FIRST | 5, QByteArray(30, 'x'))), 'y');
        QCOMPARE(comms_config_complete(), 0);
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, 6, QByteArray(30, 'x'))), 'y');
        QCOMPARE(download(NETCFG_KIND_IMAGE, other, 20, 9), QByteArray("yyy"));
        QCOMPARE(netcfg_image_fill(), uint32_t(other.size()));
        QCOMPARE(queryCrc(), xmodem(TEXT_B));

        // First and last in one block.
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, NETCFG_FIRST | NETCFG_LAST | 33, img)), 'y');
        QCOMPARE(queryCrc(), xmodem(TEXT_A));
        QCOMPARE(comms_config_complete(), 1);
        QCOMPARE(host.reloads, 0); // images never touch the file
        QCOMPARE(readFile(m_path), m_initial);
    }

    // The same text image twice: the second time only panel setup runs.
    // Any other configuration loaded in between makes it load again.
    void changeDetection()
    {
        RecordingHost host;
        startPanel();
        const QByteArray img = image(TEXT_A, NETCFG_TEXT);
        download(NETCFG_KIND_IMAGE, img);
        StdoutCapture out;
        QCOMPARE(download(NETCFG_KIND_IMAGE, img), QByteArray("y"));
        QByteArray text = out.text();
        QVERIFY(text.contains("panel_config 1 panel setup(TRUE)\nstarting panel setup\n"));
        QVERIFY(!text.contains("PCSL received"));

        // A different image (one byte of the body changed) loads.
        StdoutCapture out2;
        QCOMPARE(download(NETCFG_KIND_IMAGE, image(TEXT_B, NETCFG_TEXT)), QByteArray("y"));
        QVERIFY(out2.text().contains("panel_config 2 panel setup(FALSE)\n"));

        // Image A, then the configuration file reloaded, then image A again:
        // A is no longer what is in use, so it loads.
        download(NETCFG_KIND_IMAGE, img);
        panels_config_reload();
        QCOMPARE(queryCrc(), xmodem(m_initial.mid(10)));
        StdoutCapture out3;
        download(NETCFG_KIND_IMAGE, img);
        text = out3.text();
        QVERIFY2(text.contains("panel_config 2 panel setup(FALSE)\n"), text.constData());
        QCOMPARE(queryCrc(), xmodem(TEXT_A));

        // A text the loader refuses is tried again when sent again.
        const QByteArray bad = image("no hashes here", NETCFG_TEXT);
        download(NETCFG_KIND_IMAGE, bad);
        StdoutCapture out4;
        download(NETCFG_KIND_IMAGE, bad);
        QVERIFY(out4.text().contains("panel_config 2 panel setup(FALSE)\n"));
        QCOMPARE(queryCrc(), xmodem(TEXT_A)); // still the last one applied
    }

    // A kind-1 download of n bytes becomes a file of n + 10 bytes carrying
    // its length; the next tick loads it, QUERY reports its checksum, and
    // the next ON POLL is announced again.
    void fileDownload()
    {
        RecordingHost host;
        startPanel();
        QFile def(QStringLiteral(RESOURCE_DIR "/cfgSK1100A"));
        QVERIFY(def.open(QIODevice::ReadOnly));
        const QByteArray payload = def.readAll().mid(10);
        const int n = int(payload.size());

        StdoutCapture out;
        QCOMPARE(download(NETCFG_KIND_FILE, payload, 250, 0, 3), QByteArray("yyy"));
        // Halfway: nothing written yet, the download suspends the keepalive.
        QCOMPARE(readFile(m_path), m_initial);
        QCOMPARE(host.reloads, 0);
        QCOMPARE(comms_config_complete(), 0);
        QCOMPARE(netcfg_file_len(), uint32_t(10 + 750));
        QCOMPARE(queryCrc(), xmodem(m_initial.mid(10)));
        QVERIFY(!out.text().contains("received last block"));

        StdoutCapture out2;
        QCOMPARE(download(NETCFG_KIND_FILE, payload, 250).count('y'), (n + 249) / 250);
        QVERIFY(out2.text().contains("received last block\n"));
        QCOMPARE(host.reloads, 1);
        QCOMPARE(comms_config_complete(), 1);
        QCOMPARE(netcfg_file_len(), 0u);
        const QByteArray file = readFile(m_path);
        QCOMPARE(file.size(), n + 10);
        QCOMPARE(file, container(payload));

        // The loop's reload loads it.
        StdoutCapture out3;
        panels_config_reload();
        QByteArray text = out3.text();
        QVERIFY2(text.contains("reading uncompressed pcsl file\n"), text.constData());
        QVERIFY(text.contains("Config file loaded\n"));
        QCOMPARE(queryCrc(), xmodem(payload));
        QCOMPARE(cfgload_crc(), xmodem(payload));

        StdoutCapture out4;
        fromRouter('O');
        fromRouter('O');
        QCOMPARE(out4.text().count("ON POLL\n"), 1);

        // A single-block file of one byte: 11 bytes with length 11.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST | NETCFG_LAST, "#")), 'y');
        QCOMPARE(readFile(m_path), QByteArray("CONFIG\0\0\0\x0b#", 11));
    }

    // A file download that cannot be stored (a full disk) gets "n" to its
    // last block, and the panel keeps its configuration file as it was;
    // the same download goes through once there is room.
    void fullDiskRefusesTheLastBlock()
    {
        FullDisk disk;
        QString why;
        if (!disk.setUp(&why))
            QSKIP(qPrintable(why));
        RecordingHost host;
        startPanel(disk.path());
        QFile def(QStringLiteral(RESOURCE_DIR "/cfgSK1100A"));
        QVERIFY(def.open(QIODevice::ReadOnly));
        const QByteArray payload = def.readAll().mid(10);
        const int blocks = int((payload.size() + 199) / 200);

        QVERIFY(disk.fill());
        StdoutCapture out;
        QCOMPARE(download(NETCFG_KIND_FILE, payload), QByteArray(blocks - 1, 'y') + 'n');
        QVERIFY(out.text().contains("Config: could not store the configuration\n"));
        QCOMPARE(readFile(m_path), m_initial);
        QCOMPARE(comms_config_complete(), 0);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList{QStringLiteral("cfgSK2000A")});
        // The next block is no continuation of a download that failed.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 1, "x")), 'n');

        disk.release();
        QCOMPARE(download(NETCFG_KIND_FILE, payload), QByteArray(blocks, 'y'));
        QCOMPARE(readFile(m_path), container(payload));
        QCOMPARE(comms_config_complete(), 1);
        panels_close_sockets();
    }

    // Refused blocks: "n" (or no reply at all for what is ignored), and
    // nothing stored or in use changes.
    void refusedBlocks()
    {
        RecordingHost host;
        startPanel();
        StdoutCapture out;

        // Ignored without a reply: too short, first byte above 1.
        QCOMPARE(sendBlock(QByteArray("\0\0\1\0", 4)), char(0));
        QCOMPARE(sendBlock(QByteArray("\2\0\1\0\0\xc0x", 7)), char(0));
        // First byte 1 is taken like 0.
        QCOMPARE(sendBlock(QByteArray("\1\0\2\0\0\xc0x", 7)), 'y');

        // Unknown kinds, no block data.
        QCOMPARE(sendBlock(block(0, NETCFG_FIRST, "data")), 'n');
        QCOMPARE(sendBlock(block(3, NETCFG_FIRST, "data")), 'n');
        QCOMPARE(sendBlock(block(0x0101, NETCFG_FIRST | NETCFG_LAST, "data")), 'n');
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST | NETCFG_LAST, "")), 'n');
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST, "").left(5)), 'n');

        // Without a first block, and after the last one.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 0 | NETCFG_LAST, "#####")), 'n');

        // Out of order: the download is over, its later blocks refused.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST | 63, "#####\n")), 'y');
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 0, "menu 1 { }\n")), 'y');
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 2 | NETCFG_LAST, "x")), 'n');
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 1 | NETCFG_LAST, "x")), 'n');
        QVERIFY(!netcfg_receiving());
        // A repeated block number is out of order too.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST | 7, "#####\n")), 'y');
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 7 | NETCFG_LAST, "#####\n")), 'n');

        // A block of the other kind does not continue a download.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST | 1, "#####\n")), 'y');
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, 2 | NETCFG_LAST, image(TEXT_A, NETCFG_TEXT))), 'n');
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, NETCFG_FIRST | 1, image(TEXT_A, NETCFG_TEXT).left(20))), 'y');
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 2 | NETCFG_LAST, "x")), 'n');

        const QByteArray text = out.text();
        QCOMPARE(text.count("bug 6\n"), 3);
        QCOMPARE(text.count("bug 5\n"), 2);
        QCOMPARE(text.count("bug 4\n"), 2);
        QCOMPARE(text.count("bug 3\n"), 4);
        verifyUnchanged(host);
        // The download that ended with an error leaves the keepalive
        // suspended until a new download, an OFF POLL or 10 s without a
        // block.
        QCOMPARE(comms_config_complete(), 0);
        fromRouter('N');
        QCOMPARE(comms_config_complete(), 1);
    }

    // More than a file may hold is refused with "n" at the block that does
    // not fit; an image's bytes beyond 76800 are dropped, its blocks taken,
    // and the image, shorter than its header says, is not applied. Nothing
    // is stored or applied.
    void oversizedDownloads()
    {
        RecordingHost host;
        startPanel();
        const QByteArray chunk(500, '#');
        StdoutCapture out;

        // A file: the capacity holds the header and 131061 bytes.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST, chunk)), 'y');
        int number = 1;
        while (netcfg_file_len() + 500 <= CFGLOAD_MAX_LENGTH)
            QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, uint8_t(number++ & 63), chunk)), 'y');
        const uint32_t room = CFGLOAD_MAX_LENGTH - netcfg_file_len();
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, uint8_t(number & 63), chunk.left(int(room) + 1))), 'n');
        QCOMPARE(netcfg_file_len(), 0u);
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, uint8_t(++number & 63) | NETCFG_LAST, "x")), 'n');

        // Exactly full is still a file.
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, NETCFG_FIRST, chunk)), 'y');
        number = 1;
        while (netcfg_file_len() + 500 <= CFGLOAD_MAX_LENGTH)
            QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, uint8_t(number++ & 63), chunk)), 'y');
        const uint32_t rest = CFGLOAD_MAX_LENGTH - netcfg_file_len();
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, uint8_t(number & 63) | NETCFG_LAST, chunk.left(int(rest)))),
                 'y');
        QCOMPARE(readFile(m_path).size(), int(CFGLOAD_MAX_LENGTH));
        QFile::remove(m_path);
        QVERIFY(QFile::copy(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"), m_path));
        host.reloads = 0;

        // An image of 91802 bytes: every block taken, 76800 bytes kept.
        const QByteArray img = image(QByteArray(91802 - NETCFG_IMAGE_HEADER, '#'), NETCFG_TEXT);
        QCOMPARE(download(NETCFG_KIND_IMAGE, img, 500), QByteArray((img.size() + 499) / 500, 'y'));
        QCOMPARE(netcfg_image_fill(), uint32_t(NETCFG_IMAGE_MAX));
        const QByteArray text = out.text();
        QVERIFY(text.contains("Config: Specified length 91802 Received 76800\nConfig: Received config too small!\n"));
        QCOMPARE(text.count("Config: Received config too big!\n"), 1);
        QVERIFY(!text.contains("panel_config"));
        QCOMPARE(comms_config_complete(), 1);
        verifyUnchanged(host);
    }

    // A download that takes no block for 10 s ends: the keepalive counts
    // again (an online panel the router stopped polling goes offline), an
    // offline panel comes online on the next ON POLL, late blocks are
    // refused.
    void stalledDownloadEnds()
    {
        RecordingHost host;
        startPanel();
        const QByteArray payload(2000, '#');
        StdoutCapture out;

        // Cut off after 3 blocks, online: 15 s without ON POLL.
        QCOMPARE(download(NETCFG_KIND_FILE, payload, 250, 0, 3), QByteArray("yyy"));
        s_now += 9990;
        panels_loop();
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        s_now += 10;
        panels_loop();
        QCOMPARE(comms_state(), int(COMMS_OFFLINE));
        QVERIFY(out.text().contains("Keepalive poll missed"));
        QCOMPARE(comms_config_complete(), 1);
        QCOMPARE(sendBlock(block(NETCFG_KIND_FILE, 3, payload.left(250))), 'n');

        // Offline, a download refused halfway ("bug 3"): ON POLL waits for
        // it until it has made no progress for 10 s.
        QCOMPARE(download(NETCFG_KIND_IMAGE, image(TEXT_A, NETCFG_TEXT), 10, 0, 2), QByteArray("yy"));
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, 5, "x")), 'n');
        s_now += 9000;
        panels_loop();
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_OFFLINE));
        s_now += 1000;
        panels_loop();
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        verifyUnchanged(host);
    }

    // An image shorter than its header says, or too short for a header, is
    // answered "y" but not applied.
    void shortImages()
    {
        RecordingHost host;
        startPanel();
        QByteArray img = image(TEXT_A, NETCFG_TEXT);
        img[5] = char(img[5] + 1);
        StdoutCapture out;
        QCOMPARE(download(NETCFG_KIND_IMAGE, img), QByteArray("y"));
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, NETCFG_FIRST | NETCFG_LAST, QByteArray(4, '\0'))), 'y');
        QCOMPARE(sendBlock(block(NETCFG_KIND_IMAGE, NETCFG_FIRST | NETCFG_LAST,
                                 QByteArray("\0\0\0\0\0\x0b", 6) + QByteArray(6, '\2'))), 'y');
        const QByteArray text = out.text();
        QVERIFY(text.contains("Config: Specified length 48 Received 47\nConfig: Received config too small!\n"));
        QVERIFY(text.contains("Config: Specified length 0 Received 4\nConfig: Received config too small!\n"));
        QVERIFY(text.contains("Config: Specified length 11 Received 12\nConfig: Received config too small!\n"));
        QVERIFY(!text.contains("panel_config"));
        QCOMPARE(comms_config_complete(), 1);
        verifyUnchanged(host);

        // Bytes beyond the stated length are not part of the image.
        StdoutCapture out2;
        QCOMPARE(download(NETCFG_KIND_IMAGE, image(TEXT_A, NETCFG_TEXT) + "trailing"), QByteArray("y"));
        QVERIFY(out2.text().contains("Config: Specified length 47 Received 55\n"));
        QCOMPARE(queryCrc(), xmodem(TEXT_A));
    }

    // A binary body fills the runtime tables directly.
    void binaryImage()
    {
        RecordingHost host;
        startPanel();
        // Block 107: take mode 2 onto destination 300; block 102: two levels.
        const QByteArray body = QByteArray("\x6b\x00\x04\x00\x02\x01\x2c", 7) +
                                QByteArray("\x66\x00\x0b\x00\x02\x04VID AUD1", 14);
        StdoutCapture out;
        QCOMPARE(download(NETCFG_KIND_IMAGE, image(body, 0), 8), QByteArray("yyyyy"));
        const QByteArray text = out.text();
        QVERIFY2(text.contains("Config: Binary config 21 [107,0]\n"), text.constData());
        QVERIFY(text.contains("panel_config 3 panel setup(FALSE)\nstarting panel setup\n"));
        QCOMPARE(panel_tables()->take_mode, uint16_t(2));
        QCOMPARE(panel_tables()->fixed_take_dest, uint16_t(300));
        QCOMPARE(panel_tables()->levels.count, 2u);
        QCOMPARE(QByteArray(panel_tables()->levels.name[1]), QByteArray("AUD1"));
        QCOMPARE(queryCrc(), xmodem(body));
        QCOMPARE(readFile(m_path), m_initial);
    }
};

QTEST_GUILESS_MAIN(TestNetcfg)
#include "tst_netcfg.moc"
