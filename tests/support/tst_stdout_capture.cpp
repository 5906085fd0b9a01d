// A check that fails while standard output is captured still shows Qt
// Test's failure report (and what was captured), in a child run of this
// executable.

#include "stdout_capture.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

class TestStdoutCapture : public QObject
{
    Q_OBJECT

private slots:
    void failureShowsWhileCaptured()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESS_CAPTURE_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("failingCheckUnderCapture")});
        QVERIFY(child.waitForFinished(30000));
        const QByteArray out = child.readAllStandardOutput();
        QCOMPARE(child.exitCode(), 1);
        QVERIFY2(out.contains("FAIL!  : TestStdoutCapture::failingCheckUnderCapture() Compared values are not the same"),
                 out.constData());
        QVERIFY(out.contains("diagnostic before the failure"));
        QVERIFY(out.contains("Totals: 2 passed, 1 failed"));

        // A passing check under capture prints nothing of what was captured.
        QProcess quiet;
        quiet.setProcessEnvironment(env);
        quiet.start(QCoreApplication::applicationFilePath(), {QStringLiteral("passingCheckUnderCapture")});
        QVERIFY(quiet.waitForFinished(30000));
        QCOMPARE(quiet.exitCode(), 0);
        QVERIFY(!quiet.readAllStandardOutput().contains("diagnostic"));
    }

    // Run only in the child.
    void failingCheckUnderCapture()
    {
        if (qEnvironmentVariableIsEmpty("TESS_CAPTURE_CHILD"))
            QSKIP("run by failureShowsWhileCaptured");
        StdoutCapture out;
        printf("diagnostic before the failure\n");
        QCOMPARE(1 + 1, 3);
    }

    void passingCheckUnderCapture()
    {
        if (qEnvironmentVariableIsEmpty("TESS_CAPTURE_CHILD"))
            QSKIP("run by failureShowsWhileCaptured");
        StdoutCapture out;
        printf("diagnostic of a passing check\n");
        QCOMPARE(out.text(), QByteArray("diagnostic of a passing check\n"));
    }
};

QTEST_GUILESS_MAIN(TestStdoutCapture)
#include "tst_stdout_capture.moc"
