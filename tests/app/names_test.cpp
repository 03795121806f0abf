// Where the window's results go and what they are called: the file name pattern with its menu
// and its example, the counter's start, the choice where a file exists, sub-folders kept, and
// the variants of an opened job.
#include "windowtests.h"
#include "app/pixortadlg.h"
#include "app/pixortaplandlg.h"
#include "batch/namepattern.h"
#include "core/paths.h"
#include "batch/pixortafinalprocessordlg.h"
#include "imageio/imagefile.h"
#include "tasks/pixortaprocessorbasedlg.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "tests/support/testsupport.h"
#include "ui/quickmenu.h"
#include "undo/backup.h"
#include "undo/backup_testhooks.h"
#include "undo/journal.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

namespace {

QString Picture(const TempFolder &dir, const QString &name, int w = 30, int h = 20)
{
    QDir().mkpath(QFileInfo(dir.File(name)).absolutePath());
    PxImage img;
    EXPECT_TRUE(img.Create(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 24));
    const QString path = dir.File(name);
    EXPECT_TRUE(SaveImageFile(img, path));
    return path;
}



// Picks the menu item of that text (none: the menu is closed without a pick), and keeps what
// the menu offered.
class MenuPick {
public:
    explicit MenuPick(QString text) : m_text(std::move(text))
    {
        m_previous = SetQuickMenuHandler([this](const QList<int> &ids, const QList<QString> &texts) {
            shown = texts;
            const qsizetype at = texts.indexOf(m_text);
            return at < 0 ? -1 : ids[at];
        });
    }
    ~MenuPick() { SetQuickMenuHandler(m_previous); }
    QList<QString> shown;

private:
    QString m_text;
    QuickMenuHandler m_previous;
};

class WindowNames : public ::testing::Test {
protected:
    // Whatever a test does not expect to be asked is answered, never waited on, and fails it.
    MessageRecorder unexpected;
    void SetUp() override { UndoHistory::Instance().Clear(); }
    void TearDown() override
    {
        EXPECT_TRUE(unexpected.Texts().isEmpty()) << unexpected.Texts().join('\n').toStdString();
        SetOpenFilesHandler(nullptr);
        SetSaveFileHandler(nullptr);
        SetFolderHandler(nullptr);
        UndoHistory::Instance().Clear();
        RemoveBackupFolder();
        ResetBackupFolderForTests();
        QDir(CUndoJournal::DefaultRoot()).removeRecursively();
    }

    // The job Start! hands the processing window, which is not run.
    static std::optional<Job> StartedJob(CPixortaDlg &dlg)
    {
        std::optional<Job> job;
        DialogRecorder dialogs([&](QDialog &d) {
            if (auto *processing = qobject_cast<CPixortaFinalProcessorDlg *>(&d))
                job = processing->Runner().RunJob();
            return int(QDialog::Rejected);
        });
        Child<QPushButton>(dlg, "startButton")->click();
        return job;
    }

