// Where a batch puts its results, run and planned: every case is run through the batch and
// through its plan, and the plan must name the files the batch then writes.

#include "batch/batchplan.h"
#include "batch/batchrunner.h"
#include "batch/joboptions.h"
#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "imageio/imagefile_testhooks.h"
#include "tasks/pixortasizetask.h"
#include "tests/support/testsupport.h"
#include "undo/backupstore.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSize>
#include <atomic>
#include <map>

namespace {

void MakePicture(const QString &path, int width, int height, uint8_t seed = 1)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    PxImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            image.GetBits(y)[x] = static_cast<uint8_t>(seed * 41 + x * 3 + y * 5);
    ASSERT_TRUE(SaveImageFile(image, path));
}

QSize SizeOf(const QString &path)
{
    PxImage image;
    if (!LoadImageFile(image, path))
        return {};
    return QSize(int(image.GetWidth()), int(image.GetHeight()));
}

Job FolderJob(const QString &folder, const QString &format = QStringLiteral("png"))
{
    Job job;
    job.destination = Job::Destination::Folder;
    job.outputFolder = folder;
    job.format = format;
    return job;
}

void SetResizeWidth(Job &job, int width)
{
    auto *resize = job.Find<CPixortaSizeTask>();
    resize->m_mode = CPixortaSizeTask::ModeConstant;
    resize->m_width = width;
    resize->m_height = 0;
}

struct Ran {
    QStringList rows;
    QStringList outputs;
    QList<PlanRow> plan;
    int errors = 0;
};

// Plans the job first (the plan must not depend on what the batch writes), then runs it.
Ran PlanAndRun(const Job &job, const QStringList &paths)
{
    Ran ran;
    ran.plan = PlanBatch(job, paths);
    CRunBackupStore store;
    CBatchRunner runner(job, paths, &store);
    runner.RunBatch();
    for (const ResultRow &row : runner.Rows())
        ran.rows << ResultRowText(row);
    ran.outputs = runner.Outputs();
    ran.errors = runner.ErrorCount();
    return ran;
}

// The targets the plan names for files that will be written.
QStringList PlannedTargets(const QList<PlanRow> &plan)
{
    QStringList targets;
    for (const PlanRow &row : plan)
        if (row.kind == PlanRow::Kind::New || row.kind == PlanRow::Kind::Overwrites ||
            row.kind == PlanRow::Kind::Renames)
            targets << row.target;
        else if (row.kind == PlanRow::Kind::CollidesWith)
            targets << row.renamedTo;
    return targets;
}

// Every file under folder, by its path relative to it, with its bytes.
std::map<QString, QByteArray> Tree(const QString &folder)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(folder).relativeFilePath(path)] = FileBytes(path);
    }
    return files;
}

TEST(BatchNames, PatternCounterAndSizeNameTheResults)
{
    TempFolder dir;
    const QStringList paths = {dir.File("in/a.bmp"), dir.File("in/b.bmp"), dir.File("in/c.bmp")};
    MakePicture(paths[0], 40, 30);
    MakePicture(paths[1], 20, 10);
    MakePicture(paths[2], 30, 30);
    Job job = FolderJob(dir.File("out"));
    auto *resize = job.Find<CPixortaSizeTask>();
    resize->m_mode = CPixortaSizeTask::ModePercentage;
    resize->m_percentage = 50;
    job.namePattern = QStringLiteral("%n:3% %width%x%height% %name%");
    job.counterStart = 5;

    const Ran ran = PlanAndRun(job, paths);
    const QStringList expected = {dir.File("out/005 20x15 a.png"), dir.File("out/006 10x5 b.png"),
                                  dir.File("out/007 15x15 c.png")};
    EXPECT_EQ(ran.outputs, expected);
    EXPECT_EQ(PlannedTargets(ran.plan), expected);
    EXPECT_EQ(ran.errors, 0);
    for (const QString &path : expected)
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_EQ(SizeOf(expected[1]), QSize(10, 5));

    // In place, a name of its own makes a new file beside the source even without a change.
    Job inPlace;
    inPlace.destination = Job::Destination::InPlace;
    inPlace.namePattern = QStringLiteral("copy of %name%");
    const Ran beside = PlanAndRun(inPlace, {paths[0]});
    EXPECT_EQ(beside.outputs, QStringList{dir.File("in/copy of a.bmp")});
    EXPECT_EQ(PlannedTargets(beside.plan), beside.outputs);
    EXPECT_EQ(FileBytes(dir.File("in/copy of a.bmp")), FileBytes(paths[0]));
}

