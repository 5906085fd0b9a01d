#ifndef CRC16_H
#define CRC16_H

#include <cstddef>
#include <cstdint>

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. The checksum a panel keeps and reports for its configuration payload.
uint16_t crc16_xmodem(const uint8_t *data, size_t len);

// Continues a checksum over further bytes (start with crc = 0).
uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t *data, size_t len);

#endif
