#ifndef KST_DATA_H
#define KST_DATA_H

// KST_Data: the panel set. A two-level item model (racks at the top level,
// the panels of each rack below them) that owns every rack and panel, keeps
// them in the panel set file cfg.xml and runs the timed start of the
// program's racks and panels:
//   construction  reads cfg.xml;
//   100 ms later  every rack builds its window (init_step1_finished);
//   300 ms later  every rack builds its panels' faces, and panels that were
//                 running when the program last ended start again one
//                 second later (init_step2_finished).
// Every stored change goes through setChanged(): the file is written at
// once when the last save is 10 s old, else by the autosaver within 10 s.
// A cfg.xml that cannot be read is moved aside as "cfg.xml.bad-<date>" so
// that no later save overwrites what the user may still want back.
//
// GUI thread only.

#include "kst_iplistgetter.h"
#include "kst_itemdata.h"
#include "kst_panelinfo.h"
#include "kst_panelinstance.h"
#include "pan_layout.h"

#include <QAbstractItemModel>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QTimer>

#include <memory>

class KST_Rack;
class PAN_ImageContainer;
class QRect;

class KST_Data : public QAbstractItemModel, public ItemData
{
    Q_OBJECT

public:
    enum Column {
        ColName = 0, ColType, ColIP, ColPort, ColStarted, ColVisible, ColOnline, ColCfg, ColComm,
        ColPresses, ColDescription,
        // The router controller addresses a panel accepts (empty: any).
        ColRouters, ColumnCount
    };
    enum DragKind { DragNone = 0, DragRacks = 1, DragPanels = 2 };
    enum UiDataKey { UiMainWindow = 0, UiTreeHeader = 2 };
    enum {
        SaveIntervalMs = 10000,
        InitStep1Ms = 100,
        InitStep2Ms = 300,
        AutostartDelayMs = 1000
    };

    static const char *const PanelListMime;
    static const char *const RackListMime;

    // Reads the panel set from path (empty: a set that is never stored).
    explicit KST_Data(const QString &path, QObject *parent = nullptr);
    // Writes pending changes, then deletes racks and panels.
    ~KST_Data() override;

    // ---- Item model
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    // ---- The panel set
    // A new rack "rack" at position (the end when out of range).
    KST_Rack *addRack(int position = -1);
    // A new panel in the rack at rackRow (clamped to the last rack; a rack is
    // added when there is none) at panelRow (negative or past the end:
    // appended).
    KST_PanelInstance *addPanel(int rackRow, int panelRow = -1);
    // With del the panels' files are removed and the objects deleted;
    // without they are only taken out (the caller owns them).
    void removePanels(const QList<KST_PanelInstance *> &panels, bool del);
    void removeRacks(const QList<KST_Rack *> &racks, bool del);
    // Whether the panel can be started: a type, one of this machine's
    // addresses (or "*"), and no running panel on the same address and port.
    bool validatePanel(KST_PanelInstance *panel, QString *errorText = nullptr);
    bool findPanel(KST_PanelInstance *panel, int &rackRow, int &panelRow) const;

    QByteArray uiData(int key) const { return m_uiData.value(key); }
    void setUiData(int key, const QByteArray &bytes);

    const QList<KST_Rack *> &racks() const { return m_racks; }
    KST_Rack *rack(int row) const { return m_racks.value(row); }
    int puid() const { return m_puid; }
    QString filePath() const { return m_path; }
    bool isChanged() const { return m_changed; }
    bool isInitialised() const { return m_initialised; }
    int dragKind() const { return m_dragKind; }
    KST_PanelInfo *panelInfo() { return &m_panelInfo; }
    KST_IPListGetter *ipListGetter() { return &m_ipList; }
    // The model index of a rack or panel of this set, column 0.
    QModelIndex indexOfItem(ItemData *item) const override;

