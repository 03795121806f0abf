// pixorta-batch: the batch of the processing window, from the command line, without a window.
// Files are expanded as the image list expands them and written exactly as the window writes
// them; every result line is printed as the window shows it.

#include "batch/batchplan.h"
#include "batch/batchrunner.h"
#include "undo/backup.h"
#include "core/bytesizes.h"
#include "undo/journalstore.h"
#include "batch/jobfile.h"
#include "core/notelookup.h"
#include "engine/pxformats.h"
#include "headless.h"
#include "journalcommands.h"
#include "imagelist/imagepaths.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "tasks/movie/wavefile.h"
#include "tasks/pixortabackgroundtask.h"
#include "tasks/pixortacolorstask.h"
#include "tasks/pixortaprocslideshowdlg.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/pixortatexttask.h"
#include "ui/uiseams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTextStream>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>

namespace {

std::atomic<bool> g_interrupted{false};

const char *const kUsage =
    "Usage: pixorta-batch [OPTIONS] (--output-folder DIR | --in-place | --job FILE) PATH...\n"
    "       pixorta-batch [OPTIONS] --save-job FILE\n"
    "       pixorta-batch (--undo [--yes] | --undo-list | --forget)\n";

const char *const kHelp =
    "Processes image files the way Pixorta's \"Start!\" does, without a window.\n"
    "\n"
    "Each PATH is an image file or a folder; folders are searched with all their sub-folders\n"
    "for files with the extensions jpg, jpe, jp2, jpeg, gif, bmp, ico, tif, tiff, png, mng,\n"
    "tga, pcx and cur (in any letter case). Every image is loaded, the tasks are applied and\n"
    "the result is saved. Every file that is overwritten is first backed up into the undo\n"
    "journal (see Undo below).\n"
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
    "Change colors (100 is neutral for each value; values above 200 are taken as typed):\n"
    "  --light N            brightness (any whole number up to 2147483647)\n"
    "  --contrast N         contrast: 0 makes every channel 128, 200 about doubles it\n"
    "  --red N, --green N, --blue N\n"
    "                       add N - 100 to that channel of every pixel (clamped)\n"
    "  --grayscale          turn every image grey first (a tint then colours the grey)\n"
    "\n"
    "Add background (any of these switches the background on; margins are percentages of\n"
    "the image width, the top and bottom ones too):\n"
    "  --background         put every image on a canvas with the defaults below\n"
    "  --background-color C canvas colour (default 255,255,255)\n"
    "  --frame-color C      colour of the line along the canvas edge (default 100,100,100)\n"
    "  --no-frame           no line along the canvas edge\n"
    "  --image-frame-color C\n"
    "                       colour of the line around the picture (default 0,0,0)\n"
    "  --no-image-frame     no line around the picture\n"
    "  --margins P          all four margins (default 3)\n"
    "  --margin-left P, --margin-top P, --margin-right P, --margin-bottom P\n"
    "                       one margin\n"
    "\n"
    "Add text:\n"
    "  --text TEXT          the caption; spaces and line breaks at either end are dropped.\n"
    "                       It may hold %fTitle% (file name without extension), %fName%\n"
    "                       (file name), %fPath% and %fAbsoluteLocalPath% (absolute path of\n"
    "                       the image) and %Note% (the image's note from --notes)\n"
    "  --text-halign A      left, center (default) or right\n"
    "  --text-valign A      top, center or bottom (default)\n"
    "  --text-xmargin N     pixels from the left or right edge (default 20; ignored when\n"
    "                       centred)\n"
    "  --text-ymargin N     pixels from the top or bottom edge (default 20; ignored when\n"
    "                       centred)\n"
    "  --text-size P        height of a line of text in percent of the image height\n"
    "                       (default 5; 0 uses the application font's size)\n"
    "  --text-color C       text colour (default 0,0,0)\n"
    "  --text-shadow        draw a shadow, moved left and down by a thousandth of the\n"
    "                       image width (at least one pixel)\n"
    "  --text-shadow-color C\n"
    "                       shadow colour (default 190,190,190); implies --text-shadow\n"
    "  --text-background-color C\n"
    "                       colour of the box behind the text (default 240,240,240)\n"
    "  --no-text-background no box behind the text\n"
    "  --text-font FAMILY   font family (default DejaVu Sans)\n"
    "  --text-bold, --text-italic\n"
    "                       bold or italic text\n"
    "  --notes FILE         notes for %Note%: one line per image, its path, a tab, the note\n"
    "                       (UTF-8; relative paths are taken from the current folder)\n"
    "\n"
    "Tasks run in the order Resize, Change colors, Add background, Add text, so the text is\n"
    "placed on the background's canvas. A colour C is #RRGGBB or R,G,B (each 0 to 255).\n"
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
    "Before and after the tasks:\n"
    "  --dry-run            read only each file's header and print, for every image, where\n"
    "                       its result would go and what would happen there: \"new\",\n"
    "                       \"overwrites\", \"collides with\" another image of this batch,\n"
    "                       \"unchanged\" (nothing would be written) or \"unreadable\"; then\n"
    "                       a summary. Nothing is written and no folder is made.\n"
    "  --verify             read every written file back before it replaces anything; one\n"
    "                       that does not come back at its size and depth is reported as\n"
    "                       \"   Verify failed :name\" and the file it would replace stays\n"
    "  --auto-orient        turn a JPEG whose EXIF orientation is not 1 upright right after\n"
    "                       loading, before any task (the mirrored orientations too);\n"
    "                       without it every picture is taken as stored\n"
    "  --keep-metadata      copy the EXIF block (date, camera, exposure, ...) and the ICC\n"
    "                       colour profile of a JPEG source into a JPEG result; the EXIF\n"
    "                       thumbnail is dropped, and the orientation becomes 1 when\n"
    "                       --auto-orient turned the picture\n"
    "\n"
    "Saved jobs:\n"
    "  --save-job FILE      write the task settings, the output format, the destination and\n"
    "                       the options above into FILE, a small INI file; without PATHs\n"
    "                       nothing else is done\n"
    "  --job FILE           run the job FILE holds; options given beside it override it\n"
    "\n"
    "Undo: before a file is overwritten it is copied into the undo journal, a folder only\n"
    "you may open: $XDG_STATE_HOME/pixorta/journal, or ~/.local/state/pixorta/journal.\n"
    "It keeps the last 10 batches, and survives the end of the run and a restart.\n"
    "  --undo               put back, byte for byte, every file the most recent batch\n"
    "                       overwrote; again (or twice on one line) for the batch before.\n"
    "                       A file changed since the batch is overwritten only when you\n"
    "                       answer yes. Files a batch made anew stay.\n"
    "  --yes                with --undo: overwrite changed files without asking\n"
    "  --undo-list          list the batches that can be undone, newest first\n"
    "  --forget             delete every batch from the journal\n"
    "  --journal-limit SIZE the journal's batches may take SIZE together (default 2G; K, M,\n"
    "                       G and T count in 1024s); the oldest go first, and a batch\n"
    "                       that alone would back up more is not started\n"
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
    "Exit status: 0 when there were no errors; 1 when an image failed (or would fail, with\n"
    "--dry-run), no image file was found, the output folder could not be created or an\n"
    "undo left a file as it was; 2 for bad options. Ctrl+C (or SIGTERM) stops before the\n"
    "next image and still prints the summary; what was overwritten until then can be\n"
    "undone. Why an image failed is printed on standard error.\n"
    "\n"
    "Examples:\n"
    "  pixorta-batch --format jpg --output-folder ~/converted ~/Pictures/holiday\n"
    "  pixorta-batch --resize 50% --output-folder small photo1.png photo2.png\n"
    "  pixorta-batch --width 800 --in-place ~/Pictures/web\n"
    "  pixorta-batch --grayscale --blue 120 --output-folder toned ~/Pictures/holiday\n"
    "  pixorta-batch --margins 5 --background-color '#f0e8d8' --output-folder framed *.jpg\n"
    "  pixorta-batch --text '%fTitle%' --text-halign right --output-folder named *.jpg\n"
    "  pixorta-batch --slideshow --appear \"Lighten,Zoom in\" --disappear Darken --pause 3 \\\n"
    "                --output-folder ~/show ~/Pictures/holiday\n"
    "  pixorta-batch --dry-run --format jpg --output-folder ~/converted ~/Pictures/holiday\n"
    "  pixorta-batch --verify --resize 50% --in-place ~/Pictures/web\n"
    "  pixorta-batch --auto-orient --keep-metadata --width 1600 --output-folder ~/small \\\n"
    "                ~/Pictures/camera\n"
    "  pixorta-batch --resize 50% --format jpg --output-folder web --save-job web.ini\n"
    "  pixorta-batch --job web.ini --output-folder web-new ~/Pictures/new\n"
    "  pixorta-batch --undo-list\n"
    "  pixorta-batch --undo\n"
    "  pixorta-batch --undo --yes\n"
    "  pixorta-batch --forget\n"
    "  pixorta-batch --journal-limit 500M --width 800 --in-place ~/Pictures/web\n";

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
        const QStringList &known = appear ? CPixortaSlideShowTask::AppearEffectNames()
                                          : CPixortaSlideShowTask::DisappearEffectNames();
        QString &effects = appear ? show.m_appearEffects : show.m_disappearEffects;
        if (!value(&v) || !CPixortaSlideShowTask::ChooseEffects(v, known, &effects) ||
            effects.isEmpty())
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
        show.m_voiceFile = QFileInfo(v).absoluteFilePath();
    } else {
        *handled = false;
    }
    return QString();
}

