#include "tests/support/testsupport.h"
#include "ui/inputbox.h"

#include <QLabel>
#include <QLineEdit>

namespace {

TEST(InputBox, ShowsItsTextsAndGivesBackWhatWasEnteredOnlyOnOk)
{
    CPixortaInputBoxDlg box;
    box.prompt = "Your name:";
    box.text = "start";
    box.InitDialog();
    EXPECT_EQ(box.windowTitle(), "Pixorta input box") << "an empty title keeps the caption";
    EXPECT_EQ(box.findChild<QLabel *>("prompt")->text(), "Your name:");
    EXPECT_EQ(box.Edit()->text(), "start");
    EXPECT_EQ(box.Edit()->accessibleName(), "Your name:");
    box.Edit()->setText("typed");
    box.reject();
    EXPECT_EQ(box.text, "start");
    box.Edit()->clear();
    box.accept();
    EXPECT_EQ(box.text, "");

    CPixortaInputBoxDlg titled;
    titled.title = "Edit file note";
    titled.InitDialog();
    EXPECT_EQ(titled.windowTitle(), "Edit file note");
}

TEST(InputBox, TheSeamAnswersOkOrCancel)
{
    std::optional<QString> answer = QString("new");
    const InputBoxHandler previous =
        SetInputBoxHandler([&](const QString &, const QString &, const QString &) { return answer; });
    QString text = "old";
    EXPECT_EQ(ShowInputBox("t", "p", text), 1);
    EXPECT_EQ(text, "new");
    answer = std::nullopt;
    EXPECT_EQ(ShowInputBox("t", "p", text), 2);
    EXPECT_EQ(text, "new");
    SetInputBoxHandler(previous);
}

} // namespace
