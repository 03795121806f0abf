#include "imageio/imagefile.h"
#include "core/paths.h"
#include "media/moviedecoder.h"
#include "movieprobe.h"
#include "moviesupport.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "tasks/movie/voicetrack.h"
#include "tasks/movie/wavefile.h"
#include "tasks/pixortaslideshowtask.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>

#include <sys/stat.h>

namespace {

const QString kMovieName = QStringLiteral("Pixorta slideshow.avi");

// Every test replaces the recorder: a real dialog would wait for a person.
class RecorderStub {
public:
    explicit RecorderStub(QString wav = QString(), std::function<void(const QString &)> seen = {})
    {
        m_previous = SetSoundRecorderRunner([this, wav, seen](const QString &movie, int w, int h) {
            calls.append(QStringLiteral("%1 %2x%3").arg(movie).arg(w).arg(h));
            playable.append(IsMovieFile(movie));
            if (seen)
                seen(movie);
            return wav;
        });
    }
    ~RecorderStub() { SetSoundRecorderRunner(m_previous); }
    QStringList calls;
    // Whether the movie the recorder was given could be played then.
    QList<bool> playable;

private:
    SoundRecorderRunner m_previous;
};

CPixortaSlideShowTask Task(const QString &appear = {}, const QString &disappear = {},
                           int quality = 80, int width = 1024, int height = 768)
{
    CPixortaSlideShowTask task;
    task.m_create = 1;
    task.m_appearEffects = appear;
    task.m_disappearEffects = disappear;
    task.m_quality = quality;
    task.m_width = width;
    task.m_height = height;
    return task;
}

QString SaveSlide(const TempFolder &dir, const QString &name, PxImage image)
{
    const QString path = dir.File(name);
    EXPECT_TRUE(SaveImageFile(image, path));
    return path;
}

PxImage Flat(int w, int h, const QColor &c)
{
    return BlockImage(w, h, 4, [c](int, int) { return c; });
}

// Runs Finish into dir; the movie's path, or "" when none was listed.
QString MakeMovie(CPixortaSlideShowTask &task, const TempFolder &dir, QStringList outputs,
                  bool *result = nullptr)
{
    CRunBackupStore backups;
    QStringList extra;
    const bool ok = task.Finish(outputs, dir.Path(), backups, extra);
    if (result)
        *result = ok;
    return extra.isEmpty() ? QString() : extra.front();
}

TEST(SlideShowTask, SlidesAndTransitionsOnTheTimeLine)
{
    PX_REQUIRE_FFMPEG();
    RecorderStub recorder;
    TempFolder dir;
    const QString a = SaveSlide(dir, "a.bmp", Flat(64, 48, Qt::red));
    const QString b = SaveSlide(dir, "b.png", Flat(300, 100, Qt::green));
    const QString c = SaveSlide(dir, "c.bmp", Flat(8, 8, Qt::blue));
    const QString broken = dir.File("broken.jpg");
    QFile(broken).open(QIODevice::WriteOnly);

    const struct {
        QString appear, disappear;
        QStringList slides;
        QList<qint64> positions;
    } rows[] = {
        // Lead-in, three slides held 5 s, the last one again for 80 ms; images that cannot be
        // loaded give no frame, also at the end.
        {{}, {}, {a, broken, b, c, broken}, {0, 300, 800, 1300, 1800}},
        // Each slide fades in over 7 frames of 110 ms and out over 7 more.
        {"Lighten", "Darken", {a, b},
         {0, 300, 311, 322, 333, 344, 355, 366, 866, 877, 888, 899, 910, 921, 932, 943, 954, 965,
          976, 987, 998, 1009, 1509, 1520, 1531, 1542, 1553, 1564, 1575}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.appear.toStdString());
        CPixortaSlideShowTask task = Task(row.appear, row.disappear);
        const QString movie = MakeMovie(task, dir, row.slides);
        EXPECT_EQ(movie, JoinPath(dir.Path(), kMovieName));
        const MovieProbe probe = ProbeMovie(movie);
        ASSERT_EQ(probe.streams.size(), 1);
        EXPECT_EQ(probe.streams[0].tag, "MSVC");
        EXPECT_EQ(probe.streams[0].width, 1024);
        EXPECT_EQ(probe.streams[0].height, 768);
        EXPECT_EQ(VideoPositions(probe), row.positions);
    }
    // The recorder plays the new movie, complete but for its voice, before it has replaced
    // anything: beside the one it will become.
    ASSERT_EQ(recorder.calls.size(), 2);
    EXPECT_TRUE(recorder.calls[0].startsWith(dir.Path() + "/Pixorta slideshow"));
    EXPECT_TRUE(recorder.calls[0].endsWith(".avi 1024x768"));
    EXPECT_NE(recorder.calls[0], JoinPath(dir.Path(), kMovieName) + " 1024x768");
    EXPECT_EQ(recorder.playable, QList<bool>({true, true}));
}

TEST(SlideShowTask, TransitionsAndLetterboxAsDecoded)
{
    PX_REQUIRE_FFMPEG();
    RecorderStub recorder;
    TempFolder dir;
    const PxImage pattern = BlockImage(1024, 768, 4, PatternColour);
    const QString slide = SaveSlide(dir, "pattern.bmp", pattern);

    CPixortaSlideShowTask lighten = Task("Lighten", {}, 100);
    QList<QImage> frames = DecodeFrames(MakeMovie(lighten, dir, {slide}));
    ASSERT_EQ(frames.size(), 9);
    int worstBlack = 0, worstSlide = 0;
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x) {
            worstBlack = std::max(worstBlack, ChannelError(frames[1].pixel(x, y), Qt::black));
            // Light(0, 0) takes one level from values above 128.
            const QColor c = PatternColour(x / 4, y / 4);
            const auto light = [](int v) { return v > 128 ? v - 1 : v; };
            const QColor lit(light(c.red()), light(c.green()), light(c.blue()));
            worstSlide = std::max(worstSlide, ChannelError(frames[7].pixel(x, y), lit));
        }
    EXPECT_EQ(worstBlack, 0);
    EXPECT_LE(worstSlide, kRgb555Rounding);

