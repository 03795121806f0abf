#include "pxfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int PxOpenRegularFile(const std::filesystem::path &path, bool *special)
{
    if (special)
        *special = false;
    auto refuse = [special](const struct stat &st) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
        } else {
            errno = EINVAL;
            if (special)
                *special = true;
        }
        return -1;
    };
    // A look first, so that a device is never opened at all (opening some has effects).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode))
        return refuse(st);
    // O_NONBLOCK: a pipe put there since the look opens at once instead of waiting for a writer,
    // and the descriptor's own type decides.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    const bool looked = ::fstat(fd, &st) == 0;
    if (!looked || !S_ISREG(st.st_mode)) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return looked ? refuse(st) : -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int PxFile::GetC()
{
    uint8_t c = 0;
    return Read(&c, 1, 1) == 1 ? c : EOF;
}

bool PxFile::PutC(uint8_t c)
{
    return Write(&c, 1, 1) == 1;
}

bool PxFile::PutWord(uint16_t w)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(w & 0xFF), static_cast<uint8_t>(w >> 8)};
    return Write(bytes, 1, 2) == 2;
}

// ------------------------------------------------------------------------------------------
// PxIOFile

PxIOFile::~PxIOFile()
{
    if (m_fp && m_owned)
        std::fclose(m_fp);
}

bool PxIOFile::Open(const std::filesystem::path &path, const char *mode)
{
    if (m_fp)
        Close();
    m_failed = false;
    m_refusedSpecial = false;
    const bool readOnly = mode[0] == 'r' && !std::strchr(mode, '+');
    if (!readOnly) {
        m_fp = std::fopen(path.c_str(), mode);
        m_owned = m_fp != nullptr;
        return m_fp != nullptr;
    }
    const int fd = PxOpenRegularFile(path, &m_refusedSpecial);
    return fd >= 0 && OpenDescriptor(fd, mode);
}

