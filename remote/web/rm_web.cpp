#include "rm_web.h"

#include "button_setter_impl.h"
#include "face_image.h"
#include "legend_fonts.h"
#include "rm_host.h"
#include "rm_http_head.h"
#include "rm_json.h"
#include "rm_listener.h"
#include "rm_router.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <memory>

namespace remote {

namespace {

// Names of the pages' own files and of face pictures: plain names, nothing
// that could leave the folder they are looked up in.
bool plainName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > 128 || name.startsWith('.'))
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                        || c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

QByteArray contentTypeOf(const QByteArray &name)
{
    if (name.endsWith(".html"))
        return "text/html; charset=utf-8";
    if (name.endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (name.endsWith(".css"))
        return "text/css; charset=utf-8";
    if (name.endsWith(".png"))
        return "image/png";
    if (name.endsWith(".wav"))
        return "audio/wav";
    if (name.endsWith(".json"))
        return "application/json";
    return "application/octet-stream";
}

bool readResource(const QString &path, QByteArray *out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *out = f.readAll();
    return true;
}

QByteArray pngOf(const QImage &img)
{
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return out;
}

void htmlError(Reply *reply, int status, const QString &text)
{
    reply->status = status;
    reply->contentType = "text/html; charset=utf-8";
    reply->body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tessaline</title>"
                  "<link rel=\"stylesheet\" href=\"/web/tess.css\"></head><body class=\"message\"><p>"
                  + text.toHtmlEscaped().toUtf8() + "</p><p><a href=\"/\">All panels</a></p></body></html>";
}

QJsonArray stringArray(const QStringList &list)
{
    QJsonArray a;
    for (const QString &s : list)
        a.append(s);
    return a;
}

} // namespace

void WebPages::install(Router *router, Host *host)
{
    auto pages = std::make_shared<WebPages>(host);
    router->addHandler([pages](const Request &rq, Reply *reply) { return pages->handle(rq, reply); });
}

bool WebPages::handle(const Request &rq, Reply *reply)
{
    if (rq.method != "GET" && rq.method != "HEAD")
        return false;
    const QByteArray &path = rq.path;
    if (path == "/")
        return page(rq, QStringLiteral("index.html"), reply);
    if (path.startsWith("/panel/")) {
        int uid = 0;
        PanelSummary p;
        if (!parseNumber(path.mid(7), &uid) || !m_host->panel(uid, &p)) {
            htmlError(reply, 404, QStringLiteral("There is no panel %1.")
                                      .arg(QString::fromUtf8(path.mid(7).left(64))));
            return true;
        }
        return page(rq, QStringLiteral("panel.html"), reply);
    }
    if (path.startsWith("/rack/")) {
        const QString name = QUrl::fromPercentEncoding(path.mid(6));
        bool found = false;
        for (const Host::Rack &r : m_host->racks())
            found = found || r.name == name;
        if (!found) {
            htmlError(reply, 404, QStringLiteral("There is no rack \"%1\".").arg(name.left(64)));
            return true;
        }
        return page(rq, QStringLiteral("rack.html"), reply);
    }
    if (!path.startsWith("/web/"))
        return false;
    const QByteArray rest = path.mid(5);
    if (rest.startsWith("images/"))
        return picture(rest.mid(7), reply);
    if (rest == "sound.wav") {
        if (!readResource(QStringLiteral(":/sound_buzzer.wav"), &reply->body))
            *reply = Router::error(404, QStringLiteral("this host has no buzzer sound"));
        else
            reply->contentType = "audio/wav";
        return true;
    }
    if (rest == "fonts.json") {
        fonts(reply);
        return true;
    }
    if (rest.startsWith("face/")) {
        const QList<QByteArray> parts = rest.mid(5).split('/');
        int uid = 0;
        QByteArray first = parts[0];
        const bool desc = parts.size() == 1 && first.endsWith(".json");
        if (desc)
            first.chop(5);
        PanelSummary p;
        if (!parseNumber(first, &uid) || !m_host->panel(uid, &p)) {
            *reply = Router::error(404, QStringLiteral("no panel %1").arg(QString::fromUtf8(first.left(64))));
            return true;
        }
        if (desc)
            return face(uid, reply);
        if (parts.size() == 2 && parts[1] == "images.json")
            return images(uid, rq.query, reply);
        if (parts.size() == 3 && parts[1] == "pictures" && parts[2].endsWith(".png"))
            return itemPicture(uid, parts[2].chopped(4), reply);
        *reply = Router::error(404, QStringLiteral("no such route: %1").arg(QString::fromUtf8(path.left(200))));
        return true;
    }
    return asset(rest, reply);
}

// An HTML page. Opened with the token in its address, it sends the browser
// on to the same address without it, keeping the token in a cookie.
bool WebPages::page(const Request &rq, const QString &file, Reply *reply)
{
    const QByteArray token = queryValue(rq.query, Listener::queryTokenName());
    if (!token.isEmpty()) {
        // The listener has let the request through: the token is right.
        QByteArray rest;
        for (const QByteArray &pair : rq.query.split('&'))
            if (!pair.isEmpty() && !pair.startsWith(Listener::queryTokenName() + '=')
                && pair != Listener::queryTokenName())
                rest += (rest.isEmpty() ? "" : "&") + pair;
        reply->status = 303;
        reply->contentType = "text/plain";
        reply->body = "see the page without its token\n";
        reply->headers.append({"Location", rq.path + (rest.isEmpty() ? QByteArray() : "?" + rest)});
        reply->headers.append({"Set-Cookie", Listener::cookieName() + '=' + token
                                                 + "; Path=/; HttpOnly; SameSite=Strict"});
        return true;
    }
    if (!readResource(QStringLiteral(":/web/") + file, &reply->body)) {
        *reply = Router::error(500, QStringLiteral("the page %1 is missing from this build").arg(file));
        return true;
    }
    reply->status = 200;
    reply->contentType = contentTypeOf(file.toLatin1());
    return true;
}

bool WebPages::asset(const QByteArray &name, Reply *reply)
{
    if (!plainName(name) || !readResource(QStringLiteral(":/web/") + QString::fromLatin1(name), &reply->body)) {
        *reply = Router::error(404, QStringLiteral("no such file: %1").arg(QString::fromUtf8(name.left(64))));
        return true;
    }
    reply->status = 200;
    reply->contentType = contentTypeOf(name);
    return true;
}

bool WebPages::picture(const QByteArray &name, Reply *reply)
{
    const QString n = QString::fromLatin1(name);
    if (!plainName(name) || !name.endsWith(".png")) {
        *reply = Router::error(404, QStringLiteral("no picture %1").arg(QString::fromUtf8(name.left(64))));
        return true;
    }
    auto it = m_pictures.constFind(n);
    if (it == m_pictures.constEnd()) {
        const QImage img = m_host->facePicture(n);
        if (img.isNull()) {
            *reply = Router::error(404, QStringLiteral("no picture %1").arg(n));
            return true;
        }
        // A few dozen pictures make a face; each is encoded once.
        if (m_pictures.size() >= 256)
            m_pictures.clear();
        it = m_pictures.insert(n, pngOf(img));
    }
    reply->status = 200;
    reply->contentType = "image/png";
    reply->body = *it;
    return true;
}

// What the page needs to draw a face as the host draws it: the layout's
// background and, item by item, the layout's place, size and pictures.
bool WebPages::face(int uid, Reply *reply)
{
    FaceView view;
    m_host->face(uid, &view);
    QJsonObject o;
    o.insert(QStringLiteral("uid"), uid);
    o.insert(QStringLiteral("width"), view.panelSize.width());
    o.insert(QStringLiteral("height"), view.panelSize.height());
    o.insert(QStringLiteral("background"), view.background.isEmpty() ? QJsonValue() : QJsonValue(view.background));
    const QColor bg = view.backgroundColor.isValid() ? view.backgroundColor : QColor(0, 0, 0);
    o.insert(QStringLiteral("backgroundColor"), bg.name());
    QJsonArray items;
    for (const PAN_Item::Setup &s : std::as_const(view.items)) {
        QJsonObject it;
        it.insert(QStringLiteral("id"), s.id);
        it.insert(QStringLiteral("kind"), itemKindText(s.type));
        it.insert(QStringLiteral("x"), s.pos.x());
        it.insert(QStringLiteral("y"), s.pos.y());
        it.insert(QStringLiteral("w"), s.size.width());
        it.insert(QStringLiteral("h"), s.size.height());
        it.insert(QStringLiteral("pushable"), s.pushable);
        it.insert(QStringLiteral("keepAspect"), s.keepAspect);
        it.insert(QStringLiteral("upDown"), s.ledType == PAN_Layout::LedUpDownColors);
        it.insert(QStringLiteral("lines"), s.vacuumLineCount);
        it.insert(QStringLiteral("chars"), s.vacuumCharPerLine);
        QJsonObject seq;
        seq.insert(QStringLiteral("frames"), stringArray(s.sequence.frames));
        seq.insert(QStringLiteral("masks"), stringArray(s.sequence.displayMasks));
        seq.insert(QStringLiteral("covers"), stringArray(s.sequence.colorCovers));
        seq.insert(QStringLiteral("background"), s.sequence.background);
        seq.insert(QStringLiteral("fw"), s.sequence.durationFw);
        seq.insert(QStringLiteral("rv"), s.sequence.durationRv);
        it.insert(QStringLiteral("sequence"), seq);
        const bool own = s.type == PAN_Item::TypeLED && !m_host->itemPicture(uid, s.id).isNull();
        it.insert(QStringLiteral("picture"),
                  own ? QJsonValue(QStringLiteral("/web/face/%1/pictures/%2.png").arg(uid).arg(s.id))
                      : QJsonValue());
        items.append(it);
    }
    o.insert(QStringLiteral("items"), items);
    *reply = Router::json(o);
    return true;
}

// Stored key pictures (built-in or uploaded) by id, for picture sequences,
// which the page plays itself: {"ID": base64 of 120 bytes, ...}.
bool WebPages::images(int uid, const QByteArray &query, Reply *reply)
{
    FaceView view;
    m_host->face(uid, &view);
    QJsonObject o;
    const QList<QByteArray> ids = queryValue(query, "ids").split(',');
    if (ids.size() > 256) {
        *reply = Router::error(400, QStringLiteral("at most 256 ids at once"));
        return true;
    }
    for (const QByteArray &t : ids) {
        bool ok = false;
        const int id = t.toInt(&ok);
        if (!ok || !view.setter)
            continue;
        const buttondriver::FaceImage *img = view.setter->image(id);
        if (img && img->width() == buttondriver::FaceImage::FACE_WIDTH)
            o.insert(QString::number(id), QString::fromLatin1(img->data().toBase64()));
    }
    *reply = Router::json(o);
    return true;
}

bool WebPages::itemPicture(int uid, const QByteArray &id, Reply *reply)
{
    int key = 0;
    const QImage img = parseNumber(id, &key) ? m_host->itemPicture(uid, key) : QImage();
    if (img.isNull()) {
        *reply = Router::error(404, QStringLiteral("item %1 of panel %2 has no picture of its own")
                                        .arg(QString::fromUtf8(id.left(16)))
                                        .arg(uid));
        return true;
    }
    reply->status = 200;
    reply->contentType = "image/png";
    reply->body = pngOf(img);
    return true;
}

// The two legend fonts as keys draw them (emboldened), one array of rows a
// glyph, codes 0 to 126.
void WebPages::fonts(Reply *reply)
{
    auto table = [](const buttondriver::LegendFont &f) {
        QJsonArray glyphs;
        for (int c = 0; c < buttondriver::FONT_GLYPHS; ++c) {
            QJsonArray rows;
            const quint8 *g = f.glyph(c);
            for (int r = 0; r < f.rows; ++r)
                rows.append(g[r]);
            glyphs.append(rows);
        }
        return glyphs;
    };
    QJsonObject o;
    o.insert(QStringLiteral("small"), table(buttondriver::boldFontSmall()));
    o.insert(QStringLiteral("large"), table(buttondriver::boldFontLarge()));
    o.insert(QStringLiteral("pitch"), int(buttondriver::GLYPH_PITCH));
    *reply = Router::json(o);
}

} // namespace remote