    // ---- Set-up by the application (and tests)
    // Rack windows are placed relative to this window.
    void setMainWindow(QWidget *window) { m_mainWindow = window; }
    QWidget *mainWindow() const { return m_mainWindow; }
    // Shared pictures of the faces; by default the set's own container.
    void setImageContainer(PAN_ImageContainer *images);
    PAN_ImageContainer *imageContainer() const { return m_faces.images; }
    void setFaceOptions(const PAN_WidgetOptions &options) { m_faces.options = options; }
    // The firmware library the panels copy at each start; empty (the
    // default): the panel info's.
    void setFirmwareSource(const QString &path) { m_firmwareSource = path; }
    // Shorter timings for tests; the defaults are the constants above.
    void setSaveInterval(int ms);
    void setInitDelays(int step1Ms, int step2Ms, int autostartDelayMs);

    // The frame of the n-th new rack window (n = racks so far) for a main
    // window frame: a quarter of its area, cascading from its centre by 4
    // pixels per rack and starting over every 10 racks.
    static QRect cascadeGeometry(const QRect &mainFrame, int rackCount);

    // ItemData
    int rowOfChild(ItemData *child) const override;
    KST_Data *asData() override { return this; }
    KST_Data *model() override { return this; }
    int childCount() const override { return m_racks.size(); }
    ItemData *child(int row) const override;

signals:
    void init_step1_finished();
    void init_step2_finished();
    void reexpand_racks();
    void panelStateChanged2();
    void panelIPChanged();
    void panelPanelPortChanged();
    void panelTypeChanged();

public slots:
    void save();
    void load();
    void rack_expanded(const QModelIndex &index);
    void rack_collapsed(const QModelIndex &index);
    void timer_execute_init();
    void rack_closed(KST_Rack *rack);
    void panelStateChanged(KST_PanelInstance *panel);
    void onlineStateChanged(KST_PanelInstance *panel);
    void configLoaded(KST_PanelInstance *panel);
    void timer_init_panels();
    void setChanged();

private slots:
    void timer_autosaver();
    void rackResized();

private:
    ItemData *itemOf(const QModelIndex &index) const;
    void connectRack(KST_Rack *rack);
    void createRackWindow(KST_Rack *rack, const QRect *geometry);
    // Gives every rack window that has no place yet (none stored, none
    // given) one, so that the windows show their faces at a readable width
    // and cover each other only where the screen is too small for them.
    void placeNewRackWindows();
    void setExpandedFlag(const QModelIndex &index, bool expanded);
    void emitPanelCells(KST_PanelInstance *panel, std::initializer_list<int> columns);
    bool setPanelData(KST_PanelInstance *panel, int column, const QVariant &value);
    bool setRackData(KST_Rack *rack, int column, const QVariant &value);
    void insertRack(int position, KST_Rack *rack);
    KST_Rack *takeRack(int row);
    void insertPanel(KST_Rack *rack, int row, KST_PanelInstance *panel);
    KST_PanelInstance *takePanel(KST_Rack *rack, int row);
    bool dropPanels(const QMimeData *data, int row, const QModelIndex &parent);
    bool dropRacks(const QMimeData *data, int row, const QModelIndex &parent);
    bool readFile(QString *problem);
    QString dataDirectory() const;
    int nextFreeUid();
    void removeLeftoverTemporaries();
    void setAside(const QString &problem);
    void clearSet();

    KST_PanelInfo m_panelInfo;
    QList<KST_Rack *> m_racks;
    int m_puid = 0;
    KST_IPListGetter m_ipList;
    QString m_path;
    QMap<int, QByteArray> m_uiData;
    bool m_changed = false;
    QTimer m_autosaveTimer;
    QElapsedTimer m_lastSave;
    int m_saveInterval = SaveIntervalMs;
    // Set when cfg.xml could not be read nor moved aside: writing would
    // destroy it.
    bool m_saveRefused = false;
    bool m_renumbered = false; // load gave panels new uids
    std::unique_ptr<PAN_ImageContainer> m_ownImages;
    PAN_LayoutCache m_layouts;
    KST_FaceResources m_faces;
    QWidget *m_mainWindow = nullptr;
    QTimer m_initStep1Timer;
    QTimer m_initPanelsTimer;
    int m_autostartDelay = AutostartDelayMs;
    bool m_initialised = false;
    bool m_step1Done = false;
    mutable int m_dragKind = DragNone;
    QString m_firmwareSource;
};

#endif
