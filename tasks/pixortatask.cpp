#include "pixortatask.h"

#include <QRegularExpression>

QString TaskKindName(qint32 kind)
{
    switch (kind) {
    case TaskNone:
        return QStringLiteral("None");
    case TaskResize:
        return QStringLiteral("Resize");
    case TaskChangeColors:
        return QStringLiteral("Change colors");
    case TaskAddBackground:
        return QStringLiteral("Add background");
    case TaskAddText:
        return QStringLiteral("Add text");
    case TaskCreateSlideshow:
        return QStringLiteral("Create slideshow");
    default:
        return QStringLiteral("Internal error, type undefined");
    }
}

bool CPixortaTask::Apply(PxImage &, bool &, QString)
{
    return false;
}

bool CPixortaTask::Finish(QStringList &, const QString &, CBackupStore &, QStringList &)
{
    return true;
}

QString CPixortaTask::GetDescription() const
{
    return QString();
}

TaskSettings CPixortaTask::SaveSettings() const
{
    return {};
}

bool CPixortaTask::LoadSettings(const TaskSettings &settings, QString *error)
{
    if (settings.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("unknown setting '") + settings.front().first + u'\'';
    return false;
}

CPixortaTask::Outcome CPixortaTask::PredictOutcome(const QString &, quint32, quint32) const
{
    return Outcome::Fails;
}

QString TaskColourText(const TaskColour &colour)
{
    return QStringLiteral("#%1%2%3")
        .arg(colour.red, 2, 16, QChar(u'0'))
        .arg(colour.green, 2, 16, QChar(u'0'))
        .arg(colour.blue, 2, 16, QChar(u'0'));
}

std::optional<TaskColour> ParseTaskColour(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^\\s*#([0-9A-Fa-f]{6})\\s*$"));
    static const QRegularExpression triple(
        QStringLiteral("^\\s*([0-9]{1,3})\\s*,\\s*([0-9]{1,3})\\s*,\\s*([0-9]{1,3})\\s*$"));
    int rgb[3];
    if (const QRegularExpressionMatch m = hex.match(text); m.hasMatch()) {
        const uint v = m.captured(1).toUInt(nullptr, 16);
        rgb[0] = int(v >> 16);
        rgb[1] = int((v >> 8) & 0xFF);
        rgb[2] = int(v & 0xFF);
    } else if (const QRegularExpressionMatch m = triple.match(text); m.hasMatch()) {
        for (int i = 0; i < 3; ++i)
            if ((rgb[i] = m.captured(i + 1).toInt()) > 255)
                return std::nullopt;
    } else {
        return std::nullopt;
    }
    return TaskColour{quint8(rgb[0]), quint8(rgb[1]), quint8(rgb[2]), 0, 0};
}
