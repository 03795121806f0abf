#include "paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <system_error>

namespace {

bool IsSep(QChar c)
{
    return c == u'\\' || c == u'/';
}

void RemoveTrailingSep(QString &s)
{
    if (!s.isEmpty() && IsSep(s.back()))
        s.chop(1);
}

void RemoveLeadingSep(QString &s)
{
    if (!s.isEmpty() && IsSep(s.front()))
        s.remove(0, 1);
}

// The four components of a path as the original platform's splitter gives them: an optional
// drive ("X:"), the folder with its trailing separator, the name and the extension with its dot.
struct SplitPath {
    QString drive, folder, name, extension;
};

SplitPath Split(const QString &path)
{
    SplitPath out;
    QString rest = path;
    if (rest.size() >= 2 && rest[1] == u':' && rest[0].isLetter()) {
        out.drive = rest.left(2);
        rest.remove(0, 2);
    }
    qsizetype lastSep = -1;
    for (qsizetype i = rest.size() - 1; i >= 0; --i)
        if (IsSep(rest[i])) {
            lastSep = i;
            break;
        }
    out.folder = rest.left(lastSep + 1);
    const QString file = rest.mid(lastSep + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    if (dot >= 0) {
        out.name = file.left(dot);
        out.extension = file.mid(dot);
    } else {
        out.name = file;
    }
    return out;
}

// A path counts as taken when anything at all stands there, a dangling link included:
// writing to it would follow the link.
bool PathExists(const QString &path)
{
    std::error_code ec;
    return std::filesystem::symlink_status(ToFsPath(path), ec).type() !=
           std::filesystem::file_type::not_found && !ec;
}

int g_uniqueCallCounter = 0;

// The separator two paths are written with: the first path's own (a backslash wins), else the
// second's, else fallback.
QChar SeparatorOf(const QString &first, const QString &second, QChar fallback)
{
    for (const QString *p : {&first, &second}) {
        if (p->contains(u'\\'))
            return u'\\';
        if (p->contains(u'/'))
            return u'/';
    }
    return fallback;
}

constexpr char16_t kEscapeBase = 0xDC00;

// A lone low surrogate in the escapes' range; the second half of a pair is a character.
bool IsEscapedByteAt(const QString &s, qsizetype i)
{
    const char16_t c = s[i].unicode();
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF &&
           (i == 0 || !s[i - 1].isHighSurrogate());
}

// The length of the well-formed UTF-8 sequence at bytes[i] (no overlong forms, no surrogates,
// nothing beyond U+10FFFF), or 0.
int Utf8SequenceAt(const QByteArray &bytes, qsizetype i)
{
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char b = at(i);
    if (b < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() - i < length || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (int k = 2; k < length; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return length;
}

} // namespace

QString FromNativeName(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        qsizetype run = i;
        while (run < bytes.size()) {
            const int n = Utf8SequenceAt(bytes, run);
            if (n == 0)
                break;
            run += n;
        }
        out += QString::fromUtf8(bytes.constData() + i, run - i);
        if (run < bytes.size()) {
            out += QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[run])));
            ++run;
        }
        i = run;
    }
    return out;
}

std::filesystem::path ToFsPath(const QString &path)
{
    if (IsUtf8Path(path))
        return std::filesystem::path(path.toStdString());
    std::string bytes;
    bytes.reserve(size_t(path.size()) * 3);
    qsizetype i = 0;
    while (i < path.size()) {
        qsizetype run = i;
        while (run < path.size() && !IsEscapedByteAt(path, run))
            ++run;
        bytes += QStringView(path).mid(i, run - i).toUtf8().toStdString();
        if (run < path.size())
            bytes += static_cast<char>(path[run].unicode() - kEscapeBase);
        i = run + 1;
    }
    return std::filesystem::path(bytes);
}

bool IsUtf8Path(const QString &path)
{
    for (qsizetype i = 0; i < path.size(); ++i)
        if (IsEscapedByteAt(path, i))
            return false;
    return true;
}

QString JoinPath(const QString &first, const QString &second)
{
    if (first.isEmpty())
        return second;
    if (second.isEmpty())
        return first;
    const QChar sep = SeparatorOf(first, second, u'/');
    QString a = first, b = second;
    RemoveTrailingSep(a);
    RemoveLeadingSep(b);
    return a + sep + b;
}

QString GetFolderOf(const QString &path)
{
    qsizetype first = path.indexOf(u'\\');
    if (first < 0)
        first = path.indexOf(u'/');
    if (first < 0 || first == path.size() - 1)
        return QString();
    QString p = path;
    RemoveTrailingSep(p);
    const SplitPath parts = Split(p);
    if (parts.folder.isEmpty())
        return QString();
    QString result = parts.drive + parts.folder;
    RemoveTrailingSep(result);
    // A file directly under the root lives in "/" (there are no drive letters here).
    if (result.isEmpty())
        return QStringLiteral("/");
    return result;
}

