#pragma once
// The Watermark record: lays a picture read from a file (a PNG with transparency, or any format
// the engine reads) over every picture at one of nine places, a margin away from the edges,
// scaled to a share of the picture's width with its proportions kept, at an opacity.

#include "pixortatask.h"
#include "placement.h"

#include <memory>

class WatermarkMarks;

// Why a batch cannot begin with file for its watermark ("" when it can): none given, nothing
// there, or a folder. Whether it holds a picture is left to the batch.
QString WatermarkFileProblem(const QString &file);

class CPixortaWatermarkTask : public CPixortaTask {
public:
    CPixortaWatermarkTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    // The copy shares the marks read so far: the variants of a batch read a file once too.
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaWatermarkTask>(*this);
    }

    // The mark's file is read by the first Apply of the record (or of a copy), whichever
    // thread that runs on; every other waits for that read and uses what it gave. A file that
    // cannot be read fails the task on every picture, each time with the reason. The picture
    // comes out true colour.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Watermark".
    QString GetDescription() const override;
    // The settings; not the marks read.
    bool operator==(const CPixortaWatermarkTask &other) const;
    // Fails when the file is not there; the file is not read.
    // A value out of its range, a file that is not there.
    QString StartProblem() const override;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;

    // Where a mark of markWidth x markHeight goes on a picture of width x height, from its
    // top-left corner, and the size it is scaled to (at least a pixel each way).
    struct Spot {
        qint64 left = 0, top = 0, width = 0, height = 0;
    };
    Spot SpotFor(quint32 width, quint32 height, quint32 markWidth, quint32 markHeight) const;

    QString m_file;
    Placement m_position{};
    // Percent of the picture's width: the mark's width and its distance from the edges.
    qint32 m_size{};
    qint32 m_margin{};
    // Percent of the mark's own alpha.
    qint32 m_opacity{};

private:
    std::shared_ptr<WatermarkMarks> m_marks;
};
