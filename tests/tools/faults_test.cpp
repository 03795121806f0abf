// What a failure must never cost: full disks, broken journals, planted links and two batches on
// one file. The disk fails on cue through a preloaded shim (tests/support/failshim.c), which
// makes the N-th write, sync, rename or link below a folder fail and every one after it; as
// root a real full disk (a small tmpfs) is used as well.
#include "undo/journal.h"
#include "undo/journalstore.h"
#include "undo/pathlock.h"
#include "tooltests.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <map>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray Bytes(const QString &path) { return FileBytes(path, "<missing>"); }

// A tool run in a state folder of its own, the disk failing from the failAt-th call below
// root on (0: never), with the number of calls counted.
struct FailingRun {
    Outcome outcome;
    long counted = 0;
};

FailingRun RunFailing(const QString &tool, const QStringList &args, const QString &state,
               const QString &root, long failAt)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", state);
    const QString count = state + "/../failshim-count";
    env.insert("LD_PRELOAD", PIXORTA_FAILSHIM);
    env.insert("ASAN_OPTIONS", "verify_asan_link_order=0");
    env.insert("PIXORTA_FAIL_ROOT", root);
    env.insert("PIXORTA_FAIL_AT", QString::number(failAt));
    env.insert("PIXORTA_FAIL_COUNT", count);
    FailingRun r;
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(tool.startsWith('/') ? tool : QCoreApplication::applicationDirPath() + "/" + tool, args);
    if (!p.waitForFinished(120000))
        return r;
    r.outcome.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.outcome.out = QString::fromUtf8(p.readAllStandardOutput());
    r.outcome.err = QString::fromUtf8(p.readAllStandardError());
    r.counted = Bytes(count).trimmed().toLong();
    return r;
}

QString BatchTool()
{
    return QCoreApplication::applicationDirPath() + "/../bin/pixorta-batch";
}

Outcome Tool(const QString &state, const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", state);
    return RunTool("pixorta-batch", args, env);
}

// Undoes every batch there is, as a user would after the failure; the last word of --undo.
Outcome UndoAll(const QString &state)
{
    Outcome last;
    for (int i = 0; i < 20; ++i) {
        last = Tool(state, {"--undo"});
        if (last.status != 0)
            break;
    }
    return last;
}

// The photos of one run: three pictures of their own.
struct Photos {
    QStringList paths;
    std::map<QString, QByteArray> originals;
};

Photos MakePhotos(const QString &folder)
{
    Photos photos;
    QDir().mkpath(folder);
    for (int i = 0; i < 3; ++i) {
        const QString path = folder + QStringLiteral("/p%1.png").arg(i);
        MakeImage(path, 40 + i, 30);
        photos.paths << path;
        photos.originals[path] = Bytes(path);
    }
    return photos;
}

// Every original as it was, and nothing of ours left beside them.
void ExpectOriginals(const Photos &photos, const QString &folder, const std::string &where)
{
    for (const auto &[path, bytes] : photos.originals)
        EXPECT_EQ(Bytes(path), bytes) << where << ": " << path.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
              qsizetype(photos.originals.size()))
        << where << ": " << QDir(folder).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString();
}

// Positions to fail at: every one when there are few, otherwise 50 spread over all of them.
QList<long> Positions(long total)
{
    QList<long> at;
    const long runs = std::min<long>(total, 50);
    for (long i = 0; i < runs; ++i)
        at << 1 + i * (total - 1) / std::max<long>(runs - 1, 1);
    return at;
}

// The same batch with the disk failing at every position below root: afterwards every
// original is as it was, or comes back byte for byte with --undo.
void EveryFailureKeepsTheOriginals(const QString &tool, const QStringList &options,
                                   bool failJournalOnly)
{
    TempFolder dir;
    long total = 0;
    {
        const Photos photos = MakePhotos(dir.File("count/photos"));
        const FailingRun counting = RunFailing(tool, options + photos.paths, dir.File("count/state"),
                                        failJournalOnly ? dir.File("count/state") : dir.File("count"), 0);
        ASSERT_EQ(counting.outcome.status, 0) << counting.outcome.err.toStdString();
        total = counting.counted;
    }
    ASSERT_GT(total, 10) << "the shim counted nothing: is it preloaded?";
    for (const long n : Positions(total)) {
        const QString run = dir.File(QStringLiteral("run%1").arg(n));
        const Photos photos = MakePhotos(run + "/photos");
        const FailingRun failing = RunFailing(tool, options + photos.paths, run + "/state",
                                       failJournalOnly ? run + "/state" : run, n);
        const std::string where = "failing from call " + std::to_string(n) + " of " +
                                  std::to_string(total) + (failJournalOnly ? " (journal)" : "");
        ASSERT_NE(failing.outcome.status, -1) << where << ": it hung or crashed";
        const Outcome undone = UndoAll(run + "/state");
        EXPECT_EQ(undone.out, "There is nothing to undo (i.e. no file was overwritten)\n")
            << where << "\n" << failing.outcome.out.toStdString() << failing.outcome.err.toStdString()
            << undone.out.toStdString() << undone.err.toStdString();
        ExpectOriginals(photos, run + "/photos", where);
    }
}

