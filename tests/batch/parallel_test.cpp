// A batch on several workers must end exactly as the same batch one image at a time: the same
// bytes in every file, the same rows in the same order, the same outputs and undo record.
#include "batch/batchrunner.h"
#include "undo/backup.h"
#include "imageio/imagefile.h"
#include "engine/pximage.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "testjobs.h"
#include "tests/support/testsupport.h"
#include "imageio/imagefile_testhooks.h"
#include "undo/backup_testhooks.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <filesystem>
#include <functional>
#include <map>
#include <sys/stat.h>

namespace {

void MakePicture(const QString &path, int width, int height, int seed)
{
    PxImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            image.GetBits(y)[x] = static_cast<uint8_t>(seed * 29 + x * 3 + y * 5 + (x * y) % 7);
    ASSERT_TRUE(SaveImageFile(image, path)) << image.GetLastError();
}

QByteArray Bytes(const QString &path) { return FileBytes(path, "<missing>"); }

// Every file under root by its path relative to root, hidden ones included.
std::map<QString, QByteArray> Tree(const QString &root)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(root).relativeFilePath(path)] = Bytes(path);
    }
    return files;
}

struct Outcome {
    QStringList rows, outputs, undone;
    std::map<QString, QByteArray> tree;
    QList<QByteArray> backups;
};

struct Scenario {
    const char *name;
    // Fills the source folder; returns the images to process.
    std::function<QStringList(const QString &root)> make;
    std::function<std::vector<std::unique_ptr<CPixortaTask>>()> tasks;
    QString extension;
    bool intoFolder;
    // Cancel once this row has been committed.
    QString cancelAfterRow;
    bool verify = false;
    bool autoOrient = false;
    // The encoder of this file's result writes only half of it.
    QString truncate;
};

Outcome RunIn(const QString &root, const Scenario &s, int workers)
{
    Outcome o;
    const QStringList images = s.make(root);
    auto tasks = s.tasks();
    QStringList imagePaths;
    for (const QString &i : images)
        imagePaths << root + "/" + i;
    QList<CPixortaTask *> records;
    for (auto &t : tasks)
        records << t.get();
    Job job = TestJob(records, s.extension, s.intoFolder ? root + "/out" : QString(), workers);
    job.verify = s.verify;
    job.autoOrient = s.autoOrient;
    SetEncodedFileHookForTests([&s](const std::filesystem::path &encoded,
                                    const std::filesystem::path &target) {
        if (!s.truncate.isEmpty() && QString::fromStdString(target.filename().string()) == s.truncate)
            std::filesystem::resize_file(encoded, std::filesystem::file_size(encoded) / 2);
    });
    UndoHistory::Instance().Clear();
    CBatchRunner runner(job, imagePaths);
    runner.onRow = [&](const ResultRow &row) {
        if (!s.cancelAfterRow.isEmpty() && ResultRowText(row) == s.cancelAfterRow)
            runner.RequestCancel();
    };
    runner.RunBatch();
    SetEncodedFileHookForTests(nullptr);
    for (const ResultRow &row : runner.Rows())
        o.rows << ResultRowText(row);
    for (const QString &out : runner.Outputs())
        o.outputs << QDir(root).relativeFilePath(out);
    o.tree = Tree(root);
    if (!UndoHistory::Instance().IsEmpty())
        for (const BackupEntry &e : UndoHistory::Instance().Newest().entries) {
            o.undone << QDir(root).relativeFilePath(e.overwrittenPath);
            o.backups << Bytes(e.backupPath);
        }
    return o;
}

std::vector<std::unique_ptr<CPixortaTask>> Resize(int percent)
{
    auto r = std::make_unique<CPixortaSizeTask>();
    r->m_mode = CPixortaSizeTask::ModePercentage;
    r->m_percentage = percent;
    std::vector<std::unique_ptr<CPixortaTask>> tasks;
    tasks.push_back(std::move(r));
    return tasks;
}

QStringList Pictures(const QString &root, int count, const char *ext = "bmp")
{
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("p%1.%2").arg(i, 2, 10, QChar('0')).arg(ext);
        MakePicture(root + "/" + name, 40 + i * 7, 30 + (i * 5) % 23, i);
        names << name;
    }
    return names;
}

// Camera photos of every EXIF orientation, each stored 40 x 24.
QStringList TurnedPhotos(const QString &root)
{
    QStringList names;
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
        const QString name = QStringLiteral("o%1.jpg").arg(orientation);
        MakePicture(root + "/" + name, 40, 24, orientation);
        TestExif exif;
        exif.orientation = orientation;
        const std::string file = (root + "/" + name).toStdString();
        WriteFileBytes(file, InsertJpegSegment(ReadFileBytes(file), 0xE1, MakeExifBlock(exif)));
        names << name;
    }
    return names;
}

class ParallelBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetBackupFolderForTests();
        m_recorder = SetSoundRecorderRunner([](const QString &, int, int) { return QString(); });
    }
    void TearDown() override
    {
        SetSoundRecorderRunner(m_recorder);
        RemoveBackupFolder();
        ResetBackupFolderForTests();
        UndoHistory::Instance().Clear();
    }
    SoundRecorderRunner m_recorder;
    MessageRecorder m_messages;
};

