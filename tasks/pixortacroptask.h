#pragma once
// The Crop record: keeps a part of every picture, chosen one of three ways: the largest part of
// an aspect ratio (turned to the picture's orientation when asked) at one of nine places, a
// rectangle in pixels from the top-left corner, or what margins in percent of each side leave.

#include "pixortatask.h"
#include "placement.h"

#include <optional>

class CPixortaCropTask : public CPixortaTask {
public:
    // The order of the words a job file writes: "aspect", "rectangle", "margins".
    enum class Mode : qint32 { Aspect, Rectangle, Margins };

    CPixortaCropTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaCropTask>(*this);
    }

    // Fails, with the picture as it was, when the part kept would be less than a pixel or the
    // rectangle misses the picture. A part that is the whole picture leaves it unchanged.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Crop".
    QString GetDescription() const override;
    bool operator==(const CPixortaCropTask &) const = default;
    // A value out of its range.
    QString StartProblem() const override;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;
    void PredictSize(quint32 &width, quint32 &height) const override;

    // The part of a picture of width x height that is kept, from its top-left corner.
    struct Part {
        qint64 left = 0, top = 0, width = 0, height = 0;
        bool operator==(const Part &) const = default;
    };
    // The part kept, or why there is none ("" when there is one).
    std::optional<Part> PartOf(quint32 width, quint32 height, QString *why = nullptr) const;

    Mode m_mode{};
    // The ratio width : height.
    qint32 m_aspectWidth{};
    qint32 m_aspectHeight{};
    // A landscape ratio on a portrait picture is turned, and the other way round.
    bool m_matchOrientation{};
    Placement m_anchor{};
    // The rectangle, in pixels from the top-left corner.
    qint32 m_x{};
    qint32 m_y{};
    qint32 m_width{};
    qint32 m_height{};
    // Percent of the picture's width (left, right) or height (top, bottom).
    qint32 m_marginLeft{};
    qint32 m_marginTop{};
    qint32 m_marginRight{};
    qint32 m_marginBottom{};
};
