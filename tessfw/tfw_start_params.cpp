#include "tfw_start_params.h"

#include <QHostAddress>
#include <cstring>

// Copies at most n bytes; like strncpy, the result is terminated only when
// the source is shorter than n.
static void bounded_copy(char *dst, const QByteArray &src, size_t n)
{
    const size_t len = std::min(size_t(src.size()), n);
    memcpy(dst, src.constData(), len);
}

StartParams tfw_make_start_params(const QString &type, const QString &ip, int port,
                                  const QString &configPath)
{
    StartParams p;
    memset(&p, 0, sizeof p);
    bounded_copy(p.product_name, type.toUtf8(), SP_NAME_LEN);

    if (!ip.isEmpty()) {
        bool ok = false;
        const QHostAddress addr(ip);
        const quint32 v = addr.toIPv4Address(&ok);
        if (ok) {
            p.ip_address[0] = uchar(v >> 24);
            p.ip_address[1] = uchar(v >> 16);
            p.ip_address[2] = uchar(v >> 8);
            p.ip_address[3] = uchar(v);
            p.udp_port = uint32_t(port);
        }
    }
    p.link_address = 0;
    p.version_major = 1;
    p.version_minor = 0;
    bounded_copy(p.config_path, configPath.toUtf8(), SP_PATH_LEN);
    return p;
}
