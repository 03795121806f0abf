#pragma once
// The user's notes on the images of one job, looked up by path as the image list looks up its
// entries: letter case counts, "\" and "/" are the same separator, and one leading or trailing
// separator does not matter. A lookup never changes once made, so a job can share it with every
// task record, on any thread.

#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <utility>

class NoteLookup {
public:
    NoteLookup() = default;
    // When a path occurs twice the first note wins, as the list finds its first entry.
    explicit NoteLookup(const QList<std::pair<QString, QString>> &pathsAndNotes);

    // Lines of a path, a tab and the note (the rest of the line); a trailing carriage return is
    // dropped, and blank lines are skipped. Paths are made absolute (relative ones from folder)
    // and clean, as the command line makes the paths of its images. False with
    // error set to what is wrong ("line 3 has no tab") for any other line.
    static bool ParseLines(const QString &text, const QString &folder,
                           QList<std::pair<QString, QString>> &out, QString *error);

    // The note of that path, or "" when it has none.
    QString GetNoteByPath(const QString &path) const;
    bool IsEmpty() const { return m_notes.isEmpty(); }

private:
    QHash<QString, QString> m_notes;
};

using NoteLookupPtr = std::shared_ptr<const NoteLookup>;
