#include "tasks/estaticcolor.h"
#include "tasks/pixortabackgroundtask.h"
#include "tasks/pixortacolorstask.h"
#include "tasks/pixortaprocbackgrounddlg.h"
#include "tasks/pixortaproccolorsdlg.h"
#include "tasks/pixortaprocsizedlg.h"
#include "tasks/pixortaproctextdlg.h"
#include "tasks/pixortaslideedit.h"
#include "tasks/pixortaspinedit.h"
#include "tasks/pixortatexttask.h"
#include "tasks/taskpanels.h"
#include "engine/pximage.h"
#include "ui/quickmenu.h"
#include "ui/uiseams.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace {

template <class T> T *Find(QWidget &panel, const char *name)
{
    T *w = panel.findChild<T *>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// A click on a check box's indicator, then the panel's recomputation once it was handled.
void Click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    QCoreApplication::processEvents();
}

template <class Record> std::unique_ptr<Record> RecordOf(CPixortaProcessorBaseDlg &panel)
{
    std::unique_ptr<CPixortaTask> task = panel.CreateTask();
    auto *record = dynamic_cast<Record *>(task.get());
    EXPECT_NE(record, nullptr);
    if (record)
        task.release();
    return std::unique_ptr<Record>(record);
}

TEST(TaskPanels, EachKindHasItsPanel)
{
    QWidget parent;
    struct Row {
        qint32 kind;
        const char *className;
    } rows[] = {
        {TaskResize, "CPixortaProcSizeDlg"},
        {TaskChangeColors, "CPixortaProcColorsDlg"},
        {TaskAddBackground, "CPixortaProcBackgroundDlg"},
        {TaskAddText, "CPixortaProcTextDlg"},
        {TaskCrop, "CPixortaProcCropDlg"},
        {TaskSharpen, "CPixortaProcSharpenDlg"},
        {TaskWatermark, "CPixortaProcWatermarkDlg"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.className);
        const std::unique_ptr<CPixortaProcessorBaseDlg> panel = CreateTaskPanel(row.kind, &parent);
        ASSERT_NE(panel, nullptr);
        EXPECT_STREQ(panel->metaObject()->className(), row.className);
        EXPECT_EQ(panel->GetTaskKind(), row.kind);
        EXPECT_EQ(panel->parentWidget(), &parent);
        EXPECT_FALSE(panel->IsModified());
    }
    EXPECT_EQ(CreateTaskPanel(TaskNone, &parent), nullptr);
}

class ColoursPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        for (const char *name : {"light", "contrast", "red", "green", "blue"})
            edits.push_back(Find<CPixortaSlideEdit>(panel, name));
        grey = Find<QCheckBox>(panel, "grayScale");
    }
    CPixortaProcColorsDlg panel;
    std::vector<CPixortaSlideEdit *> edits;
    QCheckBox *grey = nullptr;
};

TEST_F(ColoursPanel, StartsNeutral)
{
    EXPECT_EQ(Find<QLabel>(panel, "heading")->text(), "Change light, contrast and colors");
    EXPECT_EQ(Find<QLabel>(panel, "contrastLabel")->text(), "Contrast:");
    EXPECT_EQ(grey->text(), "Grey scale");
    EXPECT_FALSE(grey->isChecked());
    for (CPixortaSlideEdit *edit : edits) {
        EXPECT_EQ(edit->text(), "100");
        ASSERT_NE(edit->Slider(), nullptr);
        EXPECT_EQ(edit->Slider()->value(), 100);
        EXPECT_EQ(edit->Slider()->maximum(), 200);
    }
    // Straight away, before any tick: a record that changes nothing.
    const auto record = RecordOf<CPixortaColorsTask>(panel);
    PxImage image;
    image.Create(2, 2, 24);
    bool modified = true;
    EXPECT_TRUE(record->Apply(image, modified, QString()));
    EXPECT_FALSE(modified);
}

TEST_F(ColoursPanel, RecordReadsTheEditsAndResetsRestore)
{
    edits[0]->setText(QStringLiteral("300"));
    edits[1]->setText(QString());
    edits[2]->setText(QStringLiteral("0050"));
    grey->setChecked(true);
    EXPECT_EQ(edits[0]->Slider()->value(), 200);
    auto record = RecordOf<CPixortaColorsTask>(panel);
    EXPECT_EQ(record->m_light, 300);
    EXPECT_EQ(record->m_contrast, 0);
    EXPECT_EQ(record->m_red, 50);
    EXPECT_EQ(record->m_green, 100);
    EXPECT_EQ(record->m_grayScale, 1);

    Find<QPushButton>(panel, "lightReset")->click();
    EXPECT_EQ(edits[0]->text(), "100");
    EXPECT_EQ(edits[1]->text(), "");
    Find<QPushButton>(panel, "resetAll")->click();
    record = RecordOf<CPixortaColorsTask>(panel);
    EXPECT_EQ(record->m_contrast, 100);
    EXPECT_EQ(record->m_red, 100);
    EXPECT_EQ(record->m_grayScale, 0);
}

class BackgroundPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        master = Find<QCheckBox>(panel, "addBackground");
        frameSwitch = Find<QCheckBox>(panel, "frameSwitch");
        imageFrameSwitch = Find<QCheckBox>(panel, "imageFrameSwitch");
        background = Find<CEStaticColor>(panel, "backgroundColour");
        frame = Find<CEStaticColor>(panel, "frameColour");
        imageFrame = Find<CEStaticColor>(panel, "imageFrameColour");
    }
    CPixortaProcBackgroundDlg panel;
    QCheckBox *master = nullptr, *frameSwitch = nullptr, *imageFrameSwitch = nullptr;
    CEStaticColor *background = nullptr, *frame = nullptr, *imageFrame = nullptr;
};

TEST_F(BackgroundPanel, StartsOffWithEverythingButTheSwitchDisabled)
{
    EXPECT_EQ(master->text(), "Add background");
    EXPECT_FALSE(master->isChecked());
    EXPECT_FALSE(panel.IsTaskEnabled());
    EXPECT_TRUE(master->isEnabled());
    EXPECT_EQ(background->GetColor(), QColor(255, 255, 255));
    EXPECT_EQ(frame->GetColor(), QColor(100, 100, 100));
    EXPECT_EQ(imageFrame->GetColor(), QColor(0, 0, 0));
    EXPECT_EQ(frame->text(), "Frame");
    EXPECT_EQ(imageFrame->text(), "Image frame");
    EXPECT_TRUE(frameSwitch->isChecked());
    EXPECT_TRUE(imageFrameSwitch->isChecked());
    for (const char *name : {"left", "top", "right", "bottom"}) {
        auto *edit = Find<CPixortaSpinEdit>(panel, name);
        EXPECT_EQ(edit->text(), "3");
        EXPECT_EQ(edit->Maximum(), 2147483647);
        EXPECT_FALSE(edit->isEnabled());
    }
    for (QWidget *w : std::initializer_list<QWidget *>{background, frame, imageFrame, frameSwitch})
        EXPECT_FALSE(w->isEnabled());
}

TEST_F(BackgroundPanel, SwitchesEnableAndFlagTheColours)
{
    Click(master);
    ASSERT_TRUE(master->isChecked());
    EXPECT_TRUE(panel.IsTaskEnabled());
    EXPECT_TRUE(panel.IsModified());
    for (QWidget *w : std::initializer_list<QWidget *>{background, frame, imageFrame, frameSwitch})
        EXPECT_TRUE(w->isEnabled());

    Click(frameSwitch);
    EXPECT_FALSE(frame->isEnabled());
    EXPECT_TRUE(imageFrame->isEnabled());
    Find<CPixortaSpinEdit>(panel, "top")->setText(QStringLiteral("12"));
    auto record = RecordOf<CPixortaBackgroundTask>(panel);
    EXPECT_EQ(record->m_top, 12);
    EXPECT_EQ(record->m_left, 3);
    EXPECT_EQ(record->m_background, TaskColour::From(QColor(255, 255, 255), true));
    EXPECT_EQ(record->m_frame, TaskColour::From(QColor(100, 100, 100), false));
    EXPECT_EQ(record->m_imageFrame, TaskColour::From(QColor(0, 0, 0), true));

    // Switched off again, nothing is usable, the frame switch's own state notwithstanding.
    Click(frameSwitch);
    Click(master);
    EXPECT_FALSE(frame->isEnabled());
    EXPECT_FALSE(frameSwitch->isEnabled());
    EXPECT_FALSE(panel.IsTaskEnabled());
}

class TextPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        text = Find<QPlainTextEdit>(panel, "text");
    }
    CPixortaProcTextDlg panel;
    QPlainTextEdit *text = nullptr;
};

TEST_F(TextPanel, StartsWithItsDefaults)
{
    EXPECT_EQ(Find<QLabel>(panel, "heading")->text(), "Add text to all images");
    EXPECT_EQ(Find<QLabel>(panel, "variableLink")->accessibleName(), "(Insert dynamic variable...)");
    EXPECT_EQ(Find<QComboBox>(panel, "hAlign")->currentText(), "Center");
    EXPECT_EQ(Find<QComboBox>(panel, "vAlign")->currentText(), "Bottom");
    EXPECT_EQ(Find<QPushButton>(panel, "changeFont")->text(), "&Change font");
    EXPECT_FALSE(Find<QCheckBox>(panel, "shadowSwitch")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(panel, "backgroundSwitch")->isChecked());

    const auto record = RecordOf<CPixortaTextTask>(panel);
    const CPixortaTextTask defaults;
    EXPECT_EQ(record->m_text, "");
    EXPECT_EQ(record->m_hAlign, CPixortaTextTask::HAlign::Center);
    EXPECT_EQ(record->m_vAlign, CPixortaTextTask::VAlign::Bottom);
    EXPECT_EQ(record->m_xMargin, 20);
    EXPECT_EQ(record->m_yMargin, 20);
    EXPECT_EQ(record->m_textSize, 5);
    EXPECT_EQ(record->m_textColour, TaskColour::From(QColor(0, 0, 0), false));
    EXPECT_EQ(record->m_shadowColour, TaskColour::From(QColor(190, 190, 190), false));
    EXPECT_EQ(record->m_backgroundColour, TaskColour::From(QColor(240, 240, 240), true));
    EXPECT_EQ(record->m_font, TaskFont::Default());
    EXPECT_EQ(record->m_font.face, "DejaVu Sans");
    // The record's own defaults are the panel's.
    EXPECT_EQ(defaults.m_textSize, record->m_textSize);
    EXPECT_EQ(defaults.m_backgroundColour, record->m_backgroundColour);
}

