#include "pan_widget.h"

#include "pan_connector.h"
#include "pan_displaytext.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_limiter.h"
#include "pan_uibuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGridLayout>
#include <QResizeEvent>
#include <QSplashScreen>

#include <algorithm>
#include <cmath>

const char *const PAN_Widget::ButtonImageMime = "image/x-button-image";

namespace {

// A shaft step button turns its shaft by this many degrees a step.
const double kShaftStepDegrees = 15.0;
// How long a fade-in takes.
const double kFadeMs = 200.0;
// While the face is not built yet a deferred size update waits this long
// before it looks again.
const int kSizeRetryMs = 50;

} // namespace

PAN_Widget::PAN_Widget(QWidget *parent, const PAN_WidgetOptions &options,
                       PAN_ImageContainer *images, PAN_LayoutCache *layouts)
    : QWidget(parent),
      m_options(options),
      m_scene(new QGraphicsScene(this)),
      m_view(new GW(m_scene, this)),
      m_grid(new QGridLayout(this)),
      m_limiter(new PAN_Limiter(this)),
      m_builder(new PAN_UIBuilder(images, m_scene, this, this, this)),
      m_layoutCache(layouts),
      m_layoutFile(QStringLiteral("layout.xml")),
      m_mapperFile(QStringLiteral("item_image_mapper.xml")),
      m_customFile(QStringLiteral("ci.xml"))
{
    hide();
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    m_grid->setSpacing(0);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->addWidget(m_view, 0, 0);

    m_fadeTimer.setInterval(20);
    connect(&m_fadeTimer, &QTimer::timeout, this, &PAN_Widget::timer_show_gview);
    m_showTimer.setInterval(500);
    m_showTimer.setSingleShot(true);
    connect(&m_showTimer, &QTimer::timeout, this, &PAN_Widget::showTimer);
    m_sizeTimer.setInterval(0);
    m_sizeTimer.setSingleShot(true);
    connect(&m_sizeTimer, &QTimer::timeout, this, &PAN_Widget::timer_update_size);
    m_spinTimer.setInterval(150);
    connect(&m_spinTimer, &QTimer::timeout, this, &PAN_Widget::shaftSpinTimer);
    m_flashTimer.setInterval(500);
    connect(&m_flashTimer, &QTimer::timeout, this, &PAN_Widget::timerFlash);

    // Updates are kept but not drawn until the face had a second to settle.
    QTimer::singleShot(1000, m_limiter, &PAN_Limiter::timerUpdateEnabler);

    if (m_options.splash) {
        const QPixmap pm(QStringLiteral(":/images2/splash.png"));
        if (pm.isNull()) {
            qDebug("PAN_Widget: failed to load splash image");
        } else {
            qDebug("PAN_Widget: loaded splash image");
            m_splash = new QSplashScreen(pm);
            m_splash->show();
        }
    }
}

PAN_Widget::~PAN_Widget()
{
    m_fadeTimer.stop();
    m_sizeTimer.stop();
    m_spinTimer.stop();
    m_flashTimer.stop();
    // Connectors first (they point at items and the limiter), then the
    // items, then the rest with the widget's children.
    deleteConnectors();
    m_builder->clear();
    delete m_splash;
}

void PAN_Widget::setFiles(const QString &layout, const QString &mapper,
                          const QString &customImages)
{
    m_layoutFile = layout;
    m_mapperFile = mapper;
    m_customFile = customImages;
}

void PAN_Widget::setLatching(bool on)
{
    m_latching = on;
    for (PAN_Item *i : m_builder->items())
        i->setLatching(on);
}

void PAN_Widget::setUtilityAction(int id, std::function<void()> action)
{
    m_utilityId = id;
    m_utilityAction = std::move(action);
}

QString PAN_Widget::resolve(const QString &name) const
{
    if (name.isEmpty() || QDir::isAbsolutePath(name) || m_dataDir.isEmpty())
        return name;
    return QDir(m_dataDir).filePath(name);
}

PAN_Item *PAN_Widget::item(int id) const
{
    return m_builder->item(id);
}

Connector *PAN_Widget::connector(int id) const
{
    return m_connectors.value(id, nullptr);
}

// ---- Building the face ------------------------------------------------------

