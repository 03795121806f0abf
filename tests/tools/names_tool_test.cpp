// pixorta-batch's names, kept sub-folders, choices where a file exists and variants: what the
// tool refuses, and what it writes and plans from real folders.

#include "tooltests.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <map>

namespace {

std::map<QString, QByteArray> Tree(const QString &folder)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(folder).relativeFilePath(path)] = FileBytes(path);
    }
    return files;
}

QStringList Names(const QString &folder)
{
    QStringList names;
    for (const auto &[name, bytes] : Tree(folder))
        names << name;
    return names;
}

TEST(PixortaBatchNames, BadPatternsAndVariantsAreUsageErrors)
{
    const struct {
        QStringList args;
        const char *message;
    } bad[] = {
        {{"--name", "%title%"}, "unknown token '%title%'"},
        {{"--name", "%date:' '%"}, "gives an empty name"},
        {{"--name", "%n:10%"}, "width from 1 to 9"},
        {{"--name", "web/%name%"}, "\"/\" or \"..\""},
        {{"--name", "..%name%"}, "\"/\" or \"..\""},
        {{"--name", "cover"}, "same name"},
        {{"--name", "cover", "--if-exists", "skip"}, "same name"},
        {{"--if-exists", "merge"}, "--if-exists needs overwrite, skip or rename"},
        {{"--start", "-1"}, "--start"},
        {{"--variant", "size=3"}, "variant 1: unknown key 'size'"},
        {{"--variant", "width=10", "--variant", "name=%x%"}, "variant 2: "},
        {{"--variant", "width=10", "--slideshow"}, "slideshow"},
        {{"--variant", " "}, "variant 1: names no setting"},
    };
    for (const auto &c : bad) {
        const Outcome r = PixortaBatch(c.args + QStringList{"--in-place", "x.jpg"});
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    }
    EXPECT_EQ(PixortaBatch({"--name", "cover", "--if-exists", "rename", "--dry-run", "--in-place",
                            "x.jpg"})
                  .status,
              1)
        << "allowed with rename (the missing file is what fails)";
}

// Qt would take these as options of its own, and on an X11 desktop "--name" itself with its
// value: every one reaches the batch as it was given.
TEST(PixortaBatchNames, ArgumentsQtKnowsReachTheBatch)
{
    TempFolder dir;
    MakeImage(dir.File("a.bmp"), 6, 4);
    for (const char *pattern : {"-reverse", "--reverse", "-session", "-qwindowtitle", "-platform"}) {
        SCOPED_TRACE(pattern);
        QDir(dir.File("out")).removeRecursively();
        const Outcome r = PixortaBatch({"--name", pattern, "--if-exists", "rename", "--format",
                                        "png", "--output-folder", dir.File("out"), dir.File("a.bmp")});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(Names(dir.File("out")), QStringList{QString::fromLatin1(pattern) + ".png"});
    }
}

TEST(PixortaBatchNames, DatedNumberedNamesFromTheExifDate)
{
    TempFolder dir;
    MakeImage(dir.File("plain.jpg"), 16, 12);
    std::vector<uint8_t> plain = ReadFileBytes(dir.File("plain.jpg").toStdString());
    TestExif exif;
    exif.date = "2026:07:14 09:05:03";
    QDir().mkpath(dir.File("rome"));
    WriteFileBytes(dir.File("rome/b.jpg").toStdString(),
                   InsertJpegSegment(plain, 0xE1, MakeExifBlock(exif)));
    // No EXIF: the file's own time.
    MakeImage(dir.File("rome/a.png"), 10, 10);
    QFile file(dir.File("rome/a.png"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2025, 1, 2), QTime(3, 4)),
                                 QFileDevice::FileModificationTime));
    file.close();

    const QStringList args = {"--name", "%date% Rome %n:3%", "--format", "jpg",
                              "--output-folder", dir.File("out"), dir.File("rome")};
    const Outcome plan = PixortaBatch(QStringList{"--dry-run"} + args);
    EXPECT_EQ(plan.status, 0) << plan.err.toStdString();
    EXPECT_TRUE(plan.out.contains("new: " + dir.File("out/2025-01-02 Rome 001.jpg")))
        << plan.out.toStdString();
    EXPECT_TRUE(plan.out.contains("new: " + dir.File("out/2026-07-14 Rome 002.jpg")));
    const Outcome r = PixortaBatch(args);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(Names(dir.File("out")),
              (QStringList{"2025-01-02 Rome 001.jpg", "2026-07-14 Rome 002.jpg"}));
}

