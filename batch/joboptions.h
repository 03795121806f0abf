#pragma once
// The options of a job as the command line gives them ("--resize 50", "--format webp"), read
// from the declarations of the tasks and of the job: the command line and the variants of a
// job take them through the same code, so an option means the same wherever it is given.

#include "job.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <optional>

class JobOptions {
public:
    // Whether name is an option of a task or of the job, and whether it takes a value.
    static std::optional<bool> TakesValue(const QString &name);
    // Sets what the option says. "" when it was taken, otherwise why not (in the words a
    // refused value gets everywhere).
    QString Take(Job &job, const QString &name, const QString &value);
    // The rules between the options taken: an option that needs its task's switch on, and a
    // resize that replaces the job's whole resize. "" or why not.
    QString Finish(Job &job) const;
    // The task options taken, by kind (their setting keys, or the option's name).
    const QMap<qint32, QSet<QString>> &Given() const { return m_given; }

private:
    QMap<qint32, QSet<QString>> m_given;
};

// A variant as --variant gives it: "width=1600,name=%name%_large". A comma starts the next
// setting only where "KEY=" follows it, so a colour "R,G,B" or a caption with commas stays
// whole. None, with *why, for a text that is no such list or a key no variant takes.
std::optional<JobVariant> ParseVariant(const QString &text, const QString &label, QString *why);
// The settings as a variant writes them, the inverse of ParseVariant.
QString VariantText(const JobVariant &variant);
// The job a variant makes of base: base's settings with the variant's on top, without
// variants of its own. None, with *why, for a setting it cannot take.
std::optional<Job> VariantJob(const Job &base, const JobVariant &variant, QString *why);
