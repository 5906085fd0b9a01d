#include "kst_panelset_lock.h"

#include <QDir>
#include <QLockFile>

KST_PanelSetLock::KST_PanelSetLock(const QString &baseDir)
    : m_baseDir(QDir(baseDir).absolutePath()),
      m_path(QDir(baseDir).absoluteFilePath(QStringLiteral("panelset.lock")))
{
}

KST_PanelSetLock::~KST_PanelSetLock() = default;

KST_PanelSetLock::Result KST_PanelSetLock::acquire(QString *error)
{
    if (m_lock && m_lock->isLocked())
        return Acquired;
    m_holder.clear();
    m_lock = std::make_unique<QLockFile>(m_path);
    // A host runs for months: only a holder that no longer runs gives the
    // lock up, never its age.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Acquired;
    const QLockFile::LockError why = m_lock->error();
    if (why == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, app;
        if (m_lock->getLockInfo(&pid, &host, &app))
            m_holder = QStringLiteral("%1 (process %2)")
                           .arg(app.isEmpty() ? QStringLiteral("another program") : app)
                           .arg(pid);
        else
            m_holder = QStringLiteral("another program");
        m_lock.reset();
        return HeldByOther;
    }
    m_lock.reset();
    if (error) {
        *error = why == QLockFile::PermissionError
                     ? QStringLiteral("cannot create %1: permission denied").arg(m_path)
                     : QStringLiteral("cannot create %1").arg(m_path);
    }
    return Unavailable;
}

QString KST_PanelSetLock::inUseText() const
{
    return QStringLiteral("The panel set in %1 is in use by %2.").arg(m_baseDir, m_holder);
}
