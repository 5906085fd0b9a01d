#ifndef KST_PANELINSTANCE_H
#define KST_PANELINSTANCE_H

// KST_PanelInstance: one emulated panel of the panel set. It keeps the
// panel's stored properties, its directory (base/data/p<uid>) with the
// panel's own copy of the firmware library and its configuration file, its
// face with the button driver that paints it and, while it runs, the
// firmware loader and the injector through which outside programs press its
// keys. It starts and stops the firmware, follows every status the firmware
// reports, plays the buzzer and keeps the face's tooltip up to date.
//
// States: Stopped --start--> Starting --ST_RUNNING--> Started; stop() asks
// the firmware to stop and the panel follows its reports (ST_STOPPING:
// Stopping, ST_THREAD_FINISHED: Stopped, loader and injector gone). A bind
// or FTP error moves the panel to Error (at once while starting, after the
// thread has ended while started); stop() then takes it back to Stopped.
//
// GUI thread only. The firmware's reports and the face's key events arrive
// by queued connection.

#include "arch_archivable.h"
#include "kst_itemdata.h"
#include "pan_widget.h"
#include "tfw_interface.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class KST_PanelFirmware;
class KST_PanelInfo;
class PAN_ImageContainer;
class QMenu;
class QWidget;

namespace buttondriver {
class ButtonSetterImpl;
}
namespace collector {
class Injector;
}

// What the panels of a rack share for their faces.
struct KST_FaceResources
{
    PAN_ImageContainer *images = nullptr; // pictures of every face
    PAN_LayoutCache *layouts = nullptr;   // layouts read once for all faces
    PAN_WidgetOptions options;            // splash and fade-in
};

class KST_PanelInstance : public QObject, public arch::Archivable, public ItemData
{
    Q_OBJECT

public:
    enum PanelState { Started = 0, Stopped = 1, Starting = 2, Stopping = 3, Restarting = 4, Error = 5 };
    enum PanelError {
        NoError = 0, UdpBindError = 1, FtpBindError = 2, FtpError = 3, UnknownError = 4,
        // The start was refused: its descriptors would not fit under the
        // process's open-files limit.
        OpenFilesError = 5,
        // Stored values no panel can use (from the panel set file): the
        // panel is kept but does not start until they are mended.
        SettingsError = 6,
        // No layout of the panel's type could be read: no face to drive.
        LayoutError = 7
    };
    // Comm channels of commLevel.
    enum CommChannel { CommTransmit = 0, CommReceive = 1, CommSendFailure = 2, CommChannels = 3 };
    // Face kinds (showFaceState): every key dark, blue or red.
    enum FaceKind { FaceStarting = 0, FaceStopped = 1, FaceFailed = 2 };

    // Builds the data directory path and makes sure base/data exists.
    explicit KST_PanelInstance(int uid = 0);
    ~KST_PanelInstance() override;

    // Builds the face under parent from the layout of the panel's type.
    // firmwareSource: the library copied into the panel directory at each
    // start; empty for the panel info's default.
    void init(QWidget *parent, KST_PanelInfo *info, const KST_FaceResources &resources,
              const QString &firmwareSource = QString());

    // delayMs >= 1: starts that much later (true at once); otherwise now.
    bool start(int delayMs);
    bool stop();

    // Allowed only while stopped.
    bool setIP(const QString &ip);
    // The router controller addresses the panel accepts (empty: any);
    // handed to the firmware at each start (kst_router_list.h).
    bool setAllowedRouters(const QStringList &addresses);
    bool setPanelPort(int port);
    bool setPanelType(int type);
    void setName(const QString &name);
    void setDescription(const QString &description);
    // Shows or hides the face in the rack window (and the window with it).
    void setVisible(bool visible);
    void toggleVisible() { setVisible(!m_visible); }
    void setParentWidget(QWidget *parent);
    void setInjectorEnabled(bool on) { m_injectorEnabled = on; }
    // The panel set clears it when a panel cannot start with the program.
    void setShouldAutostart(bool on) { m_shouldAutostart = on; }
    // Whether presses from browsers and the remote API reach the panel
    // (stored with the panel; on unless the user switched it off).
    void setRemotePresses(bool on);
    bool remotePresses() const { return m_remotePresses; }

