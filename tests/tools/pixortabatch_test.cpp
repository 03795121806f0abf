#include "batch/batchrunner.h"
#include "imageio/imagefile.h"
#include "engine/pximage.h"
#include "tasks/estaticcolor.h"
#include "tasks/pixortaslideedit.h"
#include "tasks/pixortaspinedit.h"
#include "tasks/taskpanels.h"
#include "tasks/movie/wavefile.h"
#include "tests/support/testsupport.h"
#include "tooltests.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSize>
#include <map>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Backup folders the tool left in a private temporary folder.
QStringList LeftoverBackupFolders(const QString &tmp)
{
    return QDir(tmp).entryList({"pixorta_temp*"}, QDir::Dirs | QDir::NoDotAndDotDot);
}

TEST(PixortaBatch, HelpAndBadOptions)
{
    const Outcome help = PixortaBatch({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *word :
         {"--format", "--output-folder", "--in-place", "--resize", "--width", "--height",
          "--light", "--contrast", "--red", "--green", "--blue", "--grayscale", "--background",
          "--background-color", "--frame-color", "--no-frame", "--image-frame-color",
          "--no-image-frame", "--margins", "--margin-left", "--margin-top", "--margin-right",
          "--margin-bottom", "--text", "--text-halign", "--text-valign", "--text-xmargin",
          "--text-ymargin", "--text-size", "--text-color", "--text-shadow", "--text-shadow-color",
          "--text-background-color", "--no-text-background", "--text-font", "--text-bold",
          "--text-italic", "--notes", "%fTitle%", "%Note%", "Exit status", "--dry-run",
          "--verify", "--auto-orient", "--keep-metadata", "--save-job", "--job", "--undo",
          "--yes", "--undo-list", "--forget", "--journal-limit"})
        EXPECT_TRUE(help.out.contains(word)) << word;

    // The manual page and the README keep up with --help.
    QFile man(QStringLiteral(PIXORTA_MANPAGE));
    ASSERT_TRUE(man.open(QIODevice::ReadOnly));
    const QString manual = QString::fromUtf8(man.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    static const QRegularExpression option(QStringLiteral("--[a-z-]+"));
    for (const QRegularExpressionMatch &m : option.globalMatch(help.out))
        EXPECT_TRUE(manual.contains(m.captured())) << m.captured().toStdString();
    QFile readme(QStringLiteral(PIXORTA_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString readmeText = QString::fromUtf8(readme.readAll());
    for (const char *example :
         {"pixorta-batch --grayscale", "pixorta-batch --margins", "pixorta-batch --text ",
          "pixorta-batch --dry-run", "pixorta-batch --verify", "--auto-orient --keep-metadata",
          "--save-job", "pixorta-batch --job", "pixorta-batch --undo-list",
          "pixorta-batch --undo ", "pixorta-batch --undo --yes", "pixorta-batch --forget",
          "pixorta-batch --journal-limit"})
        EXPECT_TRUE(readmeText.contains(QLatin1String(example))) << example;

    const struct {
        QStringList args;
        const char *message;
    } bad[] = {
        {{"--format", "psd", "--in-place", "x.jpg"}, "unknown format"},
        {{"x.jpg"}, "exactly one of"},
        {{"--in-place", "--output-folder", "o", "x.jpg"}, "exactly one of"},
        {{"--in-place"}, "no files"},
        {{"--frobnicate", "--in-place", "x.jpg"}, "unknown option"},
        {{"--resize", "0%", "--in-place", "x.jpg"}, "--resize"},
        {{"--resize", "50", "--width", "10", "--in-place", "x.jpg"}, "cannot be combined"},
        {{"--width", "-3", "--in-place", "x.jpg"}, "--width"},
        {{"--light", "12x", "--in-place", "x.jpg"}, "--light needs a whole number"},
        {{"--margins", "2147483648", "--in-place", "x.jpg"}, "--margins needs a whole number"},
        {{"--frame-color", "#12345", "--in-place", "x.jpg"}, "--frame-color needs a colour"},
        {{"--text-color", "1,2,256", "--in-place", "x.jpg"}, "--text-color needs a colour"},
        {{"--text-halign", "middle", "--in-place", "x.jpg"}, "left, center or right"},
        {{"--text-valign", "left", "--in-place", "x.jpg"}, "top, center or bottom"},
        {{"--notes", "/nonexistent/notes.txt", "--in-place", "x.jpg"}, "cannot read the notes"},
        {{"--text"}, "--text needs a value"},
        {{"--job", "/nonexistent/job.ini", "x.jpg"}, "job file '/nonexistent/job.ini'"},
        {{"--journal-limit", "lots", "--in-place", "x.jpg"}, "--journal-limit needs a size"},
        {{"--undo", "x.jpg"}, "take no files"},
        {{"--undo", "--forget"}, "choose one of"},
        {{"--yes", "--in-place", "x.jpg"}, "--yes goes with --undo"},
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
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("in/a.bmp"), 40, 30));
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("in/sub/b.png"), 20, 10));
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
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("in/a.bmp"), 101, 51));
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("in/b.png"), 100, 50));

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
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("locked.png"), 8, 8));
    ASSERT_EQ(::chmod(dir.File("locked.png").toUtf8().constData(), 0444), 0);
    const Outcome r = PixortaBatch({"--output-folder", dir.File("out"), dir.File("bad.jpg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Loading failed :bad.jpg\nFinished. With 1 errors.\n");
    EXPECT_TRUE(r.err.contains(dir.File("bad.jpg") + ": Not a JPEG file")) << r.err.toStdString();

    // A write-protected original is left alone, and the tool says why.
    const Outcome locked = PixortaBatch({"--resize", "50", "--in-place", dir.File("locked.png")});
    EXPECT_EQ(locked.status, 1);
    EXPECT_TRUE(locked.err.contains("locked.png: the file is write-protected"))
        << locked.err.toStdString();
}

// A pipe with no writer where a picture, a result or the notes would be: each says so at once
// (a wait on one would last until the runner gives up), and the pipes stay as they were.
TEST(PixortaBatch, APipeFailsWhereItStandsAndBlocksNothing)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in");
    QDir(dir.Path()).mkpath("taken");
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("in/a.bmp"), 8, 6));
    for (const char *pipe : {"in/b.jpg", "notes.txt", "taken/a.png"})
        ASSERT_EQ(::mkfifo(dir.Fs(pipe).c_str(), 0600), 0) << pipe;

    const Outcome run = PixortaBatch({"--output-folder", dir.File("out"), dir.File("in")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "done :a.bmp\nLoading failed :b.jpg\nFinished. With 1 errors.\n");
    EXPECT_TRUE(run.err.contains(dir.File("in/b.jpg") + ": not a regular file")) << run.err.toStdString();
    EXPECT_EQ(SizeOf(dir.File("out/a.bmp")), QSize(8, 6));

    const Outcome plan = PixortaBatch({"--dry-run", "--format", "png", "--output-folder",
                                       dir.File("taken"), dir.File("in")});
    EXPECT_EQ(plan.status, 1);
    EXPECT_EQ(plan.out, "fails: " + dir.File("taken/a.png") + " (not a regular file; from " +
                            dir.File("in/a.bmp") + ")\nunreadable: " + dir.File("in/b.jpg") +
                            " (not a regular file)\nPlan for 2 images: 1 unreadable, 1 fails. "
                            "Nothing was written.\n");

    const Outcome into = PixortaBatch({"--format", "png", "--output-folder", dir.File("taken"),
                                       dir.File("in/a.bmp")});
    EXPECT_EQ(into.status, 1);
    EXPECT_EQ(into.out, "done :a.bmp\n   Saving failed :a.bmp\nFinished. With 1 errors.\n");

    const Outcome notes = PixortaBatch({"--notes", dir.File("notes.txt"), "--text", "%Note%",
                                        "--output-folder", dir.File("out"), dir.File("in/a.bmp")});
    EXPECT_EQ(notes.status, 2);
    EXPECT_TRUE(notes.err.contains("cannot read the notes file '" + dir.File("notes.txt") +
                                   "': not a regular file"))
        << notes.err.toStdString();

    for (const char *pipe : {"in/b.jpg", "notes.txt", "taken/a.png"}) {
        struct stat st {};
        EXPECT_TRUE(::lstat(dir.Fs(pipe).c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << pipe;
    }
    EXPECT_EQ(QDir(dir.File("taken")).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                QDir::NoDotAndDotDot),
              QStringList{"a.png"});
}

// A name written on a system with another character set is a failure with its name, not a
// file silently passed over; the same goes for what a folder of such a name holds.
TEST(PixortaBatch, ANameThatIsNotUtf8IsCountedAndShown)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in");
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("in/a.bmp"), 8, 6));
    std::filesystem::create_directory(dir.Fs("in/d\xe9j\xe0"));
    std::filesystem::copy_file(dir.Fs("in/a.bmp"), dir.Fs("in/caf\xe9.bmp"));
    std::filesystem::copy_file(dir.Fs("in/a.bmp"), dir.Fs("in/d\xe9j\xe0/c.bmp"));
    // Such a folder is known by its real place too: a link back out of it is not followed.
    std::filesystem::create_directory_symlink(dir.Fs("in"), dir.Fs("in/d\xe9j\xe0/loop"));
    const QString shown = QString::fromUtf8("caf\xef\xbf\xbd.bmp"); // with U+FFFD

    const Outcome run = PixortaBatch({"--output-folder", dir.File("out"), dir.File("in")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "done :a.bmp\nLoading failed :" + shown +
                           "\nLoading failed :c.bmp\nFinished. With 2 errors.\n");
    EXPECT_TRUE(run.err.contains(shown + ": the name cannot be read as UTF-8")) << run.err.toStdString();
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files), QStringList{"a.bmp"});

    const Outcome plan = PixortaBatch({"--dry-run", "--output-folder", dir.File("out"), dir.File("in")});
    EXPECT_EQ(plan.status, 1);
    EXPECT_TRUE(plan.out.contains("unreadable: " + dir.File("in/") + shown +
                                  " (the name cannot be read as UTF-8)"))
        << plan.out.toStdString();
    EXPECT_TRUE(plan.out.contains("Plan for 3 images: 1 overwrites, 2 unreadable."))
        << plan.out.toStdString();
}

