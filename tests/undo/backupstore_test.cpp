// The stores an operation keeps what it replaces through: the window's (a folder of this run
// under one record of the undo history) and the command line's (the undo journal and its policy).

#include "undo/backupstore.h"
#include "undo/journalstore.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray Bytes(const QString &path) { return FileBytes(path, "<missing>"); }

class Stores : public testing::Test {
protected:
    void SetUp() override { ResetUndoStateForTests(); }
    void TearDown() override
    {
        ResetUndoStateForTests();
    }

    // Overwrites path with bytes through store, as an operation does.
    void Overwrite(CBackupStore &store, const QString &path, const QByteArray &bytes)
    {
        ASSERT_FALSE(store.Keep(path).IsEmpty()) << path.toStdString();
        ASSERT_NO_FATAL_FAILURE(WriteFile(path, bytes));
        store.Replaced(path);
    }

    // One batch of the journal at root that overwrites a file of size bytes, said to take
    // declared bytes (-1: its size); the commands of the batches its end pruned.
    QStringList RunJournalBatch(const QString &root, const QString &command,
                                const JournalPolicy &policy, qint64 size, qint64 declared = -1)
    {
        const QString path = files.File(command + ".bin");
        WriteFile(path, QByteArray(size, 'o'));
        QString error;
        const auto store = CJournalBackupStore::Begin(
            root, command, policy, [&] { return declared < 0 ? size : declared; }, &error);
        EXPECT_TRUE(store) << error.toStdString();
        if (!store)
            return {"<not started>"};
        Overwrite(*store, path, "new");
        EXPECT_TRUE(store->End());
        QStringList pruned;
        for (const JournalBatch &b : store->Pruned())
            pruned << b.command;
        return pruned;
    }

    TempFolder files;
    MessageRecorder messages;
};

TEST_F(Stores, TheWindowsStoreMakesEveryOperationOneUndoRecord)
{
    const QString a = files.File("a.png");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "before"));
    const QString descriptions[] = {"Processing all images", "Immediate operation: Rotate left",
                                    "Immediate operation: rotate RIGHT"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(descriptions[i].toStdString());
        CHistoryBackupStore store(descriptions[i]);
        ASSERT_NO_FATAL_FAILURE(Overwrite(store, a, "after " + QByteArray::number(i)));
        EXPECT_TRUE(store.Keep(files.Path()).IsEmpty()) << "a folder has no copy";
        ASSERT_EQ(store.Entries().size(), 2);
        EXPECT_EQ(QFileInfo(store.Entries()[0].backupPath).absolutePath(), GetBackupFolder());
        EXPECT_TRUE(store.End());
        EXPECT_TRUE(store.End()) << "the same answer again";
        EXPECT_TRUE(store.Keep(a).IsEmpty()) << "nothing is kept once the operation ended";
        ASSERT_EQ(UndoHistory::Instance().Count(), i + 1);
        EXPECT_EQ(UndoHistory::Instance().Newest().description, descriptions[i]);
        ASSERT_EQ(UndoHistory::Instance().Newest().entries.size(), 2);
        EXPECT_EQ(UndoHistory::Instance().Newest().entries[0].overwrittenPath, a);
    }

    // An operation that kept nothing is still one record; one that never ended is none.
    EXPECT_FALSE(CHistoryBackupStore("Processing all images").End());
    EXPECT_EQ(UndoHistory::Instance().Count(), 4);
    EXPECT_TRUE(UndoHistory::Instance().Newest().entries.isEmpty());
    {
        CHistoryBackupStore abandoned("Processing all images");
        ASSERT_NO_FATAL_FAILURE(Overwrite(abandoned, a, "after 3"));
    }
    EXPECT_EQ(UndoHistory::Instance().Count(), 4);

    UndoHistory::Instance().RemoveNewest();
    messages.Answer(MsgAnswer::Yes);
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(Bytes(a), "after 1");
    EXPECT_EQ(messages.Texts().first(),
              "Are you sure you want to undo the last operation (Immediate operation: rotate RIGHT)?");
}

// The window's history on top of the journal: the copies are the journal's, recorded as they
// are made, and the operation is still one record of the history.
TEST_F(Stores, TheHistoryCanSitOnTheJournal)
{
    TempFolder state;
    const QString root = state.File("pixorta/journal");
    const QString a = files.File("a.png");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "before"));
    QString error;
    const auto journal = CJournalBackupStore::Begin(root, "Processing all images", {}, nullptr, &error);
    ASSERT_TRUE(journal) << error.toStdString();
    CHistoryBackupStore store("Processing all images", journal.get());
    ASSERT_NO_FATAL_FAILURE(Overwrite(store, a, "after"));
    EXPECT_EQ(&store.Entries(), &journal->Entries());
    EXPECT_EQ(QFileInfo(store.Entries()[0].backupPath).absolutePath(), journal->Folder());
    EXPECT_TRUE(store.End());

    ASSERT_EQ(UndoHistory::Instance().Count(), 1);
    EXPECT_EQ(UndoHistory::Instance().Newest().entries[0].backupPath,
              journal->Entries()[0].backupPath);
    const QList<JournalBatch> batches = CUndoJournal(root).Batches();
    ASSERT_EQ(batches.size(), 1);
    EXPECT_TRUE(batches[0].finished) << "ending the history ended the journal's batch";
    ASSERT_EQ(batches[0].entries.size(), 1);
    EXPECT_TRUE(batches[0].entries[0].written);
    EXPECT_EQ(Bytes(batches[0].entries[0].backup), "before");
}

