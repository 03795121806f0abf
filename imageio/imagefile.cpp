#include "imagefile.h"

#include "core/paths.h"
#include "engine/pxfile.h"
#include "octreequantizer.h"
#include "imagefile_testhooks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

EncodedFileHook g_encodedHook;
LoadHook g_loadHook;

constexpr const char *kNonUtf8Name = "the name cannot be read as UTF-8";

std::string ExtensionOf(const QString &path)
{
    return GetFileExtension(path).toStdString();
}

// What undo keeps of a batch, and Qt's own file functions, write a file's name as UTF-8 text:
// a file whose name is not could be written, but never put back or removed by undo. It is
// refused with a reason, so it is counted rather than passed over.
bool RefuseNonUtf8Name(PxImage &image, const QString &path)
{
    if (IsUtf8Path(path))
        return false;
    image.SetLastError(kNonUtf8Name);
    return true;
}

} // namespace

bool LoadImageFile(PxImage &image, const QString &path, int format)
{
    if (g_loadHook)
        g_loadHook(path);
    if (RefuseNonUtf8Name(image, path))
        return false;
    const uint32_t fmt = format >= 0 ? static_cast<uint32_t>(format)
                                     : FormatFromExtension(ExtensionOf(path));
    return image.Load(ToFsPath(path), fmt);
}

bool LoadImageFileHeader(PxImage &probe, const QString &path, PxHeaderInfo &header)
{
    if (RefuseNonUtf8Name(probe, path))
        return false;
    return probe.LoadHeader(ToFsPath(path), FormatFromExtension(ExtensionOf(path)), header);
}

bool SaveImageFile(PxImage &image, const QString &path, int format, bool convert)
{
    PxPendingSave pending;
    if (!PrepareImageFileSave(image, path, pending, format, convert))
        return false;
    std::string error;
    if (pending.Commit(&error))
        return true;
    image.SetLastError(error.c_str());
    return false;
}

bool PrepareImageFileSave(PxImage &image, const QString &path, PxPendingSave &pending, int format,
                          bool convert)
{
    // A text left by the load (a named format that failed before detection found another)
    // must not pass for the reason this save failed.
    image.SetLastError("");
    // A format that content detection finds on loading (TGA) has no mapped extension, but a
    // file saved under its extension must still come out in that format.
    const uint32_t fmt = format >= 0 ? static_cast<uint32_t>(format)
                                     : FormatForSaveExtension(ExtensionOf(path));

    // A TIFF reader leaves the file's compression code in the codec option; LZW (5) and JPEG (7)
    // mean nothing to the JPEG writer, which reads the option as its own flags.
    if (fmt == PXFORMAT_JPG && (image.GetCodecOption() == 5 || image.GetCodecOption() == 7))
        image.SetCodecOption(0);

    // A file that cannot say in which colours its pixels are meant gets them in sRGB, the
    // colours every reader assumes; the profile cannot go with it anyway.
    if (const PxFormatInfo *info = PxFindFormat(fmt);
        info && !info->holdsColourProfile && image.GetMetadata() && !image.GetMetadata()->icc.empty())
        image.BringToSrgb();

    if (convert) {
        if (const PxFormatInfo *info = PxFindFormat(fmt)) {
            if (info->saveAsPalette && image.GetBpp() > 8)
                QuantizeToPalette(image, 8);
            else if (info->saveAsTrueColour && image.GetBpp() < 24)
                image.IncreaseBpp(24);
        }
    }
    if (!image.SaveToPending(ToFsPath(path), fmt, pending))
        return false;
    if (g_encodedHook && !pending.EncodedFile().empty())
        g_encodedHook(pending.EncodedFile(), pending.Target());
    return true;
}

bool VerifyPendingSave(const PxPendingSave &pending, const QString &path, const PxImage &saved,
                       QString *why)
{
    // Only the format it was written in: content detection could read a damaged file as
    // something else.
    const uint32_t fmt = FormatForSaveExtension(ExtensionOf(path));
    PxImage back;
    PxIOFile file;
    const bool read =
        pending.EncodedFile().empty()
            ? back.Decode(pending.EncodedBytes().data(), pending.EncodedBytes().size(), fmt)
            : file.Open(pending.EncodedFile(), "rb") && back.Decode(file, fmt);
    if (!read) {
        *why = QStringLiteral("the written file does not read back: ") +
               (back.GetLastError()[0] ? QString::fromUtf8(back.GetLastError())
                                       : QStringLiteral("it cannot be opened"));
        return false;
    }
    const PxFormatInfo *info = PxFindFormat(fmt);
    const uint32_t depth = std::max(saved.GetBpp(), info ? info->storedMinimumDepth : 0);
    if (back.GetWidth() != saved.GetWidth() || back.GetHeight() != saved.GetHeight() ||
        back.GetBpp() != depth) {
        *why = QStringLiteral("the written file reads back as %1 x %2 at %3 bits per pixel, "
                              "not %4 x %5 at %6")
                   .arg(back.GetWidth())
                   .arg(back.GetHeight())
                   .arg(back.GetBpp())
                   .arg(saved.GetWidth())
                   .arg(saved.GetHeight())
                   .arg(depth);
        return false;
    }
    return true;
}

void SetEncodedFileHookForTests(EncodedFileHook hook)
{
    g_encodedHook = std::move(hook);
}

void SetLoadHookForTests(LoadHook hook)
{
    g_loadHook = std::move(hook);
}

QString DescribeLoadFailure(const PxImage &image, const QString &path)
{
    if (image.GetLastError()[0])
        return QString::fromUtf8(image.GetLastError());
    const std::filesystem::path native = ToFsPath(path);
    // O_NONBLOCK: a pipe must not hold the report up either.
    const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("cannot open the file: ") + QString::fromLocal8Bit(std::strerror(errno));
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (folder)
        return QStringLiteral("it is a folder, not a file");
    return QStringLiteral("cannot read the file");
}

QString DescribeSaveFailure(const PxImage &image, const QString &path)
{
    return DescribeSaveFailure(std::string(image.GetLastError()), path);
}

QString DescribeSaveFailure(const std::string &engineText, const QString &path)
{
    if (!engineText.empty())
        return QString::fromStdString(engineText);
    struct stat st {};
    if (::stat(ToFsPath(path).c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return QStringLiteral("a folder stands where the file would go");
        if (!(st.st_mode & S_IWUSR))
            return QStringLiteral("the file is write-protected");
    }
    QString folder = GetFolderOf(path);
    if (folder.isEmpty())
        folder = QStringLiteral(".");
    const std::filesystem::path native = ToFsPath(folder);
    if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("the folder ") + folder + QStringLiteral(" does not exist");
    if (::access(native.c_str(), W_OK) != 0)
        return QStringLiteral("cannot write into ") + folder + QStringLiteral(": ") +
               QString::fromLocal8Bit(std::strerror(errno));
    return QStringLiteral("cannot write the file");
}
