// The list's entries without a widget: which files get in, and that lookups, notes and
// thumbnail cells stay with their entries as others are removed.

#include "imagelist/imagelistmodel.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <unistd.h>

namespace {

QByteArray Native(const QString &path)
{
    return QFile::encodeName(path);
}

// Makes the given folder the working one while it lives.
class WorkingFolder {
public:
    explicit WorkingFolder(const QString &folder) : m_before(QDir::currentPath())
    {
        EXPECT_TRUE(QDir::setCurrent(folder));
    }
    ~WorkingFolder() { QDir::setCurrent(m_before); }

private:
    QString m_before;
};

class ListModel : public ::testing::Test {
protected:
    // The model only looks at a file's place and identity, so any content will do.
    QString Touch(const QString &name, const QByteArray &bytes = "x")
    {
        const QString path = dir.File(name);
        QDir().mkpath(path.left(path.lastIndexOf(u'/')));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
        f.write(bytes);
        return path;
    }
    QString SymLink(const QString &target, const QString &name)
    {
        const QString link = dir.File(name);
        EXPECT_EQ(::symlink(Native(target).constData(), Native(link).constData()), 0);
        return link;
    }
    QString HardLink(const QString &target, const QString &name)
    {
        const QString link = dir.File(name);
        EXPECT_EQ(::link(Native(target).constData(), Native(link).constData()), 0);
        return link;
    }
    // Puts new contents at the path as saving does: a new file renamed over the old one, so the
    // path then names another inode.
    void Replace(const QString &path)
    {
        const QString fresh = Touch("replacement.tmp", "new");
        ASSERT_EQ(::rename(Native(fresh).constData(), Native(path).constData()), 0);
    }

