#include "targets.h"

#include "core/paths.h"
#include "joboptions.h"

#include <QDir>

QString BatchTargetPath(const Job &job, const QString &source, const NameFacts &facts,
                        bool &saveNeeded)
{
    QString folder = job.ResultFolder();
    if (folder.isEmpty())
        folder = GetFolderOf(source);
    else if (job.keepFolders && !job.FoundIn(source).isEmpty())
        folder = JoinPath(folder, job.FoundIn(source));
    const QString extension = job.format.isEmpty() ? GetFileExtension(source) : job.format;
    if (!job.format.isEmpty())
        saveNeeded = true;
    const QString base = job.namePattern.isEmpty()
                             ? GetFileBaseName(source)
                             : ExpandNamePattern(job.namePattern, facts, int(extension.toUtf8().size()));
    const QString name = extension.isEmpty() ? base : base + u'.' + extension;
    const QString target = folder.isEmpty() ? name : JoinPath(folder, name);
    // A result under a name of its own is a file of its own, changed or not.
    if (!job.namePattern.isEmpty() && !PathsEqual(QDir::cleanPath(target), QDir::cleanPath(source)))
        saveNeeded = true;
    return target;
}

NameFacts FactsOf(const Job &job, const QString &source, int index, quint32 width, quint32 height)
{
    NameFacts facts;
    facts.source = source;
    facts.counter = job.counterStart + index;
    facts.width = width;
    facts.height = height;
    facts.notes = job.notes.get();
    return facts;
}

QList<BatchOutput> BatchOutputsOf(const Job &job)
{
    if (job.variants.isEmpty())
        return {{QString(), job, job.Applied()}};
    QList<BatchOutput> outputs;
    for (const JobVariant &variant : job.variants) {
        // A variant that cannot be made was refused when it was given.
        std::optional<Job> made = VariantJob(job, variant, nullptr);
        Job j = made ? std::move(*made) : job;
        j.foundIn = job.foundIn;
        j.notes = job.notes;
        QList<CPixortaTask *> tasks = j.Applied();
        outputs.append({variant.label, std::move(j), std::move(tasks)});
    }
    return outputs;
}

TargetClaims::TargetClaims(const QStringList &sources)
{
    for (const QString &source : sources)
        m_sources.insert(Key(source), true);
}

QString TargetClaims::Key(const QString &path)
{
    return PathKey(QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path)));
}

TargetClaims::Decision TargetClaims::Claim(const QString &wanted, const QString &source,
                                           Job::IfExists choice,
                                           const std::function<bool(const QString &)> &exists)
{
    const QString key = Key(wanted);
    auto taken = [this](const QString &path) {
        const QString k = Key(path);
        return m_claimed.contains(k) || m_sources.contains(k);
    };
    auto freeName = [&] {
        return MakeUniquePath(GetFolderOf(wanted), GetFileBaseName(wanted),
                              GetFileExtension(wanted), false, taken);
    };
    Decision d;
    d.path = wanted;
    if (m_claimed.contains(key) || (key != Key(source) && m_sources.contains(key))) {
        // Two images of one batch never overwrite each other.
        d.takenBy = m_claimed.value(key, wanted);
        if (choice == Job::IfExists::Skip) {
            d.kind = Decision::Kind::Skip;
            return d;
        }
        d.kind = Decision::Kind::Rename;
        d.path = freeName();
    } else if (exists(wanted)) {
        d.kind = choice == Job::IfExists::Overwrite ? Decision::Kind::Overwrite
                 : choice == Job::IfExists::Skip    ? Decision::Kind::Skip
                                                    : Decision::Kind::Rename;
        if (d.kind == Decision::Kind::Skip)
            return d;
        if (d.kind == Decision::Kind::Rename)
            d.path = freeName();
    }
    if (!d.path.isEmpty())
        m_claimed.insert(Key(d.path), source);
    return d;
}