    // "p<uid>"; empty for uid 0.
    QString panelDir() const;
    // <data dir>/p<uid>/firm.; empty for uid 0 or without a data directory.
    QString firmwarePath() const;
    // <data dir>/p<uid>/cfg<type name>; empty as firmwarePath().
    QString configPath() const;
    bool configExists() const;
    QString dataDirectory() const { return m_dataDir; }
    // Where the firmware writes its protocol trace (the panel's directory);
    // empty as firmwarePath().
    QString traceDirectory() const;
    QString firmwareSourcePath() const { return m_firmwareSource; }

    // The brightness of a comm indication (channel: CommChannel) from 0 to
    // the level count, fading out over the fade time after each event.
    // Without peek: -1 when unchanged since the last call (and outside
    // Started); with peek: the last level (0 outside Started).
    int commLevel(int channel, bool peek);
    // The level of a comm indication elapsedMs after its event.
    static int commLevelAfter(qint64 elapsedMs, int levelCount, int fadeMs);
    // The level right after an event.
    int commLevelCount() const { return m_commLevelCount; }
    // A comm indication's level now (0 outside Started), leaving what
    // commLevel reports as changed alone.
    int commLevelNow(int channel) const;
    // The two records that show a face kind (FaceKind) on every button.
    static std::vector<QByteArray> faceStateBatch(int kind);

    QString errorText() const;
    // Why the stored values cannot run a panel (a port outside 0 to 65535,
    // an address that is not "*" nor IPv4 dotted decimal, a type not in the
    // table), or empty.
    QString settingsProblem() const;
    // For a panel read from the panel set file with such values: it is
    // kept in the error state with the reason, and never started so.
    void markUnusable(const QString &why);
    // Why the face could not be built from a layout (the panel then does
    // not start), or empty.
    QString faceProblem() const { return m_faceProblem; }
    // The UDP port and the TCP ports (FTP control and data, and the
    // injector's when enabled) a panel on udpPort binds.
    static QList<int> tcpPorts(int udpPort, bool injector);
    static QString stateText(int state);
    // "name[rack],type,ip" for start-up messages.
    QString summary() const;
    QString toolTip() const { return m_toolTip; }
    // Deletes the panel's directory with everything in it.
    void removeFiles();
    // A panel read from the panel set file under a uid another panel has:
    // it takes uid, gets its own directory and, for a known type, that
    // type's default configuration there. Before init only.
    bool renumber(int uid, KST_PanelInfo *info);

    int uid() const { return m_uid; }
    QString name() const { return m_name; }
    QString description() const { return m_description; }
    int panelType() const { return m_paneltype; }
    QString ip() const { return m_firmwareIp; }
    int panelPort() const { return m_panelPort; }
    QStringList allowedRouters() const { return m_allowedRouters; }
    bool shouldAutostart() const { return m_shouldAutostart; }
    bool isVisible() const { return m_visible; }
    PanelState state() const { return m_state; }
    bool isOnline() const { return m_online; }
    bool isConfigLoaded() const { return m_configLoaded; }
    PanelError lastError() const { return m_lastError; }
    bool injectorEnabled() const { return m_injectorEnabled; }
    KST_PanelInfo *panelInfo() const { return m_panelInfo; }
    PAN_Widget *face() const { return m_face; }
    buttondriver::ButtonSetterImpl *buttonSetter() const { return m_buttonSetter.get(); }
    KST_PanelFirmware *firmwareLoader() const { return m_firmware; }
    collector::Injector *injector() const { return m_injector; }

    // The clock of the comm indications, in ms; by default a monotonic one.
    void setClock(std::function<qint64()> clock);

