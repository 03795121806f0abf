#pragma once
// Private to the engine: a buffered reader over a bounded stretch of a stream, for decoders that
// take their data a byte or a packet at a time (the run-length decoders of TGA and PCX). It
// never reads past the limit it was given, so a run-length stream cannot run into a trailing
// palette or footer, and it costs one virtual call per buffer instead of one per byte.

#include "pxfile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

class PxByteReader {
public:
    PxByteReader(PxFile &file, uint64_t limit) : m_file(file), m_left(limit) {}

    // The next byte, or -1 once the stretch (or the stream) is exhausted.
    int Get()
    {
        if (m_pos == m_end && !Fill())
            return -1;
        return m_buffer[m_pos++];
    }

    // Copies up to size bytes; returns how many there were.
    size_t Read(uint8_t *dst, size_t size)
    {
        size_t done = 0;
        while (done < size) {
            if (m_pos == m_end && !Fill())
                break;
            const size_t n = std::min(size - done, m_end - m_pos);
            std::memcpy(dst + done, m_buffer + m_pos, n);
            m_pos += n;
            done += n;
        }
        return done;
    }

private:
    bool Fill()
    {
        if (m_left == 0)
            return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(m_left, sizeof m_buffer));
        const size_t got = m_file.Read(m_buffer, 1, want);
        m_left = got < want ? 0 : m_left - got;
        m_pos = 0;
        m_end = got;
        return got > 0;
    }

    PxFile &m_file;
    uint64_t m_left;
    uint8_t m_buffer[16384];
    size_t m_pos = 0;
    size_t m_end = 0;
};
