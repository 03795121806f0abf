#pragma once

#include "imagelist/pixortaimagelistctrl.h"

#include <QDialog>
#include <QStringList>

class QPushButton;
class QMenuBar;

// The main window, in which the user sets up a job.
class CPixortaDlg : public QDialog, public CImageListHost {
    Q_OBJECT
public:
    explicit CPixortaDlg(const QStringList &commandLine = QStringList(), QWidget *parent = nullptr);
    ~CPixortaDlg() override;

    // A file of the list has been rewritten on disk (rotated, restored by undo, or produced in
    // place by a batch): its thumbnail is made again.
    void OnFileChanged(const QString &path) override;
    void OnFileChanged(const QString &path, const QString &note);

    // "&Add files" and "Add &folder".
    void AddFilesCommand() override;
    void AddFolderCommand() override;

    CPixortaImageListCtrl *ImageList() const { return m_list; }
    // Esc, the "Exit" button and the close box: ask first while the list holds files.
    void reject() override;

signals:
    void fileChanged(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    CPixortaImageListCtrl *m_list = nullptr;
    QPushButton *m_exitButton = nullptr;
    QMenuBar *m_menuBar = nullptr;
};