    // Frame i = 3 of "enter from left" has the slide 510 columns to the left.
    CPixortaSlideShowTask enter = Task("Enter from left", {}, 100);
    frames = DecodeFrames(MakeMovie(enter, dir, {slide}));
    ASSERT_EQ(frames.size(), 9);
    int worstMoved = 0, worstRight = 0;
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x) {
            const QRgb p = frames[4].pixel(x, y);
            if (x <= 513)
                worstMoved = std::max(worstMoved, ChannelError(p, PatternColour((x + 510) / 4, y / 4)));
            else
                worstRight = std::max(worstRight, ChannelError(p, Qt::black));
        }
    EXPECT_LE(worstMoved, kRgb555Rounding);
    EXPECT_EQ(worstRight, 0);

    // A wide image is shrunk to 1024 x 512 between black bands of 128 rows.
    CPixortaSlideShowTask plain = Task({}, {}, 100);
    const QString wide = SaveSlide(dir, "wide.bmp", Flat(2000, 1000, QColor(200, 100, 50)));
    frames = DecodeFrames(MakeMovie(plain, dir, {wide}));
    ASSERT_EQ(frames.size(), 3);
    for (int y : {0, 127, 128, 639, 640, 767}) {
        SCOPED_TRACE(y);
        const bool band = y < 128 || y >= 640;
        EXPECT_EQ(ChannelError(frames[1].pixel(500, y), Qt::black) == 0, band);
    }
}

TEST(SlideShowTask, QualityAndOddSizes)
{
    PX_REQUIRE_FFMPEG();
    RecorderStub recorder;
    TempFolder dir;
    PxImage detailed = BlockImage(640, 480, 1, [](int x, int y) {
        return QColor((x * 7 + y) % 256, (x * y) % 256, (x + y * 5) % 256);
    });
    const QString slide = SaveSlide(dir, "detail.bmp", detailed);
    QByteArray bytes[2];
    for (int i = 0; i < 2; ++i) {
        CPixortaSlideShowTask task = Task("Zoom in", "Rotate left", i == 0 ? 5 : 100);
        QFile movie(MakeMovie(task, dir, {slide}));
        ASSERT_TRUE(movie.open(QIODevice::ReadOnly));
        bytes[i] = movie.readAll();
    }
    EXPECT_LT(bytes[0].size(), bytes[1].size());

    CPixortaSlideShowTask odd = Task("Rotate right", "Away to bottom", 80, 1022, 766);
    QString errors;
    const QList<QImage> frames = DecodeFrames(MakeMovie(odd, dir, {slide}), &errors);
    EXPECT_EQ(frames.size(), 15);
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
}

