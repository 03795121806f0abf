// The capture date of a picture file, for names made from it. A name pattern may ask it of
// every file of a batch, decoded or not, so it must cost next to nothing: the format
// is found by the codecs' header readers (as content detection finds it for Load), then the
// container is walked to its EXIF block and only that block is read. Every length and offset
// comes from the file and is checked against its size before use, every walk has a bounded
// number of steps, and every byte read is counted, so a file that claims gigabytes of chunks
// costs no more than a few megabytes and a cut or forged one ends the walk with "".

#include "pxcodecs_p.h"
#include "pxexif_p.h"
#include "pxfile.h"
#include "pximage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include <zlib.h>

namespace {

// All that one look may read, header readers included. A JPEG's block fits 64 KB; the other
// containers allow more, and a JPEG XL header reader may have to read past a large block to
// reach the picture's header.
constexpr uint64_t kMaxReadBytes = 8 << 20;
// An EXIF block beyond this is not a camera's: it is passed over, not read.
constexpr size_t kMaxExifBytes = 2 << 20;
// Segments, chunks or boxes walked before giving up. A PNG may put its EXIF behind the
// picture data, which writers split into chunks of 8 KB: this still reaches past 500 MB of it.
constexpr int kMaxSteps = 1 << 16;

constexpr uint16_t kTagDateTimeOriginal = 0x9003;
constexpr char kExifHeader[pxexif::kHeaderSize] = {'E', 'x', 'i', 'f', 0, 0};

uint32_t Be32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool StartsWithExifHeader(const std::string &bytes)
{
    return pxexif::IsExif(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// The TIFF structure of a chunk or box in JPEG's APP1 form; a few writers store JPEG's
// "Exif\0\0" in front of it anyway, which is kept as it is.
std::string AsApp1(std::string tiff)
{
    if (!StartsWithExifHeader(tiff))
        tiff.insert(0, kExifHeader, sizeof kExifHeader);
    return tiff;
}

// The caller's stream with every byte read counted: once the allowance is spent, reads come
// back short as at the end of the file, for the codecs' header readers and libheif as much as
// for the walks below. It never writes.
class MeteredFile final : public PxFile {
public:
    MeteredFile(PxFile &file, uint64_t allowance) : m_file(file), m_left(allowance) {}

    size_t Read(void *buffer, size_t size, size_t count) override
    {
        if (size == 0 || count == 0)
            return 0;
        const uint64_t allowed = m_left / size;
        const size_t ask = count > allowed ? static_cast<size_t>(allowed) : count;
        const size_t got = ask ? m_file.Read(buffer, size, ask) : 0;
        m_left -= uint64_t(got) * size;
        if (got < count)
            m_failed = true;
        return got;
    }
    size_t Write(const void *, size_t, size_t) override
    {
        m_failed = true;
        return 0;
    }
    bool Seek(int64_t offset, int origin) override { return m_file.Seek(offset, origin); }
    int64_t Tell() override { return m_file.Tell(); }
    int64_t Size() override { return m_file.Size(); }
    bool Flush() override { return true; }
    bool Eof() override { return m_left == 0 || m_file.Eof(); }
    bool Error() override { return m_failed || m_file.Error(); }
    void ClearError() override
    {
        m_failed = false;
        m_file.ClearError();
    }

private:
    PxFile &m_file;
    uint64_t m_left;
    bool m_failed = false;
};

// The picture's bytes from where it starts, read at offsets that must lie inside it.
class Source {
public:
    Source(PxFile &file, int64_t start, uint64_t size) : m_file(file), m_start(start), m_size(size)
    {
    }
    uint64_t Size() const { return m_size; }

    bool Read(uint64_t offset, void *out, size_t bytes)
    {
        if (offset > m_size || bytes > m_size - offset ||
            offset > static_cast<uint64_t>(INT64_MAX - m_start))
            return false;
        if (bytes == 0)
            return true;
        m_file.ClearError();
        return m_file.Seek(m_start + static_cast<int64_t>(offset), SEEK_SET) &&
               m_file.Read(out, 1, bytes) == bytes;
    }
    bool Read(uint64_t offset, size_t bytes, std::string *out)
    {
        if (offset > m_size || bytes > m_size - offset)
            return false;
        out->resize(bytes);
        return Read(offset, out->data(), bytes);
    }

private:
    PxFile &m_file;
    int64_t m_start;
    uint64_t m_size;
};

// JPEG: the first APP1 segment that is an EXIF block, as the decoder takes it; only the
// segments before the first scan are looked at, since the picture data follows that.
std::string JpegExif(Source &s)
{
    uint8_t b[4];
    if (!s.Read(0, b, 2) || b[0] != 0xFF || b[1] != 0xD8)
        return {};
    uint64_t at = 2;
    for (int step = 0; step < kMaxSteps; ++step) {
        if (!s.Read(at, b, 2) || b[0] != 0xFF)
            return {};
        const uint8_t marker = b[1];
        if (marker == 0xFF) {
            // A fill byte before the marker.
            ++at;
            continue;
        }
        at += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // stands alone, without a length
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA)
            return {};
        if (!s.Read(at, b, 2))
            return {};
        const uint32_t length = uint32_t(b[0]) << 8 | b[1];
        if (length < 2)
            return {};
        // XMP and other APP1 segments are told apart by their first bytes, not read whole.
        uint8_t head[pxexif::kHeaderSize];
        if (marker == 0xE1 && length - 2 >= sizeof head && s.Read(at + 2, head, sizeof head) &&
            std::memcmp(head, kExifHeader, sizeof head) == 0) {
            std::string payload;
            if (!s.Read(at + 2, length - 2, &payload))
                return {};
            return payload;
        }
        at += length;
    }
    return {};
}

// PNG: the eXIf chunk, before or behind the picture data, up to IEND. A chunk whose checksum
// fails is passed over, as the decoder drops it.
std::string PngExif(Source &s)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t b[8];
    if (!s.Read(0, b, 8) || std::memcmp(b, kSignature, 8) != 0)
        return {};
    uint64_t at = 8;
    for (int step = 0; step < kMaxSteps; ++step) {
        if (!s.Read(at, b, 8))
            return {};
        const uint32_t length = Be32(b);
        // The format keeps lengths to 31 bits; the 12 bytes are the length, type and checksum.
        if (length > 0x7FFFFFFFu || s.Size() - at < uint64_t(length) + 12)
            return {};
        if (std::memcmp(b + 4, "IEND", 4) == 0)
            return {};
        if (std::memcmp(b + 4, "eXIf", 4) == 0 && length <= kMaxExifBytes) {
            std::string data;
            uint8_t crc[4];
            if (!s.Read(at + 8, length, &data) || !s.Read(at + 8 + length, crc, 4))
                return {};
            uLong sum = crc32(0L, b + 4, 4);
            sum = crc32(sum, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size()));
            if (sum == Be32(crc))
                return AsApp1(std::move(data));
        }
        at += uint64_t(length) + 12;
    }
    return {};
}

