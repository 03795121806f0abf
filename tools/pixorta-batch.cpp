// pixorta-batch: the batch of the processing window, from the command line, without a window.
// Files are expanded as the image list expands them and written exactly as the window writes
// them; every result line is printed as the window shows it.

#include "batch/batchrunner.h"
#include "batch/io/backup.h"
#include "engine/pxformats.h"
#include "headless.h"
#include "imagelist/imagepaths.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "tasks/movie/wavefile.h"
#include "tasks/pixortaprocslideshowdlg.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "ui/uiseams.h"

#include <QGuiApplication>
#include <QTextStream>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>

namespace {

std::atomic<bool> g_interrupted{false};

const char *const kUsage =
    "Usage: pixorta-batch [OPTIONS] (--output-folder DIR | --in-place) PATH...\n";

const char *const kHelp =
    "Processes image files the way Pixorta's \"Start!\" does, without a window.\n"
    "\n"
    "Each PATH is an image file or a folder; folders are searched with all their sub-folders\n"
    "for files with the extensions jpg, jpe, jp2, jpeg, gif, bmp, ico, tif, tiff, png, mng,\n"
    "tga, pcx and cur (in any letter case). Every image is loaded, the tasks are applied and\n"
    "the result is saved. Files that are overwritten are backed up during the run.\n"
    "\n"
    "Destination (exactly one):\n"
    "  --output-folder DIR  write every result into DIR (created if missing, one level)\n"
    "  --in-place           write results next to their sources; with the same format the\n"
    "                       source itself is replaced, and only when a task changed it\n"
    "\n"
    "Output format:\n"
    "  --format EXT         jpg, bmp, gif, tif or png, the window's choices, or another\n"
    "                       extension the engine writes (see below); without it every\n"
    "                       file keeps its format (JPEG is written at quality 90, GIF\n"
    "                       with at most 256 colours)\n"
    "\n"
    "Resize (at most one of --resize and --width/--height):\n"
    "  --resize P%          scale by P percent (the % sign is optional; 100 leaves the size)\n"
    "  --width W            scale to W pixels wide; alone, the height follows proportionally\n"
    "  --height H           scale to H pixels high; alone, the width follows proportionally\n"
    "\n"
    "Slideshow (a movie \"Pixorta slideshow.avi\" of the results, written into the output\n"
    "folder, or beside the first result with --in-place; an earlier movie there is backed up):\n"
    "  --slideshow          create the movie\n"
    "  --pause S            seconds each slide is shown (default 5)\n"
    "  --appear LIST        effects that bring a slide in, separated by commas: Lighten,\n"
    "                       Enter from left, Enter from right, Enter from top,\n"
    "                       Enter from bottom, Zoom in, Zoom out, Rotate right, Rotate left\n"
    "  --disappear LIST     effects that take a slide away: Darken, Away to left,\n"
    "                       Away to right, Away to top, Away to bottom, Zoom in, Zoom out,\n"
    "                       Rotate right, Rotate left\n"
    "  --movie-width N      movie width in pixels, 1 to 16384 (default 1024)\n"
    "  --movie-height N     movie height in pixels, 1 to 16384 (default 768)\n"
    "  --movie-quality Q    5 to 100 percent (default 80)\n"
    "  --voice WAV          add this PCM WAV recording as the movie's voice track (the file\n"
    "                       is left as it is)\n"
    "\n"
    "Speed:\n"
    "  --jobs N             process up to N images at once (default: one per core this\n"
    "                       process may use; 1 processes one image at a time). The results,\n"
    "                       the lines printed and their order are the same for every N.\n"
    "\n"
    "  --help               show this text\n"
    "\n"
    "Output: one line per image as the processing window shows it (\"done :a.jpg\",\n"
    "\"   Saving failed :a.jpg\", ...), then the summary (\"Finished. No errors\").\n"
    "Exit status: 0 when there were no errors; 1 when an image failed, no image file was\n"
    "found or the output folder could not be created; 2 for bad options. Ctrl+C (or\n"
    "SIGTERM) stops before the next image and still prints the summary. Why an image failed\n"
    "is printed on standard error. The backup copies of overwritten files are removed when\n"
    "the run ends, however it ends.\n"
    "\n"
    "Examples:\n"
    "  pixorta-batch --format jpg --output-folder ~/converted ~/Pictures/holiday\n"
    "  pixorta-batch --resize 50% --output-folder small photo1.png photo2.png\n"
    "  pixorta-batch --width 800 --in-place ~/Pictures/web\n"
    "  pixorta-batch --slideshow --appear \"Lighten,Zoom in\" --disappear Darken --pause 3 \\\n"
    "                --output-folder ~/show ~/Pictures/holiday\n";

// Every extension a result can be saved under, as the engine's format table declares them.
QStringList WritableExtensions()
{
    return QString::fromStdString(WritableExtensionList(",")).split(u',');
}

int UsageError(const QString &message)
{
    std::fprintf(stderr, "pixorta-batch: %s\n%s%s", qPrintable(message), kUsage,
                 "Try 'pixorta-batch --help' for more information.\n");
    return 2;
}

// A positive whole number, or -1.
long long ParseCount(QString text, bool allowPercent)
{
    if (allowPercent && text.endsWith(u'%'))
        text.chop(1);
    bool ok = false;
    const long long v = text.toLongLong(&ok);
    return ok && v >= 0 && v <= 2147483647 && !text.startsWith(u'+') ? v : -1;
}

// Effect names of one of the slideshow's lists, any letter case, in the list's order; false
// for a name the list does not have.
bool ParseEffects(const QString &text, const QStringList &known, QString *joined)
{
    const QStringList names = text.split(u',', Qt::SkipEmptyParts);
    QStringList chosen;
    for (const QString &name : names)
        if (!known.contains(name.trimmed(), Qt::CaseInsensitive))
            return false;
    for (const QString &k : known)
        if (names.contains(k, Qt::CaseInsensitive) ||
            std::any_of(names.cbegin(), names.cend(), [&k](const QString &n) {
                return n.trimmed().compare(k, Qt::CaseInsensitive) == 0;
            }))
            chosen << k;
    *joined = chosen.join(u',');
    return !chosen.isEmpty();
}

// The slideshow's options; returns an error message, or "" when arg was one of them (or not
// a slideshow option at all, with *handled false).
QString ParseSlideshowOption(const QString &arg, const std::function<bool(QString *)> &value,
                             CPixortaSlideShowTask &show, bool *handled)
{
    *handled = true;
    QString v;
    if (arg == QLatin1String("--slideshow")) {
        show.m_create = 1;
    } else if (arg == QLatin1String("--pause")) {
        const long long s = value(&v) ? ParseCount(v, false) : -1;
        if (s < 0)
            return QStringLiteral("--pause needs a number of seconds");
        show.m_pause = static_cast<qint32>(s);
    } else if (arg == QLatin1String("--appear") || arg == QLatin1String("--disappear")) {
        const bool appear = arg == QLatin1String("--appear");
        const QStringList &known = appear ? CPixortaProcSlideShowDlg::AppearEffectNames()
                                          : CPixortaProcSlideShowDlg::DisappearEffectNames();
        if (!value(&v) ||
            !ParseEffects(v, known, appear ? &show.m_appearEffects : &show.m_disappearEffects))
            return arg + QStringLiteral(" needs effect names separated by commas, from: ") +
                   known.join(QStringLiteral(", "));
    } else if (arg == QLatin1String("--movie-width") || arg == QLatin1String("--movie-height")) {
        const long long n = value(&v) ? ParseCount(v, false) : -1;
        if (n < 1 || n > CPixortaSlideShowTask::kMaxSide)
            return arg + QStringLiteral(" needs a number of pixels from 1 to 16384");
        (arg == QLatin1String("--movie-width") ? show.m_width : show.m_height) =
            static_cast<qint32>(n);
    } else if (arg == QLatin1String("--movie-quality")) {
        const long long q = value(&v) ? ParseCount(v, true) : -1;
        if (q < 5 || q > 100)
            return QStringLiteral("--movie-quality needs a percentage from 5 to 100");
        show.m_quality = static_cast<qint32>(q);
    } else if (arg == QLatin1String("--voice")) {
        CWaveFile wave;
        if (!value(&v) || v.isEmpty())
            return QStringLiteral("--voice needs a WAV file");
        if (!wave.ReadWave(v))
            return QStringLiteral("--voice: '") + v +
                   QStringLiteral("' is not a PCM WAV file that can be read");
        show.m_voiceFile = v;
    } else {
        *handled = false;
    }
    return QString();
}

void OnInterrupt(int)
{
    g_interrupted = true;
}

} // namespace

