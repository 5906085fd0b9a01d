#include "tfw_firmware.h"

#include "ftp_thread.h"
#include "link/trace.h"
#include "ms_clock.h"
#include "panels_main.h"
#include "plat.h"
#include "tfw_crash_guard.h"
#include "tfw_firmware_thread.h"
#include "tfw_start_params.h"
#include "tfw_tick_dispatcher.h"
#include "tfw_tick_stats.h"

#include <QCoreApplication>
#include <QtDebug>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sys/syscall.h>
#include <type_traits>
#include <unistd.h>

enum {
    kStartDelayMs = 10,
    kLoopPeriodMs = 10,
    kQuarterSecondMs = 250,
    kFtpWaitMs = 10000
};

static const int64_t kLoopPeriodNs = int64_t(kLoopPeriodMs) * 1000000;

// The steady clock (CLOCK_MONOTONIC), as the firmware's millisecond clock
// reads it.
static int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Sleeps until the monotonic clock reads at least ns; at once when it does.
// The system call itself: the C library's wrapper adds a cancellation
// point, which a firmware thread never uses, to every tick.
static void sleepUntil(int64_t ns)
{
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    while (syscall(SYS_clock_nanosleep, CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0
           && errno == EINTR) {
    }
}

TFW_Firmware::TFW_Firmware(TFW_FirmwareThread *thread) : m_thread(thread)
{
    memset(m_pendingRelease, 0, sizeof m_pendingRelease);

    if (plat_firmware())
        qCritical("_g_firmware != NULL , should be NULL (%s,%d)", __FILE__, __LINE__);

    panels_set_quarter_flag(0);
    m_quarterStartNs = monotonicNs();
    plat_set_firmware(this);

    // Without the variable nothing is measured.
    if (qEnvironmentVariableIntValue("TESSALINE_TICK_STATS") == 1) {
        m_tickStats = std::make_unique<TFW_TickStats>();
        tfw_tick_stats_reset(m_tickStats.get(), kLoopPeriodNs);
    }
}

TFW_Firmware::~TFW_Firmware()
{
    endFtpThread();
    if (plat_firmware() == this)
        plat_set_firmware(nullptr);
}

void TFW_Firmware::startup()
{
    stateMsg(ST_THREAD_STARTED);
    m_startPending = true;
    m_deadlineNs = monotonicNs() + int64_t(kStartDelayMs) * 1000000;
}

void TFW_Firmware::exec()
{
    tfw_guard_handle(&m_guard);
    m_dispatcher = dynamic_cast<TFW_TickDispatcher *>(QAbstractEventDispatcher::instance());
    while (!m_exit) {
        const int64_t due = m_deadlineNs;
        sleepUntil(due);
        const int64_t woke = monotonicNs();
        m_rescheduled = false;
        if (m_startPending) {
            m_startPending = false;
            timer_start();
        } else if (m_loopActive) {
            // Timed as the tick begins; the tick's stopwatch reads this time.
            if (m_tickStats)
                tfw_tick_stats_record(m_tickStats.get(), woke);
            m_tickNs = woke;
            // The pass reads the clock once: this time.
            msc_tick_begin(woke);
            timer_loop();
            msc_tick_end();
            m_tickNs = 0;
        }
        // Calls queued to this thread's objects wait at most one tick.
        if (!m_dispatcher || m_dispatcher->takePosted())
            QCoreApplication::sendPostedEvents();
        if (m_rescheduled)
            continue;
        // The ticks keep their phase; a tick that woke a whole period or
        // more late skips the deadlines it missed rather than running
        // passes back to back.
        m_deadlineNs = due + kLoopPeriodNs;
        if (m_deadlineNs <= woke)
            m_deadlineNs += ((woke - m_deadlineNs) / kLoopPeriodNs + 1) * kLoopPeriodNs;
    }
    m_guard.record = nullptr;
    m_dispatcher = nullptr;
}

void TFW_Firmware::stateMsg(StateMsg msg)
{
    if (TFW_IFirmwareCallback *cb = m_thread->callback())
        cb->stateMsg(msg);
}

void TFW_Firmware::firmMsg(const QString &text)
{
    if (TFW_IFirmwareCallback *cb = m_thread->callback())
        cb->firmMsg(text);
}

void TFW_Firmware::buttondriverMsg(const std::vector<QByteArray> &records)
{
    if (TFW_IFirmwareCallback *cb = m_thread->callback())
        cb->buttondriverMsg(records);
}

void TFW_Firmware::timer_start()
{
    guarded([this] { initialise(); });
}

void TFW_Firmware::initialise()
{
    if (!m_thread->callback()) {
        qCritical("_firmware_callback NULL (%s,%d)", __FILE__, __LINE__);
        stopSequence();
        return;
    }

    const StartParams params = tfw_make_start_params(
        m_thread->typeName(), m_thread->ipText(), m_thread->port(), m_thread->configPath());
    // An address text that is no IPv4 address leaves the block without an
    // address; the socket layer then refuses to bind rather than take any.
    uint8_t addr[4];
    const QString ip = m_thread->ipText();
    plat_udp_refuse_address(ip.isEmpty() || tfw_parse_ipv4(ip, addr) ? nullptr
                                                                     : ip.toUtf8().constData());
    if (panels_loop_init(params) != 0) {
        qCritical("panels_loop_init failed (%s,%d)", __FILE__, __LINE__);
        stopSequence();
        return;
    }

    m_keys = plat_key_states();
    m_keyCount = PLAT_KEY_COUNT;
    stateMsg(ST_RUNNING);
    // The first tick one period after the loop starts.
    const int64_t now = monotonicNs();
    m_loopActive = true;
    m_deadlineNs = now + kLoopPeriodNs;
    m_rescheduled = true;
    if (m_tickStats)
        tfw_tick_stats_arm(m_tickStats.get(), now);

    const StartParams *settings = panels_settings();
    m_ftpThread = new FtpThread(settings->ip_address, settings->udp_port);
    m_ftpThread->start(QThread::InheritPriority);
}

void TFW_Firmware::timer_loop()
{
    if (!m_crashed)
        guarded([this] { loopTick(); });
}

void TFW_Firmware::loopTick()
{
    if (m_stopRequest.load(std::memory_order_relaxed)) {
        stopSequence();
        return;
    }

    // Key events that arrived since the last tick, in arrival order, so the
    // key scan of this pass sees them.
    drainCollectorMsgs();
    // A key event that faulted has released everything: no pass after it.
    if (m_crashed)
        return;

    bool reloaded = false;
    if (m_reloadRequest.exchange(0, std::memory_order_relaxed)) {
        panels_config_reload();
        reloaded = true;
    }

    const uint8_t loaded = panels_config_loaded();
    if (loaded != m_lastConfigLoaded) {
        m_lastConfigLoaded = loaded;
        if (loaded) {
            stateMsg(ST_CONFIG_LOADED);
            refreshAllButtons();
        }
    } else if (reloaded) {
        refreshAllButtons();
    }

    // A tick run by the loop has the time it woke at; one called directly
    // reads the clock.
    const int64_t now = m_tickNs > 0 ? m_tickNs : monotonicNs();
    if (now - m_quarterStartNs >= int64_t(kQuarterSecondMs) * 1000000) {
        panels_set_quarter_flag(1);
        m_quarterStartNs = now;
        // Another library copy may have ended and taken the crash handler
        // with it; make sure this thread is guarded again.
        tfw_crash_guard_refresh();
        // The marker file "TRACE" switches the protocol trace.
        trace_quarter_tick();
    }

    panels_loop();

    // Most ticks have no release to apply. A key whose press the scan has
    // not reported yet (it reports one press a tick, and several keys came
    // down since the last one) stays down until it has: cleared now, its
    // press would be lost.
    for (int i = 0; m_pendingReleases > 0 && i < int(sizeof m_pendingRelease); ++i) {
        if (!m_pendingRelease[i] || (i < m_keyCount && m_keys && plat_key_press_waiting(uint8_t(i))))
            continue;
        m_pendingRelease[i] = false;
        --m_pendingReleases;
        if (i >= m_keyCount || !m_keys) {
            format_msg("invalid btid %d", i);
            continue;
        }
        m_keys[i] = 0;
    }
}

void TFW_Firmware::postCollectorMsg(const collector::CollectorMsg &msg)
{
    if (msg.type != collector::CollectorMsg::TypeKey)
        return; // ignored, as the firmware ignores every other type
    std::lock_guard<std::mutex> lock(m_inboxLock);
    KeyInbox &in = m_inbox;
    if (msg.id > 0 && msg.id < kKeys) {
        const int k = msg.id - 1;
        if (!in.last[k])
            in.order[in.count++] = uint8_t(k);
        if (msg.value)
            in.pressed[k] = 1;
        in.last[k] = msg.value ? 1 : 2;
        m_inboxWaiting.store(1, std::memory_order_release);
        return;
    }
    if (in.oddCount < kOddSize) {
        in.odd[in.oddCount++] = msg;
    } else {
        ++in.oddDropped;
        in.lastDroppedId = msg.id;
    }
    m_inboxWaiting.store(1, std::memory_order_release);
}

void TFW_Firmware::drainCollectorMsgs()
{
    // The events are copied out to a second fixed inbox, so key handling
    // runs without the lock and a tick allocates and constructs nothing;
    // most ticks find the inbox empty and do not even take the lock.
    if (m_inboxWaiting.load(std::memory_order_acquire) == 0)
        return;
    KeyInbox &d = m_drained;
    {
        std::lock_guard<std::mutex> lock(m_inboxLock);
        m_inboxWaiting.store(0, std::memory_order_relaxed);
        KeyInbox &in = m_inbox;
        d.count = in.count;
        for (int i = 0; i < in.count; ++i) {
            const int k = in.order[i];
            d.order[i] = uint8_t(k);
            d.pressed[k] = in.pressed[k];
            d.last[k] = in.last[k];
            in.pressed[k] = 0;
            in.last[k] = 0;
        }
        in.count = 0;
        d.oddCount = in.oddCount;
        for (int i = 0; i < in.oddCount; ++i)
            d.odd[i] = in.odd[i];
        in.oddCount = 0;
        d.oddDropped = in.oddDropped;
        d.lastDroppedId = in.lastDroppedId;
        in.oddDropped = 0;
    }

    for (int i = 0; i < d.oddCount && !m_crashed; ++i) {
        if (m_warnings < kWarningsPerSecond) {
            ++m_warnings;
            firmware_collector_msg_slot(d.odd[i]);
        } else {
            ++m_quiet;
            m_lastIgnoredId = d.odd[i].id;
        }
    }
    if (d.oddDropped) {
        m_dropped += d.oddDropped;
        m_lastIgnoredId = d.lastDroppedId;
    }
    // A key pressed since the last tick is pressed for this pass; one whose
    // last event was a release is released after it.
    for (int i = 0; i < d.count && !m_crashed; ++i) {
        const int k = d.order[i];
        if (d.pressed[k])
            firmware_collector_msg_slot(collector::CollectorMsg(k + 1, true));
        if (d.last[k] == 2)
            firmware_collector_msg_slot(collector::CollectorMsg(k + 1, false));
    }

    // Once a second, and only after events for no key came.
    if (!m_warnings && !m_quiet && !m_dropped)
        return;
    if (!m_reportClock.isValid())
        m_reportClock.start();
    if (m_reportClock.elapsed() < kReportMs)
        return;
    if (m_quiet || m_dropped)
        qWarning("ignored key events: %d more in the last second, %d of them dropped (last id,max): "
                 "%d %d (%s,%d)",
                 m_quiet + m_dropped, m_dropped, m_lastIgnoredId, m_keyCount, __FILE__, __LINE__);
    m_warnings = 0;
    m_quiet = 0;
    m_dropped = 0;
    m_reportClock.restart();
}

void TFW_Firmware::firmware_collector_msg_slot(collector::CollectorMsg msg)
{
    if (!m_crashed)
        guarded([this, &msg] { keyEvent(msg); });
}

void TFW_Firmware::keyEvent(const collector::CollectorMsg &msg)
{
    if (msg.type != collector::CollectorMsg::TypeKey)
        return;
    if (!m_keys)
        return; // no key state array before initialisation
    if (msg.id <= 0 || msg.id >= m_keyCount) {
        qWarning("ignored key event (id,max): %d %d (%s,%d)", msg.id, m_keyCount, __FILE__,
                 __LINE__);
        return;
    }
    const int idx = msg.id - 1;
    if (msg.value) {
        if (m_pendingRelease[idx])
            --m_pendingReleases;
        m_pendingRelease[idx] = false;
        m_keys[idx] = 1;
    } else if (m_keys[idx] && !m_pendingRelease[idx]) {
        m_pendingRelease[idx] = true;
        ++m_pendingReleases;
    }
}

template <typename F>
bool TFW_Firmware::guarded(F &&f)
{
    auto call = [](void *p) { (*static_cast<std::remove_reference_t<F> *>(p))(); };
    if (tfw_guarded_call_with(&m_guard, call, &f) == 0)
        return true;
    releaseAfterCrash();
    return false;
}

void TFW_Firmware::releaseAfterCrash()
{
    if (m_crashed)
        return;
    m_crashed = true;
    // No stop sequence (the host hears only that the thread finished), but
    // everything it would release goes.
    m_stopped = true;
    m_loopActive = false;
    m_startPending = false;
    trace_abandon();
    panels_close_sockets();
    m_exit = true;
    endFtpThread();
}

void TFW_Firmware::refreshAllButtons()
{
    panels_refresh_all_buttons();
}

void TFW_Firmware::stopSequence()
{
    if (m_stopped)
        return;
    m_stopped = true;
    stateMsg(ST_STOPPING);
    m_loopActive = false;
    trace_shutdown();
    if (m_tickStats)
        firmMsg(tfw_tick_stats_text(m_tickStats.get()));
    panels_close_sockets();
    m_exit = true;
    endFtpThread();
}

bool TFW_Firmware::ftpRunning() const
{
    return m_ftpThread && m_ftpThread->isRunning();
}

void TFW_Firmware::endFtpThread()
{
    if (!m_ftpThread)
        return;
    m_ftpThread->closeAll();
    m_ftpThread->quit();
    if (!m_ftpThread->waitForEnd(kFtpWaitMs)) {
        qCritical("_ftp_thread wait failed (%s,%d)", __FILE__, __LINE__);
        // Destroying a QThread that still runs aborts the process; the
        // stuck thread is left alone instead.
        m_ftpThread = nullptr;
        return;
    }
    delete m_ftpThread;
    m_ftpThread = nullptr;
}
