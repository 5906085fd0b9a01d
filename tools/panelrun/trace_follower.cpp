#include "trace_follower.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TraceFollower::TraceFollower(const QString &panelDir, LineFn onLine)
    : m_dir(panelDir), m_onLine(std::move(onLine))
{
    m_path = QFile::encodeName(QDir(panelDir).filePath(QStringLiteral("trace.txt")));
    m_marker = QFile::encodeName(QDir(panelDir).filePath(QStringLiteral("TRACE")));
}

TraceFollower::~TraceFollower()
{
    closeFile();
}

bool TraceFollower::start(QString *error)
{
    if (access(m_marker.constData(), F_OK) != 0) {
        const int fd = ::open(m_marker.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = QStringLiteral("cannot create %1: %2")
                         .arg(QFile::decodeName(m_marker), QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        ::close(fd);
        m_createdMarker = true;
    }
    // What an earlier run left in the file is not this run's trace.
    openFile(true);
    return true;
}

bool TraceFollower::openFile(bool atEnd)
{
    m_fd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    struct stat st;
    m_inode = fstat(m_fd, &st) == 0 ? st.st_ino : 0;
    if (atEnd)
        lseek(m_fd, 0, SEEK_END);
    return true;
}

void TraceFollower::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void TraceFollower::readAll()
{
    if (m_fd < 0)
        return;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        m_partial.append(buf, qsizetype(n));
    }
    qsizetype from = 0, eol;
    while ((eol = m_partial.indexOf('\n', from)) >= 0) {
        m_onLine(m_partial.mid(from, eol - from));
        from = eol + 1;
    }
    m_partial.remove(0, from);
}

void TraceFollower::poll()
{
    if (m_fd < 0 && !openFile(false))
        return; // no trace written yet
    readAll();
    // The firmware renamed the full file to trace.txt.1 (it closed it
    // first, so everything it wrote there has been read above) and writes
    // a new one.
    struct stat st;
    if (stat(m_path.constData(), &st) == 0 && st.st_ino != m_inode) {
        readAll();
        closeFile();
        if (openFile(false))
            readAll();
    }
}

void TraceFollower::finish()
{
    poll();
    if (m_createdMarker)
        unlink(m_marker.constData());
    m_createdMarker = false;
}
