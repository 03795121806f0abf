#pragma once
// "About Pixorta": the program icon, its name and version, and the way to its home and contact
// pages.

#include <QDialog>

class CPixortaAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixortaAboutDlg(QWidget *parent = nullptr);
};

// "Developer Tests": a way to look at single pieces of the interface on their own.
class CPixortaDeveloperTestsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixortaDeveloperTestsDlg(QWidget *parent = nullptr);
    // "test 1": the Resize panel on its own, as a modal dialog.
    void RunTest1();
};
