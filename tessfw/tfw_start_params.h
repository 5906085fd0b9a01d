#ifndef TFW_START_PARAMS_H
#define TFW_START_PARAMS_H

#include "start_params.h"

#include <QString>

// A panel's own address as the host gives it: four decimal numbers 0..255
// separated by dots, nothing before or after. Fills out (most significant
// byte first) and returns true for such a text only.
bool tfw_parse_ipv4(const QString &text, uint8_t out[4]);

// Builds the start block from the four values given to start(): zero-filled,
// name and path copied bounded (a name of exactly 20 bytes keeps no
// terminator), address most significant byte first. Address and port are set
// only when the address text is a valid IPv4 address; they stay zero for an
// empty (or unparsable) text.
StartParams tfw_make_start_params(const QString &type, const QString &ip, int port,
                                  const QString &configPath);

#endif
