// Crop, Sharpen and Watermark in whole batches: their job-file sections, the watermark read
// once however many workers and variants there are, a watermark that cannot be read, and the
// crop's size in names and in the plan.
#include "batch/batchplan.h"
#include "batch/batchrunner.h"
#include "batch/jobfile.h"
#include "batch/joboptions.h"
#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "imageio/imagefile_testhooks.h"
#include "tasks/pixortacroptask.h"
#include "tasks/pixortasharpentask.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortawatermarktask.h"
#include "tests/support/testsupport.h"
#include "undo/backup.h"

#include <QDir>
#include <QFile>
#include <QSize>
#include <atomic>
#include <gtest/gtest.h>

namespace {

void MakePicture(const QString &path, int width, int height, int seed)
{
    PxImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            image.GetBits(y)[x] = static_cast<uint8_t>(seed * 29 + x * 3 + y * 5);
    ASSERT_TRUE(SaveImageFile(image, path)) << image.GetLastError();
}

// A red mark, half transparent.
void MakeMark(const QString &path, int width, int height)
{
    PxImage mark;
    ASSERT_TRUE(mark.Create(width, height, 24));
    ASSERT_TRUE(mark.AlphaCreate());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            mark.SetPixelColor(x, y, PxRGBQuad{0, 0, 255, 0});
            mark.AlphaSet(x, y, 128);
        }
    ASSERT_TRUE(SaveImageFile(mark, path)) << mark.GetLastError();
}

QSize SizeOfFile(const QString &path)
{
    PxImage image;
    if (!LoadImageFile(image, path))
        return {};
    return QSize(int(image.GetWidth()), int(image.GetHeight()));
}

QString Text(const QString &path)
{
    return QString::fromUtf8(FileBytes(path));
}

TEST(NewTasks, JobFilesHoldTheirSectionsOnlyWhenTheyMatter)
{
    TempFolder dir;
    Job job;
    job.destination = Job::Destination::InPlace;
    QString error;
    ASSERT_TRUE(WriteJobFile(dir.File("plain.ini"), job, &error)) << error.toStdString();
    for (const char *section : {"[Crop]", "[Sharpen]", "[Watermark]"})
        EXPECT_FALSE(Text(dir.File("plain.ini")).contains(QLatin1String(section))) << section;

    // On, or off with settings of their own: written, in task order, and read back whole.
    auto *crop = job.Find<CPixortaCropTask>();
    crop->m_mode = CPixortaCropTask::Mode::Rectangle;
    crop->m_x = 5;
    crop->m_width = 77;
    job.SetEnabled(TaskCrop, true);
    job.Find<CPixortaSharpenTask>()->m_radius = 23;
    auto *mark = job.Find<CPixortaWatermarkTask>();
    mark->m_file = QStringLiteral("/marks/logo.png");
    mark->m_position = Placement::TopLeft;
    job.SetEnabled(TaskWatermark, true);
    ASSERT_TRUE(WriteJobFile(dir.File("new.ini"), job, &error)) << error.toStdString();
    const QString written = Text(dir.File("new.ini"));
    const QStringList order = {"[Crop]\nenabled=yes\nmode=rectangle\n", "[Resize]",
                               "[Sharpen]\nenabled=no\namount=100\nradius=2.3\n",
                               "[Change colors]", "[Add background]", "[Add text]",
                               "[Watermark]\nenabled=yes\nfile=/marks/logo.png\nposition=top-left\n",
                               "[Create slideshow]"};
    qsizetype at = 0;
    for (const QString &part : order) {
        const qsizetype found = written.indexOf(part, at);
        EXPECT_GT(found, at - 1) << part.toStdString() << "\n" << written.toStdString();
        at = std::max(at, found);
    }
    Job back;
    ASSERT_TRUE(ReadJobFile(dir.File("new.ini"), &back, &error)) << error.toStdString();
    EXPECT_TRUE(back.IsEnabled(TaskCrop));
    EXPECT_FALSE(back.IsEnabled(TaskSharpen));
    EXPECT_TRUE(back.IsEnabled(TaskWatermark));
    EXPECT_TRUE(*back.Find<CPixortaCropTask>() == *crop);
    EXPECT_EQ(back.Find<CPixortaSharpenTask>()->m_radius, 23);
    EXPECT_TRUE(*back.Find<CPixortaWatermarkTask>() == *mark);
    ASSERT_TRUE(WriteJobFile(dir.File("again.ini"), back, &error));
    EXPECT_EQ(FileBytes(dir.File("again.ini")), FileBytes(dir.File("new.ini")));

    // A value out of range is refused where it stands.
    WriteFile(dir.File("bad.ini"), "[Job]\nversion=1\n[Sharpen]\nenabled=yes\nradius=0.2\n");
    EXPECT_FALSE(ReadJobFile(dir.File("bad.ini"), &back, &error));
    EXPECT_TRUE(error.endsWith("[Sharpen] radius needs a radius in pixels from 0.3 to 5.0 with at "
                               "most one decimal, not '0.2'"))
        << error.toStdString();
}

class WatermarkBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        UndoHistory::Instance().Clear();
        for (int i = 0; i < 6; ++i) {
            const QString path = dir.File(QStringLiteral("p%1.png").arg(i));
            ASSERT_NO_FATAL_FAILURE(MakePicture(path, 60 + i, 40, i));
            images << path;
        }
    }
    void TearDown() override { SetLoadHookForTests(nullptr); }

    Job MarkJob(const QString &file, int workers)
    {
        Job job;
        job.destination = Job::Destination::Folder;
        job.outputFolder = dir.File("out");
        job.format = QStringLiteral("png");
        job.workers = workers;
        auto *mark = job.Find<CPixortaWatermarkTask>();
        mark->m_file = file;
        mark->m_size = 50;
        mark->m_opacity = 100;
        mark->m_margin = 0;
        mark->m_position = Placement::TopLeft;
        job.SetEnabled(TaskWatermark, true);
        return job;
    }

    TempFolder dir;
    QStringList images;
};

