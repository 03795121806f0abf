#include "tasks/estaticcolor.h"
#include "ui/uiseams.h"

#include <QCursor>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace {

// Installs a colour chooser that records what it was opened with and answers from a script.
class ScriptedChooser {
public:
    explicit ScriptedChooser(std::optional<QColor> answer)
    {
        m_previous = SetColorHandler([this, answer](const QColor &initial) {
            opened.push_back(initial);
            return answer;
        });
    }
    ~ScriptedChooser() { SetColorHandler(m_previous); }
    std::vector<QColor> opened;

private:
    ColorHandler m_previous;
};

QRgb Rgb(int r, int g, int b)
{
    return qRgb(r, g, b);
}

QImage Render(CEStaticColor &swatch)
{
    return swatch.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels of the image inside rect with exactly the given colour.
int CountColour(const QImage &image, const QRect &rect, QRgb colour)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            n += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
    return n;
}

TEST(Swatch, ClickOpensTheChooserAndOkTakesTheColour)
{
    CEStaticColor swatch(QStringLiteral("Colour"));
    swatch.resize(120, 24);
    swatch.SetColor(QColor(10, 20, 30), 7);
    swatch.SetFlag(1);
    QSignalSpy changed(&swatch, &CEStaticColor::colourChanged);

    ScriptedChooser chooser(QColor(200, 100, 50));
    QTest::mouseClick(&swatch, Qt::LeftButton);

    ASSERT_EQ(chooser.opened.size(), 1u);
    EXPECT_EQ(chooser.opened[0], QColor(10, 20, 30));
    EXPECT_EQ(swatch.GetColor(), QColor(200, 100, 50));
    EXPECT_EQ(swatch.GetReserved(), 0);
    EXPECT_EQ(swatch.GetFlag(), 0);
    EXPECT_TRUE(swatch.IsUserChanged());
    EXPECT_EQ(changed.count(), 1);
}

TEST(Swatch, CancelRightButtonAndDisabledChangeNothing)
{
    struct Row {
        const char *name;
        bool enabled;
        Qt::MouseButton button;
        size_t choosersOpened;
    } rows[] = {
        {"cancel", true, Qt::LeftButton, 1},
        {"right button", true, Qt::RightButton, 0},
        {"disabled", false, Qt::LeftButton, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CEStaticColor swatch;
        swatch.resize(24, 24);
        swatch.SetColor(QColor(1, 2, 3), 9);
        swatch.SetFlag(1);
        swatch.setEnabled(row.enabled);
        QSignalSpy changed(&swatch, &CEStaticColor::colourChanged);

        ScriptedChooser chooser(std::nullopt);
        QTest::mouseClick(&swatch, row.button);

        EXPECT_EQ(chooser.opened.size(), row.choosersOpened);
        EXPECT_EQ(swatch.GetColor(), QColor(1, 2, 3));
        EXPECT_EQ(swatch.GetReserved(), 9);
        EXPECT_EQ(swatch.GetFlag(), 1);
        EXPECT_FALSE(swatch.IsUserChanged());
        EXPECT_EQ(changed.count(), 0);
    }
}

TEST(Swatch, WithoutCaptionTheColourFillsTheInsetArea)
{
    CEStaticColor swatch;
    swatch.SetShowCaption(false);
    swatch.resize(40, 30);
    swatch.SetColor(QColor(200, 0, 100));
    const QImage image = Render(swatch);

    EXPECT_EQ(image.pixel(20, 15), Rgb(200, 0, 100));
    // The colour area is inset 2 pixels and outlined in the colour scaled by 0.8.
    EXPECT_EQ(image.pixel(2, 2), Rgb(160, 0, 80));
    EXPECT_EQ(image.pixel(37, 27), Rgb(160, 0, 80));
    EXPECT_EQ(image.pixel(3, 3), Rgb(200, 0, 100));
    // Between the control's outline and the colour area: the face colour.
    EXPECT_EQ(image.pixel(1, 15), Rgb(252, 252, 252));
    EXPECT_EQ(image.pixel(38, 15), Rgb(252, 252, 252));
}

TEST(Swatch, DisabledWithoutCaptionShowsAHatchAndRepaintsOnEnable)
{
    CEStaticColor swatch;
    swatch.SetShowCaption(false);
    swatch.resize(40, 30);
    swatch.SetColor(QColor(0, 0, 255));
    const QRect inside(4, 4, 32, 22);

    swatch.setEnabled(false);
    QImage image = Render(swatch);
    const int colour = CountColour(image, inside, Rgb(0, 0, 255));
    const int face = CountColour(image, inside, Rgb(252, 252, 252));
    EXPECT_GT(colour, 0);
    EXPECT_GT(face, 0);
    EXPECT_EQ(colour + face, inside.width() * inside.height());

    swatch.setEnabled(true);
    image = Render(swatch);
    EXPECT_EQ(CountColour(image, inside, Rgb(0, 0, 255)), inside.width() * inside.height());
}

class CaptionedSwatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFont font = swatch.font();
        font.setPixelSize(18);
        swatch.setFont(font);
        swatch.setText(QStringLiteral("HHH"));
        swatch.resize(160, 30);
        swatch.SetColor(QColor(0, 128, 0));
    }
    // The square at the right end, inset 2 at the top, right and bottom.
    QRect Area() const { return QRect(QPoint(130, 2), QPoint(157, 27)); }
    // Three pixels from the left edge to 8 pixels left of the square.
    QRect Caption() const { return QRect(QPoint(3, 0), QPoint(Area().left() - 9, 29)); }

    CEStaticColor swatch;
};

