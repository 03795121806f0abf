#include "tasks/estaticcolor.h"
#include "tasks/pixortaprocessorbasedlg.h"
#include "tasks/pixortaspinedit.h"
#include "tasks/pixortatask.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Lets queued work (the panel's after-input hook) run.
void Settle()
{
    QCoreApplication::processEvents();
}

// A panel whose controls come after the base was built, one of them nested in a container
// whose own child is added later still.
class ProbePanel : public CPixortaProcessorBaseDlg {
public:
    explicit ProbePanel(qint32 kind = TaskNone) : m_kind(kind)
    {
        auto *layout = new QVBoxLayout(this);
        edit = new QLineEdit(this);
        box = new QWidget(this);
        layout->addWidget(edit);
        layout->addWidget(box);
        auto *inner = new QVBoxLayout(box);
        check = new QCheckBox(QStringLiteral("Switch"), box);
        inner->addWidget(check);
        label = new QLabel(QStringLiteral("Label"));
        inner->addWidget(label); // reparented into the container later
    }

    std::unique_ptr<CPixortaTask> CreateTask() override
    {
        if (m_kind == TaskNone)
            return nullptr;
        return std::make_unique<CPixortaTask>(m_kind);
    }

    QLineEdit *edit;
    QWidget *box;
    QCheckBox *check;
    QLabel *label;
    int hookRuns = 0;
    bool checkSeenByHook = false;

protected:
    void AfterUserInput() override
    {
        ++hookRuns;
        checkSeenByHook = check->isChecked();
    }

private:
    qint32 m_kind;
};

TEST(TaskKindNames, EveryKindAndTheUnknown)
{
    const std::pair<qint32, const char *> rows[] = {
        {0, "None"},
        {1, "Resize"},
        {2, "Change colors"},
        {3, "Add background"},
        {4, "Add text"},
        {5, "Create slideshow"},
        {6, "Crop"},
        {7, "Sharpen"},
        {8, "Watermark"},
        {9, "Internal error, type undefined"},
        {-1, "Internal error, type undefined"},
        {1000, "Internal error, type undefined"},
    };
    for (const auto &[kind, name] : rows) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(TaskKindName(kind), QString::fromLatin1(name));
    }
}

