#include "undo/backup.h"
#include "batch/batchrunner.h"
#include "imageio/imagefile.h"
#include "core/paths.h"
#include "batch/pixortafinalprocessordlg.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortatask.h"
#include "engine/pximage.h"
#include "testjobs.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"
#include "undo/journalstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <array>
#include <condition_variable>
#include <mutex>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace {

// A task whose behaviour each test scripts.
class ScriptedTask : public CPixortaTask {
public:
    explicit ScriptedTask(qint32 kind = TaskChangeColors) : CPixortaTask(kind) {}
    std::function<bool(PxImage &, bool &, const QString &)> apply;
    std::function<bool(QStringList &, const QString &, CBackupStore &, QStringList &)> finish;
    std::atomic<int> applied{0};
    QStringList finishedWith;
    QString finishFolder;

    bool Apply(PxImage &image, bool &modified, QString path) override
    {
        ++applied;
        return apply ? apply(image, modified, path) : true;
    }
    bool Finish(QStringList &outputs, const QString &folder, CBackupStore &backups,
                QStringList &extra) override
    {
        finishedWith = outputs;
        finishFolder = folder;
        return finish ? finish(outputs, folder, backups, extra) : true;
    }
};

// Inverts every pixel, so a rewritten file differs from its source.
bool Invert(PxImage &image, bool &, const QString &)
{
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = static_cast<uint8_t>(255 - i);
        return t;
    }();
    return image.Lut(table.data());
}

void MakeImage(const QString &path, int width = 24, int height = 16, uint8_t seed = 1)
{
    PxImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y) {
        uint8_t *row = image.GetBits(y);
        for (int x = 0; x < width * 3; ++x)
            row[x] = static_cast<uint8_t>(seed * 37 + x * 5 + y * 11);
    }
    ASSERT_TRUE(SaveImageFile(image, path)) << path.toStdString() << ": " << image.GetLastError();
}

// A modification time far from now, so that a file given back with the wrong one shows.
constexpr qint64 kLastYear = 1700000000;
void SetLastYear(const QString &path)
{
    const struct timespec times[2] = {{kLastYear, 0}, {kLastYear, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.toUtf8().constData(), times, 0), 0);
}

// The finishing step of a movie: replaces movie.avi in the batch's folder, through the batch's
// store, as the slideshow does.
bool ReplaceMovie(QStringList &, const QString &folder, CBackupStore &backups, QStringList &extra)
{
    const QString movie = folder + "/movie.avi";
    if (QFile::exists(movie) && backups.Keep(movie).IsEmpty())
        return false;
    QFile f(movie);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write("this week's movie") != 17)
        return false;
    f.close();
    backups.Replaced(movie);
    extra << movie;
    return true;
}

QStringList Lines(const CBatchRunner &runner)
{
    QStringList lines;
    for (const ResultRow &row : runner.Rows())
        lines << ResultRowText(row);
    return lines;
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override { ResetUndoStateForTests(); }
    void TearDown() override
    {
        ResetUndoStateForTests();
    }
    QString Src(const QString &name) const { return dir.File("src/" + name); }
    QStringList MakeSources(const QStringList &names)
    {
        QDir(dir.Path()).mkpath("src");
        QStringList paths;
        uint8_t seed = 1;
        for (const QString &n : names) {
            MakeImage(Src(n), 20 + seed, 10 + seed, seed);
            if (HasFatalFailure())
                return {};
            ++seed;
            paths << Src(n);
        }
        return paths;
    }
    TempFolder dir;
    MessageRecorder messages;
};

TEST(ResultRows, LineTexts)
{
    EXPECT_EQ(ResultRowText({"/p/a.jpg", "", true, false, {}}), "done :a.jpg");
    EXPECT_EQ(ResultRowText({"/p/a.jpg", "", false, false, {}}), "failed :a.jpg");
    EXPECT_EQ(ResultRowText({"/p/a.jpg", "Saving failed", false, true, {}}), "   Saving failed :a.jpg");
    EXPECT_EQ(ResultRowText({"/p/noext", "Loading failed", false, false, {}}), "Loading failed :noext");
    EXPECT_EQ(ResultRowText({"", "Finished. No errors", true, false, {}}), "Finished. No errors");
}

