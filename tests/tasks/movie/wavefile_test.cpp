#include "moviesupport.h"
#include "tasks/movie/wavefile.h"
#include "tests/support/testsupport.h"

#include <QBuffer>
#include <QtEndian>

namespace {

TEST(WaveFile, ReadsPcmAndRefusesWhatCannotBePlayed)
{
    const QByteArray pcm = Format(1, 1, 11025, 2, 16);
    const QByteArray samples(1000, 'x');
    const struct {
        const char *name;
        QByteArray file;
        bool ok;
        qsizetype dataSize;
        qint64 sampleCount;
    } rows[] = {
        {"pcm", Riff(Chunk("fmt ", pcm) + Chunk("LIST", "abc") + Chunk("data", samples)), true,
         1000, 500},
        // A recording cut short keeps the whole samples that are there.
        {"cut short", Riff(Chunk("fmt ", pcm) + Chunk("data", samples, 4000), 4000 + 36).left(44 + 999),
         true, 998, 499},
        {"fact chunk", Riff(Chunk("fmt ", pcm) + Chunk("fact", QByteArray("\x10\0\0\0", 4)) +
                            Chunk("data", samples)),
         true, 1000, 16},
        {"no data", Riff(Chunk("fmt ", pcm)), true, 0, 0},
        {"block align 0", Riff(Chunk("fmt ", Format(1, 1, 11025, 0, 16)) + Chunk("data", samples)),
         false, 0, 0},
        {"float samples", Riff(Chunk("fmt ", Format(3, 1, 11025, 4, 32)) + Chunk("data", samples)),
         false, 0, 0},
        {"no format", Riff(Chunk("data", samples)), false, 0, 0},
        {"format larger than the file", Riff(Chunk("fmt ", pcm, 0x7FFFFFF0), 0x7FFFFFF0 + 12),
         false, 0, 0},
        {"chunk beyond the form", Riff(Chunk("fmt ", pcm) + Chunk("data", samples), 100), false, 0,
         0},
        {"not a wave", Chunk("RIFF", "AVI " + Chunk("fmt ", pcm)), false, 0, 0},
        {"empty", QByteArray(), false, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QByteArray bytes = row.file;
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        CWaveFile wave;
        EXPECT_EQ(wave.ReadWave(buffer), row.ok);
        if (!row.ok)
            continue;
        EXPECT_EQ(wave.m_data.size(), row.dataSize);
        EXPECT_EQ(wave.m_sampleCount, row.sampleCount);
        EXPECT_GE(wave.m_format.size(), 18);
        EXPECT_EQ(wave.SamplesPerSecond(), 11025);
    }
}

TEST(WaveFile, WriterRoundTripAndNeverFollowsAnExistingName)
{
    TempFolder dir;
    const QString path = dir.File("voice.wav");
    CWaveWriter writer;
    ASSERT_TRUE(writer.Open(path, 1, 11025, 16));
    ASSERT_TRUE(writer.Write("abcdefg", 7));
    ASSERT_TRUE(writer.Finish());

    CWaveFile wave;
    ASSERT_TRUE(wave.ReadWave(path));
    EXPECT_EQ(wave.Channels(), 1);
    EXPECT_EQ(wave.BitsPerSample(), 16);
    EXPECT_EQ(wave.BlockAlign(), 2);
    EXPECT_EQ(wave.m_data, QByteArray("abcdef"));
    EXPECT_EQ(wave.m_dataOffset, 44);

    ASSERT_TRUE(QFile::link(dir.File("elsewhere"), dir.File("planted.wav")));
    CWaveWriter second;
    EXPECT_FALSE(second.Open(path, 1, 11025, 16));
    EXPECT_FALSE(second.Open(dir.File("planted.wav"), 1, 11025, 16));
    EXPECT_FALSE(QFile::exists(dir.File("elsewhere")));
}

} // namespace
