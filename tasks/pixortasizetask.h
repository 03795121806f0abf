#pragma once
// The Resize record: scales an image by a percentage or to given pixel dimensions, keeping the
// aspect ratio when only one dimension is given.

#include "pixortatask.h"

class CPixortaSizeTask : public CPixortaTask {
public:
    enum Mode : qint32 { ModeNone = 0, ModePercentage = 1, ModeConstant = 2 };

    CPixortaSizeTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaSizeTask>(*this);
    }

    // Fails when the percentage is below 1, when a computed side is 0 or does not fit an int,
    // and when the engine cannot resample (a target beyond the memory cap, say); the image is
    // then untouched.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Resize to: " followed, in percentage mode, by the percentage and "%".
    QString GetDescription() const override;
    bool operator==(const CPixortaSizeTask &) const = default;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;
    void PredictSize(quint32 &width, quint32 &height) const override;

    // What a picture of w x h becomes: whether the resize fails, and the size it resamples to.
    struct Plan {
        bool fails = true;
        bool resample = false;
        qint32 width = 0, height = 0;
    };
    Plan PlanFor(double w, double h) const;

    qint32 m_mode{};
    qint32 m_percentage{};
    // 0 means "not specified".
    qint32 m_width{};
    qint32 m_height{};
};
