// The crash guard of the firmware thread, in one process. Kept apart from
// the other firmware tests: recovering from a fault abandons the frames that
// were running, and whatever they had allocated with them.

#include "plat_firmware.h"
#include "recording_callback.h"
#include "tfw_firmware_thread.h"

#include <QFile>
#include <QTest>
#include <cstdint>

using State = TFW_IFirmwareCallback;

class TestCrashGuard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { tfw_register_meta_types(); }

    void crashInFirmwareThreadWritesReport()
    {
        const QString dump = QCoreApplication::applicationDirPath()
                             + QStringLiteral("/panel-127.0.0.9-42077.dmp");
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
        QMetaObject::invokeMethod(fw, [] {
            // A write to an unmapped page, as a wild pointer would do.
            static volatile uintptr_t wild = 8;
            *reinterpret_cast<volatile int *>(wild) = 1;
        });

        // The thread ends in order and the host hears of it.
        QVERIFY(cb.waitFor(State::ST_THREAD_FINISHED));
        QVERIFY(thread.wait(2000));
        QVERIFY(!cb.has(State::ST_STOPPING));
        QVERIFY(!plat_firmware());

        QFile report(dump);
        QVERIFY2(report.open(QIODevice::ReadOnly), qPrintable(dump));
        const QByteArray text = report.readAll();
        QVERIFY2(text.contains("signal: 11 (SIGSEGV)"), text.constData());
        QVERIFY(text.contains("address: 0x8\n"));
        QVERIFY(text.contains("backtrace:"));
        report.close();
        QFile::remove(dump);

        // The process carries on: another panel thread starts and stops.
        RecordingCallback cb2;
        TFW_FirmwareThread next;
        next.setCallback(&cb2);
        next.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42078, QString());
        QVERIFY(cb2.waitFor(State::ST_RUNNING));
        QVERIFY(next.stop());
        QVERIFY(cb2.waitFor(State::ST_THREAD_FINISHED));
    }
};

QTEST_GUILESS_MAIN(TestCrashGuard)
#include "tst_crash_guard.moc"
