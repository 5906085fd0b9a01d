#ifndef KST_BUZZER_H
#define KST_BUZZER_H

// The panels' buzzer: one short sound shared by every panel of the process,
// played when a panel's firmware sounds its error beep. A beep that comes
// while the sound still plays is dropped, so a burst of refused key presses
// sounds once, not as a stutter.
//
// The samples come from the built-in ":/sound_buzzer.wav" (22050 Hz, mono,
// 16-bit; the 44-byte RIFF header is skipped) and go to the default audio
// output. A machine without an audio output has no buzzer: one log line,
// and everything else works.
//
// GUI thread only.

#include <QBuffer>
#include <QByteArray>

#include <functional>
#include <memory>

class QIODevice;

// Where the buzzer's samples are played.
class KST_BuzzerOutput
{
public:
    virtual ~KST_BuzzerOutput() = default;
    // Plays the samples from the device's current position to its end.
    virtual void start(QIODevice *samples) = 0;
    virtual void stop() = 0;
};

class KST_Buzzer
{
public:
    enum { SampleRate = 22050, Channels = 1, SampleBits = 16, HeaderSize = 44 };

    // The process's buzzer, set up on the first call (the first panel
    // constructed makes it) and gone with the application object. Null
    // without an application object.
    static KST_Buzzer *instance();

    // Reads the sound from the resource; with audio, plays it on the
    // default audio output.
    explicit KST_Buzzer(const QString &resource = QStringLiteral(":/sound_buzzer.wav"),
                        bool withAudio = true);
    ~KST_Buzzer();
    KST_Buzzer(const KST_Buzzer &) = delete;
    KST_Buzzer &operator=(const KST_Buzzer &) = delete;

    // Whether beeps are heard: a sound was loaded and there is an output.
    bool exists() const { return m_soundLoaded && m_output; }
    bool soundLoaded() const { return m_soundLoaded; }
    // The sound's length in ms.
    int durationMs() const { return m_durationMs; }
    const QByteArray &samples() const { return m_samples; }

    // A beep: plays the sound from its start unless the last start is no
    // more than the sound's length ago. True when it was started.
    bool beep();
    // Silences a sound that is playing.
    void off();
    // Sounds started since the buzzer was made.
    int startCount() const { return m_starts; }

    // Replaces the output (null: none, no buzzer). Tests watch the buzzer
    // through an output of their own, which needs no audio device.
    void setOutput(std::unique_ptr<KST_BuzzerOutput> output);
    // The clock beeps are timed by, in ms; by default a monotonic one. Setting
    // it counts as a start of the sound, as making the buzzer does.
    void setClock(std::function<qint64()> clock);

private:
    QByteArray m_samples;
    QBuffer m_buffer;
    int m_durationMs = 0;
    bool m_soundLoaded = false;
    std::unique_ptr<KST_BuzzerOutput> m_output;
    std::function<qint64()> m_clock;
    qint64 m_lastStart = 0;
    int m_starts = 0;
};

#endif
