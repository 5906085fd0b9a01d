#ifndef KST_FIRMWARE_INBOX_H
#define KST_FIRMWARE_INBOX_H

// KST_FirmwareInbox: the callback object a firmware loader hands to its
// firmware. The firmware reports on its own threads (ST_THREAD_FINISHED on
// the GUI thread); each report is kept here under a lock, and the first one
// to arrive in an empty inbox wakes the owner: the inbox joins the list of
// waiting inboxes of the owner's thread and, when that list was empty,
// bumps the thread's one event counter (eventfd), which a socket notifier
// on that thread watches. The notifier calls, for each waiting inbox, one
// of its owner's methods, without arguments; that method takes every
// report in the order they came and passes them on. Waking through a
// descriptor keeps the firmware's threads out of the owner thread's
// posted-event list altogether, and one counter per thread (not one per
// inbox) keeps that thread's poll as short with a thousand panels as with
// one: reports of many panels in the same moment cost one wake-up.
//
// An inbox is made, closed and destroyed on its owner's thread, and the
// owner stays there. A thread's counter is opened with its first inbox and
// closed with its last.
//
// What a report carries (a text, a batch of button-driver records) is copied
// by the firmware's thread and taken by the owner's thread under the same
// lock, so the hand-over is ordered by that lock alone; nothing of a report
// travels inside Qt's posted events.

#include "tfw_interface.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class QObject;
class KST_InboxDoorbell;

class KST_FirmwareInbox : public TFW_IFirmwareCallback
{
public:
    struct Report
    {
        enum Kind { State, Text, Buttons };
        Kind kind = State;
        StateMsg state = ST_ONLINE;
        QString text;
        std::vector<QByteArray> batch;
    };

    // wakeMethod: the name of an invokable method of owner, without
    // arguments, called queued on the owner's thread when reports wait.
    KST_FirmwareInbox(QObject *owner, const char *wakeMethod);
    ~KST_FirmwareInbox();
    KST_FirmwareInbox(const KST_FirmwareInbox &) = delete;
    KST_FirmwareInbox &operator=(const KST_FirmwareInbox &) = delete;

    // TFW_IFirmwareCallback, from any thread.
    void stateMsg(StateMsg msg) override;
    void firmMsg(const QString &text) override;
    void buttondriverMsg(const std::vector<QByteArray> &batch) override;

    // The reports that came since the last take, oldest first. The next
    // report wakes the owner again.
    std::vector<Report> take();
    // Reports waiting to be taken.
    int pending() const;
    // Drops every waiting report and every later one, and wakes the owner
    // no more: the owner is going away. Returns once no report is being
    // put in any more.
    void close();

private:
    friend class KST_InboxDoorbell;
    void put(Report &&report);
    // On the owner's thread: calls the owner's wake method.
    void wakeOwner();

    mutable std::mutex m_lock;
    std::vector<Report> m_reports;
    bool m_wakePending = false;
    bool m_closed = false;
    // Valid until close(): the owner closes the inbox before it goes.
    QObject *m_owner;
    const char *m_wakeMethod;
    // The owner thread's counter and list of waiting inboxes; null when
    // that thread could have none (reports then wait in the inbox).
    KST_InboxDoorbell *m_doorbell = nullptr;
};

#endif
