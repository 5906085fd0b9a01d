#include "rm_router.h"

#include "rm_json.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimer>

#include <cmath>

namespace remote {

namespace {

qint64 nowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

qint64 releaseKey(int uid, int key)
{
    return (qint64(uid) << 32) | quint32(key);
}

QByteArray pngOf(const QImage &img)
{
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return out;
}

} // namespace

bool parseNumber(const QByteArray &text, int *out)
{
    if (text.isEmpty() || text.size() > 9)
        return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *out = n;
    return true;
}

Router::Router(Host *host, QObject *parent) : QObject(parent), m_host(host) {}

Router::~Router()
{
    qDeleteAll(m_releases);
}

Reply Router::error(int status, const QString &text)
{
    QJsonObject o;
    o.insert(QStringLiteral("error"), text);
    return json(o, status);
}

Reply Router::json(const QJsonObject &o, int status)
{
    Reply r;
    r.status = status;
    r.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    return r;
}

Reply Router::handle(const Request &rq)
{
    static const QByteArray prefix = "/api/v1/panels";
    const bool get = rq.method == "GET" || rq.method == "HEAD";
    const bool post = rq.method == "POST";
    if (rq.path == prefix || rq.path == prefix + '/') {
        if (!get)
            return error(405, QStringLiteral("use GET on %1").arg(QString::fromLatin1(prefix)));
        return panels();
    }
    if (rq.path.startsWith(prefix + '/')) {
        const QList<QByteArray> parts = rq.path.mid(prefix.size() + 1).split('/');
        int uid = 0;
        if (!parseNumber(parts[0], &uid))
            return error(404, QStringLiteral("no panel %1").arg(QString::fromUtf8(parts[0].left(64))));
        PanelSummary summary;
        if (!m_host->panel(uid, &summary))
            return error(404, QStringLiteral("no panel %1").arg(uid));
        if (parts.size() == 1) {
            if (!get)
                return error(405, QStringLiteral("use GET on a panel"));
            return panel(uid);
        }
        if (parts.size() == 2 && parts[1] == "face.png") {
            if (!get)
                return error(405, QStringLiteral("use GET on face.png"));
            return facePng(uid);
        }
        if (parts.size() == 2 && (parts[1] == "start" || parts[1] == "stop")) {
            if (!post)
                return error(405, QStringLiteral("use POST to %1 a panel").arg(QString::fromLatin1(parts[1])));
            return startStop(uid, parts[1] == "start");
        }
        if (parts.size() == 3 && parts[1] == "keys") {
            QByteArray id = parts[2];
            const bool png = id.endsWith(".png");
            if (png)
                id.chop(4);
            int key = 0;
            if (!parseNumber(id, &key))
                return error(404, QStringLiteral("panel %1 has no item %2").arg(uid).arg(QString::fromUtf8(id.left(64))));
            if (post && !png)
                return this->post(uid, key, rq.body);
            if (!get)
                return error(405, QStringLiteral("use GET or POST on a key"));
            return item(uid, key, png);
        }
    }
    for (const Handler &h : m_handlers) {
        Reply r;
        if (h(rq, &r))
            return r;
    }
    return error(404, QStringLiteral("no such route: %1").arg(QString::fromUtf8(rq.path.left(200))));
}

Reply Router::panels()
{
    QJsonArray racks;
    QJsonArray panels;
    for (const Host::Rack &rack : m_host->racks()) {
        QJsonObject r;
        r.insert(QStringLiteral("name"), rack.name);
        QJsonArray uids;
        for (int uid : rack.panels) {
            PanelSummary p;
            if (!m_host->panel(uid, &p))
                continue;
            uids.append(uid);
            panels.append(panelJson(p));
        }
        r.insert(QStringLiteral("panels"), uids);
        racks.append(r);
    }
    QJsonObject o;
    o.insert(QStringLiteral("racks"), racks);
    o.insert(QStringLiteral("panels"), panels);
    return json(o);
}

void Router::noteBeep(int uid)
{
    Beeps &b = m_beeps[uid];
    ++b.count;
    b.lastMs = nowMs();
}

QJsonObject Router::buzzerJson(int uid) const
{
    const Beeps b = m_beeps.value(uid);
    QJsonObject o;
    o.insert(QStringLiteral("on"), b.lastMs >= 0 && nowMs() - b.lastMs < m_host->beepMs());
    o.insert(QStringLiteral("beeps"), b.count);
    return o;
}

QJsonObject Router::commsJson(int uid) const
{
    QJsonObject o;
    o.insert(QStringLiteral("tx"), m_host->commLevel(uid, CommTransmit));
    o.insert(QStringLiteral("rx"), m_host->commLevel(uid, CommReceive));
    o.insert(QStringLiteral("fail"), m_host->commLevel(uid, CommSendFailure));
    o.insert(QStringLiteral("levels"), m_host->commLevels());
    return o;
}

QJsonObject Router::panelDetail(int uid, const PanelSummary &p) const
{
    QJsonObject o = panelJson(p);
    o.insert(QStringLiteral("buzzer"), buzzerJson(uid));
    o.insert(QStringLiteral("comms"), commsJson(uid));
    FaceView face;
    m_host->face(uid, &face);
    o.insert(QStringLiteral("face"), faceJson(face));
    return o;
}

Reply Router::panel(int uid)
{
    PanelSummary p;
    m_host->panel(uid, &p);
    return json(panelDetail(uid, p));
}

Reply Router::item(int uid, int key, bool png)
{
    FaceView face;
    m_host->face(uid, &face);
    const PAN_Item::Setup *it = findItem(face, key);
    if (!it)
        return error(404, QStringLiteral("panel %1 has no item %2").arg(uid).arg(key));
    if (!png)
        return json(itemJson(face, *it));
    QString why;
    const QImage img = m_host->keyImage(uid, key, &why);
    if (img.isNull())
        return error(501, why);
    Reply r;
    r.contentType = "image/png";
    r.body = pngOf(img);
    return r;
}

Reply Router::facePng(int uid)
{
    QString why;
    const QImage img = m_host->faceImage(uid, &why);
    if (img.isNull())
        return error(501, why);
    Reply r;
    r.contentType = "image/png";
    r.body = pngOf(img);
    return r;
}

Reply Router::startStop(int uid, bool start)
{
    QString why;
    const bool ok = start ? m_host->startPanel(uid, &why) : m_host->stopPanel(uid, &why);
    if (!ok)
        return error(409, why);
    PanelSummary p;
    m_host->panel(uid, &p);
    return json(panelJson(p));
}

namespace {

// The action and hold of a press body; false with why for bad input.
bool readPress(const QJsonObject &o, QString *action, int *holdMs, QString *why)
{
    const QJsonValue a = o.value(QStringLiteral("action"));
    if (!a.isString()) {
        *why = QStringLiteral("\"action\" must be \"press\", \"release\" or \"tap\"");
        return false;
    }
    *action = a.toString();
    if (*action != QLatin1String("press") && *action != QLatin1String("release")
        && *action != QLatin1String("tap")) {
        *why = QStringLiteral("\"action\" must be \"press\", \"release\" or \"tap\"");
        return false;
    }
    *holdMs = -1;
    const QJsonValue h = o.value(QStringLiteral("hold_ms"));
    if (!h.isUndefined() && !h.isNull()) {
        const double d = h.toDouble(-1);
        if (!h.isDouble() || d < 0 || d > Router::MaxHoldMs || std::floor(d) != d) {
            *why = QStringLiteral("\"hold_ms\" must be a whole number from 0 to %1").arg(int(Router::MaxHoldMs));
            return false;
        }
        *holdMs = int(d);
    }
    return true;
}

bool readObject(const QByteArray &body, QJsonObject *o, QString *why)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        *why = err.error != QJsonParseError::NoError
                   ? QStringLiteral("malformed JSON: %1").arg(err.errorString())
                   : QStringLiteral("a JSON object is expected");
        return false;
    }
    *o = doc.object();
    return true;
}

} // namespace

