#ifndef KST_PANELMANAGER_H
#define KST_PANELMANAGER_H

// KST_PanelManager: the program's main window. A tree of the racks and
// panels of the panel set, a tool bar and menus with the actions that add,
// delete, start and stop panels, a status bar whose permanent label blinks
// the error of the one selected panel, and the comm indicators of the
// running panels in the "Comm" column.
//
// The window is built hidden. The panel set's first initialisation step
// shows it disabled with the tree attached; the second enables it and
// starts the comm timer. At shutdown it hands its geometry and header state
// to the panel set and lets go of it, before the set is deleted.
//
// Every message box goes through one hook (messageHook), so that the flows
// that ask or complain can run without a user.
//
// GUI thread only.

// model() hands out the QPointer's KST_Data: the class must be complete.
#include "kst_data.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QModelIndexList>
#include <QPalette>
#include <QPointer>
#include <QTimer>

#include <functional>

class KST_RemoteAccess;
class KST_PanelInstance;
class KST_PanelManagerItemDelegate;
class KST_PanelTree;
class KST_Rack;
class QAction;
class QLabel;
class QMenu;
class QToolBar;

class KST_PanelManager : public QMainWindow
{
    Q_OBJECT

public:
    enum { CommIntervalMs = 50, BlinkIntervalMs = 700 };
    // The window's size on a first start.
    enum { DefaultWidth = 980, DefaultHeight = 300, DefaultNameWidth = 170 };

    // Shows a message box and returns the button chosen.
    using MessageHook = std::function<QMessageBox::StandardButton(
        QMessageBox::Icon icon, const QString &title, const QString &text,
        QMessageBox::StandardButtons buttons)>;

    explicit KST_PanelManager(KST_Data *model, QWidget *parent = nullptr);
    ~KST_PanelManager() override;

    // Called by the application once the window is built.
    bool initialize();
    // Stores the window geometry (interface data key 0) and the tree header
    // state (key 2) in the panel set, detaches the tree, drops every
    // connection with the set and forgets it.
    void shutdown();

    // Replaces the modal message boxes (null: the real ones again).
    void setMessageHook(MessageHook hook);

    KST_PanelTree *treeView() const { return m_treeView; }
    QLabel *errorLabel() const { return m_errorLabel; }
    // The remote API the Tools menu switches on and off; the status bar
    // shows the address to open while it is on.
    void setRemoteAccess(KST_RemoteAccess *remote);
    QLabel *remoteLabel() const { return m_remoteLabel; }
    QAction *remoteAction() const { return m_actionRemote; }
    // What actionRemoteApi asks for: the address to serve on, empty for
    // off; false when the user cancelled. Tests replace it.
    using AddressHook = std::function<bool(const QString &current, QString *address)>;
    void setAddressHook(AddressHook hook) { m_addressHook = std::move(hook); }
    QAction *addPanelAction() const { return m_actionPanelNew; }
    QAction *addRackAction() const { return m_actionRackNew; }
    QAction *deleteAction() const { return m_actionDelete; }
    QAction *startAction() const { return m_actionStart; }
    QAction *stopAction() const { return m_actionStop; }
    QAction *titleOnOffAction() const { return m_actionTitleOnOff; }
    QAction *aboutAction() const { return m_actionAbout; }
    QAction *quitAction() const { return m_actionQuit; }
    QAction *traceAction() const { return m_actionTrace; }
    KST_Data *model() const { return m_model; }

    // The racks and the panels of the selected rows, each in selection
    // order.
    void selectedItems(QList<KST_Rack *> *racks, QList<KST_PanelInstance *> *panels) const;
    // The question asked before racks and panels are removed.
    static QString deleteQuestion(int rackCount, int panelCount);

private slots:
    void treeItemClicked(const QModelIndex &index);
    void togglePresses(const QModelIndex &index);
    void reexpand_racks();
    void init_step1_finished();
    void init_step2_finished();
    void actionPanelNew();
    void actionRackNew();
    void actionDelete();
    void actionStart();
    void actionStop();
    void actionShowAboutBox();
    void actionTitleOnOff();
    void actionProtocolTrace();
    void treeContextMenu(const QPoint &pos);
    void updateActionsEnabledStatus();
    void updateStatusbarMessage();
    void updatePanelWidgetSelections();
    void timer_Comm();
    void timer_errorLabelBlink();

private:
    void buildWindow();
    void createActions();
    QAction *makeAction(const QString &text, const char *icon, const QString &statusTip);
    void sizeColumns();
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString &title,
                                        const QString &text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    void selectItem(KST_PanelInstance *panel);
    void setSelectionMarks(bool showSelection);

    QToolBar *m_toolBar = nullptr;
    KST_PanelTree *m_treeView = nullptr;
    QAction *m_actionPanelNew = nullptr;
    QAction *m_actionRackNew = nullptr;
    QAction *m_actionDelete = nullptr;
    QAction *m_actionStart = nullptr;
    QAction *m_actionStop = nullptr;
    QAction *m_actionTitleOnOff = nullptr;
    QAction *m_actionAbout = nullptr;
    QAction *m_actionQuit = nullptr;
    QAction *m_actionTrace = nullptr;
    QAction *m_actionRemote = nullptr;
    QLabel *m_remoteLabel = nullptr;
    KST_RemoteAccess *m_remote = nullptr;
    AddressHook m_addressHook;
    void actionRemoteApi();
    void updateRemoteLabel();
    QPointer<KST_Data> m_model;
    KST_PanelManagerItemDelegate *m_delegate = nullptr;
    QTimer m_commTimer;
    QTimer m_errorLabelBlinkTimer;
    QMenu *m_menuTools = nullptr;
    QMenu *m_menuEdit = nullptr;
    QMenu *m_menuAbout = nullptr;
    QLabel *m_errorLabel = nullptr;
    QPalette m_errorLabelPalette;
    bool m_blinkOn = false;
    MessageHook m_messageHook;
};

#endif
