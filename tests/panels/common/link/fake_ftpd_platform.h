#ifndef FAKE_FTPD_PLATFORM_H
#define FAKE_FTPD_PLATFORM_H

// A scripted network and panel for the FTP server: what the client sends,
// how the data connection behaves, and a record of everything the server
// did. One instance at a time (the platform is a table of plain functions).

#include "link/ftpd.h"

#include <QByteArray>
#include <QList>
#include <deque>

struct FakeFtpd {
    enum { ListenSock = 10, CtrlSock = 20, DataSockBase = 30 };
    // Items of the data script besides data chunks.
    static QByteArray nothing() { return QByteArray("\x01" "nothing"); }
    static QByteArray closed() { return QByteArray("\x01" "closed"); }
    static QByteArray error(int e) { return QByteArray("\x01" "error") + QByteArray::number(e); }
    // Nothing arrives for ms milliseconds of the clock (control: what the
    // server waits for, then the next item; data: ms pass, nothing yet).
    static QByteArray quiet(int ms) { return QByteArray("\x01" "quiet") + QByteArray::number(ms); }

    // Script
    bool failOpen = false;
    int bindError = 0;
    int dataBindError = 0;
    int listenError = 0;
    int pendingClients = 0;
    std::deque<QByteArray> control;      // chunks the control receive returns
    std::deque<int> connectResults;      // empty: pending, then 0, then connected
    std::deque<QByteArray> data;         // chunks, nothing(), closed(), error()
    int sendError = 0;
    int stageResult = FTPD_STORE_OK;     // what writing an upload gives
    uint32_t *clock = nullptr;           // the server's clock, for quiet()

    // Record
    QByteArray sent;                     // everything sent on the control connection
    QList<QByteArray> stored;            // each configuration put in place
    QByteArray staged;                   // written, waiting for the session's end
    int dropped = 0;                     // staged uploads dropped
    QList<int> locates;
    int ledsOff = 0;
    QList<QByteArray> messages;
    QList<int> closedSockets;
    int opens = 0;
    int connectCalls = 0;
    bool shutDown = false;
    uint16_t boundPort = 0, boundDataPort = 0;
    uint8_t boundIp[4] = {0, 0, 0, 0};
    uint8_t connectIp[4] = {0, 0, 0, 0};
    uint16_t connectPort = 0;
    int reuseCalls = 0;

    static FakeFtpd *&current()
    {
        static FakeFtpd *f;
        return f;
    }

    FakeFtpd() { current() = this; }
    ~FakeFtpd() { current() = nullptr; }

    // What was sent since the last call.
    QByteArray takeSent()
    {
        QByteArray s = sent;
        sent.clear();
        return s;
    }

    static const FtpdPlatform *platform()
    {
        static const FtpdPlatform p = {open, reuse, bind, listen, accept, connect, recv, send, close,
                                       shutdownAll, rearm, stage, place, locate, ledsOffFn,
                                       message};
        return &p;
    }

private:
    static FakeFtpd &f() { return *current(); }

    static int open()
    {
        if (f().failOpen)
            return -1;
        return f().opens++ == 0 ? ListenSock : DataSockBase + f().opens;
    }
    static int reuse(int)
    {
        ++f().reuseCalls;
        return 0;
    }
    static int bind(int s, const uint8_t ip[4], uint16_t port)
    {
        if (s == ListenSock) {
            memcpy(f().boundIp, ip, 4);
            f().boundPort = port;
            return f().bindError;
        }
        f().boundDataPort = port;
        return f().dataBindError;
    }
    static int listen(int, int backlog) { return backlog == 2 ? f().listenError : 22; }
    static int accept(int, uint8_t peer[4])
    {
        if (f().pendingClients <= 0)
            return -1;
        --f().pendingClients;
        peer[0] = 192, peer[1] = 168, peer[2] = 7, peer[3] = 9;
        return CtrlSock;
    }
    static int connect(int, const uint8_t ip[4], uint16_t port)
    {
        memcpy(f().connectIp, ip, 4);
        f().connectPort = port;
        const int call = f().connectCalls++;
        if (!f().connectResults.empty()) {
            const int r = f().connectResults.front();
            f().connectResults.pop_front();
            return r;
        }
        return call == 0 ? FTPD_NET_PENDING : FTPD_NET_ISCONN;
    }
    static int recv(int s, uint8_t *buf, int len, int wait, int *err)
    {
        *err = 0;
        std::deque<QByteArray> &q = s == CtrlSock ? f().control : f().data;
        if (s == CtrlSock && wait <= 0)
            return *err = 22, -1; // the control connection is always waited on
        if (s != CtrlSock && wait)
            return *err = 22, -1;
        // The clock runs through quiet items: a control wait ends with the
        // next item if it comes in time, else with nothing.
        while (!q.empty() && q.front().startsWith("\x01" "quiet")) {
            const int ms = q.front().mid(6).toInt();
            const int passed = s == CtrlSock ? qMin(ms, wait) : ms;
            if (f().clock)
                *f().clock += uint32_t(passed);
            if (passed < ms) {
                q.front() = quiet(ms - passed);
                return -1;
            }
            q.pop_front();
            if (s != CtrlSock)
                return -1;
            wait -= passed;
            if (wait <= 0)
                return -1;
        }
        if (q.empty())
            return s == CtrlSock ? 0 : (-1); // control: closed; data: nothing yet
        QByteArray item = q.front();
        if (item == nothing()) {
            q.pop_front();
            return -1;
        }
        if (item == closed()) {
            q.pop_front();
            return 0;
        }
        if (item.startsWith("\x01" "error")) {
            q.pop_front();
            *err = item.mid(6).toInt();
            return -1;
        }
        const int n = qMin(len, int(item.size()));
        memcpy(buf, item.constData(), size_t(n));
        if (n == item.size())
            q.pop_front();
        else
            q.front() = item.mid(n);
        return n;
    }
    static int send(int s, const uint8_t *buf, int len)
    {
        if (s == CtrlSock)
            f().sent.append(reinterpret_cast<const char *>(buf), len);
        return f().sendError;
    }
    static void close(int s) { f().closedSockets.append(s); }
    static void shutdownAll() { f().shutDown = true; }
    static void rearm() { f().shutDown = false; }
    static int stage(uint8_t *buf, uint32_t *len)
    {
        f().staged.clear();
        if (f().stageResult == FTPD_STORE_OK)
            f().staged = QByteArray(reinterpret_cast<const char *>(buf), int(*len));
        *len = 0;
        return f().stageResult;
    }
    static int place(int keep)
    {
        if (f().staged.isNull())
            return 0;
        if (keep)
            f().stored.append(f().staged);
        else
            ++f().dropped;
        f().staged = QByteArray();
        return keep;
    }
    static void locate(int on) { f().locates.append(on); }
    static void ledsOffFn() { ++f().ledsOff; }
    static void message(const char *text) { f().messages.append(QByteArray(text)); }
};

#endif
