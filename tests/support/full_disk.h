#ifndef FULL_DISK_H
#define FULL_DISK_H

// A directory on a file system with no space left, for tests of what is
// stored when a disk is full.
//
// As root: a 400 KiB tmpfs mounted in a mount namespace of the test's own
// (made once per process; threads the test starts afterwards see it, and it
// goes with the process), filled up to its last block by fill(). Without
// the right to mount: the process's file size limit (RLIMIT_FSIZE) is
// lowered by fill() instead, so that a write beyond limitBytes fails as it
// would on a full disk (EFBIG, with SIGXFSZ ignored), until release().

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

class FullDisk
{
public:
    enum Kind { None, Tmpfs, FileSizeLimit };

    // Makes the directory; false with *why when neither way works.
    bool setUp(QString *why)
    {
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary directory");
            return false;
        }
        m_path = m_dir.path() + QStringLiteral("/full");
        QDir().mkpath(m_path);
        if (mountTmpfs()) {
            m_kind = Tmpfs;
            return true;
        }
        const int mountError = errno;
        rlimit r;
        if (getrlimit(RLIMIT_FSIZE, &r) == 0) {
            m_kind = FileSizeLimit;
            return true;
        }
        *why = QStringLiteral("cannot mount a small tmpfs (%1) nor lower the file size limit")
                   .arg(QString::fromLocal8Bit(strerror(mountError)));
        return false;
    }

    Kind kind() const { return m_kind; }
    QString path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + QLatin1Char('/') + name; }

    // Leaves no space for anything written from now on: the tmpfs is
    // filled to its last byte; otherwise the file size limit drops to
    // limitBytes.
    bool fill(qint64 limitBytes = 1024)
    {
        if (m_kind == Tmpfs) {
            QFile filler(filePath(QStringLiteral(".filler")));
            if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
                return false;
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size()) {
            }
            // The last partial block.
            while (filler.write(block.constData(), 1) == 1) {
            }
            return true;
        }
        if (m_kind == FileSizeLimit) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit r;
            if (getrlimit(RLIMIT_FSIZE, &r) != 0)
                return false;
            m_savedLimit = r;
            m_limited = true;
            r.rlim_cur = rlim_t(limitBytes);
            return setrlimit(RLIMIT_FSIZE, &r) == 0;
        }
        return false;
    }

    // Space again: the filler goes, or the old file size limit is back.
    void release()
    {
        QFile::remove(filePath(QStringLiteral(".filler")));
        if (m_limited) {
            setrlimit(RLIMIT_FSIZE, &m_savedLimit);
            m_limited = false;
        }
    }

    ~FullDisk()
    {
        release();
        if (m_kind == Tmpfs)
            umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }

private:
    bool mountTmpfs()
    {
        static int s_namespace = -1; // -1 not tried, 0 failed, 1 made
        if (s_namespace < 0) {
            // A mount namespace of this process, whose mounts never reach
            // the machine's.
            s_namespace = unshare(CLONE_NEWNS) == 0
                                  && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                              ? 1
                              : 0;
        }
        if (s_namespace != 1) {
            errno = EPERM;
            return false;
        }
        return mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                     "size=400k,mode=0700")
               == 0;
    }

    QTemporaryDir m_dir;
    QString m_path;
    Kind m_kind = None;
    rlimit m_savedLimit{};
    bool m_limited = false;
};

#endif
