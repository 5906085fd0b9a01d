// The firmware wrapper in one process: start block, key events between
// ticks, the thread's life cycle and messages without a firmware.

#include "ftp_test_client.h"
#include "panels_main.h"
#include "plat.h"
#include "plat_firmware.h"
#include "recording_callback.h"
#include "../support/stdout_capture.h"
#include "tfw_firmware.h"
#include "tfw_firmware_thread.h"
#include "tfw_start_params.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstring>
#include <unistd.h>

using State = TFW_IFirmwareCallback;

class TestFirmware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { tfw_register_meta_types(); }

    void startParams()
    {
        const QString name25 = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXY");
        StartParams p = tfw_make_start_params(name25, QStringLiteral("192.168.1.20"), 2005,
                                              QStringLiteral("/data/p1/cfgSK2000A"));
        // Cut to 20 bytes, no terminator; what follows is the address.
        QCOMPARE(QByteArray(p.product_name, 20), name25.left(20).toUtf8());
        QCOMPARE(int(p.ip_address[0]), 192);
        QCOMPARE(int(p.ip_address[1]), 168);
        QCOMPARE(int(p.ip_address[2]), 1);
        QCOMPARE(int(p.ip_address[3]), 20);
        QCOMPARE(p.udp_port, 2005u);
        QCOMPARE(p.link_address, 0u);
        QCOMPARE(p.version_major, 1u);
        QCOMPARE(p.version_minor, 0u);
        QCOMPARE(QByteArray(p.config_path), QByteArray("/data/p1/cfgSK2000A"));

        // A short name is zero-padded.
        p = tfw_make_start_params(QStringLiteral("SK1"), QString(), 2001, QString());
        QCOMPARE(QByteArray(p.product_name, 20), QByteArray("SK1").leftJustified(20, '\0'));
        // No address text: address and port stay zero.
        for (int i = 0; i < 4; ++i)
            QCOMPARE(int(p.ip_address[i]), 0);
        QCOMPARE(p.udp_port, 0u);
        QCOMPARE(p.config_path[0], '\0');

        // A text that is no IPv4 address binds nothing either.
        p = tfw_make_start_params(QStringLiteral("SK1"), QStringLiteral("not-an-ip"), 2001, QString());
        QCOMPARE(p.udp_port, 0u);

        // Addresses are four decimal numbers 0..255 and nothing else; the
        // resolver's shorthands ("1.2.3" as 1.2.0.3) are not addresses here.
        uint8_t a[4] = {9, 9, 9, 9};
        QVERIFY(tfw_parse_ipv4(QStringLiteral("10.0.255.7"), a));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(a), 4), QByteArray("\x0a\x00\xff\x07", 4));
        for (const char *bad : {"localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.", ".1.2.3",
                                "1..2.3", " 1.2.3.4", "1.2.3.4 ", "0x7f.0.0.1", "1.2.3.4444", "-1.2.3.4",
                                "::1", ""}) {
            QVERIFY2(!tfw_parse_ipv4(QString::fromLatin1(bad), a), bad);
            p = tfw_make_start_params(QStringLiteral("SK1"), QString::fromLatin1(bad), 2001, QString());
            QCOMPARE(p.udp_port, 0u);
        }

        // The path is copied bounded to 1024 bytes.
        const QString longPath(2000, QLatin1Char('p'));
        p = tfw_make_start_params(QString(), QString(), 0, longPath);
        QCOMPARE(QByteArray(p.config_path, 1024), QByteArray(1024, 'p'));
    }

    // Key events reach the key state array through the slot; releases wait
    // for the end of the next loop pass.
    void keyEventsBetweenTicks()
    {
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        TFW_Firmware fw(&thread);

        // Before initialisation there is no key array: ignored silently.
        fw.firmware_collector_msg_slot(collector::CollectorMsg(5, 1));
        QVERIFY(!fw.keyStates());

        fw.timer_start();
        QVERIFY(cb.has(State::ST_RUNNING));
        const uint8_t *keys = fw.keyStates();
        QVERIFY(keys);
        QCOMPARE(keys, plat_key_states());
        memset(plat_key_states(), 0, PLAT_KEY_COUNT);

        // Ids 0 and 128 are refused with a warning; 1 and 127 are keys.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^ignored key event \\(id,max\\): 0 128"));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(0, 1));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^ignored key event \\(id,max\\): 128 128"));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(128, 1));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^ignored key event \\(id,max\\): -3 128"));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(-3, 1));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(1, 1));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(127, 1));
        QCOMPARE(int(keys[0]), 1);
        QCOMPARE(int(keys[126]), 1);
        QCOMPARE(int(keys[127]), 0);

        // Events of other types change nothing.
        fw.firmware_collector_msg_slot(collector::CollectorMsg(collector::CollectorMsg::ValueEvent, 9, 1));
        QCOMPARE(int(keys[8]), 0);

        // A release of a key that is not pressed changes nothing, not even
        // a later press.
        fw.firmware_collector_msg_slot(collector::CollectorMsg(10, 0));
        fw.timer_loop();
        fw.firmware_collector_msg_slot(collector::CollectorMsg(10, 1));
        fw.timer_loop();
        QCOMPARE(int(keys[9]), 1);
        // (No key stays held below: a held key can end a tick's scan before
        // its presses every quarter second.)
        for (int id : {1, 10, 127})
            fw.firmware_collector_msg_slot(collector::CollectorMsg(id, 0));
        fw.timer_loop();
        QCOMPARE(int(keys[0]) + int(keys[9]) + int(keys[126]), 0);

        // Press and release between two ticks: pressed during exactly one
        // loop pass, cleared after it.
        fw.firmware_collector_msg_slot(collector::CollectorMsg(5, 1));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(5, 0));
        QCOMPARE(int(keys[4]), 1);
        fw.timer_loop();
        QCOMPARE(int(keys[4]), 0);
        fw.timer_loop();
        QCOMPARE(int(keys[4]), 0);

        // Two keys pressed and released between two ticks: the scan reports
        // one press a tick, and each key stays down until its press has
        // been reported.
        for (int id : {20, 21}) {
            fw.firmware_collector_msg_slot(collector::CollectorMsg(id, 1));
            fw.firmware_collector_msg_slot(collector::CollectorMsg(id, 0));
        }
        fw.timer_loop();
        QCOMPARE(int(keys[19]), 0);
        QCOMPARE(int(keys[20]), 1);
        fw.timer_loop();
        QCOMPARE(int(keys[20]), 0);

        // Press, release, press between two ticks: the second press cancels
        // the pending release.
        fw.firmware_collector_msg_slot(collector::CollectorMsg(6, 1));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(6, 0));
        fw.firmware_collector_msg_slot(collector::CollectorMsg(6, 1));
        fw.timer_loop();
        fw.timer_loop();
        QCOMPARE(int(keys[5]), 1);
        fw.firmware_collector_msg_slot(collector::CollectorMsg(6, 0));
        fw.timer_loop();
        QCOMPARE(int(keys[5]), 0);

        // A stop request takes effect at the next tick.
        fw.requestStop();
        QVERIFY(!cb.has(State::ST_STOPPING));
        fw.timer_loop();
        QVERIFY(cb.has(State::ST_STOPPING));
        QVERIFY(!fw.loopRunning());
    }

    // However many key events come between two ticks, a release is never
    // lost and later events are not refused: 300 presses and one release
    // of key 20, 100000 press and release pairs of key 21, then key 22.
    // Events for no key cost a warning each only up to a limit a second;
    // one line a second counts the rest.
    void keyFloodsLoseNoRelease()
    {
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        TFW_Firmware fw(&thread);
        fw.timer_start();
        uint8_t *keys = plat_key_states();
        memset(keys, 0, PLAT_KEY_COUNT);

        for (int i = 0; i < 300; ++i)
            fw.postCollectorMsg(collector::CollectorMsg(20, 1));
        fw.postCollectorMsg(collector::CollectorMsg(20, 0));
        fw.timer_loop();
        fw.timer_loop();
        QCOMPARE(int(keys[19]), 0);

        for (int i = 0; i < 100000; ++i) {
            fw.postCollectorMsg(collector::CollectorMsg(21, 1));
            fw.postCollectorMsg(collector::CollectorMsg(21, 0));
        }
        fw.postCollectorMsg(collector::CollectorMsg(22, 1));
        fw.timer_loop();
        QCOMPARE(int(keys[20]), 0);
        QCOMPARE(int(keys[21]), 1);
        fw.postCollectorMsg(collector::CollectorMsg(22, 0));
        fw.timer_loop();
        QCOMPARE(int(keys[21]), 0);

        static int warnings;
        static QString last;
        warnings = 0;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &text) {
                if (type == QtWarningMsg) {
                    ++warnings;
                    last = text;
                }
            });
        for (int i = 0; i < 100000; ++i)
            fw.postCollectorMsg(collector::CollectorMsg(200, 1));
        fw.timer_loop();
        for (int i = 0; i < 100; ++i)
            fw.postCollectorMsg(collector::CollectorMsg(-1, 0));
        QTest::qWait(1100);
        fw.timer_loop();
        qInstallMessageHandler(previous);
        QVERIFY2(warnings <= 17, qPrintable(QString::number(warnings)));
        QVERIFY2(last.startsWith(QStringLiteral("ignored key events: 100084 more in the last second, "
                                                "100068 of them dropped (last id,max): -1 128")),
                 qPrintable(last));
        fw.requestStop();
        fw.timer_loop();
    }

    // The reload is served at the next tick and loads the file again
    // (there is none here, so it says so); reloadLoadsTheNewFile below has
    // a file appear under a running panel.
    void reloadRequestIsServedAtNextTick()
    {
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        TFW_Firmware fw(&thread);
        QCOMPARE(plat_firmware(), static_cast<PlatFirmware *>(&fw));
        fw.timer_start();
        // Reload requests may come from any thread, through the platform.
        StdoutCapture out;
        plat_firmware()->requestReload();
        QCOMPARE(out.peek(), QByteArray());
        fw.timer_loop();
        QCOMPARE(out.peek(), QByteArray("No valid config found\n"));
        fw.timer_loop(); // served once
        QCOMPARE(out.text(), QByteArray("No valid config found\n"));
        QVERIFY(!cb.has(State::ST_CONFIG_LOADED));
        // The stop sequence closes the socket this thread opened.
        fw.requestStop();
        fw.timer_loop();
    }

    // A panel without an address of its own serves FTP on any address, at
    // the standard ports 21 and 20 (which take root to bind here).
    void ftpWithoutAddressUsesPorts21And20()
    {
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        TFW_Firmware fw(&thread);
        fw.timer_start();
        QVERIFY(fw.ftpRunning());
        if (geteuid() != 0) {
            QVERIFY(cb.waitFor(State::ST_FTP_BIND_ERROR));
            fw.requestStop();
            fw.timer_loop();
            QSKIP("binding port 21 takes root");
        }
        QVERIFY(cb.waitForText(QStringLiteral("Ftp using ports:")));
        QCOMPARE(cb.texts(), QStringList{QStringLiteral("Ftp using ports:21 20")});
        FtpTestClient c;
        QVERIFY(c.open(QStringLiteral("127.0.0.1"), 21).startsWith("220-Pellam FTP Server."));
        QCOMPARE(c.cmd("QUIT"), QByteArray("221 Goodbye.\r\n"));
        // The stop sequence ends the FTP thread too.
        fw.requestStop();
        fw.timer_loop();
        QVERIFY(!fw.ftpRunning());
        QVERIFY(!cb.has(State::ST_FTP_BIND_ERROR));
    }

    void lifecycleStates()
    {
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        QCOMPARE(thread.buildDate(), QStringLiteral("2011-09-23T09:54:02.562000"));
        QCOMPARE(thread.version(), QStringLiteral("1.1.1.7"));

        // Before start: no firmware, the message is dropped with a note.
        thread.sendCollectorMsg(collector::CollectorMsg(5, 1));
        QCOMPARE(cb.texts().size(), 1);
        QVERIFY(cb.texts().at(0).startsWith(QStringLiteral("_firmware NULL ")));

        thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42001, QString());
        QVERIFY(cb.waitFor(State::ST_RUNNING));
        // A call queued from the host to an object of the firmware thread
        // runs there, between two ticks of the running loop.
        QObject onThread;
        onThread.moveToThread(&thread);
        std::atomic<QThread *> ranOn{nullptr};
        QThread *host = QThread::currentThread();
        QMetaObject::invokeMethod(
            &onThread,
            [&] {
                ranOn = QThread::currentThread();
                onThread.moveToThread(host);
            },
            Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(ranOn.load() == &thread, 5000);
        thread.sendCollectorMsg(collector::CollectorMsg(5, 1));
        QVERIFY(thread.stop());
        QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
        const std::vector<int> expected = {State::ST_THREAD_STARTED, State::ST_RUNNING,
                                           State::ST_STOPPING, State::ST_THREAD_FINISHED};
        QCOMPARE(cb.states(), expected);
        QVERIFY(!plat_firmware());

        // After the thread ended: dropped again, never a crash.
        thread.sendCollectorMsg(collector::CollectorMsg(5, 0));
        // (The FTP server may have reported its ports in between.)
        const QStringList texts = cb.texts().filter(QRegularExpression(QStringLiteral("^(?!Ftp using ports:)")));
        QCOMPARE(texts.size(), 2);
        QVERIFY(texts.at(1).startsWith(QStringLiteral("_firmware NULL ")));
        // A second stop finds nothing to stop and returns at once.
        QVERIFY(thread.stop());
    }

    // An address text that does not parse is refused like a bind failure:
    // a clear message, ST_UDP_BIND_ERROR, and no socket on some other
    // address.
    void unparsableAddressIsABindError()
    {
        for (const QString &ip : {QStringLiteral("localhost"), QStringLiteral("1.2.3")}) {
            RecordingCallback cb;
            TFW_FirmwareThread thread;
            thread.setCallback(&cb);
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^COULD NOT BIND: invalid panel address"));
            thread.start(QStringLiteral("SK2000A"), ip, 42011, QString());
            QVERIFY(cb.waitFor(State::ST_RUNNING));
            const std::vector<int> running = {State::ST_THREAD_STARTED, State::ST_UDP_BIND_ERROR,
                                              State::ST_RUNNING};
            QCOMPARE(cb.states(), running);
            const QString expected = QStringLiteral("COULD NOT BIND: invalid panel address \"%1\"").arg(ip);
            QVERIFY2(cb.texts().contains(expected), qPrintable(cb.texts().join(QLatin1Char('|'))));
            QVERIFY(thread.stop());
            QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
        }
        // The refusal does not stick to the library: a good address binds.
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42012, QString());
        QVERIFY(cb.waitFor(State::ST_RUNNING));
        QVERIFY(!cb.has(State::ST_UDP_BIND_ERROR));
        QVERIFY(thread.stop());
        QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
    }

    // start on a running copy is refused; a copy whose thread has ended
    // may run again, and each run ends with one ST_THREAD_FINISHED.
    void secondStartIsRefused()
    {
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42013, QString());
        QVERIFY(cb.waitFor(State::ST_RUNNING));
        const char *dump = thread.dumpPath();
        const QByteArray dumpText(dump);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^start refused: the firmware thread is running"));
        thread.start(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.1"), 42014, QStringLiteral("/x"));
        QCOMPARE(thread.dumpPath(), dump); // still the buffer the thread was given
        QCOMPARE(QByteArray(thread.dumpPath()), dumpText);
        QCOMPARE(thread.typeName(), QStringLiteral("SK2000A"));
        QCOMPARE(thread.port(), 42013);

        QVERIFY(thread.stop());
        QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
        auto count = [&cb](int state) {
            const std::vector<int> s = cb.states();
            return int(std::count(s.begin(), s.end(), state));
        };
        auto finished = [&count] { return count(State::ST_THREAD_FINISHED); };
        QTest::qWait(50);
        QCOMPARE(finished(), 1);

        thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42015, QString());
        QTRY_COMPARE(count(State::ST_RUNNING), 2);
        QVERIFY(thread.stop());
        QTRY_COMPARE(finished(), 2);
        QTest::qWait(50);
        QCOMPARE(finished(), 2);
    }

    // With TESSALINE_TICK_STATS=1 the stop reports how late the ticks ran;
    // without it nothing is measured or reported.
    void tickStatsReportedOnlyWhenAsked()
    {
        const QRegularExpression report(QStringLiteral(
            "^tick lateness: (\\d+) ticks, median \\d+\\.\\d\\d ms, p99 \\d+\\.\\d\\d ms, worst \\d+\\.\\d\\d ms$"));
        for (const char *value : {"1", "0"}) {
            qputenv("TESSALINE_TICK_STATS", value);
            RecordingCallback cb;
            TFW_FirmwareThread thread;
            thread.setCallback(&cb);
            thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42005, QString());
            QVERIFY(cb.waitFor(State::ST_RUNNING));
            QTest::qWait(300);
            QVERIFY(thread.stop());
            QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
            const QStringList reports = cb.texts().filter(report);
            if (value[0] == '1') {
                QCOMPARE(reports.size(), 1);
                // About 30 ticks ran; a loaded machine runs fewer.
                const int ticks = report.match(reports.at(0)).captured(1).toInt();
                QVERIFY2(ticks >= 5 && ticks <= 40, qPrintable(reports.at(0)));
            } else {
                QVERIFY(reports.isEmpty());
                QVERIFY(cb.texts().filter(QStringLiteral("tick lateness")).isEmpty());
            }
        }
        qunsetenv("TESSALINE_TICK_STATS");
    }

    void startWithoutCallbackStopsAtOnce()
    {
        TFW_FirmwareThread thread;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^_firmware_callback NULL"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^_firmware_callback NULL"));
        thread.start(QStringLiteral("SK2000A"), QString(), 0, QString());
        QVERIFY(thread.wait(5000));
        // thread_finished runs here, on the host's thread, and finds no
        // callback either.
        QTRY_VERIFY_WITH_TIMEOUT(!thread.isRunning(), 1000);
        QCoreApplication::processEvents();
        // Nothing to send to: this must not crash.
        thread.sendCollectorMsg(collector::CollectorMsg(5, 1));
    }
    // A running panel whose configuration file appears. Last of all: the
    // core's loaded mark stays set for the rest of this process (every
    // panel of the host loads its own library copy instead).
    void reloadLoadsTheNewFile()
    {
        // The reload loads it, the host hears of the first load, panel
        // setup brings the panel online. A second reload loads again
        // without a second report.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cfgSK2000A"));
        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42016, path);
        QVERIFY(cb.waitFor(State::ST_RUNNING));
        QTest::qWait(50);
        QVERIFY(!cb.has(State::ST_CONFIG_LOADED));
        QVERIFY(QFile::copy(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"), path));
        StdoutCapture out;
        plat_firmware()->requestReload();
        QVERIFY(cb.waitFor(State::ST_CONFIG_LOADED));
        QVERIFY(cb.waitFor(State::ST_ONLINE));
        plat_firmware()->requestReload();
        QTRY_VERIFY(out.peek().count("Config file loaded\n") == 2);
        QTest::qWait(50);
        QVERIFY(thread.stop());
        QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
        const QByteArray text = out.text();
        QVERIFY2(text.contains("reading uncompressed pcsl file\n"), text.constData());
        QVERIFY(text.contains("starting panel setup\n"));
        const std::vector<int> states = cb.states();
        QCOMPARE(std::count(states.begin(), states.end(), int(State::ST_CONFIG_LOADED)), 1L);
    }
};

QTEST_GUILESS_MAIN(TestFirmware)
#include "tst_firmware.moc"
