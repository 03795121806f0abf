// The window's plan preview and its job files, driven as the File menu drives them.
#include "app/pixortadlg.h"
#include "app/pixortaplandlg.h"
#include "imageio/imagefile.h"
#include "tasks/pixortaprocessorbasedlg.h"
#include "tasks/pixortasizetask.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QDir>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

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
    auto resize = std::make_shared<CPixortaSizeTask>();
    resize->m_mode = CPixortaSizeTask::ModePercentage;
    Job job = Job::Of({resize});
    job.format = "jpg";
    job.destination = Job::Destination::Folder;
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
    CPixortaPlanDlg::ShowPlan(job, {dir.File("a.png"), dir.File("b.png")}, nullptr);
    SetDialogHandler(previous);
    EXPECT_TRUE(shown);
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files), QStringList{"b.jpg"});
}

// Where a result's place is taken, each row says what becomes of it, as the batch would do it;
// what holds for the whole job stands above the rows.
TEST(PlanPreview, SaysWhatBecomesOfATakenPlaceAndWhatHoldsForTheJob)
{
    TempFolder dir;
    QDir(dir.Path()).mkpath("out");
    QDir(dir.Path()).mkpath("in2");
    Picture(dir.File("a.png"), 30, 20);
    Picture(dir.File("in2/a.png"), 10, 10);
    Picture(dir.File("b.png"), 8, 8);
    Picture(dir.File("out/b.png"), 4, 4);
    const QStringList images = {dir.File("a.png"), dir.File("in2/a.png"), dir.File("b.png")};
    const struct {
        Job::IfExists ifExists;
        QString pattern;
        QStringList what, results, notes;
    } cases[] = {
        {Job::IfExists::Overwrite, "",
         {"new", "collides with " + dir.File("a.png") + ", renamed to a00.png", "overwrites"},
         {"a.png", "a.png", "b.png"}, {}},
        {Job::IfExists::Skip, "", {"new", "skips", "skips"}, {"a.png", "a.png", "b.png"}, {}},
        {Job::IfExists::Rename, "", {"new", "renames", "renames"}, {"a.png", "a00.png", "b00.png"}, {}},
        {Job::IfExists::Rename, "photo", {"new", "renames", "renames"},
         {"photo.png", "photo00.png", "photo01.png"},
         {"every image is named 'photo': each after the first gets a free name."}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what.join(", ").toStdString());
        auto resize = std::make_shared<CPixortaSizeTask>();
        resize->m_mode = CPixortaSizeTask::ModePercentage;
        Job job = Job::Of({resize});
        job.format = "png";
        job.destination = Job::Destination::Folder;
        job.outputFolder = dir.File("out");
        job.ifExists = c.ifExists;
        job.namePattern = c.pattern;
        QStringList what, results;
        QString notes;
        bool notesShown = false;
        int columns = 0;
        const DialogHandler previous = SetDialogHandler([&](QDialog &d) {
            if (auto *plan = qobject_cast<CPixortaPlanDlg *>(&d)) {
                columns = plan->List()->columnCount();
                for (int i = 0; i < plan->List()->topLevelItemCount(); ++i) {
                    what << plan->List()->topLevelItem(i)->text(0);
                    results << QFileInfo(plan->List()->topLevelItem(i)->text(2)).fileName();
                }
                notes = plan->Notes()->text();
                notesShown = plan->Notes()->isVisibleTo(plan);
            }
            return int(QDialog::Accepted);
        });
        CPixortaPlanDlg::ShowPlan(job, images, nullptr);
        SetDialogHandler(previous);
        EXPECT_EQ(what, c.what);
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(columns, 4) << "no variants, no column for them";
        EXPECT_EQ(notes, c.notes.join('\n'));
        EXPECT_EQ(notesShown, !c.notes.isEmpty());
    }
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files), QStringList{"b.png"});
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
    dlg.Panel(TaskResize)->SetFromTask(half);

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
    dlg.Panel(TaskResize)->SetFromTask(CPixortaSizeTask());

    MessageRecorder messages;
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
    dlg.findChild<QAction *>("openJobAction")->trigger();
    EXPECT_EQ(format->currentText(), "PNG");
    EXPECT_TRUE(specify->isChecked());
    EXPECT_TRUE(folder->isEnabled());
    EXPECT_EQ(folder->text(), dir.File("out"));
    EXPECT_EQ(static_cast<CPixortaSizeTask &>(*dlg.Panel(TaskResize)->CreateTask()).m_percentage, 50);
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
    EXPECT_EQ(static_cast<CPixortaSizeTask &>(*dlg.Panel(TaskResize)->CreateTask()).m_percentage,
              100) << "a job sets every task, to its defaults where the file says nothing";

    // A file that cannot be used changes nothing and says why; a cancelled chooser, nothing.
    QFile bad(dir.File("bad.ini"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[Job]\nformat=bmp\n[Resize]\nmode=constant\nwidth=wide\n");
    bad.close();
    for (const QString &chosen : {dir.File("bad.ini"), QString()}) {
        SetOpenFilesHandler([&](const OpenFilesRequest &) {
            return chosen.isEmpty() ? QStringList() : QStringList{chosen};
        });
        dlg.findChild<QAction *>("openJobAction")->trigger();
    }
    SetOpenFilesHandler(nullptr);
    ASSERT_EQ(messages.Messages().size(), 2u);
    EXPECT_TRUE(messages.Texts().back().contains("[Resize] width needs a whole number"));
    EXPECT_EQ(format->currentText(), "PNG");
    EXPECT_TRUE(dlg.findChild<QRadioButton *>("changeOriginals")->isChecked());
    // The background was off when the job was saved, and stays off.
    EXPECT_FALSE(dlg.Panel(TaskAddBackground)->IsTaskEnabled());
}

// The output options beside the format box go into the job the window saves and come back
// from it, and each is offered only where it applies.
TEST(WindowFileMenu, TheOutputOptionsTravelWithTheJob)
{
    TempFolder dir;
    Picture(dir.File("a.png"), 30, 20);
    CPixortaDlg dlg({dir.File("a.png")});
    auto *format = dlg.findChild<QComboBox *>("formatBox");
    auto *quality = dlg.findChild<QSpinBox *>("qualityEdit");
    auto *lossless = dlg.findChild<QCheckBox *>("losslessCheck");
    auto *keep = dlg.findChild<QCheckBox *>("keepMetadataCheck");
    auto *strip = dlg.findChild<QCheckBox *>("stripLocationCheck");
    auto *dates = dlg.findChild<QCheckBox *>("keepDatesCheck");
    ASSERT_TRUE(format && quality && lossless && keep && strip && dates);
    EXPECT_EQ(quality->minimum(), 0);
    EXPECT_EQ(quality->maximum(), 100);
    EXPECT_EQ(quality->text(), "Default");

    const struct {
        const char *format;
        bool quality, lossless;
    } offers[] = {{"JPG", true, false}, {"PNG", false, false}, {"WEBP", true, true},
                  {"AVIF", true, false}, {"HEIC", true, false}, {"JXL", true, true},
                  {"BMP", false, false}};
    for (const auto &o : offers) {
        SCOPED_TRACE(o.format);
        format->setCurrentText(o.format);
        EXPECT_EQ(quality->isEnabled(), o.quality);
        EXPECT_EQ(lossless->isEnabled(), o.lossless);
    }
    EXPECT_FALSE(strip->isEnabled()) << "nothing is kept to strip";
    keep->setChecked(true);
    EXPECT_TRUE(strip->isEnabled());

    format->setCurrentText("WEBP");
    quality->setValue(70);
    lossless->setChecked(true);
    strip->setChecked(true);
    dates->setChecked(true);
    SetSaveFileHandler([&](const SaveFileRequest &) { return dir.File("job.ini"); });
    dlg.findChild<QAction *>("saveJobAction")->trigger();
    SetSaveFileHandler(nullptr);
    const QByteArray text = FileBytes(dir.File("job.ini"));
    for (const char *line : {"format=webp", "quality=70", "lossless=yes", "keep-metadata=yes",
                             "strip-location=yes", "keep-dates=yes"})
        EXPECT_TRUE(text.contains(line)) << line;

    format->setCurrentIndex(0);
    quality->setValue(0);
    for (QCheckBox *box : {lossless, keep, strip, dates})
        box->setChecked(false);
    MessageRecorder messages;
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
    dlg.findChild<QAction *>("openJobAction")->trigger();
    SetOpenFilesHandler(nullptr);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(format->currentText(), "WEBP");
    EXPECT_EQ(quality->value(), 70);
    EXPECT_TRUE(lossless->isChecked() && keep->isChecked() && strip->isChecked() &&
                dates->isChecked());
    EXPECT_TRUE(strip->isEnabled());
}

} // namespace
