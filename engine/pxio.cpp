// Reading and writing image files: format codes, content detection and the dispatch to the
// codecs, plus the save that never leaves a half-written file behind.

#include "pxcodecs_p.h"
#include "pxcolour_p.h"
#include "pxformats_p.h"
#include "pxpendingsave.h"
#include "pxfile.h"
#include "pximage.h"
#include "pxsave_testhooks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char *kUnknownFormat = "Decode: Unknown or wrong format";

// Content detection order: every readable format with a detection rank, by rank.
const std::vector<const PxFormatRow *> &DetectionOrder()
{
    static const std::vector<const PxFormatRow *> order = [] {
        std::vector<const PxFormatRow *> rows;
        for (const PxFormatRow &row : PxFormatRows())
            if (row.info.detectionRank > 0)
                rows.push_back(&row);
        std::sort(rows.begin(), rows.end(), [](const PxFormatRow *a, const PxFormatRow *b) {
            return a->info.detectionRank < b->info.detectionRank;
        });
        return rows;
    }();
    return order;
}

constexpr const char kPendingMark[] = ".pxsave-";

std::atomic<bool> g_unnamedAllowed{true};

// A name in the target's folder that nothing uses yet, hidden so that a file manager watching
// the folder does not show it while it exists: ".NAME.pxsave-PID-COUNTER-RANDOM".
fs::path TempNameBeside(const fs::path &target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 rng{std::random_device{}()};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%s%ld-%u-%08x", kPendingMark, static_cast<long>(getpid()),
                  counter++ + attempt, static_cast<unsigned>(rng()));
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    return folder / ("." + target.filename().string() + suffix);
}

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Exactly the names TempNameBeside makes, and nothing a user would name a file.
bool IsPendingFileName(std::string_view name)
{
    if (name.size() < 1 + 1 + std::strlen(kPendingMark) + 1 + 1 + 1 + 1 + 8 || name[0] != '.')
        return false;
    const std::string_view random = name.substr(name.size() - 8);
    if (!std::all_of(random.begin(), random.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        }))
        return false;
    name.remove_suffix(8);
    if (name.back() != '-')
        return false;
    name.remove_suffix(1);
    const size_t counterDash = name.rfind('-');
    if (counterDash == std::string_view::npos || !AllDigits(name.substr(counterDash + 1)))
        return false;
    name = name.substr(0, counterDash);
    const size_t mark = name.rfind(kPendingMark);
    // Not at 0 or 1: something must stand between the leading dot and the mark.
    return mark != std::string_view::npos && mark > 1 &&
           AllDigits(name.substr(mark + std::strlen(kPendingMark)));
}

// Hidden files left by saves whose process was killed before the commit: on a file system
// without unnamed files, by an older version that always named them, or in the instant between
// naming an unnamed file and renaming it. A day is longer than any save takes, so a file that
// old belongs to no save in progress, whoever made it. Only the user's own regular files are
// touched; each folder is looked at once per process.
void RemoveStrayPendingFiles(const fs::path &folder)
{
    static std::mutex mutex;
    static std::set<std::string> done;
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec).lexically_normal();
    {
        std::lock_guard lock(mutex);
        if (ec || !done.insert(absolute.string()).second)
            return;
    }
    const int dirFd = ::open(absolute.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    const time_t cutoff = std::time(nullptr) - 24 * 60 * 60;
    while (const dirent *entry = ::readdir(dir)) {
        if (!IsPendingFileName(entry->d_name))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_mtime > cutoff)
            continue;
        ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

std::string DescriptorPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// Readers of a pending save (verifying it, hashing it) and the commit reach an unnamed file
// through /proc; without it the file could only be named.
bool DescriptorPathWorks(int fd)
{
    struct stat viaFd {}, viaPath {};
    return ::fstat(fd, &viaFd) == 0 && ::stat(DescriptorPath(fd).c_str(), &viaPath) == 0 &&
           viaFd.st_dev == viaPath.st_dev && viaFd.st_ino == viaPath.st_ino;
}

// A file for what target will hold, in target's folder: unnamed where the file system allows,
// else under a hidden name (*temp). -1 with errno when neither can be made.
int CreatePendingFile(const fs::path &target, fs::path *temp)
{
    temp->clear();
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (g_unnamedAllowed) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (DescriptorPathWorks(fd))
                return fd;
            ::close(fd);
        }
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const fs::path name = TempNameBeside(target, attempt);
        // O_EXCL: never reuse a name someone else just took.
        const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *temp = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Gives the unnamed file of fd the name path; false with errno (EEXIST when path is taken).
bool LinkDescriptor(int fd, const fs::path &path)
{
    return ::linkat(AT_FDCWD, DescriptorPath(fd).c_str(), AT_FDCWD, path.c_str(),
                    AT_SYMLINK_FOLLOW) == 0;
}

// The replacement takes over the old file's owner where the user may give a file away (root)
// and its permission bits; otherwise it belongs to the one saving, as a copy would. The owner
// goes first because changing it clears set-id bits.
void AdoptOwnerAndMode(int fd, const struct stat &old)
{
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
        [[maybe_unused]] const int ignored = fchown(fd, old.st_uid, old.st_gid);
    }
    fchmod(fd, old.st_mode & 07777);
}

