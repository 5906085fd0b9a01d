#include "lib_log_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LIB_LogFile::LIB_LogFile(const QString &path, qint64 limit) : m_path(path), m_limit(limit) {}

LIB_LogFile::~LIB_LogFile()
{
    close();
}

void LIB_LogFile::setPath(const QString &path)
{
    close();
    m_path = path;
    m_openPath.clear();
    m_nextOpen = {};
}

QString LIB_LogFile::path() const
{
    return m_openPath.isEmpty() ? m_path : QFile::decodeName(m_openPath);
}

void LIB_LogFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
}

bool LIB_LogFile::open()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextOpen)
        return false;
    if (m_openPath.isEmpty())
        m_openPath = QFile::encodeName(QDir::current().absoluteFilePath(m_path));
    m_fd = ::open(m_openPath.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_nextOpen = now + std::chrono::seconds(1);
        return false;
    }
    struct stat st;
    m_size = ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : 0;
    return true;
}

void LIB_LogFile::rotate()
{
    const QByteArray old = m_openPath + ".1";
    // rename replaces the older ".1" in one step. Should it fail, the lines
    // go on into the current file rather than being lost.
    if (::rename(m_openPath.constData(), old.constData()) != 0)
        return;
    close();
    open();
}

bool LIB_LogFile::write(const QByteArray &line)
{
    if (m_fd < 0 && !open())
        return false;
    if (m_size > 0 && m_size + line.size() > m_limit) {
        rotate();
        if (m_fd < 0)
            return false;
    }
    const char *p = line.constData();
    qint64 left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
        m_size += n;
    }
    return true;
}
