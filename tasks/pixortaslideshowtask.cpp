#include "pixortaslideshowtask.h"

#include "imageio/imagefile.h"
#include "undo/pathlock.h"
#include "core/cores.h"
#include "core/paths.h"
#include "engine/pximage.h"
#include "tasksettings.h"
#include "tasks/movie/aviwriter.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "tasks/movie/slideshowrenderer.h"
#include "tasks/movie/voicetrack.h"
#include "ui/uiseams.h"

#include <algorithm>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kLeadInMs = 3000;
constexpr qint64 kTransitionFrameMs = 110;
constexpr qint64 kEndingMs = 80;
// Stream samples per second of the movie's time line.
constexpr int kRate = 100;

bool ExistsAnything(const QString &path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(ToFsPath(path), ec));
}

void RemoveFile(const QString &path)
{
    std::error_code ec;
    std::filesystem::remove(ToFsPath(path), ec);
}

// Turns slides into frames on one writer: the transitions between them and the held slides.
class SlideEmitter {
public:
    SlideEmitter(CAviWriter &writer, const CPixortaSlideShowTask &task)
        : m_writer(writer), m_width(task.m_width), m_height(task.m_height),
          m_pauseMs(std::max<qint64>(task.m_pause, 0) * 1000),
          m_appear(SplitEffects(task.m_appearEffects)),
          m_disappear(SplitEffects(task.m_disappearEffects))
    {
    }

    // The disappear transition of previous (when valid), then current (when valid) coming in
    // and held for the pause.
    bool Emit(const PxImage &previous, const PxImage &current)
    {
        if (previous.IsValid() && !m_disappear.isEmpty() &&
            !Transition(previous, TransitionMode::Disappear, m_disappear, kTransitionFrameMs))
            return false;
        if (!current.IsValid())
            return true;
        if (m_appear.isEmpty())
            return m_writer.AddFrame(current, m_pauseMs);
        return Transition(current, TransitionMode::Appear, m_appear, m_pauseMs);
    }

    // The last slide: shown once more for a moment (the movie ends at its last frame), or
    // taken away by its disappear transition.
    bool End(const PxImage &last)
    {
        if (m_disappear.isEmpty())
            return m_writer.AddFrame(last, kEndingMs);
        return Emit(last, PxImage());
    }

private:
    // The seven frames do not depend on each other: they are rendered side by side (each
    // reads the slide and writes only its own frame) and written in order.
    bool Transition(const PxImage &slide, TransitionMode mode, const QStringList &effects,
                    qint64 lastFrameMs)
    {
        PxImage frames[kTransitionFrames];
        bool rendered[kTransitionFrames] = {};
        const int threads = std::min(UsableCores(), kTransitionFrames);
        std::vector<std::thread> workers;
        for (int t = 1; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (int i = t; i < kTransitionFrames; i += threads)
                    rendered[i] = RenderTransitionFrame(slide, mode, effects, m_width, m_height,
                                                        i, frames[i]);
            });
        for (int i = 0; i < kTransitionFrames; i += threads)
            rendered[i] =
                RenderTransitionFrame(slide, mode, effects, m_width, m_height, i, frames[i]);
        for (std::thread &w : workers)
            w.join();
        for (int i = 0; i < kTransitionFrames; ++i)
            if (!rendered[i] ||
                !m_writer.AddFrame(frames[i], i + 1 < kTransitionFrames ? kTransitionFrameMs
                                                                         : lastFrameMs))
                return false;
        return true;
    }

    CAviWriter &m_writer;
    int m_width, m_height;
    qint64 m_pauseMs;
    QStringList m_appear, m_disappear;
};

} // namespace

CPixortaSlideShowTask::CPixortaSlideShowTask() : CPixortaTask(TaskCreateSlideshow)
{
    ApplyDefaults(*this, Declared());
}