// WebP: the RIFF "EXIF" chunk, looked for whatever the VP8X flags claim, as the decoder does.
std::string WebpExif(Source &s)
{
    uint8_t b[12];
    if (!s.Read(0, b, 12) || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WEBP", 4) != 0)
        return {};
    // The RIFF size counts from byte 8; anything behind it is not part of the picture.
    const uint64_t end = std::min<uint64_t>(uint64_t(Le32(b + 4)) + 8, s.Size());
    if (end < 12)
        return {};
    uint64_t at = 12;
    for (int step = 0; step < kMaxSteps && end - at >= 8; ++step) {
        if (!s.Read(at, b, 8))
            return {};
        const uint32_t size = Le32(b + 4);
        if (end - at - 8 < size)
            return {};
        if (std::memcmp(b, "EXIF", 4) == 0) {
            std::string data;
            if (size > kMaxExifBytes || !s.Read(at + 8, size, &data))
                return {};
            return AsApp1(std::move(data));
        }
        // Chunks are padded to an even size.
        at += 8 + uint64_t(size) + (size & 1);
        if (at > end)
            return {};
    }
    return {};
}

// JPEG XL: the first "Exif" box of a container. A bare codestream has no boxes, and a
// Brotli-compressed box ("brob") is not unpacked for this.
std::string JxlExif(Source &s)
{
    static const uint8_t kSignature[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    uint8_t b[16];
    if (!s.Read(0, b, 12) || std::memcmp(b, kSignature, 12) != 0)
        return {};
    uint64_t at = 12;
    for (int step = 0; step < kMaxSteps && at < s.Size(); ++step) {
        if (!s.Read(at, b, 8))
            return {};
        const uint64_t left = s.Size() - at;
        uint64_t size = Be32(b);
        uint64_t header = 8;
        if (size == 1) {
            if (!s.Read(at + 8, b + 8, 8))
                return {};
            size = uint64_t(Be32(b + 8)) << 32 | Be32(b + 12);
            header = 16;
        } else if (size == 0) {
            size = left; // the last box, to the end of the file
        }
        if (size < header || size > left)
            return {};
        if (std::memcmp(b + 4, "Exif", 4) == 0) {
            std::string data;
            if (size - header > kMaxExifBytes || !s.Read(at + header, size_t(size - header), &data))
                return {};
            return pxcodec::ExifFromJxlBox(data);
        }
        at += size;
    }
    return {};
}

std::string TiffExif(Source &s)
{
    return pxexif::FromTiffFile(
        [&s](uint64_t offset, void *out, size_t size) { return s.Read(offset, out, size); },
        s.Size());
}

// Exactly "YYYY:MM:DD HH:MM:SS" with every field in its range. Cameras whose clock was never
// set write zeros or blanks in that shape, which must not become a name.
bool IsDate(const std::string &text)
{
    static const char kShape[] = "dddd:dd:dd dd:dd:dd";
    if (text.size() != sizeof kShape - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i])
            return false;
    }
    auto number = [&](size_t at, size_t digits) {
        int v = 0;
        for (size_t i = at; i < at + digits; ++i)
            v = v * 10 + (text[i] - '0');
        return v;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 &&
           minute <= 59 && second <= 59;
}

std::string DateTimeOriginal(const std::string &exif)
{
    if (exif.empty())
        return {};
    for (const pxexif::Field &field : pxexif::ReadFields(exif, pxexif::kExifDirectory)) {
        if (field.tag != kTagDateTimeOriginal)
            continue;
        // ASCII as written; UNDEFINED from writers that got the type wrong.
        if (field.type != 2 && field.type != 7)
            return {};
        std::string text = field.Text();
        return IsDate(text) ? text : std::string();
    }
    return {};
}

} // namespace

