#ifndef RECORDING_CALLBACK_H
#define RECORDING_CALLBACK_H

#include "tfw_interface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <mutex>
#include <vector>

// A host callback that records what the firmware reports, from any thread.
class RecordingCallback : public TFW_IFirmwareCallback
{
public:
    void stateMsg(StateMsg msg) override
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_states.push_back(int(msg));
    }
    void firmMsg(const QString &text) override
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_texts.append(text);
    }
    void buttondriverMsg(const std::vector<QByteArray> &records) override
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_records.insert(m_records.end(), records.begin(), records.end());
    }

    std::vector<int> states() const
    {
        std::lock_guard<std::mutex> l(m_lock);
        return m_states;
    }
    QStringList texts() const
    {
        std::lock_guard<std::mutex> l(m_lock);
        return m_texts;
    }
    std::vector<QByteArray> records() const
    {
        std::lock_guard<std::mutex> l(m_lock);
        return m_records;
    }
    bool has(int state) const
    {
        const std::vector<int> s = states();
        return std::find(s.begin(), s.end(), state) != s.end();
    }
    // Runs the calling thread's event loop until the state was reported.
    bool waitFor(int state, int timeoutMs = 5000) const
    {
        QElapsedTimer t;
        t.start();
        while (!has(state)) {
            if (t.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
        }
        return true;
    }

    // Runs the calling thread's event loop until a text line starting with
    // prefix was reported.
    bool waitForText(const QString &prefix, int timeoutMs = 5000) const
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            for (const QString &s : texts())
                if (s.startsWith(prefix))
                    return true;
            if (t.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
        }
    }

private:
    mutable std::mutex m_lock;
    std::vector<int> m_states;
    QStringList m_texts;
    std::vector<QByteArray> m_records;
};

#endif
