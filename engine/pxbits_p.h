#pragma once
// Private to the engine: the little-endian field access of the file formats and the packing of
// indexed pixels (most significant bits first), shared by the codecs and the operations.

#include <cstdint>

inline uint16_t U16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t U32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutU16(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint8_t ReadIndex(const uint8_t *row, uint32_t x, uint32_t bpp)
{
    switch (bpp) {
    case 8:
        return row[x];
    case 4:
        return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default:
        return 0;
    }
}

inline void WriteIndex(uint8_t *row, uint32_t x, uint32_t bpp, uint8_t index)
{
    switch (bpp) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        uint8_t &b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
        break;
    }
    case 1: {
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = (index & 1) ? static_cast<uint8_t>(row[x >> 3] | mask)
                                  : static_cast<uint8_t>(row[x >> 3] & ~mask);
        break;
    }
    default:
        break;
    }
}
