#ifndef CONFIG_CONTAINER_H
#define CONFIG_CONTAINER_H

#include <QByteArray>
#include <QString>

// The panel configuration file: "CONFIG", a 4-byte big-endian total length
// (header included) and the payload: plain PCSL text (it begins with
// "#####"), compressed PCSL text, or a binary configuration.
namespace pcslpack {

enum : int {
    HeaderSize = 10,
    MaxFileSize = 131071,               // the largest file a panel loads
    MaxTextSize = 64 * 1024 * 1024,     // unpack refuses to inflate beyond this
};

enum class PayloadKind { PlainPcsl, CompressedPcsl, Binary };

// "#####...#" and a line feed: the comment line a panel looks for.
QByteArray headerLine();

// Wraps a payload in the container.
QByteArray makeContainer(const QByteArray &payload);

// Checks the container and returns its payload. A file longer than its
// length field says is accepted; *trailing then holds the extra bytes.
bool readContainer(const QByteArray &file, QByteArray *payload, qint64 *trailing, QString *error);

// Finds what the payload holds and, for PCSL, its text.
bool decodePayload(const QByteArray &payload, PayloadKind *kind, QByteArray *text, QString *error);

// Compresses a text the way a panel reads it back, and checks that it
// does read back.
bool compressText(const QByteArray &text, QByteArray *payload, QString *error);

// Runs a whole stream through the read-side chain.
bool decompress(const QByteArray &payload, QByteArray *text, QString *error);

quint16 checksum(const QByteArray &payload);

const char *kindName(PayloadKind kind);

} // namespace pcslpack

#endif
