// The panel's configuration file, at the path of the start settings: read
// whole at every load, replaced whole after a download or upload. Every
// file the platform stores goes through the same whole-file replacement,
// which keeps the old file when the new one cannot be written whole (a
// full disk).

#include "panels_main.h"
#include "plat.h"
#include "plat_firmware.h"
#include "plat_host.h"

#include "tess_savefile.h"

#include <QFile>
#include <QtDebug>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

bool plat_store_file(const QString &path, const char *what, const char *data, uint32_t total,
                     bool *noSpace)
{
    // The old file stays in place unless every byte of the new one reached
    // the disk.
    tess::SaveError error;
    const bool ok = tess::writeFileAtomically(
        path, QByteArray::fromRawData(data, int(total)), &error);
    if (noSpace)
        *noSpace = !ok && error.noSpace;
    if (!ok && error.notOpened)
        qCritical("could not open %s for writing %s: %s (%s,%d)", what, qPrintable(path),
                  qPrintable(error.text), __FILE__, __LINE__);
    else if (!ok)
        qCritical("could not write %s , wrote/total 0/%u: %s: %s (%s,%d)", what, total,
                  qPrintable(path), qPrintable(error.text), __FILE__, __LINE__);
    return ok;
}

// The header carries the file's length; a buffer too short to hold the
// header is written as it is (no loader will accept it).
static void put_length(uint8_t *buf, uint32_t total)
{
    if (total >= CONFIG_HEADER) {
        buf[CONFIG_LENGTH_OFFSET] = uint8_t(total >> 24);
        buf[CONFIG_LENGTH_OFFSET + 1] = uint8_t(total >> 16);
        buf[CONFIG_LENGTH_OFFSET + 2] = uint8_t(total >> 8);
        buf[CONFIG_LENGTH_OFFSET + 3] = uint8_t(total);
    }
}

int plat_config_write(uint8_t *buf, uint32_t *len)
{
    const uint32_t total = *len;
    put_length(buf, total);
    const bool ok = plat_store_file(QString::fromLocal8Bit(panels_config_path()), "config file",
                                    reinterpret_cast<const char *>(buf), total);
    *len = 0;
    // Reloading after a failed write loads the file that stayed.
    if (PlatFirmware *fw = plat_firmware())
        fw->requestReload();
    return ok ? 1 : 0;
}

// ---- an FTP upload: staged when its transfer ends, put in place when the
// session does -------------------------------------------------------------------

static QString staged_path()
{
    return QString::fromLocal8Bit(panels_config_path()) + QStringLiteral(".upload");
}

int plat_config_stage(uint8_t *buf, uint32_t *len)
{
    const uint32_t total = *len;
    *len = 0;
    if (!panels_config_path()[0]) {
        qCritical("could not write config file , wrote/total 0/%u: the panel has no "
                  "configuration path (%s,%d)", total, __FILE__, __LINE__);
        return PLAT_STORE_FAILED;
    }
    put_length(buf, total);
    bool noSpace = false;
    if (!plat_store_file(staged_path(), "config file", reinterpret_cast<const char *>(buf), total,
                         &noSpace)) {
        QFile::remove(staged_path());
        return noSpace ? PLAT_STORE_NO_SPACE : PLAT_STORE_FAILED;
    }
    return PLAT_STORE_OK;
}

int plat_config_place(int keep)
{
    if (!panels_config_path()[0])
        return 0;
    const QString staged = staged_path();
    const QByteArray from = QFile::encodeName(staged);
    if (!keep) {
        if (QFile::exists(staged))
            QFile::remove(staged);
        return 0;
    }
    const QByteArray to = QFile::encodeName(QString::fromLocal8Bit(panels_config_path()));
    // rename() replaces the old file in one step: a reader sees the old
    // configuration or the new one, never a part.
    const bool ok = ::rename(from.constData(), to.constData()) == 0;
    if (!ok) {
        qCritical("could not write config file: %s could not replace %s: %s (%s,%d)",
                  from.constData(), to.constData(), strerror(errno), __FILE__, __LINE__);
        QFile::remove(staged);
    } else {
        tess::syncParentDirectory(staged);
    }
    if (PlatFirmware *fw = plat_firmware())
        fw->requestReload();
    return ok ? 1 : 0;
}
