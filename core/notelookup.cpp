#include "notelookup.h"

#include "paths.h"

#include <QDir>
#include <QStringList>

NoteLookup::NoteLookup(const QList<std::pair<QString, QString>> &pathsAndNotes)
{
    for (const auto &[path, note] : pathsAndNotes) {
        const QString key = PathKey(path);
        if (!m_notes.contains(key))
            m_notes.insert(key, note);
    }
}

bool NoteLookup::ParseLines(const QString &text, const QString &folder,
                            QList<std::pair<QString, QString>> &out, QString *error)
{
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype tab = line.indexOf(u'\t');
        if (tab <= 0) {
            if (error)
                *error = QStringLiteral("line %1 %2").arg(i + 1).arg(
                    tab < 0 ? QStringLiteral("has no tab between the path and the note")
                            : QStringLiteral("has no path before its tab"));
            return false;
        }
        const QString path = line.left(tab);
        out.append({QDir::cleanPath(QDir(folder).absoluteFilePath(path)), line.mid(tab + 1)});
    }
    return true;
}

QString NoteLookup::GetNoteByPath(const QString &path) const
{
    return m_notes.value(PathKey(path));
}
