#pragma once
// The Change-colors record: grey scale, then light and contrast, then shifts of the red, green
// and blue channels. 100 is the neutral value of every adjustment.

#include "pixortatask.h"

class CPixortaColorsTask : public CPixortaTask {
public:
    CPixortaColorsTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaColorsTask>(*this);
    }

    // Leaves the flag set only when something was asked for. Alpha is never touched. Fails
    // (the image then as far as it got) only when the engine cannot convert the image.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Change colors".
    QString GetDescription() const override;
    bool operator==(const CPixortaColorsTask &) const = default;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;

    qint32 m_light{};
    qint32 m_contrast{};
    qint32 m_red{};
    qint32 m_green{};
    qint32 m_blue{};
    // 0 or 1.
    qint32 m_grayScale{};
};
