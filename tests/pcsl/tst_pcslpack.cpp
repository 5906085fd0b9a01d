#include "crc16.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// pcslpack as a user runs it: a separate process, its output and status.
class TestPcslpack : public QObject
{
    Q_OBJECT

    struct Run
    {
        int status;
        QByteArray out;
        QByteArray err;
    };

    Run pcslpack(const QStringList &args)
    {
        QProcess p;
        p.start(QStringLiteral(PCSLPACK), args);
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }

    QString path(const char *name) { return m_dir.filePath(QString::fromLatin1(name)); }

    void write(const char *name, const QByteArray &data)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

    QByteArray read(const char *name)
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QByteArray container(const QByteArray &payload, int length = -1)
    {
        const quint32 len = length < 0 ? quint32(payload.size() + 10) : quint32(length);
        QByteArray f("CONFIG");
        f.append(char(len >> 24)).append(char(len >> 16)).append(char(len >> 8)).append(char(len));
        return f + payload;
    }

    static QByteArray crcText(const QByteArray &payload)
    {
        const uint16_t crc = crc16_xmodem(reinterpret_cast<const uint8_t *>(payload.constData()),
                                          size_t(payload.size()));
        return QByteArray::number(crc, 16).toUpper().rightJustified(4, '0');
    }

    QTemporaryDir m_dir;
    const QByteArray m_text = QByteArray(43, '#') + "\nobj Menu(1) {\n  menuName = \"Main\"\n"
                              "  obj Button(2) { bT = Source bV = 7 }\n}\n";

private slots:
    void packCheckUnpackRoundTrip()
    {
        write("a.pcsl", m_text);
        for (bool compress : {false, true}) {
            QStringList args = {"pack", path("a.pcsl"), path("a.cfg")};
            if (compress)
                args.insert(1, "--compress");
            Run r = pcslpack(args);
            QCOMPARE(r.status, 0);
            const QByteArray file = read("a.cfg");
            QVERIFY(file.startsWith("CONFIG"));
            const QByteArray payload = file.mid(10);
            QCOMPARE(file.mid(6, 4).toHex().toInt(nullptr, 16), file.size());
            QCOMPARE(payload.startsWith("#####"), !compress);

            r = pcslpack({"check", path("a.cfg")});
            QCOMPARE(r.status, 0);
            QVERIFY2(r.out.contains("CRC-16/XMODEM: " + crcText(payload) + "\n"), r.out.constData());
            QVERIFY(r.out.contains(compress ? "compressed PCSL payload" : "plain PCSL payload"));
            QVERIFY(r.out.contains("parse result: 0 (2 objects, 3 properties"));

            r = pcslpack({"check", "--verbose", path("a.cfg")});
            QVERIFY(r.out.contains("  Button(2) {\n"));
            QVERIFY(r.out.contains("bT = \"Source\""));

            r = pcslpack({"unpack", path("a.cfg"), path("back.pcsl")});
            QCOMPARE(r.status, 0);
            QCOMPARE(read("back.pcsl"), m_text);
        }
    }

    void packAddsTheHashLine()
    {
        write("bare.pcsl", "a = 1\n");
        Run r = pcslpack({"pack", path("bare.pcsl"), path("bare.cfg")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.contains("note:"));
        QCOMPARE(read("bare.cfg").mid(10), QByteArray(43, '#') + "\na = 1\n");
    }

    void checkReportsSyntaxErrors()
    {
        write("bad.cfg", container(QByteArray(43, '#') + "\nobj Menu 5 { }\n"));
        Run r = pcslpack({"check", path("bad.cfg")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains("Line 2: Syntax error (5) expecting '(' \n"), r.out.constData());
        QVERIFY(r.out.contains("parse result: -1"));
    }

    void badInput()
    {
        QCOMPARE(pcslpack({}).status, 2);
        QCOMPARE(pcslpack({"frobnicate"}).status, 2);
        QCOMPARE(pcslpack({"pack", path("only-one")}).status, 2);

        Run r = pcslpack({"check", path("missing.cfg")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("cannot read"));

        write("magic.cfg", "CONFIX" + QByteArray(20, '#'));
        r = pcslpack({"check", path("magic.cfg")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("incorrect config header"));

        write("zero.cfg", container(QByteArray(10, '#'), 0));
        r = pcslpack({"unpack", path("zero.cfg"), path("x.pcsl")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("config file too big (0)"), r.err.constData());
        QVERIFY(!QFile::exists(path("x.pcsl")));

        write("short.cfg", container(QByteArray(10, '#'), 5));
        QCOMPARE(pcslpack({"check", path("short.cfg")}).status, 1);

        write("cut.cfg", container(QByteArray(10, '#'), 500));
        r = pcslpack({"check", path("cut.cfg")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("truncated"));

        // Not PCSL: a panel would take it as a binary configuration.
        write("bin.cfg", container(QByteArray::fromHex("0102030405060708")));
        r = pcslpack({"unpack", path("bin.cfg"), path("y.pcsl")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("binary configuration"));
        QCOMPARE(pcslpack({"check", path("bin.cfg")}).status, 1);

        // Too large for a panel: refused, and nothing written.
        QByteArray big = QByteArray(43, '#') + '\n';
        for (int i = 0; big.size() < 140000; ++i)
            big += "obj Src(" + QByteArray::number(i) + ") { name = \"S" + QByteArray::number(i * 7919) + "\" }\n";
        write("big.pcsl", big);
        r = pcslpack({"pack", path("big.pcsl"), path("big.cfg")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("at most 131071"));
        QVERIFY(r.err.contains("--compress"));
        QVERIFY(!QFile::exists(path("big.cfg")));
        // Compressed it fits, and reads back.
        QCOMPARE(pcslpack({"pack", "--compress", path("big.pcsl"), path("big.cfg")}).status, 0);
        QVERIFY(read("big.cfg").size() <= 131071);
        QCOMPARE(pcslpack({"unpack", path("big.cfg"), path("big.back")}).status, 0);
        QCOMPARE(read("big.back"), big);
    }
};

QTEST_GUILESS_MAIN(TestPcslpack)
#include "tst_pcslpack.moc"
