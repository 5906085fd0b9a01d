#include "ftp_thread.h"

#include "link/ftpd.h"
#include "plat.h"
#include "tfw_interface.h"

#include <QTimer>

enum { kServicePeriodMs = 25 };

FtpThread::FtpThread(const uint8_t ip[4], uint32_t udpPort)
{
    ftpd_init(plat_ftpd(), ip, udpPort);
}

FtpThread::~FtpThread() {}

void FtpThread::closeAll()
{
    ftpd_stop();
}

void FtpThread::run()
{
    {
        QTimer timer;
        timer.setInterval(kServicePeriodMs);
        // Direct: the slot runs here, on the FTP thread, not where this
        // object lives.
        connect(&timer, &QTimer::timeout, this, &FtpThread::timer_serviceFTP, Qt::DirectConnection);
        timer.start();
        exec();
    }
    ftpd_finish();

    // A bind or listen failure ends the service; the host stops the panel.
    const int error = ftpd_error();
    if (error)
        plat_state_msg(error == FTPD_ERR_BIND ? TFW_IFirmwareCallback::ST_FTP_BIND_ERROR
                                              : TFW_IFirmwareCallback::ST_FTP_ERROR);
    m_error.store(error, std::memory_order_release);
}

bool FtpThread::waitForEnd(int ms)
{
    if (!wait(ms))
        return false;
    (void)errorCode();
    return true;
}

void FtpThread::timer_serviceFTP()
{
    if (ftpd_error() == 0) {
        ftpd_step();
        return;
    }
    ftpd_close_all();
    quit();
}