TEST_F(TextPanel, RecordTrimsTheTextAndLowersTheAlignments)
{
    struct Row {
        const char *typed, *kept;
    } rows[] = {
        {"  \r\n Hello\n world \n ", "Hello\n world"},
        {"\tTabbed\t", "\tTabbed\t"},
        {" \n \n  ", ""},
    };
    Find<QComboBox>(panel, "hAlign")->setCurrentText(QStringLiteral("Right"));
    Find<QComboBox>(panel, "vAlign")->setCurrentText(QStringLiteral("Top"));
    Find<QCheckBox>(panel, "shadowSwitch")->setChecked(true);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.typed);
        text->setPlainText(QString::fromLatin1(row.typed));
        const auto record = RecordOf<CPixortaTextTask>(panel);
        EXPECT_EQ(record->m_text, QString::fromLatin1(row.kept));
        EXPECT_EQ(record->m_hAlign, CPixortaTextTask::HAlign::Right);
        EXPECT_EQ(record->m_vAlign, CPixortaTextTask::VAlign::Top);
        EXPECT_TRUE(record->m_shadowColour.IsOn());
        EXPECT_EQ(record->GetDescription(), "Add text: " + QString::fromLatin1(row.kept));
    }
}

TEST_F(TextPanel, VariablesMenuInsertsAtTheCaret)
{
    QList<int> shownIds;
    QList<QString> shownTexts;
    int pick = 3;
    const QuickMenuHandler previous =
        SetQuickMenuHandler([&](const QList<int> &ids, const QList<QString> &texts) {
            shownIds = ids;
            shownTexts = texts;
            return pick;
        });
    text->setPlainText(QStringLiteral("Photo: OLD!"));
    QTextCursor cursor = text->textCursor();
    cursor.setPosition(7);
    cursor.setPosition(10, QTextCursor::KeepAnchor);
    text->setTextCursor(cursor);
    emit Find<QLabel>(panel, "variableLink")->linkActivated(QStringLiteral("#"));
    EXPECT_EQ(shownIds, QList<int>({1, 2, 3, 4}));
    EXPECT_EQ(shownTexts, QList<QString>({"Your note (editable on the left list)",
                                          "File title (title, without an extension)",
                                          "File name", "File path"}));
    EXPECT_EQ(text->toPlainText(), "Photo: %fName%!");
    text->undo();
    EXPECT_EQ(text->toPlainText(), "Photo: OLD!");

    pick = -1;
    panel.InsertVariable();
    EXPECT_EQ(text->toPlainText(), "Photo: OLD!");
    SetQuickMenuHandler(previous);
}

TEST_F(TextPanel, ChosenFontReachesTheRecord)
{
    std::optional<QFont> answer;
    int asked = 0;
    const FontHandler previous = SetFontHandler([&](const QFont &initial) {
        ++asked;
        EXPECT_EQ(initial.family(), "DejaVu Sans");
        return answer;
    });
    Find<QPushButton>(panel, "changeFont")->click();
    EXPECT_FALSE(panel.IsFontChosen());

    QFont serif(QStringLiteral("DejaVu Serif"));
    serif.setBold(true);
    serif.setItalic(true);
    answer = serif;
    Find<QPushButton>(panel, "changeFont")->click();
    EXPECT_EQ(asked, 2);
    const auto record = RecordOf<CPixortaTextTask>(panel);
    EXPECT_EQ(record->m_font.face, "DejaVu Serif");
    EXPECT_EQ(record->m_font.weight, 700);
    EXPECT_TRUE(record->m_font.italic);
    SetFontHandler(previous);
}

TEST_F(TextPanel, PreviewPlacesTheBlock)
{
    QWidget *preview = Find<QWidget>(panel, "preview");
    preview->setFixedSize(100, 80);
    Find<QComboBox>(panel, "hAlign")->setCurrentText(QStringLiteral("Right"));
    Find<CPixortaSpinEdit>(panel, "textSize")->setText(QStringLiteral("25"));
    const QImage shot = preview->grab().toImage();
    // Block height 80 / (100 / 25) = 20 at x = 100 - 35 and y = 80 - 20 - 5.
    const QRect block(65, 55, 30, 20);
    EXPECT_EQ(QColor(shot.pixel(block.topLeft())), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(block.bottomRight())), QColor(Qt::black));
    EXPECT_NE(QColor(shot.pixel(block.left() - 1, block.top())), QColor(Qt::black));
    EXPECT_NE(QColor(shot.pixel(block.left(), block.top() - 1)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(200, 200, 200));
}

} // namespace
