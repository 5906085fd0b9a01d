#ifndef PCSL_FILE_H
#define PCSL_FILE_H

// A panel configuration file as the tests write them: "CONFIG", the
// big-endian length of the whole file, a line of 43 '#' characters and the
// PCSL text.

#include <QByteArray>

inline QByteArray pcslConfigFile(const QByteArray &text)
{
    const QByteArray payload = QByteArray(43, '#') + "\n" + text;
    const quint32 n = quint32(payload.size() + 10);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

#endif