    TempFolder dir;
    CImageListModel model;
};

TEST_F(ListModel, RelativePathsEnterJoinedToTheWorkingFolder)
{
    const QString a = Touch("a.png");
    const QString nested = Touch("sub/b.png");
    {
        WorkingFolder here(dir.Path());
        EXPECT_TRUE(model.Add(a));
        EXPECT_TRUE(model.Add("sub/b.png"));
        EXPECT_TRUE(model.Holds("sub/b.png"));
        EXPECT_FALSE(model.Add(""));
    }
    EXPECT_EQ(model.Paths(), QStringList({a, nested}));
    EXPECT_EQ(model.Find(nested), 1);
    // Away from that folder the same relative name is another place.
    EXPECT_EQ(model.Find("sub/b.png"), -1);
}

TEST_F(ListModel, OneFileGetsInOnceHoweverItIsNamed)
{
    const QString a = Touch("a.png");
    const QString upper = Touch("A.png");
    const QString symlink = SymLink(a, "link.png");
    const QString chained = SymLink(symlink, "link-to-link.png");
    const QString hard = HardLink(a, "hard.png");
    const QString missing = dir.File("missing.png");

    WorkingFolder here(dir.Path());
    struct Case {
        QString path;
        bool added;
    } const cases[] = {
        {a, true},
        {a + "/", false},                        // the same place, written differently
        {dir.Path() + "//a.png", false},         // the same file by its identity
        {"a.png", false},                        // relative, then the same place
        {"./a.png", false},
        {symlink, false},
        {chained, false},
        {hard, false},
        {upper, true},                           // letter case makes another file
        {missing, true},                         // nothing to identify, but a place
        {missing, false},
        {"missing.png", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(model.Holds(c.path), !c.added) << qPrintable(c.path);
        EXPECT_EQ(model.Add(c.path), c.added) << qPrintable(c.path);
    }
    EXPECT_EQ(model.Paths(), QStringList({a, upper, missing}));
}

TEST_F(ListModel, RemovingKeepsTheOthersFoundAndLetsTheRemovedComeBack)
{
    QStringList paths;
    for (const char *name : {"0.png", "1.png", "2.png", "3.png", "4.png"})
        paths << Touch(name);
    for (const QString &path : paths)
        ASSERT_TRUE(model.Add(path));

    // Rows outside the list and repeated rows change nothing more.
    model.Remove({3, 1, 1, -1, 5, 99});
    EXPECT_EQ(model.Paths(), QStringList({paths[0], paths[2], paths[4]}));
    struct Lookup {
        int path, row;
    } const afterRemoval[] = {{0, 0}, {1, -1}, {2, 1}, {3, -1}, {4, 2}};
    for (const Lookup &l : afterRemoval)
        EXPECT_EQ(model.Find(paths[l.path]), l.row) << l.path;
    EXPECT_EQ(model.Path(2), paths[4]);
    EXPECT_EQ(model.Path(3), QString());

    // A removed file is no longer known by its identity either; the kept ones still are.
    EXPECT_TRUE(model.Add(HardLink(paths[3], "3-again.png")));
    EXPECT_FALSE(model.Add(SymLink(paths[4], "4-link.png")));
    EXPECT_TRUE(model.Add(paths[1]));
    EXPECT_EQ(model.Find(paths[1]), 4);
    EXPECT_EQ(model.Paths(),
              QStringList({paths[0], paths[2], paths[4], dir.File("3-again.png"), paths[1]}));

    model.Remove({});
    EXPECT_EQ(model.Count(), 5);
    model.RemoveAll();
    EXPECT_EQ(model.Count(), 0);
    EXPECT_EQ(model.Find(paths[0]), -1);
    EXPECT_FALSE(model.Holds(paths[2]));
    EXPECT_TRUE(model.Add(paths[2]));
    EXPECT_EQ(model.Find(paths[2]), 0);
}

TEST_F(ListModel, IdentitiesTakenAgainFollowFilesReplacedOnDisk)
{
    const QString a = Touch("a.png"), b = Touch("b.png");
    ASSERT_TRUE(model.Add(a));
    ASSERT_TRUE(model.Add(b));

    // Saving a puts a new inode there; until the identities are taken again, a link to the new
    // file is not recognised.
    Replace(a);
    const QString toNewA = HardLink(a, "new-a.png");
    EXPECT_FALSE(model.Holds(toNewA));
    model.RefreshIdentities();
    EXPECT_TRUE(model.Holds(toNewA));

    // b has become a second name of a: when a goes, b still holds the file.
    ASSERT_TRUE(QFile::remove(b));
    HardLink(a, "b.png");
    model.RefreshIdentities();
    model.Remove({0});
    EXPECT_EQ(model.Paths(), QStringList({b}));
    EXPECT_TRUE(model.Holds(toNewA));
    EXPECT_FALSE(model.Add(a));
}

TEST_F(ListModel, NotesAndThumbnailCellsStayWithTheirEntries)
{
    const QString a = Touch("a.png"), b = Touch("b.png"), c = Touch("c.png"), d = Touch("d.png");
    int cell = 10;
    for (const QString &path : {a, b, c, d})
        ASSERT_TRUE(model.Add(path, EntryThumbnail{cell++}));
    EXPECT_TRUE(model.SetNote(1, "dog"));
    EXPECT_TRUE(model.SetNote(3, "cat"));
    EXPECT_TRUE(model.SetNote(0, "first"));
    EXPECT_TRUE(model.SetNote(0, ""));
    EXPECT_FALSE(model.SetNote(4, "nowhere"));
    EXPECT_FALSE(model.SetNote(-1, "nowhere"));
    EXPECT_FALSE(model.SetThumbnail(4, EntryThumbnail{99}));
    EXPECT_EQ((model.Notes()), (QList<QPair<QString, QString>>{{b, "dog"}, {d, "cat"}}));
    EXPECT_EQ(model.Note(b + "/"), "dog");
    EXPECT_EQ(model.Note(a), "");

    model.Remove({0, 2});
    EXPECT_EQ(model.Note(b), "dog");
    EXPECT_EQ(model.Note(d), "cat");
    EXPECT_EQ(model.Note(c), "");
    EXPECT_EQ((model.Notes()), (QList<QPair<QString, QString>>{{b, "dog"}, {d, "cat"}}));
    ASSERT_EQ(model.Count(), 2);
    EXPECT_EQ(model.Entries()[0].thumbnail.cell, 11);
    EXPECT_EQ(model.Entries()[1].thumbnail.cell, 13);
    EXPECT_TRUE(model.SetThumbnail(1, EntryThumbnail{-1}));
    EXPECT_EQ(model.Entries()[1].thumbnail.cell, -1);
    EXPECT_EQ(model.Entries()[1].note, "cat");

    // An entry that comes back starts without the note it had.
    model.Remove({0});
    ASSERT_TRUE(model.Add(b));
    EXPECT_EQ(model.Note(b), "");
    EXPECT_EQ(model.Entries()[1].thumbnail.cell, -1) << "no cell unless one is given";
}

TEST_F(ListModel, PathsOfRowsComeOnceEachInListOrder)
{
    QStringList paths;
    for (const char *name : {"a.png", "b.png", "c.png", "d.png"}) {
        paths << Touch(name);
        ASSERT_TRUE(model.Add(paths.back()));
    }
    struct Case {
        QList<int> rows;
        QStringList expected;
    } const cases[] = {
        {{}, {}},
        {{2, 0}, {paths[0], paths[2]}},
        {{3, 3, 1, 3}, {paths[1], paths[3]}},
        {{-1, 4, 1}, {paths[1]}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(model.Paths(c.rows), c.expected);
    EXPECT_EQ(model.Paths(), paths);
}

} // namespace
