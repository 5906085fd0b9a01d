#ifndef CONFIG_TEST_UTIL_H
#define CONFIG_TEST_UTIL_H

// Helpers of the configuration tests: PCSL texts into the store and the
// runtime tables, configuration files in memory, and the firmware's printf
// output captured.

#include "config/config_store.h"
#include "estreambuf.h"
#include "parser.h"
#include "config/sem_config.h"

#include <QByteArray>
#include <QTemporaryFile>
#include <cstdio>
#include <unistd.h>

// Parses a text into the store as it stands (no reset, no apply).
inline void parseText(const QByteArray &text)
{
    QByteArray copy = text;
    EMemBuf mem;
    mem.setbuf(copy.data(), size_t(copy.size()));
    mem.open("r");
    SemConfig sem;
    Parser parser;
    parser.attach(&mem, &sem);
    parser.parse(0, nullptr);
}

// A whole load of one text: defaults, parse, apply.
inline void loadText(const QByteArray &text)
{
    resetConfiguration();
    parseText(QByteArray(43, '#') + "\n" + text);
    applyConfiguration();
}

// "CONFIG", the big-endian length of the whole file, the payload.
inline QByteArray container(const QByteArray &payload, qint64 length = -1)
{
    const quint32 n = quint32(length < 0 ? payload.size() + 10 : length);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

// Collects what the firmware prints on standard output while it lives.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        file_.open();
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        dup2(file_.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    QByteArray text()
    {
        restore();
        file_.seek(0);
        return file_.readAll();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

#endif
