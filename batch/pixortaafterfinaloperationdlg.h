#pragma once
// "Done.": shown after every batch with the files it wrote, as thumbnails that can be dragged
// into a mail program. From here the batch can be undone, and the user chooses how the main
// window is left for the next job.

#include <QDialog>
#include <QStringList>

class CPixortaImageListCtrl;
class QCheckBox;
class QPushButton;

// What the dialog changes in the main window.
class CCompletionHost {
public:
    virtual ~CCompletionHost() = default;
    // Removes every file from the main window's list.
    virtual void EmptyFilesList() = 0;
    // Every task panel returns to its defaults.
    virtual void ResetTasks() = 0;
    // A file of the batch may have been rewritten in place: its thumbnail is made again.
    virtual void OnFileChanged(const QString &path, const QString &note) = 0;
    // Ends the program once this dialog has closed, without asking.
    virtual void ExitApplication() = 0;
};

class CPixortaAfterFinalOperationDlg : public QDialog {
    Q_OBJECT
public:
    // host may be null: the choices then change nothing outside the dialog.
    CPixortaAfterFinalOperationDlg(const QStringList &outputs, CCompletionHost *host,
                                   QWidget *parent = nullptr);

    // OK: the chosen steps, then close.
    void accept() override;

    // Whether the last press of the undo button undid an operation.
    bool Undone() const { return m_undone; }
    CPixortaImageListCtrl *List() const { return m_list; }

private:
    void Undo();
    void ExitApplication();

    QStringList m_outputs;
    CCompletionHost *m_host;
    bool m_undone = false;
    CPixortaImageListCtrl *m_list = nullptr;
    QCheckBox *m_emptyList = nullptr;
    QCheckBox *m_resetTasks = nullptr;
};
