// pxconvert INPUT OUTPUT    converts through the same load and save path the batch uses
// pxconvert --info INPUT    prints what the engine read, one "key: value" per line

#include "batch/io/imagefile.h"
#include "core/paths.h"

#include "headless.h"

#include <QGuiApplication>
#include <QStringList>
#include <cstdio>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: pxconvert INPUT OUTPUT\n       pxconvert --info INPUT\n");
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

} // namespace

int main(int argc, char **argv)
{
    UseOffscreenPlatformWithoutDisplay();
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--info"))
        return Info(args[1]);
    if (args.size() == 2 && !args[0].startsWith(QLatin1String("--")))
        return Convert(args[0], args[1]);
    return Usage();
}