std::string PxReadCaptureDate(PxFile &file)
{
    try {
        MeteredFile f(file, kMaxReadBytes);
        const int64_t start = f.Tell();
        const int64_t end = f.Size();
        if (start < 0 || end < start)
            return {};
        PxImage probe;
        PxHeaderInfo info;
        if (!probe.DecodeHeader(f, PXFORMAT_UNKNOWN, info))
            return {};
        Source s(f, start, static_cast<uint64_t>(end - start));
        std::string exif;
        switch (info.format) {
        case PXFORMAT_JPG: exif = JpegExif(s); break;
        case PXFORMAT_PNG: exif = PngExif(s); break;
        case PXFORMAT_TIF: exif = TiffExif(s); break;
        case PXFORMAT_WEBP: exif = WebpExif(s); break;
        case PXFORMAT_JXL: exif = JxlExif(s); break;
        case PXFORMAT_HEIC:
        case PXFORMAT_AVIF:
            f.ClearError();
            if (f.Seek(start, SEEK_SET))
                exif = pxcodec::ExifHEIF(f, kMaxExifBytes);
            break;
        default: return {};
        }
        return DateTimeOriginal(exif);
    } catch (const PxError &) {
    } catch (const std::exception &) {
    }
    return {};
}

std::string PxReadCaptureDate(const std::filesystem::path &path)
{
    try {
        PxIOFile file;
        if (!file.Open(path, "rb"))
            return {};
        return PxReadCaptureDate(file);
    } catch (const std::exception &) {
    }
    return {};
}
