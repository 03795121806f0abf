#include "sizetest.h"

#include "imageio/imagefile.h"
#include "core/paths.h"
#include "batch/targets.h"
#include "engine/pximage.h"
#include "tasks/pixortatask.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <vector>

QString FormatFixed(double value, int decimals)
{
    decimals = std::clamp(decimals, 0, 255);
    // snprintf, not QString::number: the figure follows the user's locale, as the rest of the
    // C library output does after start-up set it.
    const int needed = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    if (needed <= 0)
        return QString();
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    return QString::fromLocal8Bit(text.data());
}

QString GroupDigits(const QString &digits, int groupLength, const QString &separator)
{
    if (groupLength <= 0 || digits.size() <= groupLength)
        return digits;
    QString result;
    int counted = 0;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        result.prepend(digits[i]);
        if (++counted % groupLength == 0 && i > 0)
            result.prepend(separator);
    }
    return result;
}

QString FormatSize(double bytes, bool withExactBytes)
{
    constexpr double kKB = 1024.0, kMB = 1048576.0, kGB = 1073741824.0;
    QString text;
    if (bytes < kKB)
        return FormatFixed(bytes, 1) + QStringLiteral(" B");
    if (bytes < kMB)
        text = FormatFixed(bytes / kKB, 1) + QStringLiteral(" KB");
    else if (bytes < kGB)
        text = FormatFixed(bytes / kMB, 1) + QStringLiteral(" MB");
    else
        text = FormatFixed(bytes / kGB, 1) + QStringLiteral(" GB");
    if (withExactBytes)
        text += QStringLiteral(" (") + GroupDigits(FormatFixed(bytes, 0), 3, QStringLiteral(" ")) +
                QStringLiteral(" B)");
    return text;
}

bool SizeTestApplies(qint32 kind)
{
    return kind == TaskResize || kind == TaskCrop || kind == TaskSharpen || kind == TaskWatermark;
}

SizeEstimate MeasureOutputSizes(const QStringList &paths, CPixortaTask *resize,
                                const QString &outputExtension, const QString &sampleFolder,
                                qint64 budgetMs, const std::function<void(PxImage &)> &beforeSave)
{
    QList<CPixortaTask *> tasks;
    if (resize)
        tasks << resize;
    return MeasureOutputSizes(paths, tasks, outputExtension, sampleFolder, budgetMs, beforeSave);
}

SizeEstimate MeasureOutputSizes(const QStringList &paths, const QList<CPixortaTask *> &tasks,
                                const QString &outputExtension, const QString &sampleFolder,
                                qint64 budgetMs, const std::function<void(PxImage &)> &beforeSave)
{
    SizeEstimate estimate;
    estimate.listed = static_cast<int>(paths.size());
    // Samples go only into a private folder: a guessable name in a shared one could be a link
    // planted by someone else.
    if (sampleFolder.isEmpty())
        return estimate;
    QElapsedTimer clock;
    clock.start();
    for (const QString &path : paths) {
        PxImage image;
        if (!LoadImageFile(image, path))
            continue;
        const QString extension =
            outputExtension.isEmpty() ? GetFileExtension(path) : outputExtension;
        const QString sample =
            MakeUniquePath(sampleFolder, GetFileBaseName(path), extension, true);
        if (!sample.isEmpty()) {
            for (CPixortaTask *task : tasks) {
                bool modified = false;
                task->Apply(image, modified, path);
            }
            if (beforeSave)
                beforeSave(image);
            // A format that cannot be written (a cursor kept as it is) leaves no file to
            // measure, and does not count.
            const bool saved = SaveImageFile(image, sample);
            const qint64 size = saved ? QueryFileSize(sample, true) : -1;
            if (size >= 0) {
                ++estimate.sampled;
                estimate.totalSampledBytes += static_cast<quint64>(size);
            }
            QFile::remove(sample);
        }
        if (clock.elapsed() > budgetMs)
            break;
    }
    return estimate;
}

QString SizeTestMessage(const SizeEstimate &estimate, const QString &outputExtension,
                        const QList<CPixortaTask *> &applied)
{
    if (estimate.sampled == 0)
        return QStringLiteral("None of the images could be loaded and saved in the chosen "
                              "format, so their size cannot be estimated.");
    const double average = static_cast<double>(estimate.totalSampledBytes) / estimate.sampled;
    const double total = average * estimate.listed;
    QStringList tabs;
    for (const CPixortaTask *task : applied)
        tabs << u'"' + TaskKindName(task->Kind()).toLower() + u'"';
    if (tabs.isEmpty())
        tabs << QStringLiteral("\"resize\"");
    QString text = QStringLiteral("Considering the ") +
                   (tabs.size() == 1 ? tabs.front() + QStringLiteral(" tab")
                                     : tabs.mid(0, tabs.size() - 1).join(QStringLiteral(", ")) +
                                           QStringLiteral(" and ") + tabs.back() +
                                           QStringLiteral(" tabs")) +
                   QStringLiteral(" and output format: ");
    if (!outputExtension.isEmpty())
        text += u'(' + outputExtension + QStringLiteral(") ");
    text += QStringLiteral("\r\n\r\nOne file will take approximately ") + FormatSize(average, false);
    text += QStringLiteral("\r\nAll the files will take approximately ") + FormatSize(total, false);
    text += QStringLiteral("\r\n\r\nCalculations based on first ") +
            QString::number(estimate.sampled) + QStringLiteral(" file(s)");
    return text;
}

QList<VariantSizeEstimate> MeasureVariantSizes(const Job &job, const QStringList &paths,
                                               const QString &sampleFolder, qint64 budgetMs)
{
    QList<VariantSizeEstimate> estimates;
    const QList<BatchOutput> outputs = BatchOutputsOf(job);
    for (const BatchOutput &output : outputs) {
        QList<CPixortaTask *> tasks;
        for (CPixortaTask *task : output.tasks)
            if (SizeTestApplies(task->Kind()))
                tasks << task;
        const Job &encoding = output.job;
        estimates.append({output.label, output.job.format,
                          MeasureOutputSizes(paths, tasks, output.job.format, sampleFolder,
                                             budgetMs / std::max<qint64>(1, outputs.size()),
                                             [&encoding](PxImage &image) {
                                                 encoding.PrepareForSave(image);
                                             })});
    }
    return estimates;
}

QString VariantSizeTestMessage(const QList<VariantSizeEstimate> &estimates)
{
    QString text = QStringLiteral("Considering the \"resize\" tab, output format and variants of the job:");
    double all = 0;
    bool any = false;
    for (const VariantSizeEstimate &v : estimates) {
        text += QStringLiteral("\r\n\r\nVariant ") + v.label;
        if (!v.extension.isEmpty())
            text += QStringLiteral(" (") + v.extension + u')';
        if (v.estimate.sampled == 0) {
            text += QStringLiteral(": none of the images could be loaded and saved in its format");
            continue;
        }
        const double average = double(v.estimate.totalSampledBytes) / v.estimate.sampled;
        all += average * v.estimate.listed;
        any = true;
        text += QStringLiteral(": one file will take approximately ") + FormatSize(average, false) +
                QStringLiteral(", all its files approximately ") +
                FormatSize(average * v.estimate.listed, false) +
                QStringLiteral(" (based on first ") + QString::number(v.estimate.sampled) +
                QStringLiteral(" file(s))");
    }
    if (any)
        text += QStringLiteral("\r\n\r\nAll the files will take approximately ") + FormatSize(all, false);
    return text;
}
