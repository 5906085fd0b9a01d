// The host's open-files limit: raising the soft limit, counting what is
// open, and the rule and message for a panel start that does not fit.

#include "kst_open_files.h"

#include <QTest>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

class TestOpenFiles : public QObject
{
    Q_OBJECT

private slots:
    void fitRule()
    {
        const int reserve = KST_HOST_OPEN_FILES_RESERVE;
        // Exactly at the limit still fits; one more does not.
        QVERIFY(KST_openFilesFit(100, 100 - reserve - 8 - 4, 8, 4));
        QVERIFY(!KST_openFilesFit(100, 100 - reserve - 8 - 4 + 1, 8, 4));
        // Promised descriptors count like open ones.
        QVERIFY(!KST_openFilesFit(100, 10, 100 - reserve - 10 - 4 + 1, 4));
        // No limit.
        QVERIFY(KST_openFilesFit(-1, 1 << 30, 1 << 30, 1000));
    }

    // The one message names the limit, the hard limit and how to raise it.
    void messageTellsLimitAndRemedy()
    {
        KST_OpenFilesLimit l;
        l.soft = 1024;
        l.hard = 1024;
        const QString m = KST_openFilesMessage(l, 1010, 8);
        QVERIFY2(m.contains(QStringLiteral("open-files limit of 1024 (ulimit -n; hard limit 1024)")), qPrintable(m));
        QVERIFY(m.contains(QStringLiteral("1010 open or promised")));
        QVERIFY(m.contains(QStringLiteral("a panel needs 8")));
        QVERIFY(m.contains(QStringLiteral("ulimit -Hn")));
        QVERIFY(m.contains(QStringLiteral("LimitNOFILE")));
        l.hard = -1;
        QVERIFY(KST_openFilesMessage(l, 1, 8).contains(QStringLiteral("hard limit unlimited")));
    }

    // The soft limit goes up to the hard limit; the count sees a
    // descriptor come and go; a start beyond the soft limit is refused
    // with the message, one within it is not.
    void raiseCountAndRefuse()
    {
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit low = saved;
        low.rlim_cur = 256;
        if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max <= 256)
            QSKIP("hard limit too low to test raising");
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        QCOMPARE(KST_openFilesLimit().soft, 256L);
        const KST_OpenFilesLimit raised = KST_raiseOpenFilesLimit();
        QVERIFY(raised.soft > 256);
        if (saved.rlim_max != RLIM_INFINITY)
            QCOMPARE(raised.soft, long(saved.rlim_max));
        QCOMPARE(KST_openFilesLimit().soft, raised.soft);

        const int before = KST_openFileCount();
        QVERIFY(before >= 3);
        const int fd = ::open("/dev/null", O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(KST_openFileCount(), before + 1);
        ::close(fd);
        QCOMPARE(KST_openFileCount(), before);

        // Room for exactly one panel of 4 over what is open now.
        low.rlim_cur = rlim_t(before + KST_HOST_OPEN_FILES_RESERVE + 4);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        QString why;
        QVERIFY(KST_panelStartFits(4, 0, &why));
        QVERIFY(why.isEmpty());
        QVERIFY(!KST_panelStartFits(4, 1, &why));
        QVERIFY2(why.startsWith(QStringLiteral("panel start refused: the open-files limit of ")), qPrintable(why));
        QVERIFY(!KST_panelStartFits(5, 0, nullptr));
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);
    }
};

QTEST_GUILESS_MAIN(TestOpenFiles)
#include "tst_open_files.moc"
