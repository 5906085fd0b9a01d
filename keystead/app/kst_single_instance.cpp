#include "kst_single_instance.h"

#include <QDir>
#include <QLockFile>

KST_SingleInstance::KST_SingleInstance(const QString &dir)
    : m_path((dir.isEmpty() ? QDir::tempPath() : dir) + QStringLiteral("/keystead.lock"))
{
}

KST_SingleInstance::~KST_SingleInstance() = default;

KST_SingleInstance::Result KST_SingleInstance::acquire(QString *error)
{
    if (m_lock && m_lock->isLocked())
        return Acquired;
    m_lock = std::make_unique<QLockFile>(m_path);
    // Staleness by age would hand a long-running instance's lock to the
    // next one; only a holder that no longer runs gives it up.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Acquired;
    const QLockFile::LockError why = m_lock->error();
    m_lock.reset();
    if (why == QLockFile::LockFailedError)
        return HeldByOther;
    if (error) {
        *error = why == QLockFile::PermissionError
                     ? QStringLiteral("cannot create %1: permission denied").arg(m_path)
                     : QStringLiteral("cannot create %1").arg(m_path);
    }
    return Unavailable;
}
