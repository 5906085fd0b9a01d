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
    QTimer timer;
    timer.setInterval(kServicePeriodMs);
    // Direct: the slot runs here, on the FTP thread, not where this object lives.
    connect(&timer, &QTimer::timeout, this, &FtpThread::timer_serviceFTP, Qt::DirectConnection);
    timer.start();
    exec();
    timer.stop();
    ftpd_finish();
    m_error = ftpd_error();

    // A bind or listen failure ends the service; the host stops the panel.
    if (m_error)
        plat_state_msg(m_error == FTPD_ERR_BIND ? TFW_IFirmwareCallback::ST_FTP_BIND_ERROR
                                                : TFW_IFirmwareCallback::ST_FTP_ERROR);
}

void FtpThread::timer_serviceFTP()
{
    m_error = ftpd_error();
    if (m_error == 0) {
        ftpd_step();
        return;
    }
    ftpd_close_all();
    quit();
}
