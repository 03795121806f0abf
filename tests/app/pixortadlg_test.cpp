#include "windowtests.h"
#include "undo/backup.h"
#include "undo/journal.h"
#include "imageio/imagefile.h"
#include "batch/pixortafinalprocessordlg.h"
#include "app/pixortacontrols.h"
#include "app/pixortadlg.h"
#include "app/weblinks.h"
#include "imagelist/pixortaimageviewerdlg.h"
#include "tasks/pixortaprocessorbasedlg.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/movie/wavefile.h"
#include "tasks/pixortaspinedit.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "ui/inputbox.h"
#include "tests/support/testsupport.h"
#include "undo/backup_testhooks.h"

#include <QAccessible>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QMimeData>
#include <QKeySequence>
#include <QScrollArea>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>

namespace {

// A w x h picture of one colour, in the format of the path's extension.
QString Picture(const TempFolder &dir, const QString &name, int w = 8, int h = 8,
                QRgb colour = qRgb(0, 0, 0))
{
    PxImage img;
    img.Create(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 24);
    for (int y = 0; y < h; ++y) {
        uint8_t *row = img.GetBits(static_cast<uint32_t>(y));
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<uint8_t>(qBlue(colour));
            row[3 * x + 1] = static_cast<uint8_t>(qGreen(colour));
            row[3 * x + 2] = static_cast<uint8_t>(qRed(colour));
        }
    }
    const QString path = dir.File(name);
    EXPECT_TRUE(SaveImageFile(img, path));
    return path;
}


class UrlRecorder {
public:
    explicit UrlRecorder(bool opens = true)
    {
        m_previous = SetOpenUrlHandler([this, opens](const QUrl &url) {
            urls << url;
            return opens;
        });
    }
    ~UrlRecorder() { SetOpenUrlHandler(m_previous); }
    QList<QUrl> urls;

private:
    OpenUrlHandler m_previous;
};


void ShowActive(QWidget &w)
{
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { UndoHistory::Instance().Clear(); }
    void TearDown() override
    {
        UndoHistory::Instance().Clear();
        RemoveBackupFolder();
        ResetBackupFolderForTests();
        QDir(CUndoJournal::DefaultRoot()).removeRecursively();
    }
};

TEST_F(MainWindow, ShowsTheCommandLineFilesButNotOptionValues)
{
    TempFolder dir;
    MessageRecorder rec;
    CPixortaDlg dlg({Picture(dir, "a.jpg"), "-x", Picture(dir, "b.jpg"), Picture(dir, "c.png")});
    EXPECT_EQ(dlg.windowTitle(), "Pixorta");
    QStringList shown;
    for (int i = 0; i < dlg.ImageList()->count(); ++i)
        shown << dlg.ImageList()->item(i)->text();
    EXPECT_EQ(shown, QStringList({"a.jpg", "c.png"}));
    EXPECT_TRUE(rec.Messages().empty());
}

TEST_F(MainWindow, ClosingAsksOnlyWhileTheListHoldsFiles)
{
    {
        CPixortaDlg dlg;
        dlg.show();
        MessageRecorder rec;
        QTest::keyClick(&dlg, Qt::Key_Escape);
        EXPECT_TRUE(rec.Messages().empty());
        EXPECT_FALSE(dlg.isVisible());
    }
    {
        TempFolder dir;
        CPixortaDlg dlg({Picture(dir, "a.jpg")});
        dlg.show();
        MessageRecorder rec;
        rec.Answer(MsgAnswer::No);
        dlg.findChild<QPushButton *>("exitButton")->click();
        ASSERT_EQ(rec.Messages().size(), 1u);
        EXPECT_EQ(rec.Messages()[0].text, "Are you sure you want to exit?");
        EXPECT_EQ(rec.Messages()[0].caption, "Pixorta");
        EXPECT_EQ(rec.Messages()[0].buttons, MsgButtons::YesNo);
        EXPECT_TRUE(dlg.isVisible());
        dlg.close(); // the close box: answered Yes
        EXPECT_EQ(rec.Messages().size(), 2u);
        EXPECT_FALSE(dlg.isVisible());
    }
}

TEST_F(MainWindow, MenuExitNeverAsks)
{
    TempFolder dir;
    CPixortaDlg dlg({Picture(dir, "a.jpg")});
    dlg.show();
    MessageRecorder rec;
    dlg.findChild<QAction *>("exitAction")->trigger();
    EXPECT_TRUE(rec.Messages().empty());
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(MainWindow, KeysActOnATextFieldWhileItHasTheFocus)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.jpg");
    const QString b = Picture(dir, "b.png");
    CPixortaDlg dlg({a});
    ASSERT_NO_FATAL_FAILURE(ShowActive(dlg));
    MessageRecorder rec;
    CPixortaImageListCtrl *list = dlg.ImageList();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(rec.Messages().empty());
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rec.Texts(),
              QStringList({"There is nothing to undo (i.e. no file was overwritten)"}));

    // In the folder field the keys are the field's own.
    Child<QRadioButton>(dlg, "specifyFolder")->click();
    auto *edit = Child<QLineEdit>(dlg, "folderEdit");
    edit->setFocus();
    QTest::keyClicks(edit, "ab");
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), "");
    auto *files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(b)});
    files->setText(dir.Path());
    QGuiApplication::clipboard()->setMimeData(files);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), dir.Path());
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(rec.Messages().size(), 1u) << "no undo while typing";

    // Elsewhere Ctrl+V adds the copied files.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(list->GetPaths(true), QStringList({a, b}));

    UrlRecorder urls;
    DialogRecorder dialogs;
    QTest::keyClick(list, Qt::Key_F1);
    QTest::keyClick(list, Qt::Key_F12, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    ASSERT_EQ(urls.urls.size(), 1);
    EXPECT_TRUE(urls.urls[0].toLocalFile().endsWith("/images_internal/help.html"));
    EXPECT_TRUE(QFile::exists(urls.urls[0].toLocalFile()));
    EXPECT_EQ(dialogs.names, QStringList({"CPixortaDeveloperTestsDlg"}));
}

