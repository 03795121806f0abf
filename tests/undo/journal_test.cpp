#include "undo/journal.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

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
        WriteFile(path, bytes);
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
        WriteFile(files.File("a.jpg"), "original a");
        WriteFile(files.File("b.jpg"), "original b");
        {
            auto recorder = CJournalRecorder::Begin(journal, "pixorta-batch --in-place", nullptr);
            ASSERT_TRUE(recorder);
            Overwrite(*recorder, files.File("a.jpg"), "new a");
            Overwrite(*recorder, files.File("b.jpg"), "new b", false);
        }
        if (changedSince)
            WriteFile(files.File("b.jpg"), "edited b");
        QStringList asked;
        const CUndoJournal::UndoResult r = journal.UndoNewest([&](const QString &path) {
            asked << path;
            return false;
        });
        ASSERT_TRUE(r.found);
        EXPECT_EQ(FileBytes(files.File("a.jpg")), "original a");
        EXPECT_EQ(FileBytes(files.File("b.jpg")), changedSince ? "edited b" : "original b");
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

    WriteFile(files.File("a.png"), "original");
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
    WriteFile(files.File("a.jpg"), "original");
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
    EXPECT_EQ(FileBytes(files.File("a.jpg")), "later 1");
}

// Undo takes back what a batch did to every kind of file it touched, and counts it: files it
// overwrote come back, files it made go while they hold what it wrote, a made file edited since
// stays and is named, even when the edit kept its size and its time.
TEST_F(Journal, UndoPutsBackRemovesAndLeavesWhatChangedAndCountsIt)
{
    CUndoJournal journal(state.File("pixorta/journal"));
    ASSERT_TRUE(journal.Open(nullptr));
    WriteFile(files.File("old.png"), "before the batch");
    std::unique_ptr<CJournalRecorder> recorder =
        CJournalRecorder::Begin(journal, "pixorta-batch x", nullptr);
    ASSERT_TRUE(recorder);
    Overwrite(*recorder, files.File("old.png"), "the batch's");
    for (const char *name : {"new1.png", "new2.png", "edited.png"}) {
        WriteFile(files.File(name), QByteArray("made: ") + name);
        recorder->RecordCreated(files.File(name));
    }
    // Made first, then overwritten by a later image of the same batch: it was not there before.
    WriteFile(files.File("twice.png"), "first image");
    recorder->RecordCreated(files.File("twice.png"));
    Overwrite(*recorder, files.File("twice.png"), "second image");
    ASSERT_TRUE(recorder->Finish());

    // An edit of the same length, with the time set back: only the content tells.
    struct stat before {};
    ASSERT_EQ(::stat(files.File("edited.png").toUtf8().constData(), &before), 0);
    WriteFile(files.File("edited.png"), "MADE: edited.png");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, files.File("edited.png").toUtf8().constData(), times, 0), 0);
    ASSERT_TRUE(QFile::remove(files.File("new2.png"))); // already gone: nothing to do

    const CUndoJournal::UndoResult r = journal.UndoNewest([](const QString &) { return false; });
    ASSERT_TRUE(r.found);
    EXPECT_TRUE(r.removed);
    EXPECT_EQ(r.restored, QStringList({files.File("old.png")}));
    EXPECT_EQ(FileBytes(files.File("old.png")), "before the batch");
    EXPECT_EQ(QSet<QString>(r.removedNew.begin(), r.removedNew.end()),
              QSet<QString>({files.File("new1.png"), files.File("twice.png")}));
    EXPECT_FALSE(QFile::exists(files.File("new1.png")));
    EXPECT_FALSE(QFile::exists(files.File("twice.png")));
    EXPECT_EQ(r.changedNew, QStringList({files.File("edited.png")}));
    EXPECT_EQ(FileBytes(files.File("edited.png")), "MADE: edited.png");
    EXPECT_EQ(UndoCountsText(r.Counts()),
              "1 file put back, 2 new files removed, 1 changed file left");
    EXPECT_TRUE(journal.Batches().isEmpty());
}

TEST(UndoCounts, SayWhatWasDoneInNumbers)
{
    const struct {
        UndoCounts counts;
        const char *text;
    } cases[] = {
        {{4, 12, 1, 0}, "4 files put back, 12 new files removed, 1 changed file left"},
        {{1, 0, 0, 0}, "1 file put back"},
        {{0, 1, 0, 2}, "1 new file removed, 2 files could not be undone"},
        {{0, 0, 0, 0}, "the batch wrote nothing new and overwrote nothing"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UndoCountsText(c.counts), c.text);
}

} // namespace
