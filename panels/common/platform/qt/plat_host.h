#ifndef PLAT_HOST_H
#define PLAT_HOST_H

#include <QByteArray>
#include <QString>

#include <cstdint>

// Sends one button-driver record to the host as a batch of its own. Dropped
// while no firmware object exists.
void plat_send_record(const QByteArray &record);

// Replaces the file at path with total bytes of data as a whole: the old
// file stays unless every byte of the new one reached the disk. Failures
// are logged as "could not write <what> , wrote/total" with the reason;
// *noSpace (when given) tells a full file system from other failures.
bool plat_store_file(const QString &path, const char *what, const char *data, uint32_t total,
                     bool *noSpace = nullptr);

// Forgets what every button and lamp shows (after the key test drew over
// them): the next colour, legend, picture and lamp state of each is sent.
void plat_buttons_forget();

#endif
