#include "tasks/pixortaprocsizedlg.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaspinedit.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ResizePanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        percentageMode = Find<QRadioButton>("percentageMode");
        constantMode = Find<QRadioButton>("constantMode");
        percentage = Find<CPixortaSpinEdit>("percentage");
        widthSwitch = Find<QCheckBox>("widthSwitch");
        width = Find<CPixortaSpinEdit>("width");
        heightSwitch = Find<QCheckBox>("heightSwitch");
        height = Find<CPixortaSpinEdit>("height");
        scenario = Find<QLabel>("scenario");
    }

    template <class T> T *Find(const char *name)
    {
        T *w = panel.findChild<T *>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // A click on the indicator, then the panel's recomputation once the click was handled.
    void Click(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        QCoreApplication::processEvents();
    }
    void Type(CPixortaSpinEdit *edit, const QString &text)
    {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QCoreApplication::processEvents();
    }
    QString Scenario() const { return scenario->text(); }

    CPixortaProcSizeDlg panel;
    QRadioButton *percentageMode = nullptr;
    QRadioButton *constantMode = nullptr;
    CPixortaSpinEdit *percentage = nullptr;
    QCheckBox *widthSwitch = nullptr;
    CPixortaSpinEdit *width = nullptr;
    QCheckBox *heightSwitch = nullptr;
    CPixortaSpinEdit *height = nullptr;
    QLabel *scenario = nullptr;
};

TEST_F(ResizePanel, StartsInPercentageModeAt100)
{
    EXPECT_EQ(panel.findChild<QLabel *>("heading")->text(), "Resize all images");
    EXPECT_EQ(percentageMode->text(), "Use percentage");
    EXPECT_EQ(constantMode->text(), "Use constant values");
    EXPECT_EQ(widthSwitch->text(), "Specify width");
    EXPECT_EQ(heightSwitch->text(), "Specify height");
    EXPECT_TRUE(percentageMode->isChecked());
    EXPECT_FALSE(constantMode->isChecked());
    EXPECT_EQ(percentage->text(), "100");
    EXPECT_EQ(width->text(), "");
    EXPECT_EQ(height->text(), "");
    for (CPixortaSpinEdit *edit : {percentage, width, height})
        EXPECT_EQ(edit->Maximum(), 2147483647);
    EXPECT_TRUE(percentage->isEnabled());
    for (QWidget *w : {static_cast<QWidget *>(widthSwitch), static_cast<QWidget *>(width),
                       static_cast<QWidget *>(heightSwitch), static_cast<QWidget *>(height)})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_EQ(Scenario(), "Scenario: Size will not be changed");
    EXPECT_FALSE(panel.IsModified());
    EXPECT_EQ(panel.GetTaskKind(), TaskResize);
}

TEST_F(ResizePanel, PercentageSentenceComparesTheText)
{
    const std::pair<const char *, const char *> rows[] = {
        {"50", "Scenario: Size will be changed to 50%"},
        {"0100", "Scenario: Size will be changed to 0100%"},
        {"", "Scenario: Size will be changed to %"},
        {"100", "Scenario: Size will not be changed"},
    };
    for (const auto &[typed, sentence] : rows) {
        SCOPED_TRACE(typed);
        Type(percentage, QString::fromLatin1(typed));
        EXPECT_EQ(Scenario(), sentence);
    }
    EXPECT_TRUE(panel.IsModified());
}