TEST_F(MainWindow, RestoredFilesReachTheWindowOnlyWhileItExists)
{
    TempFolder dir;
    const QString a = dir.File("a.jpg");
    auto write = [&](const char *bytes) {
        QFile f(a);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    write("v0");
    UndoOperation op;
    BackupFile(op.entries, a);
    write("v1");
    UndoHistory::Instance().Append(op);
    UndoHistory::Instance().Append(op);
    MessageRecorder rec;
    {
        CPixortaDlg dlg;
        QSignalSpy spy(&dlg, &CPixortaDlg::fileChanged);
        EXPECT_TRUE(UndoLastOperation(&dlg));
        ASSERT_EQ(spy.count(), 1);
        EXPECT_EQ(spy.at(0).at(0).toString(), a);
    }
    EXPECT_TRUE(UndoLastOperation()); // no window: nothing to notify, no crash
}

TEST_F(MainWindow, AddFilesAndAddFolderFillTheList)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.jpg");
    QDir().mkpath(dir.File("sub"));
    const QString b = Picture(dir, "sub/b.tif");
    OpenFilesRequest asked;
    const OpenFilesHandler previousFiles = SetOpenFilesHandler([&](const OpenFilesRequest &r) {
        asked = r;
        return QStringList({a});
    });
    const FolderHandler previousFolder =
        SetFolderHandler([&](const QString &, const QString &) { return dir.File("sub"); });
    CPixortaDlg dlg;
    Child<QPushButton>(dlg, "addFilesButton")->click();
    Child<QPushButton>(dlg, "addFolderButton")->click();
    // "..." fills the folder field, and only while a folder is wanted.
    auto *choose = Child<QPushButton>(dlg, "folderButton");
    EXPECT_FALSE(choose->isEnabled());
    Child<QRadioButton>(dlg, "specifyFolder")->click();
    EXPECT_TRUE(choose->isEnabled());
    choose->click();
    SetOpenFilesHandler(previousFiles);
    SetFolderHandler(previousFolder);
    EXPECT_EQ(dlg.ImageList()->GetPaths(true), QStringList({a, b}));
    EXPECT_EQ(Child<QLineEdit>(dlg, "folderEdit")->text(), dir.File("sub"));
    EXPECT_EQ(asked.title, "Select images");
    for (const char *ext : {"jpg", "jpe", "jp2", "jpeg", "gif", "bmp", "ico", "tif", "tiff", "png",
                            "mng", "tga", "pcx", "cur"})
        EXPECT_EQ(asked.filter.count(QString("*.") + ext + u' ') +
                      asked.filter.count(QString("*.") + ext + u')'),
                  1)
            << ext;
}

TEST_F(MainWindow, StartHandsOnTheJobAsTheWindowIsSet)
{
    TempFolder dir;
    QStringList paths;
    for (const char *name : {"a.png", "b.png", "c.png", "d.png", "e.png"})
        paths << Picture(dir, name);
    CPixortaDlg dlg(paths);
    ASSERT_NO_FATAL_FAILURE(ShowActive(dlg));
    MessageRecorder rec;
    Job job;
    QStringList images;
    bool autoStart = false;
    QList<int> kinds;
    DialogRecorder dialogs([&](QDialog &d) {
        if (auto *processing = qobject_cast<CPixortaFinalProcessorDlg *>(&d)) {
            job = processing->Runner().RunJob();
            images = processing->Runner().ImagePaths();
            autoStart = processing->AutoStart();
            kinds.clear();
            for (const CPixortaTask *task : job.Applied())
                kinds << task->Kind();
        }
        return int(QDialog::Rejected);
    });

    // No folder named: nothing runs.
    Child<QRadioButton>(dlg, "specifyFolder")->click();
    auto *edit = Child<QLineEdit>(dlg, "folderEdit");
    Child<QPushButton>(dlg, "startButton")->click();
    EXPECT_EQ(rec.Texts(), QStringList({"Output folder is not specified"}));
    EXPECT_TRUE(dialogs.names.isEmpty());
    EXPECT_TRUE(edit->hasFocus());

    // Two of five selected (the later first), their notes, PNG into a folder.
    edit->setText(dir.File("out"));
    Child<QComboBox>(dlg, "formatBox")->setCurrentText("PNG");
    Child<QCheckBox>(dlg, "selectedOnly")->setChecked(true);
    dlg.ImageList()->item(3)->setSelected(true);
    dlg.ImageList()->item(1)->setSelected(true);
    const InputBoxHandler previous = SetInputBoxHandler(
        [](const QString &, const QString &, const QString &) { return QString("holiday"); });
    dlg.ImageList()->EditNote();
    SetInputBoxHandler(previous);
    QTest::keyClick(edit, Qt::Key_Return); // the default button
    EXPECT_EQ(dialogs.names,
              QStringList({"CPixortaFinalProcessorDlg", "CPixortaAfterFinalOperationDlg"}));
    EXPECT_EQ(images, QStringList({paths[1], paths[3]}));
    EXPECT_EQ(job.format, "png");
    EXPECT_EQ(job.ResultFolder(), dir.File("out"));
    EXPECT_TRUE(autoStart);
    EXPECT_EQ(kinds, QList<int>({TaskResize, TaskChangeColors, TaskAddText, TaskCreateSlideshow}));
    ASSERT_TRUE(job.notes);
    EXPECT_EQ(job.notes->GetNoteByPath(paths[3]), "holiday");
    EXPECT_EQ(job.notes->GetNoteByPath(paths[0]), "");

    // "Don't change" over the originals, from the menu.
    Child<QComboBox>(dlg, "formatBox")->setCurrentIndex(0);
    Child<QRadioButton>(dlg, "changeOriginals")->click();
    Child<QCheckBox>(dlg, "selectedOnly")->setChecked(false);
    Child<QAction>(dlg, "startAction")->trigger();
    EXPECT_EQ(images, paths);
    EXPECT_EQ(job.format, "");
    EXPECT_EQ(job.ResultFolder(), "");
}

