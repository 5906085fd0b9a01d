#include "swp08_bridge.h"

#include <QNetworkProxy>

#include <cstdio>
#include <cstring>

Swp08Bridge::Swp08Bridge(const BridgeOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_core(options, *this), m_link(*this),
      m_peer(options.host + QLatin1Char(':') + QString::number(options.port))
{
    m_clock.start();
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_retry.setSingleShot(true);
    m_connectTimeout.setSingleShot(true);
    connect(&m_socket, &QTcpSocket::connected, this, &Swp08Bridge::connected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &Swp08Bridge::readBytes);
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] { closed(QStringLiteral("closed by the router")); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { closed(m_socket.errorString()); });
    connect(&m_retry, &QTimer::timeout, this, &Swp08Bridge::connectNow);
    connect(&m_connectTimeout, &QTimer::timeout, this,
            [this] { closed(QStringLiteral("no answer within %1 s").arg(ConnectTimeoutMs / 1000)); });
    connect(&m_timer, &QTimer::timeout, this, &Swp08Bridge::service);
    m_timer.start(20);
}

Swp08Bridge::~Swp08Bridge()
{
    m_aborting = true;
    m_socket.abort();
}

void Swp08Bridge::start()
{
    note(QStringLiteral("connecting to %1 (matrix %2, levels %3, device %4, source offset %5, destination offset %6)")
             .arg(m_peer)
             .arg(m_options.matrix)
             .arg(m_options.levelText())
             .arg(m_options.device)
             .arg(m_options.sourceOffset)
             .arg(m_options.destOffset));
    connectNow();
}

void Swp08Bridge::connectNow()
{
    m_aborting = true;
    m_socket.abort();
    m_aborting = false;
    m_socket.connectToHost(m_options.host, m_options.port);
    m_connectTimeout.start(ConnectTimeoutMs);
}

void Swp08Bridge::connected()
{
    m_connectTimeout.stop();
    m_retry.stop();
    m_connected = true;
    m_backoff = FirstRetryMs;
    m_link.reset();
    m_lastSent = m_clock.elapsed();
    note(QStringLiteral("connected to %1: asking for the tally and protect dumps").arg(m_peer));
    m_core.linkUp();
    emit linkChanged(true);
    deliver();
}

// The socket closed or failed: a link lost, or a connection attempt that
// did not succeed.
void Swp08Bridge::closed(const QString &why)
{
    if (m_aborting)
        return;
    if (m_connected) {
        lost(why);
        return;
    }
    if (m_retry.isActive())
        return; // already told, already waiting
    retryLater(QStringLiteral("cannot connect to %1 (%2)").arg(m_peer, why));
}

void Swp08Bridge::lost(const QString &why)
{
    m_connected = false;
    m_link.reset();
    m_core.linkDown();
    emit linkChanged(false);
    retryLater(QStringLiteral("link to %1 lost (%2): takes, locks and salvos are refused until it is back")
                   .arg(m_peer, why));
}

void Swp08Bridge::retryLater(const QString &what)
{
    m_connectTimeout.stop();
    m_aborting = true;
    m_socket.abort();
    m_aborting = false;
    note(QStringLiteral("%1; next attempt in %2 ms").arg(what).arg(m_backoff));
    m_retry.start(m_backoff);
    m_backoff = qMin(2 * m_backoff, int(MaxRetryMs));
}

void Swp08Bridge::readBytes()
{
    const QByteArray bytes = m_socket.readAll();
    m_link.receive(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), m_clock.elapsed());
    m_core.flush();
    deliver();
}

void Swp08Bridge::service()
{
    if (!m_connected)
        return;
    const qint64 now = m_clock.elapsed();
    m_link.poll(now);
    if (m_connected && m_options.keepaliveMs > 0 && m_link.queued() == 0 && now - m_lastSent >= m_options.keepaliveMs)
        toRouter(m_core.keepalive());
    deliver();
}

