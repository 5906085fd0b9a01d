#include "crc16.h"

// Tables built at compile time from the polynomial: v[0] is the byte-wise
// table, v[k] the same followed by k zero bytes, so that four bytes can be
// folded in with four independent lookups.
struct Crc16Tables
{
    uint16_t v[4][256];
    constexpr Crc16Tables() : v()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b)
                c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
            v[0][i] = c;
        }
        for (int k = 1; k < 4; ++k)
            for (int i = 0; i < 256; ++i)
                v[k][i] = uint16_t((v[k - 1][i] << 8) ^ v[0][v[k - 1][i] >> 8]);
    }
};

static constexpr Crc16Tables s_tables;

uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t *data, size_t len)
{
    const auto &t = s_tables.v;
    size_t i = 0;
    for (; i + 4 <= len; i += 4) {
        const unsigned x = crc ^ ((unsigned(data[i]) << 8) | data[i + 1]);
        crc = uint16_t(t[3][x >> 8] ^ t[2][x & 0xFF] ^ t[1][data[i + 2]] ^ t[0][data[i + 3]]);
    }
    for (; i < len; ++i)
        crc = uint16_t((crc << 8) ^ t[0][((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

uint16_t crc16_xmodem(const uint8_t *data, size_t len)
{
    return crc16_xmodem_update(0, data, len);
}
