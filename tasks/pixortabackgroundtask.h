#pragma once
// The Add-background record: puts the image on a larger canvas whose margins are percentages
// of the image width, filled with the background colour, with optional frame lines along the
// canvas edge and around the picture.

#include "pixortatask.h"

#include <optional>

class CPixortaBackgroundTask : public CPixortaTask {
public:
    CPixortaBackgroundTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaBackgroundTask>(*this);
    }

    // Fails, with the image untouched, when the canvas would be beyond what an image can hold.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Add background".
    QString GetDescription() const override;
    bool operator==(const CPixortaBackgroundTask &) const = default;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;
    void PredictSize(quint32 &width, quint32 &height) const override;
    // The canvas a picture of w x h is put on and where the picture goes; none when it would
    // be beyond what an image can hold.
    struct Canvas {
        qint64 width, height, x, y;
    };
    std::optional<Canvas> CanvasFor(double w, double h) const;

    // Percent of the image width, the top and bottom margins too.
    qint32 m_left{};
    qint32 m_right{};
    qint32 m_top{};
    qint32 m_bottom{};
    // Bit 0 of each flag: the background (and with it every margin), the canvas frame and the
    // picture frame are drawn.
    TaskColour m_background;
    TaskColour m_frame;
    TaskColour m_imageFrame;
};