TEST_F(Batch, ConvertsManyFilesIntoEveryFormatInAFolder)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.png", "c.jpg", "d.tif", "e.bmp"}));
    for (const QString ext : {"jpg", "bmp", "gif", "tif", "png"}) {
        SCOPED_TRACE(ext.toStdString());
        ScriptedTask neutral;
        neutral.apply = [](PxImage &, bool &modified, const QString &) {
            modified = false;
            return true;
        };
        const QString out = dir.File("out-" + ext);
        CBatchRunner runner(TestJob({&neutral}, ext, out), sources);
        ASSERT_TRUE(runner.RunBatch());
        EXPECT_EQ(runner.ErrorCount(), 0);
        ASSERT_EQ(runner.Outputs().size(), sources.size());
        for (int i = 0; i < sources.size(); ++i) {
            EXPECT_EQ(runner.Outputs()[i], out + "/" + GetFileBaseName(sources[i]) + "." + ext);
            PxImage result;
            ASSERT_TRUE(LoadImageFile(result, runner.Outputs()[i]));
            EXPECT_EQ(result.GetWidth(), 21u + i);
            EXPECT_EQ(result.GetType(), FormatFromExtension(ext.toStdString()));
        }
        EXPECT_EQ(Lines(runner).back(), "Finished. No errors");
        EXPECT_TRUE(runner.Backups().isEmpty());
    }
    EXPECT_EQ(UndoHistory::Instance().Count(), 5);
}

TEST_F(Batch, InPlaceFormatChangeWritesBesideTheSourceAndBacksUpWhatItReplaces)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    ASSERT_NO_FATAL_FAILURE(MakeImage(Src("a.png"), 5, 5, 9)); // in the way of a.bmp's result
    const QByteArray oldPng = FileBytes(Src("a.png")), oldBmp = FileBytes(Src("a.bmp"));
    ScriptedTask neutral;
    CBatchRunner runner(TestJob({&neutral}, "png"), sources);
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(runner.Outputs(), QStringList({Src("a.png"), Src("b.png")}));
    EXPECT_EQ(FileBytes(Src("a.bmp")), oldBmp);
    ASSERT_EQ(runner.Backups().size(), 1);
    EXPECT_EQ(runner.Backups()[0].overwrittenPath, Src("a.png"));
    PxImage result;
    ASSERT_TRUE(LoadImageFile(result, Src("a.png")));
    EXPECT_EQ(result.GetWidth(), 21u);

    messages.Answer(MsgAnswer::Yes);
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(FileBytes(Src("a.png")), oldPng);
}

// The image list takes .tga files, which content detection reads; keeping the format must write
// them back as TGA, in place and into a folder. An icon cannot be written as a cursor.
TEST_F(Batch, KeepingTheFormatWritesTgaAsTgaAndRefusesCursors)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.tga", "b.ico"}));
    ASSERT_TRUE(QFile::rename(Src("b.ico"), Src("c.cur")));
    const QStringList paths = {Src("a.tga"), Src("c.cur")};
    ScriptedTask invert;
    invert.apply = Invert;
    for (const QString &folder : {dir.File("out"), QString()}) {
        SCOPED_TRACE(folder.toStdString());
        const QByteArray before = FileBytes(Src("a.tga"));
        CBatchRunner runner(TestJob({&invert}, "", folder), paths);
        ASSERT_TRUE(runner.RunBatch());
        const QString tga = folder.isEmpty() ? Src("a.tga") : folder + "/a.tga";
        EXPECT_EQ(Lines(runner), QStringList({"done :a.tga", "done :c.cur",
                                              "   Saving failed :c.cur",
                                              "Finished. With 1 errors."}));
        EXPECT_NE(FileBytes(tga), before);
        PxImage written;
        ASSERT_TRUE(written.Load(ToFsPath(tga), PXFORMAT_TGA)) << written.GetLastError();
        EXPECT_EQ(written.GetType(), uint32_t{PXFORMAT_TGA});
    }
}

