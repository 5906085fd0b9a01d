// panelrun --trace against the router simulator: a take, from the key
// press to the tally, on standard error as trace lines, and the same lines
// in the panel directory's trace.txt. The marker file panelrun created is
// gone when it ends.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Key 5 presets source 6, key 7 takes it to destination 1 on level V.
const char CONFIG_TEXT[] =
    "obj Configsettings() { numSources=16 numDestinations=16 numLevels=1 }\n"
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
    "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
    " obj Btn(5) { bT=\"Source Preset\" bV=6 } obj Btn(7) { bT=\"Take\" } } } }\n";

QByteArray configFile()
{
    const QByteArray payload = QByteArray(43, '#') + "\n" + CONFIG_TEXT;
    const quint32 n = quint32(payload.size() + 10);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

} // namespace

class TestPanelrunTrace : public QObject
{
    Q_OBJECT

    QProcess m_router, m_panel;
    QByteArray m_err;

    bool waitErr(const QString &pattern, int timeoutMs = 5000)
    {
        const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
        QElapsedTimer t;
        t.start();
        while (!re.match(QString::fromLatin1(m_err)).hasMatch() && t.elapsed() < timeoutMs) {
            m_panel.waitForReadyRead(50);
            m_err += m_panel.readAllStandardError();
            m_panel.readAllStandardOutput();
            m_router.readAllStandardOutput();
        }
        return re.match(QString::fromLatin1(m_err)).hasMatch();
    }

private slots:
    void takeFromKeyToTally()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString config = dir.filePath(QStringLiteral("cfgSK2000A"));
        QFile f(config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(configFile());
        f.close();

        m_router.start(QStringLiteral(ROUTERSIM), {QStringLiteral("--bind"), QStringLiteral("127.0.0.96:2001"),
                                                   QStringLiteral("--panel"), QStringLiteral("127.0.0.95:42430"),
                                                   QStringLiteral("--poll-ms"), QStringLiteral("500")});
        m_panel.start(QStringLiteral(PANELRUN),
                      {QStringLiteral("--ip"), QStringLiteral("127.0.0.95"), QStringLiteral("--port"),
                       QStringLiteral("42430"), QStringLiteral("--workdir"), dir.path(), QStringLiteral("--trace")});
        QVERIFY(m_router.waitForStarted() && m_panel.waitForStarted());
        QVERIFY2(waitErr(QStringLiteral("^state 0 ST_ONLINE$")), m_err.constData());
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("TRACE"))));
        QVERIFY2(waitErr(QStringLiteral("^trace +\\d+\\.\\d{3} in  127\\.0\\.0\\.96:2001 seq id \\d+ ack \\d+ ext 0 \\| O on poll$")),
                 m_err.constData());

        m_panel.write("press 5\nsleep 100\nrelease 5\nsleep 100\npress 7\nsleep 100\nrelease 7\n");
        QVERIFY2(waitErr(QStringLiteral("^trace +\\d+\\.\\d{3} --- key 7 pressed$")), m_err.constData());
        QVERIFY2(waitErr(QStringLiteral("^trace +\\d+\\.\\d{3} out 127\\.0\\.0\\.96:2001 seq id \\d+ ack \\d+ ext 0 \\| "
                                        "Q \"\\.SV001,006\\\\r\" take levels V dest 1 src 6$")),
                 m_err.constData());
        QVERIFY2(waitErr(QStringLiteral("^trace +\\d+\\.\\d{3} in  127\\.0\\.0\\.96:2001 seq id \\d+ ack \\d+ ext 0 \\| "
                                        "Q \"\\.UV001,006\\\\r\" tally levels V dest 1 src 6$")),
                 m_err.constData());
        m_panel.write("sleep 200\nstop\n");
        m_panel.closeWriteChannel();
        QVERIFY(m_panel.waitForFinished(10000));
        m_err += m_panel.readAllStandardError();
        QCOMPARE(m_panel.exitCode(), 0);
        m_router.write("quit\n");
        if (!m_router.waitForFinished(3000))
            m_router.kill();

        // Standard error carried the file's lines, in order, all of them.
        QByteArray printed;
        for (const QByteArray &l : m_err.split('\n'))
            if (l.startsWith("trace "))
                printed += l.mid(6) + '\n';
        QFile trace(dir.filePath(QStringLiteral("trace.txt")));
        QVERIFY(trace.open(QIODevice::ReadOnly));
        QCOMPARE(printed, trace.readAll());
        QVERIFY(printed.left(printed.indexOf('\n')).endsWith("--- trace on"));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("TRACE"))));
    }
};

QTEST_GUILESS_MAIN(TestPanelrunTrace)
#include "tst_panelrun_trace.moc"
