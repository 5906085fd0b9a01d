// The crash guard of the firmware thread, in one process. Kept apart from
// the other firmware tests: recovering from a fault abandons the frames that
// were running, and whatever they had allocated with them.

#include "plat_firmware.h"
#include "recording_callback.h"
#include "tfw_firmware_thread.h"
#include "timer_list.h"

#include <QFile>
#include <QTest>
#include <cstdint>

using State = TFW_IFirmwareCallback;

namespace {

// A write to an unmapped page, as a wild pointer would do.
void wildWrite(int)
{
    static volatile uintptr_t wild = 8;
    *reinterpret_cast<volatile int *>(wild) = 1;
}

QString dumpPathFor(const char *ip, int port)
{
    return QCoreApplication::applicationDirPath()
           + QStringLiteral("/panel-%1-%2.dmp").arg(QLatin1String(ip)).arg(port);
}

// The report a fault at address 8 leaves; removed after reading.
void checkReport(const QString &dump)
{
    QFile report(dump);
    QVERIFY2(report.open(QIODevice::ReadOnly), qPrintable(dump));
    const QByteArray text = report.readAll();
    QVERIFY2(text.contains("signal: 11 (SIGSEGV)"), text.constData());
    QVERIFY(text.contains("address: 0x8\n"));
    QVERIFY(text.contains("backtrace:"));
    report.close();
    QFile::remove(dump);
}

// The same panel (address and port) starts again after a fault: nothing of
// the crashed run still holds its socket.
void startsAgainCleanly(const char *ip, int port)
{
    RecordingCallback cb;
    TFW_FirmwareThread next;
    next.setCallback(&cb);
    next.start(QStringLiteral("SK2000A"), QLatin1String(ip), port, QString());
    QVERIFY(cb.waitFor(State::ST_RUNNING));
    QVERIFY2(!cb.has(State::ST_UDP_BIND_ERROR), "the crashed run still holds the socket");
    QVERIFY(next.stop());
    QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
}

} // namespace

class TestCrashGuard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { tfw_register_meta_types(); }

    // A fault in a call queued to the firmware object, outside the
    // firmware's own slots: the event loop is abandoned.
    void faultOutsideTheFirmwareSlots()
    {
        const QString dump = dumpPathFor("127.0.0.9", 42077);
        QFile::remove(dump);

        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.9"), 42077, QString());
        QVERIFY(cb.waitFor(State::ST_RUNNING));
        QCOMPARE(QByteArray(thread.dumpPath()), dump.toLocal8Bit());

        QObject *fw = dynamic_cast<QObject *>(plat_firmware());
        QVERIFY(fw);
        QTest::ignoreMessage(QtDebugMsg, "Minidump created.\n");
        QMetaObject::invokeMethod(fw, [] { wildWrite(0); });

        // The thread ends in order and the host hears of it.
        QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
        QVERIFY(thread.wait(2000));
        QVERIFY(!cb.has(State::ST_STOPPING));
        QVERIFY(!plat_firmware());
        checkReport(dump);
        startsAgainCleanly("127.0.0.9", 42077);
    }

    // A fault inside the loop pass (here a timer-list entry of the core):
    // caught inside the loop slot, the thread ends the same way.
    void faultInTheLoopPass()
    {
        const QString dump = dumpPathFor("127.0.0.9", 42079);
        QFile::remove(dump);

        RecordingCallback cb;
        TFW_FirmwareThread thread;
        thread.setCallback(&cb);
        thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.9"), 42079, QString());
        QVERIFY(cb.waitFor(State::ST_RUNNING));
        QObject *fw = dynamic_cast<QObject *>(plat_firmware());
        QVERIFY(fw);
        QTest::ignoreMessage(QtDebugMsg, "Minidump created.\n");
        QMetaObject::invokeMethod(fw, [] { tl_start_call(0, wildWrite, 0); });

        QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
        QVERIFY(thread.wait(2000));
        QVERIFY(!cb.has(State::ST_STOPPING));
        QVERIFY(!plat_firmware());
        // A key event after the end finds no firmware.
        thread.sendCollectorMsg(collector::CollectorMsg(5, 1));
        QVERIFY(cb.texts().last().startsWith(QStringLiteral("_firmware NULL ")));
        checkReport(dump);
        startsAgainCleanly("127.0.0.9", 42079);
    }
};

QTEST_GUILESS_MAIN(TestCrashGuard)
#include "tst_crash_guard.moc"