// Start! with nothing to do says so and runs nothing; a batch that ran goes into the lasting
// undo journal, and an undo in the window takes it out of there too, so it is never put back
// twice.
TEST_F(MainWindow, StartSaysWhenThereIsNothingAndItsBatchesLastInTheJournal)
{
    TempFolder dir;
    {
        CPixortaDlg empty;
        MessageRecorder rec;
        DialogRecorder dialogs;
        Child<QPushButton>(empty, "startButton")->click();
        EXPECT_EQ(rec.Texts(), QStringList({"There are no images in the list."}));
        EXPECT_TRUE(dialogs.names.isEmpty());
    }

    const QString a = Picture(dir, "a.png", 8, 8, qRgb(200, 10, 10));
    QFile original(a);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    CPixortaDlg dlg({a});
    ASSERT_NO_FATAL_FAILURE(ShowActive(dlg));
    CPixortaSizeTask half;
    half.m_percentage = 50;
    dlg.Panel(TaskResize)->SetFromTask(half);
    MessageRecorder rec;
    EXPECT_EQ(RunStartAndCloseDone(dlg),
              QStringList({"CPixortaFinalProcessorDlg", "CPixortaAfterFinalOperationDlg"}));
    CUndoJournal journal(CUndoJournal::DefaultRoot());
    ASSERT_EQ(journal.Batches().size(), 1);
    EXPECT_EQ(journal.Batches().front().command, "Pixorta: Processing all images");
    EXPECT_EQ(journal.Batches().front().entries.size(), 1);

    rec.Answer(MsgAnswer::Yes);
    EXPECT_TRUE(UndoLastOperation(&dlg));
    EXPECT_EQ(rec.Texts().back(), "Everything undo'ed OK: 1 file put back.");
    QFile back(a);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), before);
    EXPECT_TRUE(journal.Batches().isEmpty());
}

// Without a journal to keep what it overwrites, the window asks before a batch; no keeps the
// originals as they are.
TEST_F(MainWindow, StartAsksBeforeABatchThatTheJournalCannotKeep)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.png", 8, 8, qRgb(200, 10, 10));
    const QString journal = CUndoJournal::DefaultRoot();
    QDir(journal).removeRecursively();
    QDir().mkpath(QFileInfo(journal).absolutePath());
    {
        QFile blocker(journal);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    CPixortaDlg dlg({a});
    CPixortaSizeTask half;
    half.m_percentage = 50;
    dlg.Panel(TaskResize)->SetFromTask(half);
    for (const MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Yes}) {
        MessageRecorder rec;
        rec.Answer(answer);
        DialogRecorder dialogs;
        Child<QPushButton>(dlg, "startButton")->click();
        ASSERT_FALSE(rec.Texts().isEmpty());
        EXPECT_TRUE(rec.Texts().front().startsWith("The undo journal cannot be used"))
            << rec.Texts().front().toStdString();
        EXPECT_TRUE(rec.Texts().front().endsWith("Start it all the same?"));
        EXPECT_EQ(rec.Messages().front().buttons, MsgButtons::YesNo);
        EXPECT_EQ(dialogs.names.isEmpty(), answer == MsgAnswer::No);
    }
    QFile::remove(journal);
}

