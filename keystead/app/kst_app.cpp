#include "kst_app.h"

#include "kst_data.h"
#include "kst_dirs.h"
#include "kst_panelmanager.h"
#include "kst_remoteaccess.h"
#include "kst_panelset_lock.h"
#include "kst_version.h"
#include "lib_debugwindow.h"
#include "pan_imagecontainer.h"

#include <QDir>
#include <QIcon>
#include <QPixmap>
#include <QtDebug>

KST_App::KST_App(int &argc, char **argv, const QString &applicationName)
    : QApplication(argc, argv)
{
    setApplicationDisplayName(applicationName);
    setApplicationVersion(QStringLiteral(KST_VERSION));
    setDesktopFileName(QStringLiteral("keystead"));

    m_commandLine = KST_CommandLine::parse(arguments());
    if (m_commandLine.action != KST_CommandLine::Run)
        return;
    if (!m_commandLine.baseDir.isEmpty()) {
        // A directory named on the command line is one the user wants used:
        // it is made when missing.
        const QString dir = QDir(m_commandLine.baseDir).absolutePath();
        if (!QDir().mkpath(dir)) {
            m_commandLine.action = KST_CommandLine::Error;
            m_commandLine.error = QStringLiteral("cannot create the base directory %1").arg(dir);
            return;
        }
        KST_setBaseDirOption(dir);
    }

    // An unusable base directory leaves the panel set without a file: it
    // works, and says so, but stores nothing.
    const QString base = baseDir();
    if (!base.isEmpty()) {
        // The panel set is this program's alone while it runs; a panelrun
        // running it keeps Keystead off it, and the other way round.
        m_panelSetLock = std::make_unique<KST_PanelSetLock>(base);
        QString why;
        switch (m_panelSetLock->acquire(&why)) {
        case KST_PanelSetLock::Acquired:
            break;
        case KST_PanelSetLock::HeldByOther:
            m_panelSetRefusal = m_panelSetLock->inUseText();
            m_panelSetLock.reset();
            return;
        case KST_PanelSetLock::Unavailable:
            qWarning("no lock on the panel set (%s); running anyway (%s,%d)", qPrintable(why),
                     __FILE__, __LINE__);
            break;
        }
    }
    m_data = new KST_Data(base.isEmpty() ? QString() : base + QStringLiteral("/cfg.xml"));
    // The faces are built later, in the timed start-up: their pictures come
    // from the directory given (either spelling, -imdir or --imdir).
    if (!m_commandLine.imageDir.isEmpty()) {
        m_images = std::make_unique<PAN_ImageContainer>(m_commandLine.imageDir, nullptr);
        m_data->setImageContainer(m_images.get());
    }
    m_remote = std::make_unique<KST_RemoteAccess>(m_data);
    m_mainWindow = new KST_PanelManager(m_data);
    m_mainWindow->setRemoteAccess(m_remote.get());
    m_data->setMainWindow(m_mainWindow);
    connect(m_mainWindow, &QObject::destroyed, this, &KST_App::mainWindowDestroyed);
    initialize(applicationName);
}

void KST_App::initialize(const QString &applicationName)
{
    m_initError.clear();
    // Ends the event loop without QGuiApplication::quit()'s closing of every
    // window on the way out: a rack window that gets a close event is
    // hidden and stored as hidden, so the program would come back without
    // the rack windows that were open when it ended.
    connect(this, &QGuiApplication::lastWindowClosed, this, &KST_App::endEventLoop);

    QPixmap pixmap;
    if (!pixmap.load(QStringLiteral(":/images2/app_icon.png"))) {
        m_initError = QStringLiteral("Failed to load app icon.");
        qWarning("%s (%s,%d)", qPrintable(m_initError), __FILE__, __LINE__);
    } else {
        QIcon icon;
        icon.addPixmap(pixmap);
        setWindowIcon(icon);
        m_mainWindow->setWindowIcon(icon);
        m_mainWindow->setWindowTitle(applicationName);
        if (!m_mainWindow->initialize()) {
            qCritical("main window initialisation failed (%s,%d)", __FILE__, __LINE__);
            disconnect(m_mainWindow, nullptr, this, nullptr);
            m_data->setMainWindow(nullptr);
            delete m_mainWindow;
            m_mainWindow = nullptr;
        }
    }

    if (m_initError.isEmpty() && m_commandLine.logWindow) {
        m_logWindow = LIB_DebugWindow::instance(applicationName + QStringLiteral(" log"));
        // The log window alone does not keep the program running.
        m_logWindow->setAttribute(Qt::WA_QuitOnClose, false);
    }

    qDebug("############BUILD DATE %s", KST_BUILD_DATE);
    qDebug("############VERSION %s", KST_VERSION);
}

KST_App::~KST_App()
{
    delete m_logWindow;
    if (m_mainWindow) {
        disconnect(m_mainWindow, nullptr, this, nullptr);
        m_mainWindow->shutdown();
    }
    m_remote.reset(); // it reads the panel set
    delete m_data;
    m_data = nullptr;
    if (m_mainWindow) {
        m_mainWindow->deleteLater();
        m_mainWindow = nullptr;
        // The event loop has ended: carry out the deletion now.
        sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void KST_App::endEventLoop()
{
    exit(0);
}

void KST_App::mainWindowDestroyed()
{
    m_mainWindow = nullptr;
    if (m_data)
        m_data->setMainWindow(nullptr);
    if (m_logWindow)
        m_logWindow->deleteLater();
    m_logWindow = nullptr;
}
