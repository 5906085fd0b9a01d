#ifndef STDOUT_CAPTURE_H
#define STDOUT_CAPTURE_H

// Collects what is printed to standard output while an
// object of this class lives (firmware and driver diagnostics go through printf).

#include <QByteArray>
#include <QTemporaryFile>

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
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        fflush(stdout);
        dup2(m_saved, fileno(stdout));
        close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

#endif
