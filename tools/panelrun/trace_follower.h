#ifndef TRACE_FOLLOWER_H
#define TRACE_FOLLOWER_H

#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/types.h>

// Follows a panel's protocol trace as its firmware writes it: creates the
// marker file "TRACE" in the panel's directory (which switches the trace
// on within a quarter second) and hands every whole line the firmware adds
// to "trace.txt" there to a callback, across the file's rotation to
// "trace.txt.1". Lines the file held before start() are skipped.
class TraceFollower
{
public:
    using LineFn = std::function<void(const QByteArray &line)>;

    TraceFollower(const QString &panelDir, LineFn onLine);
    ~TraceFollower();

    // Creates the marker (unless it is there already) and remembers where
    // the file ends now. False when the marker cannot be created.
    bool start(QString *error);
    // Reads what was added since the last call.
    void poll();
    // Reads the rest and removes the marker if start() created it.
    void finish();

private:
    bool openFile(bool atEnd);
    void readAll();
    void closeFile();

    QString m_dir;
    QByteArray m_path;       // trace.txt
    QByteArray m_marker;     // TRACE
    LineFn m_onLine;
    int m_fd = -1;
    ino_t m_inode = 0;
    bool m_createdMarker = false;
    QByteArray m_partial;    // a line not yet ended
};

#endif
