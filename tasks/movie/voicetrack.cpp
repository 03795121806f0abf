#include "voicetrack.h"

#include "wavefile.h"

#include <QFile>

QString VoiceFormatProblem(const CWaveFile &layout)
{
    if (layout.SampleFormat() != CWaveFile::kFormatPcm)
        return QStringLiteral("format %1 sound cannot go into the movie (only PCM can)")
            .arg(layout.SampleFormat());
    const int bits = layout.BitsPerSample();
    // The sample sizes the movie's PCM stream has a codec for.
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return QStringLiteral("%1-bit samples cannot go into the movie (8, 16, 24 or 32 can)")
            .arg(bits);
    const int channels = layout.Channels();
    if (channels < 1 || channels > 2)
        return QStringLiteral("%1 channels cannot go into the movie (1 or 2 can)").arg(channels);
    const qint64 rate = layout.SampleRate();
    if (rate < kMinVoiceRate || rate > kMaxVoiceRate)
        return QStringLiteral("a rate of %1 Hz cannot go into the movie (%2 to %3 Hz can)")
            .arg(rate)
            .arg(kMinVoiceRate)
            .arg(kMaxVoiceRate);
    if (layout.BlockAlign() != channels * bits / 8)
        return QStringLiteral("a block align of %1 does not match %2 %3 of %4-bit samples")
            .arg(layout.BlockAlign())
            .arg(channels)
            .arg(channels == 1 ? QStringLiteral("channel") : QStringLiteral("channels"))
            .arg(bits);
    if (layout.m_sampleCount <= 0)
        return QStringLiteral("it holds no sound");
    return QString();
}

QString OpenVoiceTrack(const QString &path, QFile &file, CWaveFile &layout)
{
    QString why;
    if (!OpenRegularFile(path, file, &why) || !layout.ReadLayout(file, &why)) {
        file.close();
        return why;
    }
    why = VoiceFormatProblem(layout);
    if (!why.isEmpty())
        file.close();
    return why;
}

QString VoiceTrackProblem(const QString &path)
{
    QFile file;
    CWaveFile layout;
    return OpenVoiceTrack(path, file, layout);
}

QString VoiceTrackRefusal(const QString &path, const QString &problem)
{
    return u'\'' + path + QStringLiteral("' is not a PCM WAV file that can be read: ") + problem;
}
