#include "tfw_start_params.h"

#include <cstring>

// Copies at most n bytes; like strncpy, the result is terminated only when
// the source is shorter than n.
static void bounded_copy(char *dst, const QByteArray &src, size_t n)
{
    const size_t len = std::min(size_t(src.size()), n);
    memcpy(dst, src.constData(), len);
}

bool tfw_parse_ipv4(const QString &text, uint8_t out[4])
{
    uint8_t v[4];
    int part = 0;
    int digits = 0;
    unsigned value = 0;
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++digits > 3)
                return false;
            value = value * 10 + unsigned(c.unicode() - '0');
            if (value > 255)
                return false;
        } else if (c == QLatin1Char('.') && digits > 0 && part < 3) {
            v[part++] = uint8_t(value);
            digits = 0;
            value = 0;
        } else {
            return false;
        }
    }
    if (part != 3 || digits == 0)
        return false;
    v[3] = uint8_t(value);
    memcpy(out, v, 4);
    return true;
}

StartParams tfw_make_start_params(const QString &type, const QString &ip, int port,
                                  const QString &configPath)
{
    StartParams p;
    memset(&p, 0, sizeof p);
    bounded_copy(p.product_name, type.toUtf8(), SP_NAME_LEN);

    if (!ip.isEmpty() && tfw_parse_ipv4(ip, p.ip_address))
        p.udp_port = uint32_t(port);
    p.link_address = 0;
    p.version_major = 1;
    p.version_minor = 0;
    bounded_copy(p.config_path, configPath.toUtf8(), SP_PATH_LEN);
    return p;
}
