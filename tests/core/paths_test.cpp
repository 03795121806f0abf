#include "core/paths.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(Paths, JoinPathChoosesTheSeparatorOfItsParts)
{
    const struct {
        const char *a, *b, *joined;
    } rows[] = {
        {"C:\\out\\", "\\a.jpg", "C:\\out\\a.jpg"},
        {"C:", "a.jpg", "C:/a.jpg"},
        {"", "a.jpg", "a.jpg"},
        {"/home/me", "", "/home/me"},
        {"/home/me/", "/a.jpg", "/home/me/a.jpg"},
        {"out", "sub\\a.jpg", "out\\sub\\a.jpg"},
        {"out", "a.jpg", "out/a.jpg"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.a) + " + " + r.b);
        EXPECT_EQ(JoinPath(r.a, r.b), QString(r.joined));
    }
}

TEST(Paths, SplittingIntoFolderBaseNameAndExtension)
{
    const struct {
        const char *path, *folder, *base, *ext;
    } rows[] = {
        {"C:\\a\\b.jpg", "C:\\a", "b", "jpg"},
        {"a.jpg", "", "a", "jpg"},
        {"C:\\", "", "", ""},
        {"/home/me/photo.JPG", "/home/me", "photo", "JPG"},
        {"/a.jpg", "/", "a", "jpg"},
        {"/home/me/archive.tar.gz", "/home/me", "archive.tar", "gz"},
        {"/home/me/README", "/home/me", "README", ""},
        {"/home/me/sub/", "/home/me", "", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(GetFolderOf(r.path), QString(r.folder));
        EXPECT_EQ(GetFileBaseName(r.path), QString(r.base));
        EXPECT_EQ(GetFileExtension(r.path), QString(r.ext));
    }
}

TEST(Paths, PathsEqualIgnoresSeparatorsButNotLetterCase)
{
    EXPECT_TRUE(PathsEqual("C:/Pics/A.JPG", "C:\\Pics\\A.JPG\\"));
    EXPECT_TRUE(PathsEqual("/home/me/a.jpg", "/home/me/a.jpg/"));
    // Two files whose names differ only in case are two files here.
    EXPECT_FALSE(PathsEqual("/home/me/a.jpg", "/home/me/A.jpg"));
    EXPECT_FALSE(PathsEqual("/home/me/a.jpg", "/home/me/b.jpg"));
}

TEST(Paths, QueryFileSizeOfFilesFoldersAndMissingPaths)
{
    TempFolder dir;
    const QString file = dir.File("seven.bin");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("1234567");
    }
    EXPECT_EQ(QueryFileSize(file, false), 7);
    EXPECT_EQ(QueryFileSize(dir.Path(), false), -1);
    EXPECT_EQ(QueryFileSize(dir.Path(), true), 0);
    EXPECT_EQ(QueryFileSize(dir.File("missing"), true), -1);

    // A sparse file of exactly 4 GiB must not look empty.
    const QString big = dir.File("big.bin");
    FILE *fp = std::fopen(big.toUtf8().constData(), "wb");
    if (!fp) {
        FAIL() << "cannot create " << big.toStdString();
    }
    const bool sized = ::ftruncate(fileno(fp), 4LL << 30) == 0;
    std::fclose(fp);
    if (sized) {
        EXPECT_EQ(QueryFileSize(big, false), 4LL << 30);
    }
}

