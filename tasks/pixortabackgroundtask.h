#pragma once
// The Add-background record: puts the image on a larger canvas whose margins are percentages
// of the image width, filled with the background colour, with optional frame lines along the
// canvas edge and around the picture.

#include "pixortatask.h"

class CPixortaBackgroundTask : public CPixortaTask {
public:
    CPixortaBackgroundTask() : CPixortaTask(TaskAddBackground) {}

    // Fails, with the image untouched, when the canvas would be beyond what an image can hold.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Add background".
    QString GetDescription() const override;
    bool operator==(const CPixortaBackgroundTask &) const = default;
    TaskSettings SaveSettings() const override;
    bool LoadSettings(const TaskSettings &settings, QString *error) override;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;

    // Percent of the image width, the top and bottom margins too.
    qint32 m_left = 3;
    qint32 m_right = 3;
    qint32 m_top = 3;
    qint32 m_bottom = 3;
    // Bit 0 of each flag: the background (and with it every margin), the canvas frame and the
    // picture frame are drawn.
    TaskColour m_background{255, 255, 255, 0, 1};
    TaskColour m_frame{100, 100, 100, 0, 1};
    TaskColour m_imageFrame{0, 0, 0, 0, 1};
};
