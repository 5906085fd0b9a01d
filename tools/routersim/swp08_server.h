#ifndef SWP08_SERVER_H
#define SWP08_SERVER_H

#include "router_state.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <list>
#include <memory>

// The simulated router's SW-P-08 port: any number of clients over TCP,
// each with its own link (ACK every frame, one frame of ours at a time,
// re-sent on NAK or after a second without ACK, five times at most), its
// requests answered by an Swp08Session, and every change of the matrix
// (from panels, clients, standard input or a tally storm) sent to every
// client as CONNECTED or PROTECT CONNECTED / DISCONNECTED. Every frame in
// and out is one line on standard output unless quiet:
//   swp08 rx 127.0.0.1:40912 connect m0 l0 d5 s3 [10 02 02 00 00 05 03 05 f1 10 03]
class Swp08Server : public QObject
{
    Q_OBJECT

public:
    // A client whose frames wait unacknowledged beyond this is dropped.
    enum { MaxQueuedBytes = 16 << 20 };

    Swp08Server(RouterState &state, int matrix, QObject *parent = nullptr);
    ~Swp08Server() override;

    bool listen(const QHostAddress &addr, quint16 port, QString *error);
    quint16 port() const { return m_server.serverPort(); }
    void setQuiet(bool quiet) { m_quiet = quiet; }
    int clientCount() const { return int(m_clients.size()); }

signals:
    // A text for every panel: a tally or lock state a client caused.
    void panelText(const QByteArray &text);

private:
    struct Client;
    void accept();
    void changed(const RouterState::Change &change);
    void service();
    void drop(Client *c, const QString &why);
    void line(const QString &text);

    RouterState &m_state;
    int m_matrix;
    QTcpServer m_server;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::list<std::unique_ptr<Client>> m_clients;
    bool m_quiet = false;
};

#endif
