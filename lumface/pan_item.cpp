#include "pan_item.h"

#include "pan_connector.h"
#include "pan_imagecontainer.h"
#include "pan_itemcallback.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsSceneWheelEvent>
#include <QGraphicsView>

#include <algorithm>
#include <cmath>

namespace {

struct TypeName
{
    int type;
    const char *text;
};

const TypeName kTypes[] = {
    {PAN_Item::TypeLED, "LED"},         {PAN_Item::TypeLCD, "LCD"},
    {PAN_Item::TypeShaftUp, "Shaft_Up"}, {PAN_Item::TypeShaftDown, "Shaft_Down"},
    {PAN_Item::TypeShaft, "Shaft"},     {PAN_Item::TypeVacuum, "Vacuum"},
    {PAN_Item::TypeScreen, "Screen"},   {PAN_Item::TypeWidget, "Widget"},
    {PAN_Item::TypeUtilButton, "UtilButton"},
};

// One wheel notch turns a shaft by one step of this many degrees.
const double kShaftStepDegrees = 15.0;

} // namespace

int PAN_Item::typeFromText(const QString &text)
{
    for (const TypeName &t : kTypes)
        if (text == QLatin1String(t.text))
            return t.type;
    return TypeNone;
}

QString PAN_Item::typeText(int type)
{
    for (const TypeName &t : kTypes)
        if (t.type == type)
            return QString::fromLatin1(t.text);
    return QString();
}

PAN_Item::PAN_Item(const Setup &setup, PAN_ImageContainer *images, PAN_ItemCallback *callback)
    : m_setup(setup), m_images(images), m_callback(callback)
{
    m_animTimer.setInterval(10);
    connect(&m_animTimer, &QTimer::timeout, this, &PAN_Item::timerTimeout);
    m_grabTimer.setInterval(100);
    connect(&m_grabTimer, &QTimer::timeout, this, &PAN_Item::grabChecker);
    m_latchTimer.setInterval(5000);
    m_latchTimer.setSingleShot(true);
    connect(&m_latchTimer, &QTimer::timeout, this, &PAN_Item::timer_untoggle);
    setPos(m_setup.pos);
    setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    setTransformationMode(Qt::FastTransformation);
    // Mouse events are taken by the item itself; a non-pushable item lets
    // them through to whatever lies below.
    setAcceptedMouseButtons(m_setup.pushable ? Qt::AllButtons : Qt::NoButton);
}

PAN_Item::~PAN_Item()
{
    if (m_connector)
        m_connector->itemGone();
}

bool PAN_Item::reports() const
{
    switch (m_setup.type) {
    case TypeLCD:
    case TypeLED:
    case TypeShaft:
    case TypeShaftUp:
    case TypeShaftDown:
    case TypeUtilButton:
        return true;
    default:
        return false;
    }
}

void PAN_Item::setConnector(Connector *c)
{
    m_connector = c;
}

Connector *PAN_Item::connector() const
{
    return m_connector;
}

// ---- What the item shows ----------------------------------------------------

void PAN_Item::setColor(const QColor &color)
{
    m_color = color;
    changed();
}