void Swp08Bridge::deliver()
{
    if (m_panelOut.isEmpty())
        return;
    const QList<QByteArray> texts = m_panelOut;
    m_panelOut.clear();
    emit panelTexts(texts);
}

QList<QByteArray> Swp08Bridge::panelCommand(const QByteArray &text)
{
    const QList<QByteArray> replies = m_core.panelCommand(text);
    deliver();
    return replies;
}

bool Swp08Bridge::command(const QStringList &w, QString *why)
{
    bool ok = false;
    if (w.size() == 4 && w[0] == QLatin1String("route")) {
        quint32 mask = 0;
        for (QChar c : w[1]) {
            static const char letters[] = "VABCDEFGHIJKLMNOPQRSTUWXYZ";
            const char *hit = c.unicode() < 128 && c.toLatin1() ? strchr(letters, c.toLatin1()) : nullptr;
            if (!hit) {
                *why = QStringLiteral("unknown level letter %1").arg(c);
                return false;
            }
            mask |= 1u << (hit - letters);
        }
        bool okD = false, okS = false;
        const int d = w[2].toInt(&okD), s = w[3].toInt(&okS);
        ok = okD && okS && m_core.route(mask, d, s, why);
    } else if (w.size() == 3 && w[0] == QLatin1String("lock")) {
        bool okD = false, okV = false;
        const int d = w[1].toInt(&okD), v = w[2].toInt(&okV);
        if (!okD || !okV || (v != 0 && v != 1 && v != 255)) {
            *why = QStringLiteral("lock DEST 255|1|0");
            return false;
        }
        ok = m_core.lock(d, v, why);
    } else {
        *why = QStringLiteral("not a bridge command");
    }
    deliver();
    return ok;
}

void Swp08Bridge::toRouter(const swp08::Message &m)
{
    if (!m_connected)
        return;
    const std::vector<uint8_t> data = swp08::encode(m);
    if (data.empty()) {
        note(QStringLiteral("cannot send %1: a number is beyond what the command carries")
                 .arg(QString::fromStdString(swp08::describe(m))));
        return;
    }
    m_link.send(data, m_clock.elapsed());
}

void Swp08Bridge::toPanels(const QByteArray &text)
{
    m_panelOut.append(text);
}

void Swp08Bridge::note(const QString &text)
{
    fprintf(stderr, "routersim: swp08: %s\n", qPrintable(text));
    fflush(stderr);
    printf("swp08 --- %s\n", qPrintable(text));
    fflush(stdout);
}

void Swp08Bridge::write(const uint8_t *bytes, size_t n)
{
    m_socket.write(reinterpret_cast<const char *>(bytes), qint64(n));
}

void Swp08Bridge::frame(const std::vector<uint8_t> &data)
{
    // A message the codec cannot read shows as such in the frame's trace
    // line, and is passed over.
    swp08::Message m;
    const char *why = nullptr;
    if (swp08::decode(data, &m, &why))
        m_core.routerMessage(m);
}

void Swp08Bridge::gaveUp(const std::vector<uint8_t> &data, bool noAck)
{
    const QString what = QString::fromStdString(swp08::describeData(data.data(), data.size()));
    if (noAck) {
        // Called at the end of the link's own work: it may be reset here.
        lost(QStringLiteral("no ACK to %1 after %2 re-sends").arg(what).arg(m_link.timing().maxResends));
        return;
    }
    note(QStringLiteral("the router answered NAK to %1 every time (%2 re-sends); not sent again")
             .arg(what)
             .arg(m_link.timing().maxResends));
}

void Swp08Bridge::traced(const swp08::Transport::Event &e)
{
    if (e.kind == swp08::Transport::Event::TxFrame)
        m_lastSent = m_clock.elapsed();
    if (m_quiet)
        return;
    printf("swp08 %s %s %s\n", swp08::received(e) ? "rx" : "tx", qPrintable(m_peer), swp08::traceText(e).c_str());
    fflush(stdout);
}