// A voice track named by an opened job is checked before Start! runs anything, as the command
// line checks it; one the movie can carry reaches the batch, which adds it instead of offering
// the recorder.
TEST_F(MainWindow, StartChecksTheVoiceTrackOfAnOpenedJob)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.png");
    const QByteArray sound(2000, '\x21');
    for (const int bits : {12, 16}) {
        CWaveWriter wav;
        ASSERT_TRUE(wav.Open(dir.File(QStringLiteral("voice%1.wav").arg(bits)), 1, 11025, bits));
        ASSERT_TRUE(wav.Write(sound.constData(), sound.size()));
        ASSERT_TRUE(wav.Finish());
    }
    CPixortaDlg dlg({a});
    ASSERT_NO_FATAL_FAILURE(ShowActive(dlg));
    const struct {
        QString voice;
        QString message;
    } rows[] = {
        {dir.File("voice12.wav"),
         "The slideshow's voice track '" + dir.File("voice12.wav") +
             "' is not a PCM WAV file that can be read: 12-bit samples cannot go into the movie "
             "(8, 16, 24 or 32 can). Nothing was changed."},
        {dir.File("missing.wav"),
         "The slideshow's voice track '" + dir.File("missing.wav") +
             "' is not a PCM WAV file that can be read: there is no such file. Nothing was "
             "changed."},
        {dir.File("voice16.wav"), QString()},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.voice.toStdString());
        QFile job(dir.File("job.ini"));
        ASSERT_TRUE(job.open(QIODevice::WriteOnly | QIODevice::Truncate));
        job.write(("[Job]\nversion=1\n[Create slideshow]\ncreate=yes\nwidth=16\nheight=16\nvoice=" +
                   row.voice + "\n").toUtf8());
        job.close();
        const OpenFilesHandler previousFiles = SetOpenFilesHandler(
            [&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
        Child<QAction>(dlg, "openJobAction")->trigger();
        SetOpenFilesHandler(previousFiles);
        Child<QRadioButton>(dlg, "specifyFolder")->click();
        Child<QLineEdit>(dlg, "folderEdit")->setText(dir.File("out"));

        MessageRecorder rec;
        QString given;
        DialogRecorder dialogs([&](QDialog &d) {
            if (auto *processing = qobject_cast<CPixortaFinalProcessorDlg *>(&d))
                if (const auto *show = processing->Runner().RunJob().Find<CPixortaSlideShowTask>())
                    given = show->m_voiceFile;
            return int(QDialog::Rejected);
        });
        Child<QPushButton>(dlg, "startButton")->click();
        if (row.message.isEmpty()) {
            EXPECT_TRUE(rec.Texts().isEmpty()) << rec.Texts().join('\n').toStdString();
            EXPECT_EQ(dialogs.names,
                      QStringList({"CPixortaFinalProcessorDlg", "CPixortaAfterFinalOperationDlg"}));
            EXPECT_EQ(given, row.voice);
        } else {
            EXPECT_EQ(rec.Texts(), QStringList({row.message}));
            EXPECT_TRUE(dialogs.names.isEmpty());
            EXPECT_TRUE(CUndoJournal(CUndoJournal::DefaultRoot()).Batches().isEmpty());
            EXPECT_FALSE(QFile::exists(dir.File("out")));
        }
    }
}

TEST_F(MainWindow, CollectsTasksInTaskOrderWhateverTheVisitingOrder)
{
    CPixortaDlg dlg;
    QListWidget *selector = dlg.TaskSelector();
    ASSERT_EQ(selector->count(), 8);
    QStringList names;
    for (int row = 0; row < selector->count(); ++row)
        names << selector->item(row)->text();
    EXPECT_EQ(names, QStringList({"Crop", "Resize", "Sharpen", "Change colors", "Add background",
                                  "Add text", "Watermark", "Create slideshow"}));
    const auto kinds = [&](bool enabledOnly) {
        QList<int> k;
        for (const auto &task : dlg.CollectTasks(enabledOnly))
            k << task->Kind();
        return k;
    };
    for (int row : {5, 1, 7, 4, 0, 6}) {
        selector->setCurrentRow(row);
        EXPECT_EQ(dlg.CurrentPanel(), dlg.Panels()[row].get());
    }
    // The item of the panel shown again: the panel stays.
    CPixortaProcessorBaseDlg *shown = dlg.CurrentPanel();
    dlg.ShowTaskPanel(6);
    EXPECT_EQ(dlg.CurrentPanel(), shown);
    EXPECT_TRUE(shown->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.Panels()[0]->isVisibleTo(&dlg));

    EXPECT_EQ(kinds(true), QList<int>({TaskResize, TaskChangeColors, TaskAddText, TaskCreateSlideshow}));
    Child<QCheckBox>(dlg, "addBackground")->setChecked(true);
    EXPECT_EQ(kinds(true), QList<int>({TaskResize, TaskChangeColors, TaskAddBackground, TaskAddText,
                                       TaskCreateSlideshow}));
    for (const char *master : {"watermarkSwitch", "cropSwitch", "sharpenSwitch"})
        Child<QCheckBox>(dlg, master)->setChecked(true);
    const QList<int> all = {TaskCrop,          TaskResize,  TaskSharpen,  TaskChangeColors,
                            TaskAddBackground, TaskAddText, TaskWatermark, TaskCreateSlideshow};
    EXPECT_EQ(kinds(true), all);
    EXPECT_EQ(kinds(false), all);

    // Reset: fresh panels with their defaults, Resize shown.
    dlg.Panel(TaskResize)->findChild<CPixortaSpinEdit *>("percentage")->setText("50");
    dlg.ResetTasks();
    EXPECT_EQ(kinds(true), QList<int>({TaskResize, TaskChangeColors, TaskAddText, TaskCreateSlideshow}));
    EXPECT_EQ(dlg.CurrentPanel(), dlg.Panel(TaskResize));
    EXPECT_EQ(selector->currentRow(), dlg.TaskRow(TaskResize));
    EXPECT_EQ(selector->currentRow(), 1);
    auto resize = dlg.Panel(TaskResize)->CreateTask();
    EXPECT_EQ(static_cast<CPixortaSizeTask *>(resize.get())->m_percentage, 100);
}

TEST_F(MainWindow, ATaskChosenThroughTheAccessibilityInterfaceShowsItsPanel)
{
    CPixortaDlg dlg;
    dlg.show();
    QListWidget *selector = dlg.TaskSelector();
    QAccessibleInterface *tasks = QAccessible::queryAccessibleInterface(selector);
    ASSERT_NE(tasks, nullptr);
    for (int row : {3, 1, 4, 0}) {
        SCOPED_TRACE(row);
        QAccessibleInterface *item = nullptr;
        for (int i = 0; i < tasks->childCount(); ++i)
            if (tasks->child(i)->text(QAccessible::Name) == selector->item(row)->text())
                item = tasks->child(i);
        ASSERT_NE(item, nullptr);
        ASSERT_NE(item->actionInterface(), nullptr);
        // A screen reader's "select" leaves the current item where it was.
        item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(dlg.CurrentPanel(), dlg.Panels()[row].get());
        EXPECT_TRUE(dlg.CurrentPanel()->isVisible());
    }
}

