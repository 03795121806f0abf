#pragma once
// A typed key/value store over "preferences.ini" next to the executable. The file is read on
// first use and written once, when the process exits.

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QRect>
#include <QString>

class CPreferencesStore {
public:
    virtual ~CPreferencesStore() = default;
    virtual void SetRawValue(const QString &section, const QString &key, const QString &value) = 0;
    virtual QString GetRawValue(const QString &section, const QString &key,
                                const QString &defaultValue);
    virtual bool LookupRawValue(const QString &section, const QString &key, QString *value) = 0;
    virtual void SetString(const QString &section, const QString &key, const QString &value);
    virtual QString GetString(const QString &section, const QString &key,
                              const QString &defaultValue);
    virtual void SetBool(const QString &section, const QString &key, bool flag);
    virtual void SetInt(const QString &section, const QString &key, qint32 value);
    virtual void SetInt64(const QString &section, const QString &key, qint64 value);
    // An invalid date-time writes -1 for every component.
    virtual void SetDateTime(const QString &section, const QString &key, const QDateTime &value);
    virtual void SetRect(const QString &section, const QString &key, const QRect &rect);
    virtual bool GetRect(const QString &section, const QString &key, QRect *rect);

    qint32 GetInt(const QString &section, const QString &key, qint32 defaultValue);
};

class CIniPreferencesStore : public CPreferencesStore {
public:
    CIniPreferencesStore() = default;
    ~CIniPreferencesStore() override;
    CIniPreferencesStore(const CIniPreferencesStore &) = delete;
    CIniPreferencesStore &operator=(const CIniPreferencesStore &) = delete;

    void SetRawValue(const QString &section, const QString &key, const QString &value) override;
    bool LookupRawValue(const QString &section, const QString &key, QString *value) override;
    virtual bool Load(const QString &file, bool clearFirst);
    virtual bool Save(const QString &file);
    virtual bool LoadFrom(const QString &file, bool clearFirst);
    virtual bool SaveTo(const QString &file);

    void SetLoaded(bool loaded) { m_loaded = loaded; }
    bool IsLoaded() const { return m_loaded; }
    const QString &FilePath() const { return m_file; }
    // Entries in the order they were stored.
    const QList<QPair<QString, QString>> &Entries() const { return m_entries; }

private:
    QList<QPair<QString, QString>> m_entries;
    bool m_caseInsensitiveKeys = true;
    bool m_loaded = false;
    QString m_file;
};

// The one store of the process, loaded from "preferences.ini" on first use.
CIniPreferencesStore &GetPreferences();

void EscapeValue(QString &value);
void UnescapeValue(QString &value);

// The private-profile semantics that the store relies on, over an INI file of our own.
namespace inifile {
// Key names of a section in file order; the list is cut where the names, each with a
// terminating zero, would overflow a buffer of bufferChars characters.
QStringList ReadKeyNames(const QString &file, const QString &section, int bufferChars = 16384);
// A value, cut to maxChars characters; defaultValue when the key is missing.
QString ReadValue(const QString &file, const QString &section, const QString &key,
                  const QString &defaultValue, int maxChars = 2046);
// Creates or replaces entries of one section, keeping every other line; false when the file
// could not be written.
bool WriteValues(const QString &file, const QString &section,
                 const QList<QPair<QString, QString>> &entries);

// Whole files of the system's own (saved jobs, the undo journal), read and written in one go.
// Values are stored escaped (EscapeValue), between double quotes when they begin or end with
// a space, so any text comes back as it was given, line breaks and spaces at either end
// included; values written by hand read as they stand.
struct Section {
    QString name;
    QList<QPair<QString, QString>> entries;
};
// Every section in file order (one that occurs twice comes twice), each with its entries in
// file order; lines before the first section and comments are skipped. False, with *error,
// when the file cannot be read (also when it is not a regular file: a FIFO never blocks it).
bool ReadSections(const QString &file, QList<Section> *sections, QString *error = nullptr);
// The sections of a file's bytes already read, as ReadSections gives them.
void ParseSectionsText(const QByteArray &bytes, QList<Section> *sections);
// The same for a file a person may have written: a line that is not a section, a setting, a
// comment (";" or "#") or blank is an error naming its line number.
bool ReadSectionsStrict(const QString &file, QList<Section> *sections, QString *error);
// Replaces the file with these sections once all of it is written and on disk; on any failure
// the file stays as it was.
bool WriteSections(const QString &file, const QList<Section> &sections, QString *error = nullptr);
// Adds one section at the end of the file (created when missing) and syncs it; when it cannot
// all be written the file is cut back to what it was.
bool AppendSection(const QString &file, const Section &section, QString *error = nullptr,
                   bool durable = true);
} // namespace inifile