int main(int argc, char **argv)
{
    UseOffscreenPlatformWithoutDisplay();
    QGuiApplication app(argc, argv);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    QString format, outputFolder;
    bool inPlace = false;
    long long percent = -1, width = -1, height = -1, jobs = 0;
    QStringList paths;
    bool optionsEnded = false;
    auto slideshow = std::make_unique<CPixortaSlideShowTask>();
    bool slideshowOption = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString *out) {
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        QString v;
        if (optionsEnded || !a.startsWith(u'-') || a == QLatin1String("-")) {
            paths << a;
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            std::fputs("\n", stdout);
            std::fputs(kHelp, stdout);
            std::printf("\nExtensions --format accepts: %s\n",
                        qPrintable(WritableExtensions().join(", ")));
            return 0;
        } else if (a == QLatin1String("--format")) {
            if (!value(&v))
                return UsageError("--format needs a value");
            format = v.toLower();
            if (!WritableExtensions().contains(format))
                return UsageError("unknown format '" + v + "' (" +
                                  WritableExtensions().join(", ") + ")");
        } else if (a == QLatin1String("--output-folder")) {
            if (!value(&v) || v.isEmpty())
                return UsageError("--output-folder needs a folder");
            outputFolder = v;
        } else if (a == QLatin1String("--in-place")) {
            inPlace = true;
        } else if (a == QLatin1String("--resize")) {
            if (!value(&v) || (percent = ParseCount(v, true)) < 1)
                return UsageError("--resize needs a percentage of at least 1, such as 50%");
        } else if (a == QLatin1String("--jobs")) {
            if (!value(&v) || (jobs = ParseCount(v, false)) < 1 || jobs > 1024)
                return UsageError("--jobs needs a number of images from 1 to 1024");
        } else if (a == QLatin1String("--width")) {
            if (!value(&v) || (width = ParseCount(v, false)) < 1)
                return UsageError("--width needs a number of pixels of at least 1");
        } else if (a == QLatin1String("--height")) {
            if (!value(&v) || (height = ParseCount(v, false)) < 1)
                return UsageError("--height needs a number of pixels of at least 1");
        } else {
            bool handled = false;
            const QString error = ParseSlideshowOption(a, value, *slideshow, &handled);
            if (!error.isEmpty())
                return UsageError(error);
            if (!handled)
                return UsageError("unknown option '" + a + "'");
            slideshowOption = slideshowOption || a != QLatin1String("--slideshow");
        }
    }
    if (inPlace == !outputFolder.isEmpty())
        return UsageError("choose exactly one of --output-folder DIR and --in-place");
    if (percent >= 0 && (width >= 0 || height >= 0))
        return UsageError("--resize cannot be combined with --width or --height");
    if (paths.isEmpty())
        return UsageError("no files or folders given");
    if (slideshowOption && !slideshow->m_create)
        return UsageError("the movie options need --slideshow");

    // The window always hands over a resize record; at its defaults it changes nothing, but
    // its success is what lets a format change write the image, as in the window.
    auto resize = std::make_unique<CPixortaSizeTask>();
    if (width >= 0 || height >= 0) {
        resize->m_mode = 2;
        resize->m_width = width > 0 ? static_cast<qint32>(width) : 0;
        resize->m_height = height > 0 ? static_cast<qint32>(height) : 0;
    } else {
        resize->m_mode = 1;
        resize->m_percentage = percent >= 0 ? static_cast<qint32>(percent) : 100;
    }

    BatchJob job;
    job.imagePaths = ExpandImagePaths(paths);
    job.tasks = {resize.get(), slideshow.get()};
    job.outputExtension = format;
    job.outputFolder = outputFolder;
    job.workers = static_cast<int>(jobs);

    SetMessageHandler([](const QString &text, const QString &, MsgButtons, MsgIcon) {
        std::fprintf(stderr, "pixorta-batch: %s\n", qPrintable(text));
        return MsgAnswer::Ok;
    });
    // There is no one to speak: the recorder is never offered here.
    SetSoundRecorderRunner([](const QString &, int, int) { return QString(); });
    // A request to stop ends the batch between two images, so the backup folder is removed.
    // A closed output pipe counts as one too: the write would otherwise kill the process.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(sig, OnInterrupt);

    CBatchRunner runner(job);
    runner.onRow = [](const ResultRow &row) {
        std::printf("%s\n", qPrintable(ResultRowText(row)));
        std::fflush(stdout);
        if (!row.success)
            std::fprintf(stderr, "pixorta-batch: %s: %s\n", qPrintable(row.sourcePath),
                         qPrintable(row.reason.isEmpty() ? row.text : row.reason));
    };
    runner.onPumpEvents = [&runner] {
        if (g_interrupted)
            runner.RequestCancel();
    };
    if (job.imagePaths.isEmpty()) {
        std::fprintf(stderr, "pixorta-batch: no image files found\n");
        return 1;
    }
    const bool ran = runner.RunBatch();
    // Nothing survives the process to undo with: the copies would only pile up.
    RemoveBackupFolder();
    if (!ran)
        return 1;
    return runner.ErrorCount() == 0 ? 0 : 1;
}
