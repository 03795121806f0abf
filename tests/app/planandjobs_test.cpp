// The window's plan preview and its job files, driven as the File menu drives them.
#include "app/jobfiles.h"
#include "app/pixortadlg.h"
#include "app/pixortaplandlg.h"
#include "batch/io/imagefile.h"
#include "tasks/pixortabackgroundtask.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortatexttask.h"
#include "tasks/taskpanels.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>
#include <vector>

namespace {

void Picture(const QString &path, int width, int height)
{
    PxImage img;
    ASSERT_TRUE(img.Create(width, height, 24));
    ASSERT_TRUE(SaveImageFile(img, path));
}

TEST(PlanPreview, ListsEveryImageReadOnlyAndClosesWithOk)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("out");
    Picture(dir.File("a.png"), 30, 20);
    Picture(dir.File("b.png"), 10, 10);
    Picture(dir.File("out/b.jpg"), 4, 4);
    CPixortaSizeTask resize;
    resize.m_mode = CPixortaSizeTask::ModePercentage;
    BatchJob job;
    job.imagePaths = {dir.File("a.png"), dir.File("b.png")};
    job.tasks = {&resize};
    job.outputExtension = "jpg";
    job.outputFolder = dir.File("out");

    bool shown = false;
    const DialogHandler previous = SetDialogHandler([&](QDialog &d) {
        auto *dialog = qobject_cast<CPixortaPlanDlg *>(&d);
        EXPECT_NE(dialog, nullptr);
        if (!dialog)
            return int(QDialog::Rejected);
        shown = true;
        QTreeWidget *list = dialog->List();
        EXPECT_EQ(list->topLevelItemCount(), 2);
        EXPECT_EQ(list->topLevelItem(0)->text(0), "new");
        EXPECT_EQ(list->topLevelItem(0)->text(2), dir.File("out/a.jpg"));
        EXPECT_EQ(list->topLevelItem(0)->text(3), "png 30 x 20");
        EXPECT_EQ(list->topLevelItem(1)->text(0), "overwrites");
        EXPECT_EQ(list->selectionMode(), QAbstractItemView::NoSelection);
        EXPECT_EQ(dialog->Summary()->text(),
                  "Plan for 2 images: 1 new, 1 overwrites. Nothing was written.");
        QPushButton *ok = dialog->findChild<QPushButton *>("okButton");
        EXPECT_NE(ok, nullptr);
        if (ok)
            ok->click();
        return dialog->result();
    });
    CPixortaPlanDlg::ShowPlan(job, nullptr);
    SetDialogHandler(previous);
    EXPECT_TRUE(shown);
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files), QStringList{"b.jpg"});
}

class JobFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (qint32 kind = TaskResize; kind <= TaskCreateSlideshow; ++kind) {
            m_panels.push_back(CreateTaskPanel(kind, &m_window));
            m_list << m_panels.back().get();
        }
    }
    void TearDown() override
    {
        SetSaveFileHandler(nullptr);
        SetOpenFilesHandler(nullptr);
    }
    QWidget m_window;
    std::vector<std::unique_ptr<CPixortaProcessorBaseDlg>> m_panels;
    QList<CPixortaProcessorBaseDlg *> m_list;
};

