// Adding, finding, removing and labelling entries, and the ways files reach the list.

#include "listtests.h"
#include "core/paths.h"
#include "ui/inputbox.h"
#include "ui/quickmenu.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using namespace listtest;

constexpr QRgb kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00;

TEST_F(ListTest, AddingAFolderEntersSubFoldersWhereTheyStandAndReportsFailuresOnce)
{
    const QString a = Write("pics/a.jpg", kRed);
    WriteText(dir.File("pics/b.txt"), "not a picture");
    WriteText(dir.File("pics/e.png"), "");
    WriteText(dir.File("pics/f.gif"), "GIF89a broken");
    const QString c = Write("pics/sub/c.png", kGreen);
    const QString d = Write("pics/sub/deeper/d.bmp", kBlue);
    const QString z = Write("pics/z.PNG", kYellow);
    QDir().mkpath(dir.File("pics/empty"));

    list->AddFiles({dir.File("pics")});
    EXPECT_EQ(list->GetPaths(true), QStringList({a, c, d, z}));
    EXPECT_EQ(Labels(*list), QStringList({"a.jpg", "c.png", "d.bmp", "z.PNG"}));
    EXPECT_EQ(rec.Texts(), QStringList({"Loading the following images failed:" +
                                        dir.File("pics/e.png") + "\r\n" + dir.File("pics/f.gif")}));
    EXPECT_EQ(rec.Messages()[0].caption, ApplicationTitle());
    EXPECT_EQ(CentreOf(*list, 1), kGreen);

    // An empty folder, an empty list and files already there add nothing and say nothing.
    list->AddFiles({dir.File("pics/empty")});
    list->AddFiles({});
    list->AddFiles({a, c});
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(rec.Messages().size(), 1u);
}

// A batch that keeps sub-folders puts each result where its file was found below the folder
// that was added; a file added on its own, or lying in that folder itself, goes to the top.
TEST_F(ListTest, EachFileKeepsWhereItWasFoundBelowTheAddedFolder)
{
    const QString a = Write("pics/a.jpg", kRed);
    const QString c = Write("pics/sub/c.png", kGreen);
    const QString d = Write("pics/sub/deeper/d.bmp", kBlue);
    const QString e = Write("other/e.png", kYellow);

    list->AddFiles({dir.File("pics"), e});
    ASSERT_EQ(list->GetPaths(true), QStringList({a, c, d, e}));
    EXPECT_EQ(list->GetFoundIn(), (QHash<QString, QString>{{c, "sub"}, {d, "sub/deeper"}}));
    QStringList found;
    for (const ImageEntry &entry : list->Entries())
        found << entry.foundIn;
    EXPECT_EQ(found, QStringList({"", "sub", "sub/deeper", ""}));

    // Added again another way, an entry keeps where it was found first.
    list->AddFiles({d, dir.File("pics/sub")});
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(list->GetFoundIn().value(d), "sub/deeper");

    // Removed and added from a folder deeper down, it is found there.
    list->clearSelection();
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    list->RemoveEntries(false);
    EXPECT_TRUE(list->GetFoundIn().isEmpty());
    list->AddFiles({dir.File("pics/sub")});
    EXPECT_EQ(list->GetPaths(true), QStringList({a, e, c, d}));
    EXPECT_EQ(list->GetFoundIn(), (QHash<QString, QString>{{d, "deeper"}}));
    list->RemoveEntries(true);
    EXPECT_TRUE(list->GetFoundIn().isEmpty());
}

// Whatever a folder holds is either in the list or in its one message: a pipe is not waited
// on, and a name that is not UTF-8 (a file or a folder's) is said, not passed over.
TEST_F(ListTest, PipesAndNamesThatAreNotUtf8AreReportedAmongTheFailures)
{
    // The list holds such a name as FromNativeName reads it.
    auto native = [&](const char *relative) {
        return FromNativeName(QByteArray(dir.Fs(relative).c_str()));
    };
    const QString a = Write("pics/a.jpg", kRed);
    ASSERT_EQ(::mkfifo(dir.Fs("pics/b.jpg").c_str(), 0600), 0);
    ASSERT_TRUE(WriteImage(native("pics/caf\xe9.jpg"), 8, 8, kRed));
    ASSERT_TRUE(std::filesystem::create_directory(dir.Fs("pics/d\xe9j\xe0")));
    ASSERT_TRUE(WriteImage(native("pics/d\xe9j\xe0/c.png"), 8, 8, kGreen));
    ASSERT_TRUE(std::filesystem::exists(dir.Fs("pics/d\xe9j\xe0/c.png")));

    list->AddFiles({dir.File("pics")});
    EXPECT_EQ(list->GetPaths(true), QStringList({a}));
    EXPECT_EQ(rec.Texts(), QStringList({"Loading the following images failed:" +
                                        dir.File("pics/b.jpg") + "\r\n" +
                                        native("pics/caf\xe9.jpg") + "\r\n" +
                                        native("pics/d\xe9j\xe0/c.png")}));
}

