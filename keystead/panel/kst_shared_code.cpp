#include "kst_shared_code.h"

#include <QFile>
#include <QtDebug>

#include <map>
#include <mutex>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// A page range of the copy to map from the original.
struct Segment
{
    uintptr_t address; // page aligned, in the copy's mapping
    size_t length;     // whole pages
    off_t fileOffset;  // page aligned
    int prot;
};

struct Search
{
    const char *path;
    dev_t dev = 0;
    ino_t ino = 0;
    bool byFile = false; // compare files, not names
    bool found = false;
    uintptr_t base = 0;
    std::vector<ElfW(Phdr)> phdrs;
};

bool sameFile(const char *name, const Search &s)
{
    struct stat st;
    return name && name[0] && ::stat(name, &st) == 0 && st.st_dev == s.dev && st.st_ino == s.ino;
}

int findLoaded(struct dl_phdr_info *info, size_t, void *data)
{
    auto *s = static_cast<Search *>(data);
    const bool match = s->byFile ? sameFile(info->dlpi_name, *s)
                                 : info->dlpi_name && std::strcmp(info->dlpi_name, s->path) == 0;
    if (!match)
        return 0;
    s->found = true;
    s->base = info->dlpi_addr;
    s->phdrs.assign(info->dlpi_phdr, info->dlpi_phdr + info->dlpi_phnum);
    return 1;
}

// The read-only loaded segments, without any page a writable segment
// shares (that page stays the copy's).
std::vector<Segment> readOnlySegments(const Search &s, uintptr_t page)
{
    const uintptr_t mask = ~(page - 1);
    std::vector<std::pair<uintptr_t, uintptr_t>> writable;
    for (const ElfW(Phdr) &p : s.phdrs)
        if (p.p_type == PT_LOAD && (p.p_flags & PF_W))
            writable.push_back({p.p_vaddr & mask, (p.p_vaddr + p.p_memsz + page - 1) & mask});

    std::vector<Segment> out;
    for (const ElfW(Phdr) &p : s.phdrs) {
        if (p.p_type != PT_LOAD || (p.p_flags & PF_W) || p.p_filesz != p.p_memsz
            || (p.p_offset % page) != (p.p_vaddr % page))
            continue;
        uintptr_t from = p.p_vaddr & mask;
        uintptr_t to = (p.p_vaddr + p.p_filesz + page - 1) & mask;
        for (const auto &w : writable) {
            if (w.first >= to || from >= w.second)
                continue;
            if (w.first <= from)
                from = std::min(to, w.second);
            else
                to = w.first;
        }
        if (from >= to)
            continue;
        Segment seg;
        seg.address = s.base + from;
        seg.length = to - from;
        seg.fileOffset = off_t((p.p_offset & mask) + (from - (p.p_vaddr & mask)));
        seg.prot = ((p.p_flags & PF_R) ? PROT_READ : 0) | ((p.p_flags & PF_X) ? PROT_EXEC : 0);
        out.push_back(seg);
    }
    return out;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The code the copies share is not the library file itself, which anyone
// could overwrite in place under the running panels, but a sealed image of
// it in memory that nobody can change. One image per library file as it
// was when last read; a library replaced since gets a new image (panels
// already running keep the old one mapped).
struct CodeImage
{
    int id = 0;
    int refs = 0; // copies loaded on it
    int fd = -1;
    QByteArray path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {};
};

std::mutex s_imagesLock;
std::vector<CodeImage> s_images;
int s_lastImageId = 0;

bool sameVersion(const CodeImage &i, const struct stat &st)
{
    return i.dev == st.st_dev && i.ino == st.st_ino && i.size == st.st_size
           && i.mtime.tv_sec == st.st_mtim.tv_sec && i.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

// The image of the library at path as it is now (in s_images, valid
// while s_imagesLock is held), null with the reason in *why.
CodeImage *codeImage(const QByteArray &path, QString *why)
{
    const int in = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *why = QStringLiteral("cannot open %1: %2").arg(QFile::decodeName(path), errnoText());
        return nullptr;
    }
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("cannot read %1").arg(QFile::decodeName(path));
        ::close(in);
        return nullptr;
    }
    for (CodeImage &known : s_images) {
        if (known.path == path && sameVersion(known, st)) {
            ::close(in);
            return &known;
        }
    }
    const int image = ::memfd_create("tessfw-code", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (image < 0) {
        *why = QStringLiteral("no memory file for the code: %1").arg(errnoText());
        ::close(in);
        return nullptr;
    }
    off_t copied = 0;
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(image, buf.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            done += w;
        }
        if (done < n)
            break;
        copied += n;
    }
    ::close(in);
    if (copied != st.st_size
        || ::fcntl(image, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        *why = QStringLiteral("cannot make the code image of %1").arg(QFile::decodeName(path));
        ::close(image);
        return nullptr;
    }
    CodeImage made;
    made.id = ++s_lastImageId;
    made.fd = image;
    made.path = path;
    made.dev = st.st_dev;
    made.ino = st.st_ino;
    made.size = st.st_size;
    made.mtime = st.st_mtim;
    s_images.push_back(made);
    return &s_images.back();
}

// Maps the segments of the copy (name copy) onto the image fd of the
// library original, after checking that every page holds the same bytes.
bool mapOnto(const std::vector<Segment> &segments, int fd, uintptr_t page, const QString &copy,
             const QString &original, QString *why)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *why = QStringLiteral("cannot read the code image of %1: %2").arg(original, errnoText());
        return false;
    }
    const int copyFd = ::open(QFile::encodeName(copy).constData(), O_RDONLY | O_CLOEXEC);
    std::vector<char> buf;
    struct CloseCopy
    {
        int fd;
        ~CloseCopy()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } closeCopy{copyFd};
    // Every page to be replaced must hold the original's bytes, and the
    // image must map as the copy did (a system that refuses executable
    // memory files refuses here, before anything is replaced).
    for (const Segment &seg : segments) {
        if (seg.fileOffset < 0 || seg.fileOffset + off_t(seg.length) > st.st_size + off_t(page)) {
            *why = QStringLiteral("%1 is shorter than %2").arg(original, copy);
            return false;
        }
        void *probe = mmap(nullptr, seg.length, seg.prot, MAP_PRIVATE, fd, seg.fileOffset);
        if (probe == MAP_FAILED) {
            *why = QStringLiteral("cannot map the code of %1: %2").arg(original, errnoText());
            return false;
        }
        // The copy's pages are its file's (nothing writes to read-only
        // segments), read from the file rather than from memory a
        // sanitizer may watch. Past the end of the file a page reads as
        // zeros in both.
        const size_t inFile = size_t(std::min<off_t>(off_t(seg.length), st.st_size - seg.fileOffset));
        buf.resize(inFile);
        const bool same = copyFd >= 0
                          && ::pread(copyFd, buf.data(), inFile, seg.fileOffset) == ssize_t(inFile)
                          && std::memcmp(probe, buf.data(), inFile) == 0;
        munmap(probe, seg.length);
        if (!same) {
            *why = QStringLiteral("%1 differs from %2").arg(copy, original);
            return false;
        }
    }
    for (const Segment &seg : segments) {
        void *at = mmap(reinterpret_cast<void *>(seg.address), seg.length, seg.prot,
                        MAP_PRIVATE | MAP_FIXED, fd, seg.fileOffset);
        if (at == MAP_FAILED) {
            // The probe above mapped the same range of the same file, so
            // only the kernel running out of memory gets here, and the
            // range may already be gone: no code is left to run there.
            qFatal("cannot map the code of %s onto %s: %s", qPrintable(original),
                   qPrintable(copy), qPrintable(errnoText()));
        }
    }
    return true;
}

} // namespace

