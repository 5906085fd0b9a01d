#ifndef TFW_FIRMWARE_H
#define TFW_FIRMWARE_H

#include "collector_msg.h"
#include "plat_firmware.h"
#include "tfw_crash_guard.h"

#include <QElapsedTimer>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <memory>

struct TFW_TickStats;
class TFW_TickDispatcher;

class FtpThread;
class TFW_FirmwareThread;

// The running firmware of one panel, living on its firmware thread: the
// start that initialises the panel 10 ms after the thread began, the 10 ms
// loop, key events from the host and the stop sequence. To the firmware core
// it is the host: its callback operations forward to the host's callback.
//
// The thread runs no Qt event loop. exec() sleeps to the next deadline
// (clock_nanosleep on an absolute time), runs what is due there (the start
// or one loop tick) and then delivers whatever was queued to the thread's
// objects. Everything that reaches the firmware from outside is read once
// per tick anyway (key events through the inbox, the stop and reload
// requests as flags), so a wake-up costs the sleep, the tick and one look
// at the thread's posted events, and nothing else.
class TFW_Firmware : public QObject, public PlatFirmware
{
    Q_OBJECT

public:
    explicit TFW_Firmware(TFW_FirmwareThread *thread);
    ~TFW_Firmware() override;

    // Reports ST_THREAD_STARTED and arms the start (10 ms from now).
    void startup();
    // The thread's loop: returns once the stop sequence (or a fault in the
    // firmware) ended it. Runs on the firmware thread.
    void exec();

    // Callable from any thread; acted on at the next loop tick.
    void requestStop() { m_stopRequest.store(1, std::memory_order_relaxed); }
    void requestReload() override { m_reloadRequest.store(1, std::memory_order_relaxed); }

    // TFW_IFirmwareCallback: forwarded unchanged to the host's callback.
    void stateMsg(StateMsg msg) override;
    void firmMsg(const QString &text) override;
    void buttondriverMsg(const std::vector<QByteArray> &records) override;

    // The key state array once initialisation provided it, else null.
    const uint8_t *keyStates() const { return m_keys; }
    bool loopRunning() const { return m_loopActive; }
    bool ftpRunning() const;

    // Wakes the FTP thread, lets it end (at most 10 s) and deletes it. A step
    // of the stop sequence; also for a thread that ends without one.
    void endFtpThread();

    // Callable from any thread: hands a key event to the firmware thread.
    // It waits in a fixed inbox under a lock until the next loop tick takes
    // it (the key scan reads keys once per tick anyway), so no event object
    // crosses the thread boundary and a flood of key events from a client
    // costs bounded memory. The inbox keeps, per key, whether it was
    // pressed since the last tick and how its last event left it: the tick
    // applies the press (so a press and release between two ticks is still
    // seen once) and then the release, so however many events come in one
    // tick, none is needed that does not fit and a release is never lost.
    // Events for no key (an id out of range) wait for their warning in a
    // small queue; those that do not fit are counted, and every second at
    // most one line tells what was dropped or not warned about.
    void postCollectorMsg(const collector::CollectorMsg &msg);

    // True once a fault was caught on this object's thread.
    bool crashed() const { return m_crashed; }

    // The slots run the firmware as guarded calls (tfw_crash_guard.h): a
    // fault there ends the call, and this object releases what it holds.
    // After a fault: closes the router-link sockets, stops the timers and
    // ends the FTP thread, so that nothing of this copy stays bound,
    // registered or running once its thread ends; the thread's loop
    // is told to quit.
    void releaseAfterCrash();

    // What the loop runs at its deadlines: the start once, then every tick.
    void timer_loop();
    void timer_start();

public slots:
    void firmware_collector_msg_slot(collector::CollectorMsg msg);

private:
    void stopSequence();
    void refreshAllButtons();
    // Takes every waiting key event out of the inbox, in arrival order.
    void drainCollectorMsgs();
    void loopTick();
    void initialise();
    void keyEvent(const collector::CollectorMsg &msg);
    // Runs f as a guarded call; a fault in it releases everything
    // (releaseAfterCrash). False when it faulted.
    template <typename F>
    bool guarded(F &&f);

    TFW_FirmwareThread *m_thread;
    FtpThread *m_ftpThread = nullptr;
    // The loop's schedule, in CLOCK_MONOTONIC nanoseconds.
    bool m_startPending = false;
    bool m_loopActive = false;
    bool m_exit = false;          // the loop ends after this pass
    bool m_rescheduled = false;   // the pass set the next deadline itself
    int64_t m_deadlineNs = 0;
    // The thread's guard and dispatcher while exec() runs (the guard's
    // record is null, and calls are guarded the slow way, elsewhere).
    TFW_GuardHandle m_guard{};
    TFW_TickDispatcher *m_dispatcher = nullptr;

    uint8_t *m_keys = nullptr;
    int m_keyCount = 0;
    // Keys released since the last tick, cleared after the next loop pass so
    // that a press and release between two ticks is still seen once.
    bool m_pendingRelease[128];
    int m_pendingReleases = 0; // entries set in m_pendingRelease

    // Key events waiting for the next loop tick (postCollectorMsg).
    enum { kKeys = 128, kOddSize = 16, kWarningsPerSecond = 16, kReportMs = 1000 };
    struct KeyInbox {
        uint8_t pressed[kKeys] = {}; // a press came since the last tick
        uint8_t last[kKeys] = {};    // its last event: 0 none, 1 press, 2 release
        uint8_t order[kKeys] = {};   // keys with events, in first-arrival order
        int count = 0;
        collector::CollectorMsg odd[kOddSize]; // events for no key
        int oddCount = 0;
        int oddDropped = 0;          // those that found the queue full
        int lastDroppedId = 0;
    };
    std::mutex m_inboxLock;
    KeyInbox m_inbox;
    // Set when the inbox holds something, so that the tick may look without
    // the lock.
    std::atomic<int> m_inboxWaiting{0};
    // What the tick took out of the inbox, on the firmware thread only.
    KeyInbox m_drained;
    // Warnings of ignored key events this second, and what was dropped or
    // not warned about since the last report (firmware thread).
    int m_warnings = 0;
    int m_quiet = 0;
    int m_dropped = 0;
    int m_lastIgnoredId = 0;
    QElapsedTimer m_reportClock;
    std::atomic<int> m_reloadRequest{0};
    std::atomic<int> m_stopRequest{0};
    uint8_t m_lastConfigLoaded = 0;
    // The quarter-second stopwatch: when it was last started, and the time
    // the running tick woke at (0 outside a tick of the loop), monotonic ns.
    int64_t m_quarterStartNs = 0;
    int64_t m_tickNs = 0;
    bool m_stopped = false;
    bool m_crashed = false;
    // Tick lateness, kept only when TESSALINE_TICK_STATS=1 (null otherwise,
    // and then nothing is measured).
    std::unique_ptr<TFW_TickStats> m_tickStats;
};

#endif
