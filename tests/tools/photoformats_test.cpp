// The output settings of today's photo formats end to end through pixorta-batch: quality,
// lossless, dates and what a job file keeps of them.
#include "batch/jobfile.h"
#include "tooltests.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <sys/stat.h>
#include <utime.h>

namespace {

qint64 SizeOfFile(const QString &path)
{
    return QFileInfo(path).size();
}

void SetTime(const QString &path, time_t when)
{
    const struct utimbuf times{when, when};
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &times), 0);
}

time_t TimeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mtime : 0;
}

// A picture with detail in it, so that the quality shows in the size.
void MakeDetailedImage(const QString &path, int width, int height)
{
    PxImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x) {
            seed = seed * 1103515245u + 12345u;
            image.GetBits(y)[x] = static_cast<uint8_t>((x * 2 + y) ^ (seed >> 24 & 31));
        }
    ASSERT_TRUE(SaveImageFile(image, path));
}

TEST(PhotoFormats, QualitySetsTheJpegSizeAndIsRefusedOutsideItsRange)
{
    TempFolder dir;
    MakeDetailedImage(dir.File("a.png"), 160, 120);
    const Outcome plain = PixortaBatch({"--format", "jpg", "--output-folder", dir.File("plain"),
                                        dir.File("a.png")});
    ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
    const Outcome low = PixortaBatch({"--format", "jpg", "--quality", "20", "--output-folder",
                                      dir.File("low"), dir.File("a.png")});
    ASSERT_EQ(low.status, 0) << low.err.toStdString();
    const Outcome ninety = PixortaBatch({"--format", "jpg", "--quality", "90", "--output-folder",
                                         dir.File("ninety"), dir.File("a.png")});
    ASSERT_EQ(ninety.status, 0) << ninety.err.toStdString();
    EXPECT_LT(SizeOfFile(dir.File("low/a.jpg")), SizeOfFile(dir.File("plain/a.jpg")) * 2 / 3);
    // The default is the designed 90, byte for byte.
    EXPECT_EQ(FileBytes(dir.File("ninety/a.jpg")), FileBytes(dir.File("plain/a.jpg")));

    // The command line and a job file refuse the same values in the same words.
    for (const char *bad : {"101", "-1", "high"}) {
        SCOPED_TRACE(bad);
        const Outcome cli = PixortaBatch({"--quality", bad, "--output-folder", dir.File("x"),
                                          dir.File("a.png")});
        EXPECT_EQ(cli.status, 2);
        EXPECT_TRUE(cli.err.contains("--quality needs a whole number from 0 to 100")) << cli.err.toStdString();
        WriteFile(dir.File("bad.ini"), QByteArray("[Job]\nversion=1\nquality=") + bad + "\n");
        const Outcome job = PixortaBatch({"--job", dir.File("bad.ini"), "--output-folder",
                                          dir.File("x"), dir.File("a.png")});
        EXPECT_EQ(job.status, 2);
        EXPECT_TRUE(job.err.contains("quality needs a whole number from 0 to 100")) << job.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.File("x")));
}

TEST(PhotoFormats, KeepDatesGivesEveryResultItsSourcesTime)
{
    TempFolder dir;
    MakeImage(dir.File("a.png"), 20, 10);
    MakeImage(dir.File("b.png"), 20, 10);
    SetTime(dir.File("a.png"), 1000000000);
    SetTime(dir.File("b.png"), 1200000000);
    const Outcome kept = PixortaBatch({"--format", "jpg", "--keep-dates", "--output-folder",
                                       dir.File("out"), dir.File("a.png"), dir.File("b.png")});
    ASSERT_EQ(kept.status, 0) << kept.err.toStdString();
    EXPECT_EQ(TimeOf(dir.File("out/a.jpg")), 1000000000);
    EXPECT_EQ(TimeOf(dir.File("out/b.jpg")), 1200000000);

    // In place the source is the file replaced: its time from before the batch stays.
    const Outcome inPlace = PixortaBatch({"--light", "120", "--keep-dates", "--in-place",
                                          dir.File("a.png")});
    ASSERT_EQ(inPlace.status, 0) << inPlace.err.toStdString();
    EXPECT_EQ(TimeOf(dir.File("a.png")), 1000000000);

    const Outcome fresh = PixortaBatch({"--format", "jpg", "--output-folder", dir.File("fresh"),
                                        dir.File("b.png")});
    ASSERT_EQ(fresh.status, 0);
    EXPECT_GT(TimeOf(dir.File("fresh/b.jpg")), 1200000000);
}

TEST(PhotoFormats, AJobFileKeepsTheNewOptionsOnlyWhenTheyAreSet)
{
    TempFolder dir;
    const Outcome saved = PixortaBatch({"--format", "webp", "--quality", "80", "--lossless",
                                        "--keep-metadata", "--strip-location", "--keep-dates",
                                        "--output-folder", dir.File("out"), "--save-job",
                                        dir.File("all.ini")});
    ASSERT_EQ(saved.status, 0) << saved.err.toStdString();
    const QString text = QString::fromUtf8(FileBytes(dir.File("all.ini")));
    for (const char *line : {"format=webp", "quality=80", "lossless=yes", "keep-metadata=yes",
                             "strip-location=yes", "keep-dates=yes"})
        EXPECT_TRUE(text.contains(line)) << line;
    Job job;
    QString why;
    ASSERT_TRUE(ReadJobFile(dir.File("all.ini"), &job, &why)) << why.toStdString();
    EXPECT_EQ(job.quality, 80);
    EXPECT_TRUE(job.lossless && job.keepMetadata && job.stripLocation && job.keepDates);

    // A job that leaves them off reads and writes as jobs did before they existed.
    const Outcome plain = PixortaBatch({"--format", "jpg", "--output-folder", dir.File("out"),
                                        "--save-job", dir.File("plain.ini")});
    ASSERT_EQ(plain.status, 0);
    const QString plainText = QString::fromUtf8(FileBytes(dir.File("plain.ini")));
    // The [Job] section alone: the movie has a quality of its own.
    const QString head = plainText.left(plainText.indexOf(u'[', 1));
    ASSERT_TRUE(head.startsWith("[Job]")) << head.toStdString();
    for (const char *key : {"quality=", "lossless=", "strip-location=", "keep-dates="})
        EXPECT_FALSE(head.contains(key)) << key;
}