void OnInterrupt(int)
{
    g_interrupted = true;
}

// A whole number from 0 to 2147483647, as the panels' number edits hold; percentages may end
// in "%". -1 when the text is not one.
qint64 ParseNumber(QString text, bool allowPercent)
{
    if (allowPercent && text.endsWith(u'%'))
        text.chop(1);
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
    if (!digits.match(text).hasMatch())
        return -1;
    const qint64 v = text.toLongLong();
    return v <= 2147483647 ? v : -1;
}

// One option of a task after Resize: its name, whether a value follows, and what it sets; the
// returned text is the complaint about a bad value ("" when it was fine).
struct TaskOption {
    const char *name;
    bool takesValue;
    std::function<QString(SavedJob &, const QString &)> apply;
};

QString NumberInto(qint32 &field, const QString &option, const QString &v, bool percent)
{
    const qint64 n = ParseNumber(v, percent);
    if (n < 0)
        return option + QStringLiteral(" needs a whole number from 0 to 2147483647, not '") + v +
               u'\'';
    field = qint32(n);
    return QString();
}

// Sets the colour and keeps the flag byte, which says whether the colour is used.
QString ColourInto(TaskColour &field, const QString &option, const QString &v)
{
    const std::optional<TaskColour> colour = ParseTaskColour(v);
    if (!colour)
        return option + QStringLiteral(" needs a colour as #RRGGBB or R,G,B (each 0 to 255), not '") +
               v + u'\'';
    const quint8 flag = field.flag;
    field = *colour;
    field.flag = flag;
    return QString();
}

