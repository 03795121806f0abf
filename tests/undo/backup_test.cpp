#include "undo/backup.h"
#include "core/paths.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <memory>
#include <sys/stat.h>

namespace {

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool OwnerWritable(const QString &path)
{
    struct stat st {};
    return ::stat(path.toUtf8().constData(), &st) == 0 && (st.st_mode & S_IWUSR);
}

void MakeReadOnly(const QString &path)
{
    ASSERT_EQ(::chmod(path.toUtf8().constData(), 0444), 0);
}

class BackupUndo : public ::testing::Test {
protected:
    void SetUp() override { ResetUndoStateForTests(); }
    void TearDown() override
    {
        ResetUndoStateForTests();
        SetFileChangedNotifier(nullptr);
    }

    // Overwrites path with bytes the way a batch does: back up first, then write.
    void OverwriteAsABatch(const QStringList &paths, const QByteArray &bytes)
    {
        UndoOperation op;
        op.description = "Processing all images";
        for (const QString &p : paths) {
            const BackupEntry e = BackupFile(op.entries, p);
            ASSERT_FALSE(e.IsEmpty());
            ClearReadOnly(p);
            ASSERT_NO_FATAL_FAILURE(WriteFile(p, bytes));
        }
        EnsureBackupFolder();
        UndoHistory::Instance().Append(op);
    }

    TempFolder dir;
};

TEST_F(BackupUndo, BackupFolderIsFreshPrivateAndNamedAfterTheProgram)
{
    const QString folder = GetBackupFolder();
    const QString prefix = GetTempFolder() + "pixorta_temp";
    ASSERT_TRUE(folder.startsWith(prefix)) << folder.toStdString();
    bool digits = false;
    folder.mid(prefix.size()).toULongLong(&digits);
    EXPECT_TRUE(digits) << "a numeric suffix: " << folder.toStdString();
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_EQ(GetBackupFolder(), folder); // created once per run
}

TEST_F(BackupUndo, UndoRestoresTheExactBytesAlsoOfAReadOnlyFile)
{
    const QString a = dir.File("a.jpg"), b = dir.File("b.jpg");
    const QByteArray original("\x00\xff\x10 original bytes\r\n", 20);
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, original));
    ASSERT_NO_FATAL_FAILURE(WriteFile(b, "bee"));
    ASSERT_NO_FATAL_FAILURE(MakeReadOnly(b));
    ASSERT_NO_FATAL_FAILURE(OverwriteAsABatch({a, b}, "changed"));
    ASSERT_EQ(Read(a), "changed");

    QStringList notified;
    SetFileChangedNotifier([&](const QString &p, const QString &note) {
        EXPECT_TRUE(note.isEmpty());
        notified << p;
    });
    MessageRecorder rec;
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(rec.Texts(), QStringList({"Are you sure you want to undo the last operation "
                                        "(Processing all images)?",
                                        "Everything undo'ed OK: 2 files put back."}));
    EXPECT_EQ(rec.Messages()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(rec.Messages()[0].caption, ApplicationTitle());
    EXPECT_EQ(Read(a), original);
    EXPECT_EQ(Read(b), "bee");
    EXPECT_EQ(notified, QStringList({a, b}));
    EXPECT_TRUE(UndoHistory::Instance().IsEmpty());
}

TEST_F(BackupUndo, TwoBatchesAreUndoneInTurn)
{
    const QString a = dir.File("a.jpg");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "v0"));
    ASSERT_NO_FATAL_FAILURE(OverwriteAsABatch({a}, "v1"));
    ASSERT_NO_FATAL_FAILURE(OverwriteAsABatch({a}, "v2"));
    MessageRecorder rec;
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(Read(a), "v1");
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(Read(a), "v0");
    EXPECT_FALSE(UndoLastOperation());
    EXPECT_EQ(rec.Texts().back(), "There is nothing to undo (i.e. no file was overwritten)");
}

TEST_F(BackupUndo, AnsweringNoKeepsTheOperation)
{
    const QString a = dir.File("a.jpg");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "v0"));
    ASSERT_NO_FATAL_FAILURE(OverwriteAsABatch({a}, "v1"));
    MessageRecorder rec;
    rec.Answer(MsgAnswer::No);
    EXPECT_FALSE(UndoLastOperation());
    EXPECT_EQ(rec.Texts().size(), 1);
    EXPECT_EQ(Read(a), "v1");
    EXPECT_EQ(UndoHistory::Instance().Count(), 1);
}

TEST_F(BackupUndo, OperationWithoutEntriesOrDescriptionStillUndoes)
{
    UndoHistory::Instance().Append(UndoOperation{});
    MessageRecorder rec;
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(rec.Texts(),
              QStringList({"Are you sure you want to undo the last operation?",
                           "Everything undo'ed OK: the batch wrote nothing new and overwrote "
                           "nothing."}));
}