// A file stands where the first result would go; the second goes where nothing stands.
TEST(BatchNames, EachChoiceWhereAFileExists)
{
    const struct {
        Job::IfExists choice;
        const char *row;
        PlanRow::Kind planned;
        const char *written;
    } cases[] = {
        {Job::IfExists::Overwrite, "done :a.bmp", PlanRow::Kind::Overwrites, "a.png"},
        {Job::IfExists::Skip, "Skipped (exists) :a.bmp", PlanRow::Kind::Skips, nullptr},
        {Job::IfExists::Rename, "   Renamed to a00.png :a.bmp", PlanRow::Kind::Renames, "a00.png"},
    };
    for (const auto &c : cases) {
        TempFolder dir;
        const QStringList paths = {dir.File("in/a.bmp"), dir.File("in/b.bmp")};
        MakePicture(paths[0], 12, 8);
        MakePicture(paths[1], 8, 12);
        QDir().mkpath(dir.File("out"));
        WriteFile(dir.File("out/a.png"), "the user's own file");
        Job job = FolderJob(dir.File("out"));
        job.ifExists = c.choice;

        const Ran ran = PlanAndRun(job, paths);
        EXPECT_TRUE(ran.rows.contains(QString::fromUtf8(c.row))) << ran.rows.join('\n').toStdString();
        EXPECT_EQ(ran.errors, 0) << "skipping or renaming is no error";
        ASSERT_EQ(ran.plan.size(), 2);
        EXPECT_EQ(ran.plan[0].kind, c.planned);
        EXPECT_EQ(ran.plan[1].kind, PlanRow::Kind::New);
        EXPECT_EQ(PlannedTargets(ran.plan), ran.outputs);
        const bool overwritten = c.choice == Job::IfExists::Overwrite;
        EXPECT_EQ(FileBytes(dir.File("out/a.png")) == "the user's own file", !overwritten);
        if (c.written)
            EXPECT_EQ(SizeOf(dir.File("out/") + QString::fromUtf8(c.written)), QSize(12, 8));
        EXPECT_EQ(QFileInfo::exists(dir.File("out/a00.png")), c.choice == Job::IfExists::Rename);
        EXPECT_EQ(SizeOf(dir.File("out/b.png")), QSize(8, 12));
    }
}

// Two sources of one name from different folders, and a result that would land on another
// source: never one result over another.
TEST(BatchNames, ImagesOfOneBatchNeverOverwriteEachOther)
{
    const struct {
        Job::IfExists choice;
        PlanRow::Kind second;
        bool secondWritten;
    } cases[] = {
        {Job::IfExists::Overwrite, PlanRow::Kind::CollidesWith, true},
        {Job::IfExists::Skip, PlanRow::Kind::Skips, false},
        {Job::IfExists::Rename, PlanRow::Kind::Renames, true},
    };
    for (const auto &c : cases) {
        TempFolder dir;
        const QStringList paths = {dir.File("in/a/x.bmp"), dir.File("in/b/x.bmp")};
        MakePicture(paths[0], 30, 20);
        MakePicture(paths[1], 20, 30);
        Job job = FolderJob(dir.File("out"));
        job.ifExists = c.choice;
        const Ran ran = PlanAndRun(job, paths);
        ASSERT_EQ(ran.plan.size(), 2);
        EXPECT_EQ(ran.plan[0].kind, PlanRow::Kind::New);
        EXPECT_EQ(ran.plan[1].kind, c.second);
        EXPECT_EQ(ran.plan[1].detail.contains(paths[0]), true) << ran.plan[1].detail.toStdString();
        EXPECT_EQ(PlannedTargets(ran.plan), ran.outputs);
        EXPECT_EQ(ran.errors, 0);
        EXPECT_EQ(SizeOf(dir.File("out/x.png")), QSize(30, 20)) << "the first result stays";
        EXPECT_EQ(SizeOf(dir.File("out/x00.png")), c.secondWritten ? QSize(20, 30) : QSize());
        EXPECT_EQ(ran.rows.contains(QStringLiteral("   Renamed to x00.png :x.bmp")), c.secondWritten);
        EXPECT_EQ(ran.rows.contains(QStringLiteral("Skipped (exists) :x.bmp")), !c.secondWritten);
    }

    // In place, the result of a.bmp would land on a.png, another source of the batch.
    TempFolder dir;
    const QStringList paths = {dir.File("a.bmp"), dir.File("a.png")};
    MakePicture(paths[0], 9, 9);
    MakePicture(paths[1], 5, 5);
    const QByteArray png = FileBytes(paths[1]);
    Job job;
    job.destination = Job::Destination::InPlace;
    job.format = QStringLiteral("png");
    const Ran ran = PlanAndRun(job, paths);
    EXPECT_EQ(ran.plan[0].kind, PlanRow::Kind::CollidesWith);
    EXPECT_EQ(ran.outputs.first(), dir.File("a00.png"));
    EXPECT_EQ(SizeOf(dir.File("a00.png")), QSize(9, 9));
    EXPECT_EQ(SizeOf(dir.File("a.png")), QSize(5, 5)) << "the other source is not replaced";
}