TEST(Faults, EveryFailureOfAnInPlaceBatchKeepsTheOriginals)
{
    for (const bool journalOnly : {false, true})
        EveryFailureKeepsTheOriginals(BatchTool(), {"--jobs", "1", "--resize", "50", "--in-place"},
                                      journalOnly);
}

TEST(Faults, EveryFailureOfAWindowsBatchKeepsTheOriginals)
{
    for (const bool journalOnly : {false, true})
        EveryFailureKeepsTheOriginals(QCoreApplication::applicationDirPath() +
                                          "/window_batch_driver",
                                      {"50"}, journalOnly);
}

// A full disk never replaces a job or the journal's record with an empty file.
TEST(Faults, AFullDiskNeverEmptiesAJobOrTheJournalsRecord)
{
    TempFolder dir;
    const QString state = dir.File("state");
    ASSERT_EQ(Tool(state, {"--resize", "40%", "--save-job", dir.File("job.ini")}).status, 0);
    const QByteArray job = Bytes(dir.File("job.ini"));
    const FailingRun save = RunFailing(BatchTool(), {"--resize", "20%", "--save-job", dir.File("job.ini")},
                                state, dir.Path(), 1);
    EXPECT_EQ(save.outcome.status, 1);
    EXPECT_TRUE(save.outcome.err.contains("the disk is full")) << save.outcome.err.toStdString();
    EXPECT_FALSE(save.outcome.out.contains("Saved the job"));
    EXPECT_EQ(Bytes(dir.File("job.ini")), job);

    const Photos photos = MakePhotos(dir.File("photos"));
    ASSERT_EQ(Tool(state, QStringList{"--resize", "50", "--in-place"} + photos.paths).status, 0);
    const QStringList batches = QDir(state + "/pixorta/journal").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(batches.size(), 1);
    const QString record = state + "/pixorta/journal/" + batches[0] + "/batch.ini";
    const QByteArray before = Bytes(record);
    // Undo on the full disk: nothing can be put back, and the record stays whole.
    const FailingRun undo = RunFailing(BatchTool(), {"--undo"}, state, dir.Path(), 1);
    EXPECT_EQ(undo.outcome.status, 1) << undo.outcome.out.toStdString();
    EXPECT_EQ(Bytes(record), before);
    // Space again: the batch is undone.
    const Outcome again = Tool(state, {"--undo"});
    EXPECT_EQ(again.status, 0) << again.out.toStdString() << again.err.toStdString();
    ExpectOriginals(photos, dir.File("photos"), "after the undo");
}

// A record that is empty or cut short is damaged, never "nothing": its copies stay, and the next
// batch's clean-up leaves them.
TEST(Faults, ADamagedRecordKeepsItsCopies)
{
    for (const char *damage : {"empty", "cut short"}) {
        SCOPED_TRACE(damage);
        TempFolder dir;
        const QString state = dir.File("state");
        const Photos photos = MakePhotos(dir.File("photos"));
        ASSERT_EQ(Tool(state, QStringList{"--resize", "50", "--in-place"} + photos.paths).status, 0);
        const QString journal = state + "/pixorta/journal/";
        const QString batch = journal + QDir(journal).entryList(QDir::Dirs | QDir::NoDotAndDotDot)[0];
        const QByteArray record = Bytes(batch + "/batch.ini");
        WriteFile(batch + "/batch.ini", QByteArray(damage) == "empty" ? QByteArray() : record.chopped(7));
        const qsizetype copies = QDir(batch).entryList(QDir::Files).size();

        const Outcome undo = Tool(state, {"--undo"});
        EXPECT_EQ(undo.status, 1);
        EXPECT_TRUE(undo.err.contains("is damaged")) << undo.err.toStdString();
        EXPECT_TRUE(Tool(state, {"--undo-list"}).out.contains("record damaged"));
        // Ten more batches: the damaged one is never pruned.
        for (int i = 0; i < 11; ++i)
            ASSERT_EQ(Tool(state, {"--light", QString::number(101 + i), "--in-place", photos.paths[0]}).status, 0);
        EXPECT_TRUE(QFileInfo(batch).isDir());
        EXPECT_EQ(QDir(batch).entryList(QDir::Files).size(), copies);
    }
}

