// rackwinbench: what one rack window full of faces costs the GUI thread
// while a tally storm changes their keys.
//
//   rackwinbench [--panels N] [--seconds S] [--settle S] [--storm-rate R]
//                [--type NAME] [--keys K] [--width W] [--router-ip ADDR] [--panel-ip ADDR]
//                [--port-base P] [--routersim PATH] [--library PATH]
//                [--no-storm]
//
// Builds a panel set (KST_Data) with one rack of N panels (default 50), each
// a real KST_PanelInstance with its own copy of the firmware library and its
// face in the rack's window, all visible. Every panel gets the same
// configuration (--keys, default 32, the SK1400A's LCD keys): its keys show, as legend, the source routed to
// destinations 1..K (the first three quarters of its keys), the rest are
// source keys of destination 1, lit by routing. A routersim process on
// --router-ip serves the panels (--panel-range) with D = K destinations and
// a tally storm of R random crosspoint changes a second (default 400), each
// sent to every panel: every legend key changes about R / K times a second,
// and the source keys change colour as often as destination 1 changes.
//
// The window is made as tall as the faces at width W (default 480) need, so
// that every face is on the screen (run under a virtual X server with a
// tall screen, see the summary line's "exposed" count). After all panels are
// online, the storm runs --settle seconds (default 3); then for --seconds
// (default 20) it counts:
//   frames  - repaint passes of the rack window: update requests delivered to
//             the window after which at least one widget inside it was
//             painted (one composed and flushed frame each);
//   paints  - paint events of widgets inside the window (a face repainting
//             its view counts once per pass it is dirty in);
//   GUI thread CPU - CLOCK_THREAD_CPUTIME_ID of this (the GUI) thread;
//   process CPU - CLOCK_PROCESS_CPUTIME_ID (the firmware and FTP threads too).
// One summary line on standard output; the panels' diagnostics are dropped.
// Target: 30 frames/s with the GUI thread below one core.
// Exit status 0, 1 when the panels did not come online or routersim failed,
// 2 for bad options.

#include "kst_data.h"
#include "kst_panelinstance.h"
#include "kst_rack.h"
#include "kst_rackwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Settings
{
    int panels = 50;
    int seconds = 20;
    int settle = 3;
    int stormRate = 400;
    bool storm = true;
    QString type = QStringLiteral("SK1400A");
    int width = 480;
    int keys = 32; // the SK1400A's
    QString routerIp = QStringLiteral("127.0.0.81");
    QString panelIp = QStringLiteral("127.0.0.82");
    int portBase = 27000;
    QString routersim = QStringLiteral(ROUTERSIM_PATH);
    QString library = QStringLiteral(TESSFW_LIBRARY);
};

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 0);
}