TEST(BatchNames, KeptSubFoldersThreeLevelsDeep)
{
    TempFolder dir;
    const QStringList paths = {dir.File("in/top.bmp"), dir.File("in/a/one.bmp"),
                               dir.File("in/a/b/c/three.bmp"), dir.File("loose/alone.bmp"),
                               dir.File("in/a/b/c/d.bmp")};
    for (const QString &path : paths)
        MakePicture(path, 6, 4);
    auto foundIn = std::make_shared<QHash<QString, QString>>();
    foundIn->insert(paths[1], QStringLiteral("a"));
    foundIn->insert(paths[2], QStringLiteral("a/b/c"));
    foundIn->insert(paths[4], QStringLiteral("a/b/c"));

    Job job = FolderJob(dir.File("out"));
    job.keepFolders = true;
    job.foundIn = foundIn;
    const Ran ran = PlanAndRun(job, paths);
    const QStringList expected = {dir.File("out/top.png"), dir.File("out/a/one.png"),
                                  dir.File("out/a/b/c/three.png"), dir.File("out/alone.png"),
                                  dir.File("out/a/b/c/d.png")};
    EXPECT_EQ(ran.outputs, expected);
    EXPECT_EQ(PlannedTargets(ran.plan), expected);
    for (const QString &path : expected)
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();

    // Without the switch the tree is flat; in place the switch changes nothing.
    job.keepFolders = false;
    job.outputFolder = dir.File("flat");
    EXPECT_EQ(PlanAndRun(job, paths).outputs.at(2), dir.File("flat/three.png"));
    Job inPlace;
    inPlace.destination = Job::Destination::InPlace;
    inPlace.format = QStringLiteral("png");
    inPlace.keepFolders = true;
    inPlace.foundIn = foundIn;
    EXPECT_EQ(PlanAndRun(inPlace, {paths[2]}).outputs, QStringList{dir.File("in/a/b/c/three.png")});
}

TEST(BatchNames, VariantsLoadEveryImageOnce)
{
    TempFolder dir;
    const QStringList paths = {dir.File("in/a.bmp"), dir.File("in/b.bmp"), dir.File("in/c.bmp")};
    MakePicture(paths[0], 40, 20);
    MakePicture(paths[1], 30, 30);
    MakePicture(paths[2], 10, 40);
    Job job = FolderJob(dir.File("out"));
    QString why;
    const auto large = ParseVariant(QStringLiteral("width=20,name=%name%_large"), "large", &why);
    const auto thumb = ParseVariant(QStringLiteral("width=8,name=%name%_thumb,format=bmp"), "thumb", &why);
    ASSERT_TRUE(large && thumb) << why.toStdString();
    job.variants = {*large, *thumb};
    ASSERT_EQ(JobProblem(job), QString());

    std::atomic<int> loads{0};
    SetLoadHookForTests([&loads](const QString &) { ++loads; });
    const Ran ran = PlanAndRun(job, paths);
    SetLoadHookForTests(nullptr);
    EXPECT_EQ(loads.load(), 3) << "one load per image, whatever the number of variants";
    const QStringList expected = {dir.File("out/a_large.png"), dir.File("out/a_thumb.bmp"),
                                  dir.File("out/b_large.png"), dir.File("out/b_thumb.bmp"),
                                  dir.File("out/c_large.png"), dir.File("out/c_thumb.bmp")};
    EXPECT_EQ(ran.outputs, expected);
    EXPECT_EQ(PlannedTargets(ran.plan), expected);
    EXPECT_EQ(SizeOf(expected[0]), QSize(20, 10));
    EXPECT_EQ(SizeOf(expected[1]), QSize(8, 4));
    EXPECT_EQ(SizeOf(expected[5]), QSize(8, 32));
    EXPECT_TRUE(ran.rows.contains(QStringLiteral("done :b.bmp [thumb]")));

    // Two variants that want one name: the second result gets a free one.
    job.variants = {*ParseVariant(QStringLiteral("width=20"), "1", &why),
                    *ParseVariant(QStringLiteral("width=8"), "2", &why)};
    job.outputFolder = dir.File("same");
    const Ran same = PlanAndRun(job, {paths[0]});
    EXPECT_EQ(same.outputs, (QStringList{dir.File("same/a.png"), dir.File("same/a00.png")}));
    EXPECT_EQ(PlannedTargets(same.plan), same.outputs);
}