// Runs attempt(code) for the named format, or for every format in detection order, each from
// where the stream stood, until one succeeds; when none does, the last error says so.
template <typename Attempt>
bool TryFormats(PxImage &image, PxFile &file, uint32_t format, Attempt &&attempt)
{
    if (format != PXFORMAT_UNKNOWN) {
        if (!PxFindFormatRow(format)) {
            image.SetLastError(kUnknownFormat);
            return false;
        }
        return attempt(format);
    }
    const int64_t start = file.Tell();
    for (const PxFormatRow *row : DetectionOrder()) {
        if (start >= 0)
            file.Seek(start, SEEK_SET);
        file.ClearError();
        if (attempt(row->info.code))
            return true;
    }
    image.SetLastError(kUnknownFormat);
    return false;
}

// Reads path with decode(file, format): first as the named format, then by content when that
// fails. The caller wants to know why the named format failed, not that detection failed too.
// A file that cannot be opened fails without touching the last error, unless it is a pipe,
// socket or device: that has a reason of its own.
template <typename DecodeFile>
bool LoadWith(PxImage &image, const fs::path &path, uint32_t format, DecodeFile &&decode)
{
    auto open = [&](PxIOFile &file) {
        if (file.Open(path, "rb"))
            return true;
        if (file.RefusedSpecialFile())
            image.SetLastError(kPxNotRegularFile);
        return false;
    };
    const bool named = format != PXFORMAT_UNKNOWN && PxFindFormatRow(format);
    if (named) {
        PxIOFile file;
        if (!open(file))
            return false;
        if (decode(file, format))
            return true;
    }
    const std::string kept = image.GetLastError();
    PxIOFile file;
    if (!open(file))
        return false;
    const bool ok = decode(file, PXFORMAT_UNKNOWN);
    if (!ok && named)
        image.SetLastError(kept.c_str());
    return ok;
}

} // namespace

bool PxImage::Decode(PxFile &file, uint32_t format)
{
    // Every attempt decodes into a fresh image, so a failing codec can never leave this image
    // half replaced; only a complete result is moved in.
    auto attempt = [&](uint32_t code) -> bool {
        PxImage result(code);
        // What the caller asked of the decoder travels with the attempt.
        result.SetJpegScale(GetJpegScale());
        result.SetKeepMetadata(GetKeepMetadata());
        result.SetDecodeFitBox(GetDecodeFitWidth(), GetDecodeFitHeight());
        result.SetFrame(GetFrame());
        result.SetEscape(GetEscape());
        bool ok = false;
        try {
            if (const PxFormatRow *row = PxFindFormatRow(code))
                ok = row->decode(file, result, code);
        } catch (const PxError &e) {
            result.SetLastError(e.text.c_str());
        } catch (const std::bad_alloc &) {
            result.SetLastError("PxImage::Create can't allocate memory");
        }
        if (ok && result.IsValid()) {
            if (result.GetType() == PXFORMAT_UNKNOWN)
                result.SetType(code);
            // Thumbnails and previews come this way too, so they show the colours the file
            // describes.
            pxcolour::SettleDecodedColours(result);
            Transfer(result);
            return true;
        }
        SetLastError(result.GetLastError()[0] ? result.GetLastError() : kUnknownFormat);
        return false;
    };

    return TryFormats(*this, file, format, attempt);
}

