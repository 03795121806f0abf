#include "taskkinds.h"

#include "pixortabackgroundtask.h"
#include "pixortacolorstask.h"
#include "pixortacroptask.h"
#include "pixortasharpentask.h"
#include "pixortasizetask.h"
#include "pixortaslideshowtask.h"
#include "pixortatexttask.h"
#include "pixortawatermarktask.h"

namespace {

template <class R> TaskKindInfo Kind(qint32 kind)
{
    TaskKindInfo info;
    info.kind = kind;
    info.make = [] { return std::unique_ptr<CPixortaTask>(std::make_unique<R>()); };
    info.settings = &R::Declared;
    return info;
}

// The switch of a task that is off until switched on, on the command line by any of its
// options.
SettingDecl OffUntilSwitchedOn()
{
    return {.key = "enabled", .kind = SettingKind::Switch, .defaultValue = "no"};
}

// A task added beside the first five: off until its switch is on, and its job-file section
// written only when it is used, so the job files written before it read and write the same.
template <class R> TaskKindInfo SwitchedOffKind(qint32 kind)
{
    TaskKindInfo info = Kind<R>(kind);
    info.switchable = true;
    info.alwaysWritten = false;
    info.enable = OffUntilSwitchedOn();
    return info;
}

QList<TaskKindInfo> MakeKinds()
{
    TaskKindInfo crop = SwitchedOffKind<CPixortaCropTask>(TaskCrop);
    crop.aliases = {{.option = "--crop-aspect",
                     .valueName = "W:H",
                     .help = "keep the largest part of every image whose sides are in the "
                             "ratio W:H, such as 1:1, 4:3, 3:2, 16:9 or 4:5 (default %default%)",
                     .sets = {"aspect-width", "aspect-height", "mode=aspect"},
                     .before = "match-orientation",
                     .separator = u':',
                     .required = 2},
                    {.option = "--crop-rect",
                     .valueName = "X,Y,W,H",
                     .help = "keep W x H pixels whose top-left corner is X pixels from the left "
                             "and Y from the top; what lies beyond the image is left out, and "
                             "an image the rectangle misses fails",
                     .sets = {"x", "y", "width", "height", "mode=rectangle"},
                     .separator = u',',
                     .required = 4},
                    {.option = "--crop-margins",
                     .valueName = "L,T,R,B",
                     .help = "cut away L and R percent of the width on the left and the right, T "
                             "and B percent of the height at the top and the bottom (each "
                             "%range:margin-left%)",
                     .sets = {"margin-left", "margin-top", "margin-right", "margin-bottom",
                              "mode=margins"},
                     .separator = u',',
                     .required = 4}};
    crop.oneOf = {"--crop-aspect", "--crop-rect", "--crop-margins"};
    crop.helpHeading = QStringLiteral(
        "Crop (any of these switches the crop on; a crop that would leave less than a pixel "
        "fails the image):");

    TaskKindInfo resize = Kind<CPixortaSizeTask>(TaskResize);
    resize.helpHeading = QStringLiteral("Resize (at most one of --resize and --width/--height):");

    TaskKindInfo sharpen = SwitchedOffKind<CPixortaSharpenTask>(TaskSharpen);
    sharpen.aliases = {{.option = "--sharpen",
                        .valueName = "AMOUNT[,RADIUS[,THRESHOLD]]",
                        .help = "sharpen every image with an unsharp mask: AMOUNT percent "
                                "(%range:amount%) of each difference from the image blurred by "
                                "RADIUS pixels (%range:radius%, one decimal) is added where it "
                                "is more than THRESHOLD levels (%range:threshold%); default "
                                "%default%",
                        .sets = {"amount", "radius", "threshold"},
                        .separator = u',',
                        .required = 1}};
    sharpen.helpHeading = QStringLiteral("Sharpen:");

    TaskKindInfo colours = Kind<CPixortaColorsTask>(TaskChangeColors);
    colours.helpHeading = QStringLiteral(
        "Change colors (100 is neutral for each value; values above 200 are taken as typed):");

    TaskKindInfo background = Kind<CPixortaBackgroundTask>(TaskAddBackground);
    background.switchable = true;
    background.enable = {.key = "enabled",
                         .option = "--background",
                         .kind = SettingKind::Switch,
                         .defaultValue = "no",
                         .help = "put every image on a canvas with the defaults below"};
    background.aliases = {{.option = "--margins",
                           .valueName = "P",
                           .help = "all four margins (default %default%)",
                           .sets = {"margin-left", "margin-top", "margin-right", "margin-bottom"},
                           .before = "margin-left"}};
    background.helpHeading = QStringLiteral(
        "Add background (any of these switches the background on; margins are percentages of "
        "the image width, the top and bottom ones too):");

    TaskKindInfo text = Kind<CPixortaTextTask>(TaskAddText);
    text.aliases = {{.option = "--text-bold",
                     .help = "bold text",
                     .sets = {"weight=700"},
                     .before = "italic"}};
    text.helpHeading = QStringLiteral("Add text:");

    TaskKindInfo watermark = SwitchedOffKind<CPixortaWatermarkTask>(TaskWatermark);
    watermark.optionsNeed = QStringLiteral("file");
    watermark.optionsNeedMessage = QStringLiteral("the watermark options need --watermark FILE");
    watermark.helpHeading = QStringLiteral(
        "Watermark (laid over every image after its text; a file that cannot be read fails "
        "every image):");

    TaskKindInfo slideshow = Kind<CPixortaSlideShowTask>(TaskCreateSlideshow);
    slideshow.optionsNeed = QStringLiteral("create");
    slideshow.optionsNeedMessage = QStringLiteral("the movie options need --slideshow");
    slideshow.helpHeading = QStringLiteral(
        "Slideshow (a movie \"Pixorta slideshow.avi\" of the results, written into the output "
        "folder, or beside the first result with --in-place; an earlier movie there is backed "
        "up):");

    return {crop, resize, sharpen, colours, background, text, watermark, slideshow};
}

} // namespace

const QList<TaskKindInfo> &TaskKinds()
{
    static const QList<TaskKindInfo> kinds = MakeKinds();
    return kinds;
}

const TaskKindInfo *FindTaskKind(qint32 kind)
{
    for (const TaskKindInfo &info : TaskKinds())
        if (info.kind == kind)
            return &info;
    return nullptr;
}

const TaskKindInfo *FindTaskKind(const QString &name)
{
    for (const TaskKindInfo &info : TaskKinds())
        if (name.compare(info.Name(), Qt::CaseInsensitive) == 0)
            return &info;
    return nullptr;
}
