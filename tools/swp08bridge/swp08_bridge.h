#ifndef SWP08_BRIDGE_H
#define SWP08_BRIDGE_H

#include "bridge_core.h"
#include "swp08_transport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// The bridge's link to an SW-P-08 router over TCP, around a BridgeCore:
// it connects, ACKs every frame, sends one frame at a time (re-sent on NAK
// or after a second without ACK, five times), keeps an idle link busy with
// an interrogate, and when the link drops (closed, or a frame never
// acknowledged) says so and connects again after 0.5, 1, 2, 4, then every
// 8 s; every connection starts with fresh tally and protect dumps. What
// happened is a line on standard error ("routersim: swp08: ...") and in the
// protocol trace on standard output ("swp08 --- ..."), where every frame in
// and out is a line too unless quiet:
//   swp08 tx 127.0.0.1:8910 connect m0 l0 d5 s3 [10 02 02 00 00 05 03 05 f1 10 03]
class Swp08Bridge : public QObject, private BridgeCore::Output, private swp08::Transport::Handler
{
    Q_OBJECT

public:
    enum { FirstRetryMs = 500, MaxRetryMs = 8000, ConnectTimeoutMs = 5000 };

    explicit Swp08Bridge(const BridgeOptions &options, QObject *parent = nullptr);
    ~Swp08Bridge() override;

    BridgeCore &core() { return m_core; }
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // Connects, and keeps connecting until the router answers.
    void start();
    bool isUp() const { return m_core.isUp(); }

    // A panel's router command; returns the replies for that panel.
    QList<QByteArray> panelCommand(const QByteArray &text);
    // Standard input: "route LEVELS DEST SRC", "lock DEST 255|1|0".
    // Returns false with the reason for a command it could not carry out.
    bool command(const QStringList &words, QString *why);

signals:
    // Texts for every panel (tallies, lock states), in order.
    void panelTexts(const QList<QByteArray> &texts);
    // The link came up or went down.
    void linkChanged(bool up);

private:
    void toRouter(const swp08::Message &m) override;
    void toPanels(const QByteArray &text) override;
    void note(const QString &text) override;
    void write(const uint8_t *bytes, size_t n) override;
    void frame(const std::vector<uint8_t> &data) override;
    void gaveUp(const std::vector<uint8_t> &data, bool noAck) override;
    void traced(const swp08::Transport::Event &e) override;

    void connectNow();
    void connected();
    void closed(const QString &why);
    void lost(const QString &why);
    void retryLater(const QString &what);
    void readBytes();
    void service();
    void deliver();

    BridgeOptions m_options;
    BridgeCore m_core;
    swp08::Transport m_link;
    QTcpSocket m_socket;
    QTimer m_timer;
    QTimer m_retry;
    QTimer m_connectTimeout;
    QElapsedTimer m_clock;
    QString m_peer;
    QList<QByteArray> m_panelOut;
    int m_backoff = FirstRetryMs;
    qint64 m_lastSent = 0;
    bool m_connected = false;
    bool m_aborting = false;
    bool m_quiet = false;
};

#endif
