#include "pixortawatermarktask.h"

#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "tasksettings.h"

#include <QFileInfo>
#include <QHash>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

// A mark as read: its picture with the coverage of every pixel, or why it could not be read.
struct Mark {
    PxImage picture;
    QString error;
};

} // namespace

// The marks the records of one batch have read, by file. Records are applied on every worker
// at once; the lock makes the first reader of a file the only one.
class WatermarkMarks {
public:
    std::shared_ptr<const Mark> Get(const QString &path)
    {
        std::lock_guard lock(m_mutex);
        std::shared_ptr<const Mark> &mark = m_marks[path];
        if (!mark)
            mark = Read(path);
        return mark;
    }

private:
    static std::shared_ptr<const Mark> Read(const QString &path)
    {
        auto mark = std::make_shared<Mark>();
        if (path.isEmpty()) {
            mark->error = QStringLiteral("no watermark picture was given");
            return mark;
        }
        PxImage file;
        if (!LoadImageFile(file, path)) {
            mark->error = QStringLiteral("the watermark ") + path +
                          QStringLiteral(" cannot be read: ") + DescribeLoadFailure(file, path);
            return mark;
        }
        if (!file.CoverageCopy(mark->picture))
            mark->error = QStringLiteral("the watermark ") + path +
                          QStringLiteral(" cannot be used: ") +
                          QString::fromUtf8(mark->picture.GetLastError());
        return mark;
    }

    std::mutex m_mutex;
    QHash<QString, std::shared_ptr<const Mark>> m_marks;
};

QString WatermarkFileProblem(const QString &file)
{
    if (file.isEmpty())
        return QStringLiteral("no picture file is given");
    const QFileInfo info(file);
    if (!info.exists())
        return QStringLiteral("'") + file + QStringLiteral("' does not exist");
    if (info.isDir())
        return QStringLiteral("'") + file + QStringLiteral("' is a folder, not a picture file");
    return QString();
}

CPixortaWatermarkTask::CPixortaWatermarkTask()
    : CPixortaTask(TaskWatermark), m_marks(std::make_shared<WatermarkMarks>())
{
    ApplyDefaults(*this, Declared());
}

const TaskSettingList &CPixortaWatermarkTask::Declared()
{
    using R = CPixortaWatermarkTask;
    static const TaskSettingList settings = {
        TextSetting<R>({.key = "file",
                        .option = "--watermark",
                        .noun = "a picture file",
                        .valueName = "FILE",
                        .help = "lay the picture FILE (a PNG with transparency, or any format "
                                "read here) over every image"},
                       &R::m_file),
        EnumSetting<R>({.key = "position",
                        .option = "--watermark-position",
                        .choices = PlacementWords(),
                        .defaultValue = "bottom-right",
                        .valueName = "WHERE",
                        .help = "%choices% (default %default%)"},
                       &R::m_position),
        NumberSetting<R>({.key = "size",
                          .option = "--watermark-size",
                          .min = 1,
                          .max = 100,
                          .percent = true,
                          .noun = "a percentage",
                          .defaultValue = "20",
                          .valueName = "P",
                          .help = "the watermark's width in percent of the image width; its "
                                  "height follows (default %default%)"},
                         &R::m_size),
        NumberSetting<R>({.key = "opacity",
                          .option = "--watermark-opacity",
                          .max = 100,
                          .percent = true,
                          .noun = "a percentage",
                          .defaultValue = "70",
                          .valueName = "P",
                          .help = "how much of the watermark shows, in percent of its own "
                                  "transparency (default %default%)"},
                         &R::m_opacity),
        NumberSetting<R>({.key = "margin",
                          .option = "--watermark-margin",
                          .max = 50,
                          .percent = true,
                          .noun = "a percentage",
                          .defaultValue = "2",
                          .valueName = "P",
                          .help = "distance from the edges in percent of the image width, the "
                                  "top and bottom too (default %default%)"},
                         &R::m_margin),
    };
    return settings;
}

bool CPixortaWatermarkTask::operator==(const CPixortaWatermarkTask &other) const
{
    return CPixortaTask::operator==(other) && m_file == other.m_file &&
           m_position == other.m_position && m_size == other.m_size &&
           m_margin == other.m_margin && m_opacity == other.m_opacity;
}

CPixortaWatermarkTask::Spot CPixortaWatermarkTask::SpotFor(quint32 width, quint32 height,
                                                           quint32 markWidth,
                                                           quint32 markHeight) const
{
    Spot spot;
    // Products first, so a share that is a whole number of pixels stays one.
    spot.width = std::max<qint64>(1, qint64(std::trunc(double(width) * m_size / 100.0)));
    spot.height = markWidth == 0 ? 1
                                 : std::max<qint64>(1, qint64(std::trunc(double(markHeight) *
                                                                         double(spot.width) /
                                                                         double(markWidth))));
    const qint64 margin = qint64(std::trunc(double(width) * m_margin / 100.0));
    spot.left = PlaceAcross(m_position, qint64(width) - spot.width, margin);
    spot.top = PlaceDown(m_position, qint64(height) - spot.height, margin);
    return spot;
}

bool CPixortaWatermarkTask::Apply(PxImage &image, bool &modified, QString)
{
    modified = true;
    if (!image.IsValid())
        return false;
    const std::shared_ptr<const Mark> mark = m_marks->Get(m_file);
    if (!mark->error.isEmpty()) {
        image.SetLastError(mark->error.toUtf8().constData());
        return false;
    }
    const Spot spot = SpotFor(image.GetWidth(), image.GetHeight(), mark->picture.GetWidth(),
                              mark->picture.GetHeight());
    constexpr qint64 kMaxSide = std::numeric_limits<int32_t>::max();
    PxImage scaled(mark->picture);
    if (spot.height > kMaxSide ||
        !scaled.ResampleCovered(int32_t(spot.width), int32_t(spot.height), 0)) {
        image.SetLastError(scaled.GetLastError()[0]
                               ? scaled.GetLastError()
                               : "the watermark could not be scaled to the picture");
        return false;
    }
    if (image.Overlay(scaled, spot.left, spot.top, uint32_t(m_opacity)))
        return true;
    if (!image.GetLastError()[0])
        image.SetLastError("the watermark could not be laid over the picture");
    return false;
}

CPixortaTask::Outcome CPixortaWatermarkTask::PredictOutcome(const QString &, quint32,
                                                            quint32) const
{
    return QFileInfo(m_file).isFile() ? Outcome::Changes : Outcome::Fails;
}

QString CPixortaWatermarkTask::StartProblem() const
{
    if (const QString why = SettingsProblem(*this); !why.isEmpty())
        return why;
    return WatermarkFileProblem(m_file);
}

QString CPixortaWatermarkTask::GetDescription() const
{
    return QStringLiteral("Watermark");
}
