#include "preferences.h"

#include "paths.h"
#include "safefile.h"

#include <QFile>
#include <QStringConverter>
#include <QTextStream>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace {

const QString kSection = QStringLiteral("Options");

// Replace-all that never searches the inserted text again.
void ReplaceAll(QString &text, const QString &what, const QString &with, Qt::CaseSensitivity cs)
{
    qsizetype pos = 0;
    while ((pos = text.indexOf(what, pos, cs)) >= 0) {
        text.replace(pos, what.size(), with);
        pos += with.size();
    }
}

struct Entity {
    const char16_t *plain;
    const char16_t *escaped;
};
// "&" goes first when escaping and last when unescaping, so that exactly one level is undone.
constexpr Entity kEntities[] = {
    {u"\r", u"&#13;"}, {u"\n", u"&#10;"}, {u"\"", u"&quot;"}, {u"'", u"&#39;"}, {u"<", u"&lt;"},
    {u">", u"&gt;"},   {u"=", u"&#61;"},  {u"[", u"&#91;"},   {u"]", u"&#93;"},
};

QString TwoDigits(int n)
{
    return (n < 10 ? QStringLiteral("0") : QString()) + QString::number(n);
}

// The INI file as lines; section headers and key lookups ignore letter case.
QStringList ReadLines(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QTextStream in(&f);
    in.setEncoding(QStringConverter::Utf8);
    QStringList lines;
    while (!in.atEnd())
        lines << in.readLine();
    return lines;
}

bool IsSectionHeader(const QString &line, QString *name)
{
    const QString t = line.trimmed();
    if (!t.startsWith(u'[') || !t.contains(u']'))
        return false;
    *name = t.mid(1, t.indexOf(u']') - 1).trimmed();
    return true;
}

bool SplitEntry(const QString &line, QString *key, QString *value)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(u';'))
        return false;
    const qsizetype eq = t.indexOf(u'=');
    if (eq <= 0)
        return false;
    *key = t.left(eq).trimmed();
    QString v = t.mid(eq + 1).trimmed();
    if (v.size() >= 2 && ((v.front() == u'"' && v.back() == u'"') ||
                          (v.front() == u'\'' && v.back() == u'\'')))
        v = v.mid(1, v.size() - 2);
    *value = v;
    return true;
}

// Calls visit(key, value) for every entry of the section, in file order.
template <typename Visit>
void ForEachEntry(const QStringList &lines, const QString &section, Visit &&visit)
{
    bool inside = false;
    for (const QString &line : lines) {
        QString name, key, value;
        if (IsSectionHeader(line, &name)) {
            inside = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (inside && SplitEntry(line, &key, &value))
            visit(key, value);
    }
}

} // namespace

void EscapeValue(QString &value)
{
    ReplaceAll(value, QStringLiteral("&"), QStringLiteral("&amp;"), Qt::CaseSensitive);
    for (const Entity &e : kEntities)
        ReplaceAll(value, QString::fromUtf16(e.plain), QString::fromUtf16(e.escaped),
                   Qt::CaseSensitive);
}

void UnescapeValue(QString &value)
{
    for (const Entity &e : kEntities)
        ReplaceAll(value, QString::fromUtf16(e.escaped), QString::fromUtf16(e.plain),
                   Qt::CaseInsensitive);
    ReplaceAll(value, QStringLiteral("&amp;"), QStringLiteral("&"), Qt::CaseInsensitive);
}

QString CPreferencesStore::GetRawValue(const QString &section, const QString &key,
                                       const QString &defaultValue)
{
    QString value;
    return LookupRawValue(section, key, &value) ? value : defaultValue;
}

void CPreferencesStore::SetString(const QString &section, const QString &key, const QString &value)
{
    QString escaped = value;
    EscapeValue(escaped);
    SetRawValue(section, key, escaped);
}

QString CPreferencesStore::GetString(const QString &section, const QString &key,
                                     const QString &defaultValue)
{
    QString value = GetRawValue(section, key, defaultValue);
    UnescapeValue(value);
    return value;
}

void CPreferencesStore::SetBool(const QString &section, const QString &key, bool flag)
{
    SetRawValue(section, key, flag ? QStringLiteral("1") : QStringLiteral("0"));
}

void CPreferencesStore::SetInt(const QString &section, const QString &key, qint32 value)
{
    SetRawValue(section, key, QString::number(value));
}

void CPreferencesStore::SetInt64(const QString &section, const QString &key, qint64 value)
{
    SetRawValue(section, key, QString::number(value));
}

