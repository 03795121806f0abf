#pragma once
// The Sharpen record: an unsharp mask over every picture, by an amount in percent, the radius of
// its blur in pixels and a threshold in levels below which a difference is left alone.

#include "pixortatask.h"

class CPixortaSharpenTask : public CPixortaTask {
public:
    CPixortaSharpenTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaSharpenTask>(*this);
    }

    // The picture comes out true colour; its alpha stays. Fails only when the engine cannot
    // make the picture true colour.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Sharpen".
    QString GetDescription() const override;
    bool operator==(const CPixortaSharpenTask &) const = default;
    // A value out of its range.
    QString StartProblem() const override;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;

    // Percent of each difference from the blurred picture that is added.
    qint32 m_amount{};
    // Tenths of a pixel: the blur's standard deviation.
    qint32 m_radius{};
    // Levels (0 to 255) a difference must exceed to be sharpened.
    qint32 m_threshold{};
};