Reply Router::post(int uid, int key, const QByteArray &body)
{
    QJsonObject o;
    QString why, action;
    int holdMs = -1;
    if (!readObject(body, &o, &why) || !readPress(o, &action, &holdMs, &why))
        return error(400, why);
    int status = 200;
    if (!press(uid, key, action, holdMs, &status, &why))
        return error(status, why);
    QJsonObject r;
    r.insert(QStringLiteral("uid"), uid);
    r.insert(QStringLiteral("key"), key);
    r.insert(QStringLiteral("action"), action);
    return json(r);
}

bool Router::press(int uid, int key, const QString &action, int holdMs, int *status, QString *why)
{
    PanelSummary p;
    if (!m_host->panel(uid, &p)) {
        *status = 404;
        *why = QStringLiteral("no panel %1").arg(uid);
        return false;
    }
    FaceView face;
    m_host->face(uid, &face);
    const PAN_Item::Setup *it = findItem(face, key);
    if (!it) {
        *status = 404;
        *why = QStringLiteral("panel %1 has no item %2").arg(uid).arg(key);
        return false;
    }
    // What a click on the face would press: LCD keys and LEDs that take
    // presses, with ids the firmware reads.
    if ((it->type != PAN_Item::TypeLCD && it->type != PAN_Item::TypeLED) || !it->pushable
        || key < 1 || key > 127) {
        *status = 400;
        *why = QStringLiteral("item %1 of panel %2 is not a key").arg(key).arg(uid);
        return false;
    }
    const bool down = action != QLatin1String("release");
    // A release never presses anything: it goes through whatever the
    // check says now, so that no key stays down.
    if (down && m_pressCheck && !m_pressCheck(uid, why)) {
        *status = 403;
        return false;
    }
    if (!m_host->sendKey(uid, key, down)) {
        *status = 409;
        *why = QStringLiteral("panel %1 is not running").arg(uid);
        return false;
    }
    cancelRelease(uid, key);
    if (action == QLatin1String("tap"))
        scheduleRelease(uid, key, holdMs < 0 ? int(DefaultTapMs) : holdMs);
    else if (action == QLatin1String("press") && holdMs >= 0)
        scheduleRelease(uid, key, holdMs);
    return true;
}

