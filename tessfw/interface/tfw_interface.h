#ifndef TFW_INTERFACE_H
#define TFW_INTERFACE_H

// The boundary between the host and a loaded firmware library. The library
// exports one function, get_ifirmware, returning its one TFW_IFirmware; the
// host hands it a TFW_IFirmwareCallback. Both sides are compiled from this
// header; the virtual operations keep this order.

#include "collector_msg.h"

#include <QByteArray>
#include <QString>
#include <vector>

class TFW_IFirmwareCallback
{
public:
    // Status codes and events reported through stateMsg.
    enum StateMsg {
        ST_ONLINE = 0,           // router link came online
        ST_OFFLINE = 1,          // router link left online
        ST_FIRMWARE_MSG = 2,     // never sent
        ST_CONFIG_LOADED = 3,    // first configuration of this run loaded
        ST_UDP_BIND_ERROR = 4,   // router-link socket could not be bound
        ST_FTP_BIND_ERROR = 5,   // FTP server could not bind
        ST_FTP_ERROR = 6,        // FTP server ended with another error
        ST_THREAD_STARTED = 7,   // firmware object exists, before initialisation
        ST_RUNNING = 8,          // initialised, loop timer running
        ST_STOPPING = 9,         // stop sequence begun
        ST_THREAD_FINISHED = 10, // thread ended (reported on the host's thread)
        ST_UDP_SENT = 11,
        ST_UDP_SEND_FAILED = 12,
        ST_UDP_RECEIVED = 13,
        ST_LOCATE_ON = 14,
        ST_LOCATE_OFF = 15,
        ST_BUZZER_ON = 16,
        ST_BUZZER_OFF = 17       // never sent: every beep asks for ST_BUZZER_ON
    };

    // Called on the firmware thread (ST_THREAD_FINISHED on the host's
    // thread). Implementations must not block; they forward by queued signal.
    virtual void stateMsg(StateMsg msg) = 0;
    virtual void firmMsg(const QString &text) = 0;
    // One or more button-driver records, each in its own byte array.
    virtual void buttondriverMsg(const std::vector<QByteArray> &records) = 0;
    virtual ~TFW_IFirmwareCallback() {}
};

class TFW_IFirmware
{
public:
    // Must be called before start.
    virtual void setCallback(TFW_IFirmwareCallback *cb) = 0;
    // Starts the firmware thread for a panel of the given type, bound to
    // ip:port, with its configuration file at configPath.
    virtual void start(const QString &type, const QString &ip, int port,
                       const QString &configPath) = 0;
    // Asks the loop to stop and waits at most 2000 ms; true when it ended.
    virtual bool stop() = 0;
    // Passes one message (a key event) into the firmware thread.
    virtual void sendCollectorMsg(const collector::CollectorMsg &msg) = 0;
    virtual QString buildDate() = 0;
    virtual QString version() = 0;
    virtual ~TFW_IFirmware() {}
};

// The library's one exported function.
extern "C" {
typedef TFW_IFirmware *(*TFW_GetIFirmware)();
}
#define TFW_ENTRY_NAME "get_ifirmware"

Q_DECLARE_METATYPE(TFW_IFirmwareCallback::StateMsg)
Q_DECLARE_METATYPE(std::vector<QByteArray>)

// The upper-case name of a status code ("ST_RUNNING"), or null for a value
// outside the table.
inline const char *tfw_state_name(int v)
{
    static const char *const names[] = {
        "ST_ONLINE", "ST_OFFLINE", "ST_FIRMWARE_MSG", "ST_CONFIG_LOADED",
        "ST_UDP_BIND_ERROR", "ST_FTP_BIND_ERROR", "ST_FTP_ERROR",
        "ST_THREAD_STARTED", "ST_RUNNING", "ST_STOPPING", "ST_THREAD_FINISHED",
        "ST_UDP_SENT", "ST_UDP_SEND_FAILED", "ST_UDP_RECEIVED", "ST_LOCATE_ON",
        "ST_LOCATE_OFF", "ST_BUZZER_ON", "ST_BUZZER_OFF"};
    return (v >= 0 && v < int(sizeof names / sizeof names[0])) ? names[v] : nullptr;
}

// Registers the types that cross from a firmware thread to the host by queued
// signal, under the names the host's connections use. A host calls this
// before it loads the first firmware library: the registry then points at
// the host's own copy of each type, which outlives every library copy.
inline void tfw_register_meta_types()
{
    collector::registerMetaType();
    qRegisterMetaType<TFW_IFirmwareCallback::StateMsg>("TFW_IFirmwareCallback::StateMsg");
    qRegisterMetaType<std::vector<QByteArray>>("vector<QByteArray>");
}

#endif
