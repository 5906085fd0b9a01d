// cfg.xml survives the program being killed in the middle of a save: a
// child process saves a large panel set over and over and is killed with
// SIGKILL at a random moment, many times; each time the file reads back
// whole, as one of the saves wrote it.

#include "arch_archi.h"
#include "arch_itemi.h"
#include "panelset_file.h"
#include "../../support/child_process.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestDataKill : public QObject
{
    Q_OBJECT

private slots:
    void killDuringSaveLeavesWholeFile()
    {
        const int racks = 40, perRack = 25;
        QTemporaryDir base;
        QVERIFY(base.isValid());
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(base.path()));
        const QString path = base.filePath(QStringLiteral("cfg.xml"));
        QVERIFY(writePanelSet(path, racks, perRack));

        QRandomGenerator random(20261208);
        int lastRound = 0;
        int midWrite = 0;
        for (int attempt = 0; attempt < 25; ++attempt) {
            ChildProcess saver;
            QVERIFY(saver.start(QStringLiteral(CFG_SAVER), {path}));
            // Some saves are done, the next is under way when the kill comes.
            QVERIFY2(saver.waitForOutput("saved 2\n", 30000), saver.output().constData());
            QTest::qWait(int(random.bounded(1, 60)));
            saver.signal(SIGKILL);
            QVERIFY(saver.waitForExit(10000));
            QCOMPARE(saver.exitCode(), -1);

            // Exactly the panel set of one save: every panel, all renamed in
            // the same round.
            arch::Archi archi;
            QVERIFY2(archi.loadFile(path), qPrintable(QStringLiteral("attempt %1").arg(attempt)));
            const arch::Itemi *list = archi.root()->child(QStringLiteral("racks"));
            QVERIFY(list);
            QCOMPARE(int(list->children().size()), racks);
            QSet<QString> rounds;
            int panels = 0;
            for (const arch::Itemi *rack : list->children()) {
                const arch::Itemi *ps = rack->child(QStringLiteral("panel"));
                QVERIFY(ps);
                for (const arch::Itemi *p : ps->children()) {
                    QString name;
                    p->get(QStringLiteral("name"), name);
                    rounds.insert(name.section(QLatin1Char('-'), 1));
                    ++panels;
                }
            }
            QCOMPARE(panels, racks * perRack);
            QCOMPARE(rounds.size(), 1);
            const int round = rounds.values().first().mid(1).toInt();
            QVERIFY(round >= 1);
            lastRound = round;
            // No half-written temporary file is taken for the panel set.
            const QStringList left = QDir(base.path()).entryList(
                {QStringLiteral("cfg.xml*")}, QDir::Files);
            QVERIFY2(left.contains(QStringLiteral("cfg.xml")), qPrintable(left.join(' ')));
            // The file holds the last save that was reported done, or the
            // one under way when its new file had just been put in place.
            const QList<QByteArray> lines = saver.output().trimmed().split('\n');
            int saved = 0, saving = 0;
            for (const QByteArray &l : lines) {
                if (l.startsWith("saved "))
                    saved = l.mid(6).toInt();
                else if (l.startsWith("saving "))
                    saving = l.mid(7).toInt();
            }
            QVERIFY2(round == saved || round == saving,
                     qPrintable(QStringLiteral("file round %1, saved %2, saving %3")
                                    .arg(round).arg(saved).arg(saving)));
            if (saving > saved)
                ++midWrite;
        }
        QVERIFY(lastRound >= 1);
        qInfo("%d of 25 kills came during a save", midWrite);
        QVERIFY(midWrite >= 3);
    }
};

QTEST_GUILESS_MAIN(TestDataKill)
#include "tst_data_kill.moc"
