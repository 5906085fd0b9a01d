// The program's command line and its single-instance lock, in one process.

#include "kst_commandline.h"
#include "kst_single_instance.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestAppParts : public QObject
{
    Q_OBJECT

private slots:
    void commandLine()
    {
        using L = KST_CommandLine;
        const QString prog = QStringLiteral("keystead");
        L l = L::parse({prog});
        QCOMPARE(l.action, L::Run);
        QVERIFY(!l.logWindow);
        QVERIFY(l.baseDir.isEmpty());

        l = L::parse({prog, "--logwindow", "--basedir", "/x/y", "-imdir", "pics"});
        QCOMPARE(l.action, L::Run);
        QVERIFY(l.logWindow);
        QCOMPARE(l.baseDir, QStringLiteral("/x/y"));
        QCOMPARE(l.imageDir, QStringLiteral("pics"));
        // Single-dash long names and --name=value as well.
        l = L::parse({prog, "-logwindow", "--basedir=/z"});
        QVERIFY(l.logWindow);
        QCOMPARE(l.baseDir, QStringLiteral("/z"));

        QCOMPARE(L::parse({prog, "--version"}).action, L::ShowVersion);
        QCOMPARE(L::parse({prog, "-h"}).action, L::ShowHelp);
        l = L::parse({prog, "--nosuch"});
        QCOMPARE(l.action, L::Error);
        QVERIFY2(l.error.contains("nosuch"), qPrintable(l.error));
        QCOMPARE(L::parse({prog, "--basedir"}).action, L::Error);
        QCOMPARE(L::parse({prog, "--basedir", ""}).action, L::Error);
        QCOMPARE(L::parse({prog, "extra"}).action, L::Error);

        // Help and version are seen before the application exists, among
        // Qt's own options, and never in an option's value.
        QCOMPARE(L::earlyAction({prog, "-platform", "offscreen", "--version"}), L::ShowVersion);
        QCOMPARE(L::earlyAction({prog, "--help", "--version"}), L::ShowHelp);
        QCOMPARE(L::earlyAction({prog, "-?"}), L::ShowHelp);
        QCOMPARE(L::earlyAction({prog, "--basedir", "-v"}), L::Run);
        QCOMPARE(L::earlyAction({prog, "-imdir", "--help"}), L::Run);
        QCOMPARE(L::earlyAction({prog, "v", "help"}), L::Run);
        QCOMPARE(L::earlyAction({prog, "--", "--version"}), L::Run);
        QCOMPARE(L::earlyAction({prog, "--logwindow"}), L::Run);

        QVERIFY(L::versionText().startsWith("keystead 1.1.1.7 (build date "));
        const QString help = L::helpText();
        QVERIFY2(help.startsWith("Usage: keystead"), qPrintable(help));
        QVERIFY(help.contains("--basedir <DIR>"));
    }

    void singleInstance()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        {
            KST_SingleInstance first(dir.path());
            QCOMPARE(first.acquire(), KST_SingleInstance::Acquired);
            QCOMPARE(first.acquire(), KST_SingleInstance::Acquired); // held already
            QCOMPARE(first.path(), dir.filePath("keystead.lock"));
            QVERIFY(QFile::exists(first.path()));

            // The holder runs (this process): the lock is not stale, however
            // old it is.
            KST_SingleInstance second(dir.path());
            QCOMPARE(second.acquire(), KST_SingleInstance::HeldByOther);
            QFile aged(first.path());
            QVERIFY(aged.open(QIODevice::Append));
            QVERIFY(aged.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                     QFileDevice::FileModificationTime));
            aged.close();
            QCOMPARE(second.acquire(), KST_SingleInstance::HeldByOther);

            // Elsewhere is another machine-wide name.
            QTemporaryDir other;
            KST_SingleInstance third(other.path());
            QCOMPARE(third.acquire(), KST_SingleInstance::Acquired);
        }
        // Released with its holder.
        QVERIFY(!QFile::exists(dir.filePath("keystead.lock")));
        KST_SingleInstance again(dir.path());
        QCOMPARE(again.acquire(), KST_SingleInstance::Acquired);

        // A lock left by a process that no longer runs is taken over.
        QTemporaryDir stale;
        QFile f(stale.filePath("keystead.lock"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("999999999\nkeystead\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        f.close();
        KST_SingleInstance taker(stale.path());
        QCOMPARE(taker.acquire(), KST_SingleInstance::Acquired);

        // No place for the lock at all: said so, not taken for a running copy.
        KST_SingleInstance nowhere(dir.filePath("missing/dir"));
        QString why;
        QCOMPARE(nowhere.acquire(&why), KST_SingleInstance::Unavailable);
        QVERIFY2(why.contains("keystead.lock"), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestAppParts)
#include "tst_app_parts.moc"
