#ifndef SWP08_SESSION_H
#define SWP08_SESSION_H

#include "router_state.h"
#include "swp08_message.h"

#include <QByteArray>

#include <vector>

// What the simulated router does with one SW-P-08 client's messages, with
// no socket: interrogates and dumps are answered from the matrix, connects
// and protects change it (the matrix's observer tells every client), names
// are made up from the numbers, anything it cannot carry out is answered
// with "invalid message". SW-P-08 numbers are zero-based, the matrix's
// one-based: SW-P-08 destination d is the panels' destination d + 1, level
// l the panels' level l.
class Swp08Session
{
public:
    class Output
    {
    public:
        virtual ~Output() = default;
        // A message to this client only.
        virtual void reply(const swp08::Message &m) = 0;
        // A text for every panel (a tally or lock state the client caused).
        virtual void toPanels(const QByteArray &text) = 0;
    };

    Swp08Session(RouterState &state, int matrix, Output &out) : m_state(state), m_matrix(matrix), m_out(out) {}

    // One frame's DATA from the client.
    void handle(const std::vector<uint8_t> &data);

    // What every client is told of a change of the matrix: CONNECTED, or
    // PROTECT CONNECTED / DISCONNECTED (one per level for a panel's lock).
    static std::vector<swp08::Message> changeMessages(const RouterState &state, int matrix,
                                                      const RouterState::Change &change);

private:
    void invalid(uint8_t wireCommand);
    bool valid(const swp08::Message &m) const;
    void interrogate(const swp08::Message &m);
    void connect(const swp08::Message &m);
    void protect(const swp08::Message &m);
    void protectDump(const swp08::Message &m);
    void dump(const swp08::Message &m);
    void names(const swp08::Message &m);
    static swp08::Message protectMessage(const RouterState &state, int matrix, uint8_t command, int level,
                                         int dest, int device);

    RouterState &m_state;
    int m_matrix;
    Output &m_out;
};

#endif
