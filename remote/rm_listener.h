#ifndef RM_LISTENER_H
#define RM_LISTENER_H

// remote::Listener: the TCP server of the remote API. It reads the head of
// each connection's request before anything else does, and refuses there
// what must not go further: a head that is malformed or too large, a
// missing or wrong token (401, nothing else), a body over 64 KiB, more
// event clients than allowed. A request it lets through is handed, whole,
// to the HTTP layer, or as a WebSocket upgrade to the event hub.

#include "rm_http_head.h"

#include <QByteArray>
#include <QTcpServer>

namespace remote {

class EventHub;
class Host;

class Listener : public QTcpServer
{
    Q_OBJECT

public:
    enum { MaxWaiting = 128, HeadTimeoutMs = 10000 };

    // token: required of every request when not empty, as
    // "Authorization: Bearer TOKEN", the cookie "tessaline_token" or, for
    // a page opened with GET, the query item "token". Without a token only
    // requests that name the server by an address are served. A request
    // with an Origin field (a browser's) must come from the server's own
    // pages.
    Listener(const QByteArray &token, Host *host, EventHub *hub, QObject *parent = nullptr);

    static QByteArray cookieName() { return "tessaline_token"; }
    // The query item a browser page is opened with once ("/?token=TOKEN").
    static QByteArray queryTokenName() { return "token"; }

    // What to do with a request whose head is complete: 0 to let it
    // through, else the status to refuse it with (and why).
    int check(const HttpHead &head, QString *why) const;

protected:
    void incomingConnection(qintptr handle) override;

private:
    friend class Gate;
    void passToHttp(QTcpSocket *socket);
    void passToHub(QTcpSocket *socket);

    QByteArray m_token;
    Host *m_host;
    EventHub *m_hub;
    int m_waiting = 0;
};

} // namespace remote

#endif
