// KST_PanelManager: building the window, the two initialisation steps,
// shutdown, the selection and what follows it (enabled actions, the error
// label, the faces' selection marks), and the two timers. The actions
// themselves are in kst_panelmanager_actions.cpp.

#include "kst_panelmanager.h"

#include "kst_commwidget.h"
#include "kst_data.h"
#include "kst_delegates.h"
#include "kst_faceselection.h"
#include "kst_paneltree.h"
#include "kst_rack.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

KST_PanelManager::KST_PanelManager(KST_Data *model, QWidget *parent)
    : QMainWindow(parent), m_model(model)
{
    setWindowTitle(QStringLiteral("Tessaline"));
    setWindowIcon(QIcon(QStringLiteral(":/images2/app_icon.png")));
    // The panels' tooltips show even while this window is not active.
    setAttribute(Qt::WA_AlwaysShowToolTips, true);
    buildWindow();

    if (m_model) {
        connect(m_model, &KST_Data::reexpand_racks, this, &KST_PanelManager::reexpand_racks);
        connect(m_model, &KST_Data::init_step1_finished, this,
                &KST_PanelManager::init_step1_finished);
        connect(m_model, &KST_Data::init_step2_finished, this,
                &KST_PanelManager::init_step2_finished);
        // New rack windows are placed relative to this one.
        if (!m_model->mainWindow())
            m_model->setMainWindow(this);
    }
    m_commTimer.setInterval(CommIntervalMs);
    connect(&m_commTimer, &QTimer::timeout, this, &KST_PanelManager::timer_Comm);
    connect(&m_errorLabelBlinkTimer, &QTimer::timeout, this,
            &KST_PanelManager::timer_errorLabelBlink);
    m_errorLabelBlinkTimer.start(BlinkIntervalMs);
}

KST_PanelManager::~KST_PanelManager()
{
    if (m_model)
        shutdown();
}

bool KST_PanelManager::initialize()
{
    return true;
}

void KST_PanelManager::buildWindow()
{
    m_treeView = new KST_PanelTree;
    m_delegate = new KST_PanelManagerItemDelegate(m_treeView);
    m_treeView->setItemDelegate(m_delegate);
    m_treeView->setDragEnabled(true);
    m_treeView->setDropIndicatorShown(true);
    m_treeView->setAcceptDrops(true);
    m_treeView->setDragDropMode(QAbstractItemView::DragDrop);
    m_treeView->setAnimated(true);
    m_treeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_treeView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_treeView->setAlternatingRowColors(true);
    if (m_model) {
        connect(m_treeView, &QTreeView::expanded, m_model.data(), &KST_Data::rack_expanded);
        connect(m_treeView, &QTreeView::collapsed, m_model.data(), &KST_Data::rack_collapsed);
    }
    connect(m_treeView, &QTreeView::clicked, this, &KST_PanelManager::treeItemClicked);
    m_treeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_treeView, &QWidget::customContextMenuRequested, this,
            &KST_PanelManager::treeContextMenu);

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(m_treeView);
    setCentralWidget(central);

    createActions();

    m_errorLabel = new QLabel;
    QFont bold = m_errorLabel->font();
    bold.setBold(true);
    m_errorLabel->setFont(bold);
    m_errorLabelPalette = m_errorLabel->palette();
    statusBar()->insertPermanentWidget(0, m_errorLabel);
}

QAction *KST_PanelManager::makeAction(const QString &text, const char *icon,
                                      const QString &statusTip)
{
    auto *a = new QAction(text, this);
    if (icon)
        a->setIcon(QIcon(QString::fromLatin1(icon)));
    a->setStatusTip(statusTip);
    a->setToolTip(statusTip);
    return a;
}

