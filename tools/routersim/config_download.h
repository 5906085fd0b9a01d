#ifndef CONFIG_DOWNLOAD_H
#define CONFIG_DOWNLOAD_H

#include <QByteArray>
#include <QList>
#include <QString>

// A configuration as the router sends it to a panel: the "B" blocks of one
// download. Each block's data is 0, the kind (16 bits, big-endian), two
// unused bytes, the block control byte (bit 7 first, bit 6 last, bits 0..5
// the block number, wrapping after 63) and up to blockSize bytes.
struct ConfigDownload {
    enum { File = 1, Image = 2, ImageHeader = 12, MaxBlock = 506, DefaultBlock = 256 };

    int kind = File;
    QByteArray content;        // what the blocks carry, in order
    QString description;       // what the content is, for the log
    QList<QByteArray> blocks;  // "B" data of each block

    // Builds the download of a file.
    //   kind 1: the payload of a configuration file ("CONFIG" container),
    //           or the file as it is when it is no container;
    //   kind 2: the file as it is when it already is an image (the length
    //           at offset 2 is its size), else an image around the payload:
    //           flag "text" for PCSL, "text" and "compressed" for compressed
    //           PCSL, no flag for a binary configuration.
    // blockSize: 1 to 506 (a block must fit the panel's 512-byte message).
    static bool build(const QByteArray &file, int kind, int blockSize, ConfigDownload *out, QString *error);
    // The same for the file at path.
    static bool load(const QString &path, int kind, int blockSize, ConfigDownload *out, QString *error);

    // The control byte of block i of n.
    static quint8 control(int i, int n);
};

#endif
