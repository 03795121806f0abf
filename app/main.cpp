#include "pixortaapp.h"
#include "core/cores.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// A polite request to end (logout, Ctrl+C in the terminal) closes the window the normal way,
// so the backup folder is removed and the start is recorded.
void CloseOnTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *dlg = qobject_cast<QDialog *>(w); dlg && dlg->isVisible())
                dlg->done(QDialog::Rejected);
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}
} // namespace

int main(int argc, char **argv)
{
    // The list decodes its thumbnails on every core.
    ReturnLargeFreedBlocks();
    QApplication qt(argc, argv);
    CloseOnTerminationSignals();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    CPixortaApp app(arguments);
    app.InitInstance();
    return 0;
}
