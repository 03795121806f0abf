#include "movieprobe.h"
#include "moviesupport.h"
#include "tasks/movie/aviwriter.h"
#include "tasks/movie/wavefile.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <limits>

namespace {

PxImage Black(int w, int h)
{
    PxImage image;
    image.Create(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 24);
    return image;
}

bool WriteMovie(const QString &path, const PxImage &frame, const QList<qint64> &durations,
                int quality = 8000)
{
    CAviWriter writer;
    if (!writer.Open(path, QStringLiteral("MSVC"), quality, 100, true))
        return false;
    for (qint64 d : durations)
        if (!writer.AddFrame(frame, d))
            return false;
    return writer.Close();
}

// A photo-like picture: smooth gradients with fine detail, which no block codes exactly.
PxImage Detailed(int w, int h)
{
    PxImage image = Black(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *p = image.GetBits(static_cast<uint32_t>(y)) + 3 * x;
            p[0] = static_cast<uint8_t>(x * 255 / w);
            p[1] = static_cast<uint8_t>((x * 7 + y * 13) % 256);
            p[2] = static_cast<uint8_t>(((x ^ y) * 3) % 256);
        }
    return image;
}

double MeanError(const QImage &decoded, const PxImage &source, int w, int h)
{
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t *p = source.GetBits(static_cast<uint32_t>(source.GetHeight() - 1 - y)) + 3 * x;
            sum += ChannelError(decoded.pixel(x, y), QColor(p[2], p[1], p[0]));
        }
    return sum / (double(w) * h);
}

TEST(AviWriter, FramesSitOnTheTimeLineAsKeyFrames)
{
    PX_REQUIRE_FFMPEG();
    const struct {
        QList<qint64> durations;
        QList<qint64> positions;
    } rows[] = {
        // Lead-in, three slides held 5 s, the last slide again for 80 ms.
        {{3000, 5000, 5000, 5000, 80}, {0, 300, 800, 1300, 1800}},
        // A pause of 0 still moves on by one sample.
        {{3000, 0, 0, 0, 80}, {0, 300, 301, 302, 303}},
        {{110, 1, 9, 110}, {0, 11, 12, 13}},
        // Pauses longer than the muxer would fill on its own.
        {{3000, 1300000, 80}, {0, 300, 130300}},
    };
    TempFolder dir;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.positions.back());
        const QString path = dir.File("timeline.avi");
        ASSERT_TRUE(WriteMovie(path, Black(1024, 768), row.durations));
        const MovieProbe probe = ProbeMovie(path);
        ASSERT_TRUE(probe.ok);
        ASSERT_EQ(probe.streams.size(), 1);
        EXPECT_EQ(probe.streams[0].codec, "msvideo1");
        EXPECT_EQ(probe.streams[0].tag, "MSVC");
        EXPECT_EQ(probe.streams[0].width, 1024);
        EXPECT_EQ(probe.streams[0].height, 768);
        EXPECT_EQ(VideoPositions(probe), row.positions);
        for (const ProbedPacket &p : probe.packets) {
            if (p.size > 0) {
                EXPECT_TRUE(p.key) << p.pts;
            }
        }
    }
    const MovieProbe slideshow = [&] {
        WriteMovie(dir.File("length.avi"), Black(64, 48), rows[0].durations);
        return ProbeMovie(dir.File("length.avi"));
    }();
    EXPECT_GE(slideshow.duration, 18.0);
    EXPECT_LE(slideshow.duration, 18.08);
}

TEST(AviWriter, QualityChangesTheCodingAndAnySizeDecodes)
{
    PX_REQUIRE_FFMPEG();
    TempFolder dir;
    const PxImage photo = Detailed(256, 192);
    ASSERT_TRUE(WriteMovie(dir.File("low.avi"), photo, {100}, 500));
    ASSERT_TRUE(WriteMovie(dir.File("high.avi"), photo, {100}, 10000));
    const QList<QImage> low = DecodeFrames(dir.File("low.avi"));
    const QList<QImage> high = DecodeFrames(dir.File("high.avi"));
    ASSERT_EQ(low.size(), 1);
    ASSERT_EQ(high.size(), 1);
    EXPECT_LT(QFile(dir.File("low.avi")).size(), QFile(dir.File("high.avi")).size());
    EXPECT_LT(MeanError(high[0], photo, 256, 192), MeanError(low[0], photo, 256, 192));

    // Flat blocks come back as they went in, whatever the size; the columns and rows beyond
    // the last whole 4 x 4 block are outside the grid.
    for (const QSize size : {QSize(1024, 768), QSize(1022, 766), QSize(13, 9)}) {
        SCOPED_TRACE(size.width());
        const PxImage blocks = BlockImage(size.width(), size.height(), 4, PatternColour);
        const QString path = dir.File("blocks.avi");
        ASSERT_TRUE(WriteMovie(path, blocks, {100}, 10000));
        QString errors;
        const QList<QImage> frames = DecodeFrames(path, &errors);
        EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
        ASSERT_EQ(frames.size(), 1);
        const QImage &f = frames[0];
        ASSERT_EQ(f.size(), size);
        int worst = 0;
        for (int y = 0; y < size.height() / 4 * 4; ++y)
            for (int x = 0; x < size.width() / 4 * 4; ++x)
                worst = std::max(worst, ChannelError(f.pixel(x, y), PatternColour(x / 4, y / 4)));
        EXPECT_LE(worst, kRgb555Rounding);
    }
}

