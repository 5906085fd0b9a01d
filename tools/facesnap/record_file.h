#ifndef FACESNAP_RECORD_FILE_H
#define FACESNAP_RECORD_FILE_H

// Button-driver records from a text file: one "bd <record>" line each, as
// panelrun prints them on standard error. Other lines of panelrun's output
// (state, firmmsg, log), blank lines and "#" comments are passed over, so a
// captured panelrun run can be used as it is.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

struct RecordFile
{
    std::vector<QByteArray> records;
    QStringList errors; // "line N: reason", one per rejected "bd" line
    int otherLines = 0;
};

// False (with the reason in error) only when the file cannot be read.
bool readRecordFile(const QString &path, RecordFile *out, QString *error);
// The same from text already in memory.
void parseRecordText(const QByteArray &text, RecordFile *out);

#endif
