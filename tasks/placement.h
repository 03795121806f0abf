#pragma once
// The nine places on a picture a task can put something at (the part a crop keeps, the
// watermark): the centre, the middles of the four edges and the four corners, named by the
// words job files and the command line write.

#include <QStringList>

enum class Placement : qint32 {
    Center,
    TopLeft,
    Top,
    TopRight,
    Left,
    Right,
    BottomLeft,
    Bottom,
    BottomRight
};

// "center", "top-left", "top", "top-right", "left", "right", "bottom-left", "bottom",
// "bottom-right": the order of the enum.
const QStringList &PlacementWords();
// How the panels show them: "Center", "Top left", ...
QString PlacementCaption(Placement where);

// Where a thing goes along one side of a picture: room is the side's length less the thing's
// (negative for a thing larger than the picture), margin what it keeps from the edge it goes
// to. margin from the left (top), room / 2 in the middle (the margin does not count there,
// and halves are truncated toward zero), room - margin from the right (bottom).
qint64 PlaceAcross(Placement where, qint64 room, qint64 margin);
qint64 PlaceDown(Placement where, qint64 room, qint64 margin);