TEST_F(ListTest, OneFileStandsInTheListOnceWhateverItsName)
{
    const QString upper = Write("A.jpg", kRed);
    const QString lower = Write("a.jpg", kGreen);
    ASSERT_EQ(::symlink(upper.toUtf8().constData(), dir.File("link.jpg").toUtf8().constData()), 0);
    ASSERT_EQ(::link(upper.toUtf8().constData(), dir.File("hard.jpg").toUtf8().constData()), 0);
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.Path()));
    list->AddFiles({"A.jpg", upper, "./A.jpg", dir.Path() + "//A.jpg", "link.jpg", "hard.jpg",
                    lower, "a.jpg", "new.png"});
    QDir::setCurrent(before);
    // Linux names differ by letter case; a relative path enters absolute, as it was written.
    EXPECT_EQ(list->GetPaths(true), QStringList({upper, lower}));
    EXPECT_EQ(rec.Texts(), QStringList({"Loading the following images failed:" +
                                        dir.File("new.png")}));
    EXPECT_EQ(list->FindByPath(dir.Path() + "/A.jpg/"), 0);
    EXPECT_EQ(list->FindByPath(dir.File("b.jpg")), -1);
}

TEST_F(ListTest, TheCompletionListTakesAnyPictureButStaysReadOnly)
{
    const QString plain = dir.File("photo");
    ASSERT_TRUE(WriteImage(plain + ".png", 20, 20, kRed));
    QFile::rename(plain + ".png", plain);
    const QString bak = dir.File("photo.jpeg.bak");
    QFile::copy(plain, bak);

    list->AddFiles({plain, bak});
    EXPECT_EQ(list->count(), 0) << "the main list skips other extensions silently";
    EXPECT_TRUE(rec.Messages().empty());

    CPixortaImageListCtrl done;
    done.readOnly = true;
    done.filterByExtension = false;
    done.Initialize();
    done.resize(300, 300);
    done.show();
    done.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&done));
    done.AddFiles({plain, bak});
    EXPECT_EQ(Labels(done), QStringList({"photo", "photo.jpeg.bak"}));
    EXPECT_FALSE(done.acceptDrops());

    int menus = 0;
    const QuickMenuHandler previous = SetQuickMenuHandler([&](auto &, auto &) { return ++menus, -1; });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), done.mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(done.viewport(), &click);
    SetQuickMenuHandler(previous);
    EXPECT_EQ(menus, 0);

    auto *data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(Write("c.png", kBlue))});
    QGuiApplication::clipboard()->setMimeData(data);
    QTest::keyClick(&done, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(done.count(), 2);

    Select(done, {0});
    QTest::keyClick(&done, Qt::Key_Delete);
    EXPECT_EQ(Labels(done), QStringList({"photo.jpeg.bak"}));
}

TEST_F(ListTest, RemovingEntriesLeavesTheOthersTheirOwnThumbnails)
{
    const QRgb colours[] = {kRed, kGreen, kBlue, kYellow};
    QStringList paths;
    for (int i = 0; i < 4; ++i)
        paths << Write(QString("%1.png").arg(i), colours[i]);
    list->AddFiles(paths);
    Select(*list, {1, 2});
    EXPECT_EQ(list->GetPaths(false), QStringList({paths[1], paths[2]}));
    QTest::keyClick(list.get(), Qt::Key_Delete);
    EXPECT_EQ(list->GetPaths(true), QStringList({paths[0], paths[3]}));
    EXPECT_EQ(CentreOf(*list, 0), kRed);
    EXPECT_EQ(CentreOf(*list, 1), kYellow);
    EXPECT_EQ(list->GetEntryPath(1), paths[3]);
    EXPECT_EQ(list->GetEntryPath(2), QString());

    // Removed files may come back; removing all empties the store as well.
    list->AddFiles({paths[2]});
    EXPECT_EQ(CentreOf(*list, 2), kBlue);
    list->RemoveEntries(true);
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(list->Store().Count(), 0);
}

