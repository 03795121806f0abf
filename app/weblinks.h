#pragma once
// The addresses the program opens with the desktop's default handler. The help page is a local
// page that ships beside the program; the home and contact pages are on the web.

#include <QString>
#include <QUrl>

inline const QString kHomePageAddress = QStringLiteral("https://www.pixorta.org/");
inline const QString kContactPageAddress = QStringLiteral("https://www.pixorta.org/contact");
// Beside the program, with the banner.
inline const QString kHelpPageName = QStringLiteral("images_internal/help.html");
