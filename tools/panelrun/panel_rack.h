#ifndef PANEL_RACK_H
#define PANEL_RACK_H

#include "tfw_interface.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class PanelHost;
class InjectedKeys;
class PAN_HeadlessFace;
namespace buttondriver {
class ButtonSetterImpl;
}
namespace collector {
class Injector;
}

// A rack of panels in one process, hosted as Keystead hosts each panel: a
// directory per panel holding its own copy of the firmware library, loaded
// through the host's firmware loader, so every panel has its own globals and
// its own firmware thread. Panel i (0-based) uses UDP port portBase + i of
// the one address.
//
// Or a given list of panels, each with its own type, address, port and
// directory (a Keystead panel set run headless, ListedPanel).
//
// Panels are started one after the other from the event loop, each after a
// check that its descriptors fit under the open-files limit; starts that do
// not fit are refused and reported together in one line. A panel that
// reports a bind error is stopped, as Keystead stops it. The rack reports
// each panel's events as lines through eventLine() and is finished once no
// panel is left starting, running or stopping.
class PanelRack : public QObject
{
    Q_OBJECT

public:
    // One panel of a given list: as Keystead runs a panel of its panel set,
    // in its own directory, with its configuration there (copied from the
    // type's built-in default when the directory has none).
    struct ListedPanel
    {
        QString type;
        QString ip;
        int port = 0;
        QString dir;        // the panel's directory, made when missing
        QString configPath; // its configuration file, in dir
        // The built-in default copied to configPath when that is missing
        // (":/config/cfg<type>"); empty: none.
        QString defaultConfig;
        // How the panel set names it (a remote client sees these).
        int uid = 0;
        QString name;
        QString rack;
        // The router controllers it accepts (empty: any), written to its
        // directory at each start as Keystead writes it.
        QStringList routers;
        // Whether it takes presses from remote clients.
        bool remotePresses = true;
    };

    struct Options
    {
        QString type = QStringLiteral("SK2000A");
        QString ip = QStringLiteral("127.0.0.1");
        int portBase = 2001;
        int count = 1;
        QString library;
        // One panel: the panel's own directory. Several: the directory that
        // holds one directory per panel, "p<port>".
        QString workDir;
        // One panel: its configuration path (empty: <workDir>/cfg<type>).
        // Several: a file copied into each panel's directory as cfg<type>
        // at every start (empty: each keeps what its directory holds).
        QString config;
        bool inject = false;
        // The router controller addresses the panels accept (empty: leave
        // whatever the panel's directory holds); written as each panel's
        // "allowed_routers" file, removed again when the rack goes.
        QStringList routers;
        // Whether firmware texts and button-driver records become event
        // lines (state lines do whenever eventLine is connected).
        bool textLines = true;
        bool recordLines = true;
        // Each panel keeps a face without drawing: its layout's items, and
        // a button driver that applies the firmware's records to them, so
        // that what every key shows can be read back.
        bool headlessFaces = false;
        // When not empty, the panels to run instead of count panels of type
        // on consecutive ports (type, ip, portBase, count, workDir and config
        // are then not used).
        std::vector<ListedPanel> panels;
    };

    struct Counts
    {
        int running = 0;   // loop running (ST_RUNNING seen, not stopping)
        int online = 0;    // running and online
        int offline = 0;   // running and not online
        int error = 0;     // start failed or refused, or a bind error
        int starting = 0;  // loaded, not yet running
        int loaded = 0;    // library copies loaded now
        int refused = 0;   // starts refused for the open-files limit
        int failed = 0;    // starts that failed in the host (copy, load, injector)
        int stuck = 0;     // firmware threads that would not stop
    };

    explicit PanelRack(const Options &options, QObject *parent = nullptr);
    ~PanelRack() override;

    int size() const { return int(m_panels.size()); }
    int port(int index) const { return m_panels[size_t(index)].port; }
    // Index of the panel at a port, -1 for none.
    int indexOfPort(int port) const;
    // How a remote client names panel index: the panel set's uid for a
    // listed panel, else its port; and the index of such a uid, -1 for none.
    int uidAt(int index) const;
    int indexOfUid(int uid) const;
    // The listed panel's name and rack (empty for a rack of count panels),
    // its type name and address.
    QString nameAt(int index) const;
    QString rackAt(int index) const;
    QString typeAt(int index) const;
    QString addressAt(int index) const;
    // Whether listed panel index takes presses from remote clients (false
    // for no such panel; a rack of count panels leaves that to its host).
    bool remotePressesAt(int index) const;
    QString panelDir(int index) const;

