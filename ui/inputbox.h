#pragma once
// A modal box that asks for one line of text under a caption and a prompt (the image list's note
// editor uses it). Like every modal chooser it runs through a seam that tests replace.

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;

class CPixortaInputBoxDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixortaInputBoxDlg(QWidget *parent = nullptr);

    // Caption to show; when empty, "Pixorta input box" stays.
    QString title;
    QString prompt;
    // The edit field's starting text; after OK, the text the user entered.
    QString text;

    // Fills the controls from title, prompt and text; exec() does it too.
    void InitDialog();
    void accept() override;
    int exec() override;

    QLineEdit *Edit() const { return m_edit; }

private:
    QLabel *m_prompt = nullptr;
    QLineEdit *m_edit = nullptr;
};

// 1 after OK (text becomes the entered text), 2 after Cancel (text unchanged).
int ShowInputBox(const QString &title, const QString &prompt, QString &text);

// Replaces the box: the handler gets title, prompt and the text to start with and returns the
// entered text, or nothing for Cancel. Returns the handler installed before (empty for the box).
using InputBoxHandler =
    std::function<std::optional<QString>(const QString &title, const QString &prompt,
                                         const QString &text)>;
InputBoxHandler SetInputBoxHandler(InputBoxHandler handler);
