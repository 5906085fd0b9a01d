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
//
// Changes are sent once per pass of the host's event loop: what the items
// of the batches applied meanwhile show is read once, each message is made
// once for all clients, and every client's socket is written to once. An
// item that changed twice in one pass is sent once, as it shows now (the
// face never shows the first change either); panel and buzzer messages
// keep their place among the items'.

#include <QHash>
#include <QList>
#include <QSet>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWebSocketServer>

#include <memory>
#include <unordered_set>
#include <vector>

class QTcpSocket;
class QWebSocket;

namespace remote {

class Host;
class Latency;
class Router;

class EventHub : public QObject
{
    Q_OBJECT

public:
    enum {
        MaxClients = 64,
        MaxQueueBytes = 8 * 1024 * 1024,
        MaxMessageBytes = 64 * 1024,
        CloseGraceMs = 2000,
        CloseLimitMs = 60000
    };

    EventHub(Host *host, Router *router, QObject *parent = nullptr);
    ~EventHub() override;

    // Clients connected or being connected.
    int clientCount() const;
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
    QList<QPointer<QTcpSocket>> m_handshakes; // upgrades under way
    int m_dropped = 0;
    QHash<int, qint64> m_beepSerial;

    // Changes waiting for the end of the event loop's pass: an item (read
    // when sent) or a message made already (id -1).
    struct Pending
    {
        int uid;
        qint32 id;
        QString message;
        qint64 sinceNs; // when the host applied the records
    };
    void handshakeDone(QWebSocket *ws);
    void queue(int uid, qint32 id, const QString &message);
    void sendPending();
    std::vector<Pending> m_pending;
    std::unordered_set<qint64> m_pendingItems; // uid << 32 | id
    bool m_sendPosted = false;
    // While clients are being written to (a client that goes meanwhile is
    // removed afterwards).
    int m_sending = 0;
    struct Sending
    {
        explicit Sending(EventHub *hub) : hub(hub) { ++hub->m_sending; }
        ~Sending() { --hub->m_sending; }
        EventHub *hub;
    };
    std::unique_ptr<Latency> m_latency; // with TESSALINE_REMOTE_STATS=1

public:
    // "remote events: ..." with TESSALINE_REMOTE_STATS=1, else empty.
    QString latencyText() const;
};

} // namespace remote

#endif
