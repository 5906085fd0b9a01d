#ifndef KEY_HARNESS_H
#define KEY_HARNESS_H

// A panel for key-handling tests: started like the firmware thread starts
// it, a configuration text loaded from memory (panel setup brings it
// online), the router requests caught by a recording protocol instead of
// going on the wire, beeps counted from the host's status codes, the
// millisecond clock driven by the test, and key events fed in by a small
// script.

#include "../../../support/pcsl_file.h"
#include "../../../support/stdout_capture.h"
#include "config/config_load.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/keys.h"
#include "control/router_request.h"
#include "key_queue.h"
#include "link/comms.h"
#include "link/router_cmd.h"
#include "ms_clock.h"
#include "panels_main.h"
#include "plat.h"
#include "recording_host.h"

#include <QByteArray>
#include <QStringList>
#include <cstring>

namespace keyharness {

inline QStringList &requests()
{
    static QStringList r;
    return r;
}

// Requests as "op a b c priority".
inline void recordRequest(int op, uint32_t a, uint32_t b, uint32_t c, int priority)
{
    requests().append(QStringLiteral("%1 %2 %3 %4 %5").arg(op).arg(a).arg(b).arg(c).arg(priority));
}

inline uint32_t &now()
{
    static uint32_t ms = 100000;
    return ms;
}

inline QByteArray configFile(const QByteArray &text)
{
    return pcslConfigFile(text);
}

// Starts a panel of the model and loads the text; the panel is online.
// With a configuration path the panel has a directory (that of the path)
// for the files it stores.
inline bool startPanel(const char *model, const QByteArray &text, const QByteArray &configPath = QByteArray())
{
    msc_set_test_source(&now());
    StartParams p;
    memset(&p, 0, sizeof p);
    memcpy(p.product_name, model, strlen(model));
    p.version_major = 1;
    memcpy(p.config_path, configPath.constData(), size_t(qMin<qsizetype>(configPath.size(), SP_PATH_LEN)));
    panels_close_sockets();
    panels_loop_init(p);
    rreq_set_protocol(recordRequest);
    const QByteArray file = configFile(text);
    const bool ok = cfgload_file_data(reinterpret_cast<const uint8_t *>(file.constData()), size_t(file.size()));
    requests().clear();
    return ok && comms_state() == COMMS_ONLINE;
}

// A router command text as the router would send it.
inline void fromRouter(const QByteArray &text)
{
    rcmd_receive(reinterpret_cast<const uint8_t *>(text.constData()), int(text.size()));
}

inline int beeps(const RecordingHost &host)
{
    int n = 0;
    for (int s : host.states)
        n += s == TFW_IFirmwareCallback::ST_BUZZER_ON;
    return n;
}

// Runs a key script: "P7" press key 7 (1-based, as Btn(7)), "R7" release,
// "K7" press and release, "A7*40" forty repeat events. Returns false for a
// token it does not know.
inline bool runScript(const QByteArray &script)
{
    for (const QByteArray &tok : script.split(' ')) {
        if (tok.isEmpty())
            continue;
        const char kind = tok[0];
        QByteArray rest = tok.mid(1);
        int count = 1;
        const int star = rest.indexOf('*');
        if (star >= 0) {
            count = rest.mid(star + 1).toInt();
            rest = rest.left(star);
        }
        bool ok = false;
        const int key = rest.toInt(&ok) - 1;
        if (!ok || key < 0 || key >= 128)
            return false;
        for (int i = 0; i < count; ++i) {
            now() += 10;
            switch (kind) {
            case 'P': keys_event(KEY_PRESS, uint8_t(key)); break;
            case 'R': keys_event(KEY_RELEASE, uint8_t(key)); break;
            case 'A': keys_event(KEY_REPEAT, uint8_t(key)); break;
            case 'K':
                keys_event(KEY_PRESS, uint8_t(key));
                keys_event(KEY_RELEASE, uint8_t(key));
                break;
            default: return false;
            }
        }
    }
    return true;
}

// One loop tick's key work: the key scan and the key handler, with the
// quarter-second flag raised every 25th tick as the firmware thread does.
inline int tick(int n)
{
    int repeats = 0;
    static int ticks = 0;
    for (int i = 0; i < n; ++i) {
        if (++ticks % 25 == 0)
            panels_set_quarter_flag(1);
        now() += 10;
        plat_key_scan();
        KeyEvent ev;
        while (kq_get(&ev)) {
            repeats += ev.kind == KEY_REPEAT;
            keys_event(ev.kind, ev.key);
        }
    }
    return repeats;
}

} // namespace keyharness

#endif