void PAN_Item::setLegendBitmap(const QBitmap &bitmap)
{
    m_picture = QPixmap();
    m_text.clear();
    m_textFlags = 0;
    if (bitmap.isNull()) {
        m_legend = QImage();
    } else {
        // Lit pixels black, the rest transparent.
        QImage mono = bitmap.toImage().convertToFormat(QImage::Format_Mono);
        mono.setColorCount(2);
        const bool setIsOne = qGray(mono.color(1)) < qGray(mono.color(0));
        mono.setColor(setIsOne ? 1 : 0, qRgba(0, 0, 0, 255));
        mono.setColor(setIsOne ? 0 : 1, qRgba(0, 0, 0, 0));
        m_legend = mono.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    changed();
}

void PAN_Item::setPicture(const QPixmap &picture)
{
    m_legend = QImage();
    m_text.clear();
    m_textFlags = 0;
    m_picture = picture;
    changed();
}

void PAN_Item::setText(const QString &text, int flags)
{
    m_legend = QImage();
    m_picture = QPixmap();
    m_text = text;
    m_textFlags = flags;
    changed();
}

void PAN_Item::setDropHighlight(bool on)
{
    if (m_dropHighlight == on)
        return;
    m_dropHighlight = on;
    if (m_acceptsCustom)
        changed();
}

void PAN_Item::setAngle(double degrees)
{
    m_angle = std::fmod(degrees, 360.0);
    changed();
}

void PAN_Item::changed()
{
    m_dirty = true;
    if (m_hold == 0)
        redraw();
}

void PAN_Item::releaseRedraw()
{
    if (m_hold > 0 && --m_hold == 0 && m_dirty)
        redraw();
}

// ---- Geometry ---------------------------------------------------------------

void PAN_Item::resize(double sx, double sy, bool fast, const QSize &limit)
{
    auto side = [](double layout, double scale, int max) {
        const double v = layout * scale;
        if (!std::isfinite(v) || v <= 0)
            return 0;
        return int(std::min<double>(v, std::clamp(max, 0, int(MaxSide))));
    };
    const QSize size(side(m_setup.size.width(), sx, limit.width()),
                     side(m_setup.size.height(), sy, limit.height()));
    if (size != m_pixelSize) {
        prepareGeometryChange();
        m_pixelSize = size;
    }
    if (!fast) {
        const double x = m_setup.pos.x() * sx;
        const double y = m_setup.pos.y() * sy;
        setPos(std::isfinite(x) ? x : 0, std::isfinite(y) ? y : 0);
    }
    fetchPictures();
    updateIndices();
    m_dirty = true;
    holdRedraw();
    if (m_connector)
        m_connector->refresh();
    releaseRedraw();
    if (m_dirty)
        redraw();
}

QRect PAN_Item::pictureArea() const
{
    return QRect(m_areaOffset, m_areaSize);
}

// Takes the item's pictures at its new size from the image container, once
// per resize: drawing then never looks a picture up.
void PAN_Item::fetchPictures()
{
    m_frames.clear();
    m_masks.clear();
    m_covers.clear();
    m_background = QPixmap();
    m_shape = QPainterPath();
    m_window = QRect();
    m_areaSize = m_pixelSize;
    m_areaOffset = QPoint(0, 0);
    if (m_pixelSize.isEmpty())
        return;

    const PAN_Layout::ImageSequence &seq = m_setup.sequence;
    if (m_setup.keepAspect && m_images) {
        // The picture area keeps the proportions of the first picture of
        // the sequence, centred in the item.
        QString first = !seq.frames.isEmpty() ? seq.frames.first()
                        : !seq.displayMasks.isEmpty() ? seq.displayMasks.first()
                                                       : QString();
        const QImage original = first.isEmpty() ? QImage() : m_images->getOriginal(first);
        if (!original.isNull()) {
            const QSize fit = original.size().scaled(m_pixelSize, Qt::KeepAspectRatio);
            if (!fit.isEmpty()) {
                m_areaSize = fit;
                m_areaOffset = QPoint((m_pixelSize.width() - fit.width()) / 2,
                                      (m_pixelSize.height() - fit.height()) / 2);
            }
        }
    }

    auto fetch = [this](const QStringList &names, QVector<QPixmap> *out, const char *what) {
        for (const QString &n : names) {
            PAN_ImageContainer::StoredImage *s =
                m_images ? m_images->get(n, m_areaSize.width(), m_areaSize.height()) : nullptr;
            if (!s)
                qWarning("%s %s (%s,%d)", what, qPrintable(n), __FILE__, __LINE__);
            // A missing picture keeps its place so indices still match the
            // progress; it is simply not drawn.
            out->append(s ? s->pixmap() : QPixmap());
        }
    };
    fetch(seq.frames, &m_frames, "seq im not found");
    fetch(seq.displayMasks, &m_masks, "im not found");
    fetch(seq.colorCovers, &m_covers, "im not found");
    if (!seq.background.isEmpty() && m_images) {
        if (PAN_ImageContainer::StoredImage *s =
                m_images->get(seq.background, m_areaSize.width(), m_areaSize.height()))
            m_background = s->pixmap();
    }

    // The first display mask gives the key its shape and its legend window.
    PAN_ImageContainer::StoredImage *mask =
        (!seq.displayMasks.isEmpty() && m_images)
            ? m_images->get(seq.displayMasks.first(), m_areaSize.width(), m_areaSize.height())
            : nullptr;
    if (mask) {
        m_shape = mask->opaqueShape().translated(m_areaOffset);
        m_window = mask->opaqueRect();
    } else {
        m_shape.addRect(QRectF(QPointF(0, 0), QSizeF(m_pixelSize)));
    }
    if (m_window.isEmpty())
        m_window = QRect(QPoint(0, 0), m_areaSize);
}

QRect PAN_Item::legendWindow() const
{
    return m_window;
}

QRectF PAN_Item::boundingRect() const
{
    return QRectF(QPointF(0, 0), QSizeF(m_pixelSize));
}

QPainterPath PAN_Item::shape() const
{
    return m_shape;
}

// ---- Presses ----------------------------------------------------------------

void PAN_Item::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_setup.pushable) {
        event->ignore();
        return;
    }
    // Keys are pressed with the left button, and latched with the right one
    // when latching is on; other presses pass through to the face (whose
    // context menu the right button opens).
    const bool latch = m_latching && event->button() == Qt::RightButton;
    if (event->button() != Qt::LeftButton && !latch) {
        event->ignore();
        return;
    }
    event->accept();
    if (event->button() == Qt::LeftButton) {
        startPressing();
        m_grabTimer.start();
    } else {
        // Latching: a right click holds the key until the next right click
        // or for at most the latch time.
        if (m_state == StateIdle) {
            startPressing();
            m_latchTimer.start();
        } else if (m_state == StateHeld) {
            release();
        }
    }
}