void CPreferencesStore::SetDateTime(const QString &section, const QString &key,
                                    const QDateTime &value)
{
    const bool ok = value.isValid();
    const QDate d = value.date();
    const QTime t = value.time();
    const QString text = QString::number(ok ? d.year() : -1) + u'-' +
                         TwoDigits(ok ? d.month() : -1) + u'-' + TwoDigits(ok ? d.day() : -1) +
                         u' ' + TwoDigits(ok ? t.hour() : -1) + u':' +
                         TwoDigits(ok ? t.minute() : -1) + u':' + TwoDigits(ok ? t.second() : -1);
    SetRawValue(section, key, text);
}

void CPreferencesStore::SetRect(const QString &section, const QString &key, const QRect &rect)
{
    SetRawValue(section, key,
                QStringLiteral("%1,%2,%3,%4")
                    .arg(rect.left())
                    .arg(rect.top())
                    .arg(rect.right())
                    .arg(rect.bottom()));
}

bool CPreferencesStore::GetRect(const QString &section, const QString &key, QRect *rect)
{
    const QString text = GetRawValue(section, key, QString());
    if (text.isEmpty() || !rect)
        return false;
    rect->setCoords(0, 0, 0, 0);
    if (text.size() <= 5)
        return false;
    int l = 0, t = 0, r = 0, b = 0;
    if (std::sscanf(text.toUtf8().constData(), "%d,%d,%d,%d", &l, &t, &r, &b) != 4)
        return false;
    rect->setCoords(l, t, r, b);
    return true;
}

