#ifndef RM_SERVER_H
#define RM_SERVER_H

// remote::Server: the remote API of a host program, off until started. It
// listens on loopback unless told otherwise; on any other address it needs
// a token, which every request must then carry.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

namespace remote {

class EventHub;
class Host;
class HttpLayer;
class Listener;
class Router;

struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;
};

// "ADDR:PORT", "[ADDR6]:PORT" or "localhost:PORT"; false with why.
bool parseEndpoint(const QString &text, Endpoint *out, QString *why);
// The first line of a token file; false with why when it cannot be read
// or holds no usable token (empty, or with spaces or control characters).
bool readTokenFile(const QString &path, QByteArray *token, QString *why);
// A new random token (32 hexadecimal digits, from the system's random
// source), written with mode 0600 to dir/http-token; its path in *path.
bool makeTokenFile(const QString &dir, QByteArray *token, QString *path, QString *why);

class Server : public QObject
{
    Q_OBJECT

public:
    explicit Server(Host *host, QObject *parent = nullptr);
    ~Server() override;

    // Listens. A non-loopback address without a token is refused. False
    // with why.
    bool start(const Endpoint &at, const QByteArray &token, QString *why);
    void stop();
    bool isListening() const;
    quint16 port() const;
    // "http://ADDR:PORT/"
    QString url() const;
    bool needsToken() const { return !m_token.isEmpty(); }

    Router *router() const { return m_router.get(); }
    EventHub *events() const { return m_hub.get(); }

private:
    Host *m_host;
    std::unique_ptr<Router> m_router;
    std::unique_ptr<EventHub> m_hub;
    std::unique_ptr<HttpLayer> m_http;
    Listener *m_listener = nullptr; // owned by the HTTP layer
    QByteArray m_token;
    Endpoint m_at;
};

} // namespace remote

#endif
