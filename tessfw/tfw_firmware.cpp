#include "tfw_firmware.h"

#include "ftp_thread.h"
#include "link/trace.h"
#include "panels_main.h"
#include "plat.h"
#include "tfw_crash_guard.h"
#include "tfw_firmware_thread.h"
#include "tfw_start_params.h"
#include "tfw_tick_stats.h"

#include <QtDebug>
#include <cstring>
#include <type_traits>

enum {
    kStartDelayMs = 10,
    kLoopPeriodMs = 10,
    kQuarterSecondMs = 250,
    kFtpWaitMs = 10000
};

TFW_Firmware::TFW_Firmware(TFW_FirmwareThread *thread) : m_thread(thread)
{
    memset(m_pendingRelease, 0, sizeof m_pendingRelease);

    if (plat_firmware())
        qCritical("_g_firmware != NULL , should be NULL (%s,%d)", __FILE__, __LINE__);

    panels_set_quarter_flag(0);
    m_quarterSecond.start();
    plat_set_firmware(this);

    m_loopTimer.setSingleShot(false);
    if (qEnvironmentVariableIntValue("TESSALINE_TICK_STATS") == 1) {
        // Connected ahead of the loop, so each tick is timed as it begins;
        // without the variable the loop timer has no other receiver.
        m_tickStats = std::make_unique<TFW_TickStats>();
        tfw_tick_stats_reset(m_tickStats.get(), int64_t(kLoopPeriodMs) * 1000000);
        m_tickClock.start();
        connect(&m_loopTimer, &QTimer::timeout, this,
                [this] { tfw_tick_stats_record(m_tickStats.get(), m_tickClock.nsecsElapsed()); });
    }
    connect(&m_loopTimer, &QTimer::timeout, this, &TFW_Firmware::timer_loop);
    connect(&m_startTimer, &QTimer::timeout, this, &TFW_Firmware::timer_start);
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
    m_startTimer.setSingleShot(true);
    m_startTimer.start(kStartDelayMs);
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
    m_loopTimer.start(kLoopPeriodMs);
    if (m_tickStats)
        tfw_tick_stats_arm(m_tickStats.get(), m_tickClock.nsecsElapsed());

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

    if (m_quarterSecond.elapsed() >= kQuarterSecondMs) {
        panels_set_quarter_flag(1);
        m_quarterSecond.restart();
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

bool TFW_Firmware::postCollectorMsg(const collector::CollectorMsg &msg)
{
    std::lock_guard<std::mutex> lock(m_inboxLock);
    if (m_inboxCount >= kInboxSize)
        return false;
    m_inbox[m_inboxCount++] = msg;
    return true;
}

void TFW_Firmware::drainCollectorMsgs()
{
    // The events are copied out to a second fixed array, so key handling
    // runs without the lock and a tick allocates and constructs nothing;
    // most ticks find the inbox empty and copy nothing at all.
    int count;
    {
        std::lock_guard<std::mutex> lock(m_inboxLock);
        count = m_inboxCount;
        for (int i = 0; i < count; ++i)
            m_drained[i] = m_inbox[i];
        m_inboxCount = 0;
    }
    for (int i = 0; i < count; ++i)
        firmware_collector_msg_slot(m_drained[i]);
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
    if (tfw_guarded_call(call, &f) == 0)
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
    m_loopTimer.stop();
    m_startTimer.stop();
    trace_abandon();
    panels_close_sockets();
    m_thread->quit();
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
    m_loopTimer.stop();
    trace_shutdown();
    if (m_tickStats)
        firmMsg(tfw_tick_stats_text(m_tickStats.get()));
    panels_close_sockets();
    m_thread->quit();
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