TEST_F(WatermarkBatch, TheMarkIsReadOnceForTheWholeBatch)
{
    ASSERT_NO_FATAL_FAILURE(MakeMark(dir.File("mark.png"), 20, 10));
    for (int workers : {1, 2, 4}) {
        SCOPED_TRACE(workers);
        QDir(dir.File("out")).removeRecursively();
        Job job = MarkJob(dir.File("mark.png"), workers);
        QString why;
        for (const char *variant : {"width=30,name=%name%_small", "sharpen=80,1.0,2,name=%name%_sharp"}) {
            const std::optional<JobVariant> v = ParseVariant(QLatin1String(variant), QString::number(job.variants.size() + 1), &why);
            ASSERT_TRUE(v) << why.toStdString();
            job.variants << *v;
        }
        std::atomic<int> loads{0};
        SetLoadHookForTests([&](const QString &path) {
            if (path == dir.File("mark.png"))
                ++loads;
        });
        CBatchRunner runner(job, images);
        runner.RunBatch();
        SetLoadHookForTests(nullptr);
        EXPECT_EQ(loads, 1);
        EXPECT_EQ(runner.ErrorCount(), 0);
        EXPECT_EQ(runner.Outputs().size(), 12);
        // The red mark, half covering, over the top-left corner of every result.
        for (const QString &out : runner.Outputs()) {
            PxImage result;
            ASSERT_TRUE(LoadImageFile(result, out)) << out.toStdString();
            const PxRGBQuad corner = result.GetPixelColor(0, int32_t(result.GetHeight()) - 1);
            EXPECT_GE(corner.red, 127) << out.toStdString();
        }
    }
}

TEST_F(WatermarkBatch, AMarkThatCannotBeReadFailsEveryImageWithItsReason)
{
    WriteFile(dir.File("mark.png"), "not a picture at all");
    std::atomic<int> loads{0};
    SetLoadHookForTests([&](const QString &path) {
        if (path == dir.File("mark.png"))
            ++loads;
    });
    CBatchRunner runner(MarkJob(dir.File("mark.png"), 2), images);
    runner.RunBatch();
    SetLoadHookForTests(nullptr);
    EXPECT_EQ(loads, 1);
    QStringList failures;
    for (const ResultRow &row : runner.Rows())
        if (!row.success) {
            failures << ResultRowText(row);
            EXPECT_TRUE(row.reason.contains(dir.File("mark.png")) &&
                        row.reason.contains(QLatin1String("cannot be read")))
                << row.reason.toStdString();
        }
    QStringList expected;
    for (int i = 0; i < 6; ++i)
        expected << QStringLiteral("   Watermark failed :p%1.png").arg(i);
    EXPECT_EQ(failures, expected);
    EXPECT_EQ(runner.ErrorCount(), 6);
    // The batch went on: every other task still ran and every result was written.
    EXPECT_EQ(runner.Rows().back().text, "Finished. With 6 errors.");
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files).size(), 6);
}

TEST(NewTasks, TheCropsSizeNamesResultsInThePlanAndTheBatchAlike)
{
    TempFolder dir;
    ASSERT_NO_FATAL_FAILURE(MakePicture(dir.File("a.png"), 90, 40, 1));
    ASSERT_NO_FATAL_FAILURE(MakePicture(dir.File("b.png"), 7, 3, 2));
    Job job;
    job.destination = Job::Destination::Folder;
    job.outputFolder = dir.File("out");
    job.namePattern = QStringLiteral("%name%_%width%x%height%");
    auto *crop = job.Find<CPixortaCropTask>();
    crop->m_aspectWidth = 3;
    crop->m_aspectHeight = 2;
    job.SetEnabled(TaskCrop, true);
    // Halved after the crop: 60 x 40 becomes 30 x 20; the 4 x 3 crop of b becomes 2 x 1.
    job.Find<CPixortaSizeTask>()->m_percentage = 50;
    const QList<PlanRow> plan = PlanBatch(job, {dir.File("a.png"), dir.File("b.png")});
    ASSERT_EQ(plan.size(), 2);
    EXPECT_TRUE(plan[0].target.endsWith("/a_30x20.png")) << plan[0].target.toStdString();
    EXPECT_TRUE(plan[1].target.endsWith("/b_2x1.png")) << plan[1].target.toStdString();
    UndoHistory::Instance().Clear();
    CBatchRunner runner(job, {dir.File("a.png"), dir.File("b.png")});
    runner.RunBatch();
    EXPECT_EQ(runner.ErrorCount(), 0);
    EXPECT_EQ(SizeOfFile(dir.File("out/a_30x20.png")), QSize(30, 20));
    EXPECT_EQ(SizeOfFile(dir.File("out/b_2x1.png")), QSize(2, 1));

    // A rectangle that misses a picture fails it in the plan as in the batch.
    crop->m_mode = CPixortaCropTask::Mode::Rectangle;
    crop->m_x = 50;
    crop->m_y = 0;
    EXPECT_EQ(crop->PredictOutcome(QString(), 7, 3), CPixortaTask::Outcome::Fails);
}

} // namespace