TEST_F(MainWindow, RefreshReadsTheFileOnceUntilItChanges)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.png", 40, 20, qRgb(255, 0, 0));
    CPixortaDlg dlg({a});
    dlg.ImageList()->setCurrentRow(0);
    CPreviewPicture *preview = dlg.Preview();
    auto *refresh = Child<QAbstractButton>(dlg, "refreshLink");
    const auto centre = [&] {
        const QImage &p = preview->Picture();
        return p.isNull() ? QRgb(0) : p.pixel(p.width() / 2, p.height() / 2) & 0xffffff;
    };
    refresh->click();
    // Enlarged into the box inside the border, aspect kept.
    EXPECT_EQ(preview->Picture().size(), QSize(preview->width() - 2, (preview->width() - 2) / 2));
    EXPECT_EQ(centre(), 0xff0000u);

    // Changed behind the window's back: the preview keeps what it read.
    Picture(dir, "a.png", 40, 20, qRgb(0, 255, 0));
    refresh->click();
    EXPECT_EQ(centre(), 0xff0000u);

    // Turned through the window: read again, now upright.
    MessageRecorder rec;
    Child<QPushButton>(dlg, "rotateLeftButton")->click();
    EXPECT_EQ(preview->Picture().height(), preview->height() - 2);
    EXPECT_LT(preview->Picture().width(), preview->Picture().height());
    EXPECT_EQ(centre(), 0x00ff00u);

    // A file that cannot be read leaves the preview blank; the next refresh reads it again.
    {
        QFile f(a);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("not a picture");
    }
    dlg.OnFileChanged(a);
    EXPECT_TRUE(preview->Picture().isNull());
    Picture(dir, "a.png", 40, 20, qRgb(0, 0, 255));
    refresh->click();
    EXPECT_EQ(centre(), 0x0000ffu);

    // However small the box, the picture has at least one pixel.
    preview->setFixedSize(1, 1);
    refresh->click();
    EXPECT_FALSE(preview->Picture().isNull());
    EXPECT_LE(preview->Picture().width(), 1);
    EXPECT_TRUE(rec.Messages().empty());
}

TEST_F(MainWindow, PreviewAndViewerWriteTheNoteOfTheFile)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.png", 200, 100, qRgb(255, 255, 255));
    CPixortaDlg dlg({a});
    dlg.ImageList()->setCurrentRow(0);
    dlg.TaskSelector()->setCurrentRow(dlg.TaskRow(TaskAddText));
    dlg.CurrentPanel()->findChild<QPlainTextEdit *>("text")->setPlainText("%Note%");
    PxImage plain, noted;
    dlg.UpdatePreview(false, &plain);
    const InputBoxHandler previous = SetInputBoxHandler(
        [](const QString &, const QString &, const QString &) { return QString("holiday"); });
    dlg.ImageList()->EditNote();
    SetInputBoxHandler(previous);
    // The viewer opens on the full-size result of a refresh.
    QImage viewed;
    DialogRecorder dialogs([&](QDialog &d) {
        if (auto *viewer = qobject_cast<CPixortaImageViewerDlg *>(&d))
            viewed = viewer->Image().MakeBitmap();
        return int(QDialog::Accepted);
    });
    Child<QAbstractButton>(dlg, "preview")->click();
    dlg.UpdatePreview(false, &noted);
    PxImage source;
    ASSERT_TRUE(LoadImageFile(source, a));
    EXPECT_EQ(plain.MakeBitmap(), source.MakeBitmap()) << "an empty note writes nothing";
    EXPECT_NE(noted.MakeBitmap(), plain.MakeBitmap()) << "the note is written";
    EXPECT_EQ(viewed, noted.MakeBitmap());
}

TEST_F(MainWindow, BannerAboutAndPagesComeFromTheProgram)
{
    CPixortaDlg dlg;
    auto *banner = dlg.findChild<CBannerPicture *>();
    ASSERT_NE(banner, nullptr);
    EXPECT_FALSE(banner->Picture().isNull()) << "images_internal/topbanner.png beside the program";
    EXPECT_EQ(banner->grab().toImage().pixel(0, banner->height() - 1), CBannerPicture::kLineColour);

    QString about;
    DialogRecorder dialogs([&](QDialog &d) {
        about = d.windowTitle() + "|" + d.findChild<QPlainTextEdit *>()->toPlainText();
        d.findChild<QPushButton *>("websiteButton")->click();
        d.findChild<QPushButton *>("contactButton")->click();
        return int(QDialog::Accepted);
    });
    UrlRecorder urls;
    Child<QAction>(dlg, "aboutAction")->trigger();
    Child<QAbstractButton>(dlg, "advertLine")->click();
    EXPECT_TRUE(about.startsWith("About Pixorta|Pixorta version 1.44")) << about.toStdString();
    EXPECT_EQ(urls.urls, QList<QUrl>({QUrl(kHomePageAddress), QUrl(kContactPageAddress),
                                      QUrl(kContactPageAddress)}));

    // A desktop that opens nothing says so.
    MessageRecorder rec;
    UrlRecorder none(false);
    Child<QAction>(dlg, "helpAction")->trigger();
    ASSERT_EQ(rec.Texts().size(), 1);
    EXPECT_TRUE(rec.Texts()[0].endsWith("/images_internal/help.html"));
}

