// Reading and writing image files: format codes, content detection and the dispatch to the
// codecs, plus the save that never leaves a half-written file behind.

#include "pxcodecs_p.h"
#include "pxformats_p.h"
#include "pxpendingsave.h"
#include "pxfile.h"
#include "pximage.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
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

// A name in the target's folder that nothing uses yet, hidden so that a file manager watching
// the folder does not show it while it is being written.
fs::path TempNameBeside(const fs::path &target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 rng{std::random_device{}()};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".pxsave-%ld-%u-%08x", static_cast<long>(getpid()),
                  counter++ + attempt, static_cast<unsigned>(rng()));
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    return folder / ("." + target.filename().string() + suffix);
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
// A file that cannot be opened fails without touching the last error.
template <typename DecodeFile>
bool LoadWith(PxImage &image, const fs::path &path, uint32_t format, DecodeFile &&decode)
{
    const bool named = format != PXFORMAT_UNKNOWN && PxFindFormatRow(format);
    if (named) {
        PxIOFile file;
        if (!file.Open(path, "rb"))
            return false;
        if (decode(file, format))
            return true;
    }
    const std::string kept = image.GetLastError();
    PxIOFile file;
    if (!file.Open(path, "rb"))
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

    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && !S_ISREG(old.st_mode) && !S_ISDIR(old.st_mode)) {
        PxMemFile memory;
        if (!Encode(memory, format))
            return false;
        pending.m_target = target;
        pending.m_bytes = memory.Buffer();
        pending.m_direct = true;
        return true;
    }

    PxIOFile file;
    fs::path temp;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temp = TempNameBeside(target, attempt);
        // "x": create exclusively, never reuse a name someone else just took.
        if (file.Open(temp, "wbx"))
            break;
        if (errno != EEXIST)
            return false;
    }
    if (!file.GetFP())
        return false;
    const bool encoded = Encode(file, format);
    const bool closed = file.Close();
    if (!encoded || !closed) {
        if (encoded)
            SetLastError("Save: write error, the file is incomplete");
        fs::remove(temp, ec);
        return false;
    }
    pending.m_target = target;
    pending.m_temp = temp;
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
        m_bytes = std::move(other.m_bytes);
        m_direct = other.m_direct;
        other.m_temp.clear();
        other.m_bytes.clear();
        other.m_direct = false;
    }
    return *this;
}

void PxPendingSave::Discard()
{
    if (!m_temp.empty()) {
        std::error_code ec;
        fs::remove(m_temp, ec);
        m_temp.clear();
    }
    m_bytes.clear();
    m_direct = false;
}

bool PxPendingSave::Commit(std::string *error)
{
    if (!IsPending())
        return false;
    struct stat old {};
    const bool exists = ::stat(m_target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        Discard();
        return false;
    }
    if (m_direct || (exists && !S_ISREG(old.st_mode))) {
        // Devices and pipes cannot be replaced: they get the bytes written into them.
        bool written = false;
        if (m_direct) {
            PxIOFile file;
            if (file.Open(m_target, "wb")) {
                written = file.Write(m_bytes.data(), 1, m_bytes.size()) == m_bytes.size();
                written = file.Close() && written;
            }
        } else {
            std::error_code ec;
            written = fs::copy_file(m_temp, m_target, fs::copy_options::overwrite_existing, ec) &&
                      !ec;
        }
        if (!written && error)
            *error = "Save: write error, the file is incomplete";
        Discard();
        return written;
    }
    // Running as root, writing would succeed anyway: the owner-write bit is what marks a file
    // the user protected, and a protected file stays as it is.
    if (exists && !(old.st_mode & S_IWUSR)) {
        Discard();
        return false;
    }
    if (exists) {
        const int fd = ::open(m_temp.c_str(), O_RDONLY);
        if (fd >= 0) {
            AdoptOwnerAndMode(fd, old);
            ::close(fd);
        }
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        if (error)
            *error = "Save: can't replace the file";
        Discard();
        return false;
    }
    m_temp.clear();
    return true;
}
