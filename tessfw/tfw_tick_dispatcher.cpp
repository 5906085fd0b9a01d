#include "tfw_tick_dispatcher.h"

#include <QCoreApplication>
#include <QtDebug>

bool TFW_TickDispatcher::processEvents(QEventLoop::ProcessEventsFlags)
{
    const bool posted = takePosted();
    QCoreApplication::sendPostedEvents();
    return posted;
}

void TFW_TickDispatcher::registerSocketNotifier(QSocketNotifier *)
{
    qWarning("socket notifier on a firmware thread: not served (%s,%d)", __FILE__, __LINE__);
}

void TFW_TickDispatcher::unregisterSocketNotifier(QSocketNotifier *) {}

void TFW_TickDispatcher::registerTimer(int, qint64, Qt::TimerType, QObject *)
{
    qWarning("Qt timer on a firmware thread: not served (%s,%d)", __FILE__, __LINE__);
}

bool TFW_TickDispatcher::unregisterTimer(int)
{
    return false;
}

bool TFW_TickDispatcher::unregisterTimers(QObject *)
{
    return false;
}

QList<QAbstractEventDispatcher::TimerInfo> TFW_TickDispatcher::registeredTimers(QObject *) const
{
    return {};
}

int TFW_TickDispatcher::remainingTime(int)
{
    return -1;
}

void TFW_TickDispatcher::wakeUp()
{
    m_posted.store(true, std::memory_order_release);
}

void TFW_TickDispatcher::interrupt() {}