// A configuration of keys keys: legends of the sources routed to
// destinations 1..dests, then source keys of destination 1.
QByteArray configFile(int keys, int dests, int sources)
{
    QByteArray text = "obj Configsettings() { numSources=" + QByteArray::number(sources)
                      + " numDestinations=" + QByteArray::number(dests) + " numLevels=1 }\n"
                      + "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
                        "obj KnownSources() {\n";
    for (int s = 1; s <= sources; ++s)
        text += " obj Source(" + QByteArray::number(s) + ") { sN=\"CAM " + QByteArray::number(s)
                + "\" }\n";
    text += "}\nobj KnownDestinations() {\n";
    for (int d = 1; d <= dests; ++d)
        text += " obj Destination(" + QByteArray::number(d) + ") { dN=\"MON " + QByteArray::number(d)
                + "\" }\n";
    text += "}\nobj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
            "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n";
    for (int k = 1; k <= keys; ++k) {
        if (k <= dests)
            text += " obj Btn(" + QByteArray::number(k) + ") { bT=\"Current Source Display\" bV="
                    + QByteArray::number(k) + " }\n";
        else
            text += " obj Btn(" + QByteArray::number(k) + ") { bT=\"Source\" bV="
                    + QByteArray::number(k - dests) + " }\n";
    }
    text += "} } }\n";
    const QByteArray payload = QByteArray(43, '#') + "\n" + text;
    const quint32 n = quint32(payload.size() + 10);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

template <typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts the rack window's repaint passes, the paints inside it and, per
// face, the passes that repainted it.
class FrameCounter : public QObject
{
public:
    FrameCounter(QWidget *window, const QList<QWidget *> &faces)
        : m_window(window), m_faces(faces), m_faceFrames(faces.size(), 0),
          m_inPass(faces.size(), false)
    {
    }

    void reset()
    {
        m_frames = m_paints = 0;
        std::fill(m_faceFrames.begin(), m_faceFrames.end(), 0L);
        m_open = false;
        m_inFrame = 0;
        std::fill(m_inPass.begin(), m_inPass.end(), false);
    }
    void finish() { closeFrame(); }
    long frames() const { return m_frames; }
    long paints() const { return m_paints; }
    long faceFrames(int i) const { return m_faceFrames.at(i); }

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::UpdateRequest && o == m_window) {
            closeFrame();
            m_open = true;
        } else if (e->type() == QEvent::Paint && o->isWidgetType()) {
            auto *w = static_cast<QWidget *>(o);
            if (w->window() != m_window)
                return false;
            ++m_paints;
            ++m_inFrame;
            for (QWidget *p = w; p && p != m_window; p = p->parentWidget()) {
                const int i = m_faces.indexOf(p);
                if (i >= 0) {
                    m_inPass[i] = true;
                    break;
                }
            }
        }
        return false;
    }

private:
    void closeFrame()
    {
        if (m_open && m_inFrame > 0)
            ++m_frames;
        for (int i = 0; i < m_inPass.size(); ++i)
            if (m_inPass[i]) {
                ++m_faceFrames[i];
                m_inPass[i] = false;
            }
        m_open = false;
        m_inFrame = 0;
    }

    QWidget *m_window;
    QList<QWidget *> m_faces;
    QVector<long> m_faceFrames;
    QVector<bool> m_inPass;
    long m_frames = 0;
    long m_paints = 0;
    long m_inFrame = 0;
    bool m_open = false;
};

void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    fprintf(stderr, "%s\n", qPrintable(text));
    if (type == QtFatalMsg)
        abort();
}

