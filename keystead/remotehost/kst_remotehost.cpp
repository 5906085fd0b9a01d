#include "kst_remotehost.h"

#include "collector_msg.h"
#include "kst_buzzer.h"
#include "kst_data.h"
#include "kst_panel_firmware.h"
#include "kst_panelinfo.h"
#include "kst_panelinstance.h"
#include "kst_rack.h"
#include "pan_imagecontainer.h"
#include "pan_uibuilder.h"
#include "pan_widget.h"

#include <QGraphicsScene>
#include <QPainter>

#include <algorithm>

KST_RemoteHost::KST_RemoteHost(KST_Data *data, QObject *parent) : remote::Host(parent), m_data(data)
{
    connect(data, &QAbstractItemModel::rowsInserted, this, [this] {
        follow();
        emit panelsChanged();
    });
    connect(data, &QAbstractItemModel::rowsRemoved, this, &remote::Host::panelsChanged);
    connect(data, &QAbstractItemModel::modelReset, this, [this] {
        follow();
        emit panelsChanged();
    });
    follow();
}

void KST_RemoteHost::follow()
{
    for (KST_Rack *rack : m_data->racks()) {
        for (KST_PanelInstance *p : rack->panels()) {
            connect(p, &KST_PanelInstance::panelStateChanged, this, &KST_RemoteHost::onState,
                    Qt::UniqueConnection);
            connect(p, &KST_PanelInstance::onlineStateChanged, this, &KST_RemoteHost::onState,
                    Qt::UniqueConnection);
            connect(p, &KST_PanelInstance::configLoaded, this, &KST_RemoteHost::onState,
                    Qt::UniqueConnection);
            connect(p, &KST_PanelInstance::faceChanged, this, &KST_RemoteHost::onFace,
                    Qt::UniqueConnection);
            connect(p, &KST_PanelInstance::beeped, this, &KST_RemoteHost::onBeep,
                    Qt::UniqueConnection);
            connect(p, &KST_PanelInstance::remotePressesChanged, this, &KST_RemoteHost::onState,
                    Qt::UniqueConnection);
        }
    }
}

void KST_RemoteHost::onState(KST_PanelInstance *p)
{
    emit panelChanged(p->uid());
}

void KST_RemoteHost::onFace(KST_PanelInstance *p, const QList<qint32> &ids)
{
    emit itemsChanged(p->uid(), ids);
}

void KST_RemoteHost::onBeep(KST_PanelInstance *p)
{
    emit beeped(p->uid());
}

KST_PanelInstance *KST_RemoteHost::find(int uid) const
{
    for (KST_Rack *rack : m_data->racks())
        for (KST_PanelInstance *p : rack->panels())
            if (p->uid() == uid)
                return p;
    return nullptr;
}

QList<remote::Host::Rack> KST_RemoteHost::racks() const
{
    QList<Rack> out;
    for (KST_Rack *rack : m_data->racks()) {
        Rack r;
        r.name = rack->name();
        for (KST_PanelInstance *p : rack->panels())
            r.panels.append(p->uid());
        out.append(r);
    }
    return out;
}

bool KST_RemoteHost::panel(int uid, remote::PanelSummary *out) const
{
    KST_PanelInstance *p = find(uid);
    if (!p)
        return false;
    out->uid = uid;
    out->name = p->name();
    KST_Rack *rack = nullptr;
    for (KST_Rack *r : m_data->racks())
        if (r->panels().contains(p))
            rack = r;
    out->rack = rack ? rack->name() : QString();
    out->type = p->panelType() != 0 ? m_data->panelInfo()->typeName(p->panelType()) : QString();
    out->ip = p->ip();
    out->port = p->panelPort();
    out->state = KST_PanelInstance::stateText(p->state());
    out->error = p->state() == KST_PanelInstance::Error ? p->errorText() : QString();
    out->online = p->isOnline();
    out->configLoaded = p->isConfigLoaded();
    return true;
}

bool KST_RemoteHost::face(int uid, remote::FaceView *out) const
{
    KST_PanelInstance *p = find(uid);
    if (!p)
        return false;
    *out = remote::FaceView();
    PAN_Widget *w = p->face();
    if (!w || !w->builder())
        return true;
    out->panelSize = w->builder()->panelSize();
    if (const PAN_Layout *layout = w->builder()->layout()) {
        out->background = layout->backgroundImage();
        out->backgroundColor = QColor(std::clamp(layout->backgroundRed(), 0, 255),
                                      std::clamp(layout->backgroundGreen(), 0, 255),
                                      std::clamp(layout->backgroundBlue(), 0, 255));
    }
    for (PAN_Item *item : w->builder()->items())
        out->items.append(item->setup());
    out->setter = p->buttonSetter();
    if (!out->setter)
        out->items.clear();
    return true;
}

int KST_RemoteHost::commLevel(int uid, int channel) const
{
    KST_PanelInstance *p = find(uid);
    return p ? p->commLevelNow(channel) : 0;
}