TEST_F(ListTest, NotesGoIntoTheLabelsAndAreFoundByPath)
{
    const QString a = Write("cat.jpg", kRed), b = Write("dog.png", kGreen);
    list->AddFiles({a, b});
    QStringList startTexts;
    std::optional<QString> answer = QString("holiday");
    const InputBoxHandler previous =
        SetInputBoxHandler([&](const QString &title, const QString &prompt, const QString &text) {
            EXPECT_EQ(title, "Edit file note");
            EXPECT_EQ(prompt, "Enter file note here, it can be then used in \"Text\" tab");
            startTexts << text;
            return answer;
        });
    Select(*list, {0, 1});
    list->EditNote();
    EXPECT_EQ(Labels(*list), QStringList({"cat.jpg (holiday)", "dog.png (holiday)"}));
    EXPECT_EQ(list->GetNoteByPath(b), "holiday");
    EXPECT_EQ(list->GetNoteByPath(dir.File("other.png")), "");

    Select(*list, {1});
    answer = std::nullopt; // Cancel
    list->EditNote();
    answer = QString();
    list->EditNote();
    list->clearSelection();
    list->EditNote(); // nothing selected: a beep, no box
    SetInputBoxHandler(previous);

    EXPECT_EQ(startTexts, QStringList({"", "holiday", "holiday"}));
    EXPECT_EQ(Labels(*list), QStringList({"cat.jpg (holiday)", "dog.png"}));
    EXPECT_EQ((list->GetNotes()), (QList<QPair<QString, QString>>{{a, "holiday"}}));
}

TEST_F(ListTest, PastedAndDroppedFileListsAddLocalFilesWhole)
{
    // Longer than 300 characters: the whole path is kept.
    const QString deep = Write(QString("%1/%2/e f.png").arg(QString(150, u'x'), QString(150, u'y')), kRed);
    const QString second = Write("second.png", kGreen);
    const QString third = Write("third.png", kBlue);
    const QString fourth = Write("fourth.png", kYellow);

    auto paste = [&](QMimeData *data) {
        QGuiApplication::clipboard()->setMimeData(data);
        QTest::keyClick(list.get(), Qt::Key_V, Qt::ControlModifier);
    };
    auto *text = new QMimeData;
    text->setText(second);
    paste(text);
    EXPECT_EQ(list->count(), 0);

    auto *uris = new QMimeData;
    uris->setUrls({QUrl::fromLocalFile(deep), QUrl("https://example.com/x.png"),
                   QUrl::fromLocalFile(second)});
    paste(uris);
    EXPECT_EQ(list->GetPaths(true), QStringList({deep, second}));

    auto *gnome = new QMimeData;
    gnome->setData("x-special/gnome-copied-files",
                   "cut\n" + QUrl::fromLocalFile(third).toEncoded() + "\n");
    paste(gnome);
    EXPECT_EQ(list->count(), 3);
    EXPECT_TRUE(QFile::exists(third)) << "a cut is taken as a copy";

    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(fourth)});
    const QPoint at(20, 300);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &drop);
    EXPECT_EQ(list->GetPaths(true), QStringList({deep, second, third, fourth}));
    EXPECT_TRUE(rec.Messages().empty());
    EXPECT_EQ(list->item(0)->text(), "e f.png");
}

TEST_F(ListTest, DraggingOutOffersEverySelectedFileComplete)
{
    const QStringList paths = {dir.File("one.png"), dir.File(QString(320, u'n') + " ü.png"),
                               dir.File("three.jpg")};
    std::unique_ptr<QMimeData> data(CPixortaImageListCtrl::CreateDragData(paths));
    EXPECT_EQ(CPixortaImageListCtrl::LocalFilesOf(data.get()), paths);
    EXPECT_TRUE(data->hasFormat("text/uri-list"));
}