TEST_F(Batch, TwoSourcesOfOneNameIntoOneFolder)
{
    QDir(dir.Path()).mkpath("x");
    QDir(dir.Path()).mkpath("y");
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("x/a.bmp"), 10, 10, 1));
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("y/a.bmp"), 12, 12, 2));
    ScriptedTask neutral;
    const QString out = dir.File("out");
    CBatchRunner runner(TestJob({&neutral}, "", out), {dir.File("x/a.bmp"), dir.File("y/a.bmp")});
    ASSERT_TRUE(runner.RunBatch());
    // The second result gets a name of its own rather than replacing the first.
    EXPECT_EQ(runner.Outputs(), QStringList({out + "/a.bmp", out + "/a00.bmp"}));
    EXPECT_EQ(runner.Backups().size(), 0);
    PxImage first;
    ASSERT_TRUE(LoadImageFile(first, out + "/a.bmp"));
    EXPECT_EQ(first.GetWidth(), 10u);
    PxImage second;
    ASSERT_TRUE(LoadImageFile(second, out + "/a00.bmp"));
    EXPECT_EQ(second.GetWidth(), 12u);
}

TEST_F(Batch, CancelAfterTheThirdOfTenImages)
{
    QStringList names;
    for (int i = 0; i < 10; ++i)
        names << QStringLiteral("img%1.bmp").arg(i);
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources(names));
    ScriptedTask task;
    CBatchRunner *running = nullptr;
    task.apply = [&](PxImage &image, bool &modified, const QString &path) {
        if (path == sources[2])
            running->RequestCancel();
        return Invert(image, modified, path);
    };
    // One image at a time: the image being worked on when Cancel comes is finished and saved.
    CBatchRunner runner(TestJob({&task}, "", dir.File("out"), 1), sources);
    running = &runner;
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(task.applied, 3);
    EXPECT_EQ(Lines(runner),
              QStringList({"done :img0.bmp", "done :img1.bmp", "done :img2.bmp", "Finished. No errors"}));
    EXPECT_EQ(task.finishedWith.size(), 3);
    EXPECT_EQ(task.finishFolder, dir.File("out"));
    EXPECT_TRUE(QFile::exists(dir.File("out/img2.bmp")));
    EXPECT_FALSE(QFile::exists(dir.File("out/img3.bmp")));
    EXPECT_EQ(UndoHistory::Instance().Count(), 1);
}

TEST_F(Batch, FailuresBecomeRowsAndAreCounted)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    QFile bad(Src("bad.jpg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("this is no picture");
    bad.close();
    ScriptedTask failing(TaskChangeColors), good(TaskAddText);
    failing.apply = [&](PxImage &, bool &, const QString &path) { return path != sources[1]; };
    good.apply = Invert;
    CBatchRunner runner(TestJob({&failing, &good}, "", dir.File("out")), {sources[0], Src("bad.jpg"), sources[1]});
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(Lines(runner), QStringList({"done :a.bmp", "Loading failed :bad.jpg",
                                          "   Change colors failed :b.bmp", "done :b.bmp",
                                          "Finished. With 2 errors."}));
    // The other task still ran on b.bmp and it was saved.
    EXPECT_TRUE(QFile::exists(dir.File("out/b.bmp")));
    EXPECT_EQ(runner.Outputs().size(), 2);
}

TEST_F(Batch, AnImageWhoseTasksAllFailIsNeitherSavedNorListed)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp"}));
    ScriptedTask t1(TaskResize), t2(TaskAddText);
    t1.apply = t2.apply = [](PxImage &, bool &, const QString &) { return false; };
    CBatchRunner runner(TestJob({&t1, nullptr, &t2}, "png", dir.File("out")), sources);
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(Lines(runner), QStringList({"   Resize failed :a.bmp", "   Add text failed :a.bmp",
                                          "done :a.bmp", "Finished. With 2 errors."}));
    EXPECT_TRUE(runner.Outputs().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.File("out/a.png")));
}

