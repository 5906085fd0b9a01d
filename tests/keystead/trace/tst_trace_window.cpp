// The protocol trace window over trace files written by the test: the last
// lines on opening, following appended lines and the file's rotation, the
// view's line budget, pause and resume, search, save and clear, and the
// marker that switches the firmware's trace on while a window is open.

#include "kst_tracefollower.h"
#include "kst_tracewindow.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <memory>

namespace {

bool append(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Append) && f.write(data) == data.size();
}

QByteArray numbered(const char *prefix, int from, int to)
{
    QByteArray out;
    for (int i = from; i <= to; ++i)
        out += prefix + QByteArray::number(i) + '\n';
    return out;
}

QStringList numberedList(const char *prefix, int from, int to)
{
    QStringList out;
    for (int i = from; i <= to; ++i)
        out << QString::fromLatin1(prefix) + QString::number(i);
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestTraceWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString trace() const { return m_dir->filePath(QStringLiteral("trace.txt")); }
    QString marker() const { return m_dir->filePath(QStringLiteral("TRACE")); }

    std::unique_ptr<KST_TraceWindow> open(int tail, int budget)
    {
        KST_TraceWindow::Options o;
        o.tailLines = tail;
        o.viewLines = budget;
        o.pollMs = 20;
        return std::make_unique<KST_TraceWindow>(m_dir->path(), QStringLiteral("p7"), nullptr, o);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // The window opens with the end of a big file, an unfinished last line
    // shown once it is ended, then every appended line; the oldest lines go
    // beyond the budget.
    void opensWithTheLastLinesAndFollows()
    {
        QVERIFY(append(trace(), numbered("line ", 1, 50000) + "half"));
        auto w = open(2000, 3000);
        QCOMPARE(w->windowTitle(), QStringLiteral("Protocol trace - p7"));
        QCOMPARE(w->lines(), numberedList("line ", 48001, 50000));

        w->show();
        QVERIFY(append(trace(), " done\n" + numbered("more ", 1, 3)));
        QTRY_COMPARE(w->lines().size(), 2004);
        QCOMPARE(w->lines().mid(2000),
                 QStringList({"half done", "more 1", "more 2", "more 3"}));

        // 1500 more: the view keeps its 3000 newest lines.
        QVERIFY(append(trace(), numbered("burst ", 1, 1500)));
        QTRY_COMPARE(w->lines().last(), QStringLiteral("burst 1500"));
        QCOMPARE(w->lines().size(), 3000);
        QCOMPARE(w->lines().first(), QStringLiteral("line 48505"));
        QVERIFY(w->statusText().contains(QStringLiteral("3000 lines")));

        // More at once than the view holds: the lines that never fitted are
        // counted, the newest shown.
        QVERIFY(append(trace(), numbered("flood ", 1, 4000)));
        QTRY_COMPARE(w->lines().last(), QStringLiteral("flood 4000"));
        QCOMPARE(w->lines().size(), 3000);
        QCOMPARE(w->lines().first(), QStringLiteral("\u2026 1001 lines skipped"));
        QCOMPARE(w->lines().at(1), QStringLiteral("flood 1002"));
    }

    // A short or missing trace.txt: the end of trace.txt.1 comes first; a
    // file that appears later is read from its start.
    void tailAcrossTheRotationAndLateFiles()
    {
        QVERIFY(append(trace() + ".1", numbered("old ", 1, 100)));
        QVERIFY(append(trace(), numbered("new ", 1, 5)));
        auto w = open(50, 100);
        QCOMPARE(w->lines(), numberedList("old ", 56, 100) + numberedList("new ", 1, 5));
        w.reset();

        QVERIFY(QFile::remove(trace()));
        QVERIFY(QFile::remove(trace() + ".1"));
        w = open(50, 100);
        QVERIFY(w->lines().isEmpty());
        w->show();
        QVERIFY(append(trace(), numbered("first ", 1, 2)));
        QTRY_COMPARE(w->lines(), numberedList("first ", 1, 2));
    }

    // The firmware renames the full file and starts a new one, perhaps
    // between two looks of the window: nothing is lost, nothing doubled.
    void followsTheRotation()
    {
        QVERIFY(append(trace(), numbered("a ", 1, 3)));
        auto w = open(2000, 10000);
        w->show();
        QVERIFY(append(trace(), numbered("a ", 4, 6)));
        QTRY_COMPARE(w->lines().size(), 6);
        for (int round = 0; round < 3; ++round) {
            w->timer_poll();
            QVERIFY(append(trace(), "last of " + QByteArray::number(round) + "\n"));
            QFile::remove(trace() + ".1");
            QVERIFY(QFile::rename(trace(), trace() + ".1"));
            QVERIFY(append(trace(), "first of " + QByteArray::number(round + 1) + "\n"));
            w->timer_poll();
            QCOMPARE(w->lines().mid(w->lines().size() - 2),
                     QStringList({QStringLiteral("last of %1").arg(round),
                                  QStringLiteral("first of %1").arg(round + 1)}));
        }
        QCOMPARE(w->lines().size(), 12);
        QCOMPARE(readFile(trace()), QByteArray("first of 3\n"));
    }

    // Paused, the view stands still while the file is still read; resuming
    // shows what came, with a line for what did not fit the budget.
    void pauseAndResume()
    {
        QVERIFY(append(trace(), numbered("x ", 1, 10)));
        auto w = open(2000, 100);
        w->show();
        w->setPaused(true);
        QVERIFY(append(trace(), numbered("y ", 1, 20)));
        QTRY_COMPARE(w->pendingLines(), 20);
        QCOMPARE(w->lines(), numberedList("x ", 1, 10));
        QVERIFY(w->statusText().contains(QStringLiteral("paused, 20 new")));
        w->setPaused(false);
        QCOMPARE(w->lines(), numberedList("x ", 1, 10) + numberedList("y ", 1, 20));

        // Paused over a rotation and more than the budget.
        w->setPaused(true);
        QVERIFY(append(trace(), numbered("z ", 1, 150)));
        w->timer_poll();
        QVERIFY(QFile::rename(trace(), trace() + ".1"));
        QVERIFY(append(trace(), numbered("z ", 151, 250)));
        w->timer_poll();
        QCOMPARE(w->pendingLines(), 100);
        QVERIFY(w->statusText().contains(QStringLiteral("paused, 250 new")));
        QCOMPARE(w->lines().size(), 30);
        w->setPaused(false);
        QCOMPARE(w->lines(), QStringList(QStringLiteral("\u2026 151 lines skipped"))
                                 + numberedList("z ", 152, 250));
        QVERIFY(!w->isPaused());
    }

    // Case-insensitive, next and previous with wrap-around, every match
    // highlighted; Ctrl+F goes to the field.
    void searchFindsAndWraps()
    {
        QVERIFY(append(trace(), "1.000 out | Q \".SV001,006\\r\" take\n"
                                "1.100 in  | y accepted\n"
                                "1.200 in  | Q \".UV001,006\\r\" tally\n"
                                "1.300 out | Q \".SV002,003\\r\" Take\n"));
        auto w = open(2000, 100);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(w->searchField()->hasFocus());

        auto line = [&w] { return w->view()->textCursor().blockNumber(); };
        w->searchField()->setText(QStringLiteral("TAKE"));
        QCOMPARE(w->matchCount(), 2);
        QCOMPARE(w->view()->extraSelections().size(), 2);
        QVERIFY(w->findNext());
        QCOMPARE(line(), 0);
        QCOMPARE(w->view()->textCursor().selectedText(), QStringLiteral("take"));
        QVERIFY(w->findNext());
        QCOMPARE(line(), 3);
        QVERIFY(w->findNext());
        QCOMPARE(line(), 0);
        QVERIFY(w->statusText().contains(QStringLiteral("from the top")));
        QVERIFY(w->findPrevious());
        QCOMPARE(line(), 3);
        QTest::keyClick(w->searchField(), Qt::Key_Return);
        QCOMPARE(line(), 0);

        // New lines are searched too.
        QVERIFY(append(trace(), "1.400 take again\n"));
        QTRY_COMPARE(w->matchCount(), 3);
        w->searchField()->setText(QStringLiteral("no such thing"));
        QVERIFY(!w->findNext());
        QCOMPARE(line(), 0);
        QCOMPARE(w->matchCount(), 0);
        QVERIFY(w->statusText().contains(QStringLiteral("not found")));
    }

    // Save writes the view's lines exactly; clear empties the view and
    // leaves the file alone; the firmware's own files are not overwritten.
    void saveAndClear()
    {
        const QByteArray text = numbered("s ", 1, 30);
        QVERIFY(append(trace(), text));
        auto w = open(20, 100);
        QTemporaryDir out;
        const QString saved = out.filePath(QStringLiteral("copy.txt"));
        QString error;
        QVERIFY2(w->saveTo(saved, &error), qPrintable(error));
        QCOMPARE(readFile(saved), numbered("s ", 11, 30));

        w->clearView();
        QVERIFY(w->lines().isEmpty());
        QCOMPARE(readFile(trace()), text);
        QVERIFY(w->saveTo(saved, &error));
        QCOMPARE(readFile(saved), QByteArray());
        w->show();
        QVERIFY(append(trace(), "after\n"));
        QTRY_COMPARE(w->lines(), QStringList(QStringLiteral("after")));

        QVERIFY(!w->saveTo(trace(), &error));
        QVERIFY(error.contains(QStringLiteral("own trace file")));
        QVERIFY(!w->saveTo(m_dir->path() + QStringLiteral("/./trace.txt.1"), &error));
        QCOMPARE(readFile(trace()), text + "after\n");
        QVERIFY(!w->saveTo(out.filePath(QStringLiteral("no/such/dir/x.txt")), &error));
        QVERIFY(!error.isEmpty());
    }

    // The marker is there while any window of the directory is open; one
    // someone else put there stays.
    void markerWhileAWindowIsOpen()
    {
        auto a = open(10, 10);
        QVERIFY(!QFile::exists(marker()));
        a->show();
        QVERIFY(QFile::exists(marker()));
        QVERIFY(a->holdsMarker());
        auto b = std::make_unique<KST_TraceWindow>(m_dir->path() + QStringLiteral("/."),
                                                   QStringLiteral("again"));
        b->show();
        QCOMPARE(KST_TraceMarker::holders(m_dir->path()), 2);
        a->close();
        QVERIFY(QFile::exists(marker()));
        QVERIFY(!a->holdsMarker());
        b.reset(); // destroyed without a close
        QVERIFY(!QFile::exists(marker()));
        // Opened again after a close.
        a->show();
        QVERIFY(QFile::exists(marker()));
        a->close();
        QVERIFY(!QFile::exists(marker()));
        QCOMPARE(KST_TraceMarker::holders(m_dir->path()), 0);

        QVERIFY(append(marker(), ""));
        a->show();
        a->close();
        QVERIFY(QFile::exists(marker()));
        QVERIFY(QFile::remove(marker()));

        // A panel that never ran has no directory yet: it is made, so that
        // its first start traces.
        const QString fresh = m_dir->filePath(QStringLiteral("p9"));
        KST_TraceWindow c(fresh, QStringLiteral("p9"));
        c.show();
        QVERIFY(QFile::exists(fresh + QStringLiteral("/TRACE")));
        c.close();
        QVERIFY(!QFile::exists(fresh + QStringLiteral("/TRACE")));

        // A directory that cannot be made: the window says so and works.
        QVERIFY(append(m_dir->filePath(QStringLiteral("plain")), "x"));
        KST_TraceWindow d(m_dir->filePath(QStringLiteral("plain/p1")), QStringLiteral("p1"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not switched on")));
        d.show();
        QVERIFY(!d.holdsMarker());
        QVERIFY(d.statusText().contains(QStringLiteral("trace not switched on")));
        d.close();
    }
};

QTEST_MAIN(TestTraceWindow)
#include "tst_trace_window.moc"