// Without a usable journal nothing is overwritten; --no-journal says so and runs.
TEST(Faults, AnUnusableJournalStopsEveryOverwrite)
{
    const struct {
        const char *what;
        std::function<void(const QString &state, const QString &elsewhere)> spoil;
    } cases[] = {
        {"a file where the journal goes", [](const QString &state, const QString &) {
             QDir().mkpath(state + "/pixorta");
             WriteFile(state + "/pixorta/journal", "not a folder");
         }},
        {"a link where the journal goes", [](const QString &state, const QString &elsewhere) {
             QDir().mkpath(state + "/pixorta");
             QDir().mkpath(elsewhere);
             ASSERT_EQ(::symlink(elsewhere.toUtf8().constData(),
                                 (state + "/pixorta/journal").toUtf8().constData()), 0);
         }},
        {"a state folder that cannot be written", [](const QString &state, const QString &) {
             QDir().mkpath(state + "/pixorta/journal");
             ASSERT_EQ(::chmod((state + "/pixorta/journal").toUtf8().constData(), 0500), 0);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        const QString state = dir.File("state");
        c.spoil(state, dir.File("elsewhere"));
        const Photos photos = MakePhotos(dir.File("photos"));
        const Outcome refused = Tool(state, QStringList{"--resize", "50", "--in-place"} + photos.paths);
        if (geteuid() == 0 && QByteArray(c.what).contains("cannot be written"))
            continue; // root writes into any folder
        EXPECT_EQ(refused.status, 1);
        EXPECT_TRUE(refused.err.contains(state + "/pixorta/journal")) << refused.err.toStdString();
        EXPECT_TRUE(refused.err.contains("--no-journal")) << refused.err.toStdString();
        EXPECT_TRUE(refused.out.isEmpty()) << refused.out.toStdString();
        ExpectOriginals(photos, dir.File("photos"), c.what);

        const Outcome forced =
            Tool(state, QStringList{"--no-journal", "--resize", "50", "--in-place"} + photos.paths);
        EXPECT_EQ(forced.status, 0) << forced.err.toStdString();
        EXPECT_TRUE(forced.err.contains("the 3 overwritten files were not kept")) << forced.err.toStdString();
        ::chmod((state + "/pixorta/journal").toUtf8().constData(), 0700);
    }
}

// --save-job replaces only a job file.
TEST(Faults, SaveJobOverwritesNothingButAJob)
{
    TempFolder dir;
    const Photos photos = MakePhotos(dir.File("photos"));
    // The slip: the first photo taken for the job's name.
    const Outcome slip = Tool(dir.File("state"), QStringList{"--resize", "50%", "--in-place",
                                                             "--save-job"} + photos.paths);
    EXPECT_EQ(slip.status, 2);
    EXPECT_TRUE(slip.err.contains("is not a job file")) << slip.err.toStdString();
    ExpectOriginals(photos, dir.File("photos"), "after the slip");
    ASSERT_EQ(Tool(dir.File("state"), {"--resize", "50%", "--save-job", dir.File("job.ini")}).status, 0);
    EXPECT_EQ(Tool(dir.File("state"), {"--resize", "20%", "--save-job", dir.File("job.ini")}).status, 0);
    EXPECT_TRUE(Bytes(dir.File("job.ini")).contains("percentage=20"));
}

// Two batches on one file: the one that replaced it last is undone first, so undoing both
// ends at the original, and neither needs --yes.
TEST(Faults, TwoBatchesOnOneFileAreUndoneInTheOrderTheyReplacedIt)
{
    TempFolder dir;
    const QString state = dir.File("state");
    const QString root = state + "/pixorta/journal";
    const QString photo = dir.File("photo99.png");
    MakeImage(photo, 20, 20);
    const QByteArray original = Bytes(photo);
    QString error;
    // A starts first; B replaces the photo; then A replaces it too.
    const auto a = CJournalBackupStore::Begin(root, "pixorta-batch A", {}, {}, &error);
    ASSERT_TRUE(a) << error.toStdString();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto b = CJournalBackupStore::Begin(root, "pixorta-batch B", {}, {}, &error);
    ASSERT_TRUE(b) << error.toStdString();
    ASSERT_FALSE(b->Keep(photo).IsEmpty());
    MakeImage(photo, 10, 10);
    b->Replaced(photo);
    const QByteArray byB = Bytes(photo);
    ASSERT_FALSE(a->Keep(photo).IsEmpty());
    MakeImage(photo, 5, 5);
    a->Replaced(photo);
    b->End();
    a->End();

    const Outcome first = Tool(state, {"--undo"});
    EXPECT_EQ(first.status, 0) << first.out.toStdString() << first.err.toStdString();
    EXPECT_TRUE(first.out.contains("pixorta-batch A")) << first.out.toStdString();
    EXPECT_EQ(Bytes(photo), byB);
    const Outcome second = Tool(state, {"--undo"});
    EXPECT_EQ(second.status, 0) << second.out.toStdString() << second.err.toStdString();
    EXPECT_EQ(Bytes(photo), original);
}

// Each file is locked from the look at it to its replacement: a second holder waits its turn.
TEST(Faults, OneFileIsReplacedByOneBatchAtATime)
{
    TempFolder dir;
    const QString file = dir.File("x.png");
    auto held = std::make_unique<CPathLock>(file);
    ASSERT_TRUE(held->Held());
    EXPECT_FALSE(CPathLock(file, 100).Held()) << "a second holder must wait";
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        held.reset();
    });
    EXPECT_TRUE(CPathLock(file, 30000).Held()) << "and gets it once the first lets go";
    release.join();
}

