#pragma once
// Shared by the window's tests: its controls found by name, and every modal dialog recorded
// instead of run.

#include "ui/uiseams.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <QObject>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

template <class T> T *Child(const QObject &parent, const char *name)
{
    T *child = parent.findChild<T *>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Stands in for every modal run: records which dialogs were opened, drives them with drive.
class DialogRecorder {
public:
    explicit DialogRecorder(std::function<int(QDialog &)> drive = {}) : m_drive(std::move(drive))
    {
        m_previous = SetDialogHandler([this](QDialog &dialog) {
            names << dialog.objectName();
            return m_drive ? m_drive(dialog) : int(QDialog::Rejected);
        });
    }
    ~DialogRecorder() { SetDialogHandler(m_previous); }
    QStringList names;

private:
    std::function<int(QDialog &)> m_drive;
    DialogHandler m_previous;
};

// Start! as the user sees it: the batch runs, and "Done." is closed once it shows. The dialogs
// opened, in order.
inline QStringList RunStartAndCloseDone(QWidget &window)
{
    DialogRecorder dialogs([](QDialog &d) { return d.exec(); });
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *done = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            if (done->objectName() == u"CPixortaAfterFinalOperationDlg")
                done->accept();
    });
    closer.start(10);
    Child<QPushButton>(window, "startButton")->click();
    closer.stop();
    return dialogs.names;
}
