#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;
class QMenuBar;

// The main window, in which the user sets up a job.
class CPixortaDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixortaDlg(const QStringList &commandLine = QStringList(), QWidget *parent = nullptr);
    ~CPixortaDlg() override;

    // A file of the list has been rewritten on disk (rotated, restored by undo, or produced in
    // place by a batch).
    void OnFileChanged(const QString &path, const QString &note = QString());

    QListWidget *ImageList() const { return m_list; }
    // Esc, the "Exit" button and the close box: ask first while the list holds files.
    void reject() override;

signals:
    void fileChanged(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void AddFiles(const QStringList &paths);

    QListWidget *m_list = nullptr;
    QPushButton *m_exitButton = nullptr;
    QMenuBar *m_menuBar = nullptr;
};
