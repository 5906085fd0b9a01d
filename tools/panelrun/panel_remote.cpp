#include "panel_remote.h"

#include "pan_headlessface.h"
#include "panel_rack.h"

PanelRemoteHost::PanelRemoteHost(PanelRack *rack, QObject *parent) : remote::Host(parent), m_rack(rack)
{
    connect(rack, &PanelRack::panelChanged, this, &remote::Host::panelChanged);
    connect(rack, &PanelRack::faceChanged, this, &remote::Host::itemsChanged);
    connect(rack, &PanelRack::beeped, this, &remote::Host::beeped);
}

QList<remote::Host::Rack> PanelRemoteHost::racks() const
{
    Rack r;
    for (int i = 0; i < m_rack->size(); ++i)
        r.panels.append(m_rack->port(i));
    return {r};
}

bool PanelRemoteHost::panel(int uid, remote::PanelSummary *out) const
{
    const int i = m_rack->indexOfPort(uid);
    if (i < 0)
        return false;
    out->uid = uid;
    out->name = QString::number(uid);
    out->rack.clear();
    out->type = m_rack->typeName();
    out->ip = m_rack->address();
    out->port = uid;
    out->state = m_rack->stateText(i);
    out->error = m_rack->errorText(i);
    out->online = m_rack->isOnline(i);
    out->configLoaded = m_rack->isConfigLoaded(i);
    return true;
}

bool PanelRemoteHost::face(int uid, remote::FaceView *out) const
{
    const int i = m_rack->indexOfPort(uid);
    if (i < 0)
        return false;
    *out = remote::FaceView();
    if (const PAN_HeadlessFace *f = m_rack->face(i)) {
        out->panelSize = f->panelSize();
        out->items = f->items();
        out->setter = m_rack->buttonSetter(i);
    }
    return true;
}

int PanelRemoteHost::commLevel(int uid, int channel) const
{
    const int i = m_rack->indexOfPort(uid);
    return i < 0 ? 0 : m_rack->commLevel(i, channel);
}

bool PanelRemoteHost::sendKey(int uid, int key, bool pressed)
{
    return m_rack->sendKey(key, pressed, uid) > 0;
}

bool PanelRemoteHost::startPanel(int uid, QString *why)
{
    return m_rack->startPanelAt(uid, why);
}

bool PanelRemoteHost::stopPanel(int uid, QString *why)
{
    const int i = m_rack->indexOfPort(uid);
    const QString state = i < 0 ? QString() : m_rack->stateText(i);
    if (state != QLatin1String("started") && state != QLatin1String("starting")) {
        *why = QStringLiteral("panel %1 is %2").arg(uid).arg(state);
        return false;
    }
    m_rack->stopPanel(uid);
    return true;
}

QImage PanelRemoteHost::faceImage(int, QString *why)
{
    *why = QStringLiteral("panelrun draws no faces: ask Keystead for pictures");
    return QImage();
}

QImage PanelRemoteHost::keyImage(int, int, QString *why)
{
    *why = QStringLiteral("panelrun draws no faces: ask Keystead for pictures");
    return QImage();
}
