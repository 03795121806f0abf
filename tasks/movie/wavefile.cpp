#include "wavefile.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMinFormatSize = 18;
constexpr int kFormatPcm = CWaveFile::kFormatPcm;
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
    m_dataSize = 0;
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

int CWaveFile::SampleFormat() const
{
    // The extensible record names its real format in the first two bytes of its sub-format.
    if (FormatTag() == kFormatExtensible && m_format.size() >= 26)
        return Field16(24);
    return FormatTag();
}

bool CWaveFile::ReadWave(const QString &path)
{
    Release();
    QFile file;
    return OpenRegularFile(path, file) && ReadWave(file);
}

bool CWaveFile::ReadLayout(QIODevice &file, QString *why)
{
    Release();
    const auto refuse = [this, why](const char *text) {
        Release();
        if (why)
            *why = QString::fromLatin1(text);
        return false;
    };
    const qint64 fileSize = file.size();
    char head[12];
    if (fileSize < 12 || !ReadExactly(file, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return refuse("it is not a WAV file");
    const qint64 riffEnd = 8 + qint64{Le32(head + 4)};

    bool haveFormat = false, haveData = false;
    qint64 present = 0;
    qint64 pos = 12;
    while (pos + 8 <= riffEnd && pos + 8 <= fileSize) {
        char chunk[8];
        if (!ReadExactly(file, pos, chunk, 8))
            return refuse("it cannot be read");
        const qint64 size = Le32(chunk + 4);
        const qint64 body = pos + 8;
        if (body + size > riffEnd)
            return refuse("a chunk of it reaches beyond its RIFF form");
        // What the file really holds of this chunk.
        const qint64 there = std::min(size, fileSize - body);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
            if (there < size)
                return refuse("its format chunk is cut short");
            m_format = QByteArray(static_cast<int>(std::max<qint64>(size, kMinFormatSize)), '\0');
            if (!ReadExactly(file, body, m_format.data(), size))
                return refuse("it cannot be read");
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !haveData) {
            m_dataOffset = body;
            present = there;
            haveData = true;
        } else if (std::memcmp(chunk, "fact", 4) == 0 && m_sampleCount < 0 && there >= 4) {
            char count[4];
            if (!ReadExactly(file, body, count, 4))
                return refuse("it cannot be read");
            m_sampleCount = Le32(count);
        }
        // Chunks are padded to an even length.
        pos = body + size + (size & 1);
    }
    if (!haveFormat)
        return refuse("it has no format chunk");
    const int blockAlign = BlockAlign();
    m_dataSize = blockAlign > 0 ? present - present % blockAlign : 0;
    const qint64 blocks = blockAlign > 0 ? m_dataSize / blockAlign : 0;
    m_sampleCount = m_sampleCount < 0 ? blocks : std::min(m_sampleCount, blocks);
    return true;
}

bool CWaveFile::ReadWave(QIODevice &file)
{
    if (!ReadLayout(file))
        return false;
    if (SampleFormat() != kFormatPcm || BlockAlign() <= 0 || Channels() <= 0 ||
        SampleRate() <= 0) {
        Release();
        return false;
    }
    m_data = QByteArray(static_cast<qsizetype>(m_dataSize), Qt::Uninitialized);
    if (!file.seek(m_dataOffset)) {
        Release();
        return false;
    }
    const qint64 got = std::max<qint64>(file.read(m_data.data(), m_dataSize), 0);
    // The file may have shrunk since its size was taken: the whole blocks that came.
    if (got < m_dataSize) {
        m_dataSize = got - got % BlockAlign();
        m_data.truncate(static_cast<qsizetype>(m_dataSize));
        m_sampleCount = std::min(m_sampleCount, m_dataSize / BlockAlign());
    }
    return true;
}

bool OpenRegularFile(const QString &path, QFile &file, QString *why)
{
    file.close();
    const auto refuse = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    const auto failure = [&](int error) {
        if (error == ENOENT || error == ENOTDIR)
            return refuse(QStringLiteral("there is no such file"));
        return refuse(QStringLiteral("it cannot be opened (") +
                      QString::fromLocal8Bit(std::strerror(error)) + u')');
    };
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return failure(ENOENT);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return failure(errno);
    if (S_ISDIR(st.st_mode))
        return refuse(QStringLiteral("it is a folder"));
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("it is not a regular file"));
    // Without waiting: a FIFO put in its place since the look above must not hold the open.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failure(errno);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(QStringLiteral("it is not a regular file"));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(QStringLiteral("it cannot be opened"));
    }
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