bool PxImage::DecodeHeader(PxFile &file, uint32_t format, PxHeaderInfo &info)
{
    auto attempt = [&](uint32_t code) -> bool {
        PxImage errors(code);
        PxHeaderInfo found;
        bool ok = false;
        try {
            if (const PxFormatRow *row = PxFindFormatRow(code))
                ok = row->header(file, errors, found, code);
        } catch (const PxError &e) {
            errors.SetLastError(e.text.c_str());
        } catch (const std::bad_alloc &) {
            errors.SetLastError("PxImage::Create can't allocate memory");
        }
        if (ok) {
            // A codec that serves a family of formats names the one the file is.
            if (found.format == PXFORMAT_UNKNOWN)
                found.format = code;
            info = found;
            return true;
        }
        SetLastError(errors.GetLastError()[0] ? errors.GetLastError() : kUnknownFormat);
        return false;
    };

    return TryFormats(*this, file, format, attempt);
}

bool PxImage::LoadHeader(const fs::path &path, uint32_t format, PxHeaderInfo &info)
{
    return LoadWith(*this, path, format,
                    [&](PxFile &file, uint32_t code) { return DecodeHeader(file, code, info); });
}

bool PxImage::Decode(const uint8_t *data, size_t size, uint32_t format)
{
    PxMemFile file(data, data ? size : 0);
    return Decode(file, format);
}

bool PxImage::Encode(PxFile &file, uint32_t format)
{
    if (!IsValid()) {
        SetLastError("null image!!!");
        return false;
    }
    if (auto *io = dynamic_cast<PxIOFile *>(&file); io && !io->GetFP()) {
        SetLastError("null file handler");
        return false;
    }
    const PxFormatRow *row = PxFindFormatRow(format);
    if (!row) {
        SetLastError("Encode: Unknown format");
        return false;
    }
    bool ok = false;
    try {
        ok = row->encode(file, *this, format);
    } catch (const PxError &e) {
        SetLastError(e.text.c_str());
        return false;
    } catch (const std::bad_alloc &) {
        SetLastError("PxImage::Create can't allocate memory");
        return false;
    }
    // A codec that ignored a failed write must not turn a truncated file into a success.
    if (ok && (!file.Flush() || file.Error())) {
        SetLastError("Encode: write error");
        ok = false;
    }
    return ok;
}

bool PxImage::Load(const fs::path &path, uint32_t format)
{
    return LoadWith(*this, path, format,
                    [&](PxFile &file, uint32_t code) { return Decode(file, code); });
}

bool PxImage::SaveToPending(const fs::path &path, uint32_t format, PxPendingSave &pending)
{
    pending.Discard();
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        // Replace the file the link points to, not the link.
        fs::path resolved = fs::canonical(path, ec);
        if (!ec)
            target = resolved;
    }

    // Nothing encoded could take the place of a pipe, socket or device, and writing into one
    // could block or reach hardware: it is refused before any work is done.
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode) && !S_ISDIR(old.st_mode)) {
        SetLastError(kPxNotRegularFile);
        return false;
    }
    if (!exists || !S_ISDIR(old.st_mode))
        RemoveStrayPendingFiles(target.has_parent_path() ? target.parent_path() : fs::path("."));

    fs::path temp;
    const int fd = CreatePendingFile(target, &temp);
    if (fd < 0)
        return false;
    auto drop = [&] {
        ::close(fd);
        if (!temp.empty())
            fs::remove(temp, ec);
    };
    PxIOFile file;
    const int writeFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (writeFd < 0 || !file.OpenDescriptor(writeFd, "wb")) {
        SetLastError("Save: can't write the file");
        drop();
        return false;
    }
    errno = 0;
    const bool encoded = Encode(file, format);
    // The data reaches the disk here, on the thread that encoded it: once the commit has
    // renamed the file over the old one, a crash must not leave a target with holes in it. A
    // file that replaces nothing risks nobody's picture, and is left to the system's own pace.
    const bool closed = file.Close() && (!exists || ::fsync(fd) == 0);
    if (!encoded || !closed) {
        const int err = errno;
        if (encoded)
            SetLastError(err ? (std::string("Save: write error, the file is incomplete (") +
                                std::strerror(err) + ")")
                                   .c_str()
                             : "Save: write error, the file is incomplete");
        drop();
        return false;
    }
    pending.m_target = target;
    pending.m_temp = temp;
    pending.m_encoded = temp.empty() ? fs::path(DescriptorPath(fd)) : temp;
    pending.m_fd = fd;
    return true;
}