qint32 CPreferencesStore::GetInt(const QString &section, const QString &key, qint32 defaultValue)
{
    const QString text = GetRawValue(section, key, QString());
    if (text.isEmpty())
        return defaultValue;
    // The leading decimal integer, 0 when there is none, saturated like the C library does.
    errno = 0;
    const long long v = std::strtoll(text.toUtf8().constData(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<qint32>(v);
}

CIniPreferencesStore::~CIniPreferencesStore()
{
    if (m_loaded)
        SaveTo(m_file);
}

void CIniPreferencesStore::SetRawValue(const QString &, const QString &key, const QString &value)
{
    // With case-insensitive keys, "General.NUSG" and "general.nusg" are one entry.
    for (auto &entry : m_entries)
        if (entry.first == key ||
            (m_caseInsensitiveKeys && entry.first.compare(key, Qt::CaseInsensitive) == 0)) {
            entry.second = value;
            return;
        }
    m_entries.append({key, value});
}

bool CIniPreferencesStore::LookupRawValue(const QString &, const QString &key, QString *value)
{
    if (!value)
        return false;
    for (const auto &entry : m_entries) {
        const bool match =
            entry.first == key ||
            (m_caseInsensitiveKeys && QString::localeAwareCompare(entry.first.toLower(),
                                                                  key.toLower()) == 0);
        if (match) {
            *value = entry.second;
            return true;
        }
    }
    value->clear();
    return false;
}

bool CIniPreferencesStore::Load(const QString &file, bool clearFirst)
{
    if (clearFirst)
        m_entries.clear();
    for (const QString &name : inifile::ReadKeyNames(file, kSection)) {
        const QString key = name.toLower();
        SetRawValue(kSection, key, inifile::ReadValue(file, kSection, name, QString()));
    }
    return true;
}

bool CIniPreferencesStore::Save(const QString &file)
{
    QList<QPair<QString, QString>> lowered;
    for (const auto &entry : m_entries)
        lowered.append({entry.first.toLower(), entry.second});
    inifile::WriteValues(file, kSection, lowered); // a failed write is silent by design
    return true;
}

bool CIniPreferencesStore::LoadFrom(const QString &file, bool clearFirst)
{
    m_file = file;
    return Load(file, clearFirst);
}

bool CIniPreferencesStore::SaveTo(const QString &file)
{
    m_file = file;
    return Save(file);
}

CIniPreferencesStore &GetPreferences()
{
    // Destroyed at process exit, which is when the store writes itself.
    static std::unique_ptr<CIniPreferencesStore> store = [] {
        auto s = std::make_unique<CIniPreferencesStore>();
        s->LoadFrom(JoinPath(GetProgramFolder(), QStringLiteral("preferences.ini")), true);
        s->SetLoaded(true);
        return s;
    }();
    return *store;
}

namespace inifile {

QStringList ReadKeyNames(const QString &file, const QString &section, int bufferChars)
{
    QStringList names;
    int used = 1; // the list's closing zero
    ForEachEntry(ReadLines(file), section, [&](const QString &key, const QString &) {
        if (used + key.size() + 1 > bufferChars)
            return;
        for (const QString &n : names)
            if (n.compare(key, Qt::CaseInsensitive) == 0)
                return;
        used += static_cast<int>(key.size()) + 1;
        names << key;
    });
    return names;
}

QString ReadValue(const QString &file, const QString &section, const QString &key,
                  const QString &defaultValue, int maxChars)
{
    QString result = defaultValue;
    bool found = false;
    ForEachEntry(ReadLines(file), section, [&](const QString &k, const QString &v) {
        if (!found && k.compare(key, Qt::CaseInsensitive) == 0) {
            result = v;
            found = true;
        }
    });
    return result.left(maxChars);
}

bool WriteValues(const QString &file, const QString &section,
                 const QList<QPair<QString, QString>> &entries)
{
    QStringList lines = ReadLines(file);
    for (const auto &[key, value] : entries) {
        qsizetype sectionLine = -1, lastInSection = -1, entryLine = -1;
        bool inside = false;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QString name, k, v;
            if (IsSectionHeader(lines[i], &name)) {
                if (inside)
                    break;
                inside = name.compare(section, Qt::CaseInsensitive) == 0;
                if (inside)
                    sectionLine = lastInSection = i;
                continue;
            }
            if (!inside)
                continue;
            if (!lines[i].trimmed().isEmpty())
                lastInSection = i;
            if (SplitEntry(lines[i], &k, &v) && k.compare(key, Qt::CaseInsensitive) == 0) {
                entryLine = i;
                break;
            }
        }
        const QString line = key + u'=' + value;
        if (entryLine >= 0)
            lines[entryLine] = line;
        else if (sectionLine >= 0)
            lines.insert(lastInSection + 1, line);
        else
            lines << u'[' + section + u']' << line;
    }
    return WriteFileWhole(file, (lines.join(u'\n') + u'\n').toUtf8());
}

namespace {
QByteArray SectionText(const Section &section)
{
    QString text = u'[' + section.name + QStringLiteral("]\n");
    for (const auto &[key, value] : section.entries) {
        QString escaped = value;
        EscapeValue(escaped);
        // Quotes keep spaces at either end, which a plain value loses.
        if (escaped != escaped.trimmed())
            escaped = u'"' + escaped + u'"';
        text += key + u'=' + escaped + u'\n';
    }
    return text.toUtf8();
}
} // namespace

namespace {
// The sections of text; with strict, a line that is no section, setting, comment or blank is
// refused, naming its line ("line 7: ..."), in *error.
bool ParseSections(const QByteArray &bytes, QList<Section> *sections, bool strict, QString *error)
{
    sections->clear();
    const QStringList lines = QString::fromUtf8(bytes).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        QString name, key, value;
        const QString t = line.trimmed();
        if (IsSectionHeader(line, &name)) {
            sections->append({name, {}});
        } else if (SplitEntry(line, &key, &value)) {
            if (sections->isEmpty()) {
                if (!strict)
                    continue;
                if (error)
                    *error = QStringLiteral("line %1: a setting before the first section: '%2'")
                                 .arg(i + 1)
                                 .arg(t);
                return false;
            }
            UnescapeValue(value);
            sections->back().entries.append({key, value});
        } else if (strict && !t.isEmpty() && !t.startsWith(u';') && !t.startsWith(u'#')) {
            if (error)
                *error = QStringLiteral("line %1 is not a setting, a section or a comment: '%2'")
                             .arg(i + 1)
                             .arg(t);
            return false;
        }
    }
    return true;
}

// Files of the system's own are small; anything larger is not one.
constexpr qint64 kMaxSectionsFile = qint64(64) << 20;
} // namespace

void ParseSectionsText(const QByteArray &bytes, QList<Section> *sections)
{
    ParseSections(bytes, sections, false, nullptr);
}

bool ReadSections(const QString &file, QList<Section> *sections, QString *error)
{
    const std::optional<QByteArray> bytes = ReadRegularFile(file, kMaxSectionsFile, error);
    return bytes && ParseSections(*bytes, sections, false, error);
}

bool ReadSectionsStrict(const QString &file, QList<Section> *sections, QString *error)
{
    const std::optional<QByteArray> bytes = ReadRegularFile(file, kMaxSectionsFile, error);
    return bytes && ParseSections(*bytes, sections, true, error);
}

bool WriteSections(const QString &file, const QList<Section> &sections, QString *error)
{
    QByteArray data;
    for (qsizetype i = 0; i < sections.size(); ++i)
        data += (i ? QByteArray("\n") : QByteArray()) + SectionText(sections[i]);
    return WriteFileWhole(file, data, error);
}

bool AppendSection(const QString &file, const Section &section, QString *error, bool durable)
{
    return AppendWhole(file, SectionText(section), error, durable);
}

} // namespace inifile