    // Start! as the user sees it: the batch runs, and "Done." is closed once it shows.
    static void RunStart(CPixortaDlg &dlg)
    {
        EXPECT_EQ(RunStartAndCloseDone(dlg),
                  QStringList({"CPixortaFinalProcessorDlg", "CPixortaAfterFinalOperationDlg"}));
    }
};

TEST_F(WindowNames, TheVariablesMenuInsertsItsTokenWhereTheCursorIs)
{
    CPixortaDlg dlg;
    auto *edit = Child<QLineEdit>(dlg, "nameEdit");
    auto *link = Child<QAbstractButton>(dlg, "nameTokensLink");
    ASSERT_TRUE(edit && link);
    EXPECT_EQ(edit->accessibleName(), "File name");
    EXPECT_EQ(link->text(), "(Insert dynamic variable...)");
    QStringList offered;
    for (const auto &[text, token] : NamePatternTokens())
        offered << text;

    const struct {
        const char *before;
        int cursor;
        int selected;
        const char *item;
        const char *after;
    } cases[] = {
        {"", 0, 0, "Counter of three digits (001, 002...)", "%n:3%"},
        {"holiday ", 8, 0, "File title (name without the extension)", "holiday %name%"},
        {"ab", 1, 0, "Date taken (2026-07-14)", "a%date%b"},
        // A selection is replaced, as typing would replace it.
        {"a-old-b", 2, 3, "Width of the result", "a-%width%-b"},
        // Closed without a pick: nothing changes.
        {"keep", 2, 0, "", "keep"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        edit->setText(c.before);
        edit->setCursorPosition(c.cursor);
        if (c.selected)
            edit->setSelection(c.cursor, c.selected);
        MenuPick pick(c.item);
        link->click();
        EXPECT_EQ(pick.shown, offered);
        EXPECT_EQ(edit->text(), c.after);
    }
}

TEST_F(WindowNames, TheExampleShowsTheFirstImagesNameOrWhyThePatternCannotBeUsed)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.png", 30, 20);
    const QString b = Picture(dir, "b.png", 8, 8);
    CPixortaDlg dlg;
    QLabel *example = dlg.NameExample();
    auto *edit = Child<QLineEdit>(dlg, "nameEdit");
    auto *start = Child<QSpinBox>(dlg, "startEdit");
    auto *format = Child<QComboBox>(dlg, "formatBox");
    ASSERT_TRUE(example && edit && start && format);
    EXPECT_EQ(example->objectName(), "nameExample");
    EXPECT_EQ(start->minimum(), 0);
    EXPECT_EQ(start->maximum(), 999999999);
    EXPECT_EQ(start->value(), 1);
    const QColor normal = example->palette().color(QPalette::WindowText);

    // An empty list has no first image.
    edit->setText("%n:3% %name%");
    EXPECT_EQ(example->text(), "");
    dlg.ImageList()->AddFiles({a, b});
    QCoreApplication::processEvents();
    EXPECT_EQ(example->text(), "Example: 001 a.png");

    CPixortaSizeTask half;
    half.m_mode = CPixortaSizeTask::ModePercentage;
    half.m_percentage = 50;
    dlg.Panel(TaskResize)->SetFromTask(half);
    const struct {
        const char *pattern;
        int start;
        const char *format;
        QString shown;
    } cases[] = {
        {"", 1, "Don't change", "Example: a.png"},
        {"", 1, "JPG", "Example: a.jpg"},
        {"%n:3% %name%", 7, "PNG", "Example: 007 a.png"},
        {"%n%", 0, "WEBP", "Example: 0.webp"},
        // The size the tasks give the result.
        {"%name% %width%x%height%", 1, "Don't change", "Example: a 15x10.png"},
        {"%name%_%ext%", 1, "BMP", "Example: a_png.bmp"},
        {"%folder%-%name%", 1, "Don't change",
         "Example: " + QFileInfo(dir.Path()).fileName() + "-a.png"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        start->setValue(c.start);
        format->setCurrentText(c.format);
        edit->setText(c.pattern);
        EXPECT_EQ(example->text(), c.shown);
        EXPECT_EQ(example->palette().color(QPalette::WindowText), normal);
    }

    // A pattern that cannot be used says why, in the warning colour, until it is mended.
    for (const char *bad : {"%nme%", "%n:12%", "a/b", "100%"}) {
        SCOPED_TRACE(bad);
        edit->setText(bad);
        const QString problem = NamePatternProblem(bad);
        ASSERT_FALSE(problem.isEmpty());
        EXPECT_TRUE(example->text().startsWith(problem.left(1).toUpper() + problem.mid(1)))
            << example->text().toStdString();
        EXPECT_NE(example->palette().color(QPalette::WindowText), normal);
        EXPECT_EQ(example->toolTip(), example->text());
    }
    edit->setText("%name%!");
    EXPECT_EQ(example->text(), "Example: a!.png");
    EXPECT_EQ(example->palette().color(QPalette::WindowText), normal);

    // A task changed in its panel changes the size the name holds.
    edit->setText("%width%");
    EXPECT_EQ(example->text(), "Example: 15.png");
    auto *percentage = Child<QAbstractSpinBox>(*dlg.Panel(TaskResize), "percentage");
    ASSERT_TRUE(percentage);
    percentage->selectAll();
    QTest::keyClicks(percentage, "200");
    QCoreApplication::processEvents();
    EXPECT_EQ(example->text(), "Example: 60.png");
    edit->setText("%name%!");

    // The list decides which image comes first.
    dlg.ImageList()->item(0)->setSelected(true);
    dlg.ImageList()->RemoveEntries(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(example->text(), "Example: b!.png");
    dlg.ImageList()->RemoveEntries(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(example->text(), "");
}

// A name the window cannot give is refused before anything runs, by every command that makes
// the job; a name that is every image's passes only with "Rename".
TEST_F(WindowNames, StartPlanAndSaveRefuseANameThatCannotBeGiven)
{
    TempFolder dir;
    CPixortaDlg dlg({Picture(dir, "a.png"), Picture(dir, "b.png")});
    auto *edit = Child<QLineEdit>(dlg, "nameEdit");
    auto *ifExists = Child<QComboBox>(dlg, "ifExistsBox");
    ASSERT_TRUE(edit && ifExists);
    EXPECT_EQ(QStringList({ifExists->itemText(0), ifExists->itemText(1), ifExists->itemText(2)}),
              QStringList({"Overwrite (backed up)", "Skip", "Rename"}));
    EXPECT_EQ(ifExists->currentText(), "Overwrite (backed up)");
    Child<QRadioButton>(dlg, "specifyFolder")->click();
    Child<QLineEdit>(dlg, "folderEdit")->setText(dir.File("out"));
    bool saved = false;
    SetSaveFileHandler([&](const SaveFileRequest &) {
        saved = true;
        return dir.File("job.ini");
    });

    const struct {
        const char *pattern;
        const char *ifExists;
        const char *refusal; // "" when the job goes ahead
    } cases[] = {
        {"%nme%", "Rename", "The file name \"%nme%\" cannot be used: Unknown token '%nme%'"},
        {"%date: %", "Overwrite (backed up)", "The file name \"%date: %\" cannot be used: "},
        {"photo", "Overwrite (backed up)", "The file name \"photo\" would be every image's name."},
        {"photo", "Skip", "The file name \"photo\" would be every image's name."},
        {"photo", "Rename", ""},
        {"%n% photo", "Overwrite (backed up)", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.pattern << " " << c.ifExists);
        edit->setText(c.pattern);
        ifExists->setCurrentText(c.ifExists);
        for (const char *command : {"startAction", "previewPlanAction", "saveJobAction"}) {
            SCOPED_TRACE(command);
            MessageRecorder rec;
            DialogRecorder dialogs;
            saved = false;
            Child<QAction>(dlg, command)->trigger();
            const bool ran = !dialogs.names.isEmpty() || saved;
            if (*c.refusal) {
                ASSERT_EQ(rec.Texts().size(), 1);
                EXPECT_TRUE(rec.Texts().front().startsWith(c.refusal))
                    << rec.Texts().front().toStdString();
                EXPECT_EQ(rec.Messages().front().buttons, MsgButtons::Ok);
                EXPECT_FALSE(ran);
                EXPECT_EQ(dlg.focusWidget(), edit);
            } else {
                EXPECT_TRUE(rec.Texts().isEmpty()) << rec.Texts().join('\n').toStdString();
                EXPECT_TRUE(ran);
            }
        }
    }
    EXPECT_FALSE(QFileInfo::exists(dir.File("out")));

    // What the job as a whole cannot do is refused too: variants beside a slideshow.
    edit->setText("%name%");
    QFile variants(dir.File("variants.ini"));
    ASSERT_TRUE(variants.open(QIODevice::WriteOnly));
    variants.write("[Job]\nformat=png\n[Variant small]\nwidth=10\nname=%name%_small\n");
    variants.close();
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("variants.ini")}; });
    Child<QAction>(dlg, "openJobAction")->trigger();
    CPixortaSlideShowTask show;
    show.m_create = 1;
    for (const auto &panel : dlg.Panels())
        if (panel->GetTaskKind() == TaskCreateSlideshow)
            panel->SetFromTask(show, true);
    MessageRecorder rec;
    DialogRecorder dialogs;
    Child<QAction>(dlg, "startAction")->trigger();
    EXPECT_TRUE(dialogs.names.isEmpty());
    ASSERT_EQ(rec.Texts().size(), 1);
    EXPECT_EQ(rec.Texts().front(),
              "A slideshow cannot be made from variants: the movie takes one set of pictures.");
}

// What the window cannot show (the variants) it keeps from the job it opened, until another is
// opened; what it shows goes into the job file and comes back from it.
TEST_F(WindowNames, TheNamesAndTheOpenedJobsVariantsTravelWithTheJob)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.png");
    CPixortaDlg dlg({a});
    auto *edit = Child<QLineEdit>(dlg, "nameEdit");
    auto *start = Child<QSpinBox>(dlg, "startEdit");
    auto *keep = Child<QCheckBox>(dlg, "keepFoldersCheck");
    auto *ifExists = Child<QComboBox>(dlg, "ifExistsBox");
    auto *specify = Child<QRadioButton>(dlg, "specifyFolder");
    ASSERT_TRUE(edit && start && keep && ifExists && specify);
    // Sub-folders are kept only under an output folder.
    EXPECT_FALSE(keep->isEnabled());
    specify->click();
    EXPECT_TRUE(keep->isEnabled());
    Child<QLineEdit>(dlg, "folderEdit")->setText(dir.File("out"));

