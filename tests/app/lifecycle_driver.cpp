// Runs the real start-up sequence and closes the main window as soon as it is up, printing what
// a user would see of the backup folder. The lifecycle test starts it as a separate process,
// because the preferences file is written only when a process exits.
#include "undo/backup.h"
#include "app/pixortaapp.h"
#include "app/pixortadlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <sys/stat.h>

int main(int argc, char **argv)
{
    QApplication qt(argc, argv);
    CPixortaApp app({});
    static QString folder;
    app.SetMainWindowHook([](CPixortaDlg &dlg) {
        QTimer::singleShot(0, &dlg, [&dlg] {
            folder = GetBackupFolder();
            std::printf("running: %s %d\n", qPrintable(folder), QDir(folder).exists() ? 1 : 0);
            const QString copy = folder + "/readonly.jpg";
            QFile f(copy);
            if (f.open(QIODevice::WriteOnly))
                f.write("x");
            f.close();
            ::chmod(copy.toUtf8().constData(), 0444);
            dlg.done(0);
        });
    });
    app.InitInstance();
    std::printf("after: %d\n", QDir(folder).exists() ? 1 : 0);
    return 0;
}