const TaskSettingList &CPixortaSlideShowTask::Declared()
{
    using R = CPixortaSlideShowTask;
    static const TaskSettingList settings = {
        FlagSetting<R>({.key = "create",
                        .option = "--slideshow",
                        .defaultValue = "no",
                        .help = "create the movie"},
                       &R::m_create),
        NumberSetting<R>({.key = "pause",
                          .option = "--pause",
                          .noun = "a number of seconds",
                          .defaultValue = "5",
                          .valueName = "S",
                          .help = "seconds each slide is shown (default %default%)"},
                         &R::m_pause),
        ChoiceSetting<R>({.key = "appear",
                          .option = "--appear",
                          .noun = "effect names separated by commas",
                          .choices = AppearEffectNames(),
                          .several = true,
                          .valueName = "LIST",
                          .help = "effects that bring a slide in, separated by commas: %choices%"},
                         &R::m_appearEffects),
        ChoiceSetting<R>({.key = "disappear",
                          .option = "--disappear",
                          .noun = "effect names separated by commas",
                          .choices = DisappearEffectNames(),
                          .several = true,
                          .valueName = "LIST",
                          .help = "effects that take a slide away: %choices%"},
                         &R::m_disappearEffects),
        NumberSetting<R>({.key = "width",
                          .option = "--movie-width",
                          .min = 1,
                          .max = kMaxSide,
                          .noun = "a number of pixels",
                          .defaultValue = "1024",
                          .valueName = "N",
                          .help = "movie width in pixels, %min% to %max% (default %default%)"},
                         &R::m_width),
        NumberSetting<R>({.key = "height",
                          .option = "--movie-height",
                          .min = 1,
                          .max = kMaxSide,
                          .noun = "a number of pixels",
                          .defaultValue = "768",
                          .valueName = "N",
                          .help = "movie height in pixels, %min% to %max% (default %default%)"},
                         &R::m_height),
        NumberSetting<R>({.key = "quality",
                          .option = "--movie-quality",
                          .min = 5,
                          .max = 100,
                          .percent = true,
                          .noun = "a percentage",
                          .defaultValue = "80",
                          .valueName = "Q",
                          .help = "%min% to %max% percent (default %default%); lower makes a "
                                  "smaller movie"},
                         &R::m_quality),
        TextSetting<R>({.key = "voice",
                        .option = "--voice",
                        .noun = "a WAV file",
                        .valueName = "WAV",
                        .help = "add this PCM WAV recording as the movie's voice track: 8, 16, 24 "
                                "or 32-bit samples, mono or stereo, 8000 to 192000 Hz (the file "
                                "is left as it is)"},
                       &R::m_voiceFile),
    };
    return settings;
}

const QStringList &CPixortaSlideShowTask::AppearEffectNames()
{
    static const QStringList names = {
        QStringLiteral("Lighten"),          QStringLiteral("Enter from left"),
        QStringLiteral("Enter from right"), QStringLiteral("Enter from top"),
        QStringLiteral("Enter from bottom"), QStringLiteral("Zoom in"),
        QStringLiteral("Zoom out"),         QStringLiteral("Rotate right"),
        QStringLiteral("Rotate left"),
    };
    return names;
}

const QStringList &CPixortaSlideShowTask::DisappearEffectNames()
{
    static const QStringList names = {
        QStringLiteral("Darken"),         QStringLiteral("Away to left"),
        QStringLiteral("Away to right"),  QStringLiteral("Away to top"),
        QStringLiteral("Away to bottom"), QStringLiteral("Zoom in"),
        QStringLiteral("Zoom out"),       QStringLiteral("Rotate right"),
        QStringLiteral("Rotate left"),
    };
    return names;
}

CPixortaTask::Outcome CPixortaSlideShowTask::PredictOutcome(const QString &, quint32,
                                                            quint32) const
{
    return Outcome::Unchanged;
}

bool CPixortaSlideShowTask::Apply(PxImage &, bool &modified, QString)
{
    modified = false;
    return true;
}

QString CPixortaSlideShowTask::GetDescription() const
{
    return QStringLiteral("Create slideshow");
}

