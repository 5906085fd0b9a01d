#include "kst_firmware_inbox.h"

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QtDebug>

#include <sys/eventfd.h>
#include <unistd.h>
#include <cstdint>

#include <algorithm>
#include <deque>
#include <utility>

// One per thread that owns inboxes: the event counter and the list of
// inboxes that have reports and have not woken their owner yet. Lock order:
// an inbox's lock, then the doorbell's.
class KST_InboxDoorbell
{
public:
    // The calling thread's doorbell, made when its first inbox is, gone
    // with its last; null when no descriptor can be had.
    static KST_InboxDoorbell *acquire()
    {
        if (!s_mine) {
            auto *made = new KST_InboxDoorbell;
            if (made->m_fd < 0) {
                delete made;
                return nullptr;
            }
            s_mine = made;
        }
        ++s_mine->m_refs;
        return s_mine;
    }

    // On the doorbell's thread.
    void release()
    {
        if (--m_refs > 0)
            return;
        if (s_mine == this)
            s_mine = nullptr;
        delete this;
    }

    // From any thread, the inbox's lock held.
    void ring(KST_FirmwareInbox *inbox)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const bool wasEmpty = m_waiting.empty();
        m_waiting.push_back(inbox);
        if (!wasEmpty)
            return; // a wake-up is on its way and will find this one
        // A write fails only when the counter would overflow, which an
        // unread wake-up cannot reach.
        const uint64_t one = 1;
        if (::write(m_fd, &one, sizeof one) != sizeof one)
            qWarning("firmware inbox: wake-up not written (%s,%d)", __FILE__, __LINE__);
    }

    // On the owner's thread: the inbox no longer waits to be woken.
    void forget(KST_FirmwareInbox *inbox)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), inbox), m_waiting.end());
    }

private:
    KST_InboxDoorbell()
    {
        m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_fd < 0) {
            qCritical("firmware inbox: no wake-up descriptor, reports wait in the inbox (%s,%d)",
                      __FILE__, __LINE__);
            return;
        }
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { deliver(); });
    }
    ~KST_InboxDoorbell()
    {
        delete m_notifier;
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // One inbox at a time, taken from the list before its owner runs: an
    // owner's method may delete other owners, whose inboxes then leave the
    // list (forget) before this loop reaches them.
    void deliver()
    {
        uint64_t count;
        // Non-blocking: a second notification finds the counter at 0.
        if (::read(m_fd, &count, sizeof count) != sizeof count)
            return;
        // An owner's method may close the last inbox: the doorbell stays
        // until this delivery is over.
        ++m_refs;
        deliverTurn();
        release();
    }

    void deliverTurn()
    {
        // Those that waited when the counter was read; inboxes that ring
        // meanwhile wait for the next turn of the event loop, so that busy
        // panels cannot hold the thread here.
        size_t turn;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            turn = m_waiting.size();
        }
        for (; turn > 0; --turn) {
            KST_FirmwareInbox *next;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_waiting.empty())
                    return;
                next = m_waiting.front();
                m_waiting.pop_front();
            }
            next->wakeOwner();
        }
        std::lock_guard<std::mutex> lock(m_lock);
        const uint64_t one = 1;
        if (!m_waiting.empty() && ::write(m_fd, &one, sizeof one) != sizeof one)
            qWarning("firmware inbox: wake-up not written (%s,%d)", __FILE__, __LINE__);
    }

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    int m_refs = 0; // inboxes (and a delivery under way), on its thread
    std::mutex m_lock;
    std::deque<KST_FirmwareInbox *> m_waiting;

    static thread_local KST_InboxDoorbell *s_mine;
};

thread_local KST_InboxDoorbell *KST_InboxDoorbell::s_mine = nullptr;

KST_FirmwareInbox::KST_FirmwareInbox(QObject *owner, const char *wakeMethod)
    : m_owner(owner), m_wakeMethod(wakeMethod)
{
    m_doorbell = KST_InboxDoorbell::acquire();
}

KST_FirmwareInbox::~KST_FirmwareInbox()
{
    close();
}

void KST_FirmwareInbox::wakeOwner()
{
    if (!QMetaObject::invokeMethod(m_owner, m_wakeMethod, Qt::DirectConnection))
        qCritical("firmware inbox: cannot call %s (%s,%d)", m_wakeMethod, __FILE__, __LINE__);
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
    // The reports stay here; only the doorbell rings.
    if (m_doorbell)
        m_doorbell->ring(this);
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
    KST_InboxDoorbell *doorbell;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_closed = true;
        m_reports.clear();
        doorbell = m_doorbell;
        m_doorbell = nullptr;
        if (doorbell)
            doorbell->forget(this);
    }
    // No report rings it any more (closed, under the lock).
    if (doorbell)
        doorbell->release();
}
