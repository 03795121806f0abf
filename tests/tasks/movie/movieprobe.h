#pragma once
// Looks at a movie from outside, through FFmpeg's own tools (ffprobe, ffmpeg): its streams, its
// packets and its decoded pictures and samples.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

struct ProbedStream {
    QString type, codec, tag, sampleFormat;
    int width = 0, height = 0, sampleRate = 0, channels = 0;
};

struct ProbedPacket {
    int stream = 0;
    qint64 pts = 0;
    bool key = false;
    int size = 0;
    QString hash;
};

struct MovieProbe {
    bool ok = false;
    QList<ProbedStream> streams;
    QList<ProbedPacket> packets;
    double duration = 0;
};

// Whether ffprobe and ffmpeg can be run (the movie checks need them).
bool HaveFfmpegTools();
#define PX_REQUIRE_FFMPEG()                                                                    \
    do {                                                                                       \
        if (!HaveFfmpegTools())                                                                \
            GTEST_FAIL() << "ffmpeg and ffprobe are not installed (run scripts/setup.sh)";     \
    } while (0)

MovieProbe ProbeMovie(const QString &path);
// Positions of the packets of stream 0 that carry a picture.
QList<qint64> VideoPositions(const MovieProbe &probe);
// Every picture of the first video stream, in order, as FFmpeg's decoder gives it; errors gets
// what the decoder reported.
QList<QImage> DecodeFrames(const QString &path, QString *errors = nullptr);
// The first audio stream as 16-bit little-endian samples.
QByteArray DecodeAudio(const QString &path);
// The first audio stream's packets as they are stored, one after the other: for PCM, the
// samples exactly as they went in.
QByteArray StoredAudio(const QString &path);
