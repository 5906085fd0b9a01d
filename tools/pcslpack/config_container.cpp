#include "config_container.h"

#include "crc16.h"
#include "echain.h"

#include <memory>

namespace pcslpack {

QByteArray headerLine()
{
    return QByteArray(43, '#') + '\n';
}

QByteArray makeContainer(const QByteArray &payload)
{
    const quint32 len = quint32(payload.size() + HeaderSize);
    QByteArray file("CONFIG");
    file.append(char(len >> 24)).append(char(len >> 16)).append(char(len >> 8)).append(char(len));
    file.append(payload);
    return file;
}

bool readContainer(const QByteArray &file, QByteArray *payload, qint64 *trailing, QString *error)
{
    if (file.size() < HeaderSize || !file.startsWith("CONFIG")) {
        *error = QStringLiteral("incorrect config header (the file does not start with \"CONFIG\" and a length)");
        return false;
    }
    const uchar *p = reinterpret_cast<const uchar *>(file.constData()) + 6;
    const quint32 len = (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
    if (len < 1 || len > MaxFileSize) {
        *error = QStringLiteral("config file too big (%1): the length field must be 10 to %2")
                     .arg(qint64(len)).arg(int(MaxFileSize));
        return false;
    }
    if (len < quint32(HeaderSize)) {
        *error = QStringLiteral("length field %1 is shorter than the 10-byte header").arg(len);
        return false;
    }
    if (len > quint32(file.size())) {
        *error = QStringLiteral("file is truncated: the length field says %1 bytes, the file has %2")
                     .arg(len).arg(file.size());
        return false;
    }
    *payload = file.mid(HeaderSize, int(len) - HeaderSize);
    *trailing = file.size() - qint64(len);
    return true;
}

bool decompress(const QByteArray &payload, QByteArray *text, QString *error)
{
    // The chain owns 192 KiB of buffers: too much for the stack.
    auto chain = std::make_unique<EDecodeChain>();
    chain->open(payload.constData(), size_t(payload.size()));
    text->clear();
    char buf[65536];
    for (;;) {
        size_t n = chain->stream()->sgetn(buf, sizeof buf);
        if (n == 0)
            break;
        if (text->size() + qint64(n) > MaxTextSize) {
            *error = QStringLiteral("the compressed text inflates to more than %1 bytes").arg(int(MaxTextSize));
            return false;
        }
        text->append(buf, int(n));
    }
    const bool damaged = chain->failed();
    chain->close();
    if (damaged) {
        *error = QStringLiteral("the compressed payload is damaged (decoding stopped after %1 bytes)")
                     .arg(text->size());
        return false;
    }
    return true;
}

bool decodePayload(const QByteArray &payload, PayloadKind *kind, QByteArray *text, QString *error)
{
    if (payload.startsWith("#####")) {
        *kind = PayloadKind::PlainPcsl;
        *text = payload;
        return true;
    }
    QByteArray inflated;
    QString why;
    if (decompress(payload, &inflated, &why) && inflated.startsWith("#####")) {
        *kind = PayloadKind::CompressedPcsl;
        *text = inflated;
        return true;
    }
    // What a panel does not read as compressed PCSL it takes as a binary
    // configuration; that is no error of the container.
    *kind = PayloadKind::Binary;
    text->clear();
    *error = why;
    return true;
}

bool compressText(const QByteArray &text, QByteArray *payload, QString *error)
{
    auto chain = std::make_unique<EEncodeChain>();
    // Adaptive coding of hostile input can in theory double it, and short
    // LZ77 records add some more: this is room for any text.
    QByteArray out(text.size() * 3 + 1024, '\0');
    const long n = chain->compress(text.constData(), size_t(text.size()), out.data(), size_t(out.size()));
    if (n < 0) {
        *error = QStringLiteral("compression failed");
        return false;
    }
    out.truncate(int(n));
    QByteArray back;
    QString why;
    if (!decompress(out, &back, &why) || back != text) {
        *error = QStringLiteral("compressed data did not read back as the text (%1)").arg(why);
        return false;
    }
    *payload = out;
    return true;
}

quint16 checksum(const QByteArray &payload)
{
    return crc16_xmodem(reinterpret_cast<const uint8_t *>(payload.constData()), size_t(payload.size()));
}

const char *kindName(PayloadKind kind)
{
    switch (kind) {
    case PayloadKind::PlainPcsl: return "plain PCSL";
    case PayloadKind::CompressedPcsl: return "compressed PCSL";
    case PayloadKind::Binary: return "binary configuration";
    }
    return "?";
}

} // namespace pcslpack
