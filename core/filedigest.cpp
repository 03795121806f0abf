#include "filedigest.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr auto kAlgorithm = QCryptographicHash::Blake2b_256;

} // namespace

QString FileDigest::Text() const
{
    return QString::number(size) + u':' + QString::fromLatin1(hash.toHex());
}

std::optional<FileDigest> FileDigest::FromText(const QString &text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    bool ok = false;
    FileDigest d;
    d.size = text.left(colon).toLongLong(&ok);
    const QByteArray hex = text.mid(colon + 1).toLatin1();
    d.hash = QByteArray::fromHex(hex);
    if (!ok || d.size < 0 || d.hash.size() != 32 || hex.size() != 64)
        return std::nullopt;
    return d;
}

std::optional<FileDigest> DigestOfFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    // A file of this process's own that has no name yet (a pending save) is reached through
    // the link /proc keeps for its descriptor; that link is no one's trap to follow.
    static const QRegularExpression ownDescriptor(QStringLiteral("^/proc/self/fd/[0-9]+$"));
    const int noFollow = ownDescriptor.match(path).hasMatch() ? 0 : O_NOFOLLOW;
    const int fd = ::open(native.constData(), O_RDONLY | noFollow | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QCryptographicHash hash(kAlgorithm);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        total += n;
    }
    ::close(fd);
    return FileDigest{total, hash.result()};
}

FileDigest DigestOfBytes(const QByteArray &bytes)
{
    return {bytes.size(), QCryptographicHash::hash(bytes, kAlgorithm)};
}
