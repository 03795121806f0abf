#include "pathlock.h"

#include "journal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// A fixed number of lock files, shared out by the path's hash: a lock file per photo would
// pile up, and removing one that another process waits on would break the lock.
constexpr int kStripes = 64;

} // namespace

QString CPathLock::Folder()
{
    return CUndoJournal::DefaultRoot() + QStringLiteral("/.locks");
}

CPathLock::CPathLock(const QString &path, int timeoutMs)
{
    const QString folder = Folder();
    if (!QFileInfo(folder).isDir()) {
        CUndoJournal(CUndoJournal::DefaultRoot()).Open(nullptr);
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
    }
    const QByteArray key = QCryptographicHash::hash(
        QFile::encodeName(QFileInfo(path).absoluteFilePath()), QCryptographicHash::Sha1);
    const QString file = folder + QStringLiteral("/stripe-") +
                         QString::number(quint8(key[0]) % kStripes);
    m_fd = ::open(QFile::encodeName(file).constData(),
                  O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_held = true;
        return;
    }
    for (int waited = 0;; waited += 20) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= timeoutMs)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(m_fd);
    m_fd = -1;
}

CPathLock::~CPathLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