TEST_F(Batch, NothingIsRewrittenWhenNoTaskChangedTheImage)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    const QByteArray before = FileBytes(sources[0]);
    ScriptedTask untouched(TaskCreateSlideshow);
    untouched.apply = [](PxImage &, bool &modified, const QString &) {
        modified = false;
        return true;
    };
    CBatchRunner runner(TestJob({&untouched}), sources);
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(runner.Outputs(), sources);
    EXPECT_EQ(untouched.finishedWith, sources);
    EXPECT_EQ(untouched.finishFolder, Src("").chopped(1));
    EXPECT_TRUE(runner.Backups().isEmpty());
    EXPECT_EQ(FileBytes(sources[0]), before);

    // Without any task, not even a format change writes anything.
    CBatchRunner empty(TestJob({}, "png"), sources);
    ASSERT_TRUE(empty.RunBatch());
    EXPECT_EQ(Lines(empty), QStringList({"done :a.bmp", "done :b.bmp", "Finished. No errors"}));
    EXPECT_FALSE(QFile::exists(Src("a.png")));
}

TEST_F(Batch, TheJobsNotesReachEveryRecordBeforeTheFirstImage)
{
    const QStringList sources = MakeSources({"a.bmp", "b.bmp"});
    const auto notes = std::make_shared<const NoteLookup>(
        QList<std::pair<QString, QString>>{{sources[1], QStringLiteral("second")}});
    const auto own = std::make_shared<const NoteLookup>();
    ScriptedTask first, second;
    QStringList seen;
    for (ScriptedTask *task : {&first, &second}) {
        task->SetNoteLookup(own);
        task->apply = [task, &seen](PxImage &, bool &modified, const QString &path) {
            seen << (task->Notes() ? task->Notes()->GetNoteByPath(path) : QStringLiteral("none"));
            modified = false;
            return true;
        };
    }
    // One image at a time, so the records are called in a known order.
    Job withNotes = TestJob({&first, nullptr, &second}, "", "", 1);
    withNotes.notes = notes;
    ASSERT_TRUE(CBatchRunner(withNotes, sources).RunBatch());
    EXPECT_EQ(seen, QStringList({"", "", "second", "second"}));

    // A job without notes leaves each record with what its maker gave it.
    seen.clear();
    first.SetNoteLookup(nullptr);
    second.SetNoteLookup(own);
    ASSERT_TRUE(CBatchRunner(TestJob({&first, &second}, "", "", 1), sources).RunBatch());
    EXPECT_EQ(seen, QStringList({"none", "", "none", ""}));
}

TEST_F(Batch, UndoAfterAnInPlaceBatchRestoresEveryByte)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.png", "c.tif"}));
    QList<QByteArray> before;
    for (const QString &s : sources)
        before << FileBytes(s);
    ScriptedTask task;
    task.apply = Invert;
    CBatchRunner runner(TestJob({&task}), sources);
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(runner.Backups().size(), 3);
    for (int i = 0; i < sources.size(); ++i)
        EXPECT_NE(FileBytes(sources[i]), before[i]);
    messages.Answer(MsgAnswer::Yes);
    EXPECT_TRUE(UndoLastOperation());
    for (int i = 0; i < sources.size(); ++i)
        EXPECT_EQ(FileBytes(sources[i]), before[i]) << sources[i].toStdString();
}