// The layout is the panel's own file of that name (in its data directory)
// when there is one, else the built-in one. A panel's own file that cannot
// be read gives way to the built-in layout, with one warning. Layouts are
// shared through the cache under the file they were read from, so one
// panel's own layout never stands in for another panel's.
bool PAN_Widget::loadLayout(const QString &path)
{
    // The same name in the same directory as the layout in use: nothing to
    // read (nor to warn about again).
    const QString request = resolve(path);
    if (m_layout && !m_layoutPath.isEmpty() && request == m_layoutRequest)
        return true;
    QStringList files;
    QString own;
    if (!path.isEmpty()) {
        const QFileInfo local(request);
        if (local.isFile())
            own = local.absoluteFilePath();
        if (!own.isEmpty())
            files.append(own);
        files.append(QStringLiteral(":/") + path.toLower());
    }

    std::shared_ptr<PAN_Layout> partial;
    for (const QString &name : std::as_const(files)) {
        std::shared_ptr<const PAN_Layout> layout = m_layoutCache ? m_layoutCache->find(name) : nullptr;
        if (!layout) {
            QFile file(name);
            if (!file.open(QIODevice::ReadOnly)) {
                if (name == own)
                    qWarning("layout %s cannot be opened: %s (%s,%d)", qPrintable(name),
                             qPrintable(file.errorString()), __FILE__, __LINE__);
                continue;
            }
            auto read = std::make_shared<PAN_Layout>();
            if (!read->load(&file)) {
                if (!partial)
                    partial = read;
                continue;
            }
            if (m_layoutCache)
                m_layoutCache->insert(name, read);
            layout = read;
        }
        if (!own.isEmpty() && name != own)
            qWarning("layout %s cannot be read; the built-in layout %s is used instead (%s,%d)",
                     qPrintable(own), qPrintable(name), __FILE__, __LINE__);
        m_layout = layout;
        m_layoutPath = name;
        m_layoutRequest = request;
        return true;
    }

    m_layoutPath.clear();
    m_layoutRequest.clear();
    if (partial) {
        // Nothing better to fall back on: the face is built from what could
        // be read, and the load reports failure.
        qCritical("UIBuilder load failed (%s,%d)", __FILE__, __LINE__);
        m_layout = partial;
        return false;
    }
    qCritical("failed to load layout %s (%s,%d)", qPrintable(path), __FILE__, __LINE__);
    qCritical("UIBuilder load failed (%s,%d)", __FILE__, __LINE__);
    m_layout = std::make_shared<PAN_Layout>();
    return false;
}

void PAN_Widget::deleteConnectors()
{
    const QList<Connector *> old = m_connectorList;
    m_connectorList.clear();
    m_connectors.clear();
    qDeleteAll(old);
    for (PAN_Item *i : m_builder->items())
        i->setConnector(nullptr);
}

bool PAN_Widget::setupUI()
{
    bool ok = true;
    m_initialised = false;
    // A rebuilt face has new items: the old connectors go with the old items.
    deleteConnectors();

    if (!loadLayout(m_layoutFile))
        ok = false;
    m_builder->setLayout(m_layout);
    if (!m_builder->setup()) {
        qCritical("UIBuilder setup failed (%s,%d)", __FILE__, __LINE__);
        ok = false;
    }
    m_panelSize = m_builder->panelSize();

    if (!m_mapperFile.isEmpty()) {
        QFile file(resolve(m_mapperFile));
        if (!file.open(QIODevice::ReadOnly)) {
            file.setFileName(QStringLiteral(":/") + m_mapperFile.toLower());
            if (!file.open(QIODevice::ReadOnly)) {
                qCritical("PAN_Widget::init, failed to load %s (%s,%d)", qPrintable(m_mapperFile),
                          __FILE__, __LINE__);
                ok = false;
            }
        }
        if (file.isOpen() && !m_builder->setupMappedImages(&file)) {
            qCritical("UIBuilder load mapped images failed (%s,%d)", __FILE__, __LINE__);
            ok = false;
        }
    }

    if (!m_customFile.isEmpty()) {
        m_builder->setCustomImagesFile(resolve(m_customFile));
        if (!m_builder->loadCustomImages()) {
            qCritical("loadCustomImages failed %s (%s,%d)", qPrintable(m_customFile), __FILE__,
                      __LINE__);
            ok = false;
        }
    }

    for (PAN_Item *i : m_builder->items())
        i->setLatching(m_latching);
    m_initialised = true;
    updateGeometry();
    if (isVisible() || !size().isEmpty())
        updateSize();
    return ok;
}

void PAN_Widget::collectButtons(QMap<qint32, buttondriver::IButton *> &buttons)
{
    for (PAN_Item *i : m_builder->items()) {
        if (i->id() < 0)
            continue;
        const int t = i->itemType();
        if (t != PAN_Item::TypeLED && t != PAN_Item::TypeLCD && t != PAN_Item::TypeVacuum)
            continue;
        Connector *c = i->connector();
        if (!c) {
            c = new Connector(i, m_limiter, m_useItemText, this);
            i->setConnector(c);
            // Two items with one id: the table keeps the later, and both
            // connectors live as long as the face.
            m_connectorList.append(c);
            m_connectors.insert(i->id(), c);
            if (t == PAN_Item::TypeVacuum)
                c->setText(QStringLiteral(":"), 0);
        }
        buttons.insert(i->id(), c);
    }
}

// ---- Size, fade-in and flashing ---------------------------------------------

int PAN_Widget::heightForWidth(int width) const
{
    if (m_panelSize.width() <= 0)
        return QWidget::heightForWidth(width);
    return int(qint64(width) * m_panelSize.height() / m_panelSize.width());
}

QSize PAN_Widget::sizeHint() const
{
    const QSize w = m_builder->windowSize();
    return w.isEmpty() ? QSize(320, 200) : w;
}

void PAN_Widget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateSize();
}

void PAN_Widget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        m_showTimer.start();
    }
    updateSize();
}

