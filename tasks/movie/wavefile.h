#pragma once
// WAV files of PCM sound: CWaveFile reads one (the voice recording that becomes a movie's sound
// track), CWaveWriter writes one as the recorder delivers its samples. Both are the project's
// own RIFF code.

#include <QByteArray>
#include <QFile>
#include <QString>

class QIODevice;

class CWaveFile {
public:
    // Reads the "WAVE" form at the start of file (which must allow seeking). Fails without a
    // format chunk, with a format other than PCM, with a block align of 0, or when a chunk
    // reaches beyond the RIFF form. A data chunk that the file cuts short keeps the whole
    // blocks that are really there. Nothing larger than the file is ever allocated.
    bool ReadWave(QIODevice &file);
    // The same for the regular file at path (see OpenRegularFile).
    bool ReadWave(const QString &path);
    // Only the layout: the format record and where the samples are (m_dataOffset, m_dataSize,
    // m_sampleCount), whatever the format; the samples stay in the file, so a recording of
    // any length costs nothing to look at. False, with why saying what is wrong with the file
    // as a phrase ("it is not a WAV file"), when there is no format chunk or a chunk reaches
    // beyond the RIFF form.
    bool ReadLayout(QIODevice &file, QString *why = nullptr);

    // The wave format record: tag, channels, samples per second, average bytes per second,
    // block align, bits per sample, extra size; at least 18 bytes, unread bytes zero.
    QByteArray m_format;
    QByteArray m_data;
    qint64 m_dataOffset = 0;
    // Bytes of whole blocks that the data chunk really holds (0 while the block align is 0).
    qint64 m_dataSize = 0;
    // -1 while unknown.
    qint64 m_sampleCount = -1;

    int FormatTag() const { return Field16(0); }
    // The tag, or for the extensible record the one its sub-format names.
    int SampleFormat() const;
    int Channels() const { return Field16(2); }
    int SamplesPerSecond() const { return static_cast<int>(Field32(4)); }
    // The rate as the file states it, also beyond what an int holds.
    qint64 SampleRate() const { return Field32(4); }
    int BlockAlign() const { return Field16(12); }
    int BitsPerSample() const { return Field16(14); }

    static constexpr int kFormatPcm = 1;

private:
    void Release();
    int Field16(int offset) const;
    quint32 Field32(int offset) const;
};

// Opens path read-only if it is a regular file (a link to one counts): a FIFO, a device or a
// folder is never opened, so a voice track named by a job can neither block nor start a
// device. False, with why as a phrase ("there is no such file"), otherwise.
bool OpenRegularFile(const QString &path, QFile &file, QString *why = nullptr);

// Writes 16-bit (or any) PCM samples into a new WAV file; the sizes in the header are filled in
// by Finish. The file must not exist yet: an existing file or link at the path is never
// followed or overwritten.
class CWaveWriter {
public:
    ~CWaveWriter();
    bool Open(const QString &path, int channels, int samplesPerSecond, int bitsPerSample);
    bool Write(const char *data, qint64 size);
    // Completes the header and closes the file; true when everything reached the disk.
    bool Finish();
    bool IsOpen() const { return m_file.isOpen(); }
    qint64 DataSize() const { return m_dataSize; }

private:
    QFile m_file;
    qint64 m_dataSize = 0;
    int m_blockAlign = 0;
    bool m_failed = false;
};
