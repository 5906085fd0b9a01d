#ifndef ROUTER_SIM_H
#define ROUTER_SIM_H

#include "config_download.h"
#include "router_peer.h"
#include "router_state.h"
#include "tally_storm.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
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
    // Every port from first to last (inclusive) of one address.
    void addPanelRange(const QHostAddress &addr, quint16 first, quint16 last);
    // No line per datagram (configuration download lines stay).
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // A tally storm: perSecond random crosspoint changes a second, each
    // sent to every panel as a tally; 0 stops it.
    void setStorm(int perSecond);
    // Interval of the automatic ON POLL; 0 switches it off.
    void setPollInterval(int ms);

    // Standard-input commands; returns false for an unknown one.
    bool command(const QString &line);

    void sendToAll(char cmd);
    void sendRawToAll(const QByteArray &payload);
    void offPoll();
    // A router command text ("Q" message) to every panel.
    void sendTextToAll(const QByteArray &text);
    // Several, packed into as few datagrams as they fit.
    void sendTextsToAll(const QList<QByteArray> &texts);

    // Bridge mode: the panels' router commands, and the standard-input
    // commands "route" and "lock", go to a bridge to another router
    // instead of the simulated matrix, which is not used; a tally storm is
    // refused.
    struct Bridge {
        // One command text of a panel; returns the replies for that panel.
        std::function<QList<QByteArray>(const QByteArray &)> panelCommand;
        // "route ..." or "lock ..." split into words; false with the reason
        // when it could not be carried out.
        std::function<bool(const QStringList &, QString *)> command;
    };
    void setBridge(const Bridge &bridge) { m_bridge = bridge; }
    bool bridged() const { return bool(m_bridge.panelCommand); }

    // Sends a configuration to every panel, one block at a time: the next
    // block goes out when the panel has answered the last one. Each answer
    // is a line "sendcfg PEER block I/N #NUMBER: y" (or n); a refusal ends
    // the download, and so do stopAfter answered blocks (-1: all) and 5 s
    // without an answer. A panel receiving a configuration gets no ON POLL.
    void sendConfig(const ConfigDownload &d, int stopAfter);
    // The same, for each panel as soon as it is first heard from.
    void sendConfigOnContact(const ConfigDownload &d, int stopAfter);

signals:
    void quitRequested();
    // Every datagram as it arrives, before anything is done with it.
    void datagramReceived(const QByteArray &datagram);

private slots:
    void readDatagrams();
    void service();

private:
    RouterPeer *peerFor(const QHostAddress &addr, quint16 port);
    void transmit(RouterPeer &peer, const QByteArray &datagram);
    void log(const char *dir, const RouterPeer &peer, const QByteArray &datagram);
    void handleMessage(RouterPeer &peer, const QByteArray &msg);

    struct Transfer {
        ConfigDownload download;
        int stopAfter = -1;
        int next = 0;          // block to send next
        qint64 sentAt = -1;    // when the block in flight went out; -1: the
                               // first block waits for the panel's answers
                               // to what was sent before
    };
    enum { TransferTimeoutMs = 5000 };
    void pollAll();
    // Queues ON POLL for one peer unless a download to it runs.
    void pollPeer(RouterPeer &peer);
    // The periodic polls due by now: each round polls every peer once,
    // peer k at k / n of the interval, so that n panels' answers do not
    // all arrive at once.
    void pollRound(qint64 now);
    void startTransfer(RouterPeer &peer, const ConfigDownload &d, int stopAfter);
    void transferReply(RouterPeer &peer, char reply);
    void pumpTransfers(qint64 now);
    void cancelTransfers(const char *why);
    void sendConfigCommand(const QStringList &words);
    void stormPass(qint64 now);
    static quint64 peerKey(const QHostAddress &addr, quint16 port);

    RouterState m_state;
    QUdpSocket m_socket;
    std::vector<std::unique_ptr<RouterPeer>> m_peers;
    QTimer m_serviceTimer;
    int m_pollIntervalMs = 0;   // 0: no periodic polls
    qint64 m_roundStart = 0;    // when the current round's first poll is due
    size_t m_roundPeers = 0;    // peers the current round polls
    size_t m_roundNext = 0;     // the next of them
    QElapsedTimer m_clock;
    std::map<RouterPeer *, Transfer> m_transfers;
    std::optional<Transfer> m_onContact;
    std::set<RouterPeer *> m_contacted;
    // Peers by IPv4 address and port (others are looked up one by one).
    QHash<quint64, RouterPeer *> m_peerIndex;
    bool m_quiet = false;
    TallyStorm m_storm;
    Bridge m_bridge;
};

#endif
