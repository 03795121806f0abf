#include "quickmenu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>

namespace {
QuickMenuHandler g_handler;
}

QuickMenuHandler SetQuickMenuHandler(QuickMenuHandler handler)
{
    QuickMenuHandler old = std::move(g_handler);
    g_handler = std::move(handler);
    return old;
}

CQuickMenu::CQuickMenu() = default;
CQuickMenu::~CQuickMenu() = default;

bool CQuickMenu::Create(QWidget *parent)
{
    m_parent = parent;
    m_menu = std::make_unique<QMenu>(parent);
    m_menu->setObjectName(QStringLiteral("quickMenu"));
    return true;
}

void CQuickMenu::AddItem(unsigned flags, int id, const QString &text)
{
    if (!m_menu)
        Create(nullptr);
    if (flags & Separator) {
        m_menu->addSeparator()->setData(kSeparatorId);
        return;
    }
    if (!text.isNull()) {
        m_ids.append(id);
        m_texts.append(text);
    }
    QAction *action = m_menu->addAction(text);
    action->setData(id);
    action->setEnabled(!(flags & Disabled));
    // Screen readers name a menu item by its text without the mnemonic marker.
    QString plain = text;
    action->setObjectName(QStringLiteral("quickMenuItem%1").arg(id));
    action->setToolTip(plain.remove(u'&'));
}

int CQuickMenu::Track(int x, int y)
{
    if (!m_menu)
        return -1;
    int id = -1;
    if (g_handler) {
        id = g_handler(m_ids, m_texts);
    } else {
        QPoint at = QCursor::pos();
        if (x != -1)
            at.setX(x);
        if (y != -1)
            at.setY(y);
        // An item activated through the accessibility interface is triggered directly, not
        // through the menu's own mouse and key handling, so exec() would not report it.
        QAction *activated = nullptr;
        const QMetaObject::Connection watch =
            QObject::connect(m_menu.get(), &QMenu::triggered, m_menu.get(), [&](QAction *a) {
                activated = a;
                m_menu->close();
            });
        QAction *picked = m_menu->exec(at);
        QObject::disconnect(watch);
        if (!picked)
            picked = activated;
        if (picked)
            id = picked->data().toInt();
    }
    // The text recorded last with that id, should an id occur twice.
    const qsizetype last = m_ids.lastIndexOf(id);
    if (last < 0)
        return -1;
    m_chosenId = id;
    m_chosenText = m_texts[last];
    return id;
}
