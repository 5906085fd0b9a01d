#ifndef TFW_TICK_DISPATCHER_H
#define TFW_TICK_DISPATCHER_H

#include <QAbstractEventDispatcher>
#include <atomic>

// The event dispatcher of a firmware thread. The thread runs its own loop
// (TFW_Firmware::exec), so all this dispatcher does is note that something
// posted an event to one of the thread's objects (a call queued from the
// host): the loop delivers such events after its next tick, and only looks
// for them when one was posted. It opens no descriptor and keeps no timer;
// Qt timers and socket notifiers are not served on a firmware thread (a
// warning says so: the firmware polls its sockets and keeps its own time).
class TFW_TickDispatcher : public QAbstractEventDispatcher
{
public:
    TFW_TickDispatcher() = default;

    // Whether an event was posted since the last call, and forget it.
    bool takePosted()
    {
        // Most ticks find nothing posted: a plain read, no locked exchange.
        return m_posted.load(std::memory_order_relaxed)
               && m_posted.exchange(false, std::memory_order_acquire);
    }

    // Delivers what was posted (called by the firmware loop only when
    // takePosted() said so, or by Qt itself).
    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;

private:
    std::atomic<bool> m_posted{false};
};

#endif