TEST_F(MainWindow, EveryControlHasAnAccessibleName)
{
    CPixortaDlg dlg;
    CPixortaAfterFinalOperationDlg done({}, nullptr);
    QList<QWidget *> widgets = dlg.findChildren<QWidget *>();
    widgets += done.findChildren<QWidget *>();
    QStringList unnamed;
    for (QWidget *w : std::as_const(widgets)) {
        const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
                             qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractItemView *>(w) ||
                             qobject_cast<QAbstractSlider *>(w) ||
                             qobject_cast<QAbstractSpinBox *>(w) ||
                             qobject_cast<QPlainTextEdit *>(w) ||
                             w->inherits("CEStaticColor");
        // Parts of composite controls (a combo box's own edit or list) speak for their owner.
        if (!control || !w->parentWidget() || qobject_cast<QScrollBar *>(w) ||
            qobject_cast<QComboBox *>(w->parentWidget()) ||
            w->parentWidget()->inherits("QComboBoxPrivateContainer") ||
            w->objectName().startsWith("qt_"))
            continue;
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
        if (!iface || iface->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString("%1 %2 in %3")
                           .arg(w->metaObject()->className(), w->objectName(),
                                w->parentWidget()->metaObject()->className());
    }
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join('\n').toStdString();
}

// --- the window on the screens people have ------------------------------------------------

TEST(WindowSize, TheFirstSizeNeverLeavesTheScreen)
{
    // What a window manager's frame takes around the window.
    const QSize frame(16, 40);
    struct Case {
        QSize wanted, minimum;
        QRect available;
        QSize expected;
    };
    const Case cases[] = {
        // Room to spare: the wish.
        {{1100, 690}, {900, 500}, {0, 0, 1920, 1050}, {1100, 690}},
        // A laptop's panel takes some of the height; the frame must still fit.
        {{1100, 690}, {900, 500}, {0, 27, 1366, 741}, {1100, 690}},
        {{1300, 760}, {900, 500}, {0, 27, 1366, 741}, QSize(1300, 741 - frame.height())},
        {{1100, 690}, {900, 500}, {0, 0, 1280, 720}, QSize(1100, 720 - frame.height())},
        {{1100, 690}, {900, 500}, {0, 32, 1280, 688}, QSize(1100, 688 - frame.height())},
        // A wish below the minimum grows to it.
        {{600, 400}, {900, 500}, {0, 0, 1920, 1050}, {900, 500}},
        // A screen smaller than the minimum: never past the screen, whatever the minimum.
        {{1100, 690}, {900, 500}, {0, 0, 800, 480}, QSize(800, 480) - frame},
        // A second screen to the right and lower: only its size counts.
        {{1100, 690}, {900, 500}, {1920, 200, 1280, 720}, QSize(1100, 720 - frame.height())},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.available.width() << "x" << c.available.height());
        const QSize got = FirstWindowSize(c.wanted, c.minimum, c.available);
        EXPECT_EQ(got, c.expected);
        EXPECT_LE(got.width() + frame.width(), c.available.width());
        EXPECT_LE(got.height() + frame.height(), c.available.height());
    }
}

// The controls every user must be able to reach, by their names.
const char *const kWindowControls[] = {
    "menuBar",      "banner",      "imageList",    "immediateGroup", "rotateRightButton",
    "rotateLeftButton", "addFilesButton", "addFolderButton", "taskSelector", "panelScroller",
    "outputGroup",  "formatBox",   "changeOriginals", "specifyFolder", "folderEdit",
    "folderButton", "refreshLink", "preview",      "selectedOnly",   "startButton",
    "exitButton",   "advertLine",  "nameEdit",     "nameTokensLink", "nameExample",
    "startEdit",    "keepFoldersCheck", "ifExistsBox",
};

QRect InWindow(const QWidget &window, const QWidget *w)
{
    return QRect(w->mapTo(&window, QPoint(0, 0)), w->size());
}

TEST_F(MainWindow, FitsTheScreensPeopleHaveWithEveryControlInSight)
{
    TempFolder dir;
    CPixortaDlg dlg({Picture(dir, "a.png"), Picture(dir, "b.png")});
    // Less than a 1280 x 720 screen leaves once a title bar is on it.
    EXPECT_LE(dlg.minimumSize().width(), 1280);
    EXPECT_LE(dlg.minimumSize().height(), 720 - 40);
    for (const QRect &screen : {QRect(0, 0, 1366, 768), QRect(0, 0, 1280, 720),
                                QRect(0, 27, 1366, 741)}) {
        SCOPED_TRACE(testing::Message() << screen.width() << "x" << screen.height());
        dlg.ResizeForScreen(screen);
        EXPECT_LE(dlg.width(), screen.width());
        EXPECT_LE(dlg.height(), screen.height() - 40);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        const QRect window = dlg.rect();
        for (int task = 0; task < dlg.TaskSelector()->count(); ++task) {
            SCOPED_TRACE(dlg.TaskSelector()->item(task)->text().toStdString());
            dlg.TaskSelector()->setCurrentRow(task);
            QCoreApplication::processEvents();
            QList<QPair<QString, QRect>> boxes;
            for (const char *name : kWindowControls) {
                // The text panel has a preview of its own.
                QWidget *w = QLatin1String(name) == "preview" ? dlg.Preview()
                                                               : Child<QWidget>(dlg, name);
                ASSERT_NE(w, nullptr);
                EXPECT_TRUE(w->isVisible()) << name;
                const QRect box = InWindow(dlg, w);
                EXPECT_TRUE(window.contains(box)) << name;
                EXPECT_FALSE(box.isEmpty()) << name;
                boxes.append({QString(name), box});
            }
            // Controls side by side never cover one another (a group and its own controls
            // aside).
            for (qsizetype i = 0; i < boxes.size(); ++i)
                for (qsizetype j = i + 1; j < boxes.size(); ++j) {
                    const auto named = [&](const QString &name) -> QWidget * {
                        return name == "preview" ? dlg.Preview() : dlg.findChild<QWidget *>(name);
                    };
                    QWidget *a = named(boxes[i].first);
                    QWidget *b = named(boxes[j].first);
                    if (a->isAncestorOf(b) || b->isAncestorOf(a))
                        continue;
                    EXPECT_FALSE(boxes[i].second.intersects(boxes[j].second))
                        << boxes[i].first.toStdString() << " and " << boxes[j].first.toStdString();
                }
            // On these screens every panel is shown whole, without scrolling.
            auto *scroller = Child<QAbstractScrollArea>(dlg, "panelScroller");
            EXPECT_FALSE(scroller->verticalScrollBar()->isVisible());
            EXPECT_FALSE(scroller->horizontalScrollBar()->isVisible());
            const QRect viewport = InWindow(dlg, scroller->viewport());
            for (QWidget *control : dlg.CurrentPanel()->findChildren<QWidget *>()) {
                if (!control->isVisible() || control->objectName().startsWith("qt_"))
                    continue;
                EXPECT_TRUE(viewport.contains(InWindow(dlg, control)))
                    << control->metaObject()->className() << " "
                    << control->objectName().toStdString();
            }
        }
        dlg.hide();
    }
}

