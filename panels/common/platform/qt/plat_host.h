#ifndef PLAT_HOST_H
#define PLAT_HOST_H

#include <QByteArray>
#include <QString>

#include <cstdint>

// Sends one button-driver record to the host as a batch of its own. Dropped
// while no firmware object exists.
void plat_send_record(const QByteArray &record);

// Replaces the file at path with total bytes of data as a whole: the old
// file stays unless the new one was written completely. Failures are logged
// as "could not open <what> for writing" or "could not write <what>".
bool plat_store_file(const QString &path, const char *what, const char *data, uint32_t total);

// Forgets what every button and lamp shows (after the key test drew over
// them): the next colour, legend, picture and lamp state of each is sent.
void plat_buttons_forget();

#endif
