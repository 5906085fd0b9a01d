#include "pan_uibuilder.h"

#include "pan_placement.h"

#include "pan_imagecontainer.h"
#include "pan_item.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

#include <cmath>

namespace {

// The preferred widget size when the layout gives none, or a useless one.
const QSize kDefaultWindow(320, 200);
const int kMaxWindowSide = 16384;

// The stacking order: background below everything, overlays above.
const qreal kBackgroundZ = -1e9;
const qreal kLowerOverlayZ = 1e9;
const qreal kUpperOverlayZ = 1e9 + 1;

QString sizeText(const QSize &s)
{
    return QStringLiteral("[%1,%2]").arg(s.width()).arg(s.height());
}

} // namespace

PAN_UIBuilder::PAN_UIBuilder(PAN_ImageContainer *images, QGraphicsScene *scene,
                             QWidget *parentWidget, PAN_ItemCallback *callback, QObject *parent)
    : QObject(parent),
      m_images(images ? images : new PAN_ImageContainer(this)),
      m_ownsImages(images == nullptr),
      m_scene(scene),
      m_parentWidget(parentWidget),
      m_callback(callback)
{
}

PAN_UIBuilder::~PAN_UIBuilder()
{
    clear();
}

void PAN_UIBuilder::setLayout(std::shared_ptr<const PAN_Layout> layout)
{
    m_layout = std::move(layout);
}

PAN_Item *PAN_UIBuilder::item(int id) const
{
    for (PAN_Item *i : m_items)
        if (i->id() == id)
            return i;
    return nullptr;
}

void PAN_UIBuilder::clear()
{
    for (PAN_Item *i : std::as_const(m_items)) {
        if (m_scene)
            m_scene->removeItem(i);
        delete i;
    }
    m_items.clear();
    m_shafts.clear();
    for (QGraphicsPixmapItem **p : {&m_background, &m_lowerOverlay, &m_upperOverlay}) {
        if (*p) {
            if (m_scene)
                m_scene->removeItem(*p);
            delete *p;
            *p = nullptr;
        }
    }
}

