// Crop, Sharpen and Watermark in the window: what Start! refuses before anything is written, the
// preview and the Size test with them switched on, and a saved job that brings their panels
// back.
#include "app/pixortadlg.h"
#include "app/sizetest.h"
#include "core/paths.h"
#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "tasks/pixortacroptask.h"
#include "tasks/pixortaprocessorbasedlg.h"
#include "tasks/pixortasharpentask.h"
#include "tasks/pixortawatermarktask.h"
#include "tests/support/testsupport.h"
#include "undo/backup.h"
#include "undo/backup_testhooks.h"
#include "undo/journal.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QString Picture(const TempFolder &dir, const QString &name, int w, int h)
{
    PxImage img;
    img.Create(uint32_t(w), uint32_t(h), 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 3 * w; ++x)
            img.GetBits(uint32_t(y))[x] = uint8_t(x * 7 + y * 13);
    const QString path = dir.File(name);
    EXPECT_TRUE(SaveImageFile(img, path));
    return path;
}

class NewTasksWindow : public ::testing::Test {
protected:
    void SetUp() override { UndoHistory::Instance().Clear(); }
    void TearDown() override
    {
        SetDialogHandler(nullptr);
        UndoHistory::Instance().Clear();
        RemoveBackupFolder();
        ResetBackupFolderForTests();
        QDir(CUndoJournal::DefaultRoot()).removeRecursively();
    }
    TempFolder dir;
};