TEST_F(Batch, AReadOnlyTargetFailsToSaveAndIsMadeWritable)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp"}));
    const QByteArray before = FileBytes(sources[0]);
    ASSERT_EQ(::chmod(sources[0].toUtf8().constData(), 0444), 0);
    ScriptedTask task;
    task.apply = Invert;
    CBatchRunner runner(TestJob({&task}), sources);
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(Lines(runner), QStringList({"done :a.bmp", "   Saving failed :a.bmp",
                                          "Finished. With 1 errors."}));
    EXPECT_EQ(FileBytes(sources[0]), before);
    struct stat st {};
    ASSERT_EQ(::stat(sources[0].toUtf8().constData(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    // The file was never written: it is no output of the batch.
    EXPECT_TRUE(runner.Outputs().isEmpty());
}

TEST_F(Batch, AFileThatCannotBeBackedUpIsNotOverwritten)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp"}));
    const QByteArray before = FileBytes(sources[0]);
    // A file where the backup folder should be makes every backup copy fail.
    const QString folder = GetBackupFolder();
    ASSERT_TRUE(QDir().rmdir(folder));
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ScriptedTask task;
    task.apply = Invert;
    CBatchRunner runner(TestJob({&task}), sources);
    runner.RunBatch();
    QFile::remove(folder);
    EXPECT_EQ(Lines(runner), QStringList({"done :a.bmp", "   Saving failed :a.bmp",
                                          "Finished. With 1 errors."}));
    EXPECT_EQ(FileBytes(sources[0]), before);
}

TEST_F(Batch, UndoRecordsAndTheFolderCheck)
{
    CBatchRunner empty(TestJob({}), QStringList());
    EXPECT_EQ(empty.RunBatch().outcome, BatchRunResult::Outcome::NothingToDo);
    EXPECT_TRUE(empty.Rows().isEmpty());
    EXPECT_TRUE(UndoHistory::Instance().IsEmpty());

    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp"}));
    const QString blocked = sources[0] + "/out"; // below a file: cannot be created
    CBatchRunner noFolder(TestJob({}, "", blocked), sources);
    const BatchRunResult result = noFolder.RunBatch();
    EXPECT_FALSE(result);
    EXPECT_EQ(result.outcome, BatchRunResult::Outcome::FolderNotCreated);
    EXPECT_EQ(result.folder, blocked);
    EXPECT_TRUE(messages.Messages().empty()) << "the runner shows no box of its own";
    EXPECT_TRUE(noFolder.Rows().isEmpty());
    EXPECT_TRUE(UndoHistory::Instance().IsEmpty());

    // The processing window says it, once, and closes as a batch that did not run.
    CPixortaFinalProcessorDlg window(TestJob({}, "", blocked), sources);
    window.SetAutoStart(true);
    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_TRUE(window.FolderNotCreated());
    EXPECT_EQ(messages.Texts(), QStringList({"Could not create folder:" + blocked}));
    EXPECT_TRUE(UndoHistory::Instance().IsEmpty());

    ScriptedTask neutral;
    CBatchRunner intoFolder(TestJob({&neutral}, "", dir.File("out")), sources);
    ASSERT_TRUE(intoFolder.RunBatch());
    ASSERT_EQ(UndoHistory::Instance().Count(), 1);
    EXPECT_EQ(UndoHistory::Instance().Newest().description, "Processing all images");
    EXPECT_TRUE(UndoHistory::Instance().Newest().entries.isEmpty());
}

TEST_F(Batch, TheWindowsBatchWithItsFinishingStepIsOneUndoRecord)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    ASSERT_NO_FATAL_FAILURE(WriteFile(Src("movie.avi"), "last week's movie"));
    const QByteArray a = FileBytes(sources[0]), b = FileBytes(sources[1]);
    ScriptedTask task;
    task.apply = Invert;
    task.finish = ReplaceMovie;
    CBatchRunner runner(TestJob({&task}), sources);
    ASSERT_TRUE(runner.RunBatch());
    ASSERT_EQ(UndoHistory::Instance().Count(), 1);
    const UndoOperation &record = UndoHistory::Instance().Newest();
    EXPECT_EQ(record.description, "Processing all images");
    ASSERT_EQ(record.entries.size(), 3);
    EXPECT_EQ(record.entries[2].overwrittenPath, Src("movie.avi"));
    EXPECT_EQ(runner.Backups().size(), 3);
    EXPECT_EQ(FileBytes(Src("movie.avi")), "this week's movie");

    messages.Answer(MsgAnswer::Yes);
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(FileBytes(sources[0]), a);
    EXPECT_EQ(FileBytes(sources[1]), b);
    EXPECT_EQ(FileBytes(Src("movie.avi")), "last week's movie");
}

