#include "buzzer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace facegen {

namespace {

void le16(QByteArray &out, uint16_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void le32(QByteArray &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray buzzerWav()
{
    const int samples = BUZZER_RATE * BUZZER_MS / 1000;
    const uint32_t dataBytes = uint32_t(samples) * 2;
    QByteArray out;
    out.append("RIFF", 4);
    le32(out, 36 + dataBytes);
    out.append("WAVE", 4);
    out.append("fmt ", 4);
    le32(out, 16);
    le16(out, 1); // PCM
    le16(out, 1); // mono
    le32(out, BUZZER_RATE);
    le32(out, BUZZER_RATE * 2); // bytes per second
    le16(out, 2);               // block align
    le16(out, 16);              // bits per sample
    out.append("data", 4);
    le32(out, dataBytes);

    // A piezo sounder near its resonance: the fundamental with a little of
    // its third harmonic (both below the Nyquist frequency of 11025 Hz).
    const double pi = 3.14159265358979323846;
    const double f = 2730.0;
    const double attack = BUZZER_RATE * 0.004, release = BUZZER_RATE * 0.025;
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / BUZZER_RATE;
        double env = 1.0;
        if (i < attack)
            env = i / attack;
        else if (i > samples - release)
            env = std::max(0.0, (samples - i) / release);
        const double s = std::sin(2 * pi * f * t) + 0.22 * std::sin(2 * pi * 3 * f * t);
        const int v = int(std::lround(0.42 * 32767.0 * env * s / 1.22));
        le16(out, uint16_t(int16_t(std::clamp(v, -32768, 32767))));
    }
    return out;
}

} // namespace facegen
