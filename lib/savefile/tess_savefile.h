#ifndef TESS_SAVEFILE_H
#define TESS_SAVEFILE_H

// Replacing a file whole, or not at all.
//
// QSaveFile writes a temporary file beside the target and renames it over
// the target at commit(). Its write buffer is only flushed inside commit(),
// and the Qt in use renames even when that last flush failed: on a full
// disk a small file (anything that fits the buffer) is replaced by an empty
// or cut one and commit() reports success. commitSaveFile() closes that
// gap: it flushes and syncs the temporary file itself and renames only when
// every byte reached the disk; otherwise the temporary file goes and the
// old file stays as it was.

#include <QByteArray>
#include <QString>

class QSaveFile;

namespace tess {

struct SaveError
{
    QString text;         // what failed, for the log or the user
    bool noSpace = false; // the file system (or a quota, or a file size limit) is full
    bool notOpened = false; // the temporary file could not even be made
};

// Finishes a QSaveFile opened for writing: flush, sync, commit. On any
// failure (an earlier write included) the writing is cancelled, the target
// keeps its old content, and *error says why. Returns true when the new
// content is in place and on disk.
bool commitSaveFile(QSaveFile &file, SaveError *error = nullptr);

// Writes data to path through a QSaveFile and commitSaveFile().
bool writeFileAtomically(const QString &path, const QByteArray &data, SaveError *error = nullptr);

// Syncs the directory that holds path, so that a rename into it survives a
// power cut. False when the directory cannot be opened or synced.
bool syncParentDirectory(const QString &path);

} // namespace tess

#endif
