#ifndef FTP_TEST_CLIENT_H
#define FTP_TEST_CLIENT_H

// A minimal blocking FTP client for tests: one reply per command, active
// mode uploads through a listener of its own.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

class FtpTestClient
{
public:
    // No proxy lookup (it would start a resolver thread).
    FtpTestClient()
    {
        m_ctrl.setProxy(QNetworkProxy::NoProxy);
        m_data.setProxy(QNetworkProxy::NoProxy);
    }

    // Connects and reads the banner (empty when none came).
    QByteArray open(const QString &ip, quint16 port, int timeoutMs = 3000)
    {
        // The server listens one service step after it reports its ports.
        QElapsedTimer t;
        t.start();
        for (;;) {
            m_ctrl.connectToHost(QHostAddress(ip), port);
            if (m_ctrl.waitForConnected(timeoutMs))
                return reply(timeoutMs);
            m_ctrl.abort();
            if (t.elapsed() > 1000)
                return QByteArray();
            QThread::msleep(10);
        }
    }

    bool connected() const { return m_ctrl.state() == QAbstractSocket::ConnectedState; }

    // Reads one whole reply: lines up to one that starts "ddd ".
    QByteArray reply(int timeoutMs = 3000)
    {
        QElapsedTimer t;
        t.start();
        QByteArray got;
        for (;;) {
            while (m_ctrl.canReadLine()) {
                const QByteArray line = m_ctrl.readLine();
                got += line;
                if (line.size() >= 4 && line[3] == ' ')
                    return got;
            }
            const qint64 left = timeoutMs - t.elapsed();
            if (left <= 0 || !m_ctrl.waitForReadyRead(int(left)))
                return got;
        }
    }

    QByteArray cmd(const QByteArray &line, int timeoutMs = 3000)
    {
        m_ctrl.write(line + "\r\n");
        m_ctrl.waitForBytesWritten(timeoutMs);
        return reply(timeoutMs);
    }

    // PORT for a fresh local listener; returns the PORT reply.
    QByteArray port()
    {
        m_data.close();
        m_data.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        const quint16 p = m_data.serverPort();
        return cmd("PORT 127,0,0,1," + QByteArray::number(p >> 8) + "," + QByteArray::number(p & 0xff));
    }

    // STOR after PORT: waits for the server's data connection, sends the
    // payload, closes; returns the replies to STOR (150 and 226).
    QByteArray stor(const QByteArray &payload, int timeoutMs = 5000)
    {
        m_ctrl.write("STOR cfg\r\n");
        m_ctrl.waitForBytesWritten(timeoutMs);
        if (!m_data.waitForNewConnection(timeoutMs))
            return reply(timeoutMs);
        QTcpSocket *d = m_data.nextPendingConnection();
        QByteArray got = reply(timeoutMs);
        d->write(payload);
        while (d->bytesToWrite() > 0 && d->waitForBytesWritten(timeoutMs)) {
        }
        d->disconnectFromHost();
        if (d->state() != QAbstractSocket::UnconnectedState)
            d->waitForDisconnected(timeoutMs);
        delete d;
        return got + reply(timeoutMs);
    }

    // Waits until the server has closed the control connection.
    bool waitClosed(int timeoutMs)
    {
        if (m_ctrl.state() == QAbstractSocket::UnconnectedState)
            return true;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            m_ctrl.waitForReadyRead(50);
            m_ctrl.readAll();
            if (m_ctrl.state() == QAbstractSocket::UnconnectedState)
                return true;
        }
        return false;
    }

private:
    QTcpSocket m_ctrl;
    QTcpServer m_data;
};

#endif