// The window's words on the tool's standard error; nothing is processed and nothing stays in the
// journal.
TEST(PixortaBatch, AnOutputFolderThatCannotBeMadeIsSaid)
{
    TempFolder dir;
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("a.bmp"), 8, 8));
    const QString folder = dir.File("a.bmp/out"); // below a file
    const Outcome r = PixortaBatch({"--output-folder", folder, dir.File("a.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "pixorta-batch: Could not create folder:" + folder + "\n");
    EXPECT_EQ(PixortaBatch({"--undo-list"}).out,
              "There is nothing to undo (i.e. no file was overwritten)\n");
}

// However the command line ends, the copies of the pictures it overwrote do not pile up in the
// temporary folder.
TEST(PixortaBatch, LeavesNoBackupFolderBehind)
{
    TempFolder dir, tmp;
    QDir(dir.Path()).mkpath("in");
    constexpr int kImages = 60;
    for (int i = 0; i < kImages; ++i)
        ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File(QString("in/%1.bmp").arg(i, 2, 10, QChar('0'))), 400, 300));
    QFile bad(dir.File("in/zz.bmp"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("broken");
    bad.close();
    QProcessEnvironment env = ToolEnvironment();
    env.insert("TMPDIR", tmp.Path());

    // Finished, and with errors (the broken file).
    const Outcome done = RunTool("pixorta-batch", {"--resize", "90", "--in-place", dir.File("in")}, env);
    EXPECT_EQ(done.status, 1);
    EXPECT_TRUE(done.out.endsWith("Finished. With 1 errors.\n")) << done.out.toStdString() << done.err.toStdString();
    EXPECT_EQ(LeftoverBackupFolders(tmp.Path()), QStringList());

    // Stopped by Ctrl+C or SIGTERM after the first image.
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationDirPath() + "/../bin/pixorta-batch",
                {"--resize", "90", "--in-place", dir.File("in")});
        ASSERT_TRUE(p.waitForReadyRead(60000));
        ::kill(static_cast<pid_t>(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        EXPECT_LT(lines.size(), kImages) << "the batch stopped early";
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.back().startsWith("Finished.")) << lines.back().toStdString();
        EXPECT_EQ(LeftoverBackupFolders(tmp.Path()), QStringList());
    }
}

TEST(Pxconvert, FailuresSayWhy)
{
    TempFolder dir;
    ASSERT_NO_FATAL_FAILURE(MakeImage(dir.File("ok.png"), 4, 4));
    QFile junk(dir.File("junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("junk");
    junk.close();
    const struct {
        QStringList args;
        QString reason;
    } cases[] = {
        {{dir.File("missing.png"), dir.File("x.png")},
         dir.File("missing.png") + ": cannot open the file: No such file or directory"},
        {{dir.File("junk.jpg"), dir.File("x.png")}, dir.File("junk.jpg") + ": Not a JPEG file"},
        {{dir.File("ok.png"), dir.File("no/x.png")},
         dir.File("no/x.png") + ": the folder " + dir.File("no") + " does not exist"},
        {{dir.File("ok.png"), dir.File("x.cur")}, dir.File("x.cur") + ": Encode: Unknown format"},
        // Neither waits on a pipe without a writer or reader, nor writes into a device.
        {{dir.File("pipe.png"), dir.File("x.png")}, dir.File("pipe.png") + ": not a regular file"},
        {{dir.File("ok.png"), dir.File("pipe.png")}, dir.File("pipe.png") + ": not a regular file"},
        {{dir.File("ok.png"), "/dev/null"}, "/dev/null: not a regular file"},
    };
    ASSERT_EQ(::mkfifo(dir.Fs("pipe.png").c_str(), 0600), 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome r = RunTool("pxconvert", c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.startsWith("pxconvert: " + c.reason)) << r.err.toStdString();
    }
}

// A metafile's text is drawn by Qt's painter: without a display the tool must still draw it,
// and exactly as the window (this offscreen test process) does.
TEST(Pxconvert, DrawsMetafileTextWithoutADisplay)
{
    std::vector<uint8_t> records;
    auto put16 = [&](int v) {
        records.push_back(static_cast<uint8_t>(v & 0xff));
        records.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
    };
    auto record = [&](int function, const std::vector<int> &words) {
        const int size = 3 + static_cast<int>(words.size());
        put16(size & 0xffff);
        put16(size >> 16);
        put16(function);
        for (int w : words)
            put16(w);
    };
    // A bold 40-unit "DejaVu Sans", black text "Pixorta" at (10, 10).
    std::vector<int> font = {-40, 0, 0, 0, 700, 0, 0, 0, 0};
    const char face[32] = "DejaVu Sans";
    for (int i = 0; i < 32; i += 2)
        font.push_back(static_cast<uint8_t>(face[i]) | (static_cast<uint8_t>(face[i + 1]) << 8));
    record(0x02FB, font);
    record(0x012D, {0});
    record(0x0209, {0, 0});
    record(0x0521, {7, 'P' | ('i' << 8), 'x' | ('o' << 8), 'r' | ('t' << 8), 'a', 10, 10});
    record(0x0000, {});
    std::vector<uint8_t> file;
    auto put16f = [&](int v) {
        file.push_back(static_cast<uint8_t>(v & 0xff));
        file.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
    };
    for (int w : {0xCDD7, 0x9AC6, 0, 0, 0, 200, 60, 96, 0, 0, 0})
        put16f(w);
    const int words = 9 + static_cast<int>(records.size()) / 2;
    for (int w : {1, 9, 0x0300, words & 0xffff, words >> 16, 1, 16, 0, 0})
        put16f(w);
    file.insert(file.end(), records.begin(), records.end());

    TempFolder dir;
    WriteFileBytes(dir.Fs("text.wmf"), file);
    QProcessEnvironment env = ToolEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    const Outcome r = RunTool("pxconvert", {dir.File("text.wmf"), dir.File("text.png")}, env);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    PxImage here, tool;
    ASSERT_TRUE(LoadImageFile(here, dir.File("text.wmf"))) << here.GetLastError();
    ASSERT_TRUE(LoadImageFile(tool, dir.File("text.png"))) << tool.GetLastError();
    ASSERT_EQ(tool.GetWidth(), here.GetWidth());
    ASSERT_EQ(tool.GetHeight(), here.GetHeight());
    here.IncreaseBpp(24);
    tool.IncreaseBpp(24);
    int dark = 0;
    for (uint32_t y = 0; y < here.GetHeight(); ++y) {
        ASSERT_EQ(std::memcmp(here.GetBits(y), tool.GetBits(y), here.GetWidth() * 3), 0) << "row " << y;
        for (uint32_t x = 0; x < here.GetWidth() * 3; ++x)
            dark += here.GetBits(y)[x] < 100;
    }
    EXPECT_GT(dark, 100) << "the text was drawn";
}

template <class T> T *Control(QWidget &panel, const char *name)
{
    T *control = panel.findChild<T *>(QLatin1String(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

// The pixels of every file in a folder, by file name.
std::map<QString, PxImage> Results(const QString &folder)
{
    std::map<QString, PxImage> images;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        PxImage &image = images[name];
        EXPECT_TRUE(LoadImageFile(image, folder + "/" + name)) << name.toStdString();
    }
    return images;
}

bool SamePixels(const PxImage &a, const PxImage &b)
{
    return a.GetWidth() == b.GetWidth() && a.GetHeight() == b.GetHeight() &&
           a.GetBpp() == b.GetBpp() && a.GetSize() == b.GetSize() &&
           std::equal(static_cast<const uint8_t *>(a.GetDIB()) + 40,
                      static_cast<const uint8_t *>(a.GetDIB()) + a.GetSize(),
                      static_cast<const uint8_t *>(b.GetDIB()) + 40);
}

TEST(PixortaBatch, WritesWhatTheWindowsBatchWritesWithTheSameSettings)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("in");
    MakeImage(dir.File("in/a.png"), 240, 160);
    MakeImage(dir.File("in/b.bmp"), 120, 200);
    QFile notesFile(dir.File("notes.txt"));
    ASSERT_TRUE(notesFile.open(QIODevice::WriteOnly));
    notesFile.write(("in/b.bmp\tNote for b\n" + dir.File("in/a.png") + "\tSea & sky\n").toUtf8());
    notesFile.close();

    // The window: its panels set by hand, their records in panel order, the list's notes.
    QWidget mainWindow;
    std::vector<std::unique_ptr<CPixortaProcessorBaseDlg>> panels;
    for (qint32 kind = 1; kind <= 4; ++kind)
        panels.push_back(CreateTaskPanel(kind, &mainWindow));
    Control<CPixortaSpinEdit>(*panels[0], "percentage")->setText("50");
    Control<CPixortaSlideEdit>(*panels[1], "light")->setText("110");
    Control<CPixortaSlideEdit>(*panels[1], "contrast")->setText("130");
    Control<CPixortaSlideEdit>(*panels[1], "red")->setText("250");
    Control<CPixortaSlideEdit>(*panels[1], "blue")->setText("90");
    Control<QCheckBox>(*panels[2], "addBackground")->setChecked(true);
    Control<QCheckBox>(*panels[2], "imageFrameSwitch")->setChecked(false);
    Control<CEStaticColor>(*panels[2], "backgroundColour")->SetColor(QColor(10, 20, 30));
    Control<CPixortaSpinEdit>(*panels[2], "top")->setText("6");
    Control<QPlainTextEdit>(*panels[3], "text")->setPlainText("  %fName%: %Note%\n");
    Control<QComboBox>(*panels[3], "hAlign")->setCurrentText("Left");
    Control<QComboBox>(*panels[3], "vAlign")->setCurrentText("Top");
    Control<CPixortaSpinEdit>(*panels[3], "textSize")->setText("12");
    Control<QCheckBox>(*panels[3], "shadowSwitch")->setChecked(true);
    Control<CEStaticColor>(*panels[3], "textColour")->SetColor(QColor(200, 0, 100));
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setBold(true);
    const FontHandler previous = SetFontHandler([&](const QFont &) { return font; });
    Control<QPushButton>(*panels[3], "changeFont")->click();
    SetFontHandler(previous);

    QList<std::shared_ptr<CPixortaTask>> records;
    for (const auto &panel : panels)
        if (panel->IsTaskEnabled())
            records << std::shared_ptr<CPixortaTask>(panel->CreateTask());
    ASSERT_EQ(records.size(), 4);
    Job job = Job::Of(records);
    job.format = "png";
    job.destination = Job::Destination::Folder;
    job.outputFolder = dir.File("window");
    // One image at a time here, four at once on the command line: the tasks draw alike on
    // worker threads.
    job.workers = 1;
    job.notes = std::make_shared<const NoteLookup>(QList<std::pair<QString, QString>>{
        {dir.File("in/a.png"), "Sea & sky"}, {dir.File("in/b.bmp"), "Note for b"}});
    ASSERT_TRUE(CBatchRunner(job, {dir.File("in/a.png"), dir.File("in/b.bmp")}).RunBatch());

    const QStringList options = {
        "--resize", "50", "--light", "110", "--contrast", "130", "--red", "250", "--blue", "90",
        "--background-color", "#0a141e", "--no-image-frame", "--margin-top", "6%",
        "--text", "  %fName%: %Note%\n", "--text-halign", "left", "--text-valign", "TOP",
        "--text-size", "12", "--text-shadow", "--text-color", "200,0,100",
        "--text-font", "DejaVu Serif", "--text-bold", "--format", "png"};
    QProcess tool;
    tool.setProcessEnvironment(ToolEnvironment());
    tool.setWorkingDirectory(dir.Path());
    tool.start(QCoreApplication::applicationDirPath() + "/../bin/pixorta-batch",
               options + QStringList{"--jobs", "4", "--notes", "notes.txt", "--output-folder", "cli", "in"});
    ASSERT_TRUE(tool.waitForFinished(120000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    const std::map<QString, PxImage> window = Results(dir.File("window"));
    const std::map<QString, PxImage> cli = Results(dir.File("cli"));
    ASSERT_EQ(window.size(), 2u);
    ASSERT_EQ(cli.size(), 2u);
    for (const auto &[name, image] : window) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(cli.count(name));
        EXPECT_TRUE(SamePixels(image, cli.at(name)));
        EXPECT_EQ(image.GetWidth(), name == "a.png" ? 127u : 63u);
    }

    // The notes are part of what was drawn.
    const Outcome withoutNotes = PixortaBatch(options + QStringList{"--output-folder", dir.File("bare"), dir.File("in/a.png")});
    ASSERT_EQ(withoutNotes.status, 0) << withoutNotes.err.toStdString();
    EXPECT_FALSE(SamePixels(Results(dir.File("bare")).at("a.png"), window.at("a.png")));
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