bool PAN_UIBuilder::setup()
{
    clear();
    m_panelSize = QSize();
    m_windowSize = QSize();
    if (!m_layout || !m_scene) {
        qCritical("PAN_UIBuilder::setup, no layout (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    const PAN_Layout &L = *m_layout;

    if (!L.backgroundImage().isEmpty()) {
        m_background = new QGraphicsPixmapItem;
        m_background->setZValue(kBackgroundZ);
        m_background->setTransformationMode(Qt::SmoothTransformation);
        m_scene->addItem(m_background);
    }
    m_scene->setBackgroundBrush(
        QColor(L.backgroundRed(), L.backgroundGreen(), L.backgroundBlue()));

    if (!L.hasSize(QStringLiteral("Panel"))) {
        qCritical("PAN_UIBuilder::setup Panel size not found (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    m_panelSize = L.size(QStringLiteral("Panel"));
    if (m_panelSize.width() <= 0 || m_panelSize.height() <= 0) {
        qCritical("PAN_UIBuilder::setup invalid Panel size %s (%s,%d)",
                  qPrintable(sizeText(m_panelSize)), __FILE__, __LINE__);
        m_panelSize = QSize();
        return false;
    }

    if (!L.hasSize(QStringLiteral("Window"))) {
        qWarning("PAN_UIBuilder::setup Window size not found, setting to [320,200] (%s,%d)",
                 __FILE__, __LINE__);
        m_windowSize = kDefaultWindow;
    } else {
        m_windowSize = L.size(QStringLiteral("Window"));
        if (m_windowSize.width() <= 0 || m_windowSize.height() <= 0
            || m_windowSize.width() > kMaxWindowSide || m_windowSize.height() > kMaxWindowSide) {
            qWarning("PAN_UIBuilder::setup invalid Window size %s, setting to [320,200] (%s,%d)",
                     qPrintable(sizeText(m_windowSize)), __FILE__, __LINE__);
            m_windowSize = kDefaultWindow;
        }
    }

    qreal z = 0;
    for (const PAN_Layout::Group &g : L.groups())
        if (!addGroup(g, &z))
            return false;

    // Step buttons turn the shaft with their shaft id.
    for (PAN_Item *i : std::as_const(m_items)) {
        if (i->itemType() != PAN_Item::TypeShaftUp && i->itemType() != PAN_Item::TypeShaftDown)
            continue;
        PAN_Item *shaft = m_shafts.value(i->shaftId(), nullptr);
        if (!shaft)
            qCritical("shaft not found %d (%s,%d)", i->shaftId(), __FILE__, __LINE__);
        i->setShaft(shaft);
    }

    m_lowerOverlay = new QGraphicsPixmapItem;
    m_lowerOverlay->setZValue(kLowerOverlayZ);
    m_lowerOverlay->setVisible(false);
    m_scene->addItem(m_lowerOverlay);
    m_upperOverlay = new QGraphicsPixmapItem;
    m_upperOverlay->setZValue(kUpperOverlayZ);
    m_scene->addItem(m_upperOverlay);
    return true;
}

bool PAN_UIBuilder::addGroup(const PAN_Layout::Group &g, qreal *z)
{
    QList<PAN_Item::Setup> places;
    if (!PAN_placeGroup(*m_layout, g, MaxItems - m_items.size(), &places))
        return false;
    for (const PAN_Item::Setup &s : std::as_const(places)) {
        PAN_Item *item = new PAN_Item(s, m_images, m_callback);
        item->setZValue((*z)++);
        m_scene->addItem(item);
        m_items.append(item);
        if (s.type == PAN_Item::TypeShaft)
            m_shafts.insert(item->shaftId(), item);
    }
    return true;
}

bool PAN_UIBuilder::resize(int width, int height, bool fast)
{
    if (!m_layout) {
        qCritical("PAN_UIBuilder::resize, no layout (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    if (height == 0)
        return true;
    if (m_panelSize.width() <= 0 || m_panelSize.height() <= 0) {
        qCritical("PAN_UIBuilder::resize _reference_panesize invalid %s (%s,%d)",
                  qPrintable(sizeText(m_panelSize)), __FILE__, __LINE__);
        return false;
    }
    if (width <= 0 || height <= 0)
        return true; // nothing to lay out on
    if (m_ownsImages)
        m_images->reset();
    m_size = QSize(width, height);

    if (!m_layout->backgroundImage().isEmpty()) {
        PAN_ImageContainer::StoredImage *bk =
            m_images->get(m_layout->backgroundImage(), width, height);
        if (!fast) {
            if (!m_background) {
                qCritical("PAN_UIBuilder::resize _gi_bk NULL (%s,%d)", __FILE__, __LINE__);
                return false;
            }
            m_background->setPixmap(bk ? bk->pixmap() : QPixmap());
        }
    }
    if (!fast && m_scene)
        m_scene->setSceneRect(0, 0, width, height);

    const double sx = double(width) / m_panelSize.width();
    const double sy = double(height) / m_panelSize.height();
    for (PAN_Item *i : std::as_const(m_items))
        i->resize(sx, sy, fast, m_size);

    if (!fast && m_scene)
        m_scene->update();
    if (m_upperOverlay && m_upperOverlay->isVisible())
        fillOverlay(m_upperOverlay);
    if (m_lowerOverlay && m_lowerOverlay->isVisible())
        fillOverlay(m_lowerOverlay);
    return true;
}

void PAN_UIBuilder::fillOverlay(QGraphicsPixmapItem *overlay) const
{
    if (!overlay)
        return;
    if (m_size.isEmpty()) {
        overlay->setPixmap(QPixmap());
        return;
    }
    if (overlay->pixmap().size() == m_size)
        return;
    QPixmap black(m_size);
    black.fill(Qt::black);
    overlay->setPixmap(black);
}
