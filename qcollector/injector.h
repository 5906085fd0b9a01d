#ifndef COLLECTOR_INJECTOR_H
#define COLLECTOR_INJECTOR_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpServer;

namespace collector {

class ClientInjector;

// A TCP server through which outside programs inject framed messages into
// a running panel. Every connection becomes a ClientInjector whose payloads
// go to the target's slot dispatch_msg_buffer(QByteArray&), called directly
// on the thread of this object (the GUI thread of the host).
//
// At most MaxClients connections are served at a time. When a further one
// comes, the client that has sent nothing for longest gives way to it, if
// it has been idle for the give-way time (5 s by default): connections
// that are only held open cannot lock every other program out. When every
// client is busy the new connection is closed at once with a log line.
// Clients that end are removed.
class Injector : public QObject
{
    Q_OBJECT

public:
    enum { MaxClients = 16 };
    enum { DefaultGiveWayIdleMs = 5000 };

    // address: an IPv4 address text, or "*" (or empty) for every local
    // address. port: 0 to 65535 (0 lets the system choose; see serverPort).
    Injector(const QString &address, int port, QObject *target, QObject *parent = nullptr);
    ~Injector() override;

    // Starts listening; false (after a log line) when the address is not
    // one, the port is out of range or taken, or the target cannot receive.
    bool run();

    // How long a frame may stay incomplete before its connection is
    // closed; applies to connections accepted afterwards.
    void setPartialFrameTimeout(int ms) { m_partialFrameTimeoutMs = ms; }
    // How long a client must have sent nothing to give way to a new one.
    void setGiveWayIdle(int ms) { m_giveWayIdleMs = ms; }

    QString address() const { return m_address; }
    int port() const { return m_port; }
    // The port actually listened on, 0 when not listening.
    quint16 serverPort() const;
    bool isListening() const;
    int clientCount() const { return int(m_clients.size()); }
    const QList<ClientInjector *> &clients() const { return m_clients; }

public slots:
    void newClient();

private slots:
    void clientFinished(collector::ClientInjector *client);

private:
    QTcpServer *m_server;
    QString m_address;
    int m_port;
    QPointer<QObject> m_target;
    QList<ClientInjector *> m_clients;
    int m_partialFrameTimeoutMs;
    int m_giveWayIdleMs = DefaultGiveWayIdleMs;
};

} // namespace collector

#endif
