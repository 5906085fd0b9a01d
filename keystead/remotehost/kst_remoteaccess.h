#ifndef KST_REMOTEACCESS_H
#define KST_REMOTEACCESS_H

// KST_RemoteAccess: Keystead's remote API, off until switched on (from the
// command line, --http ADDR:PORT [--http-token FILE|new], or from the main
// window). On loopback it needs no token unless one is given; on any other
// address a token is required: read from a file, or made at random and
// kept in <base dir>/http-token (mode 0600).

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class KST_Data;
class KST_RemoteHost;
namespace remote {
class Server;
}

class KST_RemoteAccess : public QObject
{
    Q_OBJECT

public:
    explicit KST_RemoteAccess(KST_Data *data, QObject *parent = nullptr);
    ~KST_RemoteAccess() override;

    // address: "ADDR:PORT"; tokenArg: empty (none), "new" (a random one,
    // and *made tells where it went) or a token file. False with why.
    bool start(const QString &address, const QString &tokenArg, QString *why, QString *made = nullptr);
    void stop();
    bool isOn() const;
    QString url() const;
    QString address() const { return m_address; }
    bool hasToken() const;
    QByteArray token() const { return m_token; }
    remote::Server *server() const { return m_server.get(); }
    KST_RemoteHost *host() const { return m_host.get(); }

signals:
    void changed();

private:
    KST_Data *m_data;
    std::unique_ptr<KST_RemoteHost> m_host;
    std::unique_ptr<remote::Server> m_server;
    QString m_address;
    QByteArray m_token;
};

#endif