TEST(ProcessorBase, ReleasesAnywhereInThePanelSetTheModifiedFlag)
{
    struct Row {
        const char *name;
        std::function<void(ProbePanel &)> act;
        bool modified;
    } rows[] = {
        {"key release in a direct child",
         [](ProbePanel &p) { QTest::keyRelease(p.edit, Qt::Key_A); }, true},
        {"key release in a nested child",
         [](ProbePanel &p) { QTest::keyRelease(p.check, Qt::Key_Space); }, true},
        {"Alt combination",
         [](ProbePanel &p) { QTest::keyClick(p.edit, Qt::Key_F, Qt::AltModifier); }, true},
        {"left click on a child added to a container later",
         [](ProbePanel &p) { QTest::mouseClick(p.label, Qt::LeftButton); }, true},
        {"left click on the panel itself",
         [](ProbePanel &p) { QTest::mouseClick(&p, Qt::LeftButton, {}, QPoint(1, 1)); }, true},
        {"key press alone", [](ProbePanel &p) { QTest::keyPress(p.edit, Qt::Key_A); }, false},
        {"left press alone", [](ProbePanel &p) { QTest::mousePress(p.edit, Qt::LeftButton); },
         false},
        {"right click", [](ProbePanel &p) { QTest::mouseClick(p.edit, Qt::RightButton); }, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ProbePanel panel;
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        EXPECT_FALSE(panel.IsModified());
        row.act(panel);
        Settle();
        EXPECT_EQ(panel.IsModified(), row.modified);
        EXPECT_EQ(panel.hookRuns, row.modified ? 1 : 0);
    }
}

TEST(ProcessorBase, HookSeesTheControlAfterItHandledTheRelease)
{
    ProbePanel panel;
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    QTest::mouseClick(panel.check, Qt::LeftButton, {}, QPoint(6, panel.check->height() / 2));
    Settle();
    ASSERT_TRUE(panel.check->isChecked());
    EXPECT_TRUE(panel.checkSeenByHook);

    // A check box toggles on the Space key's release.
    QTest::keyClick(panel.check, Qt::Key_Space);
    Settle();
    ASSERT_FALSE(panel.check->isChecked());
    EXPECT_FALSE(panel.checkSeenByHook);
}

TEST(ProcessorBase, KindComesFromTheRecordThePanelMakes)
{
    EXPECT_EQ(CPixortaProcessorBaseDlg().GetTaskKind(), TaskNone);
    EXPECT_EQ(ProbePanel(TaskAddText).GetTaskKind(), TaskAddText);
    EXPECT_EQ(ProbePanel(42).GetTaskKind(), 42);
    EXPECT_TRUE(CPixortaProcessorBaseDlg().IsTaskEnabled());
    EXPECT_EQ(CPixortaProcessorBaseDlg().CreateTask(), nullptr);
}

TEST(ProcessorBase, MasterCheckBoxEnablesEveryControlButStaysUsable)
{
    CPixortaProcessorBaseDlg panel;
    auto *master = new QCheckBox(QStringLiteral("Add background"), &panel);
    auto *edit = new QLineEdit(&panel);
    auto *swatch = new CEStaticColor(&panel);
    auto *spin = CPixortaProcessorBaseDlg::CreateSpinEdit(&panel, QStringLiteral("n"));

    for (bool on : {false, true, false}) {
        SCOPED_TRACE(on);
        master->setChecked(on);
        panel.EnableFromMasterCheckBox(master);
        EXPECT_TRUE(master->isEnabled());
        EXPECT_EQ(edit->isEnabled(), on);
        EXPECT_EQ(swatch->isEnabled(), on);
        EXPECT_EQ(spin->isEnabled(), on);
    }
}

TEST(ProcessorBase, MasterInsideAContainerStaysUsable)
{
    CPixortaProcessorBaseDlg panel;
    auto *frame = new QWidget(&panel);
    auto *master = new QCheckBox(frame);
    auto *edit = new QLineEdit(&panel);
    master->setChecked(false);
    panel.EnableFromMasterCheckBox(master);
    EXPECT_TRUE(master->isEnabled());
    EXPECT_FALSE(edit->isEnabled());
}

class SpinEdit : public ::testing::Test {
protected:
    void SetUp() override
    {
        spin = CPixortaProcessorBaseDlg::CreateSpinEdit(&window, QStringLiteral("count"), "7");
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(spin);
        layout->addWidget(other = new QLineEdit(&window));
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void Retype(const QString &text)
    {
        spin->selectAll();
        QTest::keyClick(spin, Qt::Key_Backspace);
        QTest::keyClicks(spin, text);
    }

    QWidget window;
    CPixortaSpinEdit *spin = nullptr;
    QLineEdit *other = nullptr;
};

TEST_F(SpinEdit, MadeWithTheFullRangeAndItsText)
{
    EXPECT_EQ(spin->objectName(), "count");
    EXPECT_EQ(spin->text(), "7");
    EXPECT_EQ(spin->Minimum(), 0);
    EXPECT_EQ(spin->Maximum(), 2147483647);
    const std::unique_ptr<CPixortaSpinEdit> empty(
        CPixortaProcessorBaseDlg::CreateSpinEdit(nullptr, "e"));
    EXPECT_EQ(empty->text(), "");
}

TEST_F(SpinEdit, AcceptsDigitsOnlyAndReadsASignedInteger)
{
    struct Row {
        const char *typed;
        const char *shown;
        int value;
    } rows[] = {
        {"123", "123", 123},     {"1a2-3 ", "123", 123}, {"", "", 0},
        {"0100", "0100", 100},   {"-5", "5", 5},         {"2147483647", "2147483647", 2147483647},
        {"99999999999", "99999999999", 2147483647},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.typed);
        Retype(QString::fromLatin1(row.typed));
        EXPECT_EQ(spin->text(), row.shown);
        EXPECT_EQ(spin->Value(), row.value);
    }
}

TEST_F(SpinEdit, StepsWithinTheRange)
{
    struct Row {
        const char *start;
        Qt::Key key;
        const char *after;
    } rows[] = {
        {"", Qt::Key_Up, "1"},
        {"0100", Qt::Key_Up, "101"},
        {"5", Qt::Key_Down, "4"},
        {"0", Qt::Key_Down, "0"},
        {"", Qt::Key_Down, ""},
        {"2147483646", Qt::Key_Up, "2147483647"},
        {"2147483647", Qt::Key_Up, "2147483647"},
        {"5", Qt::Key_PageDown, "0"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.start) + " key " + std::to_string(row.key));
        spin->setText(QString::fromLatin1(row.start));
        QTest::keyClick(spin, row.key);
        EXPECT_EQ(spin->text(), row.after);
    }
}

TEST_F(SpinEdit, LeavingTheEditKeepsTheTextAsTyped)
{
    for (const char *text : {"", "0100", "0"}) {
        SCOPED_TRACE(text);
        spin->setFocus();
        Retype(QString::fromLatin1(text));
        other->setFocus();
        ASSERT_FALSE(spin->hasFocus());
        EXPECT_EQ(spin->text(), text);
    }
}

} // namespace
