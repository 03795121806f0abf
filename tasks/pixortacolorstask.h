#pragma once
// The Change-colors record: grey scale, then light and contrast, then shifts of the red, green
// and blue channels. 100 is the neutral value of every adjustment.

#include "pixortatask.h"

class CPixortaColorsTask : public CPixortaTask {
public:
    CPixortaColorsTask() : CPixortaTask(TaskChangeColors) {}

    // Leaves the flag set only when something was asked for. Alpha is never touched. Fails
    // (the image then as far as it got) only when the engine cannot convert the image.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Change colors".
    QString GetDescription() const override;
    bool operator==(const CPixortaColorsTask &) const = default;
    TaskSettings SaveSettings() const override;
    bool LoadSettings(const TaskSettings &settings, QString *error) override;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;

    qint32 m_light = 100;
    qint32 m_contrast = 100;
    qint32 m_red = 100;
    qint32 m_green = 100;
    qint32 m_blue = 100;
    // 0 or 1.
    qint32 m_grayScale = 0;
};
