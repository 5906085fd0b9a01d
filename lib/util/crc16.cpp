#include "crc16.h"

// Byte-wise table, built at compile time from the polynomial.
struct Crc16Table
{
    uint16_t v[256];
    constexpr Crc16Table() : v()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b)
                c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
            v[i] = c;
        }
    }
};

static constexpr Crc16Table s_table;

uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t *data, size_t len)
{
    for (size_t i = 0; i < len; ++i)
        crc = uint16_t((crc << 8) ^ s_table.v[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

uint16_t crc16_xmodem(const uint8_t *data, size_t len)
{
    return crc16_xmodem_update(0, data, len);
}