bool PxIOFile::OpenDescriptor(int fd, const char *mode)
{
    if (m_fp)
        Close();
    m_failed = false;
    m_fp = fd >= 0 ? ::fdopen(fd, mode) : nullptr;
    if (!m_fp && fd >= 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    m_owned = m_fp != nullptr;
    return m_fp != nullptr;
}

bool PxIOFile::Close()
{
    if (!m_fp)
        return !m_failed;
    // Buffered writes only meet a full disk or a broken device at the flush, so both the flush
    // and the close count: a file is complete only when both succeeded.
    bool ok = std::fflush(m_fp) == 0 && !std::ferror(m_fp) && !m_failed;
    if (m_owned && std::fclose(m_fp) != 0)
        ok = false;
    m_fp = nullptr;
    m_owned = false;
    if (!ok)
        m_failed = true;
    return ok;
}

size_t PxIOFile::Read(void *buffer, size_t size, size_t count)
{
    if (!m_fp) {
        m_failed = true;
        return 0;
    }
    if (size == 0 || count == 0)
        return 0;
    const size_t n = std::fread(buffer, size, count, m_fp);
    if (n < count)
        m_failed = true;
    return n;
}

size_t PxIOFile::Write(const void *buffer, size_t size, size_t count)
{
    if (!m_fp) {
        m_failed = true;
        return 0;
    }
    if (size == 0 || count == 0)
        return 0;
    const size_t n = std::fwrite(buffer, size, count, m_fp);
    if (n < count)
        m_failed = true;
    return n;
}

bool PxIOFile::Seek(int64_t offset, int origin)
{
    if (!m_fp)
        return false;
    return fseeko(m_fp, static_cast<off_t>(offset), origin) == 0;
}

int64_t PxIOFile::Tell()
{
    if (!m_fp)
        return -1;
    return static_cast<int64_t>(ftello(m_fp));
}

int64_t PxIOFile::Size()
{
    if (!m_fp)
        return -1;
    struct stat st {};
    if (fstat(fileno(m_fp), &st) == 0 && S_ISREG(st.st_mode)) {
        // Data still in the write buffer is not in st_size yet.
        const int64_t pos = Tell();
        return std::max<int64_t>(st.st_size, pos);
    }
    const int64_t pos = Tell();
    if (pos < 0 || fseeko(m_fp, 0, SEEK_END) != 0)
        return -1;
    const int64_t end = Tell();
    fseeko(m_fp, static_cast<off_t>(pos), SEEK_SET);
    return end;
}

bool PxIOFile::Flush()
{
    if (!m_fp)
        return false;
    if (std::fflush(m_fp) != 0) {
        m_failed = true;
        return false;
    }
    return true;
}

bool PxIOFile::Eof()
{
    return !m_fp || std::feof(m_fp) != 0;
}

bool PxIOFile::Error()
{
    return m_failed || (m_fp && std::ferror(m_fp) != 0);
}

void PxIOFile::ClearError()
{
    m_failed = false;
    if (m_fp)
        std::clearerr(m_fp);
}

int PxIOFile::GetC()
{
    if (!m_fp) {
        m_failed = true;
        return EOF;
    }
    const int c = std::getc(m_fp);
    if (c == EOF)
        m_failed = true;
    return c;
}

bool PxIOFile::PutC(uint8_t c)
{
    if (!m_fp || std::putc(c, m_fp) == EOF) {
        m_failed = true;
        return false;
    }
    return true;
}

// ------------------------------------------------------------------------------------------
// PxMemFile: a read-only view when constructed over data, otherwise a growing buffer.

namespace {
size_t MemSize(const uint8_t *readOnly, size_t size, const std::vector<uint8_t> &buffer)
{
    return readOnly ? size : buffer.size();
}
} // namespace

size_t PxMemFile::Read(void *buffer, size_t size, size_t count)
{
    if (size == 0 || count == 0)
        return 0;
    const size_t total = MemSize(m_readOnly, m_size, m_buffer);
    const size_t avail = m_pos < total ? total - m_pos : 0;
    const size_t items = std::min(count, avail / size);
    if (items > 0) {
        std::memcpy(buffer, Data() + m_pos, items * size);
        m_pos += items * size;
    }
    if (items < count) {
        m_eof = true;
        m_failed = true;
    }
    return items;
}

size_t PxMemFile::Write(const void *buffer, size_t size, size_t count)
{
    if (size == 0 || count == 0)
        return 0;
    size_t bytes = 0, end = 0;
    if (m_readOnly || __builtin_mul_overflow(size, count, &bytes) ||
        __builtin_add_overflow(m_pos, bytes, &end) ||
        end > static_cast<size_t>(std::numeric_limits<int64_t>::max())) {
        m_failed = true;
        return 0;
    }
    try {
        if (end > m_buffer.size())
            m_buffer.resize(end);
    } catch (const std::bad_alloc &) {
        m_failed = true;
        return 0;
    }
    std::memcpy(m_buffer.data() + m_pos, buffer, bytes);
    m_pos = end;
    return count;
}

bool PxMemFile::Seek(int64_t offset, int origin)
{
    int64_t base = 0;
    switch (origin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<int64_t>(m_pos); break;
    case SEEK_END: base = Size(); break;
    default: return false;
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        return false;
    m_pos = static_cast<size_t>(target);
    m_eof = false;
    return true;
}

int64_t PxMemFile::Tell()
{
    return static_cast<int64_t>(m_pos);
}

int64_t PxMemFile::Size()
{
    return static_cast<int64_t>(MemSize(m_readOnly, m_size, m_buffer));
}

bool PxMemFile::Eof()
{
    return m_eof;
}

int PxMemFile::GetC()
{
    if (m_pos < MemSize(m_readOnly, m_size, m_buffer))
        return Data()[m_pos++];
    m_eof = true;
    m_failed = true;
    return EOF;
}

bool PxMemFile::PutC(uint8_t c)
{
    return Write(&c, 1, 1) == 1;
}
