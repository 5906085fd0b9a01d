#ifndef ROUTER_SIM_H
#define ROUTER_SIM_H

#include "router_peer.h"
#include "router_state.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <memory>
#include <vector>

// The simulated router controller: one UDP socket, the panels it knows, ON
// POLL keepalives, and a line on standard output for every datagram sent or
// received ("tx"/"rx", the peer, the header bytes, the messages).
class RouterSim : public QObject
{
    Q_OBJECT

public:
    explicit RouterSim(int levels, int sources, int dests, QObject *parent = nullptr);

    RouterState &state() { return m_state; }

    bool bind(const QHostAddress &addr, quint16 port, QString *error);
    void addPanel(const QHostAddress &addr, quint16 port);
    // Interval of the automatic ON POLL; 0 switches it off.
    void setPollInterval(int ms);

    // Standard-input commands; returns false for an unknown one.
    bool command(const QString &line);

    void sendToAll(char cmd);
    void sendRawToAll(const QByteArray &payload);
    void offPoll();
    // A router command text ("Q" message) to every panel.
    void sendTextToAll(const QByteArray &text);

signals:
    void quitRequested();

private slots:
    void readDatagrams();
    void service();

private:
    RouterPeer *peerFor(const QHostAddress &addr, quint16 port);
    void transmit(RouterPeer &peer, const QByteArray &datagram);
    void log(const char *dir, const RouterPeer &peer, const QByteArray &datagram);
    void handleMessage(RouterPeer &peer, const QByteArray &msg);

    RouterState m_state;
    QUdpSocket m_socket;
    std::vector<std::unique_ptr<RouterPeer>> m_peers;
    QTimer m_pollTimer;
    QTimer m_serviceTimer;
    QElapsedTimer m_clock;
};

#endif
