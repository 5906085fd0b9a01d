// Keystead's entry: one copy per machine, the application, the crash
// handler around the event loop.

#include "kst_app.h"
#include "kst_remoteaccess.h"
#include "kst_commandline.h"
#include "kst_crash_handler.h"
#include "kst_dirs.h"
#include "kst_open_files.h"
#include "kst_single_instance.h"
#include "lib_message_handler.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char kAlreadyRunning[] = "Keystead is already running.";

QStringList rawArguments(int argc, char **argv)
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list.append(QString::fromLocal8Bit(argv[i]));
    return list;
}

// The platform Qt will use: "-platform NAME" on the command line, else
// QT_QPA_PLATFORM; empty for Qt's default.
QString platformName(const QStringList &args)
{
    for (int i = 1; i + 1 < args.size(); ++i)
        if (args.at(i) == QLatin1String("-platform") || args.at(i) == QLatin1String("--platform"))
            return args.at(i + 1);
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

bool headlessPlatform(const QString &platform)
{
    return platform.startsWith(QLatin1String("offscreen"))
           || platform.startsWith(QLatin1String("minimal"));
}

// Whether Qt can open its windows at all. Without a display the default
// platform aborts the process; a plain message says what is missing.
bool displayAvailable(const QString &platform)
{
    return !platform.isEmpty() || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The second copy gives up: the text on standard error and, where there is
// a screen, in a message box the user closes.
int alreadyRunning(int argc, char **argv, const QString &platform)
{
    LIB_MessageHandler::setShuttingDown(true);
    std::fprintf(stderr, "%s\n", kAlreadyRunning);
    if (headlessPlatform(platform))
        return 1;
    QApplication app(argc, argv);
    QMessageBox::information(nullptr, QStringLiteral("Keystead"),
                             QString::fromLatin1(kAlreadyRunning));
    return 1;
}

// The program's file, as the system runs it (symbolic links resolved).
QFileInfo programFile()
{
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
}

// The crash report goes to "main.dmp" in the program's directory. An
// installed program's directory cannot be written: then the base
// directory takes it (the temporary directory until the base directory is
// known).
bool programDirWritable()
{
    return QFileInfo(programFile().absolutePath()).isWritable();
}

void installCrashHandler(const QString &dir)
{
    const QByteArray path = QFile::encodeName(dir + QStringLiteral("/main.dmp"));
    if (!KST_installCrashHandler(path.constData()))
        std::fprintf(stderr, "keystead: could not install the crash handler for %s\n",
                     path.constData());
}

// SIGINT, SIGTERM and SIGHUP end the program as closing its window does:
// the panel set is saved and every panel stopped. A second one ends it at
// once. The handlers go in before the application is built, so a signal
// that comes early waits in the pipe until the event loop reads it.
int s_quitPipe[2] = {-1, -1};

void quitSignal(int sig)
{
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    const char c = char(sig);
    (void)!write(s_quitPipe[1], &c, 1);
}

bool catchQuitSignals()
{
    if (pipe2(s_quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "keystead: no pipe for the quit signals: %s\n", strerror(errno));
        return false;
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = quitSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    return true;
}

std::unique_ptr<QSocketNotifier> quitNotifier(KST_App *app)
{
    auto notifier = std::make_unique<QSocketNotifier>(s_quitPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, app, [app] {
        char c = 0;
        while (read(s_quitPipe[0], &c, 1) == 1)
            qDebug("signal %d: quitting", int(c));
        app->endEventLoop();
    });
    return notifier;
}

} // namespace

int main(int argc, char **argv)
{
    const QStringList args = rawArguments(argc, argv);
    const KST_CommandLine::Action early = KST_CommandLine::earlyAction(args);
    if (early == KST_CommandLine::ShowHelp) {
        std::fputs(qPrintable(KST_CommandLine::helpText()), stdout);
        return 0;
    }
    if (early == KST_CommandLine::ShowVersion) {
        std::fputs(qPrintable(KST_CommandLine::versionText()), stdout);
        return 0;
    }

    const QString platform = platformName(args);
    if (!displayAvailable(platform)) {
        std::fprintf(stderr,
                     "keystead: no display (DISPLAY and WAYLAND_DISPLAY are not set); run it "
                     "in a desktop session, or headless with QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }

    // The lock comes first: a second copy touches nothing of the panel set.
    // The lock records the holder's program name, by which a later start
    // tells a live holder from a dead one.
    QCoreApplication::setApplicationName(programFile().fileName());
    KST_SingleInstance instance;
    QString why;
    switch (instance.acquire(&why)) {
    case KST_SingleInstance::Acquired:
        break;
    case KST_SingleInstance::HeldByOther:
        return alreadyRunning(argc, argv, platform);
    case KST_SingleInstance::Unavailable:
        std::fprintf(stderr, "keystead: no single-instance lock (%s); running anyway\n",
                     qPrintable(why));
        break;
    }

    const bool dumpBesideProgram = programDirWritable();
    installCrashHandler(dumpBesideProgram ? programFile().absolutePath() : QDir::tempPath());
    const bool quitSignals = catchQuitSignals();
    // Hundreds of panels need more descriptors than the usual soft limit.
    KST_raiseOpenFilesLimit();
    LIB_MessageHandler::install();
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);

    auto app = std::make_unique<KST_App>(argc, argv, QStringLiteral("Tessaline"));
    switch (app->commandLine().action) {
    case KST_CommandLine::Run:
        break;
    case KST_CommandLine::Error:
        std::fprintf(stderr, "keystead: %s\nTry 'keystead --help'.\n",
                     qPrintable(app->commandLine().error));
        return 2;
    default: // help and version were answered above
        return 0;
    }
    if (!app->panelSetRefusal().isEmpty()) {
        // panelrun runs this panel set: Keystead touches nothing of it.
        const QString text = app->panelSetRefusal();
        LIB_MessageHandler::setShuttingDown(true);
        std::fprintf(stderr, "keystead: %s\n", qPrintable(text));
        if (!headlessPlatform(platform))
            QMessageBox::information(nullptr, QStringLiteral("Keystead"), text);
        app.reset();
        return 1;
    }
    if (!app->mainWindow()) {
        LIB_MessageHandler::setShuttingDown(true);
        app.reset();
        return 1;
    }
    if (!dumpBesideProgram) {
        const QString base = baseDir();
        if (!base.isEmpty())
            installCrashHandler(base);
    }

    if (!app->commandLine().httpAddress.isEmpty()) {
        QString why, made;
        if (!app->remoteAccess()->start(app->commandLine().httpAddress, app->commandLine().httpToken,
                                        &why, &made)) {
            std::fprintf(stderr, "keystead: %s\n", qPrintable(why));
            LIB_MessageHandler::setShuttingDown(true);
            app.reset();
            return 2;
        }
        if (!made.isEmpty())
            std::fprintf(stderr, "http-token %s (kept in %s)\n",
                         app->remoteAccess()->token().constData(), qPrintable(made));
        std::fprintf(stderr, "http %s\n", qPrintable(app->remoteAccess()->url()));
    }

    std::unique_ptr<QSocketNotifier> notifier = quitSignals ? quitNotifier(app.get()) : nullptr;
    const int rc = app->exec();
    LIB_MessageHandler::setShuttingDown(true);
    notifier.reset();
    app.reset();
    return rc;
}
