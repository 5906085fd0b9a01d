#ifndef ROUTER_STATE_H
#define ROUTER_STATE_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QVector>

// The simulated router's matrix: which source feeds each destination on
// each level, lock and protect states, and stored salvos. It answers the
// panels' router commands; numbers are 1-based as on the wire.
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
    int lock(int dest) const;

    static QByteArray levelText(quint32 levels);
    // Parses level letters ("VA") into a mask; -1 for an invalid letter.
    static qint64 parseLevels(const QByteArray &letters);

private:
    int m_levels, m_sources, m_dests;
    QVector<QVector<int>> m_xpt; // [level][dest - 1] = source (1-based)
    QVector<int> m_lock;         // [dest - 1]
    QMap<int, QList<Salvo>> m_salvos;
};

#endif