const QList<TaskOption> &TaskOptionTable()
{
    using O = SavedJob;
    using S = const QString &;
    static const QList<TaskOption> table = {
        // Change colors
        {"--light", true, [](O &o, S v) { return NumberInto(o.colours.m_light, "--light", v, false); }},
        {"--contrast", true, [](O &o, S v) { return NumberInto(o.colours.m_contrast, "--contrast", v, false); }},
        {"--red", true, [](O &o, S v) { return NumberInto(o.colours.m_red, "--red", v, false); }},
        {"--green", true, [](O &o, S v) { return NumberInto(o.colours.m_green, "--green", v, false); }},
        {"--blue", true, [](O &o, S v) { return NumberInto(o.colours.m_blue, "--blue", v, false); }},
        {"--grayscale", false, [](O &o, S) { o.colours.m_grayScale = 1; return QString(); }},
        // Add background
        {"--background", false, [](O &o, S) { o.backgroundEnabled = true; return QString(); }},
        {"--background-color", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             return ColourInto(o.background.m_background, "--background-color", v); }},
        {"--frame-color", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             return ColourInto(o.background.m_frame, "--frame-color", v); }},
        {"--no-frame", false, [](O &o, S) {
             o.backgroundEnabled = true;
             o.background.m_frame.flag &= ~1;
             return QString(); }},
        {"--image-frame-color", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             return ColourInto(o.background.m_imageFrame, "--image-frame-color", v); }},
        {"--no-image-frame", false, [](O &o, S) {
             o.backgroundEnabled = true;
             o.background.m_imageFrame.flag &= ~1;
             return QString(); }},
        {"--margins", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             QString error = NumberInto(o.background.m_left, "--margins", v, true);
             o.background.m_right = o.background.m_top = o.background.m_bottom = o.background.m_left;
             return error; }},
        {"--margin-left", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             return NumberInto(o.background.m_left, "--margin-left", v, true); }},
        {"--margin-top", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             return NumberInto(o.background.m_top, "--margin-top", v, true); }},
        {"--margin-right", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             return NumberInto(o.background.m_right, "--margin-right", v, true); }},
        {"--margin-bottom", true, [](O &o, S v) {
             o.backgroundEnabled = true;
             return NumberInto(o.background.m_bottom, "--margin-bottom", v, true); }},
        // Add text
        {"--text", true, [](O &o, S v) { o.text.m_text = CPixortaTextTask::TrimmedText(v); return QString(); }},
        {"--text-halign", true, [](O &o, S v) {
             const QString a = v.toLower();
             if (a != QLatin1String("left") && a != QLatin1String("center") && a != QLatin1String("right"))
                 return QStringLiteral("--text-halign needs left, center or right, not '") + v + u'\'';
             o.text.m_hAlign = a;
             return QString(); }},
        {"--text-valign", true, [](O &o, S v) {
             const QString a = v.toLower();
             if (a != QLatin1String("top") && a != QLatin1String("center") && a != QLatin1String("bottom"))
                 return QStringLiteral("--text-valign needs top, center or bottom, not '") + v + u'\'';
             o.text.m_vAlign = a;
             return QString(); }},
        {"--text-xmargin", true, [](O &o, S v) { return NumberInto(o.text.m_xMargin, "--text-xmargin", v, false); }},
        {"--text-ymargin", true, [](O &o, S v) { return NumberInto(o.text.m_yMargin, "--text-ymargin", v, false); }},
        {"--text-size", true, [](O &o, S v) { return NumberInto(o.text.m_textSize, "--text-size", v, true); }},
        {"--text-color", true, [](O &o, S v) { return ColourInto(o.text.m_textColour, "--text-color", v); }},
        {"--text-shadow", false, [](O &o, S) { o.text.m_shadowColour.flag |= 1; return QString(); }},
        {"--text-shadow-color", true, [](O &o, S v) {
             o.text.m_shadowColour.flag |= 1;
             return ColourInto(o.text.m_shadowColour, "--text-shadow-color", v); }},
        {"--text-background-color", true, [](O &o, S v) {
             return ColourInto(o.text.m_backgroundColour, "--text-background-color", v); }},
        {"--no-text-background", false, [](O &o, S) { o.text.m_backgroundColour.flag &= ~1; return QString(); }},
        {"--text-font", true, [](O &o, S v) {
             if (v.trimmed().isEmpty())
                 return QStringLiteral("--text-font needs a font family");
             o.text.m_font.face = v;
             return QString(); }},
        {"--text-bold", false, [](O &o, S) { o.text.m_font.weight = 700; return QString(); }},
        {"--text-italic", false, [](O &o, S) { o.text.m_font.italic = true; return QString(); }},
        {"--notes", true, [](O &o, S v) {
             if (v.isEmpty())
                 return QStringLiteral("--notes needs a file");
             o.notesFile = v;
             return QString(); }},
    };
    return table;
}

