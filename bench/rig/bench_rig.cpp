#include "bench_rig.h"

#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

BenchRig::BenchRig(const char *tool, bool verbose) : m_tool(tool), m_verbose(verbose)
{
    QObject::connect(&host, &PanelHost::stateReported, [this](TFW_IFirmwareCallback::StateMsg m) {
        if (m == TFW_IFirmwareCallback::ST_ONLINE)
            m_online = true;
    });
}

BenchRig::~BenchRig()
{
    restoreStdout();
}

bool BenchRig::writeConfig(const QString &type, const QByteArray &text)
{
    m_config = m_dir.path() + QStringLiteral("/cfg") + type;
    const QByteArray payload = QByteArray(43, '#') + "\n" + text;
    const quint32 n = quint32(payload.size() + 10);
    QByteArray file("CONFIG");
    file.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    file += payload;
    QFile f(m_config);
    if (!m_dir.isValid() || !f.open(QIODevice::WriteOnly) || f.write(file) < 0) {
        fprintf(stderr, "%s: cannot write the configuration\n", m_tool);
        return false;
    }
    f.close();

    fflush(stdout);
    m_savedOut = dup(STDOUT_FILENO);
    m_devNull = open("/dev/null", O_WRONLY);
    if (!m_verbose)
        dup2(m_devNull, STDOUT_FILENO);
    return true;
}

bool BenchRig::startRouter(RouterSim *sim, const QString &routerIp, const QString &panelIp, int port, int pollMs)
{
    QString error;
    if (!sim->bind(QHostAddress(routerIp), 2001, &error)) {
        fprintf(stderr, "%s: cannot bind %s:2001: %s\n", m_tool, qPrintable(routerIp), qPrintable(error));
        return false;
    }
    sim->addPanel(QHostAddress(panelIp), quint16(port));
    sim->setPollInterval(pollMs);
    return true;
}

bool BenchRig::startPanel(const QString &type, const QString &panelIp, int port)
{
    if (!host.load(QStringLiteral(TESSFW_BUILT_LIBRARY), m_dir.path())) {
        fprintf(stderr, "%s: %s\n", m_tool, qPrintable(host.errorString()));
        return false;
    }
    host.firmware()->start(type, panelIp, port, m_config);
    return true;
}

void BenchRig::finish()
{
    if (TFW_IFirmware *fw = host.firmware())
        fw->stop();
    waitUntil([] { return false; }, 100);
    host.unload();
    restoreStdout();
}

void BenchRig::restoreStdout()
{
    if (m_savedOut < 0)
        return;
    fflush(stdout);
    dup2(m_savedOut, STDOUT_FILENO);
    close(m_savedOut);
    close(m_devNull);
    m_savedOut = m_devNull = -1;
}

bool benchOption(const QStringList &args, int &i, BenchOptions *o)
{
    const QString &a = args[i];
    const bool more = i + 1 < args.size();
    if (a == QLatin1String("--type") && more)
        o->type = args[++i];
    else if (a == QLatin1String("--router") && more)
        o->routerIp = args[++i];
    else if (a == QLatin1String("--panel") && more)
        o->panelIp = args[++i];
    else if (a == QLatin1String("--port") && more)
        o->port = args[++i].toInt();
    else if (a == QLatin1String("--verbose"))
        o->verbose = true;
    else
        return false;
    return true;
}

void benchPause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(const std::vector<double> &sorted, double p)
{
    const size_t i = size_t(p * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(i, sorted.size() - 1)];
}
