// The face's view and the key pictures dropped on it.

#include "pan_item.h"
#include "pan_uibuilder.h"
#include "pan_widget.h"

#include <QContextMenuEvent>
#include <QDataStream>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>

PAN_Widget::GW::GW(QGraphicsScene *scene, PAN_Widget *owner)
    : QGraphicsView(scene, owner), m_owner(owner)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setOptimizationFlags(QGraphicsView::DontSavePainterState
                         | QGraphicsView::DontAdjustForAntialiasing);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setAcceptDrops(true);
    // Faces are shown as small as their racks make them.
    setMinimumSize(1, 1);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::Base, Qt::black);
    setPalette(pal);
    setBackgroundBrush(Qt::black);
}

void PAN_Widget::GW::mousePressEvent(QMouseEvent *event)
{
    QGraphicsView::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        m_rightTaken = event->isAccepted();
    if (!event->isAccepted())
        emit m_owner->mouse_event(m_owner, event);
}

// The context menu event of a right click follows its press; when a key
// latched on that press, the click was for the key and opens no menu.
void PAN_Widget::GW::contextMenuEvent(QContextMenuEvent *event)
{
    if (event->reason() == QContextMenuEvent::Mouse && m_rightTaken) {
        m_rightTaken = false;
        event->accept();
        return;
    }
    QGraphicsView::contextMenuEvent(event);
}

void PAN_Widget::GW::dragEnterEvent(QDragEnterEvent *event)
{
    m_owner->dragEnter(event);
}

void PAN_Widget::GW::dragMoveEvent(QDragMoveEvent *event)
{
    m_owner->dragMove(event);
}

void PAN_Widget::GW::dragLeaveEvent(QDragLeaveEvent *)
{
    m_owner->dragLeave();
}

void PAN_Widget::GW::dropEvent(QDropEvent *event)
{
    m_owner->drop(event);
}

void PAN_Widget::setDropHighlight(bool on)
{
    for (PAN_Item *i : m_builder->items())
        if (i->acceptsCustomPictures())
            i->setDropHighlight(on);
}

// The item under a view position that takes dropped pictures, or nullptr.
PAN_Item *PAN_Widget::customTargetAt(const QPoint &viewPos) const
{
    const QPointF scenePos = m_view->mapToScene(viewPos);
    for (PAN_Item *i : m_builder->items()) {
        if (i->acceptsCustomPictures() && i->isVisible()
            && i->shape().contains(i->mapFromScene(scenePos)))
            return i;
    }
    return nullptr;
}

void PAN_Widget::dragEnter(QDragEnterEvent *event)
{
    if (!event->mimeData()->hasFormat(QLatin1String(ButtonImageMime))) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropHighlight(true);
}

void PAN_Widget::dragMove(QDragMoveEvent *event)
{
    PAN_Item *target = event->mimeData()->hasFormat(QLatin1String(ButtonImageMime))
                           ? customTargetAt(event->position().toPoint())
                           : nullptr;
    if (!target) {
        m_dropId = -1;
        event->ignore();
        return;
    }
    m_dropId = target->id();
    event->acceptProposedAction();
}

void PAN_Widget::dragLeave()
{
    m_dropId = -1;
    setDropHighlight(false);
}

void PAN_Widget::drop(QDropEvent *event)
{
    setDropHighlight(false);
    const int id = m_dropId;
    m_dropId = -1;
    if (id < 0 || !event->mimeData()->hasFormat(QLatin1String(ButtonImageMime))) {
        event->ignore();
        return;
    }
    QByteArray data = event->mimeData()->data(QLatin1String(ButtonImageMime));
    QDataStream in(&data, QIODevice::ReadOnly);
    QImage image;
    in >> image;
    if (in.status() != QDataStream::Ok || image.isNull()) {
        qWarning("PAN_Widget: dropped data is no picture (%s,%d)", __FILE__, __LINE__);
        event->ignore();
        return;
    }
    m_builder->setCustomImage(id, image);
    if (PAN_Item *i = m_builder->item(id))
        i->setPicture(QPixmap::fromImage(image));
    else
        qWarning("invalid button id %d (%s,%d)", id, __FILE__, __LINE__);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
