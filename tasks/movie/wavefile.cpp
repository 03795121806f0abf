#include "wavefile.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMinFormatSize = 18;
constexpr int kFormatPcm = 1;
constexpr int kFormatExtensible = 0xFFFE;

bool ReadExactly(QIODevice &file, qint64 offset, char *to, qint64 size)
{
    return file.seek(offset) && file.read(to, size) == size;
}

quint32 Le32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

} // namespace

void CWaveFile::Release()
{
    m_format.clear();
    m_data.clear();
    m_dataOffset = 0;
    m_sampleCount = -1;
}

int CWaveFile::Field16(int offset) const
{
    if (m_format.size() < offset + 2)
        return 0;
    return qFromLittleEndian<quint16>(m_format.constData() + offset);
}

quint32 CWaveFile::Field32(int offset) const
{
    if (m_format.size() < offset + 4)
        return 0;
    return qFromLittleEndian<quint32>(m_format.constData() + offset);
}

bool CWaveFile::ReadWave(const QString &path)
{
    Release();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && ReadWave(file);
}

bool CWaveFile::ReadWave(QIODevice &file)
{
    Release();
    const qint64 fileSize = file.size();
    char head[12];
    if (fileSize < 12 || !ReadExactly(file, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    const qint64 riffEnd = 8 + qint64{Le32(head + 4)};

    bool haveFormat = false, haveData = false;
    qint64 pos = 12;
    while (pos + 8 <= riffEnd && pos + 8 <= fileSize) {
        char chunk[8];
        if (!ReadExactly(file, pos, chunk, 8))
            return false;
        const qint64 size = Le32(chunk + 4);
        const qint64 body = pos + 8;
        if (body + size > riffEnd)
            return false;
        // What the file really holds of this chunk.
        const qint64 present = std::min(size, fileSize - body);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
            if (present < size)
                return false;
            m_format = QByteArray(static_cast<int>(std::max<qint64>(size, kMinFormatSize)), '\0');
            if (!ReadExactly(file, body, m_format.data(), size))
                return false;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !haveData) {
            m_dataOffset = body;
            m_data = QByteArray(static_cast<qsizetype>(present), Qt::Uninitialized);
            if (!file.seek(body))
                return false;
            const qint64 got = file.read(m_data.data(), present);
            m_data.truncate(static_cast<qsizetype>(std::max<qint64>(got, 0)));
            haveData = true;
        } else if (std::memcmp(chunk, "fact", 4) == 0 && m_sampleCount < 0 && present >= 4) {
            char count[4];
            if (!ReadExactly(file, body, count, 4))
                return false;
            m_sampleCount = Le32(count);
        }
        // Chunks are padded to an even length.
        pos = body + size + (size & 1);
    }

    if (!haveFormat)
        return false;
    int tag = FormatTag();
    // The extensible record names its real format in the first two bytes of its sub-format.
    if (tag == kFormatExtensible && m_format.size() >= 26)
        tag = Field16(24);
    const int blockAlign = BlockAlign();
    if (tag != kFormatPcm || blockAlign <= 0 || Channels() <= 0 || SamplesPerSecond() <= 0) {
        Release();
        return false;
    }
    m_data.truncate(m_data.size() - m_data.size() % blockAlign);
    const qint64 blocks = m_data.size() / blockAlign;
    m_sampleCount = m_sampleCount < 0 ? blocks : std::min(m_sampleCount, blocks);
    return true;
}

CWaveWriter::~CWaveWriter()
{
    if (m_file.isOpen())
        Finish();
}

bool CWaveWriter::Open(const QString &path, int channels, int samplesPerSecond, int bitsPerSample)
{
    m_dataSize = 0;
    m_failed = false;
    m_blockAlign = channels * ((bitsPerSample + 7) / 8);
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    char h[44] = {};
    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, h + 16);
    qToLittleEndian<quint16>(kFormatPcm, h + 20);
    qToLittleEndian<quint16>(static_cast<quint16>(channels), h + 22);
    qToLittleEndian<quint32>(static_cast<quint32>(samplesPerSecond), h + 24);
    qToLittleEndian<quint32>(static_cast<quint32>(samplesPerSecond * m_blockAlign), h + 28);
    qToLittleEndian<quint16>(static_cast<quint16>(m_blockAlign), h + 32);
    qToLittleEndian<quint16>(static_cast<quint16>(bitsPerSample), h + 34);
    std::memcpy(h + 36, "data", 4);
    if (m_file.write(h, 44) != 44)
        m_failed = true;
    return true;
}

bool CWaveWriter::Write(const char *data, qint64 size)
{
    if (!m_file.isOpen() || size <= 0)
        return m_file.isOpen();
    // A RIFF file cannot describe more than 4 GiB; later samples are dropped.
    if (m_dataSize + size > 0xFFFFFFFFll - 44)
        return false;
    if (m_file.write(data, size) != size) {
        m_failed = true;
        return false;
    }
    m_dataSize += size;
    return true;
}

bool CWaveWriter::Finish()
{
    if (!m_file.isOpen())
        return false;
    char size[4];
    if (m_dataSize & 1)
        m_file.write("", 1);
    qToLittleEndian<quint32>(static_cast<quint32>(36 + m_dataSize + (m_dataSize & 1)), size);
    bool ok = !m_failed && m_file.seek(4) && m_file.write(size, 4) == 4;
    qToLittleEndian<quint32>(static_cast<quint32>(m_dataSize), size);
    ok = ok && m_file.seek(40) && m_file.write(size, 4) == 4;
    ok = m_file.flush() && ok;
    m_file.close();
    return ok;
}