int KST_RemoteHost::commLevels() const
{
    return 4;
}

int KST_RemoteHost::beepMs() const
{
    const KST_Buzzer *b = KST_Buzzer::instance();
    const int ms = b ? b->durationMs() : 0;
    return ms > 0 ? ms : remote::Host::beepMs();
}

bool KST_RemoteHost::sendKey(int uid, int key, bool pressed)
{
    KST_PanelInstance *p = find(uid);
    if (!p || p->state() != KST_PanelInstance::Started || !p->firmwareLoader())
        return false;
    p->firmwareLoader()->sendCollectorMsg(collector::CollectorMsg(key, pressed ? 1 : 0));
    return true;
}

bool KST_RemoteHost::startPanel(int uid, QString *why)
{
    KST_PanelInstance *p = find(uid);
    if (!p) {
        *why = QStringLiteral("no panel %1").arg(uid);
        return false;
    }
    if (p->state() != KST_PanelInstance::Stopped) {
        *why = QStringLiteral("panel %1 is %2").arg(uid).arg(KST_PanelInstance::stateText(p->state()));
        return false;
    }
    QString invalid;
    if (!m_data->validatePanel(p, &invalid)) {
        *why = QStringLiteral("panel %1 cannot be started: %2").arg(p->name(), invalid);
        return false;
    }
    const bool ok = p->start(0);
    m_data->setChanged();
    if (!ok)
        *why = QStringLiteral("panel %1 failed to start").arg(p->name());
    return ok;
}

bool KST_RemoteHost::stopPanel(int uid, QString *why)
{
    KST_PanelInstance *p = find(uid);
    if (!p) {
        *why = QStringLiteral("no panel %1").arg(uid);
        return false;
    }
    const int s = p->state();
    if (s != KST_PanelInstance::Started && s != KST_PanelInstance::Starting
        && s != KST_PanelInstance::Error) {
        *why = QStringLiteral("panel %1 is %2").arg(uid).arg(KST_PanelInstance::stateText(s));
        return false;
    }
    if (!p->stop()) {
        *why = QStringLiteral("panel %1 could not be stopped").arg(uid);
        return false;
    }
    m_data->setChanged();
    return true;
}

QImage KST_RemoteHost::faceImage(int uid, QString *why)
{
    KST_PanelInstance *p = find(uid);
    PAN_Widget *w = p ? p->face() : nullptr;
    QGraphicsScene *scene = w ? w->scene() : nullptr;
    const QRectF rect = scene ? scene->sceneRect() : QRectF();
    if (rect.width() < 1 || rect.height() < 1 || rect.width() > 8192 || rect.height() > 8192) {
        *why = QStringLiteral("the face of panel %1 is not laid out: show it in its rack window").arg(uid);
        return QImage();
    }
    QImage img(rect.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::black);
    QPainter painter(&img);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    scene->render(&painter, QRectF(QPointF(0, 0), rect.size()), rect);
    return img;
}

QImage KST_RemoteHost::keyImage(int uid, int key, QString *why)
{
    KST_PanelInstance *p = find(uid);
    PAN_Widget *w = p ? p->face() : nullptr;
    PAN_Item *found = nullptr;
    if (w && w->builder())
        for (PAN_Item *item : w->builder()->items())
            if (item->id() == key)
                found = item; // the later of two with one id, as the driver's table
    const QPixmap pix = found ? found->pixmap() : QPixmap();
    if (pix.isNull()) {
        *why = QStringLiteral("item %1 of panel %2 is not drawn: show the face in its rack window")
                   .arg(key)
                   .arg(uid);
        return QImage();
    }
    return pix.toImage();
}

QImage KST_RemoteHost::itemPicture(int uid, int key) const
{
    KST_PanelInstance *p = find(uid);
    PAN_Widget *w = p ? p->face() : nullptr;
    if (!w || !w->builder())
        return QImage();
    // Only LEDs show pictures of their own (mapped or dropped on them); a
    // display's picture is its text.
    PAN_Item *found = nullptr;
    for (PAN_Item *item : w->builder()->items())
        if (item->id() == key)
            found = item;
    if (!found || found->itemType() != PAN_Item::TypeLED || found->picture().isNull())
        return QImage();
    return found->picture().toImage();
}

QImage KST_RemoteHost::facePicture(const QString &name) const
{
    PAN_ImageContainer *images = m_data->imageContainer();
    return images ? images->getOriginal(name) : remote::Host::facePicture(name);
}

bool KST_RemoteHost::pressAllowed(int uid, QString *why) const
{
    KST_PanelInstance *p = find(uid);
    if (p && !p->remotePresses()) {
        *why = QStringLiteral("panel %1 refuses presses from browsers and the remote API "
                              "(its \"Presses\" switch in Keystead)")
                   .arg(p->name());
        return false;
    }
    return true;
}
