#include "batch/io/imagefile.h"
#include "engine/pximage.h"
#include "tasks/movie/wavefile.h"
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSize>
#include <unistd.h>

namespace {

struct Outcome {
    int status = -1;
    QString out, err;
};

Outcome PixortaBatch(const QStringList &args)
{
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + "/../bin/pixorta-batch", args);
    Outcome r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void MakeImage(const QString &path, int width, int height)
{
    PxImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            image.GetBits(y)[x] = static_cast<uint8_t>(x * 3 + y * 7);
    ASSERT_TRUE(SaveImageFile(image, path));
}

QSize SizeOf(const QString &path)
{
    PxImage image;
    if (!LoadImageFile(image, path))
        return {};
    return QSize(static_cast<int>(image.GetWidth()), static_cast<int>(image.GetHeight()));
}

TEST(PixortaBatch, HelpAndBadOptions)
{
    const Outcome help = PixortaBatch({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *word : {"--format", "--output-folder", "--in-place", "--resize", "--width",
                             "--height", "Exit status"})
        EXPECT_TRUE(help.out.contains(word)) << word;

    const struct {
        QStringList args;
        const char *message;
    } bad[] = {
        {{"--format", "webp", "--in-place", "x.jpg"}, "unknown format"},
        {{"x.jpg"}, "exactly one of"},
        {{"--in-place", "--output-folder", "o", "x.jpg"}, "exactly one of"},
        {{"--in-place"}, "no files"},
        {{"--frobnicate", "--in-place", "x.jpg"}, "unknown option"},
        {{"--resize", "0%", "--in-place", "x.jpg"}, "--resize"},
        {{"--resize", "50", "--width", "10", "--in-place", "x.jpg"}, "cannot be combined"},
        {{"--width", "-3", "--in-place", "x.jpg"}, "--width"},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.args.join(' ').toStdString());
        const Outcome r = PixortaBatch(b.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(b.message)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("Usage: pixorta-batch"));
    }
}

TEST(PixortaBatch, ConvertsAFolderWithItsSubFolders)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in/sub");
    MakeImage(dir.File("in/a.bmp"), 40, 30);
    MakeImage(dir.File("in/sub/b.png"), 20, 10);
    QFile notes(dir.File("in/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();
    // A link back into the folder being scanned is not followed again.
    ASSERT_EQ(::symlink(dir.File("in").toUtf8().constData(), dir.File("in/sub/loop").toUtf8().constData()), 0);

    const Outcome r = PixortaBatch({"--format", "jpg", "--output-folder", dir.File("out"), dir.File("in")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "done :a.bmp\ndone :b.png\nFinished. No errors\n");
    EXPECT_EQ(SizeOf(dir.File("out/a.jpg")), QSize(40, 30));
    EXPECT_EQ(SizeOf(dir.File("out/b.jpg")), QSize(20, 10));
    EXPECT_FALSE(QFile::exists(dir.File("out/notes.jpg")));
}

TEST(PixortaBatch, ResizesByPercentageAndToAWidth)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in");
    MakeImage(dir.File("in/a.bmp"), 101, 51);
    MakeImage(dir.File("in/b.png"), 100, 50);

    Outcome r = PixortaBatch({"--resize", "50%", "--output-folder", dir.File("half"), dir.File("in")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(SizeOf(dir.File("half/a.bmp")), QSize(50, 25));
    EXPECT_EQ(SizeOf(dir.File("half/b.png")), QSize(50, 25));

    r = PixortaBatch({"--width", "300", "--in-place", dir.File("in/b.png")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(SizeOf(dir.File("in/b.png")), QSize(300, 150));
}

TEST(PixortaBatch, ErrorsGiveStatusOne)
{
    TempFolder dir;
    QFile bad(dir.File("bad.jpg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    const Outcome r = PixortaBatch({"--output-folder", dir.File("out"), dir.File("bad.jpg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Loading failed :bad.jpg\nFinished. With 1 errors.\n");
}

} // namespace

TEST(PixortaBatch, SlideshowWithItsOptionsAndAVoice)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in");
    MakeImage(dir.File("in/a.bmp"), 40, 30);
    MakeImage(dir.File("in/b.png"), 20, 10);
    CWaveWriter wav;
    ASSERT_TRUE(wav.Open(dir.File("voice.wav"), 1, 11025, 16));
    ASSERT_TRUE(wav.Write(QByteArray(2000, '\1').constData(), 2000));
    ASSERT_TRUE(wav.Finish());
    const QString movie = dir.File("out/Pixorta slideshow.avi");

    const Outcome help = PixortaBatch({"--help"});
    for (const char *word : {"--slideshow", "--pause", "--appear", "--disappear", "--movie-width",
                             "--movie-height", "--movie-quality", "--voice", "Enter from left"})
        EXPECT_TRUE(help.out.contains(word)) << word;
    const struct {
        QStringList args;
        const char *message;
    } bad[] = {
        {{"--pause", "2"}, "need --slideshow"},
        {{"--slideshow", "--appear", "Darken"}, "--appear needs effect names"},
        {{"--slideshow", "--disappear", "darken,spin"}, "--disappear needs effect names"},
        {{"--slideshow", "--movie-width", "0"}, "from 1 to 16384"},
        {{"--slideshow", "--movie-height", "16385"}, "from 1 to 16384"},
        {{"--slideshow", "--movie-quality", "4"}, "from 5 to 100"},
        {{"--slideshow", "--voice", dir.File("in/a.bmp")}, "not a PCM WAV"},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.args.join(' ').toStdString());
        const Outcome r = PixortaBatch(b.args + QStringList{"--output-folder", dir.File("out"),
                                                            dir.File("in")});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(b.message)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(movie));
    }

    const Outcome r = PixortaBatch({"--slideshow", "--pause", "0", "--appear", "lighten,ZOOM IN",
                                    "--disappear", "Away to left", "--movie-width", "64",
                                    "--movie-height", "48", "--movie-quality", "50", "--voice",
                                    dir.File("voice.wav"), "--output-folder", dir.File("out"),
                                    dir.File("in")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "done :a.bmp\ndone :b.png\nFinished. No errors\n");
    QFile file(movie);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("RIFF"));
    EXPECT_TRUE(bytes.contains("MSVC"));
    EXPECT_TRUE(bytes.contains("auds"));
    EXPECT_TRUE(QFile::exists(dir.File("voice.wav")));
}