TEST_F(CaptionedSwatch, ColourSquareAtTheRightAndCaptionRightAligned)
{
    const QImage image = Render(swatch);
    EXPECT_EQ(image.pixel(Area().center()), Rgb(0, 128, 0));
    EXPECT_EQ(image.pixel(Area().topLeft()), Rgb(0, 102, 0));
    EXPECT_EQ(image.pixel(Area().left() - 1, 15), Rgb(252, 252, 252));
    EXPECT_EQ(image.pixel(158, 15), Rgb(252, 252, 252));

    const QRgb ink = Rgb(90, 90, 90);
    EXPECT_GT(CountColour(image, Caption(), ink), 0);
    // Right-aligned: the ink ends close to the caption's right edge, and the left half is empty.
    int rightmost = -1;
    for (int x = Caption().left(); x <= Caption().right(); ++x)
        if (CountColour(image, QRect(x, 0, 1, 30), ink) > 0)
            rightmost = x;
    EXPECT_GE(rightmost, Caption().right() - 4);
    EXPECT_EQ(CountColour(image, QRect(3, 0, 60, 30), ink), 0);
}

TEST_F(CaptionedSwatch, DisabledShowsTheColourAndTheCaptionInButtonShadow)
{
    swatch.setEnabled(false);
    const QImage image = Render(swatch);
    const QRgb shadow = swatch.palette().color(QPalette::Active, QPalette::Dark).rgb();
    ASSERT_NE(shadow & 0xffffff, Rgb(90, 90, 90) & 0xffffff);
    EXPECT_EQ(image.pixel(Area().center()), Rgb(0, 128, 0));
    EXPECT_GT(CountColour(image, Caption(), shadow), 0);
    EXPECT_EQ(CountColour(image, Caption(), Rgb(90, 90, 90)), 0);
}

TEST_F(CaptionedSwatch, HoverLightensTheFaceAndDarkensTheCaption)
{
    swatch.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&swatch));
    QCursor::setPos(swatch.mapToGlobal(QPoint(80, 15)));
    QImage image = Render(swatch);
    EXPECT_EQ(image.pixel(1, 1), Rgb(255, 255, 255));
    EXPECT_GT(CountColour(image, Caption(), Rgb(0, 0, 0)), 0);

    QCursor::setPos(swatch.mapToGlobal(QPoint(500, 500)));
    image = Render(swatch);
    EXPECT_EQ(image.pixel(1, 1), Rgb(252, 252, 252));
    EXPECT_EQ(CountColour(image, Caption(), Rgb(0, 0, 0)), 0);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TEST(Swatch, RepaintsOnlyWhenTheCursorCrossesTheBorder)
{
    QWidget window;
    window.resize(300, 100);
    auto *child = new CEStaticColor(QStringLiteral("Colour"), &window);
    child->setGeometry(20, 20, 160, 30);
    QCursor::setPos(window.mapToGlobal(QPoint(250, 80)));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(250);
    PaintCounter counter;
    child->installEventFilter(&counter);

    QCursor::setPos(child->mapToGlobal(QPoint(40, 15)));
    // The hover tick is 100 ms; a loaded machine may take longer to get to it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 10000));
    QTest::qWait(250);

    counter.paints = 0;
    QCursor::setPos(child->mapToGlobal(QPoint(60, 10)));
    QTest::qWait(250);
    EXPECT_EQ(counter.paints, 0);

    QCursor::setPos(window.mapToGlobal(QPoint(250, 80)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 10000));
}

} // namespace