    // Starts every panel, one per event-loop pass.
    void startAll();
    // Stops every panel that runs or starts; panels not started yet are
    // not started any more.
    void stopAll();
    // Stops one panel; false for a port of no panel.
    bool stopPanel(int port);
    // Stops panel index on a client's request (startedOnRequest and
    // stoppedOnRequest tell a panel set to keep its mark); false when it
    // neither runs nor starts.
    bool stopPanelAt(int index);
    // A key event to the panel at port, or to every running panel for port
    // -1. Returns the number of panels it went to.
    int sendKey(int key, bool pressed, int port);
    // A key event to panel index; false when it does not run.
    bool sendKeyAt(int index, int key, bool pressed);

    Counts counts() const;

    // What a remote client reads of panel index (with headlessFaces).
    // "stopped", "starting", "started", "stopping" or "error".
    QString stateText(int index) const;
    QString errorText(int index) const;
    bool isOnline(int index) const;
    bool isConfigLoaded(int index) const;
    // The face's level file-less button driver and face, or null.
    buttondriver::ButtonSetterImpl *buttonSetter(int index) const;
    const PAN_HeadlessFace *face(int index) const;
    // A comm indication as Keystead's fades: channel 0 transmit, 1 receive,
    // 2 send failure; 4 right after the event, 0 half a second later.
    int commLevel(int index, int channel) const;
    // Starts panel index again when it has stopped or failed to start;
    // false with why when it runs or the rack is stopping.
    bool startPanelAt(int index, QString *why);
    // Every start attempted and no panel left starting, running or stopping.
    bool finished() const;
    // Every start attempted and none still starting: key commands reach
    // every panel that came up.
    bool settled() const;

    // Whether the panel at index is running (its loop started, not stopping).
    bool isRunning(int index) const;

signals:
    // A panel's start failed in the host or was refused (its index).
    void startFailed(int index);
    // One event of a panel (its port), as a line without the port:
    // "state 8 ST_RUNNING", "firmmsg ...", "bd ...", "injector ADDR:PORT".
    void eventLine(int port, const QByteArray &line);
    // A message about the rack itself (failed and refused starts).
    void rackMessage(const QByteArray &line);
    // settled() became true.
    void allSettled();
    // finished() became true.
    void allFinished();
    // A panel's state, online state or configuration changed.
    void panelChanged(int uid);
    // With headlessFaces: what these items of a panel show changed.
    void faceChanged(int uid, const QList<qint32> &ids);
    // A client started or stopped panel index (startPanelAt, stopPanelAt).
    void startedOnRequest(int index);
    void stoppedOnRequest(int index);
    // A panel sounded its buzzer.
    void beeped(int uid);

private:
    // Stuck: the thread would not stop; its copy stays loaded.
    enum class State { Idle, Starting, Running, Stopping, Finished, Failed, Stuck };

    struct Panel
    {
        int port = 0;
        State state = State::Idle;
        bool online = false;
        bool error = false;
        bool threadStarted = false; // ST_THREAD_STARTED seen
        bool stopWanted = false;
        int stopAttempts = 0;
        std::unique_ptr<PanelHost> host;
        std::unique_ptr<InjectedKeys> keys;
        std::unique_ptr<collector::Injector> injector;
        QString errorText;
        bool configLoaded = false;
        qint64 commEvent[3] = {-1000000, -1000000, -1000000};
        std::unique_ptr<PAN_HeadlessFace> face;
        std::unique_ptr<buttondriver::ButtonSetterImpl> setter;
    };
    void showFaceState(Panel &p, int kind);

    void startNext();
    bool startPanel(Panel &p);
    void failStart(Panel &p, const QString &why);
    void onState(int index, TFW_IFirmwareCallback::StateMsg msg);
    void onStateChange(int index, TFW_IFirmwareCallback::StateMsg msg);
    void requestStop(int index);
    void retryStop(int index);
    void unloadPanel(Panel &p);
    void reportRefusals();
    void checkFinished();
    bool prepareListedDir(int index, QString *why);
    int needed() const;
    int heldInReserve() const;

public:
    // "summary running R online O offline F error E starting S cpu C mem M
    // MiB/panel": the rack's counts, the cores the process used and its
    // resident memory per loaded panel.
    static QByteArray summaryLine(const Counts &c, double cores, double bytesPerPanel);
    // Ports as runs, "2001-2005, 2007, 2009-2010", at most eight runs and
    // then "...". The ports ascend.
    static QByteArray portRanges(const std::vector<int> &ports);

private:

    Options m_options;
    std::vector<Panel> m_panels;
    QStringList m_routerDirs; // where this rack wrote allowed_routers
    QTimer m_startTimer;
    int m_next = 0;
    bool m_stopAll = false;
    bool m_finishedReported = false;
    bool m_settledReported = false;
    bool m_stateLines = false; // eventLine has a receiver
    int m_refused = 0, m_failed = 0, m_stuck = 0;
    std::vector<int> m_refusedPorts;
    QString m_refusal;
};

#endif
