#include "swp08_server.h"

#include "swp08_session.h"
#include "swp08_transport.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#include <cstdio>

struct Swp08Server::Client : swp08::Transport::Handler, Swp08Session::Output {
    Client(Swp08Server &server, QTcpSocket *socket)
        : server(server), socket(socket), link(*this), session(server.m_state, server.m_matrix, *this),
          name(socket->peerAddress().toString() + QLatin1Char(':') + QString::number(socket->peerPort()))
    {
    }
    ~Client() override { socket->deleteLater(); }

    void write(const uint8_t *bytes, size_t n) override
    {
        socket->write(reinterpret_cast<const char *>(bytes), qint64(n));
    }
    void frame(const std::vector<uint8_t> &data) override { session.handle(data); }
    void gaveUp(const std::vector<uint8_t> &data, bool noAck) override
    {
        server.line(QStringLiteral("swp08 --- %1: %2 after %3 re-sends, not sent again: %4")
                        .arg(name, noAck ? QStringLiteral("no ACK") : QStringLiteral("NAK"))
                        .arg(link.timing().maxResends)
                        .arg(QString::fromStdString(swp08::describeData(data.data(), data.size()))));
    }
    void traced(const swp08::Transport::Event &e) override
    {
        if (!server.m_quiet)
            server.line(QStringLiteral("swp08 %1 %2 %3")
                            .arg(QLatin1String(swp08::received(e) ? "rx" : "tx"), name,
                                 QString::fromStdString(swp08::traceText(e))));
    }
    void reply(const swp08::Message &m) override { send(m); }
    void toPanels(const QByteArray &text) override { emit server.panelText(text); }

    void send(const swp08::Message &m)
    {
        const std::vector<uint8_t> data = swp08::encode(m);
        if (!data.empty())
            link.send(data, server.m_clock.elapsed());
    }

    Swp08Server &server;
    QTcpSocket *socket;
    swp08::Transport link;
    Swp08Session session;
    QString name;
    bool dropped = false;
};

Swp08Server::Swp08Server(RouterState &state, int matrix, QObject *parent)
    : QObject(parent), m_state(state), m_matrix(matrix)
{
    m_clock.start();
    m_server.setProxy(QNetworkProxy::NoProxy);
    connect(&m_server, &QTcpServer::newConnection, this, &Swp08Server::accept);
    connect(&m_timer, &QTimer::timeout, this, &Swp08Server::service);
    m_timer.start(20);
    m_state.setObserver([this](const RouterState::Change &c) { changed(c); });
}

Swp08Server::~Swp08Server()
{
    m_state.setObserver(nullptr);
    for (auto &c : m_clients) {
        c->socket->disconnect(this);
        c->socket->abort();
    }
}

bool Swp08Server::listen(const QHostAddress &addr, quint16 port, QString *error)
{
    if (m_server.listen(addr, port))
        return true;
    *error = m_server.errorString();
    return false;
}

void Swp08Server::line(const QString &text)
{
    printf("%s\n", qPrintable(text));
    fflush(stdout);
}

void Swp08Server::accept()
{
    while (QTcpSocket *s = m_server.nextPendingConnection()) {
        m_clients.push_back(std::make_unique<Client>(*this, s));
        Client *c = m_clients.back().get();
        line(QStringLiteral("swp08 --- %1 connected").arg(c->name));
        connect(s, &QTcpSocket::readyRead, this, [this, c] {
            const QByteArray bytes = c->socket->readAll();
            c->link.receive(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()),
                            m_clock.elapsed());
            if (c->link.queuedBytes() > MaxQueuedBytes)
                drop(c, QStringLiteral("more than %1 MiB waiting for its ACKs").arg(MaxQueuedBytes >> 20));
        });
        connect(s, &QTcpSocket::disconnected, this, [this, c] { drop(c, QStringLiteral("closed")); });
    }
}

// Removal waits for the event loop: the client may be in the middle of
// its own call.
void Swp08Server::drop(Client *c, const QString &why)
{
    if (c->dropped)
        return;
    c->dropped = true;
    line(QStringLiteral("swp08 --- %1 disconnected: %2").arg(c->name, why));
    c->socket->disconnect(this);
    c->socket->abort();
    QMetaObject::invokeMethod(
        this,
        [this, c] {
            m_clients.remove_if([c](const std::unique_ptr<Client> &p) { return p.get() == c; });
        },
        Qt::QueuedConnection);
}

void Swp08Server::changed(const RouterState::Change &change)
{
    const std::vector<swp08::Message> msgs = Swp08Session::changeMessages(m_state, m_matrix, change);
    for (auto &c : m_clients) {
        if (c->dropped)
            continue;
        for (const swp08::Message &m : msgs)
            c->send(m);
    }
}

void Swp08Server::service()
{
    const qint64 now = m_clock.elapsed();
    for (auto &c : m_clients) {
        if (c->dropped)
            continue;
        c->link.poll(now);
        if (c->link.queuedBytes() > MaxQueuedBytes)
            drop(c.get(), QStringLiteral("more than %1 MiB waiting for its ACKs").arg(MaxQueuedBytes >> 20));
    }
}
