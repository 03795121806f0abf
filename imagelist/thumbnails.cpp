#include "thumbnails.h"

#include "imageio/imagefile.h"
#include "core/paths.h"
#include "media/moviedecoder.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// One opaque 24-bit picture: alpha and transparent colours are blended onto the background
// by the engine's own drawing rule, before any shrinking, so that no edge takes the colour
// hidden under a transparent pixel.
bool Flatten(PxImage &picture, QRgb background)
{
    const bool seeThrough = picture.GetTransIndex() >= 0 || picture.AlphaIsValid() ||
                             picture.AlphaPaletteIsEnabled();
    if (picture.GetBpp() == 24 && !seeThrough)
        return true;
    if (!seeThrough)
        return picture.IncreaseBpp(24);
    QImage canvas(static_cast<int>(picture.GetWidth()), static_cast<int>(picture.GetHeight()),
                  QImage::Format_RGB32);
    if (canvas.isNull())
        return false;
    canvas.fill(background);
    {
        QPainter painter(&canvas);
        picture.Draw(painter, 0, 0);
    }
    return picture.CreateFromHBITMAP(canvas);
}

} // namespace

QSize FitInside(QSize picture, QSize box)
{
    if (picture.width() < box.width() && picture.height() < box.height())
        return picture;
    if (box.width() <= 0 || box.height() <= 0)
        return QSize(0, 0);
    const double f = std::max(static_cast<double>(picture.width()) / box.width(),
                              static_cast<double>(picture.height()) / box.height());
    const auto side = [f](int v) {
        return static_cast<int>(std::max(1.0, std::trunc(v * (1 / f))));
    };
    return QSize(side(picture.width()), side(picture.height()));
}

QImage MakeThumbnailOf(PxImage &picture, int width, int height, QRgb background)
{
    if (!picture.IsValid() || width <= 0 || height <= 0 || !Flatten(picture, background))
        return QImage();
    const QSize fitted = FitInside(
        QSize(static_cast<int>(picture.GetWidth()), static_cast<int>(picture.GetHeight())),
        QSize(width, height));
    if (static_cast<uint32_t>(fitted.width()) != picture.GetWidth() ||
        static_cast<uint32_t>(fitted.height()) != picture.GetHeight()) {
        if (!picture.Resample(fitted.width(), fitted.height(), 0))
            return QImage();
    }
    QImage cell(width, height, QImage::Format_RGB32);
    if (cell.isNull())
        return cell;
    cell.fill(background);
    const int left = (width - fitted.width()) / 2;
    const int top = (height - fitted.height()) / 2;
    for (int y = 0; y < fitted.height(); ++y) {
        // Engine rows are stored bottom-up.
        const uint8_t *in = picture.GetBits(static_cast<uint32_t>(fitted.height() - 1 - y));
        auto *out = reinterpret_cast<QRgb *>(cell.scanLine(top + y)) + left;
        for (int x = 0; x < fitted.width(); ++x, in += 3)
            out[x] = qRgb(in[2], in[1], in[0]);
    }
    return cell;
}

QImage MakeThumbnail(const QString &path, int width, int height, QRgb background)
{
    // Missing paths, folders and empty files have no picture; nothing else is refused early.
    if (QueryFileSize(path, true) <= 0)
        return QImage();
    PxImage picture;
    // A slideshow movie shows its first slide.
    if (IsMovieFile(path)) {
        const QImage slide = ReadFirstSlide(path);
        if (slide.isNull() || !picture.CreateFromHBITMAP(slide))
            return QImage();
        return MakeThumbnailOf(picture, width, height, background);
    }
    picture.SetDecodeFitBox(static_cast<uint32_t>(std::max(width, 1)),
                            static_cast<uint32_t>(std::max(height, 1)));
    if (!LoadImageFile(picture, path))
        return QImage();
    return MakeThumbnailOf(picture, width, height, background);
}

bool LoadBannerPicture(const QString &path, QImage &bitmap)
{
    bitmap = QImage();
    return bitmap.load(path, "PNG");
}

QPixmap CThumbnailStore::ToCell(const QImage &bitmap) const
{
    if (bitmap.size() != m_cellSize)
        return QPixmap();
    return QPixmap::fromImage(bitmap);
}

int CThumbnailStore::Add(const QImage &bitmap)
{
    if (m_cells.size() >= m_limit)
        return -1;
    const QPixmap cell = ToCell(bitmap);
    if (cell.isNull())
        return -1;
    m_cells.append(cell);
    return static_cast<int>(m_cells.size() - 1);
}

bool CThumbnailStore::Replace(int index, const QImage &bitmap)
{
    if (index < 0 || index >= m_cells.size())
        return false;
    const QPixmap cell = ToCell(bitmap);
    if (cell.isNull())
        return false;
    m_cells[index] = cell;
    return true;
}

QPixmap CThumbnailStore::Cell(int index) const
{
    if (index < 0 || index >= m_cells.size())
        return QPixmap();
    return m_cells[index];
}
