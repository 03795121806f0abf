#include "movieprobe.h"
#include "moviesupport.h"
#include "tasks/movie/aviwriter.h"
#include "tasks/movie/voicetrack.h"
#include "tasks/movie/wavefile.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

// The record of WAVE_FORMAT_EXTENSIBLE naming PCM as its sub-format.
QByteArray ExtensiblePcm(int channels, int rate, int bits)
{
    const int align = channels * bits / 8;
    QByteArray f = Format(0xFFFE, channels, rate, align, bits);
    char extra[24] = {};
    qToLittleEndian<quint16>(22, extra);
    qToLittleEndian<quint16>(static_cast<quint16>(bits), extra + 2);
    qToLittleEndian<quint32>(channels == 2 ? 3 : 4, extra + 4);
    const unsigned char pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    std::memcpy(extra + 8, pcm, 16);
    return f + QByteArray(extra, 24);
}

struct Track {
    Track(const char *n, QByteArray f, QString p, QByteArray s = {})
        : name(n), file(std::move(f)), problem(std::move(p)), samples(std::move(s))
    {
    }
    const char *name;
    QByteArray file;
    // What the check says; "" for a track the movie carries.
    QString problem;
    // The samples that go into the movie.
    QByteArray samples;
};

// WAV files by what the movie can and cannot carry; the sound is 4800 bytes, a whole number of
// blocks for every format here.
std::vector<Track> Tracks()
{
    const QByteArray s = NoiseBytes(4800);
    const QByteArray mono16 = Format(1, 1, 11025, 2, 16);
    return {
        {"16-bit mono", Wave(mono16, s), "", s},
        {"8-bit stereo at the lowest rate", Wave(Format(1, 2, 8000, 2, 8), s), "", s},
        {"24-bit stereo at the highest rate", Wave(Format(1, 2, 192000, 6, 24), s), "", s},
        {"32-bit mono", Wave(Format(1, 1, 44100, 4, 32), s), "", s},
        {"extensible PCM", Wave(ExtensiblePcm(2, 48000, 16), s), "", s},
        // The fact chunk's count of samples is what the track holds.
        {"fewer samples than the data", Riff(Chunk("fmt ", mono16) + Chunk("fact", QByteArray("\x64\0\0\0", 4)) +
                                             Chunk("data", s)),
         "", s.left(200)},
        {"12-bit samples", Wave(Format(1, 1, 11025, 2, 12), s),
         "12-bit samples cannot go into the movie (8, 16, 24 or 32 can)"},
        {"0-bit samples", Wave(Format(1, 1, 11025, 2, 0), s),
         "0-bit samples cannot go into the movie (8, 16, 24 or 32 can)"},
        {"a block align that does not match", Wave(Format(1, 1, 11025, 4, 16), s),
         "a block align of 4 does not match 1 channel of 16-bit samples"},
        {"65535 channels", Wave(Format(1, 65535, 11025, 2, 16), s),
         "65535 channels cannot go into the movie (1 or 2 can)"},
        {"no channels", Wave(Format(1, 0, 11025, 2, 16), s),
         "0 channels cannot go into the movie (1 or 2 can)"},
        {"no data chunk", Riff(Chunk("fmt ", mono16)), "it holds no sound"},
        {"an empty data chunk", Wave(mono16, QByteArray()), "it holds no sound"},
        {"less than one sample", Wave(Format(1, 2, 11025, 4, 16), s.left(3)), "it holds no sound"},
        {"2147483647 Hz", Wave(Format(1, 1, 2147483647, 2, 16), s),
         "a rate of 2147483647 Hz cannot go into the movie (8000 to 192000 Hz can)"},
        {"4294967295 Hz", Wave(Format(1, 1, 4294967295ll, 2, 16), s),
         "a rate of 4294967295 Hz cannot go into the movie (8000 to 192000 Hz can)"},
        {"4000 Hz", Wave(Format(1, 1, 4000, 2, 16), s),
         "a rate of 4000 Hz cannot go into the movie (8000 to 192000 Hz can)"},
        {"192001 Hz", Wave(Format(1, 1, 192001, 2, 16), s),
         "a rate of 192001 Hz cannot go into the movie (8000 to 192000 Hz can)"},
        {"float samples", Wave(Format(3, 1, 11025, 4, 32), s),
         "format 3 sound cannot go into the movie (only PCM can)"},
        {"a text file", "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n",
         "it is not a WAV file"},
        {"an empty file", QByteArray(), "it is not a WAV file"},
        {"no format chunk", Riff(Chunk("data", s)), "it has no format chunk"},
        {"a chunk beyond the form", Riff(Chunk("fmt ", mono16) + Chunk("data", s), 100),
         "a chunk of it reaches beyond its RIFF form"},
    };
}