void KST_PanelManager::createActions()
{
    m_actionPanelNew = makeAction(QStringLiteral("Add &panel"), ":/images2/new.png",
                                  QStringLiteral("Add a new panel."));
    m_actionPanelNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_actionRackNew = makeAction(QStringLiteral("Add &rack"), ":/images2/new.png",
                                 QStringLiteral("Add a new rack."));
    m_actionDelete = makeAction(QStringLiteral("Delete"), ":/images2/delete.png",
                                QStringLiteral("Remove selected panel(s) and rack(s)."));
    m_actionDelete->setShortcut(QKeySequence::Delete);
    m_actionStart = makeAction(QStringLiteral("St&art Panel"), ":/images2/start.png",
                               QStringLiteral("Start selected panel(s)."));
    m_actionStop = makeAction(QStringLiteral("St&op"), ":/images2/stop.png",
                              QStringLiteral("Stop selected panel(s)."));
    m_actionAbout = makeAction(QStringLiteral("&About ..."), nullptr,
                               QStringLiteral("About box."));
    m_actionTitleOnOff = makeAction(QStringLiteral("&TitleOnOff"), nullptr,
                                    QStringLiteral("Enable/disable window resize."));
    m_actionTitleOnOff->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    // Pressed while a rack window is the active one.
    m_actionTitleOnOff->setShortcutContext(Qt::ApplicationShortcut);
    m_actionQuit = makeAction(QStringLiteral("&Quit"), nullptr,
                              QStringLiteral("Stop every panel and end the program."));
    m_actionQuit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_actionTrace = makeAction(QStringLiteral("Protocol trace"), nullptr,
                               QStringLiteral("Follow what the selected panel(s) and the router say to each other."));
    // The tooltips name the shortcut as well.
    for (QAction *a : {m_actionPanelNew, m_actionRackNew, m_actionDelete, m_actionStart,
                       m_actionStop, m_actionAbout, m_actionTitleOnOff, m_actionQuit,
                       m_actionTrace}) {
        if (!a->shortcut().isEmpty())
            a->setToolTip(a->statusTip() + QStringLiteral(" (")
                          + a->shortcut().toString(QKeySequence::NativeText)
                          + QLatin1Char(')'));
    }
    m_actionPanelNew->setObjectName(QStringLiteral("actionPanelNew"));
    m_actionRackNew->setObjectName(QStringLiteral("actionRackNew"));
    m_actionDelete->setObjectName(QStringLiteral("actionDelete"));
    m_actionStart->setObjectName(QStringLiteral("actionStart"));
    m_actionStop->setObjectName(QStringLiteral("actionStop"));
    m_actionAbout->setObjectName(QStringLiteral("actionShowAboutBox"));
    m_actionTitleOnOff->setObjectName(QStringLiteral("actionTitleOnOff"));
    m_actionQuit->setObjectName(QStringLiteral("actionQuit"));
    m_actionTrace->setObjectName(QStringLiteral("actionProtocolTrace"));

    connect(m_actionPanelNew, &QAction::triggered, this, &KST_PanelManager::actionPanelNew);
    connect(m_actionRackNew, &QAction::triggered, this, &KST_PanelManager::actionRackNew);
    connect(m_actionDelete, &QAction::triggered, this, &KST_PanelManager::actionDelete);
    connect(m_actionStart, &QAction::triggered, this, &KST_PanelManager::actionStart);
    connect(m_actionStop, &QAction::triggered, this, &KST_PanelManager::actionStop);
    connect(m_actionAbout, &QAction::triggered, this, &KST_PanelManager::actionShowAboutBox);
    connect(m_actionTitleOnOff, &QAction::triggered, this, &KST_PanelManager::actionTitleOnOff);
    connect(m_actionTrace, &QAction::triggered, this, &KST_PanelManager::actionProtocolTrace);
    // Closing the last window ends the program.
    connect(m_actionQuit, &QAction::triggered, this, &QWidget::close);

    m_toolBar = addToolBar(QStringLiteral("Panels"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->addAction(m_actionStart);
    m_toolBar->addAction(m_actionStop);

    m_menuTools = menuBar()->addMenu(QStringLiteral("&Tools"));
    m_menuTools->addAction(m_actionStart);
    m_menuTools->addAction(m_actionStop);
    m_menuTools->addAction(m_actionTitleOnOff);
    m_menuTools->addSeparator();
    m_menuTools->addAction(m_actionTrace);
    m_menuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    m_menuEdit->addAction(m_actionPanelNew);
    m_menuEdit->addAction(m_actionRackNew);
    m_menuEdit->addSeparator();
    m_menuEdit->addAction(m_actionDelete);
    m_menuEdit->addSeparator();
    m_menuEdit->addAction(m_actionQuit);
    m_menuAbout = menuBar()->addMenu(QStringLiteral("&About"));
    m_menuAbout->addAction(m_actionAbout);

    // Until a selection says otherwise.
    m_actionDelete->setEnabled(false);
    m_actionStart->setEnabled(false);
    m_actionStop->setEnabled(false);
    m_actionTrace->setEnabled(false);
    statusBar();
}

void KST_PanelManager::setMessageHook(MessageHook hook)
{
    m_messageHook = std::move(hook);
}

QMessageBox::StandardButton KST_PanelManager::message(QMessageBox::Icon icon,
                                                      const QString &title,
                                                      const QString &text,
                                                      QMessageBox::StandardButtons buttons)
{
    if (m_messageHook)
        return m_messageHook(icon, title, text, buttons);
    QMessageBox box(icon, title, text, buttons, this);
    return QMessageBox::StandardButton(box.exec());
}

// ---- Initialisation and shutdown ----------------------------------------------

void KST_PanelManager::init_step1_finished()
{
    if (!m_model)
        return;
    const QByteArray geometry = m_model->uiData(KST_Data::UiMainWindow);
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    m_treeView->setModel(m_model);

    QItemSelectionModel *selection = m_treeView->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, this,
            &KST_PanelManager::updateActionsEnabledStatus);
    connect(selection, &QItemSelectionModel::selectionChanged, this,
            &KST_PanelManager::updateStatusbarMessage);
    connect(selection, &QItemSelectionModel::selectionChanged, this,
            &KST_PanelManager::updatePanelWidgetSelections);
    // After the set's own handling of the change.
    for (auto signal : {&KST_Data::panelStateChanged2, &KST_Data::panelIPChanged,
                        &KST_Data::panelPanelPortChanged, &KST_Data::panelTypeChanged})
        connect(m_model.data(), signal, this, &KST_PanelManager::updateActionsEnabledStatus,
                Qt::QueuedConnection);
    connect(m_model.data(), &KST_Data::panelStateChanged2, this,
            &KST_PanelManager::updateStatusbarMessage, Qt::QueuedConnection);

    QHeaderView *header = m_treeView->header();
    const QByteArray state = m_model->uiData(KST_Data::UiTreeHeader);
    if (!state.isEmpty())
        header->restoreState(state);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = KST_Data::ColType; c <= KST_Data::ColPort; ++c)
        header->setSectionResizeMode(c, QHeaderView::Fixed);
    for (int c = KST_Data::ColStarted; c <= KST_Data::ColPresses; ++c)
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    header->setStretchLastSection(true);
    header->setSectionsMovable(false);
    sizeColumns();
    // Room for a rack and a panel name of a few words, until the user
    // sets the width.
    if (state.isEmpty())
        header->resizeSection(KST_Data::ColName, DefaultNameWidth);
    // A first start has no stored geometry: wide enough for every column,
    // within the screen.
    if (geometry.isEmpty()) {
        QSize size(DefaultWidth, DefaultHeight);
        if (const QScreen *screen = this->screen())
            size = size.boundedTo(screen->availableSize());
        resize(size);
    }

    setEnabled(false);
    show();
}

