#include "kst_firmware_inbox.h"

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QtDebug>

#include <sys/eventfd.h>
#include <unistd.h>
#include <cstdint>

#include <utility>

KST_FirmwareInbox::KST_FirmwareInbox(QObject *owner, const char *wakeMethod)
    : m_owner(owner), m_wakeMethod(wakeMethod)
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) {
        qCritical("firmware inbox: no wake-up descriptor, reports wait in the inbox (%s,%d)",
                  __FILE__, __LINE__);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_wakeFd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, owner, [this] {
        uint64_t count;
        // Non-blocking: a second notification finds the counter at 0.
        if (::read(m_wakeFd, &count, sizeof count) != sizeof count)
            return;
        if (!QMetaObject::invokeMethod(m_owner, m_wakeMethod, Qt::DirectConnection))
            qCritical("firmware inbox: cannot call %s (%s,%d)", m_wakeMethod, __FILE__, __LINE__);
    });
}

KST_FirmwareInbox::~KST_FirmwareInbox()
{
    m_notifier.reset();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
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
    // The reports stay here; only the counter moves. A write fails only when
    // the counter would overflow, which an unread wake-up cannot reach.
    const uint64_t one = 1;
    if (m_wakeFd >= 0 && ::write(m_wakeFd, &one, sizeof one) != sizeof one)
        qWarning("firmware inbox: wake-up not written (%s,%d)", __FILE__, __LINE__);
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
