#include "pixortaimageviewerdlg.h"

#include "thumbnails.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QWidget>
#include <cstring>

// The image area: paints the whole of itself (black, then the fitted image) from one off-screen
// picture, so resizing never shows a half-drawn frame and no background erase is needed.
class CPixortaImageViewerDlg::Area : public QWidget {
public:
    explicit Area(CPixortaImageViewerDlg *viewer) : QWidget(viewer), m_viewer(viewer)
    {
        setObjectName(QStringLiteral("imageArea"));
        setAccessibleName(QStringLiteral("Image"));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawImage(0, 0, m_viewer->Render());
    }

private:
    CPixortaImageViewerDlg *m_viewer;
};

CPixortaImageViewerDlg::CPixortaImageViewerDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaImageViewerDlg"));
    setWindowTitle(QStringLiteral("Pixorta image viewer"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    m_area = new Area(this);
    resize(680, 400);
}

CPixortaImageViewerDlg::~CPixortaImageViewerDlg() = default;

QWidget *CPixortaImageViewerDlg::ImageArea() const
{
    return m_area;
}

void CPixortaImageViewerDlg::SetImage(const PxImage &image)
{
    m_image.Copy(image);
    if (m_area)
        m_area->update();
}

QRect CPixortaImageViewerDlg::FitRect(QSize image, const QRect &area)
{
    const QSize size = FitInside(image, area.size());
    return QRect(area.left() + (area.width() - size.width()) / 2,
                 area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
}

QImage CPixortaImageViewerDlg::Render()
{
    QImage buffer(m_area->size(), QImage::Format_RGB32);
    if (buffer.isNull())
        return buffer;
    buffer.fill(Qt::black);
    const QRect area(QPoint(0, 0), m_area->size());
    if (!m_image.IsValid() || area.isEmpty())
        return buffer;
    const QRect target = FitRect(
        QSize(static_cast<int>(m_image.GetWidth()), static_cast<int>(m_image.GetHeight())), area);
    if (target.isEmpty())
        return buffer;
    QPainter painter(&buffer);
    m_image.Draw(painter, target.x(), target.y(), target.width(), target.height());
    return buffer;
}

void CPixortaImageViewerDlg::CopyToClipboard() const
{
    if (!m_image.IsValid())
        return;
    const std::string block = m_image.CopyToHandle();
    // A BMP file is the same block behind its 14-byte file header.
    QByteArray bmp(14, '\0');
    const auto put32 = [&bmp](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, static_cast<uint32_t>(14 + block.size()));
    put32(10, 14 + 40 + m_image.GetPaletteSize());
    bmp.append(block.data(), static_cast<qsizetype>(block.size()));

    auto *data = new QMimeData;
    data->setImageData(m_image.MakeBitmap());
    data->setData(QStringLiteral("image/bmp"), bmp);
    QGuiApplication::clipboard()->setMimeData(data);
}

void CPixortaImageViewerDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_C && (event->modifiers() & Qt::ControlModifier)) {
        CopyToClipboard();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CPixortaImageViewerDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_area) {
        m_area->setGeometry(rect());
        m_area->update();
    }
}