// The type, address and port columns fit their widest values in bold, the
// way editable cells of stopped panels are drawn.
void KST_PanelManager::sizeColumns()
{
    QFont bold = m_treeView->font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    QHeaderView *header = m_treeView->header();
    header->resizeSection(KST_Data::ColIP, fm.horizontalAdvance(QStringLiteral("000.000.000.000_000")));
    header->resizeSection(KST_Data::ColPort, fm.horizontalAdvance(QStringLiteral("999999")));
    header->resizeSection(KST_Data::ColType, fm.horizontalAdvance(QStringLiteral("SK0000A_000000")));
}

void KST_PanelManager::init_step2_finished()
{
    setEnabled(true);
    m_commTimer.start(CommIntervalMs);
    reexpand_racks();
    updateActionsEnabledStatus();
}

void KST_PanelManager::reexpand_racks()
{
    if (!m_model || m_treeView->model() != m_model)
        return;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        KST_Rack *rack = m_model->rack(r);
        if (rack)
            m_treeView->setExpanded(m_model->index(r, 0), rack->isExpanded());
    }
}

void KST_PanelManager::shutdown()
{
    m_commTimer.stop();
    if (!m_model)
        return;
    m_model->setUiData(KST_Data::UiMainWindow, saveGeometry());
    if (m_treeView->model() == m_model)
        m_model->setUiData(KST_Data::UiTreeHeader, m_treeView->header()->saveState());
    setSelectionMarks(false);
    m_treeView->setModel(nullptr);
    disconnect(m_model.data(), nullptr, this, nullptr);
    disconnect(m_treeView, nullptr, m_model.data(), nullptr);
    disconnect(this, nullptr, m_model.data(), nullptr);
    if (m_model->mainWindow() == this)
        m_model->setMainWindow(nullptr);
    m_model = nullptr;
}

// ---- Selection ------------------------------------------------------------------

