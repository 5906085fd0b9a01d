// Every default configuration resource loads in a running panel (panelrun
// as a separate process): the load result, checksum and reset keys on the
// firmware's standard output.

#include "crc16.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestConfigPanelrun : public QObject
{
    Q_OBJECT

private slots:
    void defaultConfigurationsLoad_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("resetLine");
        const struct { const char *name; int r1, r2; } models[] = {
            {"SK1100A", 1, 16}, {"SK1200A", 1, 20}, {"SK1300A", 33, 48}, {"SK1400A", 17, 32},
            {"SK1500A", 33, 48}, {"SK1600A", 5, 29}, {"SK1700A", 1, 36}, {"SK1800A", 21, 40},
            {"SK1900A", 25, 40}, {"SK2000A", 5, 47}, {"SK2100A", 61, 80}, {"SK2200A", 4, 44}};
        for (const auto &m : models)
            QTest::newRow(m.name) << QString::fromLatin1(m.name)
                                  << QByteArray("Reset buttons are " + QByteArray::number(m.r1) + " and " +
                                                QByteArray::number(m.r2) + "\n");
    }

    void defaultConfigurationsLoad()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, resetLine);
        static int port = 42400;
        QTemporaryDir work;
        const QString config = work.filePath(QStringLiteral("cfg") + type);
        QVERIFY(QFile::copy(QStringLiteral(RESOURCE_DIR "/cfg") + type, config));
        QFile f(config);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray file = f.readAll();
        const uint16_t crc = crc16_xmodem(reinterpret_cast<const uint8_t *>(file.constData()) + 10, size_t(file.size() - 10));

        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--type"), type, QStringLiteral("--config"), config,
                                           QStringLiteral("--workdir"), work.path(), QStringLiteral("--run-ms"),
                                           QStringLiteral("300"), QStringLiteral("--port"), QString::number(port++)});
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        const QByteArray crcLine = "Received CRC " + QByteArray::number(crc) + "\nLOAD CRC: " +
                                   QByteArray::number(crc, 16).toUpper().rightJustified(4, '0') + "\n";
        QVERIFY2(out.contains("Loading config file...\n" + crcLine), out.constData());
        QVERIFY2(out.contains("reading uncompressed pcsl file\n" + resetLine), out.constData());
        QVERIFY2(out.contains("finished panel setup\nConfig file loaded\n"), out.constData());
        QVERIFY(!out.contains("Syntax error"));
        // The host hears that a configuration is loaded.
        QVERIFY(p.readAllStandardError().contains("ST_CONFIG_LOADED"));
    }
};

QTEST_GUILESS_MAIN(TestConfigPanelrun)
#include "tst_config_panelrun.moc"
