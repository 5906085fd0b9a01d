// The trace file of the Qt platform layer: the marker file, appending whole
// lines, and the one rotation at 10 MiB ("trace.txt" becomes "trace.txt.1",
// replacing the older one, and a new file starts).

#include "panels_main.h"
#include "plat.h"
#include "recording_host.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

const qint64 kCap = 10LL * 1024 * 1024;

// A chunk of whole 100-byte lines numbered from *next.
QByteArray lines(int count, int *next)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        QByteArray l = QByteArray::number((*next)++).rightJustified(9, '0');
        l += ' ';
        l += QByteArray(89, 'x');
        l += '\n';
        out += l;
    }
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int firstNumber(const QByteArray &text)
{
    return text.left(9).toInt();
}

} // namespace

class TestTraceFile : public QObject
{
    Q_OBJECT

    RecordingHost m_host;
    QTemporaryDir m_dir;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const QByteArray cfg = QFile::encodeName(path("cfgSK2000A"));
        memcpy(p.config_path, cfg.constData(), size_t(cfg.size()));
        panels_loop_init(p);
        panels_close_sockets();
    }

    void markerFile()
    {
        QVERIFY(!plat_trace_marker());
        QFile f(path("TRACE"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(plat_trace_marker());
        QVERIFY(QFile::remove(path("TRACE")));
        QVERIFY(!plat_trace_marker());
    }

    void rotationKeepsOneOlderFile()
    {
        int next = 0;
        // 10.5 MiB in chunks of 64000 bytes: one rotation.
        for (int i = 0; i < 172; ++i) {
            const QByteArray chunk = lines(640, &next);
            plat_trace_write(chunk.constData(), int(chunk.size()));
        }
        QByteArray old = readAll(path("trace.txt.1"));
        QByteArray cur = readAll(path("trace.txt"));
        QVERIFY(old.size() <= kCap && old.size() > kCap - 64000);
        QVERIFY(cur.size() > 0 && cur.size() < kCap);
        // Nothing lost, nothing cut: the lines run on from one file to the
        // next.
        QCOMPARE(firstNumber(old), 0);
        QCOMPARE(int((old.size() + cur.size()) / 100), next);
        QCOMPARE(firstNumber(cur), int(old.size() / 100));
        QVERIFY(old.endsWith('\n'));

        // Closed and opened again (the trace switched off and on): appended,
        // and the size so far counts towards the cap.
        plat_trace_close();
        const int firstOfCurrent = firstNumber(cur);
        while (QFile(path("trace.txt")).size() + 64000 <= kCap) {
            const QByteArray chunk = lines(640, &next);
            plat_trace_write(chunk.constData(), int(chunk.size()));
        }
        QCOMPARE(firstNumber(readAll(path("trace.txt"))), firstOfCurrent);
        QCOMPARE(firstNumber(readAll(path("trace.txt.1"))), 0);
        const QByteArray chunk = lines(640, &next);
        plat_trace_write(chunk.constData(), int(chunk.size()));
        // The second rotation: the older file goes, the full one takes its
        // place, and there is no third.
        QCOMPARE(firstNumber(readAll(path("trace.txt.1"))), firstOfCurrent);
        QCOMPARE(readAll(path("trace.txt")), chunk);
        QVERIFY(!QFile::exists(path("trace.txt.2")));
        plat_trace_close();
    }

    // Without a configuration path the panel has no directory: no marker
    // is looked for and nothing is written anywhere.
    void noDirectoryNoTrace()
    {
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        panels_loop_init(p);
        panels_close_sockets();
        QVERIFY(!plat_trace_marker());
        plat_trace_write("x\n", 2);
        plat_trace_close();
        QVERIFY(!QFile::exists(QStringLiteral("trace.txt")));
    }
};

QTEST_GUILESS_MAIN(TestTraceFile)
#include "tst_trace_file.moc"
