#include "undo/journal.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

mode_t Mode(const QString &path)
{
    struct stat st {};
    ::lstat(path.toUtf8().constData(), &st);
    return st.st_mode & 0777;
}

class Journal : public testing::Test {
protected:
    void TearDown() override { ResetBackupFolderForTests(); }

    // One file of a batch overwritten the way the runner does it: copied into the journal,
    // recorded, replaced, recorded again (unless the batch was stopped before).
    void Overwrite(CJournalRecorder &recorder, const QString &path, const QByteArray &bytes,
                   bool replaced = true)
    {
        QList<BackupEntry> list;
        recorder.RecordBackup(BackupFileInto(list, path, recorder.Folder()));
        if (!replaced)
            return;
        Write(path, bytes);
        recorder.RecordWritten(path);
    }

    TempFolder files, state;
};

// A batch killed between copying a file and replacing it is undone as far as it got: the file
// it never replaced needs nothing, one the user changed since is not overwritten unasked.
TEST_F(Journal, ABatchStoppedHalfWayIsUndoneAsFarAsItGot)
{
    CUndoJournal journal(state.File("pixorta/journal"));
    ASSERT_TRUE(journal.Open(nullptr));
    for (const bool changedSince : {false, true}) {
        SCOPED_TRACE(changedSince ? "changed since" : "as it was");
        Write(files.File("a.jpg"), "original a");
        Write(files.File("b.jpg"), "original b");
        {
            auto recorder = CJournalRecorder::Begin(journal, "pixorta-batch --in-place", nullptr);
            ASSERT_TRUE(recorder);
            Overwrite(*recorder, files.File("a.jpg"), "new a");
            Overwrite(*recorder, files.File("b.jpg"), "new b", false);
        }
        if (changedSince)
            Write(files.File("b.jpg"), "edited b");
        QStringList asked;
        const CUndoJournal::UndoResult r = journal.UndoNewest([&](const QString &path) {
            asked << path;
            return false;
        });
        ASSERT_TRUE(r.found);
        EXPECT_EQ(Bytes(files.File("a.jpg")), "original a");
        EXPECT_EQ(Bytes(files.File("b.jpg")), changedSince ? "edited b" : "original b");
        EXPECT_EQ(asked, changedSince ? QStringList{files.File("b.jpg")} : QStringList());
        EXPECT_EQ(r.removed, !changedSince) << "what was not put back stays undoable";
        journal.Forget();
    }
}

TEST_F(Journal, OnlyTheUserMayEnterAndRunningBatchesAreLeftAlone)
{
    const QString root = state.File("pixorta/journal");
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_EQ(::chmod(root.toUtf8().constData(), 0755), 0);
    CUndoJournal journal(root);
    ASSERT_TRUE(journal.Open(nullptr));
    EXPECT_EQ(Mode(root), 0700u);
    EXPECT_EQ(Mode(state.File("pixorta")), 0700u);

    ASSERT_EQ(::symlink(root.toUtf8().constData(), state.File("elsewhere").toUtf8().constData()), 0);
    QString error;
    EXPECT_FALSE(CUndoJournal(state.File("elsewhere")).Open(&error));
    EXPECT_TRUE(error.contains("is not a folder")) << error.toStdString();

    Write(files.File("a.png"), "original");
    auto running = CJournalRecorder::Begin(journal, "pixorta-batch --in-place a.png", nullptr);
    ASSERT_TRUE(running);
    Overwrite(*running, files.File("a.png"), "new");
    ASSERT_EQ(journal.Batches().size(), 1);
    EXPECT_TRUE(journal.Batches().front().running);
    EXPECT_FALSE(journal.UndoNewest([](const QString &) { return true; }).found);
    EXPECT_TRUE(journal.Prune(0, 0).isEmpty());
    EXPECT_TRUE(journal.Forget().isEmpty());
    EXPECT_TRUE(running->Finish());
    EXPECT_EQ(journal.Forget().size(), 1);
}

// The journal takes name order for age order. A batch made while the clock was ahead, or a
// name of this millisecond freed by pruning, must not make the newest batch look the oldest:
// it would be the one pruned and the one --undo skips.
TEST_F(Journal, ANewBatchIsTheNewestWhateverTheClockSaid)
{
    CUndoJournal journal(state.File("pixorta/journal"));
    ASSERT_TRUE(journal.Open(nullptr));
    Write(files.File("a.jpg"), "original");
    auto batch = [&](const QString &command, const QByteArray &bytes) {
        auto recorder = CJournalRecorder::Begin(journal, command, nullptr);
        EXPECT_TRUE(recorder);
        if (recorder)
            Overwrite(*recorder, files.File("a.jpg"), bytes);
        return recorder ? QFileInfo(recorder->Folder()).fileName() : QString();
    };
    const QString ahead = batch("ahead", "by the fast clock");
    ASSERT_TRUE(QDir(journal.Root()).rename(ahead, "99991231-235959-999-1"));
    QStringList made;
    for (int i = 0; i < 3; ++i)
        made << batch("later " + QString::number(i), "later " + QByteArray::number(i));
    EXPECT_EQ(made, QStringList({"99991231-235959-999-1.000001", "99991231-235959-999-1.000002",
                                 "99991231-235959-999-1.000003"}));
    QStringList order;
    for (const JournalBatch &b : journal.Batches())
        order << b.command;
    EXPECT_EQ(order, QStringList({"later 2", "later 1", "later 0", "ahead"}));
    const QList<JournalBatch> pruned = journal.Prune(1, qint64(1) << 30);
    ASSERT_EQ(pruned.size(), 3);
    EXPECT_EQ(pruned.front().command, "ahead");
    EXPECT_EQ(journal.UndoNewest([](const QString &) { return true; }).batch.command, "later 2");
    EXPECT_EQ(Bytes(files.File("a.jpg")), "later 1");
}

} // namespace
