#include "record_file.h"

#include "bd_text.h"

#include <QFile>

void parseRecordText(const QByteArray &text, RecordFile *out)
{
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        if (!line.startsWith("bd ")) {
            ++out->otherLines;
            continue;
        }
        QByteArray record, why;
        if (buttondriver::recordFromDescription(line.mid(3), &record, &why))
            out->records.push_back(record);
        else
            out->errors << QStringLiteral("line %1: %2").arg(i + 1).arg(QString::fromUtf8(why));
    }
}

bool readRecordFile(const QString &path, RecordFile *out, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return false;
    }
    parseRecordText(f.readAll(), out);
    return true;
}
