#pragma once
// The list's thumbnails: the picture of a file fitted into the thumbnail cell, the store of
// fixed-size cells they live in, and the banner picture loader. pxconvert --thumbnail writes
// the very pixels MakeThumbnail gives, so what the list shows can be scripted and measured.

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QString>

class PxImage;

// The size of a picture shown inside a box: shrunk to fit with its aspect ratio kept (sides
// truncated, never below 1 pixel) when it is at least as wide or as high as the box, otherwise
// unchanged: a picture is never enlarged.
QSize FitInside(QSize picture, QSize box);

// A width x height cell (Format_RGB32) holding the file's picture fitted into it and centred on
// the background colour; transparent parts show the background. A null image when the path is
// missing, a folder or an empty file, or when the file cannot be decoded. A large JPEG is
// decoded at a reduced scale; a slideshow movie shows its first slide.
QImage MakeThumbnail(const QString &path, int width, int height, QRgb background = 0xFFFFFFFF);

// The same cell for a picture already in memory (the picture is changed on the way).
QImage MakeThumbnailOf(PxImage &picture, int width, int height, QRgb background = 0xFFFFFFFF);

// The main window's banner picture, with its alpha channel when the file has one; false (and
// a null bitmap) when it cannot be read.
bool LoadBannerPicture(const QString &path, QImage &bitmap);

// The thumbnails of one list, each in a cell of one fixed size, addressed by index. Cells are
// only appended or replaced in place, except that RemoveAll empties the store.
class CThumbnailStore {
public:
    explicit CThumbnailStore(QSize cellSize = QSize(92, 92)) : m_cellSize(cellSize) {}

    // The new cell's index, or -1 when the store refuses: it is full, the bitmap is not one
    // cell in size, or there is no memory for it.
    int Add(const QImage &bitmap);
    // False (and nothing changed) for an index the store does not hold or a refused bitmap.
    bool Replace(int index, const QImage &bitmap);
    void RemoveAll() { m_cells.clear(); }

    int Count() const { return static_cast<int>(m_cells.size()); }
    QSize CellSize() const { return m_cellSize; }
    // A null pixmap for an index the store does not hold.
    QPixmap Cell(int index) const;

    // The number of cells after which Add refuses (about 34 kB each at 92 x 92).
    static constexpr int kDefaultLimit = 20000;
    void SetLimit(int cells) { m_limit = cells; }
    int Limit() const { return m_limit; }

private:
    QPixmap ToCell(const QImage &bitmap) const;

    QSize m_cellSize;
    int m_limit = kDefaultLimit;
    QList<QPixmap> m_cells;
};
