#ifndef TFW_FIRMWARE_H
#define TFW_FIRMWARE_H

#include "collector_msg.h"
#include "plat_firmware.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <memory>

struct TFW_TickStats;

class FtpThread;
class TFW_FirmwareThread;

// The running firmware of one panel, living on its firmware thread: the
// one-shot start timer that initialises the panel, the 10 ms loop timer,
// key events from the host and the stop sequence. To the firmware core it is
// the host: its callback operations forward to the host's callback.
class TFW_Firmware : public QObject, public PlatFirmware
{
    Q_OBJECT

public:
    explicit TFW_Firmware(TFW_FirmwareThread *thread);
    ~TFW_Firmware() override;

    // Reports ST_THREAD_STARTED and arms the start timer (10 ms).
    void startup();

    // Callable from any thread; acted on at the next loop tick.
    void requestStop() { m_stopRequest.store(1, std::memory_order_relaxed); }
    void requestReload() override { m_reloadRequest.store(1, std::memory_order_relaxed); }

    // TFW_IFirmwareCallback: forwarded unchanged to the host's callback.
    void stateMsg(StateMsg msg) override;
    void firmMsg(const QString &text) override;
    void buttondriverMsg(const std::vector<QByteArray> &records) override;

    // The key state array once initialisation provided it, else null.
    const uint8_t *keyStates() const { return m_keys; }
    bool loopRunning() const { return m_loopTimer.isActive(); }
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
    // registered or running once its thread ends; the thread's event loop
    // is told to quit.
    void releaseAfterCrash();

public slots:
    void timer_loop();
    void timer_start();
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
    QTimer m_loopTimer;
    QTimer m_startTimer;

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
    QElapsedTimer m_quarterSecond;
    bool m_stopped = false;
    bool m_crashed = false;
    // Tick lateness, kept only when TESSALINE_TICK_STATS=1 (null otherwise,
    // and then nothing is measured).
    std::unique_ptr<TFW_TickStats> m_tickStats;
    QElapsedTimer m_tickClock;
};

#endif
