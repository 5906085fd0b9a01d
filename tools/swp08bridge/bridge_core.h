#ifndef BRIDGE_CORE_H
#define BRIDGE_CORE_H

#include "swp08_message.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <map>
#include <vector>

// How the panels' router maps onto an SW-P-08 router: its matrix, the
// SW-P-08 level of each panel level letter, the numbers the panels' first
// source and destination have on the router, and the device number the
// bridge's protects carry.
struct BridgeOptions {
    enum { PanelLevels = 26 };
    QString host;
    quint16 port = 0;
    int matrix = 0;
    int device = 0;
    int level[PanelLevels];   // SW-P-08 level of each panel level, -1 none
    int sourceOffset = 0;
    int destOffset = 0;
    int keepaliveMs = 5000;   // a harmless interrogate after this long idle

    BridgeOptions();
    // "V=0,A=1,...": the panel level letters and their SW-P-08 levels
    // (0 to 255), each letter and each level at most once.
    bool parseLevels(const QString &text, QString *why);
    // The mapped levels as "V=0,A=1".
    QString levelText() const;
};

// The panels' router controller with an SW-P-08 router behind it, without
// the sockets. It keeps a mirror of the router's crosspoints and protects
// for the destinations and levels the panels see, fed by the router's
// messages; the panels' router commands become SW-P-08 requests, and what
// the router reports becomes the panels' tallies and lock states:
//   - a take (".S") is one connect per level; the panels get the tally
//     when the router reports the crosspoint (CONNECTED, a tally or a dump),
//     never before; a take onto a destination the bridge shows locked is
//     refused with its lock state, as the simulator does;
//   - interrogates (".I", ".BI") are answered from the mirror (an unknown
//     crosspoint is asked of the router, and its tally then reaches every
//     panel);
//   - a crosspoint the mirror learns from a dump or tally reaches the
//     panels when it changed from what the mirror knew, or a panel asked
//     for it while it was unknown; CONNECTED always does;
//   - lock and protect requests (".BL", ".BP", ".BU") become protects of
//     every mapped level under the bridge's device number; protects of any
//     other device show on the panels as locked (255), the bridge's own as
//     what the panel asked for;
//   - salvos (".F") are fired as connects;
//   - while the router is unreachable, takes, locks and salvos are
//     answered with the panels' error reply ".E".
// Panel numbers are 1-based in the command texts; SW-P-08 numbers are
// zero-based.
class BridgeCore
{
public:
    enum { PanelDests = 2048, PanelLevels = BridgeOptions::PanelLevels };
    enum { Unknown = -1, NotShown = -2 }; // mirror values besides sources

    class Output
    {
    public:
        virtual ~Output() = default;
        virtual void toRouter(const swp08::Message &m) = 0;
        // A text for every panel.
        virtual void toPanels(const QByteArray &text) = 0;
        // Something the operator should know (standard error and trace).
        virtual void note(const QString &text) = 0;
    };

    BridgeCore(const BridgeOptions &options, Output &out);

    const BridgeOptions &options() const { return m_options; }
    // A salvo as the simulator's --salvo gives it (1-based numbers).
    void addSalvo(int number, int dest, int source, quint32 levels);

    // One router command text from a panel; returns the replies for that
    // panel.
    QList<QByteArray> panelCommand(const QByteArray &text);
    // The simulator's "route LEVELS DEST SRC" and "lock DEST 255|1|0".
    bool route(quint32 levels, int dest, int source, QString *why);
    bool lock(int dest, int value, QString *why);

    // The link to the router came up (the dumps are asked for) or went.
    void linkUp();
    void linkDown();
    bool isUp() const { return m_up; }
    // A message from the router.
    void routerMessage(const swp08::Message &m);
    // Sends the panels the tallies collected since the last flush, the
    // levels of one destination and source together.
    void flush();
    // A harmless request that keeps an idle link's ACKs coming.
    swp08::Message keepalive() const;

    // The mirror: the panels' source (0-based) of a panel level and
    // destination (0-based), or Unknown / NotShown; the lock state panels
    // are shown.
    int source(int panelLevel, int dest) const;
    int lockState(int dest) const;

private:
    struct Salvo {
        int dest, source;
        quint32 levels;
    };
    struct ProtectState {
        int state = 0;
        int device = 0;
    };

    bool sendRoute(quint32 levels, int dest, int source, QString *why);
    void sendProtect(int dest, bool on);
    void crosspoint(int level, int swpDest, int swpSource, bool always);
    void protectChanged(int level, int swpDest, int state, int device);
    int lockValue(int dest) const;
    void updateLock(int dest);
    QByteArray lockText(int dest) const;
    int letter(int swpLevel) const;

    BridgeOptions m_options;
    Output &m_out;
    bool m_up = false;
    quint32 m_mapped = 0;                       // panel levels with an SW-P-08 level
    std::vector<std::vector<int>> m_source;     // [panel level][dest]
    std::vector<std::vector<ProtectState>> m_protect;
    std::vector<std::vector<bool>> m_asked;     // a panel asked while unknown
    std::vector<quint8> m_ownKind;   // what a panel asked of our protect: 255 lock, 1 protect
    std::vector<quint8> m_shownLock; // the lock state panels were last told
    std::vector<int> m_protectAsked; // per panel level: first destination of the protect dump asked for
    std::map<int, std::map<int, quint32>> m_pending; // dest -> source -> panel levels
    QMap<int, QList<Salvo>> m_salvos;
};

#endif
