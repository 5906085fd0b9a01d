#include "tess_savefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tess {

namespace {

bool isNoSpace(int err)
{
    return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

bool fail(QSaveFile &file, SaveError *error, const QString &text, bool noSpace)
{
    // cancelWriting() makes commit() drop the temporary file and report
    // failure without touching the target.
    file.cancelWriting();
    file.commit();
    if (error) {
        error->text = text;
        error->noSpace = noSpace;
    }
    return false;
}

} // namespace

bool commitSaveFile(QSaveFile &file, SaveError *error)
{
    if (!file.isOpen())
        return fail(file, error, QStringLiteral("the file is not open"), false);
    // A write that failed earlier (cut short, disk full) is remembered by
    // the file; nothing of it may go in place.
    if (file.error() != QFileDevice::NoError)
        return fail(file, error, file.errorString(), file.error() == QFileDevice::ResourceError);
    errno = 0;
    if (!file.flush()) {
        const int err = errno;
        return fail(file, error, file.errorString(),
                    file.error() == QFileDevice::ResourceError || isNoSpace(err));
    }
    // Some file systems only find out at the sync that the blocks cannot be
    // had.
    const int fd = file.handle();
    if (fd >= 0 && ::fsync(fd) != 0) {
        const int err = errno;
        return fail(file, error, QString::fromLocal8Bit(strerror(err)), isNoSpace(err));
    }
    if (!file.commit()) {
        if (error) {
            error->text = file.errorString();
            error->noSpace = file.error() == QFileDevice::ResourceError;
        }
        return false;
    }
    syncParentDirectory(file.fileName());
    return true;
}

bool writeFileAtomically(const QString &path, const QByteArray &data, SaveError *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) {
            error->text = file.errorString();
            error->noSpace = file.error() == QFileDevice::ResourceError;
            error->notOpened = true;
        }
        return false;
    }
    if (file.write(data) != data.size())
        return fail(file, error, file.errorString(), file.error() == QFileDevice::ResourceError);
    return commitSaveFile(file, error);
}

bool syncParentDirectory(const QString &path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace tess
