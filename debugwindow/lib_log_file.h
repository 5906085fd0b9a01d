#ifndef LIB_LOG_FILE_H
#define LIB_LOG_FILE_H

#include <QByteArray>
#include <QString>
#include <chrono>

// The log file: opened once and kept open, each line appended with one
// write, so logging costs no open and close per line. When a line would
// take the file past its limit, the file is renamed to "<name>.1"
// (replacing the one before) and a new one is begun, so the log never takes
// more than about twice the limit on disk.
//
// Not locked: the message handler serialises all use.
class LIB_LogFile
{
public:
    enum : qint64 { DefaultLimit = 10 * 1024 * 1024 };

    // A relative path is taken from the current directory when the file is
    // first opened, and kept from then on.
    explicit LIB_LogFile(const QString &path = QStringLiteral("log.txt"),
                         qint64 limit = DefaultLimit);
    ~LIB_LogFile();
    LIB_LogFile(const LIB_LogFile &) = delete;
    LIB_LogFile &operator=(const LIB_LogFile &) = delete;

    // Closes the current file; the next write opens the new one.
    void setPath(const QString &path);
    void setLimit(qint64 limit) { m_limit = limit; }

    // Appends the bytes (a whole line, with its line break). False when the
    // file cannot be opened or written; an open is retried at most once a
    // second, so a log directory that cannot be written costs nothing per
    // line.
    bool write(const QByteArray &line);
    void close();

    // The file written to: absolute once it was opened.
    QString path() const;
    // Bytes in the current file, as far as this object wrote or found them.
    qint64 size() const { return m_size; }

private:
    bool open();
    void rotate();

    QString m_path;
    QByteArray m_openPath; // absolute, in the file system's encoding
    qint64 m_limit;
    qint64 m_size = 0;
    int m_fd = -1;
    std::chrono::steady_clock::time_point m_nextOpen{};
};

#endif