void Router::scheduleRelease(int uid, int key, int ms)
{
    auto *t = new QTimer;
    t->setSingleShot(true);
    t->setTimerType(Qt::PreciseTimer);
    m_releases.insert(releaseKey(uid, key), t);
    connect(t, &QTimer::timeout, this, [this, uid, key] {
        QTimer *self = m_releases.take(releaseKey(uid, key));
        m_host->sendKey(uid, key, false);
        if (self)
            self->deleteLater();
    });
    t->start(ms);
}

void Router::cancelRelease(int uid, int key)
{
    if (QTimer *t = m_releases.take(releaseKey(uid, key))) {
        t->stop();
        t->deleteLater();
    }
}

void Router::letGo(int uid, int key)
{
    cancelRelease(uid, key);
    m_host->sendKey(uid, key, false);
}

QJsonObject Router::command(const QByteArray &message, bool viewOnly, Command *done)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("type"), QStringLiteral("reply"));
    QJsonObject o;
    QString why, action;
    int holdMs = -1;
    const bool parsed = readObject(message, &o, &why);
    if (parsed && o.value(QStringLiteral("action")) == QLatin1String("ping")) {
        // A client checking that its connection still carries replies.
        if (o.contains(QStringLiteral("id")))
            reply.insert(QStringLiteral("id"), o.value(QStringLiteral("id")));
        reply.insert(QStringLiteral("status"), 200);
        return reply;
    }
    if (parsed && o.value(QStringLiteral("action")) == QLatin1String("get")) {
        if (o.contains(QStringLiteral("id")))
            reply.insert(QStringLiteral("id"), o.value(QStringLiteral("id")));
        const QJsonValue u = o.value(QStringLiteral("uid"));
        if (u.isUndefined() || u.isNull()) {
            reply.insert(QStringLiteral("status"), 200);
            reply.insert(QStringLiteral("panels"), QJsonDocument::fromJson(panels().body).object());
        } else {
            const double ud = u.toDouble(-1);
            PanelSummary p;
            if (!u.isDouble() || ud < 0 || ud > 999999999 || std::floor(ud) != ud
                || !m_host->panel(int(ud), &p)) {
                reply.insert(QStringLiteral("status"), 404);
                reply.insert(QStringLiteral("error"), QStringLiteral("no such panel"));
                return reply;
            }
            QString refused;
            reply.insert(QStringLiteral("status"), 200);
            reply.insert(QStringLiteral("panel"), panelDetail(int(ud), p));
            reply.insert(QStringLiteral("presses"), !viewOnly && pressAllowed(int(ud), &refused));
        }
        if (done)
            done->action = QStringLiteral("get");
        return reply;
    }
    if (!why.isEmpty() || !readPress(o, &action, &holdMs, &why)) {
        reply.insert(QStringLiteral("status"), 400);
        reply.insert(QStringLiteral("error"), why);
        return reply;
    }
    const QJsonValue id = o.value(QStringLiteral("id"));
    if (!id.isUndefined())
        reply.insert(QStringLiteral("id"), id);
    const QJsonValue u = o.value(QStringLiteral("uid"));
    const QJsonValue k = o.value(QStringLiteral("key"));
    const double ud = u.toDouble(-1), kd = k.toDouble(-1);
    if (!u.isDouble() || !k.isDouble() || ud < 0 || kd < 0 || ud > 999999999 || kd > 999999999
        || std::floor(ud) != ud || std::floor(kd) != kd) {
        reply.insert(QStringLiteral("status"), 400);
        reply.insert(QStringLiteral("error"), QStringLiteral("\"uid\" and \"key\" must be whole numbers"));
        return reply;
    }
    int status = 200;
    if (viewOnly && action != QLatin1String("release")) {
        reply.insert(QStringLiteral("status"), 403);
        reply.insert(QStringLiteral("error"), QStringLiteral("this connection only views the panel (view=1)"));
        return reply;
    }
    if (!press(int(ud), int(kd), action, holdMs, &status, &why)) {
        reply.insert(QStringLiteral("status"), status);
        reply.insert(QStringLiteral("error"), why);
        return reply;
    }
    reply.insert(QStringLiteral("status"), 200);
    if (done) {
        done->action = action;
        done->uid = int(ud);
        done->key = int(kd);
        done->holdMs = holdMs;
    }
    return reply;
}

} // namespace remote
