#pragma once
// The command-line tools draw (metafile text, the text task) with the same Qt painter as the
// window. Without a display they run Qt on its offscreen platform, which draws the same pixels.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

inline void UseOffscreenPlatformWithoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    // Outside a desktop session Qt complains about a runtime folder the tools never use; the
    // complaint would mix with the tools' own output.
    static const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
                message.startsWith(QLatin1String("QStandardPaths: runtime directory")))
                return;
            if (previous)
                previous(type, context, message);
        });
}
