#include "tasks/pixortatexttask.h"
#include "taskimages.h"

#include <QFontMetrics>
#include <QRect>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QColor kWhite(255, 255, 255);

CPixortaTextTask Caption(const QString &text)
{
    CPixortaTextTask task;
    task.m_text = text;
    task.m_backgroundColour.flag = 0;
    return task;
}

PxImage Drawn(CPixortaTextTask &task, PxImage image, const QString &path = QStringLiteral("/p/a.jpg"))
{
    bool modified = false;
    EXPECT_TRUE(task.Apply(image, modified, path));
    EXPECT_TRUE(modified);
    return image;
}

// The smallest rectangle holding every pixel for which differs(x, y) is true.
template <class F> QRect BoundsWhere(const PxImage &image, F differs)
{
    QRect bounds;
    for (int y = 0; y < int(image.GetHeight()); ++y)
        for (int x = 0; x < int(image.GetWidth()); ++x)
            if (differs(x, y))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

TEST(TextTask, VariablesExpandInTheirOrder)
{
    const auto notes = std::make_shared<NoteLookup>(
        QList<std::pair<QString, QString>>{{QStringLiteral("/p/photo.jpeg"), QStringLiteral("Mum's")}});
    struct Row {
        const char *text, *path, *expanded;
        bool withNotes;
    } rows[] = {
        {"%fTitle%|%fName%", "/p/photo.jpeg", "photo|photo.jpeg", false},
        {"%fTitle%|%fName%", "/p/README", "README|README", false},
        {"%fPath% %fAbsoluteLocalPath%", "/p/a.b.png", "/p/a.b.png /p/a.b.png", false},
        {"%Note% at %fName%", "/p/photo.jpeg", "Mum's at photo.jpeg", true},
        {"%Note%", "/p/other.jpeg", "", true},
        {"[%Note%]", "/p/photo.jpeg", "[]", false},
        // What a variable inserts is never expanded again, whichever variable it spells.
        {"%fTitle%", "/p/%fPath%.jpg", "%fPath%", false},
        {"%fName%", "/p/%fTitle%.jpg", "%fTitle%.jpg", false},
        {"%fPath%", "/p/%Note%.jpg", "/p/%Note%.jpg", true},
        {"%fName% %Note%", "/p/photo.jpeg", "photo.jpeg Mum's", true},
        {"%Note%", "/p/photo.jpeg", "Mum's", true},
        // Every variable where it was typed, with text around it and a lone % kept.
        {"100% %fTitle%%fName%%", "/p/a.b.png", "100% a.ba.b.png%", false},
        {"%%fTitle%%", "/p/x.jpg", "%x%", false},
        {"%fTitle", "/p/x.jpg", "%fTitle", false},
        {"%ftitle% %FNAME%", "/p/x.jpg", "%ftitle% %FNAME%", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ExpandTextVariables(QString::fromUtf8(row.text), QString::fromUtf8(row.path),
                                      row.withNotes ? notes.get() : nullptr),
                  QString::fromUtf8(row.expanded));
    }
}

TEST(TextTask, NothingToWriteLeavesTheImageUnmodified)
{
    const PxImage original = NoiseImage(40, 30);
    for (const char *text : {"", "%Note%"}) {
        SCOPED_TRACE(text);
        PxImage image(original);
        CPixortaTextTask task = Caption(QString::fromLatin1(text));
        bool modified = true;
        EXPECT_TRUE(task.Apply(image, modified, QStringLiteral("/p/a.jpg")));
        EXPECT_FALSE(modified);
        EXPECT_TRUE(SamePixels(image, original));
    }
}

TEST(TextTask, TitleVariableDrawsLikeTheLiteralTitle)
{
    CPixortaTextTask variable = Caption(QStringLiteral("%fTitle%"));
    CPixortaTextTask literal = Caption(QStringLiteral("photo"));
    variable.m_backgroundColour.flag = literal.m_backgroundColour.flag = 1;
    const PxImage blank = SolidImage(300, 200, kWhite);
    const PxImage a = Drawn(variable, blank, QStringLiteral("/any/photo.jpeg"));
    const PxImage b = Drawn(literal, blank, QStringLiteral("/other/x.png"));
    EXPECT_TRUE(SamePixels(a, b));
    EXPECT_FALSE(SamePixels(a, blank));
}

TEST(TextTask, FontCellHeightFromTheTextSize)
{
    // Size 10 on an image 600 high asks for a 60-pixel cell: the largest pixel size whose cell
    // fits it.
    const TaskFont font = TaskFont::Default();
    for (qint64 cell : {3, 13, 60, 61, 200}) {
        SCOPED_TRACE(cell);
        const int size = PixelSizeForCellHeight(font, cell);
        EXPECT_LE(QFontMetrics(font.ToQFont(size)).height(), cell);
        EXPECT_GT(QFontMetrics(font.ToQFont(size + 1)).height(), cell);
    }
    // Cells beyond what fonts can be laid out at are capped, not wrapped around.
    const int huge = PixelSizeForCellHeight(font, qint64(1) << 40);
    EXPECT_GT(QFontMetrics(font.ToQFont(huge)).height(), 10000);

    CPixortaTextTask task = Caption(QStringLiteral("Hg"));
    task.m_textColour = TaskColour::From(Qt::black, false);
    task.m_textSize = 10;
    task.m_vAlign = CPixortaTextTask::VAlign::Top;
    task.m_yMargin = 0;
    const PxImage image = Drawn(task, SolidImage(200, 600, kWhite));
    const QRect ink = BoundsWhere(image, [&](int x, int y) { return ColourAt(image, x, y) != kWhite; });
    const int cell = QFontMetrics(font.ToQFont(PixelSizeForCellHeight(font, 60))).height();
    EXPECT_LE(ink.height(), cell);
    EXPECT_GT(ink.height(), cell / 2);
}

TEST(TextTask, BoxSitsAboveTheBottomMargin)
{
    const QColor box(240, 240, 240), outline(228, 228, 228);
    CPixortaTextTask task = Caption(QStringLiteral("Hi there"));
    task.m_backgroundColour = TaskColour::From(box, true);
    task.m_textSize = 10;
    const int w = 400, h = 200;
    const PxImage image = Drawn(task, SolidImage(w, h, kWhite));

    const QFontMetrics metrics(task.m_font.ToQFont(PixelSizeForCellHeight(task.m_font, 20)));
    const QRect block = metrics.boundingRect(QRect(0, 0, w, h), Qt::TextWordWrap, task.m_text);
    const int left = (w - block.width()) / 2 - 3, top = h - 20 - block.height() - 3;
    const int right = left + block.width() + 5, bottom = h - 20 + 2;
    EXPECT_EQ(ColourAt(image, left, top), outline);
    EXPECT_EQ(ColourAt(image, right, bottom), outline);
    EXPECT_EQ(ColourAt(image, left + 1, top + 1), box);
    // Bands two pixels wide run towards 240 x 1.09, clamped to 255, at the right edge.
    const int band = (right - 1 - left) / 2, width = right - left + 1;
    EXPECT_EQ(ColourAt(image, right - 1, bottom - 1).red(), int(240 + 2.0 * band / width * 15));
    EXPECT_EQ(ColourAt(image, left - 1, top), kWhite);
    EXPECT_EQ(ColourAt(image, right, bottom + 1), kWhite);
}

TEST(TextTask, ShadowIsOffsetLeftAndDown)
{
    struct Row {
        uint32_t width;
        int offset;
    } rows[] = {{3000, 3}, {500, 1}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.width);
        const PxImage blank = SolidImage(row.width, 200, kWhite);
        CPixortaTextTask plain = Caption(QStringLiteral("Shadow"));
        plain.m_textColour = TaskColour::From(QColor(255, 0, 0), false);
        CPixortaTextTask shadowed = plain;
        shadowed.m_shadowColour = TaskColour::From(QColor(0, 0, 255), true);
        const PxImage a = Drawn(plain, blank);
        const PxImage b = Drawn(shadowed, blank);
        const QRect text = BoundsWhere(a, [&](int x, int y) { return ColourAt(a, x, y) != kWhite; });
        const QRect shadow =
            BoundsWhere(b, [&](int x, int y) { return ColourAt(a, x, y) != ColourAt(b, x, y); });
        ASSERT_FALSE(text.isEmpty());
        EXPECT_EQ(shadow.left(), text.left() - row.offset);
        EXPECT_EQ(shadow.bottom(), text.bottom() + row.offset);
    }
}

