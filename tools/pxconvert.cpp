// pxconvert INPUT OUTPUT    converts through the same load and save path the batch uses
// pxconvert --info INPUT    prints what the engine read, one "key: value" per line

#include "batch/io/imagefile.h"
#include "core/paths.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: pxconvert INPUT OUTPUT\n       pxconvert --info INPUT\n");
    return 2;
}

// The engine keeps no text when a file cannot be opened at all.
void ReportFailure(const PxImage &image, const char *what, const QString &path)
{
    const char *text = image.GetLastError();
    if (text && *text)
        std::fprintf(stderr, "pxconvert: %s\n", text);
    else
        std::fprintf(stderr, "pxconvert: can't %s %s\n", what, path.toLocal8Bit().constData());
}

const char *FormatName(uint32_t type)
{
    static const char *const names[] = {"unknown", "bmp",  "gif",  "jpeg", "png",  "ico",
                                        "tiff",    "tga",  "pcx",  "wbmp", "wmf",  "jp2",
                                        "jpc",     "pgx",  "pnm",  "ras"};
    return type < sizeof names / sizeof names[0] ? names[type] : "unknown";
}

int Info(const QString &input)
{
    PxImage image;
    if (!LoadImageFile(image, input)) {
        ReportFailure(image, "read", input);
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
        ReportFailure(image, "read", input);
        return 1;
    }
    if (!SaveImageFile(image, output)) {
        ReportFailure(image, "write", output);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--info"))
        return Info(args[1]);
    if (args.size() == 2 && !args[0].startsWith(QLatin1String("--")))
        return Convert(args[0], args[1]);
    return Usage();
}
