#include "safefile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Native(const QString &path)
{
    return QFile::encodeName(path);
}

bool Fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Every byte of data to fd, past short writes and interruptions; errno tells why not.
bool WriteAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qint64>(size, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

QString RandomSuffix()
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    return QString::number(random(), 36);
}

} // namespace

QString ErrnoText(int err)
{
    switch (err) {
    case ENOSPC:
        return QStringLiteral("the disk is full");
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EROFS:
        return QStringLiteral("the disk can only be read");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case ENOENT:
        return QStringLiteral("it does not exist");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

bool WriteFileWhole(const QString &path, const QByteArray &data, QString *error)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString temp = folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".pxnew-") +
                         RandomSuffix();
    struct stat old {};
    const mode_t mode = ::stat(Native(path).constData(), &old) == 0 ? (old.st_mode & 07777) : 0600;
    // Unnamed until it is whole, where the file system allows it: a process killed on the way
    // leaves nothing behind.
    bool unnamed = true;
    int fd = ::open(Native(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0) {
        unnamed = false;
        fd = ::open(Native(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    }
    if (fd < 0)
        return Fail(error, QStringLiteral("cannot write into ") + folder + QStringLiteral(": ") +
                               ErrnoText(errno));
    bool ok = WriteAll(fd, data.constData(), data.size()) && ::fsync(fd) == 0 &&
              ::fchmod(fd, mode) == 0;
    int err = ok ? 0 : errno;
    if (ok && unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, Native(temp).constData(),
                     AT_SYMLINK_FOLLOW) != 0) {
            ok = false;
            err = errno;
        }
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(Native(temp).constData(), Native(path).constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(Native(temp).constData());
        return Fail(error, QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                               ErrnoText(err));
    }
    // The new name itself lasts only once the folder is on disk too.
    const int dir = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool AppendWhole(const QString &path, const QByteArray &data, QString *error, bool durable)
{
    const int fd = ::open(Native(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return Fail(error, QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                               ErrnoText(errno));
    struct stat st {};
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    bool ok = before >= 0 && WriteAll(fd, data.constData(), data.size()) &&
              (!durable || ::fsync(fd) == 0);
    const int err = errno;
    if (!ok && before >= 0) {
        // What was written of a record that is not whole would read as a record cut short.
        while (::ftruncate(fd, before) != 0 && errno == EINTR) {
        }
        ::fsync(fd);
    }
    if (::close(fd) != 0 && ok)
        return Fail(error, QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                               ErrnoText(errno));
    if (!ok)
        return Fail(error, QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                               ErrnoText(err));
    return true;
}

std::optional<QByteArray> ReadRegularFile(const QString &path, qint64 maxBytes, QString *error)
{
    // O_NONBLOCK: a FIFO swapped in after the check below still cannot stop the open.
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail(error, ErrnoText(errno));
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Fail(error, QStringLiteral("not a regular file"));
        return std::nullopt;
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        Fail(error, QStringLiteral("larger than %1 bytes").arg(maxBytes));
        return std::nullopt;
    }
    QByteArray data;
    data.resize(qsizetype(st.st_size));
    qint64 got = 0;
    for (;;) {
        if (got == data.size())
            data.resize(data.size() + 4096); // it grew while it was read
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            Fail(error, ErrnoText(err));
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += n;
        if (got > maxBytes) {
            ::close(fd);
            Fail(error, QStringLiteral("larger than %1 bytes").arg(maxBytes));
            return std::nullopt;
        }
    }
    ::close(fd);
    data.truncate(qsizetype(got));
    return data;
}

std::optional<struct timespec> ModificationTime(const QString &path)
{
    struct stat st {};
    if (::stat(Native(path).constData(), &st) != 0)
        return std::nullopt;
    return st.st_mtim;
}

QString SetModificationTime(const QString &path, const struct timespec &time)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, time};
    if (::utimensat(AT_FDCWD, Native(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0)
        return QString();
    return ErrnoText(errno);
}
