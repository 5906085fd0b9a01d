#ifndef RM_EVENTS_H
#define RM_EVENTS_H

// remote::EventHub: the event stream, GET /api/v1/events over WebSocket
// (?panel=UID for one panel's events only). One JSON text message per
// change:
//   {"type": "panel", "panel": {...}}              a panel's state changed
//   {"type": "item", "uid": U, "item": {...}}      what an item shows changed
//   {"type": "buzzer", "uid": U, "on": B, "beeps": N}
//   {"type": "panels"}                             panels added, removed or moved
// Clients may send presses ({"action", "uid", "key", "hold_ms", "id"}) and
// ask for the state ({"action": "get"}); each gets a {"type": "reply", ...}.
// A client opened with ?view=1 only views: its presses are refused. Keys a
// client pressed and still holds are let go when it goes away (a browser
// page that lost its connection cannot send the release).
//
// At most MaxClients at once. Every client has a bounded send queue: one
// that lets MaxQueueBytes pile up is closed with a reason, so a slow or
// stuck client never holds up the host's thread or its panels.

#include <QHash>
#include <QList>
#include <QSet>
#include <QObject>
#include <QString>
#include <QWebSocketServer>

class QTcpSocket;
class QWebSocket;

namespace remote {

class Host;
class Router;

class EventHub : public QObject
{
    Q_OBJECT

public:
    enum {
        MaxClients = 64,
        MaxQueueBytes = 8 * 1024 * 1024,
        MaxMessageBytes = 64 * 1024,
        CloseGraceMs = 2000
    };

    EventHub(Host *host, Router *router, QObject *parent = nullptr);
    ~EventHub() override;

    // Clients connected or being connected.
    int clientCount() const { return m_clients.size() + m_handshakes; }
    bool full() const { return clientCount() >= MaxClients; }
    // An accepted upgrade request: the socket still holds it unread.
    void take(QTcpSocket *socket);
    // Clients closed for a full send queue since the start.
    int dropped() const { return m_dropped; }

signals:
    void clientCountChanged(int count);

private:
    struct Client
    {
        QWebSocket *ws = nullptr;
        int panel = -1; // -1: every panel
        bool closing = false;
        bool viewOnly = false;
        QSet<qint64> held; // (uid << 32 | key) pressed by this client, not yet released
    };

    void onNewConnection();
    void onItems(int uid, const QList<qint32> &ids);
    void onPanel(int uid);
    void onBeep(int uid);
    void onPanels();
    void onMessage(QWebSocket *ws, const QString &message);
    void sendBuzzer(int uid, bool on);
    bool wanted(int uid) const;
    void send(int uid, const QString &message);
    void sendTo(Client &c, const QString &message);
    void remove(QWebSocket *ws);

    Host *m_host;
    Router *m_router;
    QWebSocketServer m_server;
    QList<Client> m_clients;
    int m_handshakes = 0;
    int m_dropped = 0;
    QHash<int, qint64> m_beepSerial;
};

} // namespace remote

#endif
