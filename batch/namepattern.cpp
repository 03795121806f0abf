#include "namepattern.h"

#include "core/paths.h"
#include "core/safefile.h"
#include "engine/pximage.h"
#include "tasks/pixortatexttask.h"

#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace {

constexpr int kMaxCounterWidth = 9;
// Linux takes names of up to 255 bytes.
constexpr qsizetype kMaxNameBytes = 255;
const QString kDefaultDateFormat = QStringLiteral("yyyy-MM-dd");

enum class TokenKind { Literal, Name, Extension, Counter, Date, Width, Height, Folder, Variable };

struct Token {
    TokenKind kind = TokenKind::Literal;
    // The literal text, the date format, or the counter's width (as text).
    QString text;
    int width = 0;
    const TextVariable *variable = nullptr;
};

// The pattern as tokens; none, with *why, for one that cannot name anything.
std::optional<QList<Token>> Parse(const QString &pattern, QString *why)
{
    auto fail = [why](const QString &text) -> std::optional<QList<Token>> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (pattern.contains(u'/') || pattern.contains(QLatin1String("..")))
        return fail(QStringLiteral("the name pattern '") + pattern +
                    QStringLiteral("' may not hold \"/\" or \"..\": it names a file, not a folder"));
    QList<Token> tokens;
    auto literal = [&tokens](QStringView text) {
        if (!tokens.isEmpty() && tokens.back().kind == TokenKind::Literal)
            tokens.back().text += text;
        else
            tokens.append({TokenKind::Literal, text.toString()});
    };
    qsizetype i = 0;
    while (i < pattern.size()) {
        const qsizetype open = pattern.indexOf(u'%', i);
        if (open < 0) {
            literal(QStringView(pattern).mid(i));
            break;
        }
        literal(QStringView(pattern).mid(i, open - i));
        const qsizetype close = pattern.indexOf(u'%', open + 1);
        if (close < 0)
            return fail(QStringLiteral("the name pattern '") + pattern +
                        QStringLiteral("' has a \"%\" that is not closed (write %% for a "
                                       "percent sign)"));
        i = close + 1;
        const QString body = pattern.mid(open + 1, close - open - 1);
        if (body.isEmpty()) {
            literal(u"%");
            continue;
        }
        const QString head = body.section(u':', 0, 0);
        const bool argument = body.contains(u':');
        const QString rest = body.section(u':', 1);
        Token token;
        if (!argument && body == u"name") {
            token.kind = TokenKind::Name;
        } else if (!argument && body == u"ext") {
            token.kind = TokenKind::Extension;
        } else if (!argument && body == u"width") {
            token.kind = TokenKind::Width;
        } else if (!argument && body == u"height") {
            token.kind = TokenKind::Height;
        } else if (!argument && body == u"folder") {
            token.kind = TokenKind::Folder;
        } else if (head == u"n") {
            token.kind = TokenKind::Counter;
            if (argument) {
                bool ok = false;
                const int width = rest.toInt(&ok);
                if (!ok || width < 1 || width > kMaxCounterWidth || rest.size() > 2)
                    return fail(QStringLiteral("the counter %") + body +
                                QStringLiteral("% needs a width from 1 to %1 digits").arg(kMaxCounterWidth));
                token.width = width;
            }
        } else if (head == u"date") {
            token.kind = TokenKind::Date;
            token.text = argument ? rest : kDefaultDateFormat;
            // A format of nothing but quotes or spaces names nothing.
            const QString sample =
                QDateTime(QDate(2026, 7, 14), QTime(9, 5, 3)).toString(token.text).trimmed();
            if (token.text.isEmpty() || sample.isEmpty())
                return fail(QStringLiteral("the date format '") + token.text +
                            QStringLiteral("' gives an empty name"));
        } else if (const TextVariable *v = TextVariableAt(QStringView(pattern).mid(open));
                   v && v->token.size() == close - open + 1) {
            token.kind = TokenKind::Variable;
            token.variable = v;
        } else {
            QStringList known = {"%name%", "%ext%", "%n%", "%n:3%", "%date%", "%date:yyyy-MM-dd%",
                                 "%width%", "%height%", "%folder%"};
            for (const TextVariable &tv : TextVariables())
                known << QString(tv.token);
            return fail(QStringLiteral("unknown token '%") + body +
                        QStringLiteral("%' in the name pattern (known: ") +
                        known.join(QStringLiteral(", ")) + QStringLiteral("; %% is a percent sign)"));
        }
        tokens.append(token);
    }
    return tokens;
}

