#include "uiseams.h"

#include <QApplication>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QUrl>

namespace {
MessageHandler g_messageHandler;
OpenFilesHandler g_openFilesHandler;
SaveFileHandler g_saveFileHandler;
FolderHandler g_folderHandler;
ColorHandler g_colorHandler;
FontHandler g_fontHandler;
OpenUrlHandler g_openUrlHandler;
DialogHandler g_dialogHandler;

template <typename T>
T Exchange(T &slot, T value)
{
    T old = std::move(slot);
    slot = std::move(value);
    return old;
}

QMessageBox::StandardButtons ToButtons(MsgButtons b)
{
    switch (b) {
    case MsgButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon ToIcon(MsgIcon i)
{
    switch (i) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QString ApplicationTitle()
{
    QString exe = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    if (exe.isEmpty())
        exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString title = QFileInfo(exe).completeBaseName();
    return title.isEmpty() ? QStringLiteral("pixorta") : title;
}

MsgAnswer ShowMessage(const QString &text, const QString &caption, MsgButtons buttons,
                      MsgIcon icon, QWidget *owner)
{
    const QString title = caption.isEmpty() ? ApplicationTitle() : caption;
    if (g_messageHandler)
        return g_messageHandler(text, title, buttons, icon);
    QMessageBox box(ToIcon(icon), title, text, ToButtons(buttons),
                    owner ? owner : QApplication::activeWindow());
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    default:
        return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
}

MessageHandler SetMessageHandler(MessageHandler handler)
{
    return Exchange(g_messageHandler, std::move(handler));
}

QStringList ChooseOpenFiles(QWidget *owner, const OpenFilesRequest &request)
{
    if (g_openFilesHandler)
        return g_openFilesHandler(request);
    return QFileDialog::getOpenFileNames(owner, request.title, request.folder, request.filter);
}

QString ChooseSaveFile(QWidget *owner, const SaveFileRequest &request)
{
    if (g_saveFileHandler)
        return g_saveFileHandler(request);
    return QFileDialog::getSaveFileName(owner, request.title, request.suggestion, request.filter);
}

QString ChooseFolder(QWidget *owner, const QString &title, const QString &initial)
{
    if (g_folderHandler)
        return g_folderHandler(title, initial);
    return QFileDialog::getExistingDirectory(owner, title, initial);
}

std::optional<QColor> ChooseColor(QWidget *owner, const QColor &initial)
{
    if (g_colorHandler)
        return g_colorHandler(initial);
    const QColor c = QColorDialog::getColor(initial, owner);
    if (!c.isValid())
        return std::nullopt;
    return c;
}

std::optional<QFont> ChooseFont(QWidget *owner, const QFont &initial)
{
    if (g_fontHandler)
        return g_fontHandler(initial);
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, initial, owner);
    if (!ok)
        return std::nullopt;
    return f;
}

OpenFilesHandler SetOpenFilesHandler(OpenFilesHandler h)
{
    return Exchange(g_openFilesHandler, std::move(h));
}
SaveFileHandler SetSaveFileHandler(SaveFileHandler h)
{
    return Exchange(g_saveFileHandler, std::move(h));
}
FolderHandler SetFolderHandler(FolderHandler h)
{
    return Exchange(g_folderHandler, std::move(h));
}
ColorHandler SetColorHandler(ColorHandler h)
{
    return Exchange(g_colorHandler, std::move(h));
}
FontHandler SetFontHandler(FontHandler h)
{
    return Exchange(g_fontHandler, std::move(h));
}

bool OpenWithDefaultApplication(const QUrl &url)
{
    if (g_openUrlHandler)
        return g_openUrlHandler(url);
    return QDesktopServices::openUrl(url);
}

OpenUrlHandler SetOpenUrlHandler(OpenUrlHandler h)
{
    return Exchange(g_openUrlHandler, std::move(h));
}

void OpenAddress(const QUrl &url, QWidget *owner)
{
    if (OpenWithDefaultApplication(url))
        return;
    const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toString();
    ShowMessage(QStringLiteral("No program on this desktop could open ") + shown, QString(),
                MsgButtons::Ok, MsgIcon::Warning, owner);
}

int RunModalDialog(QDialog &dialog)
{
    if (g_dialogHandler)
        return g_dialogHandler(dialog);
    return dialog.exec();
}

DialogHandler SetDialogHandler(DialogHandler h)
{
    return Exchange(g_dialogHandler, std::move(h));
}

WaitCursor::WaitCursor() : m_active(qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
{
    if (m_active)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor()
{
    if (m_active)
        QGuiApplication::restoreOverrideCursor();
}
