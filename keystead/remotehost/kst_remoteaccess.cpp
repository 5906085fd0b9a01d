#include "kst_remoteaccess.h"

#include "kst_dirs.h"
#include "kst_remotehost.h"
#include "rm_router.h"
#include "rm_server.h"
#include "rm_web.h"

#include <QDir>

KST_RemoteAccess::KST_RemoteAccess(KST_Data *data, QObject *parent) : QObject(parent), m_data(data) {}

KST_RemoteAccess::~KST_RemoteAccess()
{
    m_server.reset();
    m_host.reset();
}

bool KST_RemoteAccess::start(const QString &address, const QString &tokenArg, QString *why, QString *made)
{
    remote::Endpoint at;
    if (!remote::parseEndpoint(address, &at, why))
        return false;
    if (!at.address.isLoopback() && tokenArg.isEmpty()) {
        *why = QStringLiteral("%1 can be reached from other machines: a token is required "
                              "(--http-token FILE, or --http-token new for a random one)")
                   .arg(address);
        return false;
    }
    QByteArray token;
    if (tokenArg == QLatin1String("new")) {
        QString dir = baseDir();
        if (dir.isEmpty())
            dir = QDir::currentPath();
        QString path;
        if (!remote::makeTokenFile(dir, &token, &path, why))
            return false;
        if (made)
            *made = path;
    } else if (!tokenArg.isEmpty() && !remote::readTokenFile(tokenArg, &token, why)) {
        return false;
    }
    stop();
    if (!m_host)
        m_host = std::make_unique<KST_RemoteHost>(m_data);
    m_server = std::make_unique<remote::Server>(m_host.get());
    if (!m_server->start(at, token, why)) {
        m_server.reset();
        return false;
    }
    KST_RemoteHost *host = m_host.get();
    m_server->router()->setPressCheck([host](int uid, QString *why) { return host->pressAllowed(uid, why); });
    remote::WebPages::install(m_server->router(), host);
    m_address = address;
    m_token = token;
    qDebug("remote API on %s%s", qPrintable(url()), token.isEmpty() ? "" : " (token required)");
    emit changed();
    return true;
}

void KST_RemoteAccess::stop()
{
    if (!m_server)
        return;
    m_server.reset();
    m_token.clear();
    emit changed();
}

bool KST_RemoteAccess::isOn() const
{
    return m_server && m_server->isListening();
}

QString KST_RemoteAccess::url() const
{
    return m_server ? m_server->url() : QString();
}

bool KST_RemoteAccess::hasToken() const
{
    return !m_token.isEmpty();
}
