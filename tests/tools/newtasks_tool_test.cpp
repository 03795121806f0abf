// pixorta-batch with Crop, Sharpen and Watermark: their options and refusals, variants that
// carry them, saved jobs, and, with all three left off, not one byte different from what the
// program made before they existed.
#include "tests/support/testsupport.h"
#include "tooltests.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTextStream>
#include <map>

namespace {

class NewTaskOptions : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("a.png"), 90, 60));
        ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("b.png"), 40, 100));
        ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("mark.png"), 20, 10));
    }
    QStringList Images() const { return {dir.File("a.png"), dir.File("b.png")}; }
    TempFolder dir;
};

TEST_F(NewTaskOptions, BadValuesAreUsageErrors)
{
    const QString mark = dir.File("mark.png");
    const struct {
        QStringList args;
        QString message;
    } bad[] = {
        {{"--crop-aspect", "3:0"}, "--crop-aspect H needs a whole number from 1 to 100000, not '0'"},
        {{"--crop-aspect", "0:2"}, "--crop-aspect W needs a whole number from 1 to 100000, not '0'"},
        {{"--crop-aspect", "16"}, "--crop-aspect needs W:H, not '16'"},
        {{"--crop-aspect", "4:3:2"}, "--crop-aspect needs W:H, not '4:3:2'"},
        {{"--crop-rect", "0,0,-5,10"}, "--crop-rect W needs a number of pixels from 1 to 2147483647, not '-5'"},
        {{"--crop-rect", "0,0,5,-1"}, "--crop-rect H needs a number of pixels from 1 to 2147483647, not '-1'"},
        {{"--crop-rect", "1,2,3"}, "--crop-rect needs X,Y,W,H, not '1,2,3'"},
        {{"--crop-margins", "10,10,10,101"}, "--crop-margins B needs a percentage from 0 to 100, not '101'"},
        {{"--crop-anchor", "middle"}, "--crop-anchor needs center, top-left, top, top-right, left, "
                                      "right, bottom-left, bottom or bottom-right, not 'middle'"},
        {{"--crop-aspect", "1:1", "--crop-margins", "1,1,1,1"},
         "choose one of --crop-aspect, --crop-rect and --crop-margins"},
        {{"--sharpen", "80,7"}, "--sharpen RADIUS needs a radius in pixels from 0.3 to 5.0 with at most "
                                "one decimal, not '7'"},
        {{"--sharpen", "80,0.2"}, "--sharpen RADIUS needs a radius in pixels from 0.3 to 5.0"},
        {{"--sharpen", "80,1.25"}, "not '1.25'"},
        {{"--sharpen", "0"}, "--sharpen AMOUNT needs a percentage from 1 to 500, not '0'"},
        {{"--sharpen", "80,1.0,256"}, "--sharpen THRESHOLD needs a number of levels from 0 to 255"},
        {{"--sharpen", "80,1.0,2,9"}, "--sharpen needs AMOUNT[,RADIUS[,THRESHOLD]], not '80,1.0,2,9'"},
        {{"--watermark", mark, "--watermark-opacity", "101"},
         "--watermark-opacity needs a percentage from 0 to 100, not '101'"},
        {{"--watermark", mark, "--watermark-size", "0"}, "--watermark-size needs a percentage from 1 to 100"},
        {{"--watermark", dir.File("nothere.png")}, "--watermark: '" + dir.File("nothere.png") + "' does not exist"},
        {{"--watermark", dir.Path()}, "is a folder, not a picture file"},
        {{"--watermark", ""}, "--watermark needs a picture file"},
        {{"--watermark-position", "top"}, "the watermark options need --watermark FILE"},
        {{"--variant", "watermark=" + dir.File("gone.png")}, "'" + dir.File("gone.png") + "' does not exist"},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.args.join(' ').toStdString());
        const Outcome r = PixortaBatch(b.args + QStringList{"--output-folder", dir.File("out")} + Images());
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(b.message)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(dir.File("out")));
    }
}

TEST_F(NewTaskOptions, AllThreeRunInTheirOrderAndTheirSizesNameTheResults)
{
    const QStringList args = {"--crop-aspect", "1:1", "--crop-anchor", "bottom-right",
                              "--sharpen", "80,1.0,2", "--watermark", dir.File("mark.png"),
                              "--watermark-position", "top-left", "--watermark-size", "50",
                              "--watermark-opacity", "100", "--watermark-margin", "0",
                              "--resize", "50", "--name", "%name%_%width%x%height%",
                              "--format", "png", "--output-folder", dir.File("out")};
    const Outcome plan = PixortaBatch(args + QStringList{"--dry-run"} + Images());
    EXPECT_EQ(plan.status, 0) << plan.err.toStdString();
    EXPECT_TRUE(plan.out.contains("/out/a_30x30.png")) << plan.out.toStdString();
    EXPECT_TRUE(plan.out.contains("/out/b_20x20.png")) << plan.out.toStdString();
    const Outcome run = PixortaBatch(args + Images());
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(SizeOf(dir.File("out/a_30x30.png")), QSize(30, 30));
    EXPECT_EQ(SizeOf(dir.File("out/b_20x20.png")), QSize(20, 20));

    // The same from a saved job; the variant keeps its commas.
    const Outcome saved = PixortaBatch(args + QStringList{"--variant", "sharpen=150,2.5,0,name=%name%_v",
                                                          "--save-job", dir.File("job.ini")});
    EXPECT_EQ(saved.status, 0) << saved.err.toStdString();
    const QString job = QString::fromUtf8(FileBytes(dir.File("job.ini")));
    for (const char *line : {"[Crop]\nenabled=yes\nmode=aspect\n", "anchor=bottom-right\n",
                             "[Sharpen]\nenabled=yes\namount=80\nradius=1.0\nthreshold=2\n",
                             "[Watermark]\nenabled=yes\nfile=", "sharpen=150,2.5,0\n"})
        EXPECT_TRUE(job.contains(QLatin1String(line))) << line << "\n" << job.toStdString();
    const Outcome again = PixortaBatch({"--job", dir.File("job.ini"), "--output-folder",
                                        dir.File("again"), dir.File("a.png")});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(FileBytes(dir.File("again/a_v.png")).isEmpty(), false);
}

