#pragma once
// The Create-slideshow record: does nothing per image; when the batch finishes it turns the
// saved images into "Pixorta slideshow.avi" (a black lead-in, every image as a slide with its
// transitions, held for the pause), offers the sound recorder for a voice track and lists the
// movie among the batch's outputs.

#include "pixortatask.h"

class PxImage;
class CAviWriter;

class CPixortaSlideShowTask : public CPixortaTask {
public:
    CPixortaSlideShowTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaSlideShowTask>(*this);
    }

    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // Writes the movie when m_create is set, its voice track (m_voiceFile, or what the
    // recorder gives) included before it replaces anything. False, with no movie listed, any
    // earlier movie left as it was and no partial file left behind, when it could not be
    // written or its voice track cannot go into it (said in a message); an earlier movie that
    // is replaced is backed up into backups first, so undo brings it back.
    bool Finish(QStringList &outputs, const QString &folder, CBackupStore &backups,
                QStringList &extraOutputs) override;
    QString GetDescription() const override;
    bool operator==(const CPixortaSlideShowTask &) const = default;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;

    qint32 m_create{};
    qint32 m_width{};
    qint32 m_height{};
    qint32 m_pause{};
    qint32 m_quality{};
    // Chosen effect names joined by ",", as the panel's lists show them.
    QString m_appearEffects;
    QString m_disappearEffects;
    // A recording to add as the voice track instead of offering the recorder; the file is left
    // where it is.
    QString m_voiceFile;
    // The movie will be made with a voice track from m_voiceFile, which must then pass
    // VoiceTrackProblem (tasks/movie/voicetrack.h) before the batch starts.
    bool UsesVoiceFile() const { return m_create != 0 && !m_voiceFile.isEmpty(); }

    // The effect names of the appear and disappear lists, in their order.
    static const QStringList &AppearEffectNames();
    static const QStringList &DisappearEffectNames();

    // The movie's sides may be 1 to this many pixels.
    static constexpr qint32 kMaxSide = 16384;

private:
    bool WriteMovie(const QStringList &outputs, const QString &path);
};
