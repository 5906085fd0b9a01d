#include "kst_iplistgetter.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace {

QStringList interfaceAddresses()
{
    QStringList list;
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &a : addresses)
        list.append(a.toString());
    return list;
}

} // namespace

KST_IPListGetter::KST_IPListGetter() : m_source(interfaceAddresses) {}

QStringList KST_IPListGetter::list()
{
    if (!m_refreshed.isValid() || m_refreshed.elapsed() >= CacheMs) {
        m_cache = m_source();
        m_cache.sort();
        m_refreshed.start();
    }
    return m_cache;
}

void KST_IPListGetter::setSource(std::function<QStringList()> source)
{
    m_source = std::move(source);
    m_refreshed.invalidate();
}
