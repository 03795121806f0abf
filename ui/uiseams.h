#pragma once
// The one place through which every modal box and chooser of the system runs. Tests install
// handlers that record what would have been shown and return scripted answers, so no test ever
// blocks on a modal window.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDialog;
class QUrl;
class QWidget;

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Question, Warning, Error };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// The application's title: the executable's file name without its extension ("pixorta").
QString ApplicationTitle();

// Shows text in a modal box; an empty caption means the application's title.
MsgAnswer ShowMessage(const QString &text, const QString &caption = QString(),
                      MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None,
                      QWidget *owner = nullptr);

using MessageHandler = std::function<MsgAnswer(const QString &text, const QString &caption,
                                               MsgButtons buttons, MsgIcon icon)>;
// Replaces the message box; returns the handler that was installed (empty for the real box).
MessageHandler SetMessageHandler(MessageHandler handler);

struct OpenFilesRequest {
    QString title;
    QString filter;
    QString folder;
};
using OpenFilesHandler = std::function<QStringList(const OpenFilesRequest &)>;
// The file a "Save ..." command writes: the chooser offers suggestion (a folder and maybe a
// name) and asks before replacing a file.
struct SaveFileRequest {
    QString title;
    QString filter;
    QString suggestion;
};
using SaveFileHandler = std::function<QString(const SaveFileRequest &)>;
using FolderHandler = std::function<QString(const QString &title, const QString &initial)>;
using ColorHandler = std::function<std::optional<QColor>(const QColor &initial)>;
using FontHandler = std::function<std::optional<QFont>(const QFont &initial)>;

// Empty list when the user cancelled.
QStringList ChooseOpenFiles(QWidget *owner, const OpenFilesRequest &request);
// Empty string when the user cancelled.
QString ChooseSaveFile(QWidget *owner, const SaveFileRequest &request);
// Empty string when nothing was chosen.
QString ChooseFolder(QWidget *owner, const QString &title, const QString &initial = QString());
std::optional<QColor> ChooseColor(QWidget *owner, const QColor &initial);
std::optional<QFont> ChooseFont(QWidget *owner, const QFont &initial);

OpenFilesHandler SetOpenFilesHandler(OpenFilesHandler handler);
SaveFileHandler SetSaveFileHandler(SaveFileHandler handler);
FolderHandler SetFolderHandler(FolderHandler handler);
ColorHandler SetColorHandler(ColorHandler handler);
FontHandler SetFontHandler(FontHandler handler);

// Opens a file or web page with the desktop's default application; false when nothing took it.
bool OpenWithDefaultApplication(const QUrl &url);
using OpenUrlHandler = std::function<bool(const QUrl &)>;
OpenUrlHandler SetOpenUrlHandler(OpenUrlHandler handler);
// The same, telling the user when nothing took it: the one message for every address or file
// the program hands to the desktop (the help page, the web pages, a picture of the list).
void OpenAddress(const QUrl &url, QWidget *owner);

// Runs a dialog modally and returns its result code.
int RunModalDialog(QDialog &dialog);
// Replaces the modal run: the handler gets the dialog, built but not shown, drives it as a user
// would and returns the result code. Returns the handler installed before (empty: exec()).
using DialogHandler = std::function<int(QDialog &dialog)>;
DialogHandler SetDialogHandler(DialogHandler handler);

// Shows the wait cursor for as long as it lives.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    bool m_active;
};
