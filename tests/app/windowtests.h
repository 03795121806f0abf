#pragma once
// Shared by the window's tests: its controls found by name, and every modal dialog recorded
// instead of run.

#include "ui/uiseams.h"

#include <QDialog>
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