bool kst_shared_code_enabled()
{
    static const bool enabled = qEnvironmentVariable("TESSALINE_SHARED_CODE") != QLatin1String("0");
    return enabled;
}

int kst_share_code_pages(const QString &copyPath, const QString &originalPath, QString *why)
{
    const QByteArray copy = QFile::encodeName(copyPath);
    Search search;
    search.path = copy.constData();
    dl_iterate_phdr(findLoaded, &search);
    if (!search.found) {
        // The loader may have been given another name for the same file.
    struct stat st;
        if (::stat(copy.constData(), &st) == 0) {
            search.byFile = true;
            search.dev = st.st_dev;
            search.ino = st.st_ino;
            dl_iterate_phdr(findLoaded, &search);
        }
    }
    if (!search.found) {
        *why = QStringLiteral("%1 is not loaded").arg(copyPath);
        return 0;
    }
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const std::vector<Segment> segments = readOnlySegments(search, page);
    if (segments.empty()) {
        *why = QStringLiteral("%1 has no read-only segment to share").arg(copyPath);
        return 0;
    }

    std::lock_guard<std::mutex> lock(s_imagesLock);
    CodeImage *image = codeImage(QFile::encodeName(originalPath), why);
    if (!image)
        return 0;
    if (mapOnto(segments, image->fd, page, copyPath, originalPath, why)) {
        ++image->refs;
        return image->id;
    }
    // An image no copy runs on is not kept.
    if (image->refs == 0) {
        ::close(image->fd);
        s_images.erase(s_images.begin() + (image - s_images.data()));
    }
    return 0;
}

void kst_release_code_image(int id)
{
    std::lock_guard<std::mutex> lock(s_imagesLock);
    for (auto it = s_images.begin(); it != s_images.end(); ++it) {
        if (it->id != id)
            continue;
        // The copies' mappings keep the memory; only the descriptor, kept
        // for copies still to come, goes.
        if (--it->refs <= 0) {
            ::close(it->fd);
            s_images.erase(it);
        }
        return;
    }
}