// The command line's batch: every copy is recorded once in the journal, with the time the file
// had before the batch, the finishing step's too, and the window's undo history stays empty.
TEST_F(Batch, AJournalBatchIsRecordedOnceAndStaysOutOfTheUndoHistory)
{
    TempFolder state;
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    ASSERT_NO_FATAL_FAILURE(WriteFile(Src("movie.avi"), "last week's movie"));
    ASSERT_NO_FATAL_FAILURE(SetLastYear(Src("movie.avi")));
    ASSERT_NO_FATAL_FAILURE(SetLastYear(sources[0]));
    const QByteArray a = FileBytes(sources[0]);
    QString error;
    const auto journal = CJournalBackupStore::Begin(state.File("journal"), "pixorta-batch src", {},
                                                    nullptr, &error);
    ASSERT_TRUE(journal) << error.toStdString();
    ScriptedTask task;
    task.apply = Invert;
    task.finish = ReplaceMovie;
    CBatchRunner runner(TestJob({&task}), sources, journal.get());
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_TRUE(UndoHistory::Instance().IsEmpty());
    ASSERT_EQ(runner.Backups().size(), 3);
    for (const BackupEntry &e : runner.Backups())
        EXPECT_EQ(QFileInfo(e.backupPath).absolutePath(), journal->Folder());

    const QList<JournalBatch> batches = CUndoJournal(state.File("journal")).Batches();
    ASSERT_EQ(batches.size(), 1);
    EXPECT_TRUE(batches[0].finished);
    QStringList recorded;
    for (const JournalEntry &e : batches[0].entries) {
        recorded << e.path;
        EXPECT_TRUE(e.written) << e.path.toStdString();
    }
    EXPECT_EQ(recorded, QStringList({sources[0], sources[1], Src("movie.avi")}));
    EXPECT_EQ(batches[0].entries[2].originalTime, kLastYear * 1000000000);

    const CUndoJournal::UndoResult undone =
        CUndoJournal(state.File("journal")).UndoNewest([](const QString &) { return false; });
    EXPECT_EQ(undone.restored.size(), 3);
    EXPECT_TRUE(undone.removed);
    EXPECT_EQ(FileBytes(sources[0]), a);
    EXPECT_EQ(FileBytes(Src("movie.avi")), "last week's movie");
    for (const QString &path : {sources[0], Src("movie.avi")})
        EXPECT_EQ(QFileInfo(path).lastModified().toSecsSinceEpoch(), kLastYear) << path.toStdString();
}

TEST_F(Batch, ExtraOutputsOfTheFinishingStepComeFirst)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp"}));
    ScriptedTask movie(TaskCreateSlideshow);
    movie.finish = [](QStringList &, const QString &folder, CBackupStore &, QStringList &extra) {
        extra << folder + "/movie.avi";
        return false;
    };
    CBatchRunner runner(TestJob({&movie}, "png", dir.File("out")), sources);
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(runner.Outputs(), QStringList({dir.File("out/movie.avi"), dir.File("out/a.png")}));
    EXPECT_EQ(runner.ErrorCount(), 1);
    EXPECT_EQ(Lines(runner).back(), "Finished. With 1 errors.");
}

TEST_F(Batch, ResizesAFolderByPercentageAndToAWidth)
{
    QStringList sources; // 21x11, 22x12, 23x13
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.png", "c.jpg"}));
    CPixortaSizeTask half;
    half.m_mode = CPixortaSizeTask::ModePercentage;
    half.m_percentage = 50;
    CBatchRunner byPercent(TestJob({&half}, "", dir.File("half")), sources);
    ASSERT_TRUE(byPercent.RunBatch());
    EXPECT_EQ(byPercent.ErrorCount(), 0);
    const QSize halves[] = {{10, 5}, {11, 6}, {11, 6}};
    for (int i = 0; i < 3; ++i) {
        PxImage out;
        ASSERT_TRUE(LoadImageFile(out, byPercent.Outputs()[i]));
        EXPECT_EQ(QSize(out.GetWidth(), out.GetHeight()), halves[i]) << i;
    }

    CPixortaSizeTask wide;
    wide.m_mode = CPixortaSizeTask::ModeConstant;
    wide.m_width = 44;
    CBatchRunner toWidth(TestJob({&wide}), sources); // in place
    ASSERT_TRUE(toWidth.RunBatch());
    const QSize widths[] = {{44, 23}, {44, 24}, {44, 24}};
    for (int i = 0; i < 3; ++i) {
        PxImage out;
        ASSERT_TRUE(LoadImageFile(out, sources[i]));
        EXPECT_EQ(QSize(out.GetWidth(), out.GetHeight()), widths[i]) << i;
    }
    EXPECT_EQ(toWidth.Backups().size(), 3);
}

