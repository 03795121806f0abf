#include "app/pixortadlg.h"
#include "app/sizetest.h"
#include "batch/jobfile.h"
#include "batch/joboptions.h"
#include "tasks/pixortatask.h"
#include "undo/backup.h"
#include "imageio/imagefile.h"
#include "core/paths.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QSpinBox>
#include <QDir>
#include <QFile>

namespace {

QString Picture(const TempFolder &dir, const QString &name, int w = 30, int h = 20)
{
    PxImage img;
    img.Create(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 3 * w; ++x)
            img.GetBits(static_cast<uint32_t>(y))[x] = static_cast<uint8_t>(x * 7 + y * 13);
    const QString path = dir.File(name);
    EXPECT_TRUE(SaveImageFile(img, path));
    return path;
}

// A real cursor file: an icon file whose header says cursor.
QString Cursor(const TempFolder &dir, const QString &name)
{
    const QString icon = Picture(dir, name + ".ico", 16, 16);
    QFile f(icon);
    EXPECT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(2);
    f.write("\x02", 1);
    f.close();
    const QString path = dir.File(name + ".cur");
    EXPECT_TRUE(QFile::rename(icon, path));
    return path;
}

qint64 SavedSize(const TempFolder &dir, const QString &source, const QString &extension)
{
    PxImage img;
    EXPECT_TRUE(LoadImageFile(img, source));
    const QString path = dir.File("measure." + extension);
    EXPECT_TRUE(SaveImageFile(img, path));
    const qint64 size = QueryFileSize(path, true);
    QFile::remove(path);
    return size;
}

TEST(SizeTest, SizesAndDigitsReadAsTheUnitTableSays)
{
    const struct {
        double bytes;
        bool exact;
        const char *text;
    } sizes[] = {
        {512, false, "512.0 B"},
        {1536, false, "1.5 KB"},
        {1.5 * 1048576, false, "1.5 MB"},
        {1024, false, "1.0 KB"},
        {1023, true, "1023.0 B"},
        {1.5 * 1048576, true, "1.5 MB (1 572 864 B)"},
        {3.0 * 1073741824, false, "3.0 GB"},
    };
    for (const auto &s : sizes)
        EXPECT_EQ(FormatSize(s.bytes, s.exact), s.text) << s.bytes;
    EXPECT_EQ(GroupDigits("1234567", 3, " "), "1 234 567");
    EXPECT_EQ(GroupDigits("123456", 3, " "), "123 456");
    EXPECT_EQ(GroupDigits("123", 3, " "), "123");
}

TEST(SizeTest, WindowMeasuresTheListInTheChosenFormat)
{
    TempFolder dir;
    QStringList paths;
    for (const char *name : {"a.png", "b.png", "c.png"})
        paths << Picture(dir, name);
    CPixortaDlg dlg(paths);
    MessageRecorder rec;
    auto *format = dlg.findChild<QComboBox *>("formatBox");
    for (const char *chosen : {"Don't change", "TIF"}) {
        format->setCurrentText(chosen);
        dlg.findChild<QAction *>("sizeTestAction")->trigger();
    }
    const double png = SavedSize(dir, paths[0], "png");
    const double tif = SavedSize(dir, paths[0], "tif");
    const auto message = [](const QString &heading, double each) {
        return "Considering the \"resize\" tab and output format: " + heading +
               "\r\n\r\nOne file will take approximately " + FormatSize(each, false) +
               "\r\nAll the files will take approximately " + FormatSize(3 * each, false) +
               "\r\n\r\nCalculations based on first 3 file(s)";
    };
    EXPECT_EQ(rec.Texts(), QStringList({message("", png), message("(tif) ", tif)}));
    EXPECT_EQ(rec.Messages()[0].caption, ApplicationTitle());
    EXPECT_TRUE(QDir(GetBackupFolder()).isEmpty()) << "every sample is deleted";

    // Nothing selected with "Process selected images only".
    dlg.findChild<QCheckBox *>("selectedOnly")->setChecked(true);
    dlg.SizeTest();
    EXPECT_EQ(rec.Texts().last(), "No files on the list");
    RemoveBackupFolder();
    ResetBackupFolderForTests();
}

// The samples are written at the quality the batch would use.
TEST(SizeTest, TheWindowsQualityIsTheOneMeasured)
{
    TempFolder dir;
    const QStringList paths{Picture(dir, "a.png", 200, 150)};
    CPixortaDlg dlg(paths);
    MessageRecorder rec;
    dlg.findChild<QComboBox *>("formatBox")->setCurrentText("JPG");
    auto *quality = dlg.findChild<QSpinBox *>("qualityEdit");
    ASSERT_TRUE(quality);
    for (int q : {0, 10}) {
        quality->setValue(q);
        dlg.findChild<QAction *>("sizeTestAction")->trigger();
    }
    PxImage image;
    ASSERT_TRUE(LoadImageFile(image, paths[0]));
    image.SetJpegQuality(10);
    ASSERT_TRUE(SaveImageFile(image, dir.File("ten.jpg")));
    const double ten = double(QFileInfo(dir.File("ten.jpg")).size());
    ASSERT_EQ(rec.Texts().size(), 2);
    EXPECT_NE(rec.Texts()[0], rec.Texts()[1]);
    EXPECT_TRUE(rec.Texts()[1].contains("One file will take approximately " + FormatSize(ten, false)))
        << rec.Texts()[1].toStdString();
    RemoveBackupFolder();
    ResetBackupFolderForTests();
}

TEST(SizeTest, SamplesThatCannotBeMeasuredDoNotCount)
{
    TempFolder dir, samples;
    const QString png = Picture(dir, "a.png");
    const QString cur = Cursor(dir, "pointer");
    PxImage loaded;
    ASSERT_TRUE(LoadImageFile(loaded, cur)) << "the cursor itself is readable";

    // The cursor cannot be written back as a cursor: no absurd size, no file left behind.
    SizeEstimate mixed = MeasureOutputSizes({cur, png}, nullptr, "", samples.Path());
    EXPECT_EQ(mixed.sampled, 1);
    EXPECT_EQ(mixed.listed, 2);
    EXPECT_EQ(mixed.totalSampledBytes, static_cast<quint64>(SavedSize(dir, png, "png")));
    EXPECT_TRUE(QDir(samples.Path()).isEmpty());
    EXPECT_TRUE(SizeTestMessage(mixed, "").endsWith("first 1 file(s)"));

    const SizeEstimate none = MeasureOutputSizes({cur, dir.File("missing.png")}, nullptr, "",
                                                 samples.Path());
    EXPECT_EQ(none.sampled, 0);
    EXPECT_EQ(SizeTestMessage(none, ""), "None of the images could be loaded and saved in the "
                                         "chosen format, so their size cannot be estimated.");

    // A spent budget still measures one file and projects it onto all of them.
    const SizeEstimate quick = MeasureOutputSizes({png, png, png, png}, nullptr, "bmp",
                                                  samples.Path(), -1);
    EXPECT_EQ(quick.sampled, 1);
    const QString text = SizeTestMessage(quick, "bmp");
    const double bmp = SavedSize(dir, png, "bmp");
    EXPECT_TRUE(text.contains("All the files will take approximately " + FormatSize(4 * bmp, false)))
        << text.toStdString();
}

// Each variant is measured with its own resize and format; the whole is their sum.
TEST(SizeTest, EveryVariantIsMeasuredWithItsOwnSettings)
{
    TempFolder dir, samples;
    const QStringList paths = {Picture(dir, "a.png", 60, 40), Picture(dir, "b.png", 40, 60)};
    Job job;
    job.format = "png";
    QString why;
    job.variants = {*ParseVariant("width=30", "half", &why),
                    *ParseVariant("width=10,format=bmp", "small", &why)};
    const QList<VariantSizeEstimate> estimates = MeasureVariantSizes(job, paths, samples.Path());
    ASSERT_EQ(estimates.size(), 2);
    EXPECT_EQ(estimates[0].label, "half");
    EXPECT_EQ(estimates[1].extension, "bmp");

    // What each variant writes, measured by hand.
    quint64 expected[2] = {};
    for (int v = 0; v < 2; ++v) {
        const std::optional<Job> made = VariantJob(job, job.variants[v], &why);
        ASSERT_TRUE(made);
        for (const QString &path : paths) {
            PxImage image;
            ASSERT_TRUE(LoadImageFile(image, path));
            bool modified = false;
            ASSERT_TRUE(made->Record(TaskResize)->Apply(image, modified, path));
            const QString out = dir.File(QStringLiteral("v%1.").arg(v) + made->format);
            ASSERT_TRUE(SaveImageFile(image, out));
            expected[v] += quint64(QueryFileSize(out, true));
        }
        EXPECT_EQ(estimates[v].estimate.sampled, 2);
        EXPECT_EQ(estimates[v].estimate.totalSampledBytes, expected[v]) << v;
    }
    const QString text = VariantSizeTestMessage(estimates);
    EXPECT_TRUE(text.contains("Variant small (bmp): one file will take approximately " +
                              FormatSize(expected[1] / 2.0, false)))
        << text.toStdString();
    EXPECT_TRUE(text.contains("All the files will take approximately " +
                              FormatSize(double(expected[0] + expected[1]), false)));
}

// The window measures an opened job's variants, each as it is made.
TEST(SizeTest, TheWindowMeasuresAnOpenedJobsVariants)
{
    TempFolder dir;
    const QStringList paths = {Picture(dir, "a.png", 60, 40), Picture(dir, "b.png", 40, 60)};
    WriteFile(dir.File("web.ini"), "[Job]\nformat=png\n[Variant large]\nwidth=30\n"
                                   "name=%name%_large\n[Variant thumb]\nwidth=8\nformat=bmp\n"
                                   "name=%name%_thumb\n");
    CPixortaDlg dlg(paths);
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("web.ini")}; });
    dlg.findChild<QAction *>("openJobAction")->trigger();
    SetOpenFilesHandler(nullptr);
    MessageRecorder rec;
    dlg.findChild<QAction *>("sizeTestAction")->trigger();
    ASSERT_EQ(rec.Texts().size(), 1);
    QString why;
    Job job;
    ASSERT_TRUE(ReadJobFile(dir.File("web.ini"), &job, &why)) << why.toStdString();
    EXPECT_EQ(rec.Texts()[0], VariantSizeTestMessage(MeasureVariantSizes(job, paths, GetBackupFolder())));
    EXPECT_TRUE(rec.Texts()[0].contains("Variant thumb (bmp): one file")) << rec.Texts()[0].toStdString();
    RemoveBackupFolder();
    ResetBackupFolderForTests();
}

} // namespace