TEST_F(MainWindow, TheTallestPanelScrollsRatherThanBeingCutOff)
{
    CPixortaDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.resize(dlg.minimumSize());
    dlg.TaskSelector()->setCurrentRow(dlg.TaskRow(TaskCreateSlideshow));
    QCoreApplication::processEvents();
    auto *scroller = Child<QScrollArea>(dlg, "panelScroller");
    // Every task's icon stays in sight however narrow the window.
    EXPECT_FALSE(dlg.TaskSelector()->horizontalScrollBar()->isVisible());
    ASSERT_LT(scroller->viewport()->height(), dlg.CurrentPanel()->sizeHint().height());
    EXPECT_TRUE(scroller->verticalScrollBar()->isVisible());
    // The panel keeps its own size inside; the bottom of it is reached by scrolling.
    EXPECT_GE(dlg.CurrentPanel()->height(), dlg.CurrentPanel()->minimumSizeHint().height());
    scroller->verticalScrollBar()->setValue(scroller->verticalScrollBar()->maximum());
    auto *quality = Child<QWidget>(*dlg.CurrentPanel(), "movieQuality");
    const QRect shown(QPoint(), scroller->viewport()->size());
    EXPECT_TRUE(shown.contains(QRect(quality->mapTo(scroller->viewport(), QPoint()),
                                     quality->size())));
}

TEST_F(MainWindow, ThePreviewGrowsWithTheWindow)
{
    TempFolder dir;
    CPixortaDlg dlg({Picture(dir, "a.png", 400, 300, qRgb(255, 0, 0))});
    dlg.ResizeForScreen(QRect(0, 0, 1280, 720));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.ImageList()->setCurrentRow(0);
    CPreviewPicture *preview = dlg.Preview();
    const auto fitted = [&] {
        // The picture fills the box inside the border on one side (the engine's scaling may
        // leave a pixel), aspect kept.
        const QSize box = preview->size() - QSize(2, 2);
        const QSize picture = preview->Picture().size();
        const QSize exact = QSize(400, 300).scaled(box, Qt::KeepAspectRatio);
        return picture.width() <= box.width() && picture.height() <= box.height() &&
               std::abs(picture.width() - exact.width()) <= 1 &&
               std::abs(picture.height() - exact.height()) <= 1;
    };
    dlg.UpdatePreview(false);
    const QSize small = preview->size();
    EXPECT_TRUE(fitted());

    dlg.resize(dlg.width() + 300, dlg.height() + 200);
    QCoreApplication::processEvents();
    EXPECT_GT(preview->width(), small.width());
    EXPECT_GT(preview->height(), small.height());
    // Filled again at once, without a refresh.
    EXPECT_TRUE(fitted()) << preview->Picture().width() << "x" << preview->Picture().height();
    EXPECT_GT(preview->Picture().width(), small.width() - 2);

    dlg.resize(dlg.minimumSize());
    QCoreApplication::processEvents();
    EXPECT_GE(preview->width(), 170);
    EXPECT_GE(preview->height(), 156);
    EXPECT_TRUE(fitted());
    EXPECT_EQ(preview->Picture().pixel(preview->Picture().width() / 2,
                                       preview->Picture().height() / 2) & 0xffffff,
              0xff0000u);
}

TEST_F(MainWindow, EveryDialogFitsASmallLaptopScreen)
{
    // What a 1280 x 720 screen leaves once a title bar is on the window.
    const QSize room(1280, 720 - 40);
    TempFolder dir;
    CPixortaDlg dlg({Picture(dir, "a.png"), Picture(dir, "b.png")});
    QMap<QString, QSize> opened;
    const auto measure = [&](QDialog &d) {
        // As large as it opens, or as its layout insists on.
        opened[d.objectName()] = d.size().expandedTo(d.minimumSizeHint());
    };
    DialogRecorder dialogs([&](QDialog &d) {
        measure(d);
        return int(QDialog::Rejected);
    });
    MessageRecorder rec;
    Child<QAction>(dlg, "previewPlanAction")->trigger();
    Child<QAction>(dlg, "startAction")->trigger();
    Child<QAction>(dlg, "aboutAction")->trigger();
    // Without a microphone it shows one more button.
    const VoiceInputFinder previous = SetVoiceInputFinder([] { return nullptr; });
    CPixortaSoundRecorderDlg recorder;
    SetVoiceInputFinder(previous);
    measure(recorder);
    EXPECT_EQ(opened.size(), 5) << opened.keys().join(' ').toStdString();
    for (auto it = opened.cbegin(); it != opened.cend(); ++it) {
        EXPECT_LE(it->width(), room.width()) << it.key().toStdString();
        EXPECT_LE(it->height(), room.height()) << it.key().toStdString();
    }
}

