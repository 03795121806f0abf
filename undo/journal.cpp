#include "journal.h"

#include "core/paths.h"
#include "core/preferences.h"
#include "core/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstring>
#include <algorithm>
#include <ctime>
#include <cerrno>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const QString kManifest = QStringLiteral("batch.ini");
const QString kLockFile = QStringLiteral("lock");
const QString kDateFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

QByteArray Native(const QString &path)
{
    return QFile::encodeName(path);
}

// Makes path and every missing folder above it with mode 0700, as the state folder's
// convention asks; true when path is a folder afterwards.
bool MakePrivatePath(const QString &path)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !MakePrivatePath(parent))
        return false;
    return ::mkdir(Native(path).constData(), 0700) == 0 || errno == EEXIST;
}

// A folder only the user may enter: a real folder (not a link), the user's own, and closed to
// everybody else (tightened when it is the user's own but was left open).
bool MakePrivate(const QString &path, QString *error)
{
    struct stat st {};
    if (::lstat(Native(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = path + QStringLiteral(" is not a folder");
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *error = path + QStringLiteral(" belongs to someone else");
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(Native(path).constData(), 0700) != 0) {
        *error = path + QStringLiteral(" cannot be closed to other users");
        return false;
    }
    return true;
}

qint64 ModifiedNs(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// An exclusive lock on a file, held until the descriptor is closed; -1 when someone else
// holds it (or it cannot be made).
int TryLock(const QString &file, bool wait = false)
{
    const int fd = ::open(Native(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Unlock(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

class LockGuard {
public:
    explicit LockGuard(int fd) : m_fd(fd) {}
    ~LockGuard() { Unlock(m_fd); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// The batch in folder. False only when folder holds no batch of ours at all; a record that
// is empty, cut short or unreadable gives a batch with its damage said.
bool ReadBatch(const QString &folder, JournalBatch *batch)
{
    batch->folder = folder;
    const QString manifest = JoinPath(folder, kManifest);
    QString why;
    const std::optional<QByteArray> bytes = ReadRegularFile(manifest, qint64(64) << 20, &why);
    auto damaged = [&](const QString &what) {
        batch->damage = what;
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            struct stat st {};
            if (name != kManifest && name != kLockFile &&
                ::lstat(Native(JoinPath(folder, name)).constData(), &st) == 0 && S_ISREG(st.st_mode))
                batch->bytes += st.st_size;
        }
        return true;
    };
    if (!bytes)
        return QFileInfo(manifest).exists() || QFileInfo(manifest).isSymLink()
                   ? damaged(QStringLiteral("its record cannot be read: ") + why)
                   : damaged(QStringLiteral("it has no record"));
    if (bytes->isEmpty())
        return damaged(QStringLiteral("its record is empty"));
    // Every record is appended whole, line by line: one that does not end a line was cut short.
    if (!bytes->endsWith('\n'))
        return damaged(QStringLiteral("its record is cut short"));
    QList<inifile::Section> sections;
    inifile::ParseSectionsText(*bytes, &sections);
    auto value = [](const inifile::Section &s, const char *key) {
        for (const auto &[k, v] : s.entries)
            if (k == QLatin1String(key))
                return v;
        return QString();
    };
    auto has = [](const inifile::Section &s, std::initializer_list<const char *> keys) {
        for (const char *key : keys)
            if (std::none_of(s.entries.cbegin(), s.entries.cend(),
                             [key](const auto &e) { return e.first == QLatin1String(key); }))
                return false;
        return true;
    };
    if (sections.isEmpty() || sections.front().name != u"Batch" ||
        !has(sections.front(), {"date", "command"}))
        return damaged(QStringLiteral("its record does not start as a batch's"));
    int sequence = 0;
    for (const inifile::Section &s : std::as_const(sections)) {
        ++sequence;
        if (s.name == u"Batch") {
            batch->date = QDateTime::fromString(value(s, "date"), kDateFormat);
            batch->command = value(s, "command");
        } else if (s.name == u"File") {
            if (!has(s, {"path", "backup", "time"}) || value(s, "path").isEmpty())
                return damaged(QStringLiteral("a record of a copy is incomplete"));
            JournalEntry e;
            e.path = value(s, "path");
            // Only a name within the batch's folder: a record pointing elsewhere is not ours.
            const QString backup = value(s, "backup");
            if (backup.isEmpty() || backup.contains(u'/') || backup == u"." || backup == u"..")
                return damaged(QStringLiteral("a record names a copy outside the batch"));
            e.backup = JoinPath(folder, backup);
            e.originalTime = value(s, "time").toLongLong();
            e.originalDigest = FileDigest::FromText(value(s, "hash")).value_or(FileDigest{});
            e.folderId = value(s, "folder");
            e.willWrite = FileDigest::FromText(value(s, "next")).value_or(FileDigest{});
            e.sequence = sequence;
            batch->entries.append(e);
        } else if (s.name == u"Written") {
            // Belongs to the latest copy of that file still waiting for its state, or else to
            // the file the batch made there.
            const QString path = value(s, "path");
            const FileDigest digest = FileDigest::FromText(value(s, "hash")).value_or(FileDigest{});
            const qint64 at = value(s, "at").toLongLong();
            batch->lastActivity = std::max(batch->lastActivity, at);
            bool placed = false;
            for (qsizetype i = batch->entries.size(); i-- > 0 && !placed;)
                if (batch->entries[i].path == path) {
                    if (!batch->entries[i].written) {
                        batch->entries[i].written = true;
                        batch->entries[i].writtenSize = value(s, "size").toLongLong();
                        batch->entries[i].writtenTime = value(s, "time").toLongLong();
                        batch->entries[i].writtenDigest = digest;
                        batch->entries[i].writtenAt = at;
                        if (at == 0)
                            batch->lastActivity =
                                std::max(batch->lastActivity, batch->entries[i].writtenTime);
                    }
                    placed = true;
                }
            if (!placed)
                for (JournalCreated &c : batch->created)
                    if (c.path == path && digest.IsValid())
                        c.digest = digest;
        } else if (s.name == u"Created") {
            JournalCreated c;
            c.path = value(s, "path");
            c.digest = FileDigest::FromText(value(s, "hash")).value_or(FileDigest{});
            c.folderId = value(s, "folder");
            c.at = value(s, "at").toLongLong();
            c.sequence = sequence;
            batch->lastActivity = std::max(batch->lastActivity, c.at);
            if (!c.path.isEmpty())
                batch->created.append(c);
        } else if (s.name == u"Finished") {
            batch->finished = true;
        }
    }
    for (const JournalEntry &e : std::as_const(batch->entries)) {
        struct stat st {};
        if (::lstat(Native(e.backup).constData(), &st) == 0)
            batch->bytes += st.st_size;
    }
    if (batch->lastActivity == 0 && batch->date.isValid())
        batch->lastActivity = batch->date.toMSecsSinceEpoch() * 1000000;
    return true;
}

bool IsRunning(const QString &folder)
{
    const int fd = TryLock(JoinPath(folder, kLockFile));
    if (fd < 0)
        return true;
    Unlock(fd);
    return false;
}

void RemoveBatch(const QString &folder)
{
    std::error_code ec;
    fs::remove_all(ToFsPath(folder), ec);
}

bool SameBytes(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    }
    return true;
}

// Why the copy of entry cannot be trusted to be the file from before the batch; "" when it
// can. A link in the journal is never followed: a link put there is not a copy of ours.
QString BackupProblem(const JournalEntry &entry)
{
    struct stat st {};
    if (::lstat(Native(entry.backup).constData(), &st) != 0)
        return QStringLiteral("its copy in the journal is missing");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("its copy in the journal is not a file of ours");
    if (entry.originalDigest.IsValid() &&
        DigestOfFile(entry.backup) != std::optional<FileDigest>(entry.originalDigest))
        return QStringLiteral("its copy in the journal is damaged (it is not what was copied)");
    return QString();
}

// Why the folder that holds path is not the one the batch wrote into; "" when it is.
QString FolderProblem(const QString &path, const QString &recorded)
{
    if (recorded.isEmpty())
        return QString();
    const QString now = FolderIdOf(path);
    if (now.isEmpty())
        return QStringLiteral("its folder ") + QFileInfo(path).absolutePath() +
               QStringLiteral(" is gone");
    if (now != recorded)
        return QStringLiteral("its folder ") + QFileInfo(path).absolutePath() +
               QStringLiteral(" is not the one the batch wrote into (it was moved or replaced "
                              "since), so nothing is written there");
    return QString();
}

// Copies the backup to a new file in path's folder and renames it over path itself, so the
// old file is replaced only once the whole copy is there, with the backup's permissions and
// the original modification time. A link at path is replaced, never followed.
QString PutBack(const JournalEntry &entry)
{
    const QString target = entry.path;
    struct stat st {};
    if (::lstat(Native(target).constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return QStringLiteral("a folder stands where the file was");
    const QString folder = QFileInfo(target).absolutePath();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("its folder ") + folder + QStringLiteral(" is gone");
    const QString temp = MakeUniquePath(folder, u'.' + QFileInfo(target).fileName() +
                                                    QStringLiteral(".pxundo"),
                                        QString(), true);
    QString why;
    if (temp.isEmpty() || !CopyFileWhole(entry.backup, temp, nullptr, &why))
        return QStringLiteral("cannot be put back into ") + folder + QStringLiteral(": ") + why;
    struct stat backup {};
    if (::stat(Native(entry.backup).constData(), &backup) == 0)
        ::chmod(Native(temp).constData(), backup.st_mode & 07777);
    if (entry.originalTime > 0) {
        SetModificationTime(temp, {time_t(entry.originalTime / 1000000000),
                                   long(entry.originalTime % 1000000000)});
    }
    if (::rename(Native(temp).constData(), Native(target).constData()) != 0) {
        const int err = errno;
        ::unlink(Native(temp).constData());
        return QStringLiteral("cannot replace the file: ") + ErrnoText(err);
    }
    return QString();
}

qint64 NowNs()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Name order is age order (Batches and Prune rely on it), so a new batch's folder must sort after
// every batch already there: also after one made while the clock was ahead, and after a name
// of this very millisecond that was pruned and is free again. stamp when it does; otherwise
// the newest name with a counter after it.
QString NameAfterEvery(const QString &root, const QString &stamp)
{
    const QStringList names =
        QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    if (names.isEmpty() || names.last() < stamp)
        return stamp;
    static const QRegularExpression counted(QStringLiteral("^(.*)\\.([0-9]{6})$"));
    const QRegularExpressionMatch m = counted.match(names.last());
    if (m.hasMatch() && m.captured(2) != QLatin1String("999999"))
        return m.captured(1) + u'.' +
               QStringLiteral("%1").arg(m.captured(2).toInt() + 1, 6, 10, QChar(u'0'));
    return names.last() + QStringLiteral(".000001");
}

// The record of a copy must be on disk before its original is replaced; what follows (how a
// file was left, that the batch ended) only helps undo decide, and a crash that loses it costs
// no picture: it need not wait for the disk.
bool AppendTo(const QString &manifest, const inifile::Section &section, QString *error = nullptr)
{
    return inifile::AppendSection(manifest, section, error, section.name == u"File");
}

} // namespace

QString CUndoJournal::DefaultRoot()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = JoinPath(QDir::homePath(), QStringLiteral(".local/state"));
    return JoinPath(JoinPath(state, QStringLiteral("pixorta")), QStringLiteral("journal"));
}

CUndoJournal::CUndoJournal(QString root) : m_root(QDir::cleanPath(std::move(root))) {}

bool CUndoJournal::Open(QString *error)
{
    QString why;
    const QString parent = QFileInfo(m_root).absolutePath();
    if (!MakePrivatePath(m_root)) {
        why = QStringLiteral("cannot make the folder ") + m_root;
    } else if (MakePrivate(parent, &why) && MakePrivate(m_root, &why)) {
        return true;
    }
    if (error)
        *error = QStringLiteral("the undo journal cannot be used: ") + why;
    return false;
}

QList<JournalBatch> CUndoJournal::Batches() const
{
    QList<JournalBatch> batches;
    const QStringList folders =
        QDir(m_root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QString &name : folders) {
        JournalBatch batch;
        const QString folder = JoinPath(m_root, name);
        if (!ReadBatch(folder, &batch))
            continue;
        batch.running = IsRunning(folder);
        batches.append(batch);
    }
    // Folder names begin with the time they were made, so name order is age order; what undo
    // takes first is the batch that replaced a file last.
    std::reverse(batches.begin(), batches.end());
    std::stable_sort(batches.begin(), batches.end(), [](const JournalBatch &a, const JournalBatch &b) {
        return a.lastActivity > b.lastActivity;
    });
    return batches;
}

QList<JournalBatch> CUndoJournal::Prune(int maxBatches, qint64 maxBytes)
{
    LockGuard maintenance(TryLock(JoinPath(m_root, QStringLiteral(".lock")), true));
    QList<JournalBatch> kept, dropped;
    for (const JournalBatch &b : Batches()) {
        // A damaged record may hold the only copies of somebody's files: only the user forgets
        // it.
        if (b.running || !b.damage.isEmpty())
            continue;
        // What a batch that neither overwrote nor made a file before it was stopped leaves is
        // no batch.
        if (b.IsEmpty())
            RemoveBatch(b.folder);
        else
            kept.append(b);
    }
    qint64 total = 0;
    for (const JournalBatch &b : std::as_const(kept))
        total += b.bytes;
    while (kept.size() > 1 && (kept.size() > maxBatches || total > maxBytes)) {
        const JournalBatch oldest = kept.takeLast();
        total -= oldest.bytes;
        RemoveBatch(oldest.folder);
        dropped.append(oldest);
    }
    return dropped;
}

QList<JournalBatch> CUndoJournal::Forget()
{
    LockGuard maintenance(TryLock(JoinPath(m_root, QStringLiteral(".lock")), true));
    QList<JournalBatch> forgotten;
    for (const JournalBatch &b : Batches()) {
        if (b.running)
            continue;
        RemoveBatch(b.folder);
        if (!b.IsEmpty())
            forgotten.append(b);
    }
    return forgotten;
}

CUndoJournal::UndoResult
CUndoJournal::UndoNewest(const std::function<bool(const QString &path)> &overwriteChanged)
{
    QString newest;
    {
        LockGuard maintenance(TryLock(JoinPath(m_root, QStringLiteral(".lock")), true));
        for (const JournalBatch &b : Batches())
            if (!b.running && !b.IsEmpty()) {
                newest = b.folder;
                break;
            }
    }
    if (newest.isEmpty())
        return {};
    return UndoBatch(newest, overwriteChanged);
}

CUndoJournal::UndoResult
CUndoJournal::UndoBatch(const QString &folder,
                        const std::function<bool(const QString &path)> &overwriteChanged)
{
    LockGuard maintenance(TryLock(JoinPath(m_root, QStringLiteral(".lock")), true));
    UndoResult result;
    if (!ReadBatch(folder, &result.batch) || result.batch.IsEmpty())
        return result;
    LockGuard batchLock(TryLock(JoinPath(result.batch.folder, kLockFile)));
    if (!batchLock.Held())
        return result;
    result.found = true;
    // A record that cannot be trusted is not acted on: what it says may be half of it.
    if (!result.batch.damage.isEmpty()) {
        result.damaged = true;
        return result;
    }

    // A file the batch made first and then overwrote itself (two images onto one name) was not
    // there before the batch: it is removed, never "put back" to the batch's own first result.
    std::map<QString, int> madeAt;
    for (const JournalCreated &c : std::as_const(result.batch.created))
        if (!madeAt.count(c.path))
            madeAt[c.path] = c.sequence;
    auto madeByBatch = [&madeAt](const JournalEntry &e) {
        const auto it = madeAt.find(e.path);
        return it != madeAt.end() && it->second < e.sequence;
    };

    // Per file: its first copy is the file from before the batch, its last entry tells how the
    // batch left it.
    QStringList order;
    std::map<QString, std::pair<JournalEntry, JournalEntry>> files;
    for (const JournalEntry &e : std::as_const(result.batch.entries)) {
        if (madeByBatch(e))
            continue;
        auto it = files.find(e.path);
        if (it == files.end()) {
            order << e.path;
            files.emplace(e.path, std::pair{e, e});
        } else {
            it->second.second = e;
        }
    }
    QList<JournalEntry> remaining;
    QList<JournalCreated> remainingCreated;
    auto keepAll = [&](const QString &path) {
        for (const JournalEntry &e : std::as_const(result.batch.entries))
            if (e.path == path)
                remaining.append(e);
    };
    for (const QString &path : std::as_const(order)) {
        const auto &[first, last] = files.at(path);
        // Neither "yes" nor anything else writes into a folder that has taken the place of the
        // batch's, or puts back a copy that is not what was copied.
        QString refusal = FolderProblem(path, first.folderId);
        if (refusal.isEmpty())
            refusal = BackupProblem(first);
        if (!refusal.isEmpty()) {
            result.failed.append({path, refusal});
            keepAll(path);
            continue;
        }
        struct stat st {};
        const bool exists = ::lstat(Native(path).constData(), &st) == 0;
        bool changed = false;
        const std::optional<FileDigest> now = exists ? DigestOfFile(path) : std::nullopt;
        if (exists && last.willWrite.IsValid() && now == std::optional<FileDigest>(last.willWrite))
            changed = false; // what the batch wrote, whether or not the write was recorded
        else if (exists && last.written && last.writtenDigest.IsValid())
            changed = now != std::optional<FileDigest>(last.writtenDigest);
        else if (exists && last.written)
            changed = !S_ISREG(st.st_mode) || st.st_size != last.writtenSize ||
                      ModifiedNs(st) != last.writtenTime;
        else if (exists && !last.written && S_ISREG(st.st_mode) && SameBytes(path, first.backup))
            continue; // the batch never replaced it (its save failed), or put it back itself
        else if (exists)
            changed = true;
        if (changed && !overwriteChanged(path)) {
            result.kept << path;
            keepAll(path);
            continue;
        }
        const QString why = PutBack(first);
        if (why.isEmpty()) {
            result.restored << path;
            NotifyFileChanged(path);
        } else {
            result.failed.append({path, why});
            keepAll(path);
        }
    }

    // The files it made go, unless they changed since: then they are somebody's work.
    for (const auto &[path, sequence] : madeAt) {
        Q_UNUSED(sequence);
        FileDigest wrote;
        QString folderId;
        for (const JournalCreated &c : std::as_const(result.batch.created))
            if (c.path == path) {
                if (c.digest.IsValid())
                    wrote = c.digest;
                folderId = c.folderId;
            }
        for (const JournalEntry &e : std::as_const(result.batch.entries))
            if (e.path == path && e.written && e.writtenDigest.IsValid() && madeByBatch(e))
                wrote = e.writtenDigest;
        struct stat st {};
        if (::lstat(Native(path).constData(), &st) != 0)
            continue; // gone already
        if (!FolderProblem(path, folderId).isEmpty() || !wrote.IsValid() ||
            DigestOfFile(path) != std::optional<FileDigest>(wrote)) {
            result.changedNew << path;
            continue;
        }
        if (::unlink(Native(path).constData()) == 0) {
            result.removedNew << path;
            NotifyFileChanged(path);
        } else {
            result.failed.append({path, QStringLiteral("cannot remove it: ") + ErrnoText(errno)});
            for (const JournalCreated &c : std::as_const(result.batch.created))
                if (c.path == path)
                    remainingCreated.append(c);
        }
    }

    if (remaining.isEmpty() && remainingCreated.isEmpty()) {
        RemoveBatch(result.batch.folder);
        result.removed = true;
        return result;
    }
    // What was not undone stays undoable: the manifest keeps only those files.
    QList<inifile::Section> sections = {
        {QStringLiteral("Batch"),
         {{QStringLiteral("date"), result.batch.date.toString(kDateFormat)},
          {QStringLiteral("command"), result.batch.command}}}};
    for (const JournalEntry &e : std::as_const(remaining)) {
        inifile::Section file{QStringLiteral("File"),
                              {{QStringLiteral("path"), e.path},
                               {QStringLiteral("backup"), QFileInfo(e.backup).fileName()},
                               {QStringLiteral("time"), QString::number(e.originalTime)}}};
        if (e.originalDigest.IsValid())
            file.entries.append({QStringLiteral("hash"), e.originalDigest.Text()});
        if (e.willWrite.IsValid())
            file.entries.append({QStringLiteral("next"), e.willWrite.Text()});
        if (!e.folderId.isEmpty())
            file.entries.append({QStringLiteral("folder"), e.folderId});
        sections.append(file);
        if (e.written) {
            inifile::Section written{QStringLiteral("Written"),
                                     {{QStringLiteral("path"), e.path},
                                      {QStringLiteral("size"), QString::number(e.writtenSize)},
                                      {QStringLiteral("time"), QString::number(e.writtenTime)}}};
            if (e.writtenDigest.IsValid())
                written.entries.append({QStringLiteral("hash"), e.writtenDigest.Text()});
            if (e.writtenAt > 0)
                written.entries.append({QStringLiteral("at"), QString::number(e.writtenAt)});
            sections.append(written);
        }
    }
    for (const JournalCreated &c : std::as_const(remainingCreated)) {
        inifile::Section created{QStringLiteral("Created"),
                                 {{QStringLiteral("path"), c.path},
                                  {QStringLiteral("hash"), c.digest.Text()}}};
        if (!c.folderId.isEmpty())
            created.entries.append({QStringLiteral("folder"), c.folderId});
        if (c.at > 0)
            created.entries.append({QStringLiteral("at"), QString::number(c.at)});
        sections.append(created);
    }
    sections.append({QStringLiteral("Finished"), {}});
    // Should this fail (a full disk), the old record stays whole: the files already put back
    // then read as changed since, and nothing is put back twice without asking.
    QString why;
    if (!inifile::WriteSections(JoinPath(result.batch.folder, kManifest), sections, &why))
        result.recordNotUpdated = why;
    return result;
}

std::unique_ptr<CJournalRecorder> CJournalRecorder::Begin(const CUndoJournal &journal,
                                                          const QString &command, QString *error)
{
    std::unique_ptr<CJournalRecorder> recorder(new CJournalRecorder);
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = now.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                          u'-' + QString::number(::getpid());
    for (int attempt = 0; attempt < 100 && recorder->m_folder.isEmpty(); ++attempt) {
        const QString folder = JoinPath(journal.Root(), NameAfterEvery(journal.Root(), stamp));
        if (::mkdir(Native(folder).constData(), 0700) == 0)
            recorder->m_folder = folder;
        else if (errno != EEXIST)
            break;
    }
    QString why = recorder->m_folder.isEmpty() ? QStringLiteral("no folder can be made there")
                                               : QString();
    if (!recorder->m_folder.isEmpty())
        recorder->m_lock = TryLock(JoinPath(recorder->m_folder, kLockFile));
    if (!recorder->m_folder.isEmpty() && recorder->m_lock < 0)
        why = QStringLiteral("its lock cannot be made");
    if (recorder->m_lock < 0 ||
        !inifile::WriteSections(recorder->Manifest(),
                                {{QStringLiteral("Batch"),
                                  {{QStringLiteral("date"), now.toString(kDateFormat)},
                                   {QStringLiteral("command"), command}}}},
                                why.isEmpty() ? &why : nullptr)) {
        if (!recorder->m_folder.isEmpty())
            RemoveBatch(recorder->m_folder);
        if (error)
            *error = QStringLiteral("the undo journal cannot take a new batch in ") +
                     journal.Root() + QStringLiteral(" (") + why + u')';
        recorder->m_finished = true;
        return nullptr;
    }
    return recorder;
}

CJournalRecorder::~CJournalRecorder()
{
    Finish();
}

QString CJournalRecorder::Manifest() const
{
    return JoinPath(m_folder, kManifest);
}

bool CJournalRecorder::RecordBackup(const BackupEntry &entry,
                                    const std::optional<FileDigest> &willWrite, QString *error)
{
    if (entry.IsEmpty() || m_finished)
        return false;
    const QString path = QFileInfo(entry.overwrittenPath).absoluteFilePath();
    struct stat st {};
    const qint64 time =
        ::stat(Native(path).constData(), &st) == 0 ? ModifiedNs(st) : qint64(0);
    inifile::Section section{QStringLiteral("File"),
                             {{QStringLiteral("path"), path},
                              {QStringLiteral("backup"), QFileInfo(entry.backupPath).fileName()},
                              {QStringLiteral("time"), QString::number(time)}}};
    if (entry.original.IsValid())
        section.entries.append({QStringLiteral("hash"), entry.original.Text()});
    if (willWrite)
        section.entries.append({QStringLiteral("next"), willWrite->Text()});
    section.entries.append({QStringLiteral("folder"), FolderIdOf(path)});
    return AppendTo(Manifest(), section, error);
}

bool CJournalRecorder::RecordWritten(const QString &path, const std::optional<FileDigest> &digest)
{
    if (m_finished)
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    struct stat st {};
    if (::stat(Native(absolute).constData(), &st) != 0)
        return false;
    const std::optional<FileDigest> wrote = digest ? digest : DigestOfFile(absolute);
    inifile::Section section{QStringLiteral("Written"),
                             {{QStringLiteral("path"), absolute},
                              {QStringLiteral("size"), QString::number(st.st_size)},
                              {QStringLiteral("time"), QString::number(ModifiedNs(st))}}};
    if (wrote)
        section.entries.append({QStringLiteral("hash"), wrote->Text()});
    section.entries.append({QStringLiteral("at"), QString::number(NowNs())});
    ++m_changed;
    return AppendTo(Manifest(), section);
}

bool CJournalRecorder::RecordCreated(const QString &path, const std::optional<FileDigest> &digest)
{
    if (m_finished)
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const std::optional<FileDigest> wrote = digest ? digest : DigestOfFile(absolute);
    // Without knowing what it wrote, undo could not tell the file from somebody's later work:
    // it is left out, and so never removed.
    if (!wrote)
        return false;
    ++m_changed;
    return AppendTo(Manifest(), {QStringLiteral("Created"),
                                 {{QStringLiteral("path"), absolute},
                                  {QStringLiteral("hash"), wrote->Text()},
                                  {QStringLiteral("folder"), FolderIdOf(absolute)},
                                  {QStringLiteral("at"), QString::number(NowNs())}}});
}

bool CJournalRecorder::Finish()
{
    if (m_finished)
        return m_changed > 0;
    m_finished = true;
    // A batch that replaced and made nothing (every save failed) holds nothing to undo: its
    // copies would only take a slot.
    if (m_changed == 0)
        RemoveBatch(m_folder);
    else
        AppendTo(Manifest(), {QStringLiteral("Finished"), {}});
    Unlock(m_lock);
    m_lock = -1;
    return m_changed > 0;
}

QString FolderIdOf(const QString &path)
{
    struct stat st {};
    if (::stat(Native(QFileInfo(path).absolutePath()).constData(), &st) != 0)
        return QString();
    return QString::number(quint64(st.st_dev)) + u':' + QString::number(quint64(st.st_ino));
}

QString ReplacedFileOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() && info.exists())
        return info.canonicalFilePath();
    return info.absoluteFilePath();
}
