#pragma once
// The Size test: how large the output files of the current Resize settings and output format
// will be, measured on real files written by the real encoders.

#include <QString>
#include <QList>
#include <QStringList>
#include <functional>

class CPixortaTask;
class PxImage;

// value with the format "%.<decimals>f" (the user's decimal point); decimals 0 to 255.
QString FormatFixed(double value, int decimals);
// digits with separator between groups of groupLength, counted from the right.
QString GroupDigits(const QString &digits, int groupLength, const QString &separator);
// "512.0 B", "1.5 KB", "1.5 MB", "2.0 GB"; withExactBytes appends " (1 572 864 B)" from 1 KB.
QString FormatSize(double bytes, bool withExactBytes);

struct SizeEstimate {
    // Files loaded, changed, saved and measured.
    int sampled = 0;
    // Every path that was asked about, sampled or not.
    int listed = 0;
    quint64 totalSampledBytes = 0;
};

inline constexpr qint64 kSizeTestBudgetMs = 5000;

// Loads the paths in order, applies tasks (in their order; none may be null), saves each into
// sampleFolder in the output format (empty: the file's own) and adds up the sizes, deleting
// every sample again. Stops once budgetMs have passed after a sample, so at least one loadable
// file is measured. A file that cannot be loaded, saved or measured does not count. beforeSave
// hands each sample what the job asks of the encoder (its quality, lossless).
SizeEstimate MeasureOutputSizes(const QStringList &paths, const QList<CPixortaTask *> &tasks,
                                const QString &outputExtension, const QString &sampleFolder,
                                qint64 budgetMs = kSizeTestBudgetMs,
                                const std::function<void(PxImage &)> &beforeSave = {});
// The same with the resize alone (may be null).
SizeEstimate MeasureOutputSizes(const QStringList &paths, CPixortaTask *resize,
                                const QString &outputExtension, const QString &sampleFolder,
                                qint64 budgetMs = kSizeTestBudgetMs,
                                const std::function<void(PxImage &)> &beforeSave = {});
// Whether the Size test applies a task of that kind: Resize always, and Crop, Sharpen and
// Watermark when they are on, as they change a picture's size or how well it compresses. The
// colours, the background and the text are left out, as they always were.
bool SizeTestApplies(qint32 kind);

// The message the Size test shows for that estimate, naming the tabs whose tasks were applied
// (the resize alone when none are given).
QString SizeTestMessage(const SizeEstimate &estimate, const QString &outputExtension,
                        const QList<CPixortaTask *> &applied = {});

struct Job;
// A job with variants makes several files of every image: one estimate per variant, in their
// order, each with its own resize and format, sharing the time budget.
struct VariantSizeEstimate {
    QString label;
    QString extension;
    SizeEstimate estimate;
};
QList<VariantSizeEstimate> MeasureVariantSizes(const Job &job, const QStringList &paths,
                                               const QString &sampleFolder,
                                               qint64 budgetMs = kSizeTestBudgetMs);
// The message for them: each variant's file and all its files, then all files together.
QString VariantSizeTestMessage(const QList<VariantSizeEstimate> &estimates);
