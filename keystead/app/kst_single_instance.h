#ifndef KST_SINGLE_INSTANCE_H
#define KST_SINGLE_INSTANCE_H

// One Keystead per machine (per user temporary directory): a lock file
// "keystead.lock" in QDir::tempPath() (TMPDIR), held for the life of the
// process. A lock left behind by a process that has died (a crash, a kill)
// is taken over; a running holder keeps it however long it runs.

#include <QString>

#include <memory>

class QLockFile;

class KST_SingleInstance
{
public:
    // The lock file in dir (empty: QDir::tempPath()).
    explicit KST_SingleInstance(const QString &dir = QString());
    ~KST_SingleInstance();
    KST_SingleInstance(const KST_SingleInstance &) = delete;
    KST_SingleInstance &operator=(const KST_SingleInstance &) = delete;

    enum Result {
        Acquired,    // this process holds the lock
        HeldByOther, // another running process holds it
        Unavailable  // the lock file cannot be made (*error says why)
    };
    Result acquire(QString *error = nullptr);
    QString path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

#endif