bool PxImage::Save(const fs::path &path, uint32_t format)
{
    PxPendingSave pending;
    if (!SaveToPending(path, format, pending))
        return false;
    std::string error;
    if (pending.Commit(&error))
        return true;
    if (!error.empty())
        SetLastError(error.c_str());
    return false;
}

PxPendingSave::~PxPendingSave()
{
    Discard();
}

PxPendingSave::PxPendingSave(PxPendingSave &&other) noexcept
{
    *this = std::move(other);
}

PxPendingSave &PxPendingSave::operator=(PxPendingSave &&other) noexcept
{
    if (this != &other) {
        Discard();
        m_target = std::move(other.m_target);
        m_temp = std::move(other.m_temp);
        m_encoded = std::move(other.m_encoded);
        m_bytes = std::move(other.m_bytes);
        m_fd = other.m_fd;
        other.m_temp.clear();
        other.m_encoded.clear();
        other.m_bytes.clear();
        other.m_fd = -1;
    }
    return *this;
}

void PxPendingSave::Discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        std::error_code ec;
        fs::remove(m_temp, ec);
        m_temp.clear();
    }
    m_encoded.clear();
    m_bytes.clear();
}

bool PxPendingSave::Commit(std::string *error)
{
    if (!IsPending())
        return false;
    auto fail = [&](const char *text, int err = 0) {
        if (text && error)
            *error = err ? std::string(text) + " (" + std::strerror(err) + ")" : text;
        Discard();
        return false;
    };
    struct stat old {};
    const bool exists = ::stat(m_target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return fail(nullptr);
    // What stands there now may have changed since the save was prepared.
    if (exists && !S_ISREG(old.st_mode))
        return fail(kPxNotRegularFile);
    // Running as root, writing would succeed anyway: the owner-write bit is what marks a file
    // the user protected, and a protected file stays as it is.
    if (exists && !(old.st_mode & S_IWUSR))
        return fail(nullptr);
    if (exists)
        AdoptOwnerAndMode(m_fd, old);
    if (m_temp.empty()) {
        // A new file gets its name in one step; one that replaces another is named beside it
        // first, as rename is the only way to take over a name atomically.
        if (!exists && LinkDescriptor(m_fd, m_target)) {
            Discard();
            return true;
        }
        fs::path temp;
        for (unsigned attempt = 0; attempt < 100 && temp.empty(); ++attempt) {
            const fs::path name = TempNameBeside(m_target, attempt);
            if (LinkDescriptor(m_fd, name))
                temp = name;
            else if (errno != EEXIST)
                break;
        }
        if (temp.empty())
            return fail("Save: can't replace the file", errno);
        m_temp = temp;
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
        return fail("Save: can't replace the file", errno);
    m_temp.clear();
    Discard();
    return true;
}

bool PxPendingSave::Retarget(const std::filesystem::path &path)
{
    if (!IsPending() || path.filename().empty())
        return false;
    std::error_code ec1, ec2;
    const fs::path before = fs::weakly_canonical(fs::absolute(m_target, ec1).parent_path(), ec1);
    const fs::path after = fs::weakly_canonical(fs::absolute(path, ec2).parent_path(), ec2);
    if (ec1 || ec2 || before != after)
        return false;
    m_target = after / path.filename();
    return true;
}

void PxAllowUnnamedPendingFilesForTests(bool allowed)
{
    g_unnamedAllowed = allowed;
}
