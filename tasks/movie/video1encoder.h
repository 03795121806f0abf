#pragma once
// An intra-only Video 1 encoder: every frame is cut into 4 x 4 blocks of RGB555 colour, each
// coded as one flat colour, two colours or two colours per 2 x 2 quarter (eight in all). The
// quality sets how much error a block may keep before it is given more colours, so it changes
// the output; any frame size is accepted (the columns and rows beyond the last whole block are
// outside Video 1's grid and are not coded, as every decoder expects).

#include <cstddef>
#include <cstdint>
#include <vector>

class CVideo1Encoder {
public:
    // quality: 0 (smallest) to 10000 (every block as close as RGB555 allows).
    explicit CVideo1Encoder(int quality);

    // Encodes one frame of 24-bit blue-green-red pixels stored bottom row first, each row
    // stride bytes apart, and replaces out with the coded frame. Blocks are coded on several
    // threads when that pays; the output does not depend on it.
    void Encode(const uint8_t *bits, size_t stride, int width, int height,
                std::vector<uint8_t> &out) const;

    // Squared RGB555 error (summed over a block's 16 pixels and three channels) that a block
    // may keep with fewer colours.
    int Threshold() const { return m_threshold; }

private:
    int m_threshold;
};
