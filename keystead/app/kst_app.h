#ifndef KST_APP_H
#define KST_APP_H

// KST_App: the Keystead application. It reads its command line, builds the
// panel set (KST_Data, which reads <base dir>/cfg.xml at once and starts
// itself in two timed steps once the event loop runs) and the main window,
// and, with --logwindow, the log window. The program's entry (main.cpp)
// keeps a second copy from running and runs the event loop under the crash
// handler.
//
// Destruction, after the event loop: the log window goes, the main window
// stores its geometry and header state into the panel set and lets go of
// it, the panel set saves pending changes and deletes racks and panels
// (every panel stops and unloads its firmware), then the main window goes.

#include "kst_commandline.h"
#include "lib_debugwindow.h"

#include <QApplication>
#include <QPointer>
#include <QString>

#include <memory>

class KST_Data;
class KST_RemoteAccess;
class KST_PanelSetLock;
class PAN_ImageContainer;
class KST_PanelManager;


class KST_App : public QApplication
{
    Q_OBJECT

public:
    // argc and argv as main received them (Qt's own options are taken out);
    // the application name is the windows' title.
    KST_App(int &argc, char **argv, const QString &applicationName);
    ~KST_App() override;

    // The command line as read; action Error when it could not be read (then
    // there is no panel set and no main window).
    const KST_CommandLine &commandLine() const { return m_commandLine; }
    KST_Data *data() const { return m_data; }
    KST_RemoteAccess *remoteAccess() const { return m_remote.get(); }
    // Null when its initialisation failed.
    KST_PanelManager *mainWindow() const { return m_mainWindow; }
    LIB_DebugWindow *logWindow() const { return m_logWindow; }
    // "Failed to load app icon." when the icon was missing, else empty.
    QString initError() const { return m_initError; }
    // Why the program does not run on its base directory: another program
    // (panelrun) holds the panel set's lock ("The panel set in DIR is in use
    // by panelrun (process N)."). Then there is no panel set and no main
    // window. Empty when the panel set is this program's.
    QString panelSetRefusal() const { return m_panelSetRefusal; }

public slots:
    // Ends the event loop with status 0, leaving every window as it is.
    void endEventLoop();

private slots:
    void mainWindowDestroyed();

private:
    void initialize(const QString &applicationName);

    KST_CommandLine m_commandLine;
    KST_Data *m_data = nullptr;
    KST_PanelManager *m_mainWindow = nullptr;
    QPointer<LIB_DebugWindow> m_logWindow;
    QString m_initError;
    QString m_panelSetRefusal;
    // Held while the program runs on its base directory.
    std::unique_ptr<KST_PanelSetLock> m_panelSetLock;
    // The face pictures of --imdir; outlives the panel set.
    std::unique_ptr<PAN_ImageContainer> m_images;
    std::unique_ptr<KST_RemoteAccess> m_remote;
};

#endif
