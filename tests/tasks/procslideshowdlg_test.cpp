#include "tasks/pixortaprocslideshowdlg.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/pixortaspinedit.h"
#include "tasks/taskpanels.h"
#include "engine/pximage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(SlideShowPanel, MasterSwitchEnablesTheControlsAndTheRecordCarriesThem)
{
    const std::unique_ptr<CPixortaProcessorBaseDlg> base = CreateTaskPanel(TaskCreateSlideshow, nullptr);
    auto *panel = dynamic_cast<CPixortaProcSlideShowDlg *>(base.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->GetTaskKind(), TaskCreateSlideshow);
    EXPECT_TRUE(panel->IsTaskEnabled());
    panel->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));

    auto *master = panel->findChild<QCheckBox *>("createMovie");
    auto *appear = panel->findChild<QListWidget *>("appearEffects");
    auto *disappear = panel->findChild<QListWidget *>("disappearEffects");
    auto *width = panel->findChild<CPixortaSpinEdit *>("movieWidth");
    auto *quality = panel->findChild<QComboBox *>("movieQuality");
    ASSERT_TRUE(master && appear && disappear && width && quality);
    bool misspelt = false;
    for (const QLabel *label : panel->findChildren<QLabel *>())
        misspelt = misspelt || label->text() == "On dissapear:";
    EXPECT_TRUE(misspelt);

    // Off by default: everything but the switch is disabled and the record makes no movie.
    EXPECT_FALSE(master->isChecked());
    EXPECT_FALSE(appear->isEnabled());
    EXPECT_FALSE(quality->isEnabled());
    auto task = std::unique_ptr<CPixortaSlideShowTask>(
        static_cast<CPixortaSlideShowTask *>(panel->CreateTask().release()));
    EXPECT_EQ(task->m_create, 0);
    EXPECT_EQ(task->m_pause, 5);
    EXPECT_EQ(task->m_width, 1024);
    EXPECT_EQ(task->m_height, 768);
    EXPECT_EQ(task->m_quality, 80);
    EXPECT_EQ(task->m_appearEffects, QString());
    EXPECT_EQ(quality->count(), 11);

    QTest::mouseClick(master, Qt::LeftButton, {}, QPoint(6, master->height() / 2));
    EXPECT_TRUE(master->isChecked());
    EXPECT_TRUE(appear->isEnabled());
    EXPECT_TRUE(width->isEnabled());

    // Clicks add effects; the record lists them in the list's order, not the clicks'.
    for (int row : {6, 0, 5}) {
        appear->scrollToItem(appear->item(row));
        QTest::mouseClick(appear->viewport(), Qt::LeftButton, {},
                          appear->visualItemRect(appear->item(row)).center());
    }
    disappear->item(8)->setSelected(true);
    quality->setCurrentText("5");
    width->setText("800");
    task.reset(static_cast<CPixortaSlideShowTask *>(panel->CreateTask().release()));
    EXPECT_EQ(task->m_create, 1);
    EXPECT_EQ(task->m_appearEffects, "Lighten,Zoom in,Zoom out");
    EXPECT_EQ(task->m_disappearEffects, "Rotate left");
    EXPECT_EQ(task->m_quality, 5);
    EXPECT_EQ(task->m_width, 800);
    EXPECT_EQ(task->GetDescription(), "Create slideshow");

    // The record never changes an image.
    bool modified = true;
    PxImage image;
    image.Create(2, 2, 24);
    image.GetBits(0)[0] = 7;
    EXPECT_TRUE(task->Apply(image, modified, QString()));
    EXPECT_EQ(image.GetBits(0)[0], 7);
    EXPECT_FALSE(modified);
}

} // namespace