TEST_F(ResizePanel, ConstantModeSentencesFollowTheSwitchesAndEdits)
{
    Click(constantMode);
    ASSERT_TRUE(constantMode->isChecked());
    EXPECT_FALSE(percentage->isEnabled());
    EXPECT_TRUE(widthSwitch->isEnabled());
    EXPECT_TRUE(heightSwitch->isEnabled());
    EXPECT_FALSE(width->isEnabled());
    EXPECT_FALSE(height->isEnabled());
    EXPECT_EQ(Scenario(), "Scenario: Width will be changed proportionally. Height will be "
                          "changed proportionally. ");

    Click(widthSwitch);
    ASSERT_TRUE(widthSwitch->isChecked());
    EXPECT_TRUE(width->isEnabled());
    EXPECT_EQ(Scenario(), "Scenario: Height will be changed proportionally. ");

    Type(width, "300");
    EXPECT_EQ(Scenario(), "Scenario: Width will be changed to 300. Height will be changed "
                          "proportionally. ");

    Click(heightSwitch);
    EXPECT_TRUE(height->isEnabled());
    EXPECT_EQ(Scenario(), "Scenario: Width will be changed to 300. ");
    Type(height, "0025");
    EXPECT_EQ(Scenario(), "Scenario: Width will be changed to 300. Height will be changed to 25. ");

    Click(widthSwitch);
    EXPECT_FALSE(width->isEnabled());
    EXPECT_EQ(Scenario(), "Scenario: Width will be changed proportionally. Height will be "
                          "changed to 25. ");

    // Back to percentage with the keyboard: a radio button is chosen on the key's release.
    percentageMode->setFocus();
    QTest::keyClick(percentageMode, Qt::Key_Space);
    QCoreApplication::processEvents();
    ASSERT_TRUE(percentageMode->isChecked());
    EXPECT_TRUE(percentage->isEnabled());
    for (QWidget *w : {static_cast<QWidget *>(widthSwitch), static_cast<QWidget *>(width),
                       static_cast<QWidget *>(heightSwitch), static_cast<QWidget *>(height)})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_EQ(Scenario(), "Scenario: Size will not be changed");
}

TEST_F(ResizePanel, SpinArrowUpdatesTheSentence)
{
    QTest::mouseClick(percentage, Qt::LeftButton, {}, QPoint(percentage->width() - 4, 3));
    QCoreApplication::processEvents();
    EXPECT_EQ(percentage->text(), "101");
    EXPECT_EQ(Scenario(), "Scenario: Size will be changed to 101%");
}

TEST_F(ResizePanel, CreateTaskFromTheControls)
{
    struct Row {
        const char *name;
        bool constant;
        const char *percentageText;
        bool widthOn;
        const char *widthText;
        bool heightOn;
        const char *heightText;
        qint32 mode, percentage, width, height;
    } rows[] = {
        {"defaults", false, "100", false, "", false, "", 1, 100, 0, 0},
        {"percentage", false, "0050", false, "7", false, "8", 1, 50, 0, 0},
        {"empty percentage reads 0", false, "", false, "", false, "", 1, 0, 0, 0},
        {"constant, no switch", true, "50", false, "300", false, "25", 2, 100, 0, 0},
        {"constant, width only", true, "50", true, "300", false, "25", 2, 100, 300, 0},
        {"constant, height only", true, "50", false, "300", true, "25", 2, 100, 0, 25},
        {"constant, empty edits read 0", true, "50", true, "", true, "", 2, 100, 0, 0},
        {"constant, both", true, "50", true, "640", true, "480", 2, 100, 640, 480},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        (row.constant ? constantMode : percentageMode)->setChecked(true);
        percentage->setText(QString::fromLatin1(row.percentageText));
        widthSwitch->setChecked(row.widthOn);
        width->setText(QString::fromLatin1(row.widthText));
        heightSwitch->setChecked(row.heightOn);
        height->setText(QString::fromLatin1(row.heightText));

        const std::unique_ptr<CPixortaTask> task = panel.CreateTask();
        auto *size = dynamic_cast<CPixortaSizeTask *>(task.get());
        ASSERT_NE(size, nullptr);
        EXPECT_EQ(size->Kind(), TaskResize);
        EXPECT_EQ(size->m_mode, row.mode);
        EXPECT_EQ(size->m_percentage, row.percentage);
        EXPECT_EQ(size->m_width, row.width);
        EXPECT_EQ(size->m_height, row.height);
    }
}

} // namespace
