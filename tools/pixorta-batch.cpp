// pixorta-batch: the batch of the processing window, from the command line, without a window.
// Files are expanded as the image list expands them and written exactly as the window writes
// them; every result line is printed as the window shows it.

#include "batchoptions.h"
#include "core/paths.h"
#include "batchrun.h"
#include "headless.h"
#include "journalcommands.h"

#include <QGuiApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int)
{
    g_interrupted = true;
}

} // namespace

int main(int argc, char **argv)
{
    UseOffscreenPlatformWithoutDisplay();
    // Qt takes the arguments it knows as its own ("-reverse", "--session X", on X11 "--name X"
    // too) out of what it is given: it is given none, so that every argument reaches the batch.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QGuiApplication app(qtArgc, qtArgv);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    // The arguments as the bytes they are: a file name that is not UTF-8 must reach the batch
    // under its own name (Qt's own list would turn such bytes into replacement characters).
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << FromNativeName(QByteArray(argv[i]));
    BatchRequest request;
    QString error;
    if (!ParseBatchRequest(args, &request, &error))
        return UsageError(error);
    if (request.help) {
        std::fputs(qPrintable(BatchHelp()), stdout);
        return 0;
    }
    if (request.undo > 0 || request.undoList || request.forget)
        return RunJournalCommand({request.undo, request.yes, request.undoList, request.forget});

    // A request to stop ends the batch between two images, so the backups are kept in order.
    // A closed output pipe counts as one too: the write would otherwise kill the process.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(sig, OnInterrupt);
    return RunBatchRequest(request, g_interrupted);
}
