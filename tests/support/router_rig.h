#ifndef ROUTER_RIG_H
#define ROUTER_RIG_H

// A panel (panelrun) and the router simulator (routersim) on loopback, for
// driving the panel with key scripts and watching both sides: what the
// router receives and sends (its "rx"/"tx" lines), and every button-driver
// record panelrun reports on standard error ("bd ..." lines), kept in order
// with a mark so that a test can look at what came after a step. The
// programs are PANELRUN and ROUTERSIM, defined by the test's build.

#include "pcsl_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>


// The last record of the given kind ("color", "text") for an id, or "".
inline QString lastRecord(const QStringList &records, const char *kind, int id)
{
    const QString prefix = QStringLiteral("%1 %2 ").arg(QLatin1String(kind)).arg(id);
    QString found;
    for (const QString &r : records)
        if (r.startsWith(prefix))
            found = r;
    return found;
}

class RouterRig
{
public:
    // The router on routerIp:2001 (polling every 300 ms), the panel of the
    // model on panelIp:port with the configuration file's bytes.
    bool start(const QString &model, const QString &routerIp, const QString &panelIp, int port,
               const QByteArray &file, const QStringList &routerArgs, QString *why)
    {
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary directory");
            return false;
        }
        const QString config = m_dir.path() + QStringLiteral("/cfg") + model;
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly) || f.write(file) != file.size()) {
            *why = QStringLiteral("cannot write ") + config;
            return false;
        }
        f.close();
        m_panelName = panelIp + QLatin1Char(':') + QString::number(port);
        router.start(QStringLiteral(ROUTERSIM),
                     QStringList{QStringLiteral("--bind"), routerIp + QStringLiteral(":2001"), QStringLiteral("--panel"),
                                 m_panelName, QStringLiteral("--poll-ms"), QStringLiteral("300")}
                         + routerArgs);
        panel.start(QStringLiteral(PANELRUN),
                    {QStringLiteral("--type"), model, QStringLiteral("--ip"), panelIp, QStringLiteral("--port"),
                     QString::number(port), QStringLiteral("--config"), config, QStringLiteral("--workdir"),
                     m_dir.path(), QStringLiteral("--until-signal")});
        if (!router.waitForStarted() || !panel.waitForStarted()) {
            *why = QStringLiteral("cannot start the programs");
            return false;
        }
        if (!waitPanel("state 3 ST_CONFIG_LOADED") || !waitPanel("state 0 ST_ONLINE")) {
            *why = QString::fromLatin1(perr);
            return false;
        }
        // The router's ON POLL answered.
        if (!waitRouter(QStringLiteral("rx "), QStringLiteral("\\] y"), 20000)) {
            *why = QString::fromLatin1(rout);
            return false;
        }
        return true;
    }

    // The panel alone, without a router: with a configuration file that
    // does not exist it stays offline and shows the comms display.
    bool startPanelOnly(const QString &model, const QString &panelIp, int port, QString *why)
    {
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary directory");
            return false;
        }
        m_panelName = panelIp + QLatin1Char(':') + QString::number(port);
        panel.start(QStringLiteral(PANELRUN),
                    {QStringLiteral("--type"), model, QStringLiteral("--ip"), panelIp, QStringLiteral("--port"),
                     QString::number(port), QStringLiteral("--config"), m_dir.path() + QStringLiteral("/none"),
                     QStringLiteral("--workdir"), m_dir.path(), QStringLiteral("--until-signal")});
        if (!panel.waitForStarted() || !waitPanel("state 8 ST_RUNNING")) {
            *why = QString::fromLatin1(perr);
            return false;
        }
        return true;
    }

    ~RouterRig()
    {
        panel.terminate();
        panel.waitForFinished(5000);
        if (router.state() != QProcess::NotRunning) {
            router.write("quit\n");
            if (!router.waitForFinished(3000))
                router.kill();
        }
    }

    // Key script lines for panelrun ("press 3", "sleep 80", ...).
    void keys(const QByteArray &lines)
    {
        panel.write(lines);
        panel.waitForBytesWritten(2000);
    }

    // A command line for the simulator ("q .IV002\\r").
    void routerCommand(const QByteArray &line)
    {
        router.write(line);
        router.waitForBytesWritten(2000);
    }

    // Reads what the programs printed for ms milliseconds.
    void settle(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            readSome(20);
    }

    bool waitPanel(const QByteArray &text, int timeoutMs = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (!perr.contains(text) && t.elapsed() < timeoutMs)
            readSome(50);
        return perr.contains(text);
    }

    // Waits until every pattern matches a record after the mark.
    bool waitRecords(const QStringList &patterns, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            bool all = true;
            const QStringList seen = recordsSinceMark();
            for (const QString &p : patterns) {
                const QRegularExpression re(QStringLiteral("^") + p + QStringLiteral("$"));
                if (std::none_of(seen.begin(), seen.end(), [&](const QString &r) { return re.match(r).hasMatch(); }))
                    all = false;
            }
            if (all)
                return true;
            if (t.elapsed() >= timeoutMs)
                return false;
            readSome(50);
        }
    }

    // A datagram the router received from the panel, or sent to it, whose
    // text matches the pattern.
    bool waitRouterRx(const QString &pattern, int timeoutMs = 5000)
    {
        return waitRouter(QStringLiteral("rx "), pattern, timeoutMs);
    }
    bool waitRouterTx(const QString &pattern, int timeoutMs = 5000)
    {
        return waitRouter(QStringLiteral("tx "), pattern, timeoutMs);
    }
    bool waitRouter(const QString &direction, const QString &pattern, int timeoutMs)
    {
        const QRegularExpression re(direction + QRegularExpression::escape(m_panelName)
                                    + QStringLiteral(" [^\\n]*") + pattern);
        QElapsedTimer t;
        t.start();
        while (!re.match(QString::fromLatin1(rout)).hasMatch() && t.elapsed() < timeoutMs)
            readSome(50);
        return re.match(QString::fromLatin1(rout)).hasMatch();
    }

    // The records panelrun reported, "bd " dropped, in order.
    QStringList records() const
    {
        QStringList out;
        // Whole lines only: the last one may still be arriving.
        for (const QByteArray &line : perr.left(perr.lastIndexOf('\n') + 1).split('\n'))
            if (line.startsWith("bd "))
                out.append(QString::fromLatin1(line.mid(3)));
        return out;
    }

    void mark() { m_mark = records().size(); }
    QStringList recordsSinceMark() const { return records().mid(m_mark); }

    QProcess router, panel;
    QByteArray perr, rout;

private:
    void readSome(int ms)
    {
        panel.waitForReadyRead(ms / 2);
        perr += panel.readAllStandardError();
        panel.readAllStandardOutput();
        if (router.state() != QProcess::NotRunning) {
            router.waitForReadyRead(ms / 2);
            rout += router.readAllStandardOutput();
        }
    }

    QTemporaryDir m_dir;
    QString m_panelName;
    qsizetype m_mark = 0;
};

#endif
