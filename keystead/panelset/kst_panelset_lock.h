#ifndef KST_PANELSET_LOCK_H
#define KST_PANELSET_LOCK_H

// One host at a time on a base directory: Keystead on a desk and panelrun
// running the same panel set as a service would start the same panels on
// the same addresses and overwrite each other's cfg.xml. Each holds the
// lock file "panelset.lock" in the base directory for as long as it runs.
// The file names its holder (program name, process id); a lock left behind
// by a process that has died is taken over.

#include <QString>

#include <memory>

class QLockFile;

class KST_PanelSetLock
{
public:
    explicit KST_PanelSetLock(const QString &baseDir);
    ~KST_PanelSetLock();
    KST_PanelSetLock(const KST_PanelSetLock &) = delete;
    KST_PanelSetLock &operator=(const KST_PanelSetLock &) = delete;

    enum Result {
        Acquired,    // this process holds the lock
        HeldByOther, // another running process holds it: holder() says which
        Unavailable  // the lock file cannot be made (*error says why)
    };
    Result acquire(QString *error = nullptr);
    QString path() const { return m_path; }
    QString baseDir() const { return m_baseDir; }
    // The holder as "keystead (process 1234)" after HeldByOther.
    QString holder() const { return m_holder; }
    // "The panel set in DIR is in use by panelrun (process 1234)."
    QString inUseText() const;

private:
    QString m_baseDir;
    QString m_path;
    QString m_holder;
    std::unique_ptr<QLockFile> m_lock;
};

#endif
