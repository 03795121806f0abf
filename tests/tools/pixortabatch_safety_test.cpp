// pixorta-batch with the user's only copies: the plan before, the undo after the process has
// ended, saved jobs, and photos that stay upright and keep their date and camera.
#include "undo/journal.h"
#include "undo/windowstore.h"
#include "tooltests.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace {

QByteArray Bytes(const QString &path) { return FileBytes(path, "<missing>"); }

// Every file and folder under root by its relative path, with the bytes of the files.
std::map<QString, QByteArray> Tree(const QString &root)
{
    std::map<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree[QDir(root).relativeFilePath(path)] = QFileInfo(path).isDir() ? "<dir>" : Bytes(path);
    }
    return tree;
}

QString JournalRoot()
{
    return ToolEnvironment().value("XDG_STATE_HOME") + "/pixorta/journal";
}

// A JPEG whose stored picture is landscape with a red top-left block, and an EXIF block saying
// the camera was turned (orientation 6: the stored first row belongs at the right).
void MakeCameraPhoto(const QString &path, const TestExif &exif)
{
    PxImage image;
    ASSERT_TRUE(image.Create(60, 40, 24));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) {
            const bool topLeft = x < 20 && y >= 26; // rows count from the bottom
            image.SetPixelColor(x, y, topLeft ? PxRGBQuad{0, 0, 255, 0} : PxRGBQuad{200, 200, 200, 0});
        }
    ASSERT_TRUE(SaveImageFile(image, path));
    const std::vector<uint8_t> plain = ReadFileBytes(path.toStdString());
    WriteFileBytes(path.toStdString(), InsertJpegSegment(plain, 0xE1, MakeExifBlock(exif)));
}

TEST(PixortaBatchSafety, DryRunSaysWhatWouldHappenAndWritesNothing)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in/a");
    QDir(dir.Path()).mkpath("in/b");
    QDir(dir.Path()).mkpath("out");
    MakeImage(dir.File("in/a/x.bmp"), 30, 20);
    MakeImage(dir.File("in/b/x.bmp"), 20, 30);
    MakeImage(dir.File("in/c.bmp"), 12, 10);
    MakeImage(dir.File("out/c.png"), 5, 5);
    QFile junk(dir.File("in/junk.png"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
    junk.close();
    const auto before = Tree(dir.Path());

    const Outcome r = PixortaBatch({"--dry-run", "--format", "png", "--output-folder",
                                    dir.File("out"), dir.File("in")});
    EXPECT_EQ(r.status, 1) << "an unreadable file is a failure to come";
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    EXPECT_EQ(lines[0], "new: " + dir.File("out/x.png") + " (from " + dir.File("in/a/x.bmp") +
                            ", bmp 30 x 20)");
    EXPECT_EQ(lines[1], "collides with " + dir.File("in/a/x.bmp") + ": " + dir.File("out/x.png") +
                            " (from " + dir.File("in/b/x.bmp") + ", bmp 20 x 30)");
    EXPECT_EQ(lines[2], "overwrites: " + dir.File("out/c.png") + " (from " + dir.File("in/c.bmp") +
                            ", bmp 12 x 10)");
    EXPECT_TRUE(lines[3].startsWith("unreadable: " + dir.File("in/junk.png") + " (")) << lines[3].toStdString();
    EXPECT_EQ(lines[4], "Plan for 4 images: 1 new, 1 overwrites, 1 collides with another, "
                        "1 unreadable. Nothing was written.");
    EXPECT_TRUE(Tree(dir.Path()) == before) << "the folder is byte-identical";

    // Unchanged: nothing would write an in-place image at 100 %; no folder is made.
    const Outcome same = PixortaBatch({"--dry-run", "--in-place", dir.File("in/c.bmp")});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "unchanged: " + dir.File("in/c.bmp") + " (bmp 12 x 10)\n"
                        "Plan for 1 image: 1 unchanged. Nothing was written.\n");
    const Outcome fresh = PixortaBatch({"--dry-run", "--output-folder", dir.File("new"), dir.File("in/c.bmp")});
    EXPECT_TRUE(fresh.out.startsWith("new: ")) << fresh.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.File("new")));
    EXPECT_FALSE(QFileInfo::exists(JournalRoot())) << "a plan keeps no journal";
}