TEST_F(ListTest, AFullStoreStillTakesTheFilesAndSaysSoEveryTime)
{
    list->Store().SetLimit(1);
    const QString a = Write("a.png", kRed), b = Write("b.png", kGreen);
    const QString notice = "Thumbnails limit is reached, thumbnails won't be visible, although "
                           "the images will be processed.";
    list->AddFiles({a, b});
    WaitForThumbnails(*list);
    EXPECT_EQ(list->GetPaths(true), QStringList({a, b}));
    EXPECT_EQ(list->Entries()[1].thumbnail.cell, -1);
    EXPECT_EQ(rec.Texts(), QStringList({notice}));

    // Refreshing the entry without a cell leaves the store alone.
    ASSERT_TRUE(WriteImage(b, 40, 30, kBlue));
    list->RefreshEntry(b);
    EXPECT_EQ(list->Store().Count(), 1);
    EXPECT_EQ(CentreOf(*list, 0), kRed);
    ASSERT_TRUE(WriteImage(a, 40, 30, kYellow));
    list->RefreshEntry(a);
    EXPECT_EQ(CentreOf(*list, 0), kYellow);

    list->AddFiles({a});
    EXPECT_EQ(rec.Texts(), QStringList({notice, notice}));
}

class FakeHost : public CImageListHost {
public:
    void AddFilesCommand() override { calls << "files"; }
    void AddFolderCommand() override { calls << "folder"; }
    void OnFileChanged(const QString &path) override { calls << path; }
    QStringList calls;
};

TEST_F(ListTest, TheContextMenuOffersItsFiveCommands)
{
    FakeHost host;
    list->SetHost(&host);
    const QString a = Write("a.png", kRed), b = Write("b.png", kGreen);
    list->AddFiles({a, b});
    QList<int> shownIds;
    QList<QString> shownTexts;
    int pick = 0;
    const QuickMenuHandler previous =
        SetQuickMenuHandler([&](const QList<int> &ids, const QList<QString> &texts) {
            shownIds = ids;
            shownTexts = texts;
            return pick;
        });
    auto rightClick = [&](int id) {
        pick = id;
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(300, 300),
                                list->viewport()->mapToGlobal(QPoint(300, 300)));
        QCoreApplication::sendEvent(list->viewport(), &click);
    };
    rightClick(1);
    rightClick(2);
    rightClick(-1);
    EXPECT_EQ(host.calls, QStringList({"files", "folder"}));
    EXPECT_EQ(shownIds, (QList<int>{1, 2, 3, 4, 50}));
    EXPECT_EQ(shownTexts, (QList<QString>{"&Add files", "Add &folder",
                                          "Remove &selected images from the list",
                                          "Remove &all images from the list", "Edit &note"}));
    Select(*list, {1});
    rightClick(3);
    EXPECT_EQ(list->GetPaths(true), QStringList({a}));
    rightClick(4);
    EXPECT_EQ(list->count(), 0);
    SetQuickMenuHandler(previous);
}

TEST_F(ListTest, DoubleClickOpensTheFileWithItsDefaultApplication)
{
    const QString a = Write("a b.png", kRed);
    list->AddFiles({a});
    QList<QUrl> opened;
    const OpenUrlHandler previous = SetOpenUrlHandler([&](const QUrl &url) {
        opened << url;
        return true;
    });
    const QPoint onItem = list->visualItemRect(list->item(0)).center();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, onItem);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(400, 400));
    SetOpenUrlHandler(previous);
    EXPECT_EQ(opened, QList<QUrl>({QUrl::fromLocalFile(a)}));
}

TEST_F(ListTest, TheEmptyEditableListAsksForFiles)
{
    auto hintPixels = [](QWidget *viewport) {
        const QImage shot = viewport->grab().toImage();
        int grey = 0;
        for (int y = shot.height() / 2; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                grey += (shot.pixel(x, y) & 0xFFFFFF) == 0x7D7D7D;
        return grey;
    };
    EXPECT_GT(hintPixels(list->viewport()), 5);
    list->AddFiles({Write("a.png", kRed)});
    EXPECT_EQ(hintPixels(list->viewport()), 0);

    CPixortaImageListCtrl done;
    done.readOnly = true;
    done.Initialize();
    done.resize(420, 420);
    EXPECT_EQ(hintPixels(done.viewport()), 0);
}

} // namespace