TEST(TextTask, DrawingWhereTheTextLandsEqualsDrawingTheWholeSurface)
{
    // A palette image is drawn as one whole surface; its true-colour twin only where the
    // caption lands. Both must give the same pixels, for every placement.
    PxImage twin = NoiseImage(320, 240);
    ASSERT_TRUE(twin.DecreaseBpp(8, false));
    PxImage trueColour(twin);
    ASSERT_TRUE(trueColour.IncreaseBpp(24));
    using H = CPixortaTextTask::HAlign;
    using V = CPixortaTextTask::VAlign;
    const std::pair<H, V> placements[] = {{H::Left, V::Top}, {H::Center, V::Center}, {H::Right, V::Bottom}};
    for (const auto &[h, v] : placements) {
        SCOPED_TRACE(int(h));
        CPixortaTextTask task = Caption(QStringLiteral("Wrapped words & more words\nand a line"));
        task.m_hAlign = h;
        task.m_vAlign = v;
        task.m_textSize = 12;
        task.m_font.italic = true;
        task.m_font.underline = true;
        task.m_shadowColour.flag = 1;
        task.m_backgroundColour.flag = 1;
        const PxImage whole = Drawn(task, twin);
        const PxImage part = Drawn(task, trueColour);
        EXPECT_EQ(whole.GetBpp(), 24u);
        EXPECT_TRUE(SamePixels(whole, part));
    }
}

TEST(TextTask, ExtremeSettingsDrawOrFailCleanly)
{
    CPixortaTextTask task = Caption(QStringLiteral("Edge"));
    task.m_shadowColour.flag = 1;
    task.m_backgroundColour.flag = 1;
    for (qint32 big : {2147483647, 100000}) {
        SCOPED_TRACE(big);
        using H = CPixortaTextTask::HAlign;
        for (H h : {H::Left, H::Right, H::Center}) {
            task.m_hAlign = h;
            task.m_xMargin = task.m_yMargin = task.m_textSize = big;
            PxImage image = NoiseImage(60, 40);
            bool modified = false;
            EXPECT_TRUE(task.Apply(image, modified, QString()));
        }
    }
    // No surface can be made for a palette image this wide: the image stays as it was.
    PxImage wide;
    ASSERT_TRUE(wide.Create(600000000, 1, 1));
    const uint8_t before = wide.GetBits(0)[0];
    bool modified = false;
    EXPECT_FALSE(task.Apply(wide, modified, QString()));
    EXPECT_EQ(wide.GetBpp(), 1u);
    EXPECT_EQ(wide.GetBits(0)[0], before);
}

} // namespace