bool CPixortaSlideShowTask::WriteMovie(const QStringList &outputs, const QString &path)
{
    CAviWriter writer(false);
    const qint64 quality = std::clamp<qint64>(qint64{m_quality} * 100, 1, 10000);
    if (!writer.Open(path, QStringLiteral("MSVC"), static_cast<int>(quality), kRate, true))
        return false;
    PxImage black;
    if (!black.Create(static_cast<uint32_t>(m_width), static_cast<uint32_t>(m_height), 24) ||
        !writer.AddFrame(black, kLeadInMs))
        return false;

    SlideEmitter emitter(writer, *this);
    PxImage previous;
    for (const QString &source : outputs) {
        PxImage slide;
        // An image that cannot be loaded gives no frame at all.
        if (!LoadImageFile(slide, source) || !Letterbox(slide, m_width, m_height))
            continue;
        if (!emitter.Emit(previous, slide))
            return false;
        previous.Transfer(slide);
    }
    // The movie ends after the last slide that was shown, also when the images after it could
    // not be loaded.
    if (previous.IsValid() && !emitter.End(previous))
        return false;
    return writer.Close();
}

bool CPixortaSlideShowTask::Finish(QStringList &outputs, const QString &folder,
                                   CBackupStore &backups, QStringList &extraOutputs)
{
    if (m_create == 0)
        return true;
    if (m_width < 1 || m_width > kMaxSide || m_height < 1 || m_height > kMaxSide) {
        ShowMessage(QStringLiteral("The movie width and height must be from 1 to %1 pixels.")
                        .arg(kMaxSide),
                    QStringLiteral("Error"), MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    const QString moviePath = JoinPath(folder, QStringLiteral("Pixorta slideshow.avi"));
    const auto refuseVoice = [](const QString &wave, const QString &problem) {
        ShowMessage(QStringLiteral("The slideshow movie was not made: ") +
                        VoiceTrackRefusal(wave, problem) + u'.',
                    QStringLiteral("Error"), MsgButtons::Ok, MsgIcon::Error);
        return false;
    };
    // A named track that cannot go into the movie costs no movie-making to find out.
    if (!m_voiceFile.isEmpty())
        if (const QString problem = VoiceTrackProblem(m_voiceFile); !problem.isEmpty())
            return refuseVoice(m_voiceFile, problem);

    // The new movie is made apart, voice and all, and replaces an earlier one only once it is
    // complete: until then the earlier movie is as it was, and nothing needs undoing.
    const QString partial = MakeUniquePath(folder, QStringLiteral("Pixorta slideshow"),
                                           QStringLiteral("avi"), true);
    if (partial.isEmpty())
        return false;
    if (!WriteMovie(outputs, partial)) {
        RemoveFile(partial);
        return false;
    }

    // The recorder plays the new movie while the voice is recorded over it.
    const bool recorded = m_voiceFile.isEmpty();
    const QString wave = recorded ? RunSoundRecorder(partial, m_width, m_height) : m_voiceFile;
    if (!wave.isEmpty()) {
        QString problem;
        CAviWriter voice(false);
        bool added = false;
        if (!voice.OpenExisting(partial))
            problem = QStringLiteral("the movie cannot be read back to add it");
        else if (voice.AddWaveFile(wave, &problem) == CAviWriter::kOk)
            added = voice.Close();
        if (!added && problem.isEmpty())
            problem = QStringLiteral("the movie with its sound track cannot be written");
        // Whether the recording is to blame, or the movie it was to go into.
        const QString waveProblem = added ? QString() : VoiceTrackProblem(wave);
        if (recorded)
            RemoveFile(wave);
        if (!added) {
            RemoveFile(partial);
            if (!waveProblem.isEmpty())
                return refuseVoice(wave, waveProblem);
            ShowMessage(QStringLiteral("The slideshow movie was not made: the voice track '") +
                            wave + QStringLiteral("' could not be added to it: ") + problem +
                            u'.',
                        QStringLiteral("Error"), MsgButtons::Ok, MsgIcon::Error);
            return false;
        }
    }

    // An earlier movie is kept in the backups, so undo can bring it back; one that cannot be
    // backed up is not replaced. No other batch replaces the movie in between.
    const CPathLock lock(moviePath);
    if (!lock.Held() || (ExistsAnything(moviePath) && backups.Keep(moviePath).IsEmpty())) {
        RemoveFile(partial);
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(ToFsPath(partial), ToFsPath(moviePath), ec);
    if (ec) {
        RemoveFile(partial);
        return false;
    }
    backups.Replaced(moviePath);
    extraOutputs.append(moviePath);
    return true;
}