TEST_F(Batch, ProcessingWindowStartsByItselfAndEndsDone)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    ScriptedTask task;
    task.apply = Invert;
    CPixortaFinalProcessorDlg dlg(TestJob({&task}, "", dir.File("out")), sources);
    dlg.SetAutoStart(true);
    EXPECT_EQ(dlg.windowTitle(), "Pixorta image processor");
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_EQ(dlg.findChild<QPushButton *>("doItButton")->text(), "Done!");
    EXPECT_EQ(dlg.findChild<QPushButton *>("cancelButton")->text(), "Close");
    auto *list = dlg.findChild<QTreeWidget *>("resultList");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(2)->text(0), "Finished. No errors");
    EXPECT_EQ(dlg.Outputs().size(), 2);
}

// A stop ends the batch though a worker does not come back: it is left to finish on its own,
// and nothing of its image is written.
TEST_F(Batch, AStopEndsTheBatchWhileAWorkerIsStuck)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    const QByteArray a = FileBytes(sources[0]);
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        std::atomic<bool> entered{false};
        bool open = false;
    };
    auto gate = std::make_shared<Gate>();
    auto task = std::make_shared<ScriptedTask>();
    // Held by the job, so the task outlives this test for as long as the stuck worker needs it.
    task->apply = [gate](PxImage &image, bool &modified, const QString &path) {
        gate->entered = true;
        std::unique_lock lock(gate->mutex);
        gate->opened.wait(lock, [&] { return gate->open; });
        return Invert(image, modified, path);
    };
    Job job = Job::Of({task});
    job.workers = 1;
    CBatchRunner runner(job, sources);
    runner.prepareOnWorkers = true;
    runner.onPumpEvents = [&] {
        if (gate->entered)
            runner.RequestCancel();
    };
    ASSERT_TRUE(runner.RunBatch());
    EXPECT_EQ(Lines(runner), QStringList({"Finished. No errors"}));
    EXPECT_EQ(FileBytes(sources[0]), a);
    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
    }
    gate->opened.notify_all();
}

// With errors the window stays in its finished state, so what failed can be read, each failed
// row saying why as its tooltip; "Close" then goes on.
TEST_F(Batch, ProcessingWindowWithErrorsStaysOpenUntilClosed)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp"}));
    ASSERT_NO_FATAL_FAILURE(WriteFile(Src("broken.png"), "not a picture"));
    sources.insert(0, Src("broken.png"));
    ScriptedTask task;
    task.apply = Invert;
    CPixortaFinalProcessorDlg dlg(TestJob({&task}, "", dir.File("out")), sources);
    dlg.SetAutoStart(true);
    QStringList seen;
    // Looks once the batch has ended inside exec(): the window is still there.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &dlg, [&] {
        if (dlg.Runner().IsRunning() || dlg.Runner().Rows().isEmpty() || !seen.isEmpty())
            return;
        auto *list = dlg.findChild<QTreeWidget *>("resultList");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            seen << list->topLevelItem(i)->text(0) + " | " + list->topLevelItem(i)->toolTip(0);
        seen << dlg.findChild<QPushButton *>("doItButton")->text() + " " +
                    dlg.findChild<QPushButton *>("cancelButton")->text();
        dlg.findChild<QPushButton *>("cancelButton")->click();
    });
    poll.start(5);
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    ASSERT_EQ(seen.size(), 4) << seen.join('\n').toStdString();
    EXPECT_TRUE(seen[0].startsWith("Loading failed :broken.png | ")) << seen[0].toStdString();
    EXPECT_GT(seen[0].size(), QString("Loading failed :broken.png | ").size()) << "a reason";
    EXPECT_EQ(seen[1], "done :a.bmp | ");
    EXPECT_EQ(seen[2], "Finished. With 1 errors. | ");
    EXPECT_EQ(seen[3], "Done! Close");
    EXPECT_EQ(dlg.Outputs(), QStringList({dir.File("out/a.bmp")}));
}

