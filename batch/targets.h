#pragma once
// Where a batch puts each result: the path a job wants for an image, and, image after image in
// batch order, what becomes of it where that path is taken (by a file, or by another image of
// the same batch). The batch and its plan decide through the same code, so the plan says what
// the batch then does.

#include "job.h"
#include "namepattern.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

// The path job wants for the result of source: the source's folder, the output folder or the
// source's place under it (with keep-folders), the name from the pattern, the job's extension.
// A format change, or a name that leaves the source's place, makes saveNeeded true.
QString BatchTargetPath(const Job &job, const QString &source, const NameFacts &facts,
                        bool &saveNeeded);
// The facts of the image at index of a batch whose results are width x height.
NameFacts FactsOf(const Job &job, const QString &source, int index, quint32 width, quint32 height);

// One set of results of a batch: the job's own, or one variant's.
struct BatchOutput {
    // The variant's label; "" for the job's own.
    QString label;
    Job job;
    // The records it applies, in task order.
    QList<CPixortaTask *> tasks;
};
// The job's own results, or one set per variant, each with records of its own.
QList<BatchOutput> BatchOutputsOf(const Job &job);

class TargetClaims {
public:
    // sources: every image of the batch; a result never takes another image's place.
    explicit TargetClaims(const QStringList &sources);

    struct Decision {
        enum class Kind {
            Write,     // nothing stands there
            Overwrite, // a file stands there and is replaced (after a backup)
            Skip,      // the image is left out: its place is taken
            Rename,    // the result goes to a free name beside the one it wanted
        };
        Kind kind = Kind::Write;
        // Where the result goes; for Skip, the place that was taken.
        QString path;
        // For a place another image of the batch takes (or is): that image.
        QString takenBy;
    };
    // What becomes of the result source wants at wanted; a place it gets is taken from then on.
    // exists tells whether something stands at a path now.
    Decision Claim(const QString &wanted, const QString &source, Job::IfExists choice,
                   const std::function<bool(const QString &)> &exists);

private:
    static QString Key(const QString &path);
    QHash<QString, QString> m_claimed;
    QHash<QString, bool> m_sources;
};
