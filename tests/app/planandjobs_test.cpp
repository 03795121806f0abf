// The window's plan preview and its job files, driven as the File menu drives them.
#include "app/jobfiles.h"
#include "app/pixortaplandlg.h"
#include "batch/io/imagefile.h"
#include "tasks/pixortabackgroundtask.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortatexttask.h"
#include "tasks/taskpanels.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
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
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<CPixortaPlanDlg *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shown = true;
        // Whatever fails below, the dialog closes and the test goes on.
        const auto close = qScopeGuard([dialog] { dialog->accept(); });
        QTreeWidget *list = dialog->List();
        ASSERT_EQ(list->topLevelItemCount(), 2);
        EXPECT_EQ(list->topLevelItem(0)->text(0), "new");
        EXPECT_EQ(list->topLevelItem(0)->text(2), dir.File("out/a.jpg"));
        EXPECT_EQ(list->topLevelItem(0)->text(3), "png 30 x 20");
        EXPECT_EQ(list->topLevelItem(1)->text(0), "overwrites");
        EXPECT_EQ(list->selectionMode(), QAbstractItemView::NoSelection);
        EXPECT_EQ(dialog->Summary()->text(),
                  "Plan for 2 images: 1 new, 1 overwrites. Nothing was written.");
        QPushButton *ok = dialog->findChild<QPushButton *>("okButton");
        ASSERT_NE(ok, nullptr);
        ok->click();
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    });
    CPixortaPlanDlg::ShowPlan(job, nullptr);
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

} // namespace
