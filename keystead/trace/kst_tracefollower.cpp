#include "kst_tracefollower.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct MarkerUse
{
    int holders = 0;
    bool created = false; // the first acquire made the file
};

QHash<QString, MarkerUse> &markerUses()
{
    static QHash<QString, MarkerUse> uses;
    return uses;
}

// The tail is read backwards in blocks of this size, and never more than
// TailBytes of a file: a 10 MiB trace is not read for a view of its end.
const off_t TailBlock = 64 * 1024;
const off_t TailBytes = 8 * 1024 * 1024;

ssize_t readFully(int fd, char *to, size_t n, off_t at)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, to + done, n - done, at + off_t(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return r < 0 ? -1 : ssize_t(done);
        done += size_t(r);
    }
    return ssize_t(done);
}

// The last maxLines whole lines of the first `end` bytes of the file, oldest
// first. *linesEnd: the offset just past the last of them, where following
// goes on (a line still being written after it is read then).
std::vector<QByteArray> tailLines(int fd, off_t end, int maxLines, off_t *linesEnd)
{
    std::vector<QByteArray> lines;
    *linesEnd = 0;
    if (maxLines <= 0 || end <= 0)
        return lines;
    QByteArray buf;
    off_t from = end;
    int newlines = 0;
    // One newline more than lines wanted marks where the first of them
    // starts, unless the file starts there.
    while (from > 0 && newlines <= maxLines && end - from < TailBytes) {
        const off_t n = qMin(TailBlock, from);
        from -= n;
        QByteArray block(qsizetype(n), '\0');
        const ssize_t r = readFully(fd, block.data(), size_t(n), from);
        if (r != ssize_t(n))
            return lines; // the file shrank under us: nothing sure to show
        newlines += int(block.count('\n'));
        buf.prepend(block);
    }
    const qsizetype last = buf.lastIndexOf('\n');
    if (last < 0) {
        *linesEnd = from; // no whole line in what was read
        return lines;
    }
    *linesEnd = from + off_t(last) + 1;
    qsizetype start = 0;
    if (from > 0)
        start = buf.indexOf('\n') + 1; // a line cut by where reading began
    std::vector<QByteArray> all;
    qsizetype eol;
    while (start <= last && (eol = buf.indexOf('\n', start)) >= 0) {
        all.push_back(buf.mid(start, eol - start));
        start = eol + 1;
    }
    const size_t keep = qMin(all.size(), size_t(maxLines));
    lines.assign(std::make_move_iterator(all.end() - ptrdiff_t(keep)),
                 std::make_move_iterator(all.end()));
    return lines;
}

off_t fileEnd(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_size : 0;
}

} // namespace

// ---- Marker -----------------------------------------------------------------

QString KST_TraceMarker::key(const QString &panelDir)
{
    return QDir::cleanPath(QFileInfo(panelDir).absoluteFilePath());
}

QString KST_TraceMarker::markerPath(const QString &panelDir)
{
    return QDir(panelDir).filePath(QStringLiteral("TRACE"));
}

bool KST_TraceMarker::acquire(const QString &panelDir, QString *error)
{
    MarkerUse &use = markerUses()[key(panelDir)];
    if (use.holders == 0) {
        const QByteArray path = QFile::encodeName(markerPath(panelDir));
        if (access(path.constData(), F_OK) != 0) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0) {
                if (error)
                    *error = QStringLiteral("cannot create %1: %2")
                                 .arg(QFile::decodeName(path), QString::fromLocal8Bit(strerror(errno)));
                markerUses().remove(key(panelDir));
                return false;
            }
            ::close(fd);
            use.created = true;
        } else {
            use.created = false;
        }
    }
    ++use.holders;
    return true;
}

void KST_TraceMarker::release(const QString &panelDir)
{
    auto it = markerUses().find(key(panelDir));
    if (it == markerUses().end() || it->holders <= 0) {
        qWarning("trace marker of %s released more often than taken (%s,%d)",
                 qPrintable(panelDir), __FILE__, __LINE__);
        return;
    }
    if (--it->holders > 0)
        return;
    if (it->created)
        unlink(QFile::encodeName(markerPath(panelDir)).constData());
    markerUses().erase(it);
}

int KST_TraceMarker::holders(const QString &panelDir)
{
    return markerUses().value(key(panelDir)).holders;
}

// ---- Follower ---------------------------------------------------------------

KST_TraceFollower::KST_TraceFollower(const QString &panelDir, LineFn onLine)
    : m_onLine(std::move(onLine))
{
    m_path = QFile::encodeName(QDir(panelDir).filePath(QStringLiteral("trace.txt")));
}

KST_TraceFollower::~KST_TraceFollower()
{
    closeFile();
}

void KST_TraceFollower::startAtEnd()
{
    closeFile();
    m_partial.clear();
    openFile(true);
}

void KST_TraceFollower::startWithTail(int maxLines)
{
    if (maxLines <= 0) {
        startAtEnd();
        return;
    }
    closeFile();
    m_partial.clear();
    std::vector<QByteArray> lines;
    off_t resumeAt = 0;
    if (openFile(false))
        lines = tailLines(m_fd, fileEnd(m_fd), maxLines, &resumeAt);
    if (int(lines.size()) < maxLines) {
        // Just rotated: the lines before are at the end of the older file.
        const int older = ::open((m_path + ".1").constData(), O_RDONLY | O_CLOEXEC);
        if (older >= 0) {
            off_t ignored;
            std::vector<QByteArray> before =
                tailLines(older, fileEnd(older), maxLines - int(lines.size()), &ignored);
            ::close(older);
            lines.insert(lines.begin(), std::make_move_iterator(before.begin()),
                         std::make_move_iterator(before.end()));
        }
    }
    for (const QByteArray &l : lines)
        m_onLine(l);
    if (m_fd >= 0)
        lseek(m_fd, resumeAt, SEEK_SET);
}

bool KST_TraceFollower::openFile(bool atEnd)
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

void KST_TraceFollower::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

// Hands over whole lines a block at a time, so that a reader far behind
// (a full file after a rotation) never holds more than a block and one line.
void KST_TraceFollower::readAll()
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
        qsizetype from = 0, eol;
        while ((eol = m_partial.indexOf('\n', from)) >= 0) {
            m_onLine(m_partial.mid(from, eol - from));
            from = eol + 1;
        }
        m_partial.remove(0, from);
        if (m_partial.size() > MaxLine) {
            m_onLine(m_partial.left(MaxLine));
            m_partial.remove(0, MaxLine);
        }
    }
}

void KST_TraceFollower::poll()
{
    if (m_fd < 0 && !openFile(false))
        return; // no trace written yet
    readAll();
    // The firmware renamed the full file to trace.txt.1 (it closed it
    // first, so everything it wrote there has been read above) and writes
    // a new one.
    struct stat st;
    if (stat(m_path.constData(), &st) != 0)
        return;
    if (st.st_ino != m_inode) {
        readAll();
        if (!m_partial.isEmpty()) // a last line without its end
            m_onLine(m_partial);
        m_partial.clear();
        closeFile();
        if (openFile(false))
            readAll();
    } else if (st.st_size < lseek(m_fd, 0, SEEK_CUR)) {
        // Cut short in place: what it holds now is new.
        lseek(m_fd, 0, SEEK_SET);
        m_partial.clear();
        readAll();
    }
}