TEST(AviWriter, RefusesFramesBeyondTheTimeLineAndCodecsItCannotWrite)
{
    TempFolder dir;
    MessageRecorder messages;
    CAviWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("long.avi"), QStringLiteral("MSVC"), 8000, 100, true));
    ASSERT_TRUE(writer.AddFrame(Black(16, 16), 3000));
    // 2147483647 seconds of pause, and a duration whose product with the rate overflows.
    for (qint64 duration : {qint64{2147483647} * 1000, std::numeric_limits<qint64>::max()}) {
        EXPECT_FALSE(writer.AddFrame(Black(16, 16), duration));
        EXPECT_EQ(writer.VideoPosition(), 300);
    }
    EXPECT_EQ(messages.Messages().size(), 2u);
    // Up to the end of the range is fine.
    EXPECT_TRUE(writer.AddFrame(Black(16, 16), (CAviWriter::kMaxPosition - 300) * 10));
    EXPECT_FALSE(writer.AddFrame(Black(16, 16), 10));
    EXPECT_EQ(writer.FrameCount(), 2);
    // A frame of another size cannot join the stream.
    EXPECT_FALSE(writer.AddFrame(Black(32, 16), 10));
    EXPECT_TRUE(writer.Close());

    CAviWriter other;
    EXPECT_FALSE(other.Open(dir.File("x.avi"), QStringLiteral("XVID"), 8000, 100, true));
    EXPECT_TRUE(messages.Texts().contains(
        "Cant't init AVI File - Video for Windows version is to old"));
    EXPECT_EQ(CAviWriter::CodecCode(QStringLiteral("MSVC")), 0x4356534Du);
    EXPECT_EQ(CAviWriter::CodecCode(QStringLiteral("ab")), 0x20206261u);
}

TEST(AviWriter, VoiceTrackJoinsTheMovieWithItsVideoUnchanged)
{
    PX_REQUIRE_FFMPEG();
    TempFolder dir;
    const QString movie = dir.File("movie.avi");
    ASSERT_TRUE(WriteMovie(movie, Detailed(128, 96), {3000, 5000, 110, 80}));
    const MovieProbe before = ProbeMovie(movie);

    const QByteArray samples = SoundSamples(11025 * 2 + 7);
    CWaveWriter wav;
    ASSERT_TRUE(wav.Open(dir.File("voice.wav"), 1, 11025, 16));
    ASSERT_TRUE(wav.Write(samples.constData(), samples.size()));
    ASSERT_TRUE(wav.Finish());

    // A file that is not a WAV leaves the movie as it was.
    QFile junk(dir.File("junk.wav"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("RIFF....AVI LIST");
    junk.close();
    {
        CAviWriter writer;
        ASSERT_TRUE(writer.OpenExisting(movie));
        EXPECT_EQ(writer.AddWaveFile(junk.fileName()), CAviWriter::kErrorFileOpen);
        EXPECT_TRUE(writer.Close());
    }
    EXPECT_EQ(ProbeMovie(movie).streams.size(), 1);

    CAviWriter writer;
    ASSERT_TRUE(writer.OpenExisting(movie));
    EXPECT_EQ(writer.AddWaveFile(dir.File("voice.wav")), CAviWriter::kOk);
    EXPECT_EQ(writer.AudioPosition(), 11025 * 2 + 7);
    ASSERT_TRUE(writer.Close());

    const MovieProbe after = ProbeMovie(movie);
    ASSERT_EQ(after.streams.size(), 2);
    EXPECT_EQ(after.streams[1].codec, "pcm_s16le");
    EXPECT_EQ(after.streams[1].sampleRate, 11025);
    EXPECT_EQ(after.streams[1].channels, 1);
    QList<ProbedPacket> videoBefore, videoAfter;
    for (const ProbedPacket &p : before.packets)
        videoBefore.append(p);
    for (const ProbedPacket &p : after.packets)
        if (p.stream == 0)
            videoAfter.append(p);
    ASSERT_EQ(videoAfter.size(), videoBefore.size());
    for (qsizetype i = 0; i < videoBefore.size(); ++i) {
        EXPECT_EQ(videoAfter[i].pts, videoBefore[i].pts);
        EXPECT_EQ(videoAfter[i].hash, videoBefore[i].hash);
    }
    EXPECT_EQ(DecodeAudio(movie), samples);
    // Nothing is left beside the movie.
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files).size(), 3);
}

} // namespace
