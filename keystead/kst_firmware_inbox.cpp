#include "kst_firmware_inbox.h"

#include <QMetaObject>
#include <QObject>
#include <QtDebug>

#include <utility>

KST_FirmwareInbox::KST_FirmwareInbox(QObject *owner, const char *wakeMethod)
    : m_owner(owner), m_wakeMethod(wakeMethod)
{
}

void KST_FirmwareInbox::stateMsg(StateMsg msg)
{
    Report r;
    r.kind = Report::State;
    r.state = msg;
    put(std::move(r));
}

void KST_FirmwareInbox::firmMsg(const QString &text)
{
    Report r;
    r.kind = Report::Text;
    r.text = text;
    put(std::move(r));
}

// The firmware may reuse its vector as soon as this returns: the batch is
// copied.
void KST_FirmwareInbox::buttondriverMsg(const std::vector<QByteArray> &batch)
{
    Report r;
    r.kind = Report::Buttons;
    r.batch = batch;
    put(std::move(r));
}

void KST_FirmwareInbox::put(Report &&report)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_closed)
        return;
    m_reports.push_back(std::move(report));
    if (m_wakePending)
        return; // the owner has been woken and will take this one too
    m_wakePending = true;
    // Posted under the lock, so that close() cannot slip in between and the
    // owner never gets a call after it closed the inbox. The call carries no
    // argument: the reports stay here.
    if (!QMetaObject::invokeMethod(m_owner, m_wakeMethod, Qt::QueuedConnection))
        qCritical("firmware inbox: cannot call %s (%s,%d)", m_wakeMethod, __FILE__, __LINE__);
}

std::vector<KST_FirmwareInbox::Report> KST_FirmwareInbox::take()
{
    std::vector<Report> reports;
    std::lock_guard<std::mutex> lock(m_lock);
    reports.swap(m_reports);
    m_wakePending = false;
    return reports;
}

int KST_FirmwareInbox::pending() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return int(m_reports.size());
}

void KST_FirmwareInbox::close()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_closed = true;
    m_reports.clear();
}