bool parse(const QStringList &a, Settings *s)
{
    bool ok = true;
    for (int i = 1; i < a.size() && ok; ++i) {
        const QString &o = a.at(i);
        const bool more = i + 1 < a.size();
        if (o == QLatin1String("--panels") && more)
            s->panels = a[++i].toInt(&ok);
        else if (o == QLatin1String("--seconds") && more)
            s->seconds = a[++i].toInt(&ok);
        else if (o == QLatin1String("--settle") && more)
            s->settle = a[++i].toInt(&ok);
        else if (o == QLatin1String("--storm-rate") && more)
            s->stormRate = a[++i].toInt(&ok);
        else if (o == QLatin1String("--no-storm"))
            s->storm = false;
        else if (o == QLatin1String("--type") && more)
            s->type = a[++i];
        else if (o == QLatin1String("--keys") && more)
            s->keys = a[++i].toInt(&ok);
        else if (o == QLatin1String("--width") && more)
            s->width = a[++i].toInt(&ok);
        else if (o == QLatin1String("--router-ip") && more)
            s->routerIp = a[++i];
        else if (o == QLatin1String("--panel-ip") && more)
            s->panelIp = a[++i];
        else if (o == QLatin1String("--port-base") && more)
            s->portBase = a[++i].toInt(&ok);
        else if (o == QLatin1String("--routersim") && more)
            s->routersim = a[++i];
        else if (o == QLatin1String("--library") && more)
            s->library = a[++i];
        else
            ok = false;
    }
    return ok && s->panels >= 1 && s->panels <= 500 && s->seconds >= 1 && s->settle >= 0
           && s->stormRate >= 1 && s->width >= 50 && s->keys >= 2 && s->keys <= 128 && s->portBase > 0
           && s->portBase + s->panels < 45000;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Settings s;
    if (!parse(app.arguments(), &s)) {
        fprintf(stderr, "usage: rackwinbench [--panels N] [--seconds S] [--settle S] [--storm-rate R]\n"
                        "                    [--type NAME] [--keys K] [--width W] [--router-ip ADDR] [--panel-ip ADDR]\n"
                        "                    [--port-base P] [--routersim PATH] [--library PATH] [--no-storm]\n");
        return 2;
    }
    qInstallMessageHandler(quietHandler);
    // The firmware's own diagnostics go to standard output; the summary goes
    // to the original one.
    const int savedOut = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0)
        dup2(devNull, STDOUT_FILENO);
    FILE *out = fdopen(savedOut, "w");
    if (!out)
        out = stderr;

    QTemporaryDir base;
    qputenv("TESSALINE_BASE_DIR", QFile::encodeName(base.path()));
    KST_Data data(base.filePath(QStringLiteral("cfg.xml")));
    PAN_WidgetOptions options;
    options.splash = false;
    data.setFaceOptions(options);
    data.setFirmwareSource(s.library);

    const int typeIndex = data.panelInfo()->typeIndex(s.type);
    if (typeIndex <= 0) {
        fprintf(stderr, "rackwinbench: unknown panel type %s\n", qPrintable(s.type));
        return 2;
    }
    const int keys = s.keys;
    const int dests = std::max(1, keys * 3 / 4);
    const int sources = std::max(2, keys - dests);
    const QByteArray config = configFile(keys, dests, sources);

    QList<KST_PanelInstance *> panels;
    for (int i = 0; i < s.panels; ++i) {
        KST_PanelInstance *p = data.addPanel(0);
        const QModelIndex index = data.indexOfItem(p);
        data.setData(index.siblingAtColumn(KST_Data::ColType), s.type);
        data.setData(index.siblingAtColumn(KST_Data::ColIP), s.panelIp);
        data.setData(index.siblingAtColumn(KST_Data::ColPort), s.portBase + i);
        // Started here, not by the panel set's timed start.
        p->setShouldAutostart(false);
        QDir().mkpath(QFileInfo(p->configPath()).path());
        QFile f(p->configPath());
        if (!f.open(QIODevice::WriteOnly) || f.write(config) != config.size()) {
            fprintf(stderr, "rackwinbench: cannot write %s\n", qPrintable(p->configPath()));
            return 1;
        }
        panels.append(p);
    }
    KST_Rack *rack = data.rack(0);
    KST_RackWidgetResizer *frame = rack->frame();
    KST_RackWidget *window = rack->window();

    QProcess router;
    router.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    router.setStandardOutputFile(QProcess::nullDevice());
    router.start(s.routersim,
                 {QStringLiteral("--bind"), s.routerIp + QStringLiteral(":2001"),
                  QStringLiteral("--panel-range"),
                  QStringLiteral("%1:%2-%3").arg(s.panelIp).arg(s.portBase).arg(s.portBase + s.panels - 1),
                  QStringLiteral("--levels"), QStringLiteral("1"), QStringLiteral("--dests"),
                  QString::number(dests), QStringLiteral("--sources"), QString::number(sources),
                  QStringLiteral("--quiet")});
    if (!router.waitForStarted(5000)) {
        fprintf(stderr, "rackwinbench: cannot start %s\n", qPrintable(s.routersim));
        return 1;
    }

    for (KST_PanelInstance *p : panels)
        if (!p->start(0)) {
            fprintf(stderr, "rackwinbench: %s did not start\n", qPrintable(p->summary()));
            return 1;
        }
    const auto allOnline = [&] {
        if (router.state() == QProcess::NotRunning)
            return true;
        return std::all_of(panels.begin(), panels.end(),
                           [](KST_PanelInstance *p) { return p->isOnline(); });
    };
    if (!waitUntil(allOnline, 60000 + 1000 * s.panels) || router.state() == QProcess::NotRunning) {
        const long online = std::count_if(panels.begin(), panels.end(),
                                          [](KST_PanelInstance *p) { return p->isOnline(); });
        fprintf(stderr, "rackwinbench: only %ld of %d panels online\n", online, s.panels);
        router.kill();
        router.waitForFinished(2000);
        return 1;
    }

    // Tall enough for every face at the width, as far as the screen allows.
    waitUntil([&] { return !window->isAnimating(); }, 5000);
    frame->resize(s.width, 200);
    runFor(300);
    const QRect avail = frame->screen()->availableGeometry();
    const int needed = window->contentHeight() + 2 * window->frameWidth();
    frame->setGeometry(avail.left(), avail.top(), s.width, std::min(needed, avail.height()));
    runFor(1000);
    int exposed = 0;
    const QRect view(QPoint(0, 0), window->viewport()->size());
    for (KST_PanelInstance *p : panels) {
        const QRect g(p->face()->mapTo(window->viewport(), QPoint(0, 0)), p->face()->size());
        exposed += p->face()->isVisible() && view.contains(g);
    }

    if (s.storm) {
        router.write(QByteArray("storm ") + QByteArray::number(s.stormRate) + "\n");
        router.waitForBytesWritten(1000);
    }
    runFor(1000 * s.settle);

    QList<QWidget *> faces;
    for (KST_PanelInstance *p : panels)
        faces.append(p->face());
    FrameCounter counter(frame, faces);
    app.installEventFilter(&counter);
    counter.reset();
    QElapsedTimer wall;
    const double gui0 = threadCpuSeconds();
    const double proc0 = processCpuSeconds();
    wall.start();
    runFor(1000 * s.seconds);
    const double secs = wall.nsecsElapsed() / 1e9;
    const double gui = threadCpuSeconds() - gui0;
    const double proc = processCpuSeconds() - proc0;
    counter.finish();
    app.removeEventFilter(&counter);
    const long online = std::count_if(panels.begin(), panels.end(),
                                      [](KST_PanelInstance *p) { return p->isOnline(); });

    // A face's frame rate: the repaint passes of the window that drew it.
    double faceMean = 0, faceMin = 1e9;
    for (int i = 0; i < faces.size(); ++i) {
        const double r = counter.faceFrames(i) / secs;
        faceMean += r / faces.size();
        faceMin = std::min(faceMin, r);
    }
    fprintf(out,
            "rackwinbench: %d %s faces (%d keys), window %dx%d, %d fully exposed, %ld online; "
            "storm %s; faces drawn %.1f frames/s (slowest face %.1f); window %.0f repaint passes/s, "
            "%.0f paints/s; GUI thread %.2f cores; process %.2f cores; %.1f s; load %s\n",
            s.panels, qPrintable(s.type), keys, frame->width(), frame->height(), exposed, online,
            s.storm ? qPrintable(QStringLiteral("%1 changes/s over %2 destinations")
                                     .arg(s.stormRate)
                                     .arg(dests))
                    : "off",
            faceMean, faceMin, counter.frames() / secs, counter.paints() / secs, gui / secs,
            proc / secs, secs, qPrintable(loadAverage()));
    fflush(out);

    router.write("quit\n");
    router.waitForBytesWritten(1000);
    if (!router.waitForFinished(3000))
        router.kill();
    for (KST_PanelInstance *p : panels)
        p->stop();
    waitUntil([&] {
        return std::all_of(panels.begin(), panels.end(), [](KST_PanelInstance *p) {
            return p->state() == KST_PanelInstance::Stopped;
        });
    }, 30000);
    return online == s.panels ? 0 : 1;
}
