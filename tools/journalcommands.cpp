#include "journalcommands.h"

#include "core/bytesizes.h"

#include <QRegularExpression>
#include <cstdio>
#include <unistd.h>

QString CommandLine(const QStringList &args)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=%+@,-]+$"));
    QStringList words = {QStringLiteral("pixorta-batch")};
    for (const QString &a : args)
        words << (plain.match(a).hasMatch()
                      ? a
                      : u'\'' + QString(a).replace(u'\'', QStringLiteral("'\\''")) + u'\'');
    return words.join(u' ');
}

QString BatchTitle(const JournalBatch &batch)
{
    return batch.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" (") +
           batch.command + u')';
}

void Note(const QString &text)
{
    std::fprintf(stderr, "pixorta-batch: %s\n", qPrintable(text));
}

namespace {

// Asks on the terminal; without one (or at its end) the answer is no.
bool AskYes(const QString &question)
{
    if (!::isatty(STDIN_FILENO))
        return false;
    std::fprintf(stderr, "%s [y/N] ", qPrintable(question));
    std::fflush(stderr);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    return line[0] == 'y' || line[0] == 'Y';
}

int ListJournal(const CUndoJournal &journal)
{
    const QList<JournalBatch> batches = journal.Batches();
    int shown = 0;
    for (const JournalBatch &b : batches) {
        if (b.IsEmpty())
            continue;
        QString state;
        if (b.running)
            state = QStringLiteral("  (still running)");
        else if (!b.damage.isEmpty())
            state = QStringLiteral("  (record damaged: ") + b.damage + u')';
        else if (!b.finished)
            state = QStringLiteral("  (stopped half-way)");
        const qsizetype files = b.entries.size() + b.created.size();
        std::printf("%d  %s  %lld %s  %s  %s%s\n", ++shown,
                    qPrintable(b.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
                    static_cast<long long>(files), files == 1 ? "file" : "files",
                    qPrintable(FormatBytes(b.bytes)), qPrintable(b.command), qPrintable(state));
    }
    if (shown == 0)
        std::printf("There is nothing to undo (i.e. no file was overwritten)\n");
    return 0;
}

int Undo(CUndoJournal &journal, int times, bool yes)
{
    int status = 0;
    for (int i = 0; i < times; ++i) {
        const CUndoJournal::UndoResult r = journal.UndoNewest([yes](const QString &path) {
            if (yes)
                return true;
            return AskYes(path + QStringLiteral(" has changed since the batch. Overwrite it with "
                                                "the copy from before the batch?"));
        });
        if (!r.found) {
            std::printf("There is nothing to undo (i.e. no file was overwritten)\n");
            return 1;
        }
        if (r.damaged) {
            Note(QStringLiteral("the record of the batch in ") + r.batch.folder +
                 QStringLiteral(" is damaged (") + r.batch.damage +
                 QStringLiteral("), so nothing was undone; its copies are kept there until "
                                "pixorta-batch --forget"));
            return 1;
        }
        if (r.removed) {
            std::printf("Undid the batch of %s: %s\n", qPrintable(BatchTitle(r.batch)),
                        qPrintable(UndoCountsText(r.Counts())));
        } else {
            // The files it overwrote, and of them how many came back; then what else it did.
            const qsizetype files = r.restored.size() + r.kept.size() + r.failed.size();
            UndoCounts rest = r.Counts();
            rest.putBack = 0;
            rest.changedLeft = r.changedNew.size();
            rest.failed = 0;
            const QString more = rest.removedNew + rest.changedLeft > 0
                                     ? QStringLiteral(", ") + UndoCountsText(rest)
                                     : QString();
            std::printf("Undid the batch of %s in part: %lld of %lld files put back%s\n",
                        qPrintable(BatchTitle(r.batch)),
                        static_cast<long long>(r.restored.size()), static_cast<long long>(files),
                        qPrintable(more));
        }
        std::fflush(stdout);
        for (const QString &path : r.kept)
            Note(path + QStringLiteral(" was left as it is: it changed since the batch "
                                       "(--undo --yes overwrites it)"));
        for (const QString &path : r.changedNew)
            Note(path + QStringLiteral(" was left as it is: the batch made it, and it changed "
                                       "since"));
        for (const auto &[path, why] : r.failed)
            Note(path + QStringLiteral(" could not be put back: ") + why);
        if (!r.recordNotUpdated.isEmpty())
            Note(QStringLiteral("the journal's record of the batch could not be updated (") +
                 r.recordNotUpdated +
                 QStringLiteral("): the files put back now read as changed since the batch"));
        if (!r.removed) {
            Note(QStringLiteral("the batch stays in the journal with the files not put back"));
            return 1;
        }
        if (!r.kept.isEmpty() || !r.failed.isEmpty())
            status = 1;
    }
    return status;
}

int Forget(CUndoJournal &journal)
{
    const QList<JournalBatch> gone = journal.Forget();
    qint64 bytes = 0;
    for (const JournalBatch &b : gone)
        bytes += b.bytes;
    std::printf("Forgot %lld %s (%s)\n", static_cast<long long>(gone.size()),
                gone.size() == 1 ? "batch" : "batches", qPrintable(FormatBytes(bytes)));
    return 0;
}

} // namespace

int RunJournalCommand(const JournalCommand &command, const QString &root)
{
    CUndoJournal journal(root);
    QString error;
    if (!journal.Open(&error)) {
        Note(error);
        return 1;
    }
    if (command.list)
        return ListJournal(journal);
    if (command.forget)
        return Forget(journal);
    return Undo(journal, command.undo, command.yes);
}