TEST_F(BackupUndo, FailedBackupsGiveEmptyEntriesAndUndoReportsErrors)
{
    UndoOperation op;
    op.description = "Rotate left";
    EXPECT_TRUE(BackupFile(op.entries, dir.Path()).IsEmpty());          // a folder
    EXPECT_TRUE(BackupFile(op.entries, dir.File("missing")).IsEmpty()); // nothing to copy
    ASSERT_EQ(op.entries.size(), 2);
    const QString a = dir.File("a.jpg");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "v0"));
    BackupFile(op.entries, a);
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "v1"));
    UndoHistory::Instance().Append(op);
    MessageRecorder rec;
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(rec.Texts().back(),
              "Done, but there were errors, not every file could be copied back: 1 file put "
              "back, 2 files could not be undone.");
    EXPECT_EQ(Read(a), "v0"); // the good entry is restored all the same
}

TEST_F(BackupUndo, BackupWithoutCopyOnlyRecordsThePaths)
{
    QList<BackupEntry> list;
    const BackupEntry e = BackupFile(list, dir.File("x.jpg"), dir.File("y.jpg"), false);
    EXPECT_EQ(e.overwrittenPath, dir.File("x.jpg"));
    EXPECT_EQ(e.backupPath, dir.File("y.jpg"));
    EXPECT_FALSE(QFile::exists(dir.File("y.jpg")));
}

TEST_F(BackupUndo, RemovingTheBackupFolderDeletesReadOnlyCopies)
{
    const QString a = dir.File("a.jpg");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "v0"));
    ASSERT_NO_FATAL_FAILURE(MakeReadOnly(a));
    QList<BackupEntry> list;
    const BackupEntry e = BackupFile(list, a);
    ASSERT_TRUE(QFile::exists(e.backupPath));
    EXPECT_FALSE(OwnerWritable(e.backupPath));
    const QString folder = GetBackupFolder();
    RemoveBackupFolder();
    EXPECT_FALSE(QDir(folder).exists());
}

TEST_F(BackupUndo, WithoutABackupFolderNothingIsCopiedAnywhere)
{
    // A "temporary folder" that is a file: no backup folder can be made in it.
    const QString notAFolder = dir.File("tmp");
    ASSERT_NO_FATAL_FAILURE(WriteFile(notAFolder, "x"));
    const QByteArray savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", notAFolder.toUtf8());
    const QString a = dir.File("a.jpg");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "v0"));
    QList<BackupEntry> list;
    const BackupEntry e = BackupFile(list, a);
    qputenv("TMPDIR", savedTmp);
    EXPECT_TRUE(e.IsEmpty()) << "an empty entry tells the caller not to overwrite";
    EXPECT_TRUE(GetBackupFolder().isEmpty());
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files).size(), 2) << "no copy landed beside it";
}

// Twenty processes started together draw the same random names; each must still get a folder
// of its own, and one removing its folder must leave the others' copies alone.
TEST(BackupFolderClaim, ConcurrentProcessesEachGetTheirOwnFolder)
{
    constexpr int kProcesses = 20;
    TempFolder tmp, src;
    const QString picture = src.File("photo.jpg");
    {
        QFile f(picture);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the only copy");
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp.Path());
    const QString driver = QCoreApplication::applicationDirPath() + "/backup_claim_driver";
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int i = 0; i < kProcesses; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->start(driver, {picture});
        ASSERT_TRUE(p->waitForStarted(10000));
        procs.push_back(std::move(p));
    }
    for (auto &p : procs)
        p->write("go\n");
    QStringList folders, copies;
    for (auto &p : procs) {
        ASSERT_TRUE(p->waitForReadyRead(30000)) << p->readAllStandardError().toStdString();
        const QStringList parts = QString::fromUtf8(p->readLine()).trimmed().split('\t');
        ASSERT_EQ(parts.size(), 2);
        folders << parts[0];
        copies << parts[1];
    }
    EXPECT_EQ(QSet<QString>(folders.begin(), folders.end()).size(), kProcesses);
    for (int i = 0; i < kProcesses; ++i) {
        EXPECT_TRUE(folders[i].startsWith(QDir(tmp.Path()).canonicalPath() + "/pixorta_temp"))
            << folders[i].toStdString();
        EXPECT_TRUE(copies[i].startsWith(folders[i] + "/photo")) << copies[i].toStdString();
    }
    procs[0]->write("remove\n");
    ASSERT_TRUE(procs[0]->waitForFinished(30000));
    EXPECT_FALSE(QDir(folders[0]).exists());
    for (int i = 1; i < kProcesses; ++i)
        EXPECT_EQ(Read(copies[i]), "the only copy") << copies[i].toStdString();
    for (int i = 1; i < kProcesses; ++i) {
        procs[i]->write("remove\n");
        ASSERT_TRUE(procs[i]->waitForFinished(30000));
        EXPECT_EQ(procs[i]->exitCode(), 0);
    }
    EXPECT_TRUE(QDir(tmp.Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

} // namespace