    const struct {
        const char *pattern;
        int start;
        bool keep;
        const char *ifExists;
        QList<QByteArray> lines, absent;
    } cases[] = {
        {"%n:3% %name%", 5, true, "Skip",
         {"name=%n:3% %name%", "start=5", "keep-folders=yes", "if-exists=skip"}, {}},
        {"%date% %%", 0, false, "Rename", {"name=%date% %%", "start=0", "if-exists=rename"},
         {"keep-folders"}},
        // What is as it always was is not written: older programs read the file the same.
        {"", 1, false, "Overwrite (backed up)", {}, {"name=", "start=", "keep-folders", "if-exists"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        edit->setText(c.pattern);
        start->setValue(c.start);
        keep->setChecked(c.keep);
        ifExists->setCurrentText(c.ifExists);
        SetSaveFileHandler([&](const SaveFileRequest &) { return dir.File("job.ini"); });
        Child<QAction>(dlg, "saveJobAction")->trigger();
        const QByteArray text = FileBytes(dir.File("job.ini"));
        for (const QByteArray &line : c.lines)
            EXPECT_TRUE(text.contains(line + '\n')) << line.constData() << "\n" << text.constData();
        for (const QByteArray &line : c.absent)
            EXPECT_FALSE(text.contains(line)) << line.constData() << "\n" << text.constData();

        edit->setText("other");
        start->setValue(99);
        keep->setChecked(!c.keep);
        ifExists->setCurrentIndex(ifExists->currentIndex() == 1 ? 2 : 1);
        MessageRecorder rec;
        SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
        Child<QAction>(dlg, "openJobAction")->trigger();
        EXPECT_TRUE(rec.Texts().isEmpty()) << rec.Texts().join('\n').toStdString();
        EXPECT_EQ(edit->text(), c.pattern);
        EXPECT_EQ(start->value(), c.start);
        EXPECT_EQ(keep->isChecked(), c.keep);
        EXPECT_EQ(ifExists->currentText(), c.ifExists);
        const std::optional<Job> job = StartedJob(dlg);
        ASSERT_TRUE(job);
        EXPECT_EQ(job->namePattern, c.pattern);
        EXPECT_EQ(job->counterStart, c.start);
        EXPECT_EQ(job->keepFolders, c.keep);
        EXPECT_TRUE(job->variants.isEmpty());
    }

    // A job with variants: Start!, the plan and Save job all carry them.
    QFile variants(dir.File("variants.ini"));
    ASSERT_TRUE(variants.open(QIODevice::WriteOnly));
    variants.write("[Job]\nformat=png\nname=%name%_full\n"
                   "[Variant small]\nwidth=10\nname=%name%_small\n"
                   "[Variant gray]\nformat=bmp\n");
    variants.close();
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("variants.ini")}; });
    Child<QAction>(dlg, "openJobAction")->trigger();
    EXPECT_EQ(edit->text(), "%name%_full");
    // The job names no destination: the window's stays, its folder with it.
    EXPECT_TRUE(specify->isChecked());
    EXPECT_EQ(Child<QLineEdit>(dlg, "folderEdit")->text(), dir.File("out"));
    std::optional<Job> job = StartedJob(dlg);
    ASSERT_TRUE(job);
    ASSERT_EQ(job->variants.size(), 2);
    EXPECT_EQ(job->variants[0].label, "small");
    EXPECT_EQ(job->variants[1].label, "gray");
    EXPECT_TRUE(dlg.NameExample()->toolTip().contains("variants (small, gray)"))
        << dlg.NameExample()->toolTip().toStdString();

    QStringList notes, rows;
    int variantColumn = -1;
    {
        DialogRecorder dialogs([&](QDialog &d) {
            if (auto *plan = qobject_cast<CPixortaPlanDlg *>(&d)) {
                notes = plan->Notes()->text().split('\n');
                EXPECT_TRUE(plan->Notes()->isVisibleTo(plan));
                variantColumn = plan->Column("Variant");
                const int result = plan->Column("Result");
                for (int i = 0; i < plan->List()->topLevelItemCount(); ++i)
                    rows << plan->List()->topLevelItem(i)->text(variantColumn) + " " +
                                FileNameOf(plan->List()->topLevelItem(i)->text(result));
            }
            return int(QDialog::Accepted);
        });
        Child<QAction>(dlg, "previewPlanAction")->trigger();
    }
    ASSERT_FALSE(notes.isEmpty());
    EXPECT_EQ(notes.front(),
              "The job's variants are used: every image gets a result for each of small, gray.");
    EXPECT_EQ(variantColumn, 2);
    EXPECT_EQ(rows, QStringList({"small a_small.png", "gray a_full.bmp"}));

    SetSaveFileHandler([&](const SaveFileRequest &) { return dir.File("again.ini"); });
    Child<QAction>(dlg, "saveJobAction")->trigger();
    const QByteArray again = FileBytes(dir.File("again.ini"));
    EXPECT_TRUE(again.contains("[Variant small]\nwidth=10\nname=%name%_small\n")) << again.constData();
    EXPECT_TRUE(again.contains("[Variant gray]\nformat=bmp\n")) << again.constData();

    // Another job, without variants, ends them.
    SetOpenFilesHandler([&](const OpenFilesRequest &) { return QStringList{dir.File("job.ini")}; });
    Child<QAction>(dlg, "openJobAction")->trigger();
    job = StartedJob(dlg);
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->variants.isEmpty());
    EXPECT_FALSE(dlg.NameExample()->toolTip().contains("variants"));
}

