#ifndef LOG_RECORDER_H
#define LOG_RECORDER_H

// Records every Qt log line of the process, from any thread, and passes it
// on to the handler that was installed before. Install once per test
// program (initTestCase), after QtTest has installed its own handler.

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>
#include <mutex>

namespace log_recorder {

struct State
{
    std::mutex lock;
    QList<QPair<QtMsgType, QString>> lines;
    QtMessageHandler previous = nullptr;
};

inline State &state()
{
    static State s;
    return s;
}

inline void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    State &s = state();
    {
        std::lock_guard<std::mutex> l(s.lock);
        s.lines.append({type, msg});
    }
    if (s.previous)
        s.previous(type, ctx, msg);
}

inline void install()
{
    state().previous = qInstallMessageHandler(handler);
}

inline void clear()
{
    std::lock_guard<std::mutex> l(state().lock);
    state().lines.clear();
}

// Lines of the given level that start with start (every line for an empty
// start).
inline int count(QtMsgType type, const QString &start = QString())
{
    std::lock_guard<std::mutex> l(state().lock);
    int n = 0;
    for (const auto &e : state().lines)
        n += e.first == type && e.second.startsWith(start);
    return n;
}

// Lines of the given level that contain text.
inline int countContaining(QtMsgType type, const QString &text)
{
    std::lock_guard<std::mutex> l(state().lock);
    int n = 0;
    for (const auto &e : state().lines)
        n += e.first == type && e.second.contains(text);
    return n;
}

} // namespace log_recorder

#endif