TEST_F(Stores, TheJournalKeepsItsNewestBatchesWithinItsLimit)
{
    const struct {
        const char *name;
        JournalPolicy policy;
        QList<qint64> sizes;
        // What each batch's copies were said to take, when not their size.
        QList<qint64> declared;
        // What the end of each batch pruned.
        QList<QStringList> pruned;
        QStringList left;
    } rows[] = {
        {"by count", {3, qint64(1) << 30}, {10, 10, 10, 10, 10}, {},
         {{}, {}, {}, {"b0"}, {"b1"}}, {"b4", "b3", "b2"}},
        {"by size", {10, 250}, {100, 100, 100, 200}, {},
         {{}, {}, {"b0"}, {"b1", "b2"}}, {"b3"}},
        // The plan can only estimate; the batch that ran is kept even when it took more.
        {"the newest stays over the limit", {10, 150}, {100, 200}, {-1, 150},
         {{}, {"b0"}}, {"b1"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder state;
        const QString root = state.File("pixorta/journal");
        for (int i = 0; i < row.sizes.size(); ++i)
            EXPECT_EQ(RunJournalBatch(root, "b" + QString::number(i), row.policy, row.sizes[i],
                                      row.declared.value(i, -1)),
                      row.pruned[i])
                << i;
        QStringList left;
        for (const JournalBatch &b : CUndoJournal(root).Batches())
            left << b.command;
        EXPECT_EQ(left, row.left);
    }
}

TEST_F(Stores, TheJournalRefusesABatchLargerThanItMayKeep)
{
    const struct {
        qint64 bytes, limit;
        CJournalBackupStore::Start start;
        const char *error;
    } rows[] = {
        {2048, 1024, CJournalBackupStore::Start::Refused,
         "this batch would overwrite 2.0 KiB of files, more than the undo journal may keep "
         "(1.0 KiB)"},
        {1024, 1024, CJournalBackupStore::Start::Started, ""},
        {0, 0, CJournalBackupStore::Start::Started, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.bytes);
        TempFolder state;
        const QString root = state.File("pixorta/journal");
        QString error;
        auto start = CJournalBackupStore::Start::Unavailable;
        const auto store = CJournalBackupStore::Begin(root, "pixorta-batch", {10, row.limit},
                                                      [&] { return row.bytes; }, &error, &start);
        EXPECT_EQ(start, row.start);
        EXPECT_EQ(store != nullptr, row.start == CJournalBackupStore::Start::Started);
        EXPECT_EQ(error, row.error);
        if (!store) {
            EXPECT_EQ(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList())
                << "a refused batch leaves nothing in the journal";
        }
    }

    // A journal that cannot be used is no refusal, and the batch's size is not worth reading.
    TempFolder state;
    ASSERT_NO_FATAL_FAILURE(WriteFile(state.File("pixorta"), "a file where a folder belongs"));
    bool asked = false;
    QString error;
    auto start = CJournalBackupStore::Start::Started;
    EXPECT_FALSE(CJournalBackupStore::Begin(state.File("pixorta/journal"), "pixorta-batch", {},
                                            [&] { asked = true; return qint64(0); }, &error,
                                            &start));
    EXPECT_EQ(start, CJournalBackupStore::Start::Unavailable);
    EXPECT_TRUE(error.startsWith("the undo journal cannot be used: ")) << error.toStdString();
    EXPECT_FALSE(asked);
}

// A batch that overwrote nothing leaves the journal and prunes nothing; one that is destroyed
// before its end is finished all the same and can be undone.
TEST_F(Stores, TheJournalsBatchEnds)
{
    TempFolder state;
    const QString root = state.File("pixorta/journal");
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(RunJournalBatch(root, "b" + QString::number(i), {1, qint64(1) << 30}, 10).size(), i);
    QString error;
    {
        const auto empty = CJournalBackupStore::Begin(root, "empty", {1, qint64(1) << 30}, nullptr,
                                                      &error);
        ASSERT_TRUE(empty) << error.toStdString();
        EXPECT_TRUE(empty->Keep(files.File("missing")).IsEmpty());
        EXPECT_FALSE(empty->End());
        EXPECT_TRUE(empty->Pruned().isEmpty());
    }
    const QString a = files.File("a.png");
    ASSERT_NO_FATAL_FAILURE(WriteFile(a, "before"));
    {
        const auto killed = CJournalBackupStore::Begin(root, "unended", {}, nullptr, &error);
        ASSERT_TRUE(killed) << error.toStdString();
        ASSERT_NO_FATAL_FAILURE(Overwrite(*killed, a, "after"));
    }
    QStringList left;
    for (const JournalBatch &b : CUndoJournal(root).Batches())
        left << b.command;
    EXPECT_EQ(left, QStringList({"unended", "b1"}));
    EXPECT_TRUE(CUndoJournal(root).UndoNewest([](const QString &) { return false; }).removed);
    EXPECT_EQ(Bytes(a), "before");
}

} // namespace