    // arch::Archivable
    bool save(arch::Itemo *node) const override;
    bool load(const arch::Itemi *node) override;
    // ItemData
    KST_PanelInstance *asPanel() override { return this; }
    QString itemName() const override { return m_name; }

signals:
    void panelStateChanged(KST_PanelInstance *panel);
    void onlineStateChanged(KST_PanelInstance *panel);
    void configLoaded(KST_PanelInstance *panel);
    // The button driver applied records: what these items show changed.
    void faceChanged(KST_PanelInstance *panel, const QList<qint32> &ids);
    // The firmware sounded the buzzer.
    void beeped(KST_PanelInstance *panel);
    // Presses from browsers and the remote API were allowed or refused.
    void remotePressesChanged(KST_PanelInstance *panel);

private slots:
    void firm_stateMsg(TFW_IFirmwareCallback::StateMsg stateMsg);
    void firm_buttondriverMsg(std::vector<QByteArray> msg);
    void collector_msg(const collector::CollectorMsg &msg);
    void firm_msg(QString text);

public slots:
    void update_tooltip();
    void dispatch_msg_buffer(QByteArray &buffer);
    void timer_start();
    // Opens the window following the panel's protocol trace (or raises it).
    void showProtocolTrace();

private slots:
    // The face's context menu, for a right click no key took.
    void showFaceMenu(const QPoint &pos);

private:
    void setState(int state);
    void cleanupRun();
    bool startNow();
    void startFirmware(QString *errorText);
    // Whether this start's descriptors fit; otherwise the panel goes to
    // its error state with the reason.
    bool startFitsOpenFiles();
    // Refuses a start for a reason of the panel's own: error state, red
    // face, the reason logged and shown.
    bool refuseStart(PanelError error, const QString &why);
    void buildFace();
    void connectFirmware();
    void errorReported(PanelError error);
    bool createPanelDir();
    bool copyFirmware();
    bool copyDefaultConfig();
    bool storeAllowedRouters();
    void showFaceState(int kind);
    void sendToFace(const std::vector<QByteArray> &batch);
    bool loadFace();
    void rebuildButtonSetter();
    QString typeName() const;
    QString layoutFileName() const;
    QString rackName() const;
    void stopFlash();

    int m_uid;
    QString m_name;
    QString m_description;
    int m_paneltype = 0;
    QString m_firmwareIp;
    int m_panelPort = 2001;
    QStringList m_allowedRouters;
    bool m_shouldAutostart = false;
    bool m_visible = false;
    bool m_remotePresses = true;
    QString m_firmwareSource;
    QString m_dataDir;
    PanelState m_state = Stopped;
    KST_PanelInfo *m_panelInfo = nullptr;
    KST_PanelFirmware *m_firmware = nullptr;
    QPointer<PAN_Widget> m_face;
    QPointer<QMenu> m_faceMenu; // a child of the face
    collector::Injector *m_injector = nullptr;
    std::unique_ptr<buttondriver::ButtonSetterImpl> m_buttonSetter;
    KST_FaceResources m_resources;
    bool m_online = false;
    std::function<qint64()> m_clock;
    qint64 m_commEvent[CommChannels];
    int m_commLevel[CommChannels] = {0, 0, 0};
    int m_commFadeMs = 500;
    int m_commLevelCount = 4;
    bool m_injectorEnabled = true;
    bool m_configLoaded = false;
    bool m_stopOnError = false;
    PanelError m_lastError = NoError;
    QString m_refusalText; // why the last start was refused (OpenFilesError and on)
    QString m_faceProblem; // no layout could be read
    // Panels of this process in Starting: their firmware threads have yet
    // to open their descriptors. GUI thread only.
    static int s_startingPanels;
    QString m_toolTip;
    // A start with a delay waits on this timer.
    QTimer m_startTimer;
    // Counts runs; reports of a run that has been cleaned up are dropped.
    quint64 m_run = 0;
};

#endif