TEST(Paths, MakeUniquePathNumbersAndSuffixes)
{
    TempFolder dir;
    const QString folder = dir.Path() + "/";
    EXPECT_EQ(MakeUniquePath(folder, "x", "jpg", false), dir.Path() + "/x.jpg");
    ASSERT_NO_FATAL_FAILURE(Touch(dir.File("x.jpg")));
    EXPECT_EQ(MakeUniquePath(folder, "x", "jpg", false), dir.Path() + "/x00.jpg");
    ASSERT_NO_FATAL_FAILURE(Touch(dir.File("x00.jpg")));
    EXPECT_EQ(MakeUniquePath(folder, "x", "jpg", false), dir.Path() + "/x01.jpg");
    // Nothing is created, so asking again gives the same name.
    EXPECT_EQ(MakeUniquePath(folder, "x", "jpg", false), dir.Path() + "/x01.jpg");
    EXPECT_EQ(MakeUniquePath(folder, "noext", "", false), dir.Path() + "/noext");

    // Always-suffix: "00", the call counter, then a random number below 100.
    const QString a = MakeUniquePath(dir.Path(), "x", "jpg", true);
    const QString b = MakeUniquePath(dir.Path(), "x", "jpg", true);
    const QRegularExpression shape(QRegularExpression::escape(dir.Path()) + "/x00[0-9]+\\.jpg$");
    EXPECT_TRUE(shape.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(shape.match(b).hasMatch()) << b.toStdString();
    const int counterA = a.mid(dir.Path().size() + 4).chopped(4).toInt();
    EXPECT_NE(a, b);
    EXPECT_GT(counterA, 0);

    // The name is joined to the folder with "/", whatever separator the folder uses.
    EXPECT_EQ(MakeUniquePath("C:\\odd\\", "y", "png", false), "C:\\odd/y.png");
}

TEST(Paths, MakeTempPathLandsInTheTemporaryFolderWithASuffix)
{
    const QString temp = GetTempFolder();
    ASSERT_TRUE(temp.endsWith(u'/'));
    const QString p = MakeTempPath("notes.txt");
    EXPECT_TRUE(p.startsWith(temp)) << p.toStdString();
    EXPECT_TRUE(QRegularExpression("/notes00[0-9]+\\.txt$").match(p).hasMatch()) << p.toStdString();
    EXPECT_FALSE(p.contains(u'\\'));
    EXPECT_TRUE(QRegularExpression("/temp00[0-9]+$").match(MakeTempPath("")).hasMatch());
}

TEST(Paths, ListFolderEntriesIsOneLevelSortedAndKeepsDotFiles)
{
    TempFolder dir;
    for (const char *n : {"b.jpg", "A.jpg", ".hidden", "c.png"})
        ASSERT_NO_FATAL_FAILURE(Touch(dir.File(n)));
    QDir(dir.Path()).mkdir("sub");
    ASSERT_NO_FATAL_FAILURE(Touch(dir.File("sub/deep.jpg")));
    const QStringList entries = ListFolderEntries(dir.Path());
    QStringList names;
    for (const QString &e : entries)
        names << e.mid(dir.Path().size() + 1);
    EXPECT_EQ(names, QStringList({".hidden", "A.jpg", "b.jpg", "c.png", "sub"}));
    EXPECT_TRUE(ListFolderEntries(dir.File("missing")).isEmpty());
}

// Any name's bytes come back out of its QString unchanged; only names that are not UTF-8 are
// marked as such, and the others read as Qt reads them.
TEST(Paths, NativeNamesRoundTripWhateverTheirBytes)
{
    const struct {
        const char *bytes;
        bool utf8;
    } rows[] = {
        {"plain.jpg", true},
        {"caf\xc3\xa9.jpg", true},
        {"\xe2\x82\xac \xf0\x9f\x93\xb7 \xf4\x8f\xbf\xbf", true}, // up to U+10FFFF
        {"\xf0\x90\x82\x80.png", true},                            // U+10080, a pair ending DC80
        {"caf\xe9.jpg", false},                                    // Latin-1
        {"\xe9", false},
        {"\xff\xfe\x80", false},
        {"\xc0\xaf.jpg", false},         // an overlong "/"
        {"\xed\xa0\x80.jpg", false},     // an encoded surrogate
        {"\xf4\x90\x80\x80.jpg", false}, // beyond U+10FFFF
        {"\xe2\x82.jpg", false},         // cut short
        {"a\xe2\x82", false},            // cut short at the end
        {"\xc3\xa9\xe9\xc3\xa9", false}, // good, bad, good
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(QByteArray(row.bytes).toHex().toStdString());
        const QString name = FromNativeName(QByteArray(row.bytes));
        EXPECT_EQ(IsUtf8Path(name), row.utf8);
        EXPECT_EQ(ToFsPath(name).native(), std::string(row.bytes));
        EXPECT_EQ(ToFsPath("/x/" + name).native(), "/x/" + std::string(row.bytes));
        if (row.utf8) {
            EXPECT_EQ(name, QString::fromUtf8(row.bytes));
        }
    }
    EXPECT_EQ(FromNativeName("caf\xe9.jpg"), QString("caf") + QChar(0xDCE9) + ".jpg");
}

TEST(Paths, ListFolderEntriesKeepsNamesThatAreNotUtf8)
{
    TempFolder dir;
    const std::string latin1 = "caf\xe9.jpg";
    WriteFileBytes(dir.Fs(latin1), {'x'});
    ASSERT_NO_FATAL_FAILURE(Touch(dir.File("b.jpg")));
    const QStringList entries = ListFolderEntries(dir.Path());
    ASSERT_EQ(entries.size(), 2) << entries.join(", ").toStdString();
    EXPECT_EQ(entries[0], dir.File("b.jpg"));
    EXPECT_EQ(ToFsPath(entries[1]), dir.Fs(latin1));
    EXPECT_EQ(QueryFileSize(entries[1], false), 1);
}

TEST(Paths, FolderScanGuardRefusesALinkBackIntoAFolderBeingScanned)
{
    TempFolder dir;
    QDir(dir.Path()).mkdir("a");
    ASSERT_EQ(::symlink(dir.Path().toUtf8().constData(), dir.File("a/loop").toUtf8().constData()), 0);
    FolderScanGuard guard;
    ASSERT_TRUE(guard.Enter(dir.Path()));
    ASSERT_TRUE(guard.Enter(dir.File("a")));
    EXPECT_FALSE(guard.Enter(dir.File("a/loop")));
    guard.Leave();
    guard.Leave();
    // Once the scan has left it, the same folder may be scanned again.
    EXPECT_TRUE(guard.Enter(dir.File("a/loop")));
}

} // namespace