TEST_F(ParallelBatch, EndsExactlyAsOneImageAtATime)
{
    const Scenario scenarios[] = {
        {"every format into a folder", [](const QString &r) { return Pictures(r, 9, "png"); },
         [] { return Resize(100); }, "", true, "", false, false, ""},
        {"resize in place with backups", [](const QString &r) { return Pictures(r, 12); },
         [] { return Resize(50); }, "", false, "", false, false, ""},
        {"two sources to one target",
         [](const QString &r) {
             QDir(r).mkpath("a");
             QDir(r).mkpath("b");
             MakePicture(r + "/a/x.bmp", 30, 20, 1);
             MakePicture(r + "/b/x.bmp", 20, 30, 2);
             MakePicture(r + "/c.bmp", 10, 10, 3);
             return QStringList{"a/x.bmp", "c.bmp", "b/x.bmp"};
         },
         [] { return Resize(70); }, "png", true, "", false, false, ""},
        {"a failing load and a failing save",
         [](const QString &r) {
             QStringList names = Pictures(r, 6);
             QFile broken(r + "/broken.bmp");
             broken.open(QIODevice::WriteOnly);
             broken.write("BM not really");
             names.insert(2, "broken.bmp");
             ::chmod((r + "/p04.bmp").toUtf8().constData(), 0444);
             return names;
         },
         [] { return Resize(80); }, "", false, "", false, false, ""},
        {"a cancel", [](const QString &r) { return Pictures(r, 14); },
         [] { return Resize(60); }, "gif", true, "done :p03.bmp", false, false, ""},
        {"a slideshow of the results",
         [](const QString &r) { return Pictures(r, 5); },
         [] {
             auto tasks = Resize(90);
             auto show = std::make_unique<CPixortaSlideShowTask>();
             show->m_create = 1;
             show->m_width = 64;
             show->m_height = 48;
             show->m_appearEffects = "Lighten,Enter from left";
             show->m_disappearEffects = "Zoom out";
             tasks.push_back(std::move(show));
             return tasks;
         },
         "jpg", true, "", false, false, ""},
        {"a faulty encoder caught by verify", [](const QString &r) { return Pictures(r, 8); },
         [] { return Resize(50); }, "", false, "", true, false, "p03.bmp"},
        {"photos turned upright", TurnedPhotos, [] { return Resize(50); }, "png", true, "",
         false, true, ""},
    };
    const char *extensions[] = {"bmp", "gif", "jpg", "png", "tif"};
    for (const Scenario &base : scenarios) {
        std::vector<Scenario> variants = {base};
        if (QString(base.name).startsWith("every format")) {
            variants.clear();
            for (const char *ext : extensions) {
                Scenario v = base;
                v.extension = ext;
                variants.push_back(v);
            }
        }
        for (const Scenario &s : variants) {
            SCOPED_TRACE(std::string(s.name) + " " + s.extension.toStdString());
            TempFolder one, four;
            const Outcome a = RunIn(one.Path(), s, 1);
            const Outcome b = RunIn(four.Path(), s, 4);
            EXPECT_EQ(a.rows, b.rows);
            EXPECT_EQ(a.outputs, b.outputs);
            EXPECT_EQ(a.undone, b.undone);
            EXPECT_TRUE(a.backups == b.backups);
            EXPECT_EQ(a.tree.size(), b.tree.size());
            for (const auto &[path, bytes] : a.tree) {
                SCOPED_TRACE(path.toStdString());
                ASSERT_TRUE(b.tree.count(path)) << "missing with four workers";
                EXPECT_TRUE(b.tree.at(path) == bytes) << "bytes differ";
                EXPECT_FALSE(QFileInfo(path).fileName().startsWith('.'))
                    << "an encoded file of a dropped image was left behind";
            }
            // The scenarios do what they say.
            const QString name = s.name;
            if (!s.cancelAfterRow.isEmpty()) {
                EXPECT_EQ(a.rows.size(), 5) << "four images and the summary";
                EXPECT_EQ(a.outputs.size(), 4);
            }
            if (name.startsWith("a failing")) {
                EXPECT_TRUE(a.rows.contains("Loading failed :broken.bmp"));
                EXPECT_TRUE(a.rows.contains("   Saving failed :p04.bmp"));
            }
            if (name.startsWith("resize in place")) {
                EXPECT_EQ(a.undone.size(), 12);
            }
            if (name.startsWith("two sources")) {
                // The second no longer replaces the first: it gets a name of its own.
                EXPECT_TRUE(a.undone.isEmpty()) << "no result of the batch replaces another";
                EXPECT_TRUE(a.tree.count("out/x.png") && a.tree.count("out/x00.png"));
                EXPECT_TRUE(a.rows.contains("   Renamed to x00.png :x.bmp"));
            }
            if (name.startsWith("a slideshow")) {
                EXPECT_TRUE(a.tree.count("out/Pixorta slideshow.avi"));
            }
            if (name.startsWith("a faulty encoder")) {
                EXPECT_TRUE(a.rows.contains("   Verify failed :p03.bmp"));
                EXPECT_EQ(a.undone.size(), 7) << "the file it would replace was not touched";
                PxImage original;
                const QByteArray &bytes = a.tree.at("p03.bmp");
                ASSERT_TRUE(original.Decode(reinterpret_cast<const uint8_t *>(bytes.data()),
                                            size_t(bytes.size()), PXFORMAT_BMP));
                EXPECT_EQ(original.GetWidth(), 61u);
            }
            if (name.startsWith("photos turned")) {
                for (int orientation = 1; orientation <= 8; ++orientation) {
                    const QByteArray &bytes = a.tree.at(QStringLiteral("out/o%1.png").arg(orientation));
                    PxImage out;
                    ASSERT_TRUE(out.Decode(reinterpret_cast<const uint8_t *>(bytes.data()),
                                           size_t(bytes.size()), PXFORMAT_PNG));
                    EXPECT_EQ(out.GetWidth(), orientation >= 5 ? 12u : 20u) << orientation;
                }
            }
        }
    }
}

} // namespace