// Skipped and renamed images are successes: the window ends as after any batch without
// errors, each such row telling why as its tooltip, and a variant's rows say which it is.
TEST_F(Batch, ProcessingWindowShowsSkippedAndRenamedImagesAsSuccesses)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp"}));
    QDir().mkpath(dir.File("out"));
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("out/a.bmp"), 4, 4));
    const QByteArray taken = FileBytes(dir.File("out/a.bmp"));
    ScriptedTask task;
    task.apply = Invert;
    const struct {
        Job::IfExists choice;
        QList<JobVariant> variants;
        QStringList rows;
        QStringList tips;
    } cases[] = {
        {Job::IfExists::Skip, {},
         {"Skipped (exists) :a.bmp", "done :b.bmp", "Finished. No errors"},
         {"a file stands at " + dir.File("out/a.bmp"), "", ""}},
        {Job::IfExists::Rename, {},
         {"done :a.bmp", "   Renamed to a00.bmp :a.bmp", "done :b.bmp", "Finished. No errors"},
         {"", "a file stands at " + dir.File("out/a.bmp"), "", ""}},
        {Job::IfExists::Skip, {{"copy", {{"name", "%name%_copy"}}}},
         {"Skipped (exists) :a.bmp [copy]", "done :b.bmp [copy]", "Finished. No errors"},
         {"a file stands at " + dir.File("out/a_copy.bmp"), "", ""}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rows.join(" | ").toStdString());
        QDir(dir.File("out")).removeRecursively();
        QDir().mkpath(dir.File("out"));
        WriteFile(dir.File("out/a.bmp"), taken);
        if (!c.variants.isEmpty())
            WriteFile(dir.File("out/a_copy.bmp"), taken);
        Job job = TestJob({&task}, "", dir.File("out"), 1);
        job.ifExists = c.choice;
        job.variants = c.variants;
        CPixortaFinalProcessorDlg dlg(job, sources);
        dlg.SetAutoStart(true);
        EXPECT_EQ(dlg.exec(), QDialog::Accepted);
        auto *list = dlg.findChild<QTreeWidget *>("resultList");
        QStringList rows, tips;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            rows << list->topLevelItem(i)->text(0);
            tips << list->topLevelItem(i)->toolTip(0);
        }
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(tips, c.tips);
        EXPECT_EQ(dlg.Runner().ErrorCount(), 0);
        EXPECT_EQ(FileBytes(dir.File("out/a.bmp")), taken) << "the file that stood there stays";
    }
}

TEST_F(Batch, ProcessingWindowAsksBeforeCancelling)
{
    QStringList sources;
    ASSERT_NO_FATAL_FAILURE(sources = MakeSources({"a.bmp", "b.bmp", "c.bmp"}));
    ScriptedTask task;
    CPixortaFinalProcessorDlg *window = nullptr;
    task.apply = [&](PxImage &image, bool &modified, const QString &path) {
        // The user clicks Cancel while the first image is processed: first No, then Yes.
        if (path == sources[0]) {
            messages.Answer(MsgAnswer::No);
            window->findChild<QPushButton *>("cancelButton")->click();
        } else if (path == sources[1]) {
            messages.Answer(MsgAnswer::Yes);
            window->findChild<QPushButton *>("cancelButton")->click();
        }
        return Invert(image, modified, path);
    };
    // One image at a time, so the task can click the window's button from its own thread.
    CPixortaFinalProcessorDlg dlg(TestJob({&task}, "", dir.File("out"), 1), sources);
    dlg.SetAutoStart(true);
    window = &dlg;
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    ASSERT_EQ(messages.Messages().size(), 2u);
    EXPECT_EQ(messages.Messages()[0].text, "Are you sure you want to cancel the operation?");
    EXPECT_EQ(messages.Messages()[0].caption, "Cancel");
    EXPECT_EQ(messages.Messages()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(task.applied, 2);
    EXPECT_EQ(dlg.Outputs().size(), 2);

    // Not running: Cancel closes at once, without a question.
    CPixortaFinalProcessorDlg idle(TestJob({&task}, "", dir.File("out")), sources);
    QTimer::singleShot(0, &idle, [&] { idle.findChild<QPushButton *>("cancelButton")->click(); });
    EXPECT_EQ(idle.exec(), QDialog::Rejected);
    EXPECT_EQ(messages.Messages().size(), 2u);
}

} // namespace