// Two in-place batches, each undone by a process of its own, byte for byte and with the
// files' times; then there is nothing left to undo.
TEST(PixortaBatchSafety, UndoSurvivesTheProcessBatchAfterBatch)
{
    TempFolder dir;
    const QStringList names = {"a.bmp", "b.png", "c.jpg"};
    std::map<QString, QByteArray> original, afterFirst;
    for (const QString &name : names) {
        MakeImage(dir.File(name), 40, 30);
        ASSERT_EQ(::chmod(dir.File(name).toUtf8().constData(), 0640), 0);
        original[name] = Bytes(dir.File(name));
    }
    const QDateTime originalTime = QFileInfo(dir.File("a.bmp")).lastModified();

    Outcome r = PixortaBatch({"--resize", "50", "--in-place", dir.Path()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("3 overwritten files are kept in the undo journal")) << r.err.toStdString();
    for (const QString &name : names)
        afterFirst[name] = Bytes(dir.File(name));
    r = PixortaBatch({"--grayscale", "--in-place", dir.File("a.bmp"), dir.File("c.jpg")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_NE(Bytes(dir.File("a.bmp")), afterFirst["a.bmp"]);

    struct stat st {};
    ASSERT_EQ(::stat(JournalRoot().toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "only the user may look into the journal";
    const Outcome list = PixortaBatch({"--undo-list"});
    EXPECT_EQ(list.status, 0);
    ASSERT_EQ(list.out.count('\n'), 2) << list.out.toStdString();
    EXPECT_TRUE(list.out.startsWith("1  ")) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("2 files") && list.out.contains("--grayscale --in-place"));
    EXPECT_TRUE(list.out.contains("3 files") && list.out.contains("--resize 50 --in-place"));

    r = PixortaBatch({"--undo"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("2 files put back")) << r.out.toStdString();
    for (const QString &name : names)
        EXPECT_EQ(Bytes(dir.File(name)), afterFirst[name]) << name.toStdString();

    r = PixortaBatch({"--undo"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    for (const QString &name : names) {
        EXPECT_EQ(Bytes(dir.File(name)), original[name]) << name.toStdString();
        ASSERT_EQ(::stat(dir.File(name).toUtf8().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u) << name.toStdString();
    }
    EXPECT_EQ(QFileInfo(dir.File("a.bmp")).lastModified(), originalTime);

    r = PixortaBatch({"--undo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "There is nothing to undo (i.e. no file was overwritten)\n");
    EXPECT_EQ(QDir(JournalRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
}

// Two command-line batches and a window's batch at the same moment keep one journal: each is a
// batch of its own there, --undo-list shows all three, and undoing them ends where they began.
TEST(PixortaBatchSafety, TwoBatchesAndAWindowsBatchAtOnceKeepOneJournal)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("a");
    QDir(dir.Path()).mkpath("b");
    QDir(dir.Path()).mkpath("w");
    for (const char *name : {"a/1.png", "a/2.png", "a/3.png", "b/1.png", "b/2.png", "w/1.png"})
        MakeImage(dir.File(name), 40, 30);
    const std::map<QString, QByteArray> before = Tree(dir.Path());

    QList<std::shared_ptr<QProcess>> tools;
    for (const QStringList &args :
         {QStringList{"--resize", "50", "--in-place", dir.File("a")},
          QStringList{"--grayscale", "--output-folder", dir.File("out"), dir.File("b")}}) {
        auto p = std::make_shared<QProcess>();
        p->setProcessEnvironment(ToolEnvironment());
        p->start(QCoreApplication::applicationDirPath() + "/../bin/pixorta-batch", args);
        tools << p;
    }
    // The window's batch, in this process, while the tools run.
    QString refusal;
    const std::unique_ptr<CWindowBackupStore> window =
        CWindowBackupStore::Begin("Processing all images", {}, &refusal, JournalRoot());
    ASSERT_TRUE(window) << refusal.toStdString();
    ASSERT_FALSE(window->Keep(dir.File("w/1.png")).IsEmpty());
    MakeImage(dir.File("w/1.png"), 10, 10);
    window->Replaced(dir.File("w/1.png"));
    MakeImage(dir.File("w/new.png"), 10, 10);
    window->Replaced(dir.File("w/new.png"));
    EXPECT_TRUE(window->End());
    for (const auto &p : tools) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    EXPECT_NE(Tree(dir.Path()), before);

    const Outcome list = PixortaBatch({"--undo-list"});
    EXPECT_EQ(list.out.count('\n'), 3) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("Pixorta: Processing all images")) << list.out.toStdString();
    for (int i = 0; i < 3; ++i) {
        const Outcome r = PixortaBatch({"--undo"});
        EXPECT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    }
    QDir(dir.File("out")).removeRecursively(); // the folder itself is the tool's, not a file
    EXPECT_EQ(Tree(dir.Path()), before);
    EXPECT_EQ(PixortaBatch({"--undo"}).status, 1);
}

// A batch into a folder is undone by removing what it made; a file edited since stays.
TEST(PixortaBatchSafety, UndoRemovesTheFilesABatchMade)
{
    TempFolder dir;
    MakeImage(dir.File("a.png"), 40, 30);
    MakeImage(dir.File("b.png"), 40, 30);
    Outcome r = PixortaBatch({"--format", "bmp", "--output-folder", dir.File("out"),
                              dir.File("a.png"), dir.File("b.png")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("the 2 new files are recorded in the undo journal: pixorta-batch "
                               "--undo removes them"))
        << r.err.toStdString();
    MakeImage(dir.File("out/b.bmp"), 4, 4);
    r = PixortaBatch({"--undo"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith(": 1 new file removed, 1 changed file left\n")) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(dir.File("out/b.bmp") + " was left as it is: the batch made it, "
                               "and it changed since"))
        << r.err.toStdString();
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files), QStringList({"b.bmp"}));
}

TEST(PixortaBatchSafety, AChangedFileIsOverwrittenOnlyWithYes)
{
    TempFolder dir;
    MakeImage(dir.File("a.png"), 40, 30);
    MakeImage(dir.File("b.png"), 40, 30);
    const QByteArray originalA = Bytes(dir.File("a.png")), originalB = Bytes(dir.File("b.png"));
    ASSERT_EQ(PixortaBatch({"--resize", "50", "--in-place", dir.Path()}).status, 0);
    MakeImage(dir.File("a.png"), 7, 7); // the user edited it since
    const QByteArray edited = Bytes(dir.File("a.png"));

    // Nobody at a terminal to say yes: the edit stays, the rest is put back, and the batch
    // stays in the journal with what was not.
    Outcome r = PixortaBatch({"--undo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.contains("in part: 1 of 2 files put back")) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(dir.File("a.png") + " was left as it is")) << r.err.toStdString();
    EXPECT_EQ(Bytes(dir.File("a.png")), edited);
    EXPECT_EQ(Bytes(dir.File("b.png")), originalB);
    r = PixortaBatch({"--undo-list"});
    EXPECT_TRUE(r.out.contains("1 file ")) << r.out.toStdString();

    r = PixortaBatch({"--undo", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(Bytes(dir.File("a.png")), originalA);
}

// The journal keeps ten batches within its size limit, drops the oldest first and says so; a
// batch that alone would back up more than the limit is not started; --forget empties it.
TEST(PixortaBatchSafety, JournalKeepsTenBatchesWithinItsLimit)
{
    TempFolder dir;
    MakeImage(dir.File("small.bmp"), 10, 10);
    for (int i = 0; i < 11; ++i) {
        const Outcome r = PixortaBatch({"--light", QString::number(101 + i), "--in-place", dir.File("small.bmp")});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(r.err.contains("can no longer be undone"), i == 10) << i;
        if (i == 10) {
            EXPECT_TRUE(r.err.contains("--light 101 --in-place")) << "the oldest goes";
        }
    }
    EXPECT_EQ(PixortaBatch({"--undo-list"}).out.count('\n'), 10);

    // 10 x 10 at 24 bits is a 374-byte BMP, 1000 x 1000 one of 3000054 bytes: a limit 100
    // bytes above that holds the big one alone.
    MakeImage(dir.File("big.bmp"), 1000, 1000);
    const QByteArray big = Bytes(dir.File("big.bmp"));
    Outcome r = PixortaBatch({"--journal-limit", "1M", "--light", "90", "--in-place", dir.File("big.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("more than the undo journal may keep (1.0 MiB)")) << r.err.toStdString();
    EXPECT_EQ(Bytes(dir.File("big.bmp")), big);

    r = PixortaBatch({"--journal-limit", "3000154", "--light", "90", "--in-place", dir.File("big.bmp")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.err.count("can no longer be undone"), 10) << "the small ones do not fit beside it";
    EXPECT_EQ(PixortaBatch({"--undo-list"}).out.count('\n'), 1);

    r = PixortaBatch({"--forget"});
    EXPECT_EQ(r.out, "Forgot 1 batch (2.9 MiB)\n");
    EXPECT_EQ(PixortaBatch({"--undo"}).status, 1);
}

// A slideshow over last week's movie: the movie and the image the batch overwrote are each
// recorded once, and --undo gives the movie back with its bytes and its time.
TEST(PixortaBatchSafety, AReplacedMovieIsUndoneWithItsBatch)
{
    TempFolder dir;
    ASSERT_TRUE(QDir(dir.Path()).mkpath("out"));
    MakeImage(dir.File("a.bmp"), 20, 10);
    MakeImage(dir.File("out/a.bmp"), 8, 8);
    const QByteArray image = Bytes(dir.File("out/a.bmp"));
    const QString movie = dir.File("out/Pixorta slideshow.avi");
    QFile old(movie);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    ASSERT_EQ(old.write("last week's movie"), 17);
    old.close();
    constexpr time_t kLastWeek = 1700000000;
    const struct timespec times[2] = {{kLastWeek, 0}, {kLastWeek, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, movie.toUtf8().constData(), times, 0), 0);

    Outcome r = PixortaBatch({"--slideshow", "--movie-width", "16", "--movie-height", "16",
                              "--pause", "0", "--output-folder", dir.File("out"), dir.File("a.bmp")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("2 overwritten files are kept in the undo journal")) << r.err.toStdString();
    const QList<JournalBatch> batches = CUndoJournal(JournalRoot()).Batches();
    ASSERT_EQ(batches.size(), 1);
    QStringList recorded;
    for (const JournalEntry &e : batches[0].entries)
        recorded << e.path;
    EXPECT_EQ(recorded, QStringList({dir.File("out/a.bmp"), movie}));

    r = PixortaBatch({"--undo"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("2 files put back")) << r.out.toStdString();
    EXPECT_EQ(Bytes(movie), "last week's movie");
    EXPECT_EQ(QFileInfo(movie).lastModified().toSecsSinceEpoch(), kLastWeek);
    EXPECT_EQ(Bytes(dir.File("out/a.bmp")), image);
}

// A job saved from options gives the same bytes as the options themselves; options beside
// --job override it.
TEST(PixortaBatchSafety, SavedJobReproducesItsOptions)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in");
    MakeImage(dir.File("in/a.png"), 120, 80);
    MakeImage(dir.File("in/b.bmp"), 60, 90);
    QFile notes(dir.File("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write((dir.File("in/a.png") + "\tSea & sky\n").toUtf8());
    notes.close();
    const QStringList options = {
        "--resize", "80", "--light", "110", "--red", "150", "--grayscale", "--margins", "4",
        "--frame-color", "#102030", "--no-image-frame", "--text", "%fTitle% \"%Note%\"",
        "--text-halign", "right", "--text-size", "9", "--text-shadow", "--text-font",
        "DejaVu Serif", "--text-italic", "--notes", dir.File("notes.txt"), "--format", "png",
        "--verify"};
    Outcome r = PixortaBatch(options + QStringList{"--output-folder", dir.File("direct"), dir.File("in")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "done :a.png\ndone :b.bmp\nFinished. No errors\n");

    r = PixortaBatch(options + QStringList{"--output-folder", dir.File("saved"), "--save-job", dir.File("job.ini")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Saved the job to " + dir.File("job.ini") + "\n");
    EXPECT_FALSE(QFileInfo::exists(dir.File("saved")));
    r = PixortaBatch({"--job", dir.File("job.ini"), dir.File("in")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    for (const char *name : {"a.png", "b.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Bytes(dir.File("saved/") + name), Bytes(dir.File("direct/") + name));
    }

    r = PixortaBatch({"--job", dir.File("job.ini"), "--width", "30", "--output-folder", dir.File("small"), dir.File("in/b.bmp")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(SizeOf(dir.File("small/b.png")).width(), 30 + 2 * 30 * 4 / 100);

    QFile bad(dir.File("bad.ini"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[Job]\nformat=png\n[Resize]\npercentage=half\n");
    bad.close();
    r = PixortaBatch({"--job", dir.File("bad.ini"), "--in-place", dir.File("in")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("[Resize] percentage needs a whole number")) << r.err.toStdString();
}

TEST(PixortaBatchSafety, AutoOrientStandsAPortraitUpright)
{
    TempFolder dir;
    TestExif exif;
    exif.orientation = 6;
    ASSERT_NO_FATAL_FAILURE(MakeCameraPhoto(dir.File("portrait.jpg"), exif));

    Outcome r = PixortaBatch({"--format", "png", "--output-folder", dir.File("stored"), dir.File("portrait.jpg")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(SizeOf(dir.File("stored/portrait.png")), QSize(60, 40)) << "taken as stored";

    r = PixortaBatch({"--auto-orient", "--format", "png", "--output-folder", dir.File("upright"), dir.File("portrait.jpg")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    PxImage upright;
    ASSERT_TRUE(LoadImageFile(upright, dir.File("upright/portrait.png")));
    ASSERT_EQ(upright.GetWidth(), 40u);
    ASSERT_EQ(upright.GetHeight(), 60u);
    // The stored top-left block is now at the top right; the top left is grey.
    EXPECT_GT(upright.GetPixelColor(35, 55).red, 240);
    EXPECT_LT(upright.GetPixelColor(35, 55).green, 40);
    EXPECT_LT(upright.GetPixelColor(4, 55).red, 220);
}

// Pillow, an independent reader, finds the date and the camera in a resized photo, the
// orientation set to 1 once the picture was turned, and no thumbnail.
TEST(PixortaBatchSafety, KeptMetadataCarriesDateAndCamera)
{
    TempFolder dir;
    TestExif exif;
    exif.orientation = 6;
    exif.make = "Pixorta Optics";
    exif.model = "PX-9000";
    exif.date = "2023:11:24 18:30:05";
    ASSERT_NO_FATAL_FAILURE(MakeCameraPhoto(dir.File("photo.jpg"), exif));

    Outcome r = PixortaBatch({"--keep-metadata", "--auto-orient", "--width", "20",
                              "--output-folder", dir.File("out"), dir.File("photo.jpg")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c",
                  "import sys\n"
                  "from PIL import Image\n"
                  "im = Image.open(sys.argv[1]); e = im.getexif()\n"
                  "print(e.get_ifd(0x8769)[0x9003], e[0x10F], e[0x110], e[0x112], im.size,\n"
                  "      e.get_ifd(-1) == {})\n",
                  dir.File("out/photo.jpg")});
    ASSERT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(QString::fromUtf8(python.readAllStandardOutput()),
              "2023:11:24 18:30:05 Pixorta Optics PX-9000 1 (20, 30) True\n")
        << python.readAllStandardError().toStdString();

    // Without the option nothing travels.
    r = PixortaBatch({"--width", "20", "--output-folder", dir.File("bare"), dir.File("photo.jpg")});
    ASSERT_EQ(r.status, 0);
    EXPECT_FALSE(Bytes(dir.File("bare/photo.jpg")).contains("Exif"));
}

// A 44-byte header over size bytes of samples, with the format fields as given.
QByteArray WaveBytes(int channels, qint64 rate, int blockAlign, int bits, int size)
{
    QByteArray h(44, '\0');
    const auto put = [&h](int at, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            h[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    h.replace(0, 4, "RIFF");
    put(4, static_cast<quint32>(36 + size), 4);
    h.replace(8, 8, "WAVEfmt ");
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, static_cast<quint32>(channels), 2);
    put(24, static_cast<quint32>(rate), 4);
    put(28, static_cast<quint32>(rate * blockAlign), 4);
    put(32, static_cast<quint32>(blockAlign), 2);
    put(34, static_cast<quint32>(bits), 2);
    h.replace(36, 4, "data");
    put(40, static_cast<quint32>(size), 4);
    return h + QByteArray(size, '\x11');
}

// Every voice track, from --voice or from a job's voice=, is checked before anything is written,
// by the movie writer's own rules: one the movie could not carry is a usage error in the same
// words either way, never a silent movie reported as a success.
TEST(PixortaBatchSafety, EveryVoiceTrackIsCheckedBeforeAnythingIsWritten)
{
    TempFolder dir, state;
    // A journal of its own, so "nothing written" is this test's alone to see.
    QProcessEnvironment env = ToolEnvironment();
    env.insert("XDG_STATE_HOME", state.Path());
    const auto batch = [&env](const QStringList &args) { return RunTool("pixorta-batch", args, env); };
    const QString journal = state.File("pixorta/journal");
    MakeImage(dir.File("a.bmp"), 20, 10);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.File("fifo.wav")).constData(), 0600), 0);
    const struct {
        const char *file;
        QByteArray bytes;
        const char *problem;
    } rows[] = {
        {"12bit.wav", WaveBytes(1, 11025, 2, 12, 2000),
         "12-bit samples cannot go into the movie (8, 16, 24 or 32 can)"},
        {"0bit.wav", WaveBytes(1, 11025, 2, 0, 2000),
         "0-bit samples cannot go into the movie (8, 16, 24 or 32 can)"},
        {"align.wav", WaveBytes(2, 11025, 2, 16, 2000),
         "a block align of 2 does not match 2 channels of 16-bit samples"},
        {"channels.wav", WaveBytes(65535, 11025, 2, 16, 2000),
         "65535 channels cannot go into the movie (1 or 2 can)"},
        {"silent.wav", WaveBytes(1, 11025, 2, 16, 0), "it holds no sound"},
        {"fast.wav", WaveBytes(1, 2147483647, 2, 16, 2000),
         "a rate of 2147483647 Hz cannot go into the movie (8000 to 192000 Hz can)"},
        {"slow.wav", WaveBytes(1, 4000, 2, 16, 2000),
         "a rate of 4000 Hz cannot go into the movie (8000 to 192000 Hz can)"},
        {"fifo.wav", {}, "it is not a regular file"},
        {"passwd", "root:x:0:0:root:/root:/bin/bash\nbin:x:2:2:bin:/bin:/usr/sbin/nologin\n",
         "it is not a WAV file"},
        {"missing.wav", {}, "there is no such file"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        const QString wav = dir.File(row.file);
        if (!row.bytes.isEmpty()) {
            QFile f(wav);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ASSERT_EQ(f.write(row.bytes), row.bytes.size());
        }
        const QString words = "'" + wav + "' is not a PCM WAV file that can be read: " + row.problem;
        Outcome r = batch({"--slideshow", "--voice", wav, "--movie-width", "16",
                                  "--movie-height", "16", "--output-folder", dir.File("out"),
                                  dir.File("a.bmp")});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.startsWith("pixorta-batch: --voice: " + words + "\n")) << r.err.toStdString();

        QFile job(dir.File("job.ini"));
        ASSERT_TRUE(job.open(QIODevice::WriteOnly | QIODevice::Truncate));
        job.write(("[Job]\nversion=1\n[Create slideshow]\ncreate=yes\nwidth=16\nheight=16\nvoice=" +
                   wav + "\n").toUtf8());
        job.close();
        r = batch({"--job", dir.File("job.ini"), "--output-folder", dir.File("out"),
                          dir.File("a.bmp")});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.startsWith("pixorta-batch: voice: " + words + "\n")) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(dir.File("out")));
        EXPECT_TRUE(CUndoJournal(journal).Batches().isEmpty());
    }

    // A job's track that the movie can carry goes into it.
    QFile good(dir.File("good.wav"));
    ASSERT_TRUE(good.open(QIODevice::WriteOnly));
    good.write(WaveBytes(1, 11025, 2, 16, 4000));
    good.close();
    QFile job(dir.File("job.ini"));
    ASSERT_TRUE(job.open(QIODevice::WriteOnly | QIODevice::Truncate));
    job.write(("[Job]\nversion=1\n[Create slideshow]\ncreate=yes\nwidth=16\nheight=16\nvoice=" +
               dir.File("good.wav") + "\n").toUtf8());
    job.close();
    const Outcome r = batch({"--job", dir.File("job.ini"), "--output-folder",
                                    dir.File("out"), dir.File("a.bmp")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(Bytes(dir.File("out/Pixorta slideshow.avi")).contains("auds"));
    EXPECT_EQ(CUndoJournal(journal).Batches().size(), 1) << "the batch that ran is in its journal";
}

} // namespace
