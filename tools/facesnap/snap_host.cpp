#include "snap_host.h"

#include "button_setter_impl.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_uibuilder.h"
#include "pan_widget.h"

#include <algorithm>

SnapHost::SnapHost(PAN_Widget *face, buttondriver::ButtonSetterImpl *setter, const QString &name,
                   PAN_ImageContainer *images, QObject *parent)
    : remote::Host(parent), m_face(face), m_setter(setter), m_name(name), m_images(images)
{
    connect(setter, &buttondriver::ButtonSetterImpl::applied, this,
            [this](const QList<qint32> &ids) { emit itemsChanged(1, ids); });
}

QList<remote::Host::Rack> SnapHost::racks() const
{
    return {Rack{QStringLiteral("facesnap"), {1}}};
}

bool SnapHost::panel(int uid, remote::PanelSummary *out) const
{
    if (uid != 1)
        return false;
    out->uid = 1;
    out->name = m_name;
    out->rack = QStringLiteral("facesnap");
    out->type = m_name;
    out->ip = QStringLiteral("127.0.0.1");
    out->state = QStringLiteral("started");
    out->online = true;
    out->configLoaded = true;
    return true;
}

bool SnapHost::face(int uid, remote::FaceView *out) const
{
    if (uid != 1)
        return false;
    *out = remote::FaceView();
    PAN_UIBuilder *b = m_face->builder();
    out->panelSize = b->panelSize();
    if (const PAN_Layout *layout = b->layout()) {
        out->background = layout->backgroundImage();
        out->backgroundColor = QColor(std::clamp(layout->backgroundRed(), 0, 255),
                                      std::clamp(layout->backgroundGreen(), 0, 255),
                                      std::clamp(layout->backgroundBlue(), 0, 255));
    }
    for (PAN_Item *item : b->items())
        out->items.append(item->setup());
    out->setter = m_setter;
    return true;
}

bool SnapHost::startPanel(int, QString *why)
{
    *why = QStringLiteral("facesnap runs no panel");
    return false;
}

bool SnapHost::stopPanel(int, QString *why)
{
    *why = QStringLiteral("facesnap runs no panel");
    return false;
}

QImage SnapHost::faceImage(int, QString *)
{
    return m_face->grab().toImage();
}

QImage SnapHost::keyImage(int, int key, QString *why)
{
    for (PAN_Item *item : m_face->builder()->items())
        if (item->id() == key && !item->pixmap().isNull())
            return item->pixmap().toImage();
    *why = QStringLiteral("no item %1").arg(key);
    return QImage();
}

QImage SnapHost::facePicture(const QString &name) const
{
    return m_images ? m_images->getOriginal(name) : remote::Host::facePicture(name);
}