const TaskOption *FindTaskOption(const QString &name)
{
    for (const TaskOption &option : TaskOptionTable())
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

// Notes by path from a file of lines "path<TAB>note"; an error text when it cannot be used.
QString ReadNotes(const QString &file, NoteLookupPtr &notes)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the notes file '") + file + u'\'';
    QList<std::pair<QString, QString>> lines;
    QString error;
    if (!NoteLookup::ParseLines(QString::fromUtf8(in.readAll()), QDir::currentPath(), lines, &error))
        return QStringLiteral("notes file '") + file + QStringLiteral("': ") + error;
    notes = std::make_shared<const NoteLookup>(lines);
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    UseOffscreenPlatformWithoutDisplay();
    QGuiApplication app(argc, argv);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const QStringList given = args;

    // A saved job first: every option beside it overrides what it holds.
    SavedJob job;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--"))
            break;
        if (args[i] != QLatin1String("--job"))
            continue;
        if (i + 1 >= args.size())
            return UsageError("--job needs a job file");
        QString error;
        if (!ReadJobFile(args[i + 1], &job, &error))
            return UsageError(error);
        args.remove(i, 2);
        --i;
    }

    bool inPlaceOption = false, folderOption = false;
    long long percent = -1, width = -1, height = -1, jobs = 0;
    QStringList paths;
    bool optionsEnded = false, slideshowOption = false, dryRun = false, yes = false;
    bool undoList = false, forget = false;
    int undo = 0;
    QString saveJob;
    qint64 journalLimit = qint64(2) << 30;
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
            job.format = v.toLower();
            if (!WritableExtensions().contains(job.format))
                return UsageError("unknown format '" + v + "' (" +
                                  WritableExtensions().join(", ") + ")");
        } else if (a == QLatin1String("--output-folder")) {
            if (!value(&v) || v.isEmpty())
                return UsageError("--output-folder needs a folder");
            job.destination = SavedJob::Destination::Folder;
            job.outputFolder = v;
            folderOption = true;
        } else if (a == QLatin1String("--in-place")) {
            job.destination = SavedJob::Destination::InPlace;
            inPlaceOption = true;
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
        } else if (a == QLatin1String("--dry-run")) {
            dryRun = true;
        } else if (a == QLatin1String("--verify")) {
            job.verify = true;
        } else if (a == QLatin1String("--auto-orient")) {
            job.autoOrient = true;
        } else if (a == QLatin1String("--keep-metadata")) {
            job.keepMetadata = true;
        } else if (a == QLatin1String("--save-job")) {
            if (!value(&v) || v.isEmpty())
                return UsageError("--save-job needs a file");
            saveJob = v;
        } else if (a == QLatin1String("--undo")) {
            ++undo;
        } else if (a == QLatin1String("--yes")) {
            yes = true;
        } else if (a == QLatin1String("--undo-list")) {
            undoList = true;
        } else if (a == QLatin1String("--forget")) {
            forget = true;
        } else if (a == QLatin1String("--journal-limit")) {
            if (!value(&v) || (journalLimit = ParseByteSize(v)) < 0)
                return UsageError("--journal-limit needs a size such as 2G, 500M or 1048576");
        } else if (const TaskOption *option = FindTaskOption(a)) {
            if (option->takesValue && !value(&v))
                return UsageError(a + " needs a value");
            const QString error = option->apply(job, v);
            if (!error.isEmpty())
                return UsageError(error);
        } else {
            bool handled = false;
            const QString error = ParseSlideshowOption(a, value, job.slideshow, &handled);
            if (!error.isEmpty())
                return UsageError(error);
            if (!handled)
                return UsageError("unknown option '" + a + "'");
            slideshowOption = slideshowOption || a != QLatin1String("--slideshow");
        }
    }

    // The undo journal's own commands stand alone.
    if (undo > 0 || undoList || forget) {
        if (int(undo > 0) + int(undoList) + int(forget) > 1)
            return UsageError("choose one of --undo, --undo-list and --forget");
        if (!paths.isEmpty())
            return UsageError("--undo, --undo-list and --forget take no files");
        return RunJournalCommand({undo, yes, undoList, forget});
    }
    if (yes)
        return UsageError("--yes goes with --undo");

    if (inPlaceOption && folderOption)
        return UsageError("choose exactly one of --output-folder DIR and --in-place");
    if (percent >= 0 && (width >= 0 || height >= 0))
        return UsageError("--resize cannot be combined with --width or --height");
    if (slideshowOption && !job.slideshow.m_create)
        return UsageError("the movie options need --slideshow");
    // A resize given here replaces the job's whole resize.
    if (width >= 0 || height >= 0) {
        job.resize.m_mode = CPixortaSizeTask::ModeConstant;
        job.resize.m_width = width > 0 ? static_cast<qint32>(width) : 0;
        job.resize.m_height = height > 0 ? static_cast<qint32>(height) : 0;
    } else if (percent >= 0) {
        job.resize.m_mode = CPixortaSizeTask::ModePercentage;
        job.resize.m_percentage = static_cast<qint32>(percent);
    } else if (job.resize.m_mode == CPixortaSizeTask::ModeNone) {
        // The window always hands over a resize record; at its defaults it changes nothing,
        // but its success is what lets a format change write the image, as in the window.
        job.resize.m_mode = CPixortaSizeTask::ModePercentage;
    }
    if (!job.notesFile.isEmpty())
        job.notesFile = QFileInfo(job.notesFile).absoluteFilePath();

    if (!saveJob.isEmpty()) {
        QString error;
        if (!WriteJobFile(saveJob, job, &error)) {
            Note(error);
            return 1;
        }
        if (paths.isEmpty()) {
            std::printf("Saved the job to %s\n", qPrintable(saveJob));
            return 0;
        }
    }
    if (job.destination == SavedJob::Destination::Unset)
        return UsageError("choose exactly one of --output-folder DIR and --in-place");
    if (paths.isEmpty())
        return UsageError("no files or folders given");

    NoteLookupPtr notes;
    if (!job.notesFile.isEmpty())
        if (const QString error = ReadNotes(job.notesFile, notes); !error.isEmpty())
            return UsageError(error);

    BatchJob batch;
    // Full paths, as the window's list holds them: %fPath% and the notes see the same.
    for (const QString &path : ExpandImagePaths(paths))
        batch.imagePaths << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Every panel but the background's always hands over a record, as in the window.
    batch.tasks = job.Tasks();
    batch.notes = notes;
    batch.outputExtension = job.format;
    batch.outputFolder =
        job.destination == SavedJob::Destination::Folder ? job.outputFolder : QString();
    batch.workers = static_cast<int>(jobs);
    batch.autoOrient = job.autoOrient;
    batch.keepMetadata = job.keepMetadata;
    batch.verify = job.verify;

    if (batch.imagePaths.isEmpty()) {
        std::fprintf(stderr, "pixorta-batch: no image files found\n");
        return 1;
    }

    if (dryRun) {
        const QList<PlanRow> plan = PlanBatch(batch);
        bool failing = false;
        for (const PlanRow &row : plan) {
            std::printf("%s\n", qPrintable(PlanRowText(row)));
            failing = failing || row.kind == PlanRow::Kind::Unreadable ||
                      row.kind == PlanRow::Kind::Fails;
        }
        std::printf("%s\n", qPrintable(PlanSummary(plan)));
        return failing ? 1 : 0;
    }

    // What this batch overwrites goes into the journal, so it can be undone after the run.
    // The targets' sizes bound what the copies take; only a bound above the limit is worth
    // the plan that reads every image's header.
    auto backupBytes = [&batch, journalLimit] {
        qint64 upTo = 0;
        for (const QString &path : std::as_const(batch.imagePaths)) {
            bool save = true;
            upTo += std::max<qint64>(0, QFileInfo(BatchTargetPath(batch, path, save)).size());
        }
        return upTo > journalLimit ? PlannedBackupBytes(PlanBatch(batch)) : upTo;
    };
    QString journalError;
    CJournalBackupStore::Start start = CJournalBackupStore::Start::Unavailable;
    const std::unique_ptr<CJournalBackupStore> journal =
        CJournalBackupStore::Begin(CUndoJournal::DefaultRoot(), CommandLine(given),
                                   {10, journalLimit}, backupBytes, &journalError, &start);
    if (start == CJournalBackupStore::Start::Refused) {
        Note(journalError + QStringLiteral(": give a larger --journal-limit to run it"));
        return 1;
    }
    // Without the journal the copies live in a folder of this run, which goes with it.
    CRunBackupStore runOnly;
    if (journal) {
        batch.backups = journal.get();
    } else {
        Note(journalError + QStringLiteral("; what this batch overwrites can be undone only "
                                           "while it runs"));
        batch.backups = &runOnly;
    }

    SetMessageHandler([](const QString &text, const QString &, MsgButtons, MsgIcon) {
        std::fprintf(stderr, "pixorta-batch: %s\n", qPrintable(text));
        return MsgAnswer::Ok;
    });
    // There is no one to speak: the recorder is never offered here.
    SetSoundRecorderRunner([](const QString &, int, int) { return QString(); });
    // A request to stop ends the batch between two images, so the backups are kept in order.
    // A closed output pipe counts as one too: the write would otherwise kill the process.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(sig, OnInterrupt);

    CBatchRunner runner(batch);
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
    const BatchRunResult result = runner.RunBatch();
    if (result.outcome == BatchRunResult::Outcome::FolderNotCreated)
        Note(QStringLiteral("Could not create folder:") + result.folder);
    if (journal && journal->End()) {
        const auto kept = std::count_if(runner.Backups().cbegin(), runner.Backups().cend(),
                                        [](const BackupEntry &e) { return !e.IsEmpty(); });
        Note(QStringLiteral("%1 overwritten %2 kept in the undo journal: pixorta-batch --undo "
                            "puts %3 back")
                 .arg(kept)
                 .arg(kept == 1 ? QStringLiteral("file is") : QStringLiteral("files are"),
                      kept == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        for (const JournalBatch &b : journal->Pruned())
            Note(QStringLiteral("the undo journal keeps the last 10 batches within %1: the batch "
                                "of %2 can no longer be undone")
                     .arg(FormatBytes(journalLimit), BatchTitle(b)));
    }
    // Without a journal nothing survives the process to undo with: the copies would only pile up.
    RemoveBackupFolder();
    if (!result)
        return 1;
    return runner.ErrorCount() == 0 ? 0 : 1;
}
