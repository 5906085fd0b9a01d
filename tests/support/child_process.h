#ifndef CHILD_PROCESS_H
#define CHILD_PROCESS_H

// A helper program run by a test: started with fork and exec (which the
// thread sanitizer follows, unlike QProcess's own way of starting children),
// its standard output and error read from one pipe, its standard input a
// pipe the test writes to. Waiting keeps the test's event loop running, so
// panels in the test process go on working meanwhile.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            if (!waitForExit(5000)) {
                ::kill(m_pid, SIGKILL);
                waitForExit(5000);
            }
        }
        closeFd(m_out);
        closeFd(m_in);
    }

    bool start(const QString &program, const QStringList &args)
    {
        std::vector<QByteArray> argBytes;
        argBytes.push_back(program.toLocal8Bit());
        for (const QString &a : args)
            argBytes.push_back(a.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &a : argBytes)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return false;
        if (::pipe2(in, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return false;
        }
        const pid_t pid = ::fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(in[0]);
        m_out = out[0];
        m_in = in[1];
        ::fcntl(m_out, F_SETFL, ::fcntl(m_out, F_GETFL) | O_NONBLOCK);
        m_pid = pid;
        return true;
    }

    void write(const QByteArray &data)
    {
        if (m_in >= 0)
            (void)!::write(m_in, data.constData(), size_t(data.size()));
    }

    // Everything the program printed so far.
    const QByteArray &output()
    {
        readAvailable();
        return m_output;
    }

    bool waitForOutput(const QByteArray &text, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!output().contains(text) && t.elapsed() < timeoutMs && running())
            QTest::qWait(10);
        return output().contains(text);
    }

    bool waitForExit(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (m_pid > 0) {
            int status = 0;
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid || (r < 0 && errno != EINTR)) {
                m_pid = -1;
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (t.elapsed() >= timeoutMs)
                return false;
            readAvailable();
            QTest::qWait(10);
        }
        readAvailable();
        return true;
    }

    bool running() const { return m_pid > 0; }
    // Sends a signal to the program (while it runs).
    void signal(int sig)
    {
        if (m_pid > 0)
            ::kill(m_pid, sig);
    }
    // Exit status after waitForExit; -1 when killed by a signal.
    int exitCode() const { return m_exitCode; }

private:
    void readAvailable()
    {
        if (m_out < 0)
            return;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_out, buf, sizeof buf);
            if (n > 0) {
                m_output.append(buf, n);
                continue;
            }
            if (n == 0) {
                closeFd(m_out);
            }
            return;
        }
    }

    static void closeFd(int &fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    int m_exitCode = -1;
    QByteArray m_output;
};

#endif
