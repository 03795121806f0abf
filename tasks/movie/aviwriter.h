#pragma once
// Writes the slideshow movie: an AVI file with one Video 1 stream whose frames sit on a time
// line of `rate` samples per second, each frame a key frame held until the next one. A second
// writer opened on the finished file adds a WAV recording as its PCM sound track by copying the
// movie's packets unchanged into a new file with the sound beside them, which then replaces the
// movie. The sound is read from the WAV a packet at a time, so a recording of any length needs
// no more memory than a short one. FFmpeg's libavformat does the container work; the frames
// are coded by our own encoder.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>
#include <vector>

class PxImage;
class CVideo1Encoder;
struct AVFormatContext;

class CAviWriter {
public:
    // Result codes of AddWaveFile.
    static constexpr long kOk = 0;
    static constexpr long kErrorFileOpen = static_cast<long>(0x80044066u);
    static constexpr long kErrorBadFormat = static_cast<long>(0x80044065u);
    static constexpr long kErrorFileWrite = static_cast<long>(0x8004406Du);

    explicit CAviWriter(bool autoClose = true);
    ~CAviWriter();
    CAviWriter(const CAviWriter &) = delete;
    CAviWriter &operator=(const CAviWriter &) = delete;

    // A new movie at path. codec is a four-character code ("MSVC" is Video 1, the only one
    // there is an encoder for); quality is 0 to 10000; rate is samples per second of the time
    // line. With replaceExisting, a file at path is deleted first.
    bool Open(const QString &path, const QString &codec, int quality, int rate,
              bool replaceExisting);
    // The finished movie at path, to add a sound track to.
    bool OpenExisting(const QString &path);
    // Appends frame (any depth; all frames of a movie share the first one's size), held for
    // durationMs: the next frame comes duration x rate / 1000 samples later, at least 1.
    // Fails, with nothing written, for a frame that would end beyond the stream's 32-bit time
    // line.
    bool AddFrame(const PxImage &frame, qint64 durationMs);
    // Adds the samples of a PCM WAV file as the movie's sound track (on a writer opened with
    // OpenExisting), after any added before. 0 on success, otherwise one of the error codes,
    // with problem saying why as VoiceTrackProblem would; a track the movie cannot carry
    // (voicetrack.h) is refused rather than left out. The file stays open until Close, so
    // what was checked is what goes in. A failure keeps the tracks added before.
    long AddWaveFile(const QString &path, QString *problem = nullptr);
    // Finishes the file; for a movie given a sound track, replaces it with the new file. True
    // when the movie on disk is complete.
    bool Close();

    qint64 VideoPosition() const { return m_videoPosition; }
    qint64 FrameCount() const { return m_frameCount; }
    qint64 AudioPosition() const { return m_audioPosition; }

    // The four-character code packed little-endian, the text padded with spaces.
    static quint32 CodecCode(const QString &codec);
    // The last position the time line can hold.
    static constexpr qint64 kMaxPosition = 0x7FFFFFFF;

private:
    bool InitLibrary();
    bool CreateVideoStream(int width, int height);
    long Remux(QString *why);
    void Abandon();

    bool m_autoClose;
    bool m_opened = false;
    bool m_closed = false;
    bool m_existing = false;
    QString m_path;
    int m_rate = 100;
    quint32 m_codec = 0;
    int m_quality = 0;
    qint64 m_videoPosition = 0;
    // Where the chunks written so far end on the time line.
    qint64 m_written = 0;
    // The most empty chunks libavformat's AVI muxer inserts before one packet.
    static constexpr qint64 kMuxerMaxGap = 60000;
    qint64 m_frameCount = 0;
    qint64 m_audioPosition = 0;

    AVFormatContext *m_output = nullptr;
    bool m_headerWritten = false;
    int m_width = 0, m_height = 0;
    std::unique_ptr<CVideo1Encoder> m_encoder;
    std::vector<uint8_t> m_packet;

    // The recordings added to an existing movie, in order, with the part of each that holds
    // its samples; the sound is read from them whenever the movie is written anew.
    struct WaveSource {
        std::unique_ptr<QFile> file;
        qint64 offset = 0, bytes = 0;
    };
    std::vector<WaveSource> m_sources;
    QByteArray m_waveFormat;
    // The movie with the sound added so far, which replaces the movie on Close.
    QString m_replacement;
};
