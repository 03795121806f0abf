#pragma once
// The small popup menu that the image list (its context menu) and the text panel (its variable
// menu) show: items are added with a command id, Track shows the menu and reports the id the
// user picked. Like every modal chooser it runs through a seam that tests replace.

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QWidget;

class CQuickMenu {
public:
    // Separators are appended with this id and never recorded.
    static constexpr int kSeparatorId = 19000;
    enum Flags : unsigned { String = 0, Separator = 1, Disabled = 2 };

    CQuickMenu();
    ~CQuickMenu();
    CQuickMenu(const CQuickMenu &) = delete;
    CQuickMenu &operator=(const CQuickMenu &) = delete;

    // The widget the menu belongs to (its window owns the popup while it is shown).
    bool Create(QWidget *parent);
    void AddItem(unsigned flags, int id, const QString &text = QString());
    // Shows the menu with its top-left corner at (x, y) in global coordinates, -1 meaning the
    // pointer's own coordinate, and waits until it closes. The picked id, or -1.
    int Track(int x = -1, int y = -1);

    int ChosenId() const { return m_chosenId; }
    QString ChosenText() const { return m_chosenText; }
    const QList<int> &ItemIds() const { return m_ids; }
    const QList<QString> &ItemTexts() const { return m_texts; }
    QMenu *Menu() const { return m_menu.get(); }

private:
    std::unique_ptr<QMenu> m_menu;
    QWidget *m_parent = nullptr;
    QList<int> m_ids;
    QList<QString> m_texts;
    int m_chosenId = -1;
    QString m_chosenText;
};

// Replaces the popup: the handler gets the shown menu's recorded items and returns the id to
// pick (-1 for none). Returns the handler that was installed before (empty for the real menu).
using QuickMenuHandler =
    std::function<int(const QList<int> &ids, const QList<QString> &texts)>;
QuickMenuHandler SetQuickMenuHandler(QuickMenuHandler handler);
