#include "kst_buzzer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QtDebug>

namespace {

// The default audio output, fed from the buzzer's buffer.
class AudioSinkOutput : public KST_BuzzerOutput
{
public:
    AudioSinkOutput(const QAudioDevice &device, const QAudioFormat &format)
        : m_sink(device, format)
    {
    }
    void start(QIODevice *samples) override { m_sink.start(samples); }
    void stop() override { m_sink.stop(); }

private:
    QAudioSink m_sink;
};

KST_Buzzer *s_instance = nullptr;

// The audio objects must go while the application (and with it the audio
// back end) still exists.
void destroyInstance()
{
    delete s_instance;
    s_instance = nullptr;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

KST_Buzzer *KST_Buzzer::instance()
{
    if (!s_instance && QCoreApplication::instance()) {
        s_instance = new KST_Buzzer();
        qAddPostRoutine(destroyInstance);
    }
    return s_instance;
}

KST_Buzzer::KST_Buzzer(const QString &resource, bool withAudio) : m_clock(monotonicMs)
{
    m_lastStart = m_clock();

    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical("could not load buzzer sound %s (%s,%d)", qPrintable(resource), __FILE__,
                  __LINE__);
        return;
    }
    const QByteArray all = file.readAll();
    if (all.size() <= HeaderSize) {
        // Nothing after the header: no sound to play (and no negative length).
        qCritical("could not load buzzer sound %s, %d bytes (%s,%d)", qPrintable(resource),
                  int(all.size()), __FILE__, __LINE__);
        return;
    }
    m_samples = all.mid(HeaderSize);
    m_buffer.setBuffer(&m_samples);
    m_buffer.open(QIODevice::ReadOnly);
    const int bytesPerSecond = SampleRate * SampleBits * Channels / 8;
    if (bytesPerSecond != 0)
        m_durationMs = int(qint64(m_samples.size()) * 1000 / bytesPerSecond);
    m_soundLoaded = true;

    if (!withAudio)
        return;
    QAudioFormat format;
    format.setSampleRate(SampleRate);
    format.setChannelCount(Channels);
    format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        qWarning("no audio output device, the panels have no buzzer");
        return;
    }
    if (!device.isFormatSupported(format)) {
        qWarning("audio output %s does not play %d Hz mono %d-bit sound, the panels have no "
                 "buzzer",
                 qPrintable(device.description()), int(SampleRate), int(SampleBits));
        return;
    }
    m_output = std::make_unique<AudioSinkOutput>(device, format);
}

KST_Buzzer::~KST_Buzzer()
{
    if (m_output)
        m_output->stop();
}

bool KST_Buzzer::beep()
{
    if (!exists())
        return false;
    const qint64 now = m_clock();
    if (now - m_lastStart <= m_durationMs)
        return false; // the last beep is still sounding
    m_output->stop();
    m_buffer.seek(0);
    m_output->start(&m_buffer);
    m_lastStart = now;
    ++m_starts;
    return true;
}

void KST_Buzzer::off()
{
    if (exists())
        m_output->stop();
}

void KST_Buzzer::setOutput(std::unique_ptr<KST_BuzzerOutput> output)
{
    if (m_output)
        m_output->stop();
    m_output = std::move(output);
}

void KST_Buzzer::setClock(std::function<qint64()> clock)
{
    m_clock = clock ? std::move(clock) : std::function<qint64()>(monotonicMs);
    m_lastStart = m_clock();
}
