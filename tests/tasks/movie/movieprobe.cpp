#include "movieprobe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

namespace {

QByteArray Run(const QString &program, const QStringList &args, QString *errors = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return {};
    if (errors)
        *errors = QString::fromUtf8(p.readAllStandardError());
    return p.readAllStandardOutput();
}

} // namespace

bool HaveFfmpegTools()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

MovieProbe ProbeMovie(const QString &path)
{
    MovieProbe probe;
    const QByteArray json = Run(
        QStringLiteral("ffprobe"),
        {"-v", "error", "-show_data_hash", "sha256", "-show_entries",
         "stream=codec_type,codec_name,codec_tag_string,width,height,sample_rate,channels,"
         "sample_fmt:packet=stream_index,pts,flags,size,data_hash:format=duration",
         "-of", "json", path});
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    if (root.isEmpty())
        return probe;
    for (const QJsonValue &v : root.value("streams").toArray()) {
        const QJsonObject s = v.toObject();
        probe.streams.append({s.value("codec_type").toString(), s.value("codec_name").toString(),
                              s.value("codec_tag_string").toString(),
                              s.value("sample_fmt").toString(), s.value("width").toInt(),
                              s.value("height").toInt(), s.value("sample_rate").toString().toInt(),
                              s.value("channels").toInt()});
    }
    for (const QJsonValue &v : root.value("packets").toArray()) {
        const QJsonObject p = v.toObject();
        probe.packets.append({p.value("stream_index").toInt(),
                              static_cast<qint64>(p.value("pts").toDouble()),
                              p.value("flags").toString().startsWith(u'K'),
                              p.value("size").toString().toInt(), p.value("data_hash").toString()});
    }
    probe.duration = root.value("format").toObject().value("duration").toString().toDouble();
    probe.ok = true;
    return probe;
}

QList<qint64> VideoPositions(const MovieProbe &probe)
{
    QList<qint64> positions;
    for (const ProbedPacket &p : probe.packets)
        if (p.stream == 0 && p.size > 0)
            positions.append(p.pts);
    return positions;
}

QList<QImage> DecodeFrames(const QString &path, QString *errors)
{
    const MovieProbe probe = ProbeMovie(path);
    if (!probe.ok || probe.streams.isEmpty())
        return {};
    const int w = probe.streams[0].width, h = probe.streams[0].height;
    const QByteArray raw =
        Run(QStringLiteral("ffmpeg"),
            {"-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-f",
             "rawvideo", "-pix_fmt", "rgb24", "-"},
            errors);
    QList<QImage> frames;
    const qsizetype size = qsizetype{w} * h * 3;
    for (qsizetype at = 0; size > 0 && at + size <= raw.size(); at += size) {
        QImage frame(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y)
            std::memcpy(frame.scanLine(y), raw.constData() + at + qsizetype{y} * w * 3,
                        static_cast<size_t>(w) * 3);
        frames.append(frame);
    }
    return frames;
}

QByteArray DecodeAudio(const QString &path)
{
    return Run(QStringLiteral("ffmpeg"),
               {"-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le", "-"});
}

QByteArray StoredAudio(const QString &path)
{
    return Run(QStringLiteral("ffmpeg"),
               {"-v", "error", "-i", path, "-map", "0:a:0", "-c", "copy", "-f", "data", "-"});
}