// What no file name may hold on the file systems results travel to (a memory card, a phone):
// the folder separators, the characters Windows refuses and control characters.
QString Cleaned(QString name)
{
    for (QChar &c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || QStringView(u"/\\:*?\"<>|").contains(c))
            c = u'_';
    return name;
}

QString CutToFit(QString name, qsizetype room)
{
    while (!name.isEmpty() && name.toUtf8().size() > room) {
        name.chop(1);
        // Never half of a surrogate pair.
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    return name;
}

} // namespace

QString NamePatternProblem(const QString &pattern)
{
    QString why;
    return Parse(pattern, &why) ? QString() : why;
}

bool NamePatternIsConstant(const QString &pattern)
{
    const std::optional<QList<Token>> tokens = Parse(pattern, nullptr);
    return tokens && std::all_of(tokens->cbegin(), tokens->cend(), [](const Token &t) {
               return t.kind == TokenKind::Literal;
           });
}

bool NamePatternUsesDate(const QString &pattern)
{
    const std::optional<QList<Token>> tokens = Parse(pattern, nullptr);
    return tokens && std::any_of(tokens->cbegin(), tokens->cend(),
                                 [](const Token &t) { return t.kind == TokenKind::Date; });
}

QString ExpandNamePattern(const QString &pattern, const NameFacts &facts, int extensionLength)
{
    const QString fallback = GetFileBaseName(facts.source);
    const std::optional<QList<Token>> tokens = Parse(pattern, nullptr);
    if (!tokens)
        return fallback;
    std::optional<QDateTime> date;
    QString name;
    for (const Token &t : *tokens) {
        switch (t.kind) {
        case TokenKind::Literal: name += t.text; break;
        case TokenKind::Name: name += fallback; break;
        case TokenKind::Extension: name += GetFileExtension(facts.source); break;
        case TokenKind::Counter:
            name += QStringLiteral("%1").arg(facts.counter, t.width, 10, QChar(u'0'));
            break;
        case TokenKind::Date:
            if (!date)
                date = facts.date ? facts.date() : CaptureDateOf(facts.source);
            name += date->toString(t.text);
            break;
        case TokenKind::Width: name += QString::number(facts.width); break;
        case TokenKind::Height: name += QString::number(facts.height); break;
        case TokenKind::Folder: name += FileNameOf(GetFolderOf(facts.source)); break;
        case TokenKind::Variable: name += t.variable->value(facts.source, facts.notes); break;
        }
    }
    name = Cleaned(name);
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed == u"." || trimmed == u"..")
        name = fallback;
    // The dot before the extension takes one byte too.
    const qsizetype room = kMaxNameBytes - extensionLength - (extensionLength > 0 ? 1 : 0);
    return CutToFit(name, room);
}

QList<std::pair<QString, QString>> NamePatternTokens()
{
    QList<std::pair<QString, QString>> tokens = {
        {QStringLiteral("File title (name without the extension)"), QStringLiteral("%name%")},
        {QStringLiteral("Extension of the file"), QStringLiteral("%ext%")},
        {QStringLiteral("Counter (1, 2, 3...)"), QStringLiteral("%n%")},
        {QStringLiteral("Counter of three digits (001, 002...)"), QStringLiteral("%n:3%")},
        {QStringLiteral("Date taken (2026-07-14)"), QStringLiteral("%date%")},
        {QStringLiteral("Date and time taken (2026-07-14 09.05)"),
         QStringLiteral("%date:yyyy-MM-dd hh.mm%")},
        {QStringLiteral("Width of the result"), QStringLiteral("%width%")},
        {QStringLiteral("Height of the result"), QStringLiteral("%height%")},
        {QStringLiteral("Name of the file's folder"), QStringLiteral("%folder%")},
    };
    for (const TextVariable &v : TextVariables())
        if (v.menuItem)
            tokens.append({QString::fromLatin1(v.menuItem), QString(v.token)});
    return tokens;
}

QDateTime CaptureDateOf(const QString &path)
{
    const std::string exif = PxReadCaptureDate(ToFsPath(path));
    if (!exif.empty()) {
        const QDateTime taken =
            QDateTime::fromString(QString::fromLatin1(exif), QStringLiteral("yyyy:MM:dd HH:mm:ss"));
        if (taken.isValid())
            return taken;
    }
    if (const std::optional<struct timespec> t = ModificationTime(path))
        return QDateTime::fromSecsSinceEpoch(t->tv_sec);
    return QFileInfo(path).lastModified();
}
