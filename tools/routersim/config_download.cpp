#include "config_download.h"

#include "config_container.h"

#include <QFile>

namespace {

quint32 be32(const QByteArray &b, int at)
{
    const uchar *p = reinterpret_cast<const uchar *>(b.constData()) + at;
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}

// A configuration file's payload, or the file itself when it is no
// container.
bool payloadOf(const QByteArray &file, QByteArray *payload, QString *error)
{
    if (!file.startsWith("CONFIG")) {
        *payload = file;
        return true;
    }
    qint64 trailing = 0;
    return pcslpack::readContainer(file, payload, &trailing, error);
}

bool isImage(const QByteArray &file)
{
    return file.size() >= ConfigDownload::ImageHeader && be32(file, 2) == quint32(file.size());
}

} // namespace

quint8 ConfigDownload::control(int i, int n)
{
    quint8 c = quint8(i & 0x3F);
    if (i == 0)
        c |= 0x80;
    if (i == n - 1)
        c |= 0x40;
    return c;
}

bool ConfigDownload::build(const QByteArray &file, int kind, int blockSize, ConfigDownload *out, QString *error)
{
    if (kind != File && kind != Image) {
        *error = QStringLiteral("kind must be 1 (file) or 2 (image)");
        return false;
    }
    if (blockSize < 1 || blockSize > MaxBlock) {
        *error = QStringLiteral("block size must be 1 to %1").arg(int(MaxBlock));
        return false;
    }
    out->kind = kind;
    if (kind == Image && isImage(file)) {
        out->content = file;
        out->description = QStringLiteral("image");
    } else {
        QByteArray payload;
        if (!payloadOf(file, &payload, error))
            return false;
        if (kind == File) {
            out->content = payload;
            out->description = QStringLiteral("configuration file");
        } else {
            pcslpack::PayloadKind what = pcslpack::PayloadKind::Binary;
            QByteArray text;
            QString why;
            pcslpack::decodePayload(payload, &what, &text, &why);
            const quint8 flags = what == pcslpack::PayloadKind::PlainPcsl        ? 0x02
                                 : what == pcslpack::PayloadKind::CompressedPcsl ? 0x06
                                                                                 : 0x00;
            const quint32 total = quint32(payload.size() + ImageHeader);
            QByteArray header(ImageHeader, '\0');
            header[2] = char(total >> 24);
            header[3] = char(total >> 16);
            header[4] = char(total >> 8);
            header[5] = char(total);
            header[10] = char(flags);
            out->content = header + payload;
            out->description = QStringLiteral("image of %1").arg(QString::fromLatin1(pcslpack::kindName(what)));
        }
    }
    if (out->content.isEmpty()) {
        *error = QStringLiteral("nothing to send");
        return false;
    }
    out->blocks.clear();
    const int n = int((out->content.size() + blockSize - 1) / blockSize);
    for (int i = 0; i < n; ++i) {
        QByteArray b;
        b.append('\0').append(char(kind >> 8)).append(char(kind)).append('\0').append('\0');
        b.append(char(control(i, n)));
        b.append(out->content.mid(qsizetype(i) * blockSize, blockSize));
        out->blocks.append(b);
    }
    return true;
}

bool ConfigDownload::load(const QString &path, int kind, int blockSize, ConfigDownload *out, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    return build(f.readAll(), kind, blockSize, out, error);
}
