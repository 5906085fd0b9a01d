// The list of allowed router addresses: the file "allowed_routers" in the
// panel's directory, next to its configuration file (router_allow.h has
// its format). The host writes it from the panel's settings before each
// start; the panel reads it once, at its start.

#include "panels_main.h"
#include "plat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

int plat_allowed_routers_read(char *buf, int cap)
{
    const QFileInfo config(QString::fromLocal8Bit(panels_config_path()));
    QFile f(config.dir().filePath(QStringLiteral("allowed_routers")));
    if (!f.exists())
        return -1;
    if (!f.open(QIODevice::ReadOnly)) {
        // The list cannot be read: no router is accepted rather than all.
        format_msg("allowed routers: cannot read %s: %s", qPrintable(f.fileName()),
                   qPrintable(f.errorString()));
        return 0;
    }
    const qint64 n = f.read(buf, cap);
    if (n < 0)
        return 0;
    if (n == cap && !f.atEnd())
        format_msg("allowed routers: %s is longer than %d bytes, the rest is not read",
                   qPrintable(f.fileName()), cap);
    return int(n);
}
