// The panel's configuration file, at the path of the start settings: read
// whole at every load, replaced whole after a download or upload. Every
// file the platform stores goes through the same whole-file replacement.

#include "panels_main.h"
#include "plat.h"
#include "plat_firmware.h"
#include "plat_host.h"

#include <QFile>
#include <QSaveFile>
#include <QtDebug>

enum { CONFIG_LENGTH_OFFSET = 6, CONFIG_HEADER = 10 };

static QByteArray s_config;

const uint8_t *plat_config_read(uint32_t *len)
{
    *len = 0;
    s_config.clear();
    QFile f(QString::fromLocal8Bit(panels_config_path()));
    if (!f.exists())
        return nullptr;
    if (!f.open(QIODevice::ReadOnly)) {
        qCritical("failed to open config data file %s (%s,%d)", qPrintable(f.errorString()), __FILE__,
                  __LINE__);
        return nullptr;
    }
    s_config = f.readAll();
    *len = uint32_t(s_config.size());
    return reinterpret_cast<const uint8_t *>(s_config.constData());
}

bool plat_store_file(const QString &path, const char *what, const char *data, uint32_t total)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        qCritical("could not open %s for writing %s (%s,%d)", what, qPrintable(path), __FILE__, __LINE__);
        return false;
    }
    const qint64 wrote = f.write(data, qint64(total));
    // The old file stays in place unless the whole new one is written.
    if (wrote != qint64(total) || !f.commit()) {
        qCritical("could not write %s , wrote/total %lld/%u (%s,%d)", what,
                  wrote == qint64(total) ? 0LL : (long long)wrote, total, __FILE__, __LINE__);
        return false;
    }
    return true;
}

void plat_config_write(uint8_t *buf, uint32_t *len)
{
    const uint32_t total = *len;
    // The header carries the file's length; a buffer too short to hold the
    // header is written as it is (no loader will accept it).
    if (total >= CONFIG_HEADER) {
        buf[CONFIG_LENGTH_OFFSET] = uint8_t(total >> 24);
        buf[CONFIG_LENGTH_OFFSET + 1] = uint8_t(total >> 16);
        buf[CONFIG_LENGTH_OFFSET + 2] = uint8_t(total >> 8);
        buf[CONFIG_LENGTH_OFFSET + 3] = uint8_t(total);
    }

    plat_store_file(QString::fromLocal8Bit(panels_config_path()), "config file",
                    reinterpret_cast<const char *>(buf), total);
    *len = 0;
    if (PlatFirmware *fw = plat_firmware())
        fw->requestReload();
}
