#ifndef PLAT_HOST_H
#define PLAT_HOST_H

#include <QByteArray>

// Sends one button-driver record to the host as a batch of its own. Dropped
// while no firmware object exists.
void plat_send_record(const QByteArray &record);

#endif