// What an independent reader finds in a file: Pillow's view of its EXIF, one "key=value" per
// line (make, model, date and the GPS latitude reference).
QString ExifByPillow(const QString &path)
{
    QProcess p;
    p.start("/usr/bin/python3", {"-c",
                                 "import sys\n"
                                 "from PIL import Image\n"
                                 "e = Image.open(sys.argv[1]).getexif()\n"
                                 "g = e.get_ifd(0x8825)\n"
                                 "print('make=%s' % e.get(0x010f))\n"
                                 "print('model=%s' % e.get(0x0110))\n"
                                 "print('date=%s' % e.get(0x0132))\n"
                                 "print('gps=%s' % g.get(1))\n",
                                 path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return "failed: " + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool RunProgram(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A camera's JPEG with a date, a camera and a position, written by Pillow.
void MakeCameraJpeg(const QString &path)
{
    ASSERT_TRUE(RunProgram("/usr/bin/python3",
                    {"-c",
                     "import sys\n"
                     "from PIL import Image\n"
                     "im = Image.new('RGB', (96, 64), (120, 60, 30))\n"
                     "for x in range(48):\n"
                     "    for y in range(64): im.putpixel((x, y), (10, 200, 10))\n"
                     "ex = Image.Exif()\n"
                     "ex[0x010f] = 'Pixorta Test Cam'\n"
                     "ex[0x0110] = 'PX-1'\n"
                     "ex[0x0132] = '2024:05:06 07:08:09'\n"
                     "ex[0x8825] = {1: 'N', 2: (45.0, 30.0, 0.0), 3: 'E', 4: (9.0, 11.0, 0.0)}\n"
                     "im.save(sys.argv[1], exif=ex.tobytes(), quality=92)\n",
                     path}));
}

const QString kCamera = "make=Pixorta Test Cam\nmodel=PX-1\ndate=2024:05:06 07:08:09\n";

// The commonest job of all: a phone's HEIC pictures into JPEGs to send, with and without
// where they were taken.
TEST(PhotoFormats, HeicBecomesJpegWithItsDateAndCamera)
{
    TempFolder dir;
    MakeCameraJpeg(dir.File("camera.jpg"));
    // The phone's file comes from the format's own encoder.
    ASSERT_TRUE(RunProgram("heif-enc", {dir.File("camera.jpg"), "-o", dir.File("phone.heic")}));
    ASSERT_EQ(ExifByPillow(dir.File("camera.jpg")).toStdString(), (kCamera + "gps=N\n").toStdString());

    const Outcome kept = PixortaBatch({"--format", "jpg", "--keep-metadata", "--output-folder",
                                       dir.File("kept"), dir.File("phone.heic")});
    ASSERT_EQ(kept.status, 0) << kept.err.toStdString();
    EXPECT_EQ(ExifByPillow(dir.File("kept/phone.jpg")).toStdString(), (kCamera + "gps=N\n").toStdString());
    EXPECT_EQ(SizeOf(dir.File("kept/phone.jpg")), QSize(96, 64));

    const Outcome stripped = PixortaBatch({"--format", "jpg", "--keep-metadata",
                                           "--strip-location", "--output-folder",
                                           dir.File("stripped"), dir.File("phone.heic")});
    ASSERT_EQ(stripped.status, 0) << stripped.err.toStdString();
    EXPECT_EQ(ExifByPillow(dir.File("stripped/phone.jpg")).toStdString(), (kCamera + "gps=None\n").toStdString());
}

// The web's formats carry the same EXIF, as their own tools read it back.
TEST(PhotoFormats, JpegBecomesWebpAndAvifWithItsDateAndCamera)
{
    TempFolder dir;
    MakeCameraJpeg(dir.File("camera.jpg"));
    for (const char *format : {"webp", "avif"}) {
        SCOPED_TRACE(format);
        const QString out = dir.File(format);
        const Outcome r = PixortaBatch({"--format", format, "--keep-metadata", "--strip-location",
                                        "--output-folder", out, dir.File("camera.jpg")});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QString written = out + "/camera." + format;
        QString readable = written;
        if (QString(format) == "avif") {
            // Pillow reads no AVIF: libheif's own converter hands the EXIF on into a JPEG.
            readable = out + "/back.jpg";
            ASSERT_TRUE(RunProgram("heif-convert", {written, readable}));
        }
        EXPECT_EQ(ExifByPillow(readable).toStdString(), (kCamera + "gps=None\n").toStdString());
        EXPECT_EQ(SizeOf(written), QSize(96, 64));
    }
}

} // namespace
