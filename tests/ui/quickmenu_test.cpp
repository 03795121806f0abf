#include "tests/support/testsupport.h"
#include "ui/quickmenu.h"

#include <QMenu>
#include <QTimer>

namespace {

struct PickFromMenu {
    explicit PickFromMenu(int id)
    {
        previous = SetQuickMenuHandler([this, id](const QList<int> &ids, const QList<QString> &texts) {
            shownIds = ids;
            shownTexts = texts;
            return id;
        });
    }
    ~PickFromMenu() { SetQuickMenuHandler(previous); }
    QuickMenuHandler previous;
    QList<int> shownIds;
    QList<QString> shownTexts;
};

TEST(QuickMenu, RecordsTextItemsAndReportsThePick)
{
    struct Case {
        int pick;
        int expectedId;
        const char *expectedText;
    } cases[] = {
        {3, 3, "Remove &selected"},
        {7, 7, "second seven"}, // the text recorded last for an id that occurs twice
        {-1, -1, ""},           // closed without a pick
        {42, -1, ""},           // an id the menu does not hold
        {CQuickMenu::kSeparatorId, -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pick);
        QWidget owner;
        CQuickMenu menu;
        ASSERT_TRUE(menu.Create(&owner));
        menu.AddItem(CQuickMenu::String, 3, QStringLiteral("Remove &selected"));
        menu.AddItem(CQuickMenu::Separator, CQuickMenu::kSeparatorId);
        menu.AddItem(CQuickMenu::String, 7, QStringLiteral("first seven"));
        menu.AddItem(CQuickMenu::String, 7, QStringLiteral("second seven"));
        PickFromMenu pick(c.pick);
        EXPECT_EQ(menu.Track(-1, -1), c.expectedId);
        EXPECT_EQ(menu.ChosenId(), c.expectedId);
        EXPECT_EQ(menu.ChosenText(), QString::fromUtf8(c.expectedText));
        EXPECT_EQ(pick.shownIds, (QList<int>{3, 7, 7}));
        EXPECT_EQ(menu.Menu()->actions().size(), 4) << "the separator is in the menu itself";
    }
}

TEST(QuickMenu, AnItemActivatedByAScreenReaderCountsAsPicked)
{
    // A screen reader triggers the item's action directly instead of clicking it.
    QWidget owner;
    CQuickMenu menu;
    ASSERT_TRUE(menu.Create(&owner));
    menu.AddItem(CQuickMenu::String, 3, QStringLiteral("Remove"));
    menu.AddItem(CQuickMenu::String, 50, QStringLiteral("Edit &note"));
    QTimer::singleShot(50, menu.Menu(), [&menu] { menu.Menu()->actions()[1]->trigger(); });
    QTimer::singleShot(3000, menu.Menu(), [&menu] { menu.Menu()->close(); }); // never hang
    EXPECT_EQ(menu.Track(10, 10), 50);
    EXPECT_EQ(menu.ChosenText(), "Edit &note");
    EXPECT_FALSE(menu.Menu()->isVisible());
}

} // namespace
