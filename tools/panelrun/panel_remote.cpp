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
    // The racks of a panel set in their order, or one unnamed rack.
    QList<Rack> out;
    for (int i = 0; i < m_rack->size(); ++i) {
        const QString name = m_rack->rackAt(i);
        if (out.isEmpty() || out.last().name != name) {
            out.append(Rack());
            out.last().name = name;
        }
        out.last().panels.append(m_rack->uidAt(i));
    }
    if (out.isEmpty())
        out.append(Rack());
    return out;
}

bool PanelRemoteHost::panel(int uid, remote::PanelSummary *out) const
{
    const int i = m_rack->indexOfUid(uid);
    if (i < 0)
        return false;
    out->uid = uid;
    out->name = m_rack->nameAt(i);
    out->rack = m_rack->rackAt(i);
    out->type = m_rack->typeAt(i);
    out->ip = m_rack->addressAt(i);
    out->port = m_rack->port(i);
    out->state = m_rack->stateText(i);
    out->error = m_rack->errorText(i);
    out->online = m_rack->isOnline(i);
    out->configLoaded = m_rack->isConfigLoaded(i);
    return true;
}

bool PanelRemoteHost::face(int uid, remote::FaceView *out) const
{
    const int i = m_rack->indexOfUid(uid);
    if (i < 0)
        return false;
    *out = remote::FaceView();
    if (const PAN_HeadlessFace *f = m_rack->face(i)) {
        out->panelSize = f->panelSize();
        out->background = f->backgroundImage();
        out->backgroundColor = f->backgroundColor();
        out->items = f->items();
        out->setter = m_rack->buttonSetter(i);
    }
    return true;
}

int PanelRemoteHost::commLevel(int uid, int channel) const
{
    const int i = m_rack->indexOfUid(uid);
    return i < 0 ? 0 : m_rack->commLevel(i, channel);
}

bool PanelRemoteHost::sendKey(int uid, int key, bool pressed)
{
    return m_rack->sendKeyAt(m_rack->indexOfUid(uid), key, pressed);
}

bool PanelRemoteHost::startPanel(int uid, QString *why)
{
    return m_rack->startPanelAt(m_rack->indexOfUid(uid), why);
}

bool PanelRemoteHost::stopPanel(int uid, QString *why)
{
    const int i = m_rack->indexOfUid(uid);
    const QString state = i < 0 ? QString() : m_rack->stateText(i);
    if (state != QLatin1String("started") && state != QLatin1String("starting")) {
        *why = QStringLiteral("panel %1 is %2").arg(uid).arg(state);
        return false;
    }
    m_rack->stopPanelAt(i);
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

bool PortSet::parse(const QString &text)
{
    m_ranges.clear();
    m_all = text == QLatin1String("all");
    if (m_all || text == QLatin1String("none"))
        return true;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = false;
        const int first = ends.value(0).toInt(&ok1);
        const int last = ends.size() == 2 ? ends.at(1).toInt(&ok2) : first;
        if (ends.size() == 1)
            ok2 = ok1;
        if (!ok1 || !ok2 || ends.size() > 2 || first < 0 || last > 65535 || first > last)
            return false;
        m_ranges.append({first, last});
    }
    return !m_ranges.isEmpty();
}

bool PortSet::contains(int port) const
{
    if (m_all)
        return true;
    for (const auto &r : m_ranges)
        if (port >= r.first && port <= r.second)
            return true;
    return false;
}
