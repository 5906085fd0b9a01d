#ifndef ROUTER_STATE_H
#define ROUTER_STATE_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QVector>

#include <functional>

// The simulated router's matrix: which source feeds each destination on
// each level, lock and protect states, and stored salvos. It answers the
// panels' router commands; numbers are 1-based as on the wire.
//
// Two kinds of lock: the panels' lock state of a destination (255 locked,
// 1 protected, 0 free, all levels alike), and the protects SW-P-08 clients
// set on one level of a destination under a device number. Panels see a
// destination with any SW-P-08 protect as locked (255), and a take onto a
// protected level is refused; SW-P-08 clients see a panel's lock on every
// level, as override-protected (locked) or protected by a third party.
class RouterState
{
public:
    enum { MaxLevels = 26 };

    // A command text to send: to the panel that asked only, or to every
    // panel.
    struct Out {
        bool toAll;
        QByteArray text;
    };

    RouterState(int levels, int sources, int dests);

    int levels() const { return m_levels; }
    int sources() const { return m_sources; }
    int dests() const { return m_dests; }

    // A change of the matrix, whoever made it: a crosspoint set (even to
    // the source it had), or the lock or protect state of one level of a
    // destination (level -1: every level, a panel's lock).
    struct Change {
        enum Kind { Route, Protect } kind;
        int level;
        int dest;
        int device; // Protect: the device that changed it (0 for panels)
    };
    void setObserver(std::function<void(const Change &)> observer) { m_observer = std::move(observer); }

    // A salvo: crosspoints set together when fired.
    struct Salvo {
        int dest;
        int source;
        quint32 levels;
    };
    void addSalvo(int number, const Salvo &entry);

    // Sets crosspoints and returns the tally to send to every panel; empty
    // when a number is out of range.
    QByteArray route(quint32 levels, int dest, int source);
    // Sets a lock state (255 locked, 1 protected, 0 free) and returns the
    // lock-state text for every panel; empty when out of range.
    QByteArray setLock(int dest, int value);

    // Handles one router command text from a panel.
    QList<Out> handle(const QByteArray &text);

    int source(int level, int dest) const;
    // The lock state panels see: the panels' own lock, else 255 while any
    // level has an SW-P-08 protect, else 0.
    int lock(int dest) const;

    // SW-P-08 protects. The state of one level of a destination (0 none,
    // 1 protected by *device, 2 locked by a panel, 3 protected by a panel)
    // and its device (0 for panels).
    int protectState(int level, int dest, int *device) const;
    enum ProtectResult { Refused, Unchanged, Changed };
    // Protects a level of a destination for a device: refused while a
    // panel holds a lock on it or another device protects it. panelText:
    // the lock state for every panel when what panels see changed.
    ProtectResult protect(int level, int dest, int device, QByteArray *panelText);
    // Releases a device's protect; refused for anyone else's.
    ProtectResult unprotect(int level, int dest, int device, QByteArray *panelText);
    // Whether a take onto these levels of a destination is refused: the
    // panels' lock, or a protect on one of the levels.
    bool takeRefused(quint32 levels, int dest) const;

    static QByteArray levelText(quint32 levels);
    // Parses level letters ("VA") into a mask; -1 for an invalid letter.
    static qint64 parseLevels(const QByteArray &letters);

private:
    // ".BA" with the lock state panels see.
    QByteArray lockText(int dest) const;

    int m_levels, m_sources, m_dests;
    QVector<QVector<int>> m_xpt; // [level][dest - 1] = source (1-based)
    QVector<int> m_lock;         // [dest - 1]
    QVector<QVector<int>> m_protect; // [level][dest - 1] = device, -1 none
    std::function<void(const Change &)> m_observer;
    QMap<int, QList<Salvo>> m_salvos;
};

#endif
