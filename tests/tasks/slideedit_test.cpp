#include "tasks/pixortaslideedit.h"

#include <QApplication>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// The tick is 200 ms; waiting a little longer than one period lets a tick through. Where the
// text must change, the tests wait for it (up to seconds, for a machine under load) instead.
constexpr int kPastOneTick = 300;

bool WaitForText(const QLineEdit *edit, const QString &text)
{
    return QTest::qWaitFor([&] { return edit->text() == text; }, 10000);
}

class SlideEdit : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto *layout = new QVBoxLayout(&window);
        edit = new CPixortaSlideEdit(&window);
        other = new QLineEdit(&window);
        slider = new QSlider(Qt::Horizontal, &window);
        layout->addWidget(edit);
        layout->addWidget(other);
        layout->addWidget(slider);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        // The window hands its focus to the first edit; start with the user elsewhere.
        other->setFocus();
    }

    void FocusEdit()
    {
        edit->setFocus();
        ASSERT_TRUE(edit->hasFocus());
    }

    QWidget window;
    CPixortaSlideEdit *edit = nullptr;
    QLineEdit *other = nullptr;
    QSlider *slider = nullptr;
};

TEST_F(SlideEdit, AttachingSetsTheRangeAndTheTickShowsThePosition)
{
    EXPECT_FALSE(edit->IsLinked());
    edit->AttachSlider(slider);
    EXPECT_TRUE(edit->IsLinked());
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 200);
    EXPECT_EQ(slider->value(), 100);
    EXPECT_EQ(edit->text(), "");
    EXPECT_TRUE(WaitForText(edit, "100")) << edit->text().toStdString();
}

TEST_F(SlideEdit, TypingMovesTheSliderAtOnceAndTheSliderClamps)
{
    edit->AttachSlider(slider);
    ASSERT_NO_FATAL_FAILURE(FocusEdit());
    struct Row {
        const char *typed;
        const char *shown;
        int position;
    } rows[] = {
        {"150", "150", 150},
        {"300", "300", 200},
        {"1a2-3", "123", 123}, // digits only
        {"0", "0", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.typed);
        edit->clear();
        QTest::keyClicks(edit, QString::fromLatin1(row.typed));
        EXPECT_EQ(slider->value(), row.position);
        EXPECT_EQ(edit->text(), row.shown);
    }
    // An out-of-range number stays as typed while the user is in the edit.
    edit->clear();
    QTest::keyClicks(edit, "300");
    QTest::qWait(kPastOneTick);
    EXPECT_EQ(edit->text(), "300");
    EXPECT_EQ(slider->value(), 200);
}

TEST_F(SlideEdit, SliderMovedDuringTypingShowsOnlyAfterFocusLeaves)
{
    edit->AttachSlider(slider);
    ASSERT_TRUE(WaitForText(edit, "100"));

    ASSERT_NO_FATAL_FAILURE(FocusEdit());
    slider->setValue(42);
    QTest::qWait(kPastOneTick);
    EXPECT_EQ(edit->text(), "100");

    other->setFocus();
    ASSERT_FALSE(edit->hasFocus());
    EXPECT_TRUE(WaitForText(edit, "42")) << edit->text().toStdString();
    EXPECT_EQ(slider->value(), 42);
}

} // namespace
