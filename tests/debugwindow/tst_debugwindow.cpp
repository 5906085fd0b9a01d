// The log window and the message handler: numbered coloured lines in the
// window, standard error, log.txt and its rotation, syslog datagrams, and
// lines logged from several threads at once.

#include "lib_debugwindow.h"
#include "lib_log_file.h"
#include "lib_message_handler.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QUdpSocket>

#include <unistd.h>

namespace {

// Collects what is written to standard error while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        m_saved = dup(STDERR_FILENO);
        dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { text(); }
    QByteArray text()
    {
        if (m_saved >= 0) {
            dup2(m_saved, STDERR_FILENO);
            close(m_saved);
            m_saved = -1;
        }
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

struct Fragment
{
    QString text;
    QColor colour;
};

// The window's lines, each as its coloured pieces.
QList<QList<Fragment>> windowLines(LIB_DebugWindow *w)
{
    w->flush(); // the lines of the batch not yet due
    QList<QList<Fragment>> lines;
    for (QTextBlock b = w->document()->begin(); b.isValid(); b = b.next()) {
        QList<Fragment> line;
        for (auto it = b.begin(); !it.atEnd(); ++it)
            line.append({it.fragment().text(), it.fragment().charFormat().foreground().color()});
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

QString plainLine(const QList<Fragment> &line)
{
    QString s;
    for (const Fragment &f : line)
        s += f.text;
    return s;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// How many descriptors of this process are open on the file.
static int descriptorsOf(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            ++n;
    }
    return n;
}

class TestDebugWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QUdpSocket m_syslog;

    QString logText() const { return QString::fromLocal8Bit(readFile(m_dir.path() + QStringLiteral("/log.txt"))); }

    // Every datagram received so far.
    QStringList datagrams()
    {
        QStringList all;
        while (m_syslog.waitForReadyRead(100) || m_syslog.hasPendingDatagrams()) {
            while (m_syslog.hasPendingDatagrams()) {
                QByteArray d(int(m_syslog.pendingDatagramSize()), '\0');
                m_syslog.readDatagram(d.data(), d.size());
                all.append(QString::fromUtf8(d));
            }
        }
        return all;
    }

private slots:
    void initTestCase()
    {
        // log.txt lands in the current directory.
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_syslog.setProxy(QNetworkProxy::NoProxy); // no proxy lookup thread
        QVERIFY(m_syslog.bind(QHostAddress::LocalHost, 0));
        LIB_MessageHandler::setSyslogPort(m_syslog.localPort());
    }

    void windowNumbersAndColoursItsLines()
    {
        StderrCapture err;
        LIB_DebugWindow *w = LIB_DebugWindow::instance(QStringLiteral("Log"));
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Log"));
        QVERIFY(w->isReadOnly());
        QCOMPARE(LIB_DebugWindow::instance(QStringLiteral("Log again")), w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Log again"));

        qDebug("second line");
        qCritical("third line");
        QCoreApplication::processEvents();

        const auto lines = windowLines(w);
        QCOMPARE(lines.size(), 3);
        // No revision info is built into this program: the warning is the
        // first line, once, though the window was asked for twice.
        QCOMPARE(lines[0].size(), 2);
        QCOMPARE(lines[0][0].text, QStringLiteral("0001:"));
        QCOMPARE(lines[0][0].colour, QColor(Qt::darkGreen));
        QVERIFY(lines[0][1].text.startsWith(QStringLiteral("could not read revision.info")));
        QCOMPARE(lines[0][1].colour, QColor(Qt::blue));
        QCOMPARE(lines[1][0].text, QStringLiteral("0002:"));
        QCOMPARE(lines[1][1].text, QStringLiteral("second line"));
        QCOMPARE(lines[1][1].colour, QColor(Qt::black));
        QCOMPARE(lines[2][0].text, QStringLiteral("0003:"));
        QCOMPARE(lines[2][1].colour, QColor(Qt::red));

        const QByteArray e = err.text();
        QVERIFY(e.contains("1,could not read revision.info"));
        QVERIFY(e.contains("0,second line\n2,third line\n"));
        QCOMPARE(logText().count(QStringLiteral("could not read revision.info")), 1);
        QVERIFY(logText().contains(QStringLiteral("second line\nthird line\n")));

        // A burst is appended in one batch, in order, without anyone
        // asking: within the batch interval.
        for (int i = 0; i < 300; ++i)
            qDebug("burst line %d", i);
        QVERIFY(!w->toPlainText().contains(QStringLiteral("burst line 0\n")));
        QTRY_VERIFY_WITH_TIMEOUT(w->toPlainText().contains(QStringLiteral("burst line 299\n")), 2000);
        const QString text = w->toPlainText();
        const int first = text.indexOf(QStringLiteral("0004:burst line 0\n"));
        QVERIFY(first > 0 && first < text.indexOf(QStringLiteral("0303:burst line 299\n")));
    }

    void hiddenOrDisabledWindowGetsNoLines()
    {
        LIB_DebugWindow *w = LIB_DebugWindow::existing();
        QVERIFY(w);
        const int before = windowLines(w).size();
        StderrCapture err;

        w->hide();
        qWarning("while hidden");
        w->show();
        w->setEnabled(false);
        qWarning("while disabled");
        w->setEnabled(true);
        qDebug("shown again");
        QCoreApplication::processEvents();

        const auto lines = windowLines(w);
        QCOMPARE(lines.size(), before + 1);
        QCOMPARE(plainLine(lines.last()),
                 QStringLiteral("%1:shown again").arg(before + 1, 4, 10, QLatin1Char('0')));
        const QByteArray e = err.text();
        QVERIFY(e.contains("1,while hidden\n1,while disabled\n0,shown again\n"));
        QVERIFY(logText().contains(QStringLiteral("while hidden\nwhile disabled\nshown again\n")));
    }

    void syslogDatagramPerLine()
    {
        datagrams(); // what the earlier lines sent
        StderrCapture err;
        qWarning("to syslog %d", 1);
        qCritical("to syslog %d", 2);
        qDebug("to syslog %%1 and %s", "more");
        const QStringList got = datagrams();
        QCOMPARE(got.size(), 3);
        const QRegularExpression re(QStringLiteral("^<(\\d)>(.+) pui:(.*)$"));
        const QStringList texts = {QStringLiteral("to syslog 1"), QStringLiteral("to syslog 2"),
                                   QStringLiteral("to syslog %1 and more")};
        const QStringList severities = {QStringLiteral("4"), QStringLiteral("2"),
                                        QStringLiteral("7")};
        for (int i = 0; i < 3; ++i) {
            const auto m = re.match(got[i]);
            QVERIFY2(m.hasMatch(), qPrintable(got[i]));
            QCOMPARE(m.captured(1), severities[i]);
            QVERIFY(QDateTime::fromString(m.captured(2), Qt::TextDate).isValid());
            QCOMPARE(m.captured(3), texts[i]);
        }

        // While the program shuts down: no datagram, no window line, but
        // standard error and the file still get the line.
        LIB_DebugWindow *w = LIB_DebugWindow::existing();
        const int before = windowLines(w).size();
        LIB_MessageHandler::setShuttingDown(true);
        qWarning("late line");
        LIB_MessageHandler::setShuttingDown(false);
        QCoreApplication::processEvents();
        QVERIFY(datagrams().isEmpty());
        QCOMPARE(windowLines(w).size(), before);
        QVERIFY(err.text().contains("1,late line\n"));
        QVERIFY(logText().endsWith(QStringLiteral("late line\n")));
    }

    // Lines from several threads at once stay whole everywhere, and each
    // number in the window sits next to its own text, in order.
    void linesFromManyThreadsStayWhole()
    {
        LIB_DebugWindow *w = LIB_DebugWindow::existing();
        const int before = windowLines(w).size();
        const int threads = 4, perThread = 300;
        StderrCapture err;
        QList<QThread *> workers;
        for (int t = 0; t < threads; ++t) {
            workers.append(QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qDebug("thread %d line %d", t, i);
            }));
            workers.last()->start();
        }
        for (QThread *th : workers) {
            QVERIFY(th->wait(30000));
            delete th;
        }
        QTRY_COMPARE(windowLines(w).size(), before + threads * perThread);

        const auto lines = windowLines(w);
        QList<int> next(threads, 0);
        const QRegularExpression re(QStringLiteral("^thread (\\d) line (\\d+)$"));
        for (int n = before; n < lines.size(); ++n) {
            QCOMPARE(lines[n].size(), 2);
            QCOMPARE(lines[n][0].text, QStringLiteral("%1:").arg(n + 1, 4, 10, QLatin1Char('0')));
            const auto m = re.match(lines[n][1].text);
            QVERIFY2(m.hasMatch(), qPrintable(lines[n][1].text));
            const int t = m.captured(1).toInt();
            QCOMPARE(m.captured(2).toInt(), next[t]++);
        }

        const QStringList errLines = QString::fromLocal8Bit(err.text()).split(QLatin1Char('\n'));
        const QStringList fileLines = logText().split(QLatin1Char('\n'));
        for (int t = 0; t < threads; ++t) {
            for (const QStringList &all : {errLines, fileLines}) {
                int seen = 0;
                for (const QString &l : all) {
                    const auto m = re.match(l.mid(l.startsWith(QStringLiteral("0,")) ? 2 : 0));
                    if (m.hasMatch() && m.captured(1).toInt() == t)
                        QCOMPARE(m.captured(2).toInt(), seen++);
                }
                QCOMPARE(seen, perThread);
            }
        }
    }

    void logFileRotatesAtItsLimit()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/log.txt");
        const QByteArray line(29, 'a');
        {
            LIB_LogFile f(path, 100);
            for (int i = 0; i < 3; ++i)
                QVERIFY(f.write(line + '\n'));
            QVERIFY(!QFile::exists(path + QStringLiteral(".1")));
            QVERIFY(f.write("fourth\n")); // 90 + 7 fits
            QVERIFY(f.write("fifth\n"));  // 97 + 6 does not
            QCOMPARE(readFile(path + QStringLiteral(".1")).count('\n'), 4);
            QCOMPARE(readFile(path), QByteArray("fifth\n"));
        }
        // A file already there counts with its size; a second rotation
        // replaces the first ".1".
        {
            LIB_LogFile f(path, 100);
            QVERIFY(f.write(QByteArray(95, 'b') + '\n'));
            QCOMPARE(readFile(path + QStringLiteral(".1")), QByteArray("fifth\n"));
            QCOMPARE(readFile(path), QByteArray(95, 'b') + '\n');
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);

        // The default limit is 10 MiB: filled exactly, no rotation; one
        // more byte, and the full file becomes ".1".
        QVERIFY(QFile::remove(path));
        LIB_LogFile f(path);
        const QByteArray mib(1024 * 1024 - 1, 'c');
        for (int i = 0; i < 10; ++i)
            QVERIFY(f.write(mib + '\n'));
        QCOMPARE(QFileInfo(path).size(), qint64(10 * 1024 * 1024));
        QCOMPARE(readFile(path + QStringLiteral(".1")), QByteArray("fifth\n"));
        QVERIFY(f.write("x"));
        QCOMPARE(QFileInfo(path + QStringLiteral(".1")).size(), qint64(10 * 1024 * 1024));
        QCOMPARE(readFile(path), QByteArray("x"));

        // The file stays open between lines: one descriptor, whatever the
        // number of lines written.
        for (int i = 0; i < 1000; ++i)
            QVERIFY(f.write("line\n"));
        QCOMPARE(descriptorsOf(path), 1);
        f.close();
        QCOMPARE(descriptorsOf(path), 0);

        // A file that cannot be opened fails the write, no more.
        LIB_LogFile bad(dir.path() + QStringLiteral("/missing/dir/log.txt"));
        QVERIFY(!bad.write("y\n"));
        QVERIFY(!bad.write("y\n"));
    }
};

QTEST_MAIN(TestDebugWindow)
#include "tst_debugwindow.moc"
