#ifndef FTP_THREAD_H
#define FTP_THREAD_H

#include <QThread>
#include <atomic>
#include <cstdint>

// The FTP server's thread: a 25 ms timer advances the service one step
// (link/ftpd.h). The service blocks in accept and in the command receive,
// so an idle server costs nothing between clients. Created and started by
// the firmware thread after initialisation; ended by its stop sequence with
// closeAll() and quit().
class FtpThread : public QThread
{
    Q_OBJECT

public:
    // Prepares the service for the panel's own address (most significant
    // byte first, 0.0.0.0 = any) and UDP port. Call before start().
    FtpThread(const uint8_t ip[4], uint32_t udpPort);
    ~FtpThread() override;

    // Any thread: wakes the service out of a blocked accept or receive and
    // keeps it from opening sockets; the thread closes them on its way out.
    void closeAll();
    // Waits at most ms for the thread to end; true when it did. Everything
    // the thread wrote is then ordered before the caller's next steps (the
    // end of run() is published through m_error, not only through
    // QThread's own wait, which lives inside QtCore).
    bool waitForEnd(int ms);
    // The service's error code when the thread ended (0 = none).
    int errorCode() const { return m_error.load(std::memory_order_acquire); }

public slots:
    void timer_serviceFTP();

protected:
    void run() override;

private:
    std::atomic<int> m_error{0};
};

#endif
