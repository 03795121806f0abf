#include "settingdecl.h"

#include <QRegularExpression>

namespace {

constexpr int kHelpWidth = 88;
constexpr int kHelpColumn = 23;

QString JoinWithOr(const QStringList &words)
{
    if (words.size() < 2)
        return words.join(QString());
    return words.mid(0, words.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") +
           words.back();
}

// Greedy wrapping into lines of at most width characters.
QStringList Wrapped(const QString &text, qsizetype width)
{
    QStringList lines;
    QString line;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

} // namespace

std::optional<qint64> ParseWholeNumber(const QString &text, bool percent)
{
    static const QRegularExpression number(QStringLiteral("^-?[0-9]{1,10}$"));
    QString t = text.trimmed();
    if (percent && t.endsWith(u'%'))
        t = t.chopped(1).trimmed();
    if (!number.match(t).hasMatch())
        return std::nullopt;
    return t.toLongLong();
}

std::optional<qint64> ParseDecimalNumber(const QString &text, int decimals, bool percent)
{
    static const QRegularExpression number(QStringLiteral("^(-?)([0-9]{1,10})(?:\\.([0-9]+))?$"));
    QString t = text.trimmed();
    if (percent && t.endsWith(u'%'))
        t = t.chopped(1).trimmed();
    const QRegularExpressionMatch m = number.match(t);
    if (!m.hasMatch() || m.captured(3).size() > decimals)
        return std::nullopt;
    qint64 units = m.captured(2).toLongLong();
    const QString fraction = m.captured(3);
    for (int i = 0; i < decimals; ++i)
        units = units * 10 + (i < fraction.size() ? fraction[i].digitValue() : 0);
    return m.captured(1).isEmpty() ? units : -units;
}

QString DecimalText(qint64 units, int decimals)
{
    if (decimals <= 0)
        return QString::number(units);
    qint64 scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const qint64 whole = (units < 0 ? -units : units) / scale;
    const qint64 fraction = (units < 0 ? -units : units) % scale;
    return (units < 0 ? QStringLiteral("-") : QString()) + QString::number(whole) + u'.' +
           QStringLiteral("%1").arg(fraction, decimals, 10, QChar(u'0'));
}

std::optional<bool> ParseYesNo(const QString &text)
{
    const QString v = text.trimmed().toLower();
    if (v == u"yes" || v == u"1" || v == u"true" || v == u"on")
        return true;
    if (v == u"no" || v == u"0" || v == u"false" || v == u"off")
        return false;
    return std::nullopt;
}

QString YesNoText(bool on)
{
    return on ? QStringLiteral("yes") : QStringLiteral("no");
}

std::optional<quint32> ParseColourText(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^\\s*#([0-9A-Fa-f]{6})\\s*$"));
    static const QRegularExpression triple(
        QStringLiteral("^\\s*([0-9]{1,3})\\s*,\\s*([0-9]{1,3})\\s*,\\s*([0-9]{1,3})\\s*$"));
    if (const QRegularExpressionMatch m = hex.match(text); m.hasMatch())
        return m.captured(1).toUInt(nullptr, 16);
    const QRegularExpressionMatch m = triple.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    quint32 rgb = 0;
    for (int i = 1; i <= 3; ++i) {
        const uint channel = m.captured(i).toUInt();
        if (channel > 255)
            return std::nullopt;
        rgb = (rgb << 8) | channel;
    }
    return rgb;
}

QString ColourText(quint32 rgb)
{
    return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QChar(u'0'));
}

QString SettingNeeds(const SettingDecl &decl)
{
    switch (decl.kind) {
    case SettingKind::Number:
        if (decl.decimals > 0)
            return (decl.noun.isEmpty() ? QStringLiteral("a number") : decl.noun) +
                   QStringLiteral(" from %1 to %2")
                       .arg(DecimalText(decl.min, decl.decimals), DecimalText(decl.max, decl.decimals)) +
                   (decl.decimals == 1 ? QStringLiteral(" with at most one decimal")
                                       : QStringLiteral(" with at most %1 decimals").arg(decl.decimals)) +
                   (decl.hint.isEmpty() ? QString() : u' ' + decl.hint);
        return (decl.noun.isEmpty() ? QStringLiteral("a whole number") : decl.noun) +
               QStringLiteral(" from %1 to %2").arg(decl.min).arg(decl.max) +
               (decl.hint.isEmpty() ? QString() : u' ' + decl.hint);
    case SettingKind::Switch:
        return QStringLiteral("yes or no");
    case SettingKind::Colour:
        return QStringLiteral("a colour as #RRGGBB or R,G,B (each 0 to 255)");
    case SettingKind::Choice:
        if (decl.several)
            return decl.noun + QStringLiteral(", from: ") + decl.choices.join(QStringLiteral(", "));
        if (!decl.emptyMeans.isEmpty())
            return QStringLiteral("nothing (") + decl.emptyMeans + QStringLiteral(") or ") +
                   JoinWithOr(decl.choices);
        return JoinWithOr(decl.choices);
    case SettingKind::Font:
        return QStringLiteral("a font family");
    case SettingKind::Text:
        break;
    }
    return QStringLiteral("a text");
}

QString SettingRefusal(const QString &name, const SettingDecl &decl, const QString &value)
{
    if (!decl.refusal.isEmpty())
        return name + QStringLiteral(": ") +
               QString(decl.refusal)
                   .replace(QStringLiteral("%value%"), value)
                   .replace(QStringLiteral("%choices%"), decl.choices.join(QStringLiteral(", ")));
    return name + QStringLiteral(" needs ") + SettingNeeds(decl) + QStringLiteral(", not '") +
           value + u'\'';
}

std::optional<QString> NormalizeSetting(const SettingDecl &decl, const QString &text)
{
    switch (decl.kind) {
    case SettingKind::Number: {
        const std::optional<qint64> n = decl.decimals > 0
                                            ? ParseDecimalNumber(text, decl.decimals, decl.percent)
                                            : ParseWholeNumber(text, decl.percent);
        if (!n || *n < decl.min || *n > decl.max)
            return std::nullopt;
        return DecimalText(*n, decl.decimals);
    }
    case SettingKind::Switch:
        if (const std::optional<bool> on = ParseYesNo(text))
            return YesNoText(*on);
        return std::nullopt;
    case SettingKind::Colour:
        if (const std::optional<quint32> rgb = ParseColourText(text))
            return ColourText(*rgb);
        return std::nullopt;
    case SettingKind::Choice: {
        auto known = [&decl](const QString &word) -> std::optional<QString> {
            for (const QString &c : decl.choices)
                if (c.compare(word.trimmed(), Qt::CaseInsensitive) == 0)
                    return c;
            return std::nullopt;
        };
        if (!decl.emptyMeans.isEmpty() && text.trimmed().isEmpty())
            return QString();
        if (!decl.several)
            return known(text);
        QStringList chosen;
        for (const QString &word : text.split(u',', Qt::SkipEmptyParts)) {
            const std::optional<QString> c = known(word);
            if (!c)
                return std::nullopt;
            chosen << *c;
        }
        QStringList ordered;
        for (const QString &c : decl.choices)
            if (chosen.contains(c))
                ordered << c;
        return ordered.join(u',');
    }
    case SettingKind::Font:
        if (text.trimmed().isEmpty())
            return std::nullopt;
        return text.trimmed();
    case SettingKind::Text:
        break;
    }
    return text;
}

QString SettingDisplayValue(const SettingDecl &decl, const QString &written)
{
    if (decl.kind != SettingKind::Colour)
        return written;
    const quint32 rgb = ParseColourText(written).value_or(0);
    return QStringLiteral("%1,%2,%3").arg(rgb >> 16).arg((rgb >> 8) & 0xFF).arg(rgb & 0xFF);
}

QString SettingHelp(const SettingDecl &decl)
{
    return QString(decl.help)
        .replace(QStringLiteral("%default%"), SettingDisplayValue(decl, decl.defaultValue))
        .replace(QStringLiteral("%min%"), DecimalText(decl.min, decl.decimals))
        .replace(QStringLiteral("%max%"), DecimalText(decl.max, decl.decimals))
        .replace(QStringLiteral("%choices%"), decl.choices.join(QStringLiteral(", ")));
}

QString HelpLines(const QString &option, const QString &valueName, const QString &help)
{
    QString head = QStringLiteral("  ") + option;
    if (!valueName.isEmpty())
        head += u' ' + valueName;
    QString out;
    if (head.size() < kHelpColumn)
        out = head.leftJustified(kHelpColumn, u' ');
    else
        out = head + u'\n' + QString(kHelpColumn, u' ');
    const QStringList lines = Wrapped(help, kHelpWidth - kHelpColumn);
    out += lines.join(u'\n' + QString(kHelpColumn, u' '));
    return out + u'\n';
}

QString ManEscape(const QString &text)
{
    QString out = QString(text).replace(u'\\', QStringLiteral("\\e")).replace(u'-', QStringLiteral("\\-"));
    if (out.startsWith(u'.') || out.startsWith(u'\''))
        out.prepend(QStringLiteral("\\&"));
    return out;
}

QString ManEntry(const QString &option, const QString &valueName, const QString &help)
{
    QString entry = QStringLiteral(".TP\n");
    entry += valueName.isEmpty()
                 ? QStringLiteral(".B ") + ManEscape(option)
                 : QStringLiteral(".BI ") + ManEscape(option) + QStringLiteral(" \" ") +
                       ManEscape(valueName) + u'"';
    QString sentence = help;
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith(u'.'))
        sentence += u'.';
    return entry + u'\n' + ManEscape(sentence) + u'\n';
}