TEST_F(NewTasksWindow, StartRefusesWhatTheTasksCannotTakeAndWritesNothing)
{
    const QString a = Picture(dir, "a.png", 40, 30);
    const QByteArray before = FileBytes(a);
    CPixortaDlg dlg({a});
    CPixortaCropTask zeroSide;
    zeroSide.m_aspectWidth = 0;
    CPixortaCropTask noWidth;
    noWidth.m_mode = CPixortaCropTask::Mode::Rectangle;
    noWidth.m_width = 0;
    CPixortaSharpenTask tooMuch;
    tooMuch.m_amount = 900;
    CPixortaWatermarkTask missing;
    missing.m_file = dir.File("logo.png");
    CPixortaWatermarkTask opaque;
    opaque.m_file = a;
    opaque.m_opacity = 150;
    const struct {
        const CPixortaTask *record;
        QString message;
    } cases[] = {
        {&zeroSide, "Crop: aspect-width needs a whole number from 1 to 100000, not '0'. Nothing was changed."},
        {&noWidth, "Crop: width needs a number of pixels from 1 to 2147483647, not '0'. Nothing was changed."},
        {&tooMuch, "Sharpen: amount needs a percentage from 1 to 500, not '900'. Nothing was changed."},
        {&missing, "Watermark: '" + dir.File("logo.png") + "' does not exist. Nothing was changed."},
        {&opaque, "Watermark: opacity needs a percentage from 0 to 100, not '150'. Nothing was changed."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        dlg.ResetTasks();
        dlg.Panel(c.record->Kind())->SetFromTask(*c.record, true);
        MessageRecorder rec;
        QStringList dialogs;
        const DialogHandler previous = SetDialogHandler([&](QDialog &d) {
            dialogs << d.objectName();
            return int(QDialog::Rejected);
        });
        dlg.Start();
        SetDialogHandler(previous);
        EXPECT_EQ(rec.Texts(), QStringList{c.message});
        EXPECT_TRUE(dialogs.isEmpty());
        EXPECT_EQ(FileBytes(a), before);
    }
    // Switched off, a task's settings stand in nobody's way.
    dlg.Panel(TaskWatermark)->SetFromTask(missing, false);
    MessageRecorder rec;
    const DialogHandler previous = SetDialogHandler([](QDialog &) { return int(QDialog::Rejected); });
    dlg.Start();
    SetDialogHandler(previous);
    for (const QString &text : rec.Texts())
        EXPECT_FALSE(text.startsWith("Watermark:")) << text.toStdString();
}

TEST_F(NewTasksWindow, ThePreviewAndTheSizeTestApplyThemWhenSwitchedOn)
{
    const QString a = Picture(dir, "a.png", 200, 100);
    CPixortaDlg dlg({a});
    dlg.ImageList()->setCurrentRow(0);
    PxImage plain, cropped;
    dlg.UpdatePreview(false, &plain);
    EXPECT_EQ(plain.GetWidth(), 200u);
    CPixortaCropTask square;
    dlg.Panel(TaskCrop)->SetFromTask(square, true);
    dlg.UpdatePreview(false, &cropped);
    EXPECT_EQ(cropped.GetWidth(), 100u);
    EXPECT_EQ(cropped.GetHeight(), 100u);

    MessageRecorder rec;
    dlg.findChild<QComboBox *>("formatBox")->setCurrentText("BMP");
    dlg.findChild<QAction *>("sizeTestAction")->trigger();
    ASSERT_EQ(rec.Texts().size(), 1);
    EXPECT_TRUE(rec.Texts()[0].startsWith("Considering the \"crop\" and \"resize\" tabs and output format: (bmp)"))
        << rec.Texts()[0].toStdString();
    // What the square part of the picture takes as a BMP.
    PxImage part;
    ASSERT_TRUE(LoadImageFile(part, a));
    ASSERT_TRUE(part.Crop(50, 0, 100, 100));
    ASSERT_TRUE(SaveImageFile(part, dir.File("square.bmp")));
    EXPECT_TRUE(rec.Texts()[0].contains("One file will take approximately " +
                                        FormatSize(double(QFileInfo(dir.File("square.bmp")).size()), false)))
        << rec.Texts()[0].toStdString();
}

TEST_F(NewTasksWindow, ASavedJobBringsTheirPanelsBack)
{
    CPixortaDlg dlg;
    CPixortaCropTask crop;
    crop.m_mode = CPixortaCropTask::Mode::Margins;
    crop.m_marginTop = 33;
    CPixortaSharpenTask sharpen;
    sharpen.m_radius = 42;
    CPixortaWatermarkTask mark;
    mark.m_file = dir.File("logo.png");
    mark.m_position = Placement::Left;
    dlg.Panel(TaskCrop)->SetFromTask(crop, true);
    dlg.Panel(TaskSharpen)->SetFromTask(sharpen, false);
    dlg.Panel(TaskWatermark)->SetFromTask(mark, true);
    SetSaveFileHandler([&](const SaveFileRequest &) { return dir.File("job.ini"); });
    dlg.findChild<QAction *>("saveJobAction")->trigger();
    SetSaveFileHandler(nullptr);
    dlg.ResetTasks();
    EXPECT_FALSE(dlg.Panel(TaskCrop)->IsTaskEnabled());

    MessageRecorder rec;
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
    dlg.findChild<QAction *>("openJobAction")->trigger();
    SetOpenFilesHandler(nullptr);
    EXPECT_TRUE(rec.Messages().empty()) << rec.Texts().join('\n').toStdString();
    EXPECT_TRUE(dlg.Panel(TaskCrop)->IsTaskEnabled());
    EXPECT_FALSE(dlg.Panel(TaskSharpen)->IsTaskEnabled());
    EXPECT_TRUE(dlg.Panel(TaskWatermark)->IsTaskEnabled());
    EXPECT_TRUE(static_cast<CPixortaCropTask &>(*dlg.Panel(TaskCrop)->CreateTask()) == crop);
    EXPECT_EQ(static_cast<CPixortaSharpenTask &>(*dlg.Panel(TaskSharpen)->CreateTask()).m_radius, 42);
    EXPECT_TRUE(static_cast<CPixortaWatermarkTask &>(*dlg.Panel(TaskWatermark)->CreateTask()) == mark);
}

} // namespace
