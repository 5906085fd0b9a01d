// Reading and writing the configuration file at the settings' path.

#include "panels_main.h"
#include "plat.h"
#include "recording_host.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

class TestConfigFile : public QObject
{
    Q_OBJECT

    static void usePath(const QString &path)
    {
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const QByteArray b = path.toLocal8Bit();
        memcpy(p.config_path, b.constData(), size_t(std::min<qsizetype>(b.size(), SP_PATH_LEN)));
        panels_loop_init(p);
    }

private slots:
    void writeStoresLengthAndRequestsReload()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cfgSK2000A"));
        usePath(path);
        RecordingHost host;

        uint32_t len = 0;
        QVERIFY(!plat_config_read(&len)); // missing file: no data
        QCOMPARE(len, 0u);

        std::vector<uint8_t> buf(1000, 0x55);
        memcpy(buf.data(), "CONFIG", 6);
        uint32_t n = 1000;
        plat_config_write(buf.data(), &n);
        QCOMPARE(n, 0u);  // the buffer is emptied
        QCOMPARE(host.reloads, 1);

        const uint8_t *data = plat_config_read(&len);
        QVERIFY(data);
        QCOMPARE(len, 1000u);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(data), 10),
                 QByteArray("CONFIG\x00\x00\x03\xe8", 10));
        QCOMPARE(data[999], uint8_t(0x55));

        // A shorter file replaces it whole.
        uint32_t m = 12;
        plat_config_write(buf.data(), &m);
        QCOMPARE(QFile(path).size(), 12);
        QCOMPARE(host.reloads, 2);
    }

    void failedWriteKeepsOldFileAndStillReloads()
    {
        QTemporaryDir dir;
        usePath(dir.filePath(QStringLiteral("missing/dir/cfg")));
        RecordingHost host;
        uint8_t buf[20] = {'C', 'O', 'N', 'F', 'I', 'G'};
        uint32_t n = sizeof buf;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^could not (open|write) config file"));
        plat_config_write(buf, &n);
        QCOMPARE(host.reloads, 1);
        QCOMPARE(n, 0u);

        // A path that is a directory cannot be read either.
        usePath(dir.path());
        uint32_t len = 7;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^failed to open config data file"));
        QVERIFY(!plat_config_read(&len));
        QCOMPARE(len, 0u);
    }

    void shortBufferIsNotPatched()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cfg"));
        usePath(path);
        RecordingHost host;
        uint8_t buf[4] = {1, 2, 3, 4};
        uint32_t n = 4;
        plat_config_write(buf, &n);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("\x01\x02\x03\x04", 4));
    }
};

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_config_file.moc"
