#ifndef RM_ROUTER_H
#define RM_ROUTER_H

// remote::Router: the JSON API over HTTP, one request in, one reply out.
//
//   GET  /api/v1/panels                      racks and panels
//   GET  /api/v1/panels/UID                  a panel and its face
//   GET  /api/v1/panels/UID/keys/ID          one item
//   GET  /api/v1/panels/UID/keys/ID.png      one item as the face draws it
//   GET  /api/v1/panels/UID/face.png         the face as it is drawn
//   POST /api/v1/panels/UID/keys/ID          {"action": "press"|"release"|"tap", "hold_ms": N}
//   POST /api/v1/panels/UID/start            start the panel
//   POST /api/v1/panels/UID/stop             stop it
//
// Errors are {"error": "..."} with 400 (malformed or out of range), 404
// (unknown panel, item or route), 405 (method), 409 (the panel's state does
// not allow it) or 403 (presses refused by the press check). Bad input
// changes nothing. Presses also come from the event stream's messages
// (command()), with the same checks.

#include "rm_host.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTimer;

namespace remote {

struct Request
{
    QByteArray method;
    QByteArray path;
    QByteArray query;
    QByteArray body;
};

struct Reply
{
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    // Extra header fields, e.g. "Set-Cookie".
    QList<QPair<QByteArray, QByteArray>> headers;
};

class Router : public QObject
{
    Q_OBJECT

public:
    enum { MaxHoldMs = 60000, DefaultTapMs = 100 };

    explicit Router(Host *host, QObject *parent = nullptr);
    ~Router() override;

    Reply handle(const Request &request);
    // What a message of the event stream asked for and was granted.
    struct Command
    {
        QString action; // "press", "release", "tap", "get"; empty when refused
        int uid = -1;
        int key = -1;
        int holdMs = -1;
    };
    // A message of the event stream: {"action": ..., "uid": UID, "key": ID,
    // "hold_ms": N}, or {"action": "get"} (the reply carries "panels", as
    // GET /api/v1/panels) and {"action": "get", "uid": UID} (the reply
    // carries "panel", as GET /api/v1/panels/UID, and "presses", whether
    // presses are allowed), and {"action": "ping"} (an empty reply); the
    // reply to send back. A reply comes in order
    // with the events, so a client that asks for the state after
    // subscribing misses no change. viewOnly refuses presses with 403;
    // releases always go through.
    QJsonObject command(const QByteArray &message, bool viewOnly = false, Command *done = nullptr);
    // Lets a key go now (a client that held it went away), whatever the
    // press check says.
    void letGo(int uid, int key);

    // Asked before every press (HTTP or event stream): false, with why,
    // refuses it with 403. None: every press is allowed. Releases are
    // never refused by it.
    using PressCheck = std::function<bool(int uid, QString *why)>;
    void setPressCheck(PressCheck check) { m_pressCheck = std::move(check); }
    bool pressAllowed(int uid, QString *why) const { return !m_pressCheck || m_pressCheck(uid, why); }
    // Asked, in order, for requests no API route takes (pages, files): true
    // when it filled the reply.
    using Handler = std::function<bool(const Request &, Reply *)>;
    void addHandler(Handler h) { m_handlers.push_back(std::move(h)); }

    // The buzzer of a panel sounded (counted for the panel's JSON).
    void noteBeep(int uid);
    QJsonObject buzzerJson(int uid) const;
    QJsonObject commsJson(int uid) const;
    // A panel's full JSON: summary, buzzer, comms and face.
    QJsonObject panelDetail(int uid, const PanelSummary &p) const;

    static Reply error(int status, const QString &text);
    static Reply json(const QJsonObject &o, int status = 200);

private:
    Reply panels();
    Reply panel(int uid);
    Reply item(int uid, int key, bool png);
    Reply facePng(int uid);
    Reply post(int uid, int key, const QByteArray &body);
    Reply startStop(int uid, bool start);
    // The press itself; on refusal the status and why.
    bool press(int uid, int key, const QString &action, int holdMs, int *status, QString *why);
    void scheduleRelease(int uid, int key, int ms);
    void cancelRelease(int uid, int key);

    Host *m_host;
    PressCheck m_pressCheck;
    std::vector<Handler> m_handlers;
    struct Beeps
    {
        qint64 count = 0;
        qint64 lastMs = -1;
    };
    QHash<int, Beeps> m_beeps;
    QHash<qint64, QTimer *> m_releases; // (uid << 32 | key) -> pending release
};

// "123" -> 123; false for anything but 1 to 9 digits.
bool parseNumber(const QByteArray &text, int *out);

} // namespace remote

#endif
