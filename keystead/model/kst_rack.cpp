#include "kst_rack.h"

#include "arch_itemi.h"
#include "arch_itemo.h"
#include "kst_panelset_fields.h"
#include "kst_rackwidget.h"

#include <QtDebug>

#include <algorithm>

KST_Rack::KST_Rack() : QObject(nullptr), m_name(QStringLiteral("RACK???")) {}

KST_Rack::~KST_Rack()
{
    qDeleteAll(m_panels);
    m_panels.clear();
    delete m_frame.data();
}

void KST_Rack::setName(const QString &name)
{
    m_name = name;
    refresh();
}

void KST_Rack::refresh()
{
    if (m_frame)
        m_frame->setWindowTitle(m_name);
    for (KST_PanelInstance *p : qAsConst(m_panels))
        p->update_tooltip();
}

void KST_Rack::setVisible(bool visible)
{
    m_visible = visible;
    // Before its window exists a rack only keeps the flag.
    if (!m_frame)
        return;
    if (visible)
        showWindow();
    else
        hideWindow();
}

bool KST_Rack::isWindowShown() const
{
    return m_frame && m_frame->isVisible();
}

void KST_Rack::showWindow()
{
    KST_RackWidget *w = window();
    if (!w) {
        qCritical("_rackWidget NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    w->showWindow();
}

void KST_Rack::hideWindow()
{
    KST_RackWidget *w = window();
    if (!w) {
        qCritical("_rackWidget NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    w->hideWindow();
}

KST_RackWidget *KST_Rack::window() const
{
    return m_frame ? m_frame->rackWidget() : nullptr;
}

void KST_Rack::childShown(ItemData *child, bool visible)
{
    showPanel(rowOfChild(child), visible);
    // A face shown in a hidden rack window shows the window too.
    if (visible && window() && !isWindowShown())
        setVisible(true);
}

void KST_Rack::showPanel(int row, bool visible)
{
    if (row < 0 || row >= m_panels.size()) {
        qCritical("invalid panel index %d (%s,%d)", row, __FILE__, __LINE__);
        return;
    }
    KST_RackWidget *w = window();
    if (!w) {
        qCritical("_rackWidget NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    PAN_Widget *face = m_panels.at(row)->face();
    if (!face)
        return;
    if (!visible) {
        if (w->hasFace(face))
            w->removeFace(face);
        else
            face->hide();
        return;
    }
    if (!w->hasFace(face)) {
        // Before the first face of a later panel that is in the window.
        int position = -1;
        for (int i = row + 1; i < m_panels.size() && position < 0; ++i)
            position = w->indexOf(m_panels.at(i)->face());
        w->addFace(face, position);
    }
    w->setFaceVisible(face, true);
}

// ---- Panels -------------------------------------------------------------------

void KST_Rack::adopt(KST_PanelInstance *panel)
{
    panel->setParentItem(this);
    connect(panel, &KST_PanelInstance::panelStateChanged, this, &KST_Rack::panelStateChanged);
    connect(panel, &KST_PanelInstance::onlineStateChanged, this, &KST_Rack::onlineStateChanged);
    connect(panel, &KST_PanelInstance::configLoaded, this, &KST_Rack::configLoaded);
}

void KST_Rack::insertPanel(int row, KST_PanelInstance *panel)
{
    if (!panel)
        return;
    if (row < 0 || row > m_panels.size())
        row = m_panels.size();
    m_panels.insert(row, panel);
    adopt(panel);
    placeFace(panel);
    panel->update_tooltip();
}

KST_PanelInstance *KST_Rack::takePanel(int row)
{
    if (row < 0 || row >= m_panels.size())
        return nullptr;
    KST_PanelInstance *panel = m_panels.takeAt(row);
    disconnect(panel, nullptr, this, nullptr);
    panel->setParentItem(nullptr);
    // The face goes with its panel: a face left a child of this window
    // (a hidden panel's) would be deleted with the window while its panel
    // lives on in another rack.
    if (PAN_Widget *face = panel->face()) {
        KST_RackWidget *w = window();
        if (w && w->hasFace(face)) {
            w->removeFace(face);
        } else {
            face->hide();
            face->setParent(nullptr);
        }
    }
    return panel;
}

// A panel's face (once it has one) sits in the window in the panel's order
// while the panel is visible; hidden, it still belongs to this window, so
// that it lives as long as the window holds its panel.
void KST_Rack::placeFace(KST_PanelInstance *panel)
{
    KST_RackWidget *w = window();
    // A panel not inserted yet is placed when it is.
    if (!w || !panel->face() || !m_panels.contains(panel))
        return;
    if (panel->isVisible()) {
        showPanel(int(m_panels.indexOf(panel)), true);
    } else if (!w->hasFace(panel->face())) {
        PAN_Widget *face = panel->face();
        face->hide();
        if (face->parentWidget() != w->content())
            face->setParent(w->content());
    }
}

// ---- Window -------------------------------------------------------------------

void KST_Rack::createWindow(QWidget *mainWindow, KST_PanelInfo *info,
                            const KST_FaceResources &faces, const QRect *geometry)
{
    m_panelInfo = info;
    m_faces = faces;
    if (!m_frame) {
        m_frame = new KST_RackWidgetResizer(mainWindow);
        KST_RackWidget *w = m_frame->rackWidget();
        connect(w, &KST_RackWidget::resize_finished, this, &KST_Rack::resize_finished);
        connect(w, &KST_RackWidget::closed, this, &KST_Rack::rackWindowClosed);
        connect(m_frame.data(), &KST_RackWidgetResizer::closed, this, &KST_Rack::rackWindowClosed);
        for (KST_PanelInstance *p : qAsConst(m_panels))
            placeFace(p);
    } else {
        m_frame->rackWidget()->setMainWindow(mainWindow);
    }
    refresh();
    m_awaitsPlacement = false;
    if (geometry)
        m_frame->setGeometry(*geometry);
    else if (m_uiData.isEmpty() || !m_frame->restoreGeometry(m_uiData))
        m_awaitsPlacement = true;
    // A window without a place opens once its faces are built and the panel
    // set has found it one (placeWindow).
    if (!m_awaitsPlacement)
        setVisible(m_visible);
}

int KST_Rack::wantedHeight(int frameWidth, int *oneFace) const
{
    KST_RackWidget *w = window();
    if (oneFace)
        *oneFace = 0;
    if (!w)
        return 0;
    // What the frame window and the scroll area take around the faces (the
    // window need not have been laid out yet).
    const int extra = 2 * m_frame->frameWidth() + 2 * w->frameWidth();
    const int extraWidth = extra;
    const int extraHeight = extra;
    const int faceWidth = std::max(1, frameWidth - extraWidth - 2 * KST_RackWidget::Margin);
    int tallest = 0;
    const int content = w->fullContentHeight(faceWidth, &tallest);
    if (oneFace)
        *oneFace = tallest + 2 * KST_RackWidget::Margin + extraHeight;
    return content + extraHeight;
}

void KST_Rack::placeWindow(const QRect &frame)
{
    if (!m_frame)
        return;
    m_awaitsPlacement = false;
    m_frame->setGeometry(frame);
    setVisible(m_visible);
}

void KST_Rack::initPanels(const QString &firmwareSource)
{
    for (KST_PanelInstance *p : qAsConst(m_panels))
        initPanel(p, firmwareSource);
    updateLayout();
}

void KST_Rack::initPanel(KST_PanelInstance *panel, const QString &firmwareSource)
{
    KST_RackWidget *w = window();
    panel->init(w ? w->content() : nullptr, m_panelInfo, m_faces, firmwareSource);
    placeFace(panel);
}

void KST_Rack::updateLayout()
{
    if (KST_RackWidget *w = window())
        w->updateLayout();
}

void KST_Rack::storeGeometry()
{
    if (m_frame)
        m_uiData = m_frame->saveGeometry();
}

void KST_Rack::rackWindowClosed()
{
    setVisible(false);
    emit closed(this);
}

// ---- Stored fields ------------------------------------------------------------

bool KST_Rack::save(arch::Itemo *node) const
{
    KST_RackFields f;
    f.name = m_name;
    f.desc = m_desc;
    f.expanded = m_expanded;
    f.visible = m_visible;
    f.uiData = m_uiData;
    KST_saveRackFields(node, f,
                       [this](arch::Itemo *n) { n->put(KST_rackPanelsElement(), m_panels); });
    return true;
}

bool KST_Rack::load(const arch::Itemi *node)
{
    KST_RackFields f;
    f.name = m_name;
    f.desc = m_desc;
    f.expanded = m_expanded;
    f.visible = m_visible;
    f.uiData = m_uiData;
    KST_loadRackFields(node, f);
    m_name = f.name;
    m_desc = f.desc;
    m_expanded = f.expanded;
    m_visible = f.visible;
    m_uiData = f.uiData;
    QList<KST_PanelInstance *> panels;
    node->get(KST_rackPanelsElement(), panels);
    for (KST_PanelInstance *p : qAsConst(panels))
        insertPanel(-1, p);
    return true;
}

// ---- Tree ---------------------------------------------------------------------

int KST_Rack::rowOfChild(ItemData *child) const
{
    if (!child) {
        qCritical("panel NULL (%s,%d)", __FILE__, __LINE__);
        return -1;
    }
    KST_PanelInstance *p = child->asPanel();
    return p ? int(m_panels.indexOf(p)) : -1;
}

ItemData *KST_Rack::child(int row) const
{
    if (row < 0 || row >= m_panels.size()) {
        qCritical("invalid row index %d (%s,%d)", row, __FILE__, __LINE__);
        return nullptr;
    }
    return m_panels.at(row);
}