void PAN_Widget::updateSize()
{
    if (m_options.fadeIn) {
        m_view->hide();
        m_sizeTimer.start(0);
    } else if (m_initialised) {
        // No fade-in: the face shows at once, uncovered.
        shade(m_builder->upperOverlay(), 1.0);
        applySize();
    }
}

void PAN_Widget::applySize()
{
    m_builder->resize(width(), height(), false);
}

void PAN_Widget::timer_update_size()
{
    if (!m_initialised) {
        m_sizeTimer.start(kSizeRetryMs);
        return;
    }
    applySize();
    m_view->show();
    m_fadeClock.start();
    shade(m_builder->upperOverlay(), 0.0);
    m_fadeTimer.start();
}

void PAN_Widget::timer_show_gview()
{
    const double t = std::min(1.0, m_fadeClock.isValid() ? m_fadeClock.elapsed() / kFadeMs : 1.0);
    shade(m_builder->upperOverlay(), t);
    if (t >= 1.0)
        m_fadeTimer.stop();
}

// Covers the face with black of opacity 1 - t (nothing once t > 0.99).
void PAN_Widget::shade(QGraphicsPixmapItem *overlay, double t)
{
    if (!overlay)
        return;
    if (t > 0.99) {
        overlay->setVisible(false);
        return;
    }
    m_builder->fillOverlay(overlay);
    overlay->setOpacity(1.0 - t);
    overlay->setVisible(true);
}

void PAN_Widget::showTimer()
{
    // A face hidden since (taken out of its rack window, left without
    // parent) must not come back, least of all as a window of its own.
    if (!isHidden())
        show();
    if (m_splash) {
        m_splash->close();
        m_splash->deleteLater();
        m_splash = nullptr;
    }
}

void PAN_Widget::startFlash()
{
    if (!m_flashTimer.isActive()) {
        m_flashCount = 0;
        m_flashTimer.start();
    }
}

void PAN_Widget::stopFlash()
{
    m_flashTimer.stop();
    m_flashCount = 0;
    shade(m_builder->lowerOverlay(), 1.0);
}

void PAN_Widget::timerFlash()
{
    if (!m_flashTimer.isActive())
        m_flashCount = 0;
    ++m_flashCount;
    shade(m_builder->lowerOverlay(), (m_flashCount & 1) ? 0.5 : 1.0);
}

// ---- What the items report --------------------------------------------------

void PAN_Widget::itemPressed(PAN_Item *item, bool down)
{
    switch (item->itemType()) {
    case PAN_Item::TypeUtilButton:
        if (item->id() == m_utilityId && down && m_utilityAction)
            m_utilityAction();
        break;
    case PAN_Item::TypeShaftUp:
    case PAN_Item::TypeShaftDown:
        shaftSpinnerButton(item, down);
        break;
    default:
        emit collector_msg(collector::CollectorMsg(item->id(), down ? 1 : 0));
        break;
    }
}

void PAN_Widget::shaftTurned(PAN_Item *item, int value)
{
    emit collector_msg(
        collector::CollectorMsg(collector::CollectorMsg::ValueEvent, item->shaftId(), value));
}

QFont PAN_Widget::displayFont(int cellWidth, int cellHeight)
{
    const quint64 key = (quint64(quint32(cellWidth)) << 32) | quint32(cellHeight);
    const auto it = m_fonts.constFind(key);
    if (it != m_fonts.constEnd())
        return *it;
    const QFont f = pan_display::fontForCell(cellWidth, cellHeight);
    m_fonts.insert(key, f);
    return f;
}

void PAN_Widget::shaftSpinnerButton(PAN_Item *item, bool down)
{
    if (down) {
        m_spinItem = item;
        m_spinClock.start();
        stepShaft(item, 1);
        m_spinTimer.start();
    } else if (item == m_spinItem) {
        m_spinTimer.stop();
        m_spinItem = nullptr;
    }
}

// While a step button is held: nothing for the first moments, then single
// steps, then faster and faster up to the full speed.
void PAN_Widget::shaftSpinTimer()
{
    if (!m_spinItem) {
        m_spinTimer.stop();
        return;
    }
    const double t = double(m_spinClock.elapsed());
    if (t < m_spinDelay)
        return;
    double steps = m_spinMinStep;
    if (t > m_spinSlow) {
        const double x = std::min(1.0, (t - m_spinSlow) / m_spinRamp);
        steps = m_spinMinStep + (m_spinMaxStep - m_spinMinStep) * x * x;
    }
    stepShaft(m_spinItem, int(std::lround(steps)));
}

void PAN_Widget::stepShaft(PAN_Item *stepButton, int steps)
{
    PAN_Item *shaft = stepButton->shaft();
    if (!shaft)
        return;
    const int value = stepButton->itemType() == PAN_Item::TypeShaftDown ? -steps : steps;
    shaft->setAngle(shaft->angle() + value * kShaftStepDegrees);
    emit collector_msg(
        collector::CollectorMsg(collector::CollectorMsg::ValueEvent, shaft->shaftId(), value));
}
