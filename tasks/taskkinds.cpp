#include "taskkinds.h"

#include "pixortabackgroundtask.h"
#include "pixortacolorstask.h"
#include "pixortasizetask.h"
#include "pixortaslideshowtask.h"
#include "pixortatexttask.h"

namespace {

template <class R> TaskKindInfo Kind(qint32 kind)
{
    TaskKindInfo info;
    info.kind = kind;
    info.make = [] { return std::unique_ptr<CPixortaTask>(std::make_unique<R>()); };
    info.settings = &R::Declared;
    return info;
}

QList<TaskKindInfo> MakeKinds()
{
    TaskKindInfo resize = Kind<CPixortaSizeTask>(TaskResize);
    resize.helpHeading = QStringLiteral("Resize (at most one of --resize and --width/--height):");

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

    TaskKindInfo slideshow = Kind<CPixortaSlideShowTask>(TaskCreateSlideshow);
    slideshow.optionsNeed = QStringLiteral("create");
    slideshow.optionsNeedMessage = QStringLiteral("the movie options need --slideshow");
    slideshow.helpHeading = QStringLiteral(
        "Slideshow (a movie \"Pixorta slideshow.avi\" of the results, written into the output "
        "folder, or beside the first result with --in-place; an earlier movie there is backed "
        "up):");

    return {resize, colours, background, text, slideshow};
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