void PAN_Item::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_setup.pushable) {
        event->ignore();
        return;
    }
    // Only the left button's release lets a key go (a latched key goes at
    // the next right press or by itself).
    if (event->button() != Qt::LeftButton || m_state == StateIdle)
        return;
    release();
    m_grabTimer.stop();
}

void PAN_Item::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_setup.pushable) {
        event->ignore();
        return;
    }
    // Dragging the pointer off a pressed key lets it go.
    if (m_state != StateIdle && m_state != StateReleasing && !shape().contains(event->pos())) {
        release();
        m_grabTimer.stop();
    }
}

void PAN_Item::wheelEvent(QGraphicsSceneWheelEvent *event)
{
    if (!m_setup.pushable || m_setup.type != TypeShaft) {
        event->ignore();
        return;
    }
    event->accept();
    m_wheelRest += event->delta();
    const int steps = m_wheelRest / 120;
    if (steps == 0)
        return;
    m_wheelRest -= steps * 120;
    setAngle(m_angle + steps * kShaftStepDegrees);
    if (m_callback)
        m_callback->shaftTurned(this, steps);
    else
        qCritical("_item_cb NULL (%s,%d)", __FILE__, __LINE__);
}

void PAN_Item::grabChecker()
{
    // A press whose release went to another window (the view lost the
    // focus) would otherwise stay down for ever.
    bool focused = false;
    if (QGraphicsScene *s = scene()) {
        for (QGraphicsView *v : s->views())
            focused = focused || v->hasFocus();
    }
    if (!focused) {
        release();
        m_grabTimer.stop();
    }
}

void PAN_Item::timer_untoggle()
{
    release();
}

qint64 PAN_Item::elapsed() const
{
    return (m_clock.isValid() ? m_clock.elapsed() : 0) + m_clockOffset;
}

// Sets the animation clock so that the animation towards state continues
// from the current progress (pressing: p x forward duration; releasing:
// (1 - p) x reverse duration). From idle or held that is a fresh start.
void PAN_Item::setClockFor(int state)
{
    const double ms = state == StatePressing ? m_progress * m_setup.sequence.durationFw
                                             : (1.0 - m_progress) * m_setup.sequence.durationRv;
    m_clock.restart();
    m_clockOffset = std::isfinite(ms) && ms > 0 ? qint64(ms) : 0;
}

void PAN_Item::startPressing()
{
    setClockFor(StatePressing);
    m_state = StatePressing;
    m_animTimer.start();
}

void PAN_Item::release()
{
    // Only a pressing or held key can be let go: a second release (the
    // latch timer after a right click released the key, a grab check after
    // a move did) must not report up again.
    if (m_state != StatePressing && m_state != StateHeld)
        return;
    m_animTimer.stop();
    m_latchTimer.stop();
    const bool early = m_state == StatePressing;
    setClockFor(StateReleasing);
    m_state = StateReleasing;
    if (early)
        report(true);
    report(false);
    m_animTimer.start();
}

void PAN_Item::report(bool down)
{
    if (!reports())
        return;
    if (!m_callback) {
        qCritical("_item_cb NULL (%s,%d)", __FILE__, __LINE__);
        return;
    }
    m_callback->itemPressed(this, down);
}

void PAN_Item::timerTimeout()
{
    const int fw = m_setup.sequence.durationFw;
    const int rv = m_setup.sequence.durationRv;
    switch (m_state) {
    case StatePressing:
        if (m_progress >= 1.0) {
            m_state = StateHeld;
            m_animTimer.stop();
            report(true);
        } else {
            // A zero or negative duration is no animation at all.
            m_progress = fw > 0 ? std::min(1.0, double(elapsed()) / fw) : 1.0;
        }
        break;
    case StateReleasing:
        if (m_progress > 0) {
            m_progress = rv > 0 ? std::max(0.0, 1.0 - std::min(1.0, double(elapsed()) / rv)) : 0.0;
        } else {
            m_state = StateIdle;
            m_animTimer.stop();
        }
        break;
    default:
        m_animTimer.stop();
        break;
    }
    if (updateIndices())
        changed();
}

// The frame, mask and cover shown at the current progress; true when one
// of them changed.
bool PAN_Item::updateIndices()
{
    auto index = [this](int count) {
        if (count <= 0)
            return -1;
        return std::max(0, int(std::floor((count - 1) * m_progress)));
    };
    const int frame = index(int(m_setup.sequence.frames.size()));
    const int mask = index(int(m_setup.sequence.displayMasks.size()));
    const int cover = index(int(m_setup.sequence.colorCovers.size()));
    const bool differs = frame != m_frameIndex || mask != m_maskIndex || cover != m_coverIndex;
    m_frameIndex = frame;
    m_maskIndex = mask;
    m_coverIndex = cover;
    return differs;
}