TEST(VoiceTrack, TheCheckSaysWhyATrackCannotGoIntoTheMovie)
{
    TempFolder dir;
    for (const Track &t : Tracks()) {
        SCOPED_TRACE(t.name);
        const QString path = dir.File("track.wav");
        ASSERT_NO_FATAL_FAILURE(WriteFile(path, t.file));
        EXPECT_EQ(VoiceTrackProblem(path), t.problem);
    }

    // Only a regular file is opened: a FIFO with no writer would hold the open forever, and
    // a device is never touched.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.File("fifo.wav")).constData(), 0600), 0);
    ASSERT_NO_FATAL_FAILURE(WriteFile(dir.File("good.wav"), Tracks().front().file));
    ASSERT_TRUE(QFile::link(dir.File("good.wav"), dir.File("link.wav")));
    ASSERT_TRUE(QFile::link(dir.File("gone.wav"), dir.File("dangling.wav")));
    ASSERT_TRUE(QDir(dir.Path()).mkdir("folder.wav"));
    const struct {
        QString path, problem;
    } places[] = {
        {dir.File("fifo.wav"), "it is not a regular file"},
        {QStringLiteral("/dev/zero"), "it is not a regular file"},
        {dir.File("missing.wav"), "there is no such file"},
        {dir.File("dangling.wav"), "there is no such file"},
        {dir.File("good.wav/inside.wav"), "there is no such file"},
        {dir.File("folder.wav"), "it is a folder"},
        {dir.File("link.wav"), ""},
    };
    for (const auto &p : places) {
        SCOPED_TRACE(p.path.toStdString());
        EXPECT_EQ(VoiceTrackProblem(p.path), p.problem);
    }
    // The loader for a path takes the same care.
    CWaveFile wave;
    EXPECT_FALSE(wave.ReadWave(dir.File("fifo.wav")));
    EXPECT_TRUE(wave.ReadWave(dir.File("link.wav")));

    EXPECT_EQ(VoiceTrackRefusal("/a/b.wav", "it holds no sound"),
              "'/a/b.wav' is not a PCM WAV file that can be read: it holds no sound");
}

bool MakeMovie(const QString &path)
{
    PxImage frame;
    frame.Create(16, 16, 24);
    CAviWriter writer;
    return writer.Open(path, QStringLiteral("MSVC"), 8000, 100, true) &&
           writer.AddFrame(frame, 3000) && writer.AddFrame(frame, 80) && writer.Close();
}

// The writer takes what the check passes, exactly as it is, and refuses the rest for the same
// reason, leaving the movie as it was rather than silent without a word.
TEST(VoiceTrack, TheWriterTakesWhatTheCheckPassesAndRefusesTheRest)
{
    PX_REQUIRE_FFMPEG();
    TempFolder dir;
    const QString movie = dir.File("movie.avi");
    for (const Track &t : Tracks()) {
        SCOPED_TRACE(t.name);
        ASSERT_TRUE(MakeMovie(movie));
        const QByteArray before = FileBytes(movie);
        const QString wav = dir.File("track.wav");
        ASSERT_NO_FATAL_FAILURE(WriteFile(wav, t.file));
        CAviWriter writer;
        ASSERT_TRUE(writer.OpenExisting(movie));
        QString problem;
        const long rc = writer.AddWaveFile(wav, &problem);
        ASSERT_TRUE(writer.Close());
        if (t.problem.isEmpty()) {
            EXPECT_EQ(rc, CAviWriter::kOk) << problem.toStdString();
            EXPECT_EQ(StoredAudio(movie), t.samples);
        } else {
            EXPECT_NE(rc, CAviWriter::kOk);
            EXPECT_EQ(problem, t.problem);
            EXPECT_EQ(FileBytes(movie), before);
        }
        EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files).size(), 2) << "nothing left beside it";
    }
}

// A long recording goes in a packet at a time: several files, each larger than a packet and
// none a whole number of them, come out in order, sample for sample. The files stay open, so
// a name given a new file after its track was added changes nothing; a track that can no
// longer be read fails the next addition and keeps what was added before it.
TEST(VoiceTrack, RecordingsAreStreamedIntoTheMovie)
{
    PX_REQUIRE_FFMPEG();
    TempFolder dir;
    const QString movie = dir.File("movie.avi");
    ASSERT_TRUE(MakeMovie(movie));
    // 48 kHz 16-bit stereo: half a second, one packet, is 96000 bytes.
    const QByteArray stereo = Format(1, 2, 48000, 4, 16);
    const QByteArray parts[] = {NoiseBytes(4 * 100001, 1), NoiseBytes(4 * 3, 2),
                                NoiseBytes(4 * 250017, 3)};
    CAviWriter writer;
    ASSERT_TRUE(writer.OpenExisting(movie));
    for (int i = 0; i < 3; ++i) {
        const QString wav = dir.File(QStringLiteral("part%1.wav").arg(i));
        ASSERT_NO_FATAL_FAILURE(WriteFile(wav, Wave(stereo, parts[i])));
        EXPECT_EQ(writer.AddWaveFile(wav), CAviWriter::kOk) << i;
    }
    EXPECT_EQ(writer.AudioPosition(), 100001 + 3 + 250017);
    // Another recording under the first one's name.
    ASSERT_NO_FATAL_FAILURE(WriteFile(dir.File("other.wav"), Wave(stereo, NoiseBytes(4000, 9))));
    ASSERT_TRUE(QFile::remove(dir.File("part0.wav")));
    ASSERT_TRUE(QFile::rename(dir.File("other.wav"), dir.File("part0.wav")));
    ASSERT_NO_FATAL_FAILURE(WriteFile(dir.File("last.wav"), Wave(stereo, NoiseBytes(400, 4))));
    // The third recording loses its end while the writer holds it.
    ASSERT_TRUE(QFile::resize(dir.File("part2.wav"), 44 + 4 * 1000));
    QString problem;
    EXPECT_EQ(writer.AddWaveFile(dir.File("last.wav"), &problem), CAviWriter::kErrorFileOpen);
    EXPECT_EQ(problem, "it can no longer be read to its end");
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(StoredAudio(movie), parts[0] + parts[1] + parts[2]);
    EXPECT_EQ(QDir(dir.Path()).entryList({"*.avi"}, QDir::Files), QStringList({"movie.avi"}));
}

} // namespace
