#include "undo/backup.h"
#include "core/paths.h"
#include "movieprobe.h"
#include "moviesupport.h"
#include "tasks/movie/aviwriter.h"
#include "tasks/movie/moviewindow.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "tasks/movie/wavefile.h"
#include "tasks/pixortaslideshowtask.h"
#include "imageio/imagefile.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <optional>

namespace {

// A private PulseAudio server whose default source is a 440 Hz sine, started and stopped by
// the test. Qt's audio layer connects to the server named by PULSE_SERVER when it is first
// used, so each test process sets it up before touching any audio.
class SineMicrophone {
public:
    SineMicrophone()
    {
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty() ||
            QStandardPaths::findExecutable("pactl").isEmpty())
            return;
        QDir(m_dir.Path()).mkdir("run");
        QFile::setPermissions(m_dir.File("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("XDG_RUNTIME_DIR", m_dir.File("run"));
        m_env.insert("HOME", m_dir.Path());
        const QString socket = m_dir.File("native");
        m_env.insert("PULSE_SERVER", "unix:" + socket);
        if (Run("pulseaudio",
                {"--daemonize=yes", "--exit-idle-time=-1", "--system=no", "-n",
                 "--use-pid-file=yes", "--log-target=file:" + m_dir.File("pa.log"),
                 "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                 "--load=module-null-sink",
                 "--load=module-sine-source frequency=440 rate=11025"}) != 0)
            return;
        m_started = true;
        QElapsedTimer clock;
        clock.start();
        while (Run("pactl", {"info"}) != 0) {
            if (clock.elapsed() > 10000)
                return;
            QTest::qWait(50);
        }
        if (Run("pactl", {"set-default-source", "sine_input"}) != 0 ||
            Run("pactl", {"set-default-sink", "null"}) != 0)
            return;
        qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_dir.File("run").toUtf8());
        m_ready = true;
    }
    ~SineMicrophone()
    {
        if (m_started)
            Run("pulseaudio", {"--kill"});
    }
    bool Ready() const { return m_ready; }

private:
    int Run(const QString &program, const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(program, args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    TempFolder m_dir;
    QProcessEnvironment m_env;
    bool m_started = false;
    bool m_ready = false;
};

#define PX_REQUIRE_SINE(mic)                                                                   \
    do {                                                                                       \
        if (!(mic).Ready())                                                                    \
            GTEST_FAIL() << "pulseaudio and pactl are not installed or would not start "     \
                            "(run scripts/setup.sh)";                                          \
    } while (0)

QPushButton *Button(QDialog &dlg, const char *name)
{
    return dlg.findChild<QPushButton *>(QLatin1String(name));
}

// A short movie: red for 300 ms, then blue, 64 x 48.
QString ShortMovie(const TempFolder &dir)
{
    const QString path = dir.File("short.avi");
    CAviWriter writer;
    writer.Open(path, "MSVC", 10000, 100, true);
    writer.AddFrame(BlockImage(64, 48, 4, [](int, int) { return QColor(Qt::red); }), 300);
    writer.AddFrame(BlockImage(64, 48, 4, [](int, int) { return QColor(Qt::blue); }), 300);
    writer.Close();
    return path;
}

// Starts recording and waits until at least seconds of sound have arrived.
bool RecordFor(CPixortaSoundRecorderDlg &dlg, double seconds)
{
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    return QTest::qWaitFor([&] { return dlg.RecordedBytes() >= qint64(seconds * 11025) * 2; },
                           20000);
}

TEST(SoundRecorder, RecordsWhileTheMoviePlaysAndSavesTheWave)
{
    SineMicrophone mic;
    PX_REQUIRE_SINE(mic);
    TempFolder dir;
    CPixortaSoundRecorderDlg dlg;
    dlg.m_moviePath = ShortMovie(dir);
    dlg.m_movieWidth = 64;
    dlg.m_movieHeight = 48;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    auto *message = dlg.findChild<QLabel *>("message");
    EXPECT_TRUE(message->text().startsWith("The slideshow is now created."));
    EXPECT_FALSE(Button(dlg, "stopButton")->isEnabled());
    EXPECT_EQ(GetFolderOf(dlg.WavPath()), GetFolderOf(GetBackupFolder() + "/x"));

    ASSERT_TRUE(RecordFor(dlg, 1.0));
    EXPECT_EQ(Button(dlg, "startButton")->text(), "Recording...");
    EXPECT_FALSE(Button(dlg, "startButton")->isEnabled());
    EXPECT_TRUE(Button(dlg, "stopButton")->isEnabled());
    ASSERT_NE(dlg.MovieWindow(), nullptr);
    // The 64 x 48 movie is shown at its own size, centred in the movie area.
    const QRect area = dlg.findChild<QWidget *>("movieArea")->rect();
    EXPECT_EQ(dlg.MovieWindow()->size(), QSize(64, 48));
    EXPECT_EQ(dlg.MovieWindow()->geometry().center(), area.center());

    // Once the movie is over the message says so and blinks.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.MovieWindow()->IsPlaying(); }, 5000));
    EXPECT_LE(ChannelError(dlg.MovieWindow()->CurrentFrame().pixel(10, 10), Qt::blue),
              kRgb555Rounding);
    QSet<bool> seen;
    (void)QTest::qWaitFor([&] {
        seen.insert(message->isVisible());
        return seen.size() == 2;
    }, 3000);
    EXPECT_EQ(seen.size(), 2);
    EXPECT_TRUE(message->text().startsWith("The movie is over, you can stop (\"Stop and Save\""));

    QTest::mouseClick(Button(dlg, "stopButton"), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    CWaveFile wave;
    ASSERT_TRUE(wave.ReadWave(dlg.WavPath()));
    EXPECT_EQ(wave.Channels(), 1);
    EXPECT_EQ(wave.SamplesPerSecond(), 11025);
    EXPECT_EQ(wave.BitsPerSample(), 16);
    EXPECT_GE(wave.m_sampleCount, 11025);
    QFile::remove(dlg.WavPath());
}

TEST(SoundRecorder, TheSlideshowGetsTheRecordingAsItsVoiceTrack)
{
    PX_REQUIRE_FFMPEG();
    SineMicrophone mic;
    PX_REQUIRE_SINE(mic);
    TempFolder dir;
    PxImage slide = BlockImage(64, 48, 4, PatternColour);
    ASSERT_TRUE(SaveImageFile(slide, dir.File("a.bmp")));

    QByteArray recorded;
    QString wavPath;
    const SoundRecorderRunner previous =
        SetSoundRecorderRunner([&](const QString &movie, int w, int h) {
            CPixortaSoundRecorderDlg dlg;
            dlg.m_moviePath = movie;
            dlg.m_movieWidth = w;
            dlg.m_movieHeight = h;
            dlg.show();
            EXPECT_TRUE(RecordFor(dlg, 0.5));
            QTest::mouseClick(Button(dlg, "stopButton"), Qt::LeftButton);
            CWaveFile wave;
            EXPECT_TRUE(wave.ReadWave(dlg.WavPath()));
            recorded = wave.m_data;
            wavPath = dlg.WavPath();
            return dlg.result() == QDialog::Accepted ? dlg.WavPath() : QString();
        });
    CPixortaSlideShowTask task;
    task.m_create = 1;
    task.m_width = 64;
    task.m_height = 48;
    const MovieProbe before = [&] {
        // The same movie without a voice, for its video packets.
        const SoundRecorderRunner mine = SetSoundRecorderRunner({});
        SetSoundRecorderRunner([](const QString &, int, int) { return QString(); });
        QStringList outputs{dir.File("a.bmp")}, extra;
        CRunBackupStore backups;
        task.Finish(outputs, dir.Path(), backups, extra);
        SetSoundRecorderRunner(mine);
        return ProbeMovie(extra.value(0));
    }();
    QStringList outputs{dir.File("a.bmp")}, extra;
    CRunBackupStore backups;
    ASSERT_TRUE(task.Finish(outputs, dir.Path(), backups, extra));
    SetSoundRecorderRunner(previous);

    const MovieProbe after = ProbeMovie(extra.value(0));
    ASSERT_EQ(after.streams.size(), 2);
    EXPECT_EQ(after.streams[1].codec, "pcm_s16le");
    EXPECT_EQ(after.streams[1].sampleRate, 11025);
    EXPECT_EQ(after.streams[1].channels, 1);
    EXPECT_GE(recorded.size(), 11025);
    EXPECT_EQ(DecodeAudio(extra.value(0)), recorded);
    QStringList hashesBefore, hashesAfter;
    for (const ProbedPacket &p : before.packets)
        hashesBefore << QString::number(p.pts) + p.hash;
    for (const ProbedPacket &p : after.packets)
        if (p.stream == 0)
            hashesAfter << QString::number(p.pts) + p.hash;
    EXPECT_EQ(hashesAfter, hashesBefore);
    EXPECT_FALSE(wavPath.isEmpty());
    EXPECT_FALSE(QFile::exists(wavPath));
}

TEST(SoundRecorder, WithoutAMicrophoneAndWhenCancelled)
{
    // No server answers here: recording cannot start, and the recorder says so instead of
    // pretending to record.
    TempFolder dir;
    qputenv("PULSE_SERVER", ("unix:" + dir.File("nobody")).toUtf8());
    QElapsedTimer clock;
    clock.start();
    CPixortaSoundRecorderDlg dlg;
    dlg.m_moviePath = ShortMovie(dir);
    dlg.show();
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_NE(Button(dlg, "startButton")->text(), "Recording...");
    EXPECT_FALSE(Button(dlg, "stopButton")->isEnabled());
    EXPECT_TRUE(dlg.findChild<QLabel *>("message")->text().startsWith("No microphone was found."));
    EXPECT_FALSE(dlg.IsRecording());
    EXPECT_FALSE(QFile::exists(dlg.WavPath()));

    // Cancel, Escape and the close box all ask; No keeps the recorder open, Yes deletes the
    // recording.
    const QString wav = dlg.WavPath();
    QFile planted(wav);
    ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
    planted.close();
    MessageRecorder messages;
    messages.Answer(MsgAnswer::No);
    messages.Answer(MsgAnswer::No);
    messages.Answer(MsgAnswer::No);
    QTest::mouseClick(Button(dlg, "cancelButton"), Qt::LeftButton);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(messages.Texts(), QStringList(3, "Are you sure you want to exit sound recorder?"));
    EXPECT_TRUE(QFile::exists(wav));
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_FALSE(QFile::exists(wav));
    EXPECT_TRUE(dlg.WavPath().isEmpty());
}

// Stands in for the microphone: starts or not as told, writes what the test gives it, and
// fails when the test says so.
class FakeInput : public CVoiceInput {
public:
    explicit FakeInput(bool starts) : m_starts(starts) {}
    bool Start(QIODevice *sink) override
    {
        m_sink = sink;
        return m_starts;
    }
    void Stop() override { m_sink = nullptr; }
    void Deliver(const QByteArray &samples)
    {
        if (m_sink)
            m_sink->write(samples);
    }
    void Fail() { emit failed(); }

private:
    bool m_starts;
    QIODevice *m_sink = nullptr;
};

// Installs a finder for the recorders made while it lives: "no device" when starts is empty.
class FakeMicrophone {
public:
    explicit FakeMicrophone(std::optional<bool> starts)
    {
        // Captured as two plain values: GCC cannot see an optional through std::function.
        const bool found = starts.has_value(), willStart = starts.value_or(false);
        m_previous = SetVoiceInputFinder([this, found, willStart]() -> std::unique_ptr<CVoiceInput> {
            if (!found)
                return nullptr;
            auto input = std::make_unique<FakeInput>(willStart);
            input_ = input.get();
            return input;
        });
    }
    ~FakeMicrophone() { SetVoiceInputFinder(m_previous); }
    FakeInput *input_ = nullptr;

private:
    VoiceInputFinder m_previous;
};

QString MessageOf(CPixortaSoundRecorderDlg &dlg)
{
    return dlg.findChild<QLabel *>("message")->text();
}

// With no microphone to be found, or one that will not start, or one that stops before it
// gave anything, the recorder never claims to record; the movie plays all the same and the
// user can go on to a movie without a voice.
TEST(SoundRecorder, WithoutAWorkingMicrophoneTheMovieGoesOnWithoutAVoice)
{
    enum class Road { NoDevice, WillNotStart, StopsAtOnce };
    for (const Road road : {Road::NoDevice, Road::WillNotStart, Road::StopsAtOnce}) {
        SCOPED_TRACE(static_cast<int>(road));
        TempFolder dir;
        const std::optional<bool> starts =
            road == Road::NoDevice ? std::nullopt : std::optional<bool>(road != Road::WillNotStart);
        FakeMicrophone mic(starts);
        MessageRecorder messages;
        CPixortaSoundRecorderDlg dlg;
        dlg.m_moviePath = ShortMovie(dir);
        dlg.m_movieWidth = 64;
        dlg.m_movieHeight = 48;
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        auto *without = Button(dlg, "withoutVoiceButton");
        if (road == Road::NoDevice) {
            // Found out before anything is offered.
            EXPECT_FALSE(Button(dlg, "startButton")->isEnabled());
        } else {
            EXPECT_TRUE(MessageOf(dlg).startsWith("The slideshow is now created."));
            EXPECT_FALSE(without->isVisible());
            QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
            if (road == Road::StopsAtOnce) {
                EXPECT_EQ(Button(dlg, "startButton")->text(), "Recording...");
                mic.input_->Fail();
            }
        }
        EXPECT_TRUE(MessageOf(dlg).startsWith("No microphone was found."))
            << MessageOf(dlg).toStdString();
        EXPECT_NE(Button(dlg, "startButton")->text(), "Recording...");
        EXPECT_FALSE(Button(dlg, "startButton")->isEnabled());
        EXPECT_FALSE(Button(dlg, "stopButton")->isEnabled());
        EXPECT_FALSE(dlg.IsRecording());
        EXPECT_FALSE(QFile::exists(dlg.WavPath()));
        ASSERT_NE(dlg.MovieWindow(), nullptr);
        EXPECT_TRUE(dlg.MovieWindow()->isVisible());
        EXPECT_TRUE(dlg.MovieWindow()->IsPlaying());
        EXPECT_EQ(dlg.MovieWindow()->size(), QSize(64, 48));

        ASSERT_TRUE(without->isVisible());
        EXPECT_EQ(without->accessibleName(), "Make the movie without a voice");
        QTest::mouseClick(without, Qt::LeftButton);
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_TRUE(dlg.WavPath().isEmpty());
        EXPECT_TRUE(messages.Messages().empty()) << "nothing to ask: no recording is lost";
    }
}

// A microphone that stops after it gave some sound leaves a recording "Stop and save" keeps;
// "Stop and save" with nothing recorded keeps nothing and says so.
TEST(SoundRecorder, StopAndSaveKeepsOnlyWhatWasRecorded)
{
    for (const int samples : {0, 2000}) {
        SCOPED_TRACE(samples);
        TempFolder dir;
        FakeMicrophone mic(true);
        MessageRecorder messages;
        CPixortaSoundRecorderDlg dlg;
        dlg.m_moviePath = ShortMovie(dir);
        dlg.show();
        QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
        ASSERT_NE(mic.input_, nullptr);
        EXPECT_TRUE(dlg.IsRecording());
        EXPECT_TRUE(Button(dlg, "stopButton")->isEnabled());
        const QByteArray sound = SoundSamples(samples);
        if (samples > 0) {
            mic.input_->Deliver(sound);
            mic.input_->Fail();
            EXPECT_FALSE(dlg.IsRecording());
            EXPECT_NE(Button(dlg, "startButton")->text(), "Recording...");
            EXPECT_TRUE(MessageOf(dlg).startsWith("The microphone stopped recording."));
            EXPECT_TRUE(Button(dlg, "stopButton")->isEnabled());
        }
        const QString wav = dlg.WavPath();
        QTest::mouseClick(Button(dlg, "stopButton"), Qt::LeftButton);
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        if (samples == 0) {
            EXPECT_EQ(messages.Texts(), QStringList({"Nothing was recorded: the movie is made "
                                                     "without a voice track."}));
            EXPECT_TRUE(dlg.WavPath().isEmpty());
            EXPECT_FALSE(QFile::exists(wav));
        } else {
            EXPECT_TRUE(messages.Messages().empty());
            CWaveFile wave;
            ASSERT_TRUE(wave.ReadWave(dlg.WavPath()));
            EXPECT_EQ(wave.m_data, sound);
            QFile::remove(dlg.WavPath());
        }
    }
}

TEST(SoundRecorder, TheBatchWritesTheMovieWithoutAVoiceWhenThereIsNoMicrophone)
{
    PX_REQUIRE_FFMPEG();
    TempFolder dir;
    PxImage slide = BlockImage(64, 48, 4, PatternColour);
    ASSERT_TRUE(SaveImageFile(slide, dir.File("a.bmp")));
    FakeMicrophone mic(std::nullopt);
    bool offered = false;
    const SoundRecorderRunner previous =
        SetSoundRecorderRunner([&](const QString &movie, int w, int h) {
            CPixortaSoundRecorderDlg dlg;
            dlg.m_moviePath = movie;
            dlg.m_movieWidth = w;
            dlg.m_movieHeight = h;
            dlg.show();
            auto *without = Button(dlg, "withoutVoiceButton");
            offered = without->isVisible() && dlg.MovieWindow() && dlg.MovieWindow()->IsPlaying();
            QTest::mouseClick(without, Qt::LeftButton);
            return dlg.result() == QDialog::Accepted ? dlg.WavPath() : QString("rejected");
        });
    CPixortaSlideShowTask task;
    task.m_create = 1;
    task.m_width = 64;
    task.m_height = 48;
    QStringList outputs{dir.File("a.bmp")}, extra;
    CRunBackupStore backups;
    const bool finished = task.Finish(outputs, dir.Path(), backups, extra);
    SetSoundRecorderRunner(previous);
    ASSERT_TRUE(finished);
    EXPECT_TRUE(offered);
    const MovieProbe movie = ProbeMovie(extra.value(0));
    ASSERT_TRUE(movie.ok);
    ASSERT_EQ(movie.streams.size(), 1) << "a video stream and no sound";
    EXPECT_NE(movie.streams[0].codec, "pcm_s16le");
    EXPECT_FALSE(movie.packets.empty());
}

} // namespace