TEST(SlideShowTask, AReplacedMovieComesBackWithUndo)
{
    RecorderStub recorder;
    TempFolder dir;
    ResetBackupFolderForTests();
    const QString slide = SaveSlide(dir, "a.bmp", Flat(16, 16, Qt::red));
    const QString moviePath = dir.File(kMovieName);
    QFile old(moviePath);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the movie of last week");
    old.close();

    CPixortaSlideShowTask task = Task({}, {}, 80, 64, 48);
    QStringList outputs{slide}, extra;
    CHistoryBackupStore backups(QStringLiteral("Processing all images"));
    ASSERT_TRUE(task.Finish(outputs, dir.Path(), backups, extra));
    ASSERT_EQ(backups.Entries().size(), 1);
    EXPECT_EQ(backups.Entries()[0].overwrittenPath, moviePath);
    EXPECT_GT(QFile(moviePath).size(), 100);
    // Nothing but the slide, the movie and nothing half-written stays in the folder.
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files).size(), 2);

    UndoHistory::Instance().Clear();
    backups.End();
    MessageRecorder messages;
    ASSERT_TRUE(UndoLastOperation());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "the movie of last week");
    RemoveBackupFolder();
    ResetBackupFolderForTests();
}

// Hears what the finishing step tells its store, with what the movie held at the time.
class SpyStore final : public CBackupStore {
public:
    explicit SpyStore(bool canKeep) : m_canKeep(canKeep) {}
    BackupEntry Keep(const QString &path, const std::optional<FileDigest> & = {}) override
    {
        QFile f(path);
        calls << "keep " + (f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : "?");
        return m_canKeep ? m_run.Keep(path) : BackupEntry{};
    }
    void Replaced(const QString &path, const std::optional<FileDigest> & = {}) override
    {
        calls << "replaced " + QString::number(QFileInfo(path).size());
    }
    bool End() override { return m_run.End(); }
    const QList<BackupEntry> &Entries() const override { return m_run.Entries(); }
    const QList<CreatedFile> &Created() const override { return m_run.Created(); }
    QStringList calls;

private:
    bool m_canKeep;
    CRunBackupStore m_run;
};