TEST_F(NewTaskOptions, TheHelpAndTheManualPageShowThem)
{
    const Outcome help = PixortaBatch({"--help"});
    for (const char *word :
         {"--crop-aspect W:H", "--crop-anchor WHERE", "--crop-match-orientation", "--crop-rect X,Y,W,H",
          "--crop-margins L,T,R,B", "--sharpen AMOUNT[,RADIUS[,THRESHOLD]]", "--watermark FILE",
          "--watermark-position WHERE", "--watermark-size P", "--watermark-opacity P",
          "--watermark-margin P", "(default 1:1)", "default 100,1.0,2",
          "Crop, Resize, Sharpen, Change colors, Add background, Add text,\nWatermark"})
        EXPECT_TRUE(help.out.contains(QLatin1String(word))) << word;
    // One example of each, in the help, the manual page and the README.
    QFile man(QStringLiteral(PIXORTA_MANPAGE));
    ASSERT_TRUE(man.open(QIODevice::ReadOnly));
    const QString manual = QString::fromUtf8(man.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QFile readme(QStringLiteral(PIXORTA_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString readmeText = QString::fromUtf8(readme.readAll());
    QFile page(QStringLiteral(PIXORTA_SOURCE_DIR "/resources/images_internal/help.html"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString helpPage = QString::fromUtf8(page.readAll());
    for (const char *example : {"pixorta-batch --crop-aspect 3:2", "pixorta-batch --crop-rect",
                                "pixorta-batch --crop-margins", "pixorta-batch --sharpen 80,1.0,2",
                                "pixorta-batch --watermark "}) {
        EXPECT_TRUE(help.out.contains(QLatin1String(example))) << example;
        EXPECT_TRUE(manual.contains(QLatin1String(example))) << example;
        EXPECT_TRUE(readmeText.contains(QLatin1String(example))) << example;
        EXPECT_TRUE(helpPage.contains(QLatin1String(example))) << example;
    }
}

// --- the batches of before ---------------------------------------------------------------------

struct Reference {
    // Configuration name -> its options, and what each kind of record names to its digest.
    std::map<QString, QStringList> configs;
    std::map<QString, std::map<QString, QString>> digests;
};

Reference ReadReference(const QString &path)
{
    Reference ref;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        QStringList fields = line.split(u'\t');
        const QString kind = fields.takeFirst(), name = fields.takeFirst();
        if (kind == u"config")
            ref.configs[name] = fields;
        else if (kind == u"file")
            ref.digests[name][QStringLiteral("file ") + fields.value(0)] = fields.value(1);
        else
            ref.digests[name][kind] = fields.value(0);
    }
    return ref;
}

QString Digest(const QByteArray &bytes)
{
    return QString::fromStdString(Sha256Hex(bytes.constData(), size_t(bytes.size())));
}

// With Crop, Sharpen and Watermark off, every batch of the public suites writes, prints, plans
// and saves exactly what the program before them did (tests/tools/unchanged_outputs.tsv, made by
// make_unchanged_reference.py with that program).
TEST(UnchangedBatches, TheSuitesComeOutByteForByteAsBefore)
{
    PX_REQUIRE_TESTDATA();
    const QString testdata = QString::fromStdString(TestDataDir().string());
    const Reference ref = ReadReference(QStringLiteral(PIXORTA_SOURCE_DIR "/tests/tools/unchanged_outputs.tsv"));
    ASSERT_EQ(ref.configs.size(), 3u);
    for (const auto &[name, options] : ref.configs) {
        SCOPED_TRACE(name.toStdString());
        TempFolder work;
        const QString out = work.File(name);
        const QStringList common = options + QStringList{"--keep-folders", "--no-journal", "--jobs", "2",
                                                         "--output-folder", out};
        std::map<QString, QString> got;
        const Outcome plan = PixortaBatch(common + QStringList{"--dry-run", testdata});
        got["plan"] = Digest(plan.out.toUtf8().replace(testdata.toUtf8(), "<testdata>").replace(out.toUtf8(), "<out>"));
        PixortaBatch(common + QStringList{"--save-job", work.File("job.ini")});
        got["job"] = Digest(FileBytes(work.File("job.ini")).replace(out.toUtf8(), "<out>"));
        got["rows"] = Digest(PixortaBatch(common + QStringList{testdata}).out.toUtf8());
        QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            got[QStringLiteral("file ") + QDir(out).relativeFilePath(path)] = Digest(FileBytes(path));
        }
        const std::map<QString, QString> &expected = ref.digests.at(name);
        int differ = 0;
        for (const auto &[what, digest] : expected)
            if (got[what] != digest && ++differ <= 10)
                ADD_FAILURE() << what.toStdString() << " differs from before";
        for (const auto &[what, digest] : got)
            if (!expected.count(what) && ++differ <= 10)
                ADD_FAILURE() << what.toStdString() << " was not made before";
        EXPECT_EQ(differ, 0);
        EXPECT_GT(expected.size(), 600u);
    }
}

} // namespace