// --- the menus ------------------------------------------------------------------------------

void OpenAndCloseMenu(CPixortaDlg &dlg, const char *name)
{
    auto *menu = Child<QMenu>(dlg, name);
    menu->popup(dlg.mapToGlobal(QPoint(10, 10)));
    menu->close();
}

TEST_F(MainWindow, TheMenusShowTheirKeysAndUndoIsGreyedWithNothingToUndo)
{
    TempFolder dir;
    const QString a = dir.File("a.jpg");
    const auto write = [&](const char *bytes) {
        QFile f(a);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    write("v0");
    CPixortaDlg dlg;
    ASSERT_NO_FATAL_FAILURE(ShowActive(dlg));
    struct Item {
        const char *name;
        const char *caption;
        const char *keys;
    };
    for (const Item &item : {Item{"undoAction", "Undo last operation", "Ctrl+Z"},
                             Item{"helpAction", "&Help index", "F1"}}) {
        auto *action = Child<QAction>(dlg, item.name);
        EXPECT_EQ(action->text(), item.caption);
        EXPECT_EQ(action->shortcut(), QKeySequence(item.keys));
        // Shown beside the command, kept by the window's own key handling elsewhere.
        EXPECT_EQ(action->shortcutContext(), Qt::WidgetShortcut);
    }
    auto *fileMenu = Child<QMenu>(dlg, "fileMenu");
    auto *undo = Child<QAction>(dlg, "undoAction");
    EXPECT_TRUE(fileMenu->actions().contains(undo));
    OpenAndCloseMenu(dlg, "fileMenu");
    EXPECT_FALSE(undo->isEnabled());

    // Something to undo: the item is offered, and runs the same undo as Ctrl+Z.
    UndoOperation op;
    op.description = "Processing all images";
    BackupFile(op.entries, a);
    write("v1");
    UndoHistory::Instance().Append(op);
    OpenAndCloseMenu(dlg, "fileMenu");
    ASSERT_TRUE(undo->isEnabled());
    {
        MessageRecorder rec;
        undo->trigger();
        EXPECT_EQ(rec.Texts(), QStringList({"Are you sure you want to undo the last operation "
                                            "(Processing all images)?",
                                            "Everything undo'ed OK: 1 file put back."}));
    }
    QFile f(a);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "v0");
    OpenAndCloseMenu(dlg, "fileMenu");
    EXPECT_FALSE(undo->isEnabled());
}

TEST_F(MainWindow, CtrlZStillUndoesTypingWhileThereIsABatchToUndo)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.jpg");
    UndoOperation op;
    op.description = "Processing all images";
    BackupFile(op.entries, a);
    UndoHistory::Instance().Append(op);
    CPixortaDlg dlg({a});
    ASSERT_NO_FATAL_FAILURE(ShowActive(dlg));
    OpenAndCloseMenu(dlg, "fileMenu");
    ASSERT_TRUE(Child<QAction>(dlg, "undoAction")->isEnabled());
    MessageRecorder rec;
    rec.Answer(MsgAnswer::No);
    Child<QRadioButton>(dlg, "specifyFolder")->click();
    auto *edit = Child<QLineEdit>(dlg, "folderEdit");
    edit->setFocus();
    QTest::keyClicks(edit, "ab");
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), "");
    EXPECT_TRUE(rec.Messages().empty());
    // Outside a text field the key is the batch's undo, asked first.
    dlg.ImageList()->setFocus();
    QTest::keyClick(dlg.ImageList(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rec.Texts(), QStringList({"Are you sure you want to undo the last operation "
                                        "(Processing all images)?"}));
    EXPECT_EQ(UndoHistory::Instance().Count(), 1);
}

TEST_F(MainWindow, AFileNoProgramOpensGetsTheHelpPagesMessage)
{
    TempFolder dir;
    const QString a = Picture(dir, "a b.png");
    CPixortaDlg dlg({a});
    ASSERT_NO_FATAL_FAILURE(ShowActive(dlg));
    UrlRecorder nothing(false);
    MessageRecorder rec;
    QTest::keyClick(dlg.ImageList(), Qt::Key_F1);
    CPixortaImageListCtrl *list = dlg.ImageList();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                       list->visualItemRect(list->item(0)).center());
    ASSERT_EQ(nothing.urls.size(), 2);
    EXPECT_EQ(nothing.urls[1], QUrl::fromLocalFile(a));
    ASSERT_EQ(rec.Messages().size(), 2u);
    const QString help = nothing.urls[0].toLocalFile();
    // One message for both, naming what could not be opened.
    QString forFile = rec.Messages()[0].text;
    forFile.replace(help, a);
    EXPECT_EQ(rec.Messages()[1].text, forFile);
    EXPECT_TRUE(rec.Messages()[1].text.endsWith(a));
    EXPECT_EQ(rec.Messages()[1].caption, rec.Messages()[0].caption);
}

} // namespace
