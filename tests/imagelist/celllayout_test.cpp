// How the list lays out its cells: labels kept to the lines a cell has, and the grid spread
// over the whole width.

#include "listtests.h"
#include "ui/inputbox.h"

#include <QFontMetrics>
#include <QScrollBar>
#include <QStyle>

namespace {
using namespace listtest;

constexpr QRgb kRed = 0xFF0000;

QStringList ShownLines(const CPixortaImageListCtrl &list, int row)
{
    return list.ShownLabel(row).split(QChar::LineSeparator);
}

TEST(FitLabel, BreaksAtWordsAndShortensOnlyTheLastLine)
{
    const QFont font;
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance("holiday by the");
    const QChar ellipsis(0x2026);
    struct Case {
        const char *label;
        int lines;
        QStringList expected; // a last line ending in the ellipsis shows a start of the rest
    };
    const Case cases[] = {
        {"a.jpg", 2, {"a.jpg"}},
        {"a.jpg (sea)", 2, {"a.jpg (sea)"}},
        {"holiday by the sea", 2, {"holiday by the", "sea"}},
        // What the last line cannot hold is cut at its end, never a line that is not shown.
        {"holiday by the sea at dawn with everyone", 2,
         {"holiday by the", "sea at dawn with everyone"}},
        {"holiday by the sea", 1, {"holiday by the sea"}},
        {"", 2, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const QStringList got = FitLabel(c.label, font, width, c.lines);
        ASSERT_EQ(got.size(), c.expected.size()) << got.join('|').toStdString();
        for (qsizetype i = 0; i < got.size(); ++i) {
            EXPECT_LE(metrics.horizontalAdvance(got[i]), width) << got[i].toStdString();
            if (metrics.horizontalAdvance(c.expected[i]) <= width) {
                EXPECT_EQ(got[i], c.expected[i]);
                continue;
            }
            ASSERT_EQ(i, got.size() - 1) << "only the last line is shortened";
            EXPECT_TRUE(got[i].endsWith(ellipsis)) << got[i].toStdString();
            EXPECT_TRUE(c.expected[i].startsWith(got[i].chopped(1))) << got[i].toStdString();
        }
    }
    // A name with no word breaks is broken where it must be, not run past the cell.
    const QStringList name = FitLabel("averyveryverylongfilenamewithoutbreaks.jpg", font, width, 2);
    ASSERT_EQ(name.size(), 2);
    for (const QString &line : name)
        EXPECT_LE(metrics.horizontalAdvance(line), width);
    EXPECT_TRUE(name[1].endsWith(ellipsis));
}

TEST_F(ListTest, LabelsKeepToTheirCellAndTheTipShowsThemWhole)
{
    struct Case {
        const char *file;
        const char *note;
        bool shortened;
    };
    const Case cases[] = {
        {"a.jpg", "", false},
        {"b.png", "sea", false},
        // Three words of a note used to wrap to a third line that the cell cut in half.
        {"c.png", "summer holiday seaside", false},
        {"d.png", "summer holiday at the seaside with grandma and the dog", true},
        {"a_rather_long_file_name_of_a_camera.jpg", "", true},
    };
    QStringList paths;
    for (const Case &c : cases)
        paths << Write(c.file, kRed);
    list->AddFiles(paths);
    ASSERT_EQ(list->count(), int(std::size(cases)));
    for (int row = 0; row < list->count(); ++row) {
        const QString note = QString::fromUtf8(cases[row].note);
        if (note.isEmpty())
            continue;
        const InputBoxHandler previous = SetInputBoxHandler(
            [&](const QString &, const QString &, const QString &) { return note; });
        Select(*list, {row});
        list->EditNote();
        SetInputBoxHandler(previous);
    }
    const QFontMetrics metrics(list->font());
    for (int row = 0; row < list->count(); ++row) {
        const Case &c = cases[row];
        SCOPED_TRACE(c.file);
        const QString label = list->GetItemLabel(list->Entries()[row]);
        QListWidgetItem *item = list->item(row);
        // The item keeps the whole label: a screen reader speaks it.
        EXPECT_EQ(item->text(), label);
        EXPECT_EQ(item->toolTip(), *c.note ? label : paths[row]);

        const QStringList lines = ShownLines(*list, row);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_LE(lines.size(), 2) << list->ShownLabel(row).toStdString();
        // Every shown line is whole inside the label's area of the cell.
        const QRect area = list->LabelRect(row);
        EXPECT_GE(area.height(), lines.size() * metrics.lineSpacing());
        EXPECT_TRUE(list->visualItemRect(item).contains(area));
        for (const QString &line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), area.width()) << line.toStdString();
        const QString shown = lines.join(u' ');
        if (c.shortened) {
            EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        } else {
            QString whole = label;
            EXPECT_EQ(shown.simplified().remove(u' '), whole.remove(u' '));
        }
    }
}

TEST_F(ListTest, TheGridSpreadsOverTheWholeWidth)
{
    QStringList paths;
    for (int i = 0; i < 12; ++i)
        paths << Write(QString("p%1.png").arg(i, 2, 10, QChar('0')), kRed);
    list->AddFiles(paths);
    int columnsBefore = 0;
    for (const int width : {300, 420, 700, 1000}) {
        SCOPED_TRACE(width);
        list->resize(width, 420);
        list->doItemsLayout();
        // The view keeps room for its scroll bar whether it shows or not, and a row ends
        // before its last pixel.
        const int bar =
            list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list->verticalScrollBar());
        const int viewport = list->width() - 2 * list->frameWidth() - 1 - bar;
        const int cell = list->gridSize().width();
        const int columns = viewport / cell;
        ASSERT_GE(columns, 1);
        // Cells fill the width to within one pixel a column, and never shrink below what
        // a thumbnail and its label need.
        EXPECT_LT(viewport - columns * cell, columns + 1);
        EXPECT_GE(cell, list->thumbnailWidth + 24);
        EXPECT_GE(columns, columnsBefore);
        columnsBefore = columns;
        // The first row's last thumbnail reaches into the last column.
        int lastInRow = 0;
        while (lastInRow + 1 < list->count() &&
               list->visualItemRect(list->item(lastInRow + 1)).top() ==
                   list->visualItemRect(list->item(0)).top())
            ++lastInRow;
        EXPECT_EQ(lastInRow + 1, std::min(columns, list->count()));
        EXPECT_GT(list->visualItemRect(list->item(lastInRow)).right(), viewport - cell);
    }
}

} // namespace