// The earlier movie is kept while it is still there; the new one is said to be replaced only
// once its voice is in, so a journal records the movie the batch left. An earlier movie that
// cannot be kept stays.
TEST(SlideShowTask, TheStoreKeepsTheEarlierMovieFirstAndHearsOfTheFinishedOne)
{
    RecorderStub recorder;
    TempFolder dir;
    ResetBackupFolderForTests();
    const QString slide = SaveSlide(dir, "a.bmp", Flat(16, 16, Qt::red));
    const QString moviePath = dir.File(kMovieName);
    CWaveWriter wav;
    ASSERT_TRUE(wav.Open(dir.File("voice.wav"), 1, 11025, 16));
    const QByteArray samples = SoundSamples(3000);
    ASSERT_TRUE(wav.Write(samples.constData(), samples.size()));
    ASSERT_TRUE(wav.Finish());
    const struct {
        const char *name;
        bool earlier, canKeep, finished;
    } rows[] = {
        {"replaces a movie", true, true, true},
        {"a new movie", false, true, true},
        {"a movie that cannot be kept", true, false, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(moviePath);
        if (row.earlier) {
            QFile old(moviePath);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("the movie of last week");
        }
        CPixortaSlideShowTask task = Task({}, {}, 80, 64, 48);
        task.m_voiceFile = dir.File("voice.wav");
        SpyStore store(row.canKeep);
        QStringList outputs{slide}, extra;
        EXPECT_EQ(task.Finish(outputs, dir.Path(), store, extra), row.finished);
        QStringList expected;
        if (row.earlier)
            expected << "keep the movie of last week";
        if (row.finished)
            expected << "replaced " + QString::number(QFileInfo(moviePath).size());
        EXPECT_EQ(store.calls, expected);
        if (!row.finished) {
            QFile kept(moviePath);
            ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
            EXPECT_EQ(kept.readAll(), "the movie of last week");
        }
        EXPECT_EQ(QDir(dir.Path()).entryList({"*.avi"}, QDir::Files), QStringList({kMovieName}))
            << "nothing half-written stays";
    }
    RemoveBackupFolder();
    ResetBackupFolderForTests();
}

// The voice goes into the new movie while it is still apart: until the movie is complete the
// earlier one is untouched and the store has heard nothing, so a batch killed while the voice
// is added leaves the earlier movie as it was and nothing to undo. A recording the movie
// cannot carry is said, and leaves the earlier movie and no partial file.
TEST(SlideShowTask, TheEarlierMovieStaysUntilTheNewOneHasItsVoice)
{
    PX_REQUIRE_FFMPEG();
    TempFolder dir;
    ResetBackupFolderForTests();
    const QString slide = SaveSlide(dir, "a.bmp", Flat(16, 16, Qt::red));
    const QString moviePath = dir.File(kMovieName);
    const QString recorded = dir.File("recorded.wav");
    const QByteArray samples = SoundSamples(4000);
    const struct {
        const char *name;
        QByteArray format;
        bool finished;
    } rows[] = {
        {"a voice that goes in", Format(1, 1, 11025, 2, 16), true},
        {"a voice the movie cannot carry", Format(1, 1, 11025, 2, 12), false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(WriteFile(moviePath, "the movie of last week"));
        ASSERT_NO_FATAL_FAILURE(WriteFile(recorded, Wave(row.format, samples)));
        SpyStore store(true);
        QStringList atRecording;
        RecorderStub recorder(recorded, [&](const QString &) {
            atRecording << QString::fromUtf8(FileBytes(moviePath)) << store.calls.join(u',');
        });
        MessageRecorder messages;
        CPixortaSlideShowTask task = Task({}, {}, 80, 64, 48);
        QStringList outputs{slide}, extra;
        EXPECT_EQ(task.Finish(outputs, dir.Path(), store, extra), row.finished);
        EXPECT_EQ(atRecording, QStringList({"the movie of last week", ""}));
        EXPECT_FALSE(QFile::exists(recorded)) << "the recording was the recorder's";
        if (row.finished) {
            EXPECT_EQ(store.calls, QStringList({"keep the movie of last week",
                                                "replaced " + QString::number(QFileInfo(moviePath).size())}));
            EXPECT_EQ(extra, QStringList({moviePath}));
            EXPECT_EQ(StoredAudio(moviePath), samples);
            EXPECT_TRUE(messages.Messages().empty());
        } else {
            EXPECT_TRUE(store.calls.isEmpty());
            EXPECT_TRUE(extra.isEmpty());
            EXPECT_EQ(FileBytes(moviePath), "the movie of last week");
            EXPECT_EQ(messages.Texts(),
                      QStringList({"The slideshow movie was not made: '" + recorded +
                                   "' is not a PCM WAV file that can be read: 12-bit samples "
                                   "cannot go into the movie (8, 16, 24 or 32 can)."}));
        }
        EXPECT_EQ(QDir(dir.Path()).entryList({"*.avi"}, QDir::Files), QStringList({kMovieName}))
            << "nothing half-written stays";
    }
    RemoveBackupFolder();
    ResetBackupFolderForTests();
}

// A named voice track the movie cannot carry stops the movie before it is made, in the words
// of the check, rather than giving a silent movie as if all were well.
TEST(SlideShowTask, ANamedVoiceTheMovieCannotCarryMakesNoMovie)
{
    TempFolder dir;
    const QString slide = SaveSlide(dir, "a.bmp", Flat(16, 16, Qt::red));
    const QString moviePath = dir.File(kMovieName);
    const QByteArray samples = SoundSamples(1000);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.File("fifo.wav")).constData(), 0600), 0);
    const struct {
        QString file;
        QByteArray bytes;
        const char *problem;
    } rows[] = {
        {"12bit.wav", Wave(Format(1, 1, 11025, 2, 12), samples),
         "12-bit samples cannot go into the movie (8, 16, 24 or 32 can)"},
        {"fast.wav", Wave(Format(1, 1, 2147483647, 2, 16), samples),
         "a rate of 2147483647 Hz cannot go into the movie (8000 to 192000 Hz can)"},
        {"empty.wav", Wave(Format(1, 1, 11025, 2, 16), QByteArray()), "it holds no sound"},
        {"passwd", "root:x:0:0:root:/root:/bin/bash\n", "it is not a WAV file"},
        {"missing.wav", {}, "there is no such file"},
        {"fifo.wav", {}, "it is not a regular file"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file.toStdString());
        const QString path = dir.File(row.file);
        if (!row.bytes.isEmpty()) {
            ASSERT_NO_FATAL_FAILURE(WriteFile(path, row.bytes));
        }
        ASSERT_NO_FATAL_FAILURE(WriteFile(moviePath, "the movie of last week"));
        RecorderStub recorder;
        MessageRecorder messages;
        CPixortaSlideShowTask task = Task({}, {}, 80, 64, 48);
        task.m_voiceFile = path;
        SpyStore store(true);
        QStringList outputs{slide}, extra;
        EXPECT_FALSE(task.Finish(outputs, dir.Path(), store, extra));
        EXPECT_TRUE(extra.isEmpty());
        EXPECT_TRUE(store.calls.isEmpty());
        EXPECT_TRUE(recorder.calls.isEmpty());
        EXPECT_EQ(messages.Texts(),
                  QStringList({"The slideshow movie was not made: " +
                               VoiceTrackRefusal(path, row.problem) + "."}));
        EXPECT_EQ(FileBytes(moviePath), "the movie of last week");
        EXPECT_EQ(QDir(dir.Path()).entryList({"*.avi"}, QDir::Files), QStringList({kMovieName}));
    }
}

