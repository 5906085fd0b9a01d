#ifndef KST_IPLISTGETTER_H
#define KST_IPLISTGETTER_H

#include <QElapsedTimer>
#include <QStringList>

#include <functional>

// The addresses of this machine's network interfaces as text, sorted. The
// IP editor and the validation of a panel ask for them often, so the list
// is read from the system at most every 3 seconds.
class KST_IPListGetter
{
public:
    enum { CacheMs = 3000 };

    KST_IPListGetter();

    QStringList list();
    // Where the addresses come from; by default the network interfaces.
    // Drops the cached list.
    void setSource(std::function<QStringList()> source);

private:
    std::function<QStringList()> m_source;
    QStringList m_cache;
    QElapsedTimer m_refreshed; // invalid until the first refresh
};

#endif
