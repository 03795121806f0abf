#include "bytesizes.h"

#include <QRegularExpression>

QString FormatBytes(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QString::number(value, 'f', 1) + u' ' + QLatin1String(units[unit]);
}

qint64 ParseByteSize(const QString &text)
{
    static const QRegularExpression size(
        QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)\\s*([KMGT]?)(?:i?B)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = size.match(text);
    if (!m.hasMatch())
        return -1;
    const QString unit = m.captured(2).toUpper();
    const int shift = unit.isEmpty() ? 0 : 10 * (int(QStringLiteral("KMGT").indexOf(unit)) + 1);
    const double bytes = m.captured(1).toDouble() * double(qint64(1) << shift);
    if (bytes >= 9.0e18)
        return -1;
    return qint64(bytes);
}