QString GetProgramFolder()
{
    QString exe;
    if (QCoreApplication::instance())
        exe = QCoreApplication::applicationFilePath();
    if (exe.isEmpty())
        exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return GetFolderOf(exe);
}

QString GetFileBaseName(const QString &path)
{
    return Split(path).name;
}

QString GetFileExtension(const QString &path)
{
    return Split(path).extension.mid(1);
}

QString FileNameOf(const QString &path)
{
    const QString ext = GetFileExtension(path);
    return ext.isEmpty() ? GetFileBaseName(path) : GetFileBaseName(path) + u'.' + ext;
}

bool PathsEqual(const QString &a, const QString &b)
{
    const QChar sep = SeparatorOf(a, b, QChar());
    QString x = a, y = b;
    for (QString *s : {&x, &y}) {
        RemoveTrailingSep(*s);
        RemoveLeadingSep(*s);
        if (!sep.isNull())
            for (QChar &c : *s)
                if (IsSep(c))
                    c = sep;
    }
    return x == y;
}

QString PathKey(QString path)
{
    path.replace(u'\\', u'/');
    RemoveTrailingSep(path);
    RemoveLeadingSep(path);
    return path;
}

qint64 QueryFileSize(const QString &path, bool folderCountsAsZero)
{
    std::error_code ec;
    const auto fs = ToFsPath(path);
    const auto status = std::filesystem::status(fs, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found)
        return -1;
    if (status.type() == std::filesystem::file_type::directory)
        return folderCountsAsZero ? 0 : -1;
    const auto size = std::filesystem::file_size(fs, ec);
    return ec ? -1 : static_cast<qint64>(size);
}

QString MakeUniquePath(const QString &folder, const QString &baseName, const QString &extension,
                       bool alwaysSuffix)
{
    return MakeUniquePath(folder, baseName, extension, alwaysSuffix, nullptr);
}

QString MakeUniquePath(const QString &folder, const QString &baseName, const QString &extension,
                       bool alwaysSuffix, const std::function<bool(const QString &)> &taken)
{
    auto isFree = [&taken](const QString &candidate) {
        return !PathExists(candidate) && !(taken && taken(candidate));
    };
    QString dir = folder;
    RemoveTrailingSep(dir);
    // A name without a folder stays relative; "/" in front would put it at the root.
    const QString prefix = dir.isEmpty() ? QString() : dir + u'/';
    const QString dot = extension.isEmpty() ? QString() : QStringLiteral(".");
    if (!alwaysSuffix) {
        const QString candidate = prefix + baseName + dot + extension;
        if (isFree(candidate))
            return candidate;
    }
    const int call = ++g_uniqueCallCounter;
    for (int i = 0; i < 60000; ++i) {
        QString suffix = (i < 10 ? QStringLiteral("0") : QString()) + QString::number(i);
        if (alwaysSuffix)
            suffix += QString::number(call) + QString::number(std::rand() % 100);
        const QString candidate = prefix + baseName + suffix + dot + extension;
        if (isFree(candidate))
            return candidate;
    }
    return QString();
}

QString MakeUniquePathLike(const QString &path, bool alwaysSuffix)
{
    return MakeUniquePath(GetFolderOf(path), GetFileBaseName(path), GetFileExtension(path),
                          alwaysSuffix);
}

QString MakeTempPath(const QString &name)
{
    const QString n = name.isEmpty() ? QStringLiteral("temp") : name;
    return MakeUniquePathLike(JoinPath(GetTempFolder(), n), true);
}

QString GetTempFolder()
{
    const QString reported = QDir::tempPath();
    if (reported.isEmpty())
        return QString();
    QString longForm = QFileInfo(reported).canonicalFilePath();
    if (longForm.isEmpty())
        longForm = reported;
    if (!longForm.endsWith(u'/'))
        longForm += u'/';
    return longForm;
}

QStringList ListFolderEntries(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    // Read directly: Qt's listing leaves out every name that is not UTF-8.
    DIR *dir = ::opendir(ToFsPath(folder).c_str());
    if (!dir)
        return {};
    QStringList names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << FromNativeName(name);
    }
    ::closedir(dir);
    // Name order, as the original platform lists folders; Linux lists them in hash order,
    // which would shuffle everything built from a folder.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &n : names)
        paths << JoinPath(folder, n);
    return paths;
}

bool FolderScanGuard::Enter(const QString &folder)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(ToFsPath(folder), ec);
    const QString key = ec ? folder : FromNativeName(QByteArray::fromStdString(real.native()));
    if (m_inside.contains(key))
        return false;
    m_inside.push_back(key);
    return true;
}

void FolderScanGuard::Leave()
{
    if (!m_inside.isEmpty())
        m_inside.pop_back();
}
