#ifndef EVENT_PRINTER_H
#define EVENT_PRINTER_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// panelrun's standard error: one whole line per event, each written with a
// single write so that lines from different threads never interleave.
namespace event_printer {

// Writes text plus a line feed to standard error in one write.
void writeLine(const QByteArray &line);

// Line feeds (and carriage returns) written as \n (\r), keeping a report on
// one line.
QByteArray escapeLineBreaks(const QString &text);

// "state 8 ST_RUNNING"; an unknown value prints as "state 42 UNKNOWN".
QByteArray stateLine(int value);
// "firmmsg <text>"
QByteArray firmMsgLine(const QString &text);
// "bd <record>": the record decoded into one line ("bd color 5 0 255 0"),
// "bd raw <hex bytes>" for anything unknown or malformed
QByteArray recordLine(const QByteArray &record);
// "log <debug|warning|critical|fatal> <text>"
QByteArray logLine(QtMsgType type, const QString &text);

// Routes every Qt log line of the process to standard error as a log line.
// Lines logged on a labelled thread start with its label and ": ".
void installMessageHandler();
// Labels a thread's log lines (a panel's firmware thread with its port).
// Callable from any thread.
void setThreadLabel(const void *thread, const QByteArray &label);
// Removes the label from whichever thread carries it.
void clearThreadLabel(const QByteArray &label);
// Drops debug lines (a rack of many panels keeps only warnings and worse).
void setDebugLines(bool on);
// "label: line"
QByteArray labelled(const QByteArray &label, const QByteArray &line);

} // namespace event_printer

#endif