// Undo trusts no copy blindly and writes through no link planted since the batch.
TEST(Faults, UndoChecksItsCopiesAndFollowsNoLink)
{
    const struct {
        const char *what;
        std::function<void(const QString &copy, const QString &photo, const QString &outside)> spoil;
        const char *says;
    } cases[] = {
        {"a copy cut short", [](const QString &copy, const QString &, const QString &) {
             QFile f(copy);
             ASSERT_TRUE(f.resize(f.size() / 2));
         }, "its copy in the journal is damaged"},
        {"an empty copy", [](const QString &copy, const QString &, const QString &) {
             WriteFile(copy, QByteArray());
         }, "its copy in the journal is damaged"},
        {"a swapped copy", [](const QString &copy, const QString &, const QString &outside) {
             WriteFile(copy, Bytes(outside));
         }, "its copy in the journal is damaged"},
        {"a copy replaced by a link", [](const QString &copy, const QString &, const QString &outside) {
             QFile::remove(copy);
             ASSERT_EQ(::symlink(outside.toUtf8().constData(), copy.toUtf8().constData()), 0);
         }, "is not a file of ours"},
        {"a missing copy", [](const QString &copy, const QString &, const QString &) {
             QFile::remove(copy);
         }, "its copy in the journal is missing"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        const QString state = dir.File("state"), photo = dir.File("photos/a.png");
        QDir().mkpath(dir.File("photos"));
        MakeImage(photo, 30, 20);
        WriteFile(dir.File("victim.txt"), "someone else's");
        ASSERT_EQ(Tool(state, {"--resize", "50", "--in-place", photo}).status, 0);
        const QByteArray result = Bytes(photo);
        const QString batch = state + "/pixorta/journal/" +
                              QDir(state + "/pixorta/journal").entryList(QDir::Dirs | QDir::NoDotAndDotDot)[0];
        const QString copy = batch + "/" + QDir(batch).entryList({"a*"}, QDir::Files | QDir::System)[0];
        c.spoil(copy, photo, dir.File("victim.txt"));
        const Outcome undo = Tool(state, {"--undo", "--yes"});
        EXPECT_EQ(undo.status, 1);
        EXPECT_TRUE(undo.err.contains(c.says)) << undo.err.toStdString();
        EXPECT_EQ(Bytes(photo), result) << "a bad copy is never put back";
        EXPECT_EQ(Bytes(dir.File("victim.txt")), "someone else's");
        EXPECT_TRUE(QFileInfo(batch).isDir()) << "the batch stays in the journal";
    }
}

TEST(Faults, UndoWritesThroughNoLinkPlantedSinceTheBatch)
{
    TempFolder dir;
    const QString state = dir.File("state");
    QDir().mkpath(dir.File("photos"));
    QDir().mkpath(dir.File("other"));
    const QString photo = dir.File("photos/a.png");
    MakeImage(photo, 30, 20);
    const QByteArray original = Bytes(photo);
    ASSERT_EQ(Tool(state, {"--resize", "50", "--in-place", photo}).status, 0);

    // The photo swapped for a link to somebody's file: the path itself gets the original back.
    WriteFile(dir.File("victim.txt"), "someone else's");
    QFile::remove(photo);
    ASSERT_EQ(::symlink(dir.File("victim.txt").toUtf8().constData(), photo.toUtf8().constData()), 0);
    const Outcome undone = Tool(state, {"--undo", "--yes"});
    EXPECT_EQ(undone.status, 0) << undone.out.toStdString() << undone.err.toStdString();
    EXPECT_EQ(Bytes(dir.File("victim.txt")), "someone else's");
    EXPECT_FALSE(QFileInfo(photo).isSymLink());
    EXPECT_EQ(Bytes(photo), original);

    // The photo folder swapped for a link to another folder: nothing is written there.
    ASSERT_EQ(Tool(state, {"--resize", "50", "--in-place", photo}).status, 0);
    WriteFile(dir.File("other/a.png"), "another folder's a.png");
    ASSERT_TRUE(QDir().rename(dir.File("photos"), dir.File("photos-moved")));
    ASSERT_EQ(::symlink(dir.File("other").toUtf8().constData(), dir.File("photos").toUtf8().constData()), 0);
    const Outcome refused = Tool(state, {"--undo", "--yes"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("is not the one the batch wrote into")) << refused.err.toStdString();
    EXPECT_EQ(Bytes(dir.File("other/a.png")), "another folder's a.png");
}

// A job is read whole and checked before anything is written.
TEST(Faults, ABadJobFailsBeforeAnythingIsWritten)
{
    const struct {
        const char *job;
        const char *says;
    } cases[] = {
        {"[Job]\nversion=1\n[Resize]\nmode=percentage\npercentage 50\n",
         "line 5 is not a setting, a section or a comment: 'percentage 50'"},
        {"[Job]\nversion=1\n[Create slideshow]\ncreate=yes\nwidth=0\n", "width needs"},
        {"stray=1\n[Job]\nversion=1\n", "line 1: a setting before the first section"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.job);
        TempFolder dir;
        const Photos photos = MakePhotos(dir.File("photos"));
        WriteFile(dir.File("job.ini"), c.job);
        const Outcome r = Tool(dir.File("state"), QStringList{"--job", dir.File("job.ini"),
                                                              "--in-place"} + photos.paths);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        ExpectOriginals(photos, dir.File("photos"), c.job);
    }
}

// The disk really fills up half-way through a batch: a small tmpfs of the test's own as root,
// the shim otherwise. Undo while it is still full puts nothing back and keeps the record; once
// there is room again, every original comes back.
TEST(Faults, AFullDiskHalfWayLosesNothing)
{
    TempFolder dir;
    const QString disk = dir.File("disk");
    QDir().mkpath(disk);
    const bool real = geteuid() == 0 &&
                      ::mount("tmpfs", disk.toUtf8().constData(), "tmpfs", 0, "size=96k") == 0;
    const Photos photos = MakePhotos(disk + "/photos");
    const QString state = disk + "/state";
    const QStringList batch = QStringList{"--jobs", "1", "--light", "130", "--in-place"} + photos.paths;
    Outcome ran;
    if (real) {
        // What is left of the disk takes the first copies, not all of them; the filler may
        // itself meet the end of the disk.
        QFile filler(disk + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(96 * 1024 - 3 * 1024 - Bytes(photos.paths[0]).size() * 5, 'x'));
        filler.close();
        ran = Tool(state, batch);
    } else {
        TempFolder counting;
        const Photos twin = MakePhotos(counting.File("photos"));
        const long total = RunFailing(BatchTool(), QStringList{"--jobs", "1", "--light", "130",
                                                               "--in-place"} + twin.paths,
                                      counting.File("state"), counting.Path(), 0).counted;
        ran = RunFailing(BatchTool(), batch, state, disk, total / 2).outcome;
    }
    EXPECT_NE(ran.status, -1);
    const Outcome whileFull = real ? Tool(state, {"--undo"})
                                   : RunFailing(BatchTool(), {"--undo"}, state, disk, 1).outcome;
    if (real)
        QFile::remove(disk + "/filler");
    const Outcome undone = UndoAll(state);
    EXPECT_EQ(undone.out, "There is nothing to undo (i.e. no file was overwritten)\n")
        << ran.err.toStdString() << whileFull.err.toStdString() << undone.err.toStdString();
    for (const auto &[path, bytes] : photos.originals)
        EXPECT_EQ(Bytes(path), bytes) << path.toStdString() << "\n" << ran.out.toStdString()
                                      << ran.err.toStdString() << whileFull.out.toStdString();
    if (real)
        ::umount(disk.toUtf8().constData());
}

} // namespace
