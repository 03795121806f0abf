// pxconvert INPUT OUTPUT    converts through the same load and save path the batch uses
// pxconvert --info INPUT    prints what the engine read, one "key: value" per line
// pxconvert --thumbnail SIZE --output-folder DIR FILE...
//                           writes each file's image-list thumbnail (SIZE x SIZE, exactly the
//                           pixels the list shows) as DIR/<base name>.png

#include "imageio/imagefile.h"
#include "core/paths.h"
#include "imagelist/thumbnails.h"

#include "headless.h"

#include <QDir>
#include <QGuiApplication>
#include <QSet>
#include <QStringList>
#include <cstdio>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: pxconvert INPUT OUTPUT\n"
                         "       pxconvert --info INPUT\n"
                         "       pxconvert --thumbnail SIZE --output-folder DIR FILE...\n");
    return 2;
}

void ReportFailure(const QString &path, const QString &reason)
{
    std::fprintf(stderr, "pxconvert: %s: %s\n", qPrintable(path), qPrintable(reason));
}

const char *FormatName(uint32_t type)
{
    const PxFormatInfo *info = PxFindFormat(type);
    return info ? info->name : "unknown";
}

int Info(const QString &input)
{
    PxImage image;
    if (!LoadImageFile(image, input)) {
        ReportFailure(input, DescribeLoadFailure(image, input));
        return 1;
    }
    std::printf("width: %u\n", image.GetWidth());
    std::printf("height: %u\n", image.GetHeight());
    std::printf("bpp: %u\n", image.GetBpp());
    std::printf("format: %s\n", FormatName(image.GetType()));
    std::printf("palette: %u\n", image.GetNumColors());
    std::printf("transparent: %d\n", image.GetTransIndex());
    std::printf("alpha: %s\n", image.AlphaIsValid() ? "yes" : "no");
    return 0;
}

int Convert(const QString &input, const QString &output)
{
    PxImage image;
    if (!LoadImageFile(image, input)) {
        ReportFailure(input, DescribeLoadFailure(image, input));
        return 1;
    }
    if (!SaveImageFile(image, output)) {
        ReportFailure(output, DescribeSaveFailure(image, output));
        return 1;
    }
    return 0;
}

// Every file is tried; the status is 1 when any of them failed. Two inputs with the same base
// name do not overwrite each other's thumbnail: the second gets a numbered name.
int Thumbnails(const QStringList &args)
{
    bool ok = false;
    const int size = args.value(1).toInt(&ok);
    if (args.size() < 5 || !ok || size <= 0 || size > 4096 ||
        args[2] != QLatin1String("--output-folder"))
        return Usage();
    const QString folder = args[3];
    if (!QDir().mkpath(folder)) {
        ReportFailure(folder, QStringLiteral("the folder cannot be created"));
        return 1;
    }
    int status = 0;
    QSet<QString> written;
    for (const QString &input : args.mid(4)) {
        const QImage cell = MakeThumbnail(input, size, size);
        PxImage image;
        if (cell.isNull() || !image.CreateFromHBITMAP(cell)) {
            ReportFailure(input, QStringLiteral("no thumbnail"));
            status = 1;
            continue;
        }
        QString output = JoinPath(folder, GetFileBaseName(input) + QStringLiteral(".png"));
        if (written.contains(output))
            output = MakeUniquePath(folder, GetFileBaseName(input), QStringLiteral("png"), false);
        if (!SaveImageFile(image, output)) {
            ReportFailure(output, DescribeSaveFailure(image, output));
            status = 1;
            continue;
        }
        written.insert(output);
    }
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    UseOffscreenPlatformWithoutDisplay();
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() && args[0] == QLatin1String("--thumbnail"))
        return Thumbnails(args);
    if (args.size() == 2 && args[0] == QLatin1String("--info"))
        return Info(args[1]);
    if (args.size() == 2 && !args[0].startsWith(QLatin1String("--")))
        return Convert(args[0], args[1]);
    return Usage();
}
