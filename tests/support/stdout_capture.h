#ifndef STDOUT_CAPTURE_H
#define STDOUT_CAPTURE_H

// Collects what is printed to standard output while an object of this class
// lives (firmware and driver diagnostics go through printf; the firmware
// thread's too, as the capture is of the process's standard output).
//
// Qt Test reports a failing check on standard output as well, so while a
// capture runs the report lands in it. When the test has failed by the time
// the capture ends, everything captured is printed after all, the report
// with it: a failure is never swallowed.

#include <QByteArray>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

class StdoutCapture
{
public:
    StdoutCapture()
    {
        fflush(stdout);
        m_file.open();
        m_saved = dup(fileno(stdout));
        dup2(m_file.handle(), fileno(stdout));
    }
    ~StdoutCapture() { restore(); }

    // Stops capturing and returns everything printed.
    QByteArray text()
    {
        restore();
        return m_text;
    }

    // What was printed so far; capturing goes on.
    QByteArray peek()
    {
        if (m_saved < 0)
            return m_text;
        fflush(stdout);
        return readFile();
    }

private:
    QByteArray readFile()
    {
        m_file.seek(0);
        return m_file.readAll();
    }

    void restore()
    {
        if (m_saved < 0)
            return;
        fflush(stdout);
        dup2(m_saved, fileno(stdout));
        close(m_saved);
        m_saved = -1;
        m_text = readFile();
        if (QTest::currentTestFailed()) {
            fwrite(m_text.constData(), 1, size_t(m_text.size()), stdout);
            fflush(stdout);
        }
    }

    QTemporaryFile m_file;
    QByteArray m_text;
    int m_saved = -1;
};

#endif
