#ifndef KST_TRACEFOLLOWER_H
#define KST_TRACEFOLLOWER_H

// Following a panel's protocol trace as its firmware writes it.
//
// The firmware traces its router link while the marker file "TRACE" is in
// the panel's directory and appends one line per datagram to "trace.txt"
// there; at 10 MiB it renames the file to "trace.txt.1" and starts a new
// one. KST_TraceMarker switches the trace on and off for the readers of one
// process, KST_TraceFollower hands every whole line added to the file to a
// callback, across the rotation.

#include <QByteArray>
#include <QString>

#include <functional>
#include <sys/types.h>

// The marker of a panel directory, shared by every reader in this process:
// the first acquire creates it (unless it is there already), the last
// release removes it again if an acquire created it. A marker someone else
// put there is left alone. GUI thread only.
class KST_TraceMarker
{
public:
    // False (and nothing counted) when the marker cannot be created.
    static bool acquire(const QString &panelDir, QString *error);
    static void release(const QString &panelDir);
    // How many acquires of that directory are not released yet.
    static int holders(const QString &panelDir);
    static QString markerPath(const QString &panelDir);
    // The key the count is kept under: the directory's absolute clean path.
    static QString key(const QString &panelDir);
};

class KST_TraceFollower
{
public:
    using LineFn = std::function<void(const QByteArray &line)>;
    // A line longer than this without its end is handed over cut there.
    enum { MaxLine = 1 << 20 };

    KST_TraceFollower(const QString &panelDir, LineFn onLine);
    ~KST_TraceFollower();
    KST_TraceFollower(const KST_TraceFollower &) = delete;
    KST_TraceFollower &operator=(const KST_TraceFollower &) = delete;

    // Follows from where the file ends now: what an earlier run left in it
    // is skipped.
    void startAtEnd();
    // Hands over the last maxLines whole lines the trace holds now (the end
    // of "trace.txt.1" first when "trace.txt" has fewer), reading only the
    // end of each file, and follows from there.
    void startWithTail(int maxLines);
    // Reads what was added since the last call.
    void poll();

    QString filePath() const { return QString::fromLocal8Bit(m_path); }

private:
    bool openFile(bool atEnd);
    void readAll();
    void closeFile();

    QByteArray m_path; // trace.txt
    LineFn m_onLine;
    int m_fd = -1;
    ino_t m_inode = 0;
    QByteArray m_partial; // a line not yet ended
};

#endif