TEST(BatchNames, VariantSettingsAreRefusedInTheOptionsWords)
{
    const struct {
        const char *text;
        const char *says;
    } refused[] = {
        {"colour=red", "unknown key 'colour'"},
        {"name=%bogus%", "unknown token"},
        {"name=a/b", "\"/\" or \"..\""},
        {"width=-4", "--width"},
        {"keep-metadata=yes", "applies to the whole batch"},
        {"slideshow=yes", "cannot make a slideshow"},
        {"grayscale=maybe", "yes or no"},
        {"justtext", "KEY=VALUE"},
        {"", "names no setting"},
    };
    for (const auto &c : refused) {
        QString why;
        EXPECT_FALSE(ParseVariant(QString::fromUtf8(c.text), "v", &why)) << c.text;
        EXPECT_TRUE(why.contains(QString::fromUtf8(c.says))) << c.text << ": " << why.toStdString();
        EXPECT_TRUE(why.startsWith("variant v: ")) << why.toStdString();
    }
    // A colour's commas and a caption's stay with their value.
    QString why;
    const auto v = ParseVariant(QStringLiteral("background-color=10,20,30,text=Hello, world,grayscale=yes"),
                                "v", &why);
    ASSERT_TRUE(v) << why.toStdString();
    ASSERT_EQ(v->settings.size(), 3);
    EXPECT_EQ(v->settings[0].second, "10,20,30");
    EXPECT_EQ(v->settings[1].second, "Hello, world");
    EXPECT_EQ(VariantText(*v), "background-color=10,20,30,text=Hello, world,grayscale=yes");
}

TEST(BatchNames, OneNameForAllOnlyWithRename)
{
    TempFolder dir;
    const QStringList paths = {dir.File("a.bmp"), dir.File("b.bmp"), dir.File("c.bmp")};
    for (const QString &path : paths)
        MakePicture(path, 4, 4);
    Job job = FolderJob(dir.File("out"));
    job.namePattern = QStringLiteral("cover");
    EXPECT_TRUE(JobProblem(job).contains("same name")) << JobProblem(job).toStdString();
    job.ifExists = Job::IfExists::Skip;
    EXPECT_FALSE(JobProblem(job).isEmpty());
    job.ifExists = Job::IfExists::Rename;
    EXPECT_EQ(JobProblem(job), QString());
    EXPECT_EQ(PlanNotes(job).join(' '),
              "every image is named 'cover': each after the first gets a free name.");
    const Ran ran = PlanAndRun(job, paths);
    const QStringList expected = {dir.File("out/cover.png"), dir.File("out/cover00.png"),
                                  dir.File("out/cover01.png")};
    EXPECT_EQ(ran.outputs, expected);
    EXPECT_EQ(PlannedTargets(ran.plan), expected);
}

// Names depend on the batch order alone, never on which worker finished first.
TEST(BatchNames, AnyNumberOfWorkersGivesTheSameNamesAndBytes)
{
    TempFolder dir;
    QStringList paths;
    for (int i = 0; i < 12; ++i) {
        paths << dir.File(QStringLiteral("in/%1/x.bmp").arg(i % 3));
        MakePicture(paths.back(), 20 + i, 10 + 2 * i, uint8_t(i));
    }
    std::map<QString, QByteArray> first;
    for (int workers : {1, 2, 4}) {
        Job job = FolderJob(dir.File(QStringLiteral("out%1").arg(workers)));
        job.workers = workers;
        job.namePattern = QStringLiteral("%name% %n:2% %width%");
        QString why;
        job.variants = {*ParseVariant(QStringLiteral("width=16"), "a", &why),
                        *ParseVariant(QStringLiteral("width=16,format=jpg,name=%name%"), "b", &why)};
        const Ran ran = PlanAndRun(job, paths);
        EXPECT_EQ(ran.errors, 0);
        const std::map<QString, QByteArray> tree = Tree(job.outputFolder);
        EXPECT_EQ(tree.size(), 24u);
        if (workers == 1)
            first = tree;
        else
            EXPECT_TRUE(tree == first) << workers << " workers";
    }
}

} // namespace