TEST(SlideShowTask, NoMovieIsListedWhenNoneWasWritten)
{
    TempFolder dir;
    const QString slide = SaveSlide(dir, "a.bmp", Flat(16, 16, Qt::red));
    const struct {
        int width, height;
        QString folder;
        bool messageShown;
    } rows[] = {
        {0, 48, dir.Path(), true},
        {16385, 48, dir.Path(), true},
        {64, 0, dir.Path(), true},
        {64, 48, dir.File("missing"), false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.width * 100000 + row.height);
        RecorderStub recorder;
        MessageRecorder messages;
        CPixortaSlideShowTask task = Task({}, {}, 80, row.width, row.height);
        QStringList outputs{slide}, extra;
        CRunBackupStore backups;
        EXPECT_FALSE(task.Finish(outputs, row.folder, backups, extra));
        EXPECT_TRUE(extra.isEmpty());
        EXPECT_TRUE(recorder.calls.isEmpty());
        EXPECT_EQ(messages.Messages().empty(), !row.messageShown);
    }
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files).size(), 1);

    // With the master switch off nothing happens at all.
    RecorderStub recorder;
    CPixortaSlideShowTask off = Task();
    off.m_create = 0;
    bool ok = false;
    EXPECT_TRUE(MakeMovie(off, dir, {slide}, &ok).isEmpty());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(recorder.calls.isEmpty());
}

TEST(SlideShowTask, VoiceTrackFromTheRecorderOrAGivenFile)
{
    PX_REQUIRE_FFMPEG();
    TempFolder dir;
    const QString slide = SaveSlide(dir, "a.bmp", Flat(16, 16, Qt::red));
    const QByteArray samples = SoundSamples(5000);
    const auto writeWave = [&](const QString &path) {
        CWaveWriter wav;
        ASSERT_TRUE(wav.Open(path, 1, 11025, 16));
        wav.Write(samples.constData(), samples.size());
        ASSERT_TRUE(wav.Finish());
    };

    const QString recorded = dir.File("recorded.wav");
    writeWave(recorded);
    {
        RecorderStub recorder(recorded);
        CPixortaSlideShowTask task = Task({}, {}, 80, 64, 48);
        const QString movie = MakeMovie(task, dir, {slide});
        EXPECT_EQ(DecodeAudio(movie), samples);
        // The recording was the recorder's; it is gone once it is in the movie.
        EXPECT_FALSE(QFile::exists(recorded));
    }

    const QString given = dir.File("given.wav");
    writeWave(given);
    RecorderStub recorder;
    CPixortaSlideShowTask task = Task({}, {}, 80, 64, 48);
    task.m_voiceFile = given;
    EXPECT_EQ(DecodeAudio(MakeMovie(task, dir, {slide})), samples);
    EXPECT_TRUE(QFile::exists(given));
    EXPECT_TRUE(recorder.calls.isEmpty());
}

TEST(MovieThumbnail, ShowsTheFirstSlideNotTheLeadIn)
{
    RecorderStub recorder;
    TempFolder dir;
    const QString slide = SaveSlide(dir, "a.bmp", Flat(64, 48, QColor(40, 200, 120)));
    const QString other = SaveSlide(dir, "b.bmp", Flat(64, 48, Qt::blue));
    for (const QString &effects : {QString(), QStringLiteral("Lighten,Zoom out")}) {
        SCOPED_TRACE(effects.toStdString());
        CPixortaSlideShowTask task = Task(effects, effects.isEmpty() ? QString() : "Darken",
                                          100, 64, 48);
        const QString movie = MakeMovie(task, dir, {slide, other});
        EXPECT_TRUE(IsMovieFile(movie));
        const QImage thumb = ReadFirstSlide(movie);
        ASSERT_EQ(thumb.size(), QSize(64, 48));
        EXPECT_LE(ChannelError(thumb.pixel(30, 20), QColor(40, 199, 119)), kRgb555Rounding);
    }
    QFile text(dir.File("notes.avi"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a movie");
    text.close();
    EXPECT_TRUE(ReadFirstSlide(text.fileName()).isNull());
    EXPECT_FALSE(IsMovieFile(dir.File("a.bmp")));
}

} // namespace
