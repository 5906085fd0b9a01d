#ifndef FACEGEN_BUZZER_H
#define FACEGEN_BUZZER_H

#include <QByteArray>

namespace facegen {

constexpr int BUZZER_RATE = 22050;
constexpr int BUZZER_MS = 160;

// The panel's error beep as a WAV file: 22050 Hz, mono, 16-bit PCM, the
// canonical 44-byte header followed directly by the samples (the host
// plays everything after byte 44). A piezo tone with a short attack and
// release, so that it starts and stops without a click.
QByteArray buzzerWav();

} // namespace facegen

#endif
