#include "placement.h"

namespace {

// 0 start, 1 middle, 2 end.
int Column(Placement where)
{
    switch (where) {
    case Placement::TopLeft:
    case Placement::Left:
    case Placement::BottomLeft:
        return 0;
    case Placement::TopRight:
    case Placement::Right:
    case Placement::BottomRight:
        return 2;
    default:
        return 1;
    }
}

int Row(Placement where)
{
    switch (where) {
    case Placement::TopLeft:
    case Placement::Top:
    case Placement::TopRight:
        return 0;
    case Placement::BottomLeft:
    case Placement::Bottom:
    case Placement::BottomRight:
        return 2;
    default:
        return 1;
    }
}

qint64 Place(int at, qint64 room, qint64 margin)
{
    return at == 0 ? margin : at == 1 ? room / 2 : room - margin;
}

} // namespace

const QStringList &PlacementWords()
{
    static const QStringList words = {"center", "top-left", "top", "top-right", "left",
                                      "right", "bottom-left", "bottom", "bottom-right"};
    return words;
}

QString PlacementCaption(Placement where)
{
    static const QStringList captions = {"Center", "Top left", "Top", "Top right", "Left",
                                         "Right", "Bottom left", "Bottom", "Bottom right"};
    return captions.value(qsizetype(where), captions.front());
}

qint64 PlaceAcross(Placement where, qint64 room, qint64 margin)
{
    return Place(Column(where), room, margin);
}

qint64 PlaceDown(Placement where, qint64 room, qint64 margin)
{
    return Place(Row(where), room, margin);
}