TEST_F(JobFiles, SaveJobAndOpenJobCarryThePanelsAndTheOutput)
{
    TempFolder dir;
    CPixortaSizeTask resize;
    resize.m_mode = CPixortaSizeTask::ModeConstant;
    resize.m_height = 480;
    CPixortaTextTask text;
    text.m_text = QStringLiteral("%fName%");
    text.m_hAlign = QStringLiteral("left");
    CPixortaBackgroundTask background;
    background.m_left = 9;
    m_list[0]->SetFromTask(resize);
    m_list[2]->SetFromTask(background, false);
    m_list[3]->SetFromTask(text);

    SetSaveFileHandler([&](const SaveFileRequest &request) {
        EXPECT_EQ(request.title, "Save job");
        return dir.File("job.ini");
    });
    ASSERT_TRUE(SaveJobCommand(nullptr, m_list, {"png", false, dir.File("out")}));

    // Fresh panels, as after "Reset tasks", take everything back.
    QWidget other;
    std::vector<std::unique_ptr<CPixortaProcessorBaseDlg>> fresh;
    QList<CPixortaProcessorBaseDlg *> freshList;
    for (qint32 kind = TaskResize; kind <= TaskCreateSlideshow; ++kind) {
        fresh.push_back(CreateTaskPanel(kind, &other));
        freshList << fresh.back().get();
    }
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
    JobOutput output;
    MessageRecorder messages;
    ASSERT_TRUE(OpenJobCommand(nullptr, freshList, &output));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(output.format, "png");
    EXPECT_FALSE(output.inPlace);
    EXPECT_EQ(output.folder, dir.File("out"));
    for (int i = 0; i < m_list.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(freshList[i]->CreateTask()->SaveSettings(), m_list[i]->CreateTask()->SaveSettings());
        EXPECT_EQ(freshList[i]->IsTaskEnabled(), m_list[i]->IsTaskEnabled());
    }
    EXPECT_FALSE(freshList[2]->IsTaskEnabled());

    // A file that cannot be used changes nothing and says why; a cancelled chooser, nothing.
    QFile bad(dir.File("bad.ini"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[Job]\n[Resize]\nmode=constant\nwidth=wide\n");
    bad.close();
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("bad.ini")}; });
    EXPECT_FALSE(OpenJobCommand(nullptr, freshList, &output));
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_TRUE(messages.Texts().front().contains("[Resize] width needs a whole number"));
    EXPECT_EQ(static_cast<CPixortaSizeTask &>(*freshList[0]->CreateTask()).m_height, 480);
    SetOpenFilesHandler([](const OpenFilesRequest &) { return QStringList(); });
    EXPECT_FALSE(OpenJobCommand(nullptr, freshList, &output));
    EXPECT_EQ(messages.Messages().size(), 1u);
}

// The File menu's three commands on the window itself.
TEST(WindowFileMenu, PreviewPlanOpenJobAndSaveJob)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("out");
    Picture(dir.File("a.png"), 30, 20);
    Picture(dir.File("b.png"), 10, 10);
    Picture(dir.File("out/a.png"), 4, 4);
    CPixortaDlg dlg({dir.File("a.png"), dir.File("b.png")});
    auto *format = dlg.findChild<QComboBox *>("formatBox");
    auto *specify = dlg.findChild<QRadioButton *>("specifyFolder");
    auto *folder = dlg.findChild<QLineEdit *>("folderEdit");
    ASSERT_TRUE(format && specify && folder);
    format->setCurrentText("PNG");
    specify->click();
    folder->setText(dir.File("out"));
    CPixortaSizeTask half;
    half.m_mode = CPixortaSizeTask::ModePercentage;
    half.m_percentage = 50;
    dlg.Panels().front()->SetFromTask(half);

    QStringList plan;
    const DialogHandler previous = SetDialogHandler([&](QDialog &d) {
        if (auto *dialog = qobject_cast<CPixortaPlanDlg *>(&d))
            for (int i = 0; i < dialog->List()->topLevelItemCount(); ++i)
                plan << dialog->List()->topLevelItem(i)->text(0);
        return int(QDialog::Accepted);
    });
    dlg.findChild<QAction *>("previewPlanAction")->trigger();
    SetDialogHandler(previous);
    EXPECT_EQ(plan, QStringList({"overwrites", "new"}));
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files), QStringList{"a.png"});

    SetSaveFileHandler([&](const SaveFileRequest &) { return dir.File("job.ini"); });
    dlg.findChild<QAction *>("saveJobAction")->trigger();
    SetSaveFileHandler(nullptr);
    format->setCurrentIndex(0);
    dlg.findChild<QRadioButton *>("changeOriginals")->click();
    dlg.Panels().front()->SetFromTask(CPixortaSizeTask());

    MessageRecorder messages;
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
    dlg.findChild<QAction *>("openJobAction")->trigger();
    EXPECT_EQ(format->currentText(), "PNG");
    EXPECT_TRUE(specify->isChecked());
    EXPECT_TRUE(folder->isEnabled());
    EXPECT_EQ(folder->text(), dir.File("out"));
    EXPECT_EQ(static_cast<CPixortaSizeTask &>(*dlg.Panels().front()->CreateTask()).m_percentage, 50);
    EXPECT_TRUE(messages.Messages().empty());

    // A command-line job's format the window does not offer is said, not guessed.
    QFile tga(dir.File("tga.ini"));
    ASSERT_TRUE(tga.open(QIODevice::WriteOnly));
    tga.write("[Job]\nformat=tga\ndestination=in-place\n");
    tga.close();
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("tga.ini")}; });
    dlg.findChild<QAction *>("openJobAction")->trigger();
    SetOpenFilesHandler(nullptr);
    EXPECT_EQ(format->currentText(), "PNG");
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_TRUE(messages.Texts().front().contains("\"tga\" is not one this window offers"));
    EXPECT_FALSE(specify->isChecked());
}

} // namespace