TEST(PixortaBatchNames, KeptSubFoldersAndChoicesWhereFilesExist)
{
    TempFolder dir;
    for (const char *path : {"in/top.bmp", "in/2026/one.bmp", "in/2026/Rome/day 1/two.bmp",
                             "in/2026/Rome/day 1/three.bmp"}) {
        QDir().mkpath(QFileInfo(dir.File(path)).absolutePath());
        MakeImage(dir.File(path), 8, 6);
    }
    MakeImage(dir.File("loose.bmp"), 6, 8);
    const QStringList args = {"--keep-folders", "--format", "png", "--output-folder",
                              dir.File("out"), dir.File("in"), dir.File("loose.bmp")};
    const Outcome plan = PixortaBatch(QStringList{"--dry-run"} + args);
    EXPECT_EQ(plan.status, 0);
    const Outcome r = PixortaBatch(args);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList expected = {"2026/Rome/day 1/three.png", "2026/Rome/day 1/two.png",
                                  "2026/one.png", "loose.png", "top.png"};
    EXPECT_EQ(Names(dir.File("out")), expected);
    for (const QString &name : expected)
        EXPECT_TRUE(plan.out.contains("new: " + dir.File("out/" + name))) << name.toStdString();

    // Again over what is there now: skip, rename and overwrite, planned and done.
    const auto before = Tree(dir.File("out"));
    const Outcome skipPlan = PixortaBatch(QStringList{"--dry-run", "--if-exists", "skip"} + args);
    EXPECT_TRUE(skipPlan.out.contains("skips: " + dir.File("out/top.png") + " (a file stands there"))
        << skipPlan.out.toStdString();
    EXPECT_TRUE(skipPlan.out.contains("Plan for 5 images: 5 skips."));
    const Outcome skip = PixortaBatch(QStringList{"--if-exists", "skip"} + args);
    EXPECT_EQ(skip.status, 0);
    EXPECT_TRUE(skip.out.contains("Skipped (exists) :top.bmp")) << skip.out.toStdString();
    EXPECT_TRUE(skip.out.contains("Finished. No errors"));
    EXPECT_TRUE(Tree(dir.File("out")) == before);

    const Outcome renamePlan = PixortaBatch(QStringList{"--dry-run", "--if-exists", "rename"} + args);
    EXPECT_TRUE(renamePlan.out.contains("renames: " + dir.File("out/2026/one00.png") + " (" +
                                        dir.File("out/2026/one.png") + " exists;"))
        << renamePlan.out.toStdString();
    const Outcome rename = PixortaBatch(QStringList{"--if-exists", "rename"} + args);
    EXPECT_EQ(rename.status, 0);
    EXPECT_TRUE(rename.out.contains("   Renamed to one00.png :one.bmp"));
    EXPECT_EQ(Tree(dir.File("out")).size(), 10u);
}

TEST(PixortaBatchNames, VariantsSavedInAJobAndTheSameForEveryNumberOfJobs)
{
    TempFolder dir;
    for (int i = 0; i < 6; ++i) {
        QDir().mkpath(dir.File(QStringLiteral("in/%1").arg(i)));
        MakeImage(dir.File(QStringLiteral("in/%1/photo.bmp").arg(i)), 30 + i, 20 + i);
    }
    const QStringList variants = {"--variant", "width=24,name=%name%_large",
                                  "--variant", "width=8,name=%name%_thumb,format=jpg"};
    const Outcome saved = PixortaBatch(variants + QStringList{"--format", "png", "--output-folder",
                                                              dir.File("x"), "--save-job",
                                                              dir.File("web.ini")});
    ASSERT_EQ(saved.status, 0) << saved.err.toStdString();
    const QByteArray job = FileBytes(dir.File("web.ini"));
    EXPECT_TRUE(job.contains("[Variant 1]\nwidth=24\nname=%name%_large\n")) << job.toStdString();
    EXPECT_TRUE(job.contains("[Variant 2]\nwidth=8\nname=%name%_thumb\nformat=jpg\n"));

    std::map<QString, QByteArray> one;
    for (const char *jobs : {"1", "2"}) {
        const QString out = dir.File(QStringLiteral("out%1").arg(jobs));
        const Outcome r = PixortaBatch({"--job", dir.File("web.ini"), "--jobs", jobs,
                                        "--output-folder", out, dir.File("in")});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("done :photo.bmp [2]"));
        EXPECT_TRUE(r.out.contains("   Renamed to photo_large00.png :photo.bmp [1]"));
        const auto tree = Tree(out);
        EXPECT_EQ(tree.size(), 12u);
        EXPECT_EQ(tree.count("photo_thumb02.jpg"), 1u);
        if (one.empty())
            one = tree;
        else
            EXPECT_TRUE(tree == one) << "--jobs 2 writes what --jobs 1 writes";
    }
}

} // namespace