void KST_PanelManager::selectedItems(QList<KST_Rack *> *racks,
                                     QList<KST_PanelInstance *> *panels) const
{
    if (!m_treeView) {
        qCritical("_treeView NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    QItemSelectionModel *selection = m_treeView->selectionModel();
    if (!selection || !m_model || m_treeView->model() != m_model) {
        qCritical("_treeView selectionModel() NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    const QModelIndexList rows = selection->selectedRows(0);
    for (const QModelIndex &i : rows) {
        if (!i.isValid()) {
            qCritical("invalid rack index (%s,%d)", __FILE__, __LINE__);
            continue;
        }
        if (!i.parent().isValid()) {
            KST_Rack *rack = m_model->rack(i.row());
            if (!rack) {
                qCritical("invalid rack index (%s,%d)", __FILE__, __LINE__);
                continue;
            }
            if (racks)
                racks->append(rack);
            continue;
        }
        KST_Rack *rack = m_model->rack(i.parent().row());
        KST_PanelInstance *panel = rack ? rack->panel(i.row()) : nullptr;
        if (!panel) {
            qCritical("invalid rack,panel index (%s,%d)", __FILE__, __LINE__);
            continue;
        }
        if (panels)
            panels->append(panel);
    }
}

void KST_PanelManager::updateActionsEnabledStatus()
{
    QList<KST_Rack *> racks;
    QList<KST_PanelInstance *> panels;
    if (m_model && m_treeView->model() == m_model)
        selectedItems(&racks, &panels);
    bool allStopped = true;
    bool anyStartable = false;
    bool anyStoppable = false;
    for (KST_PanelInstance *p : qAsConst(panels)) {
        const int s = p->state();
        if (s != KST_PanelInstance::Stopped && s != KST_PanelInstance::Error)
            allStopped = false;
        if (s == KST_PanelInstance::Stopped && m_model->validatePanel(p))
            anyStartable = true;
        if (s == KST_PanelInstance::Started || s == KST_PanelInstance::Error)
            anyStoppable = true;
    }
    m_actionDelete->setEnabled(!(racks.isEmpty() && panels.isEmpty()) && allStopped);
    m_actionStart->setEnabled(anyStartable);
    m_actionStop->setEnabled(anyStoppable);
    // A trace window can be opened for a stopped panel too: it shows what
    // the last run wrote and follows the next one.
    m_actionTrace->setEnabled(!panels.isEmpty());
}

void KST_PanelManager::updateStatusbarMessage()
{
    QString text;
    if (m_model && m_treeView->model() == m_model
        && m_treeView->selectionModel()->selectedRows(0).size() == 1) {
        QList<KST_PanelInstance *> panels;
        selectedItems(nullptr, &panels);
        if (panels.size() == 1 && panels.first()->state() == KST_PanelInstance::Error)
            text = panels.first()->errorText();
    }
    m_errorLabel->setText(text);
    // The blink's white phase needs a background of its own, an empty label
    // none.
    m_errorLabel->setAutoFillBackground(!text.isEmpty());
}

void KST_PanelManager::updatePanelWidgetSelections()
{
    setSelectionMarks(true);
}

void KST_PanelManager::setSelectionMarks(bool showSelection)
{
    if (!m_model)
        return;
    QList<KST_PanelInstance *> selected;
    if (showSelection && m_treeView->model() == m_model)
        selectedItems(nullptr, &selected);
    for (KST_Rack *rack : m_model->racks())
        for (KST_PanelInstance *p : rack->panels())
            if (p->face())
                kst_setFaceSelected(p->face(), selected.contains(p));
}

// ---- Timers -----------------------------------------------------------------------

void KST_PanelManager::timer_errorLabelBlink()
{
    m_blinkOn = !m_blinkOn;
    if (m_blinkOn) {
        QPalette p = m_errorLabelPalette;
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            p.setColor(g, QPalette::WindowText, Qt::red);
            p.setColor(g, QPalette::Window, Qt::white);
        }
        m_errorLabel->setPalette(p);
    } else {
        m_errorLabel->setPalette(m_errorLabelPalette);
    }
}

void KST_PanelManager::timer_Comm()
{
    if (!m_model || m_treeView->model() != m_model)
        return;
    for (KST_Rack *rack : m_model->racks()) {
        for (KST_PanelInstance *p : rack->panels()) {
            // Each call also takes the level as seen, so all three are asked.
            const int tx = p->commLevel(KST_PanelInstance::CommTransmit, false);
            const int fail = p->commLevel(KST_PanelInstance::CommSendFailure, false);
            const int rx = p->commLevel(KST_PanelInstance::CommReceive, false);
            const bool changed = tx >= 0 || fail >= 0 || rx >= 0;
            const QModelIndex cell = m_model->indexOfItem(p).siblingAtColumn(KST_Data::ColComm);
            if (!cell.isValid())
                continue;
            auto *w = dynamic_cast<KST_CommWidget *>(m_treeView->indexWidget(cell));
            const bool started = p->state() == KST_PanelInstance::Started;
            if (!changed && !(w && w->shownStarted() != started))
                continue;
            if (!w) {
                w = new KST_CommWidget;
                m_treeView->setIndexWidget(cell, w);
            }
            w->updateFrom(p);
        }
    }
}