// Files found inside an added folder go to the same place under the output folder; files
// added on their own go to its top.
TEST_F(WindowNames, KeepingSubFoldersMirrorsTheAddedFolder)
{
    TempFolder dir;
    const QString deep = Picture(dir, "trip/2026/rome/day1/deep.png");
    const QString middle = Picture(dir, "trip/2026/middle.png");
    const QString top = Picture(dir, "trip/top.png");
    const QString loose = Picture(dir, "elsewhere/sub/loose.png");
    SetFolderHandler([&](const QString &, const QString &) { return dir.File("trip"); });
    CPixortaDlg dlg({loose});
    Child<QPushButton>(dlg, "addFolderButton")->click();
    ASSERT_EQ(dlg.ImageList()->GetPaths(true), QStringList({loose, middle, deep, top}));
    const QHash<QString, QString> found = dlg.ImageList()->GetFoundIn();
    EXPECT_EQ(found, (QHash<QString, QString>{{middle, "2026"}, {deep, "2026/rome/day1"}}));

    Child<QRadioButton>(dlg, "specifyFolder")->click();
    Child<QLineEdit>(dlg, "folderEdit")->setText(dir.File("out"));
    Child<QCheckBox>(dlg, "keepFoldersCheck")->setChecked(true);
    Child<QComboBox>(dlg, "formatBox")->setCurrentText("BMP");
    Child<QLineEdit>(dlg, "nameEdit")->setText("%n:2%-%name%");
    ASSERT_NO_FATAL_FAILURE(RunStart(dlg));

    QStringList written;
    QDirIterator it(dir.File("out"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        written << QDir(dir.File("out")).relativeFilePath(it.next());
    written.sort();
    EXPECT_EQ(written, QStringList({"01-loose.bmp", "04-top.bmp", "2026/02-middle.bmp",
                                    "2026/rome/day1/03-deep.bmp"}));
    PxImage result;
    EXPECT_TRUE(LoadImageFile(result, dir.File("out/2026/rome/day1/03-deep.bmp")));
    EXPECT_EQ(result.GetWidth(), 30u);

    // Without the choice every result goes to the top.
    QDir(dir.File("out")).removeRecursively();
    Child<QCheckBox>(dlg, "keepFoldersCheck")->setChecked(false);
    ASSERT_NO_FATAL_FAILURE(RunStart(dlg));
    EXPECT_EQ(QDir(dir.File("out")).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList({"01-loose.bmp", "02-middle.bmp", "03-deep.bmp", "04-top.bmp"}));
}

} // namespace
